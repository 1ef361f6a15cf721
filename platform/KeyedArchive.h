#pragma once
// Fonts and colours stored the way the preset files have always held them:
// keyed archives, binary property lists with "$archiver" "NSKeyedArchiver",
// "$version" 100000, "$top" {"root": UID} and the object table "$objects".
// A font is kept by PostScript name and point size, a colour by its RGBA
// components. Reading refuses anything else (empty result), so a damaged or
// foreign archive counts as no value at all.

#include "platform/Color.h"
#include "platform/PropertyList.h"

#include <optional>
#include <string>

namespace plat {

class KeyedArchive {
public:
    struct FontDescription {
        std::string postScriptName;
        double size = 0.0;
    };

    static std::optional<PlistValue::Data> archiveFont(const FontDescription& font);
    static std::optional<FontDescription> unarchiveFont(const PlistValue::Data& data);

    static std::optional<PlistValue::Data> archiveColor(const Color& color);
    static std::optional<Color> unarchiveColor(const PlistValue::Data& data);
};

}  // namespace plat
