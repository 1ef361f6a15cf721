#pragma once
// A settings file: one property-list dictionary, read and written whole. The
// rule every settings file of ours follows (the optimiser's defaults and the
// application's preference and preset files alike): a file we cannot read is
// kept aside, never replaced unseen, and nothing is written through or over
// something that is not a plain file.

#include "platform/PropertyList.h"

#include <filesystem>
#include <optional>
#include <system_error>

namespace plat {

class SettingsFile {
public:
    // The dictionary in the file; none when nothing readable is there: no
    // file, something else than a regular file (never waited on), or a list
    // that is broken, beyond the property-list limits or no dictionary.
    static std::optional<PlistValue::Dictionary> read(const std::filesystem::path& path);

    // Writes `dictionary` as the whole file, atomically, in XML. Refused
    // (false, the file as it was) when a non-regular file is under the name
    // (a FIFO, a device, a folder, a link that leads nowhere or to one of
    // those), or when the dictionary makes a list the reader would refuse. A
    // regular file that read() cannot take is first moved to
    // "<name>.unreadable" (".unreadable.1", ".2", ... when that is taken; an
    // earlier kept copy is never replaced).
    static bool write(const std::filesystem::path& path, const PlistValue::Dictionary& dictionary,
                      std::error_code* error = nullptr);
};

}  // namespace plat
