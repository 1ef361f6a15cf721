#include "platform/Font.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <tuple>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_OUTLINE_H
#include FT_BBOX_H

namespace plat {

// --- Text decoding -----------------------------------------------------------

std::u32string CodePointsFromUTF8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int length = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if ((c & 0xE0) == 0xC0) {
            length = 2, cp = c & 0x1F, minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, cp = c & 0x0F, minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, cp = c & 0x07, minimum = 0x10000;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        int taken = 1;
        bool valid = true;
        for (; taken < length; ++taken) {
            if (i + taken >= n || (p[i + taken] & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (p[i + taken] & 0x3F);
        }
        if (!valid || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            i += std::max(taken, 1);
            continue;
        }
        out.push_back(cp);
        i += length;
    }
    return out;
}

std::u32string CodePointsFromUTF16(std::u16string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back(0xFFFD);
        } else {
            out.push_back(u);
        }
    }
    return out;
}

// --- The face ----------------------------------------------------------------

struct Font::Impl {
    ~Impl() {
        if (cairoFace != nullptr) {
            cairo_font_face_destroy(cairoFace);
        }
        if (face != nullptr) {
            FT_Done_Face(face);
        }
        if (library != nullptr) {
            FT_Done_FreeType(library);
        }
    }

    std::string postScriptName;
    std::string familyName;
    std::string styleName;
    std::filesystem::path filePath;
    int unitsPerEm = 0;
    int ascender = 0;
    int descender = 0;
    // cairo draws with a FreeType face of its own; this one answers glyph and
    // metric queries, one thread at a time (FreeType faces are not
    // thread-safe, and cairo does not hold its lock across calls).
    std::mutex mutex;
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    cairo_font_face_t* cairoFace = nullptr;
};

namespace {

struct FaceLocation {
    std::string file;
    int index = 0;
};

std::optional<FaceLocation> locationOf(FcPattern* pattern) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(pattern, FC_FILE, 0, &file) != FcResultMatch || file == nullptr) {
        return std::nullopt;
    }
    int index = 0;
    if (FcPatternGetInteger(pattern, FC_INDEX, 0, &index) != FcResultMatch) {
        index = 0;
    }
    return FaceLocation{reinterpret_cast<const char*>(file), index};
}

std::unique_ptr<Font::Impl> openFace(const FaceLocation& location) {
    auto impl = std::make_unique<Font::Impl>();
    if (FT_Init_FreeType(&impl->library) != 0) {
        impl->library = nullptr;
        return nullptr;
    }
    if (FT_New_Face(impl->library, location.file.c_str(), location.index, &impl->face) != 0) {
        impl->face = nullptr;
        return nullptr;
    }
    FT_Face face = impl->face;
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
        return nullptr;
    }
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    const char* ps = FT_Get_Postscript_Name(face);
    impl->postScriptName = ps != nullptr ? ps : "";
    impl->familyName = face->family_name != nullptr ? face->family_name : "";
    impl->styleName = face->style_name != nullptr ? face->style_name : "";
    impl->filePath = location.file;
    impl->unitsPerEm = face->units_per_EM;
    impl->ascender = face->ascender;
    impl->descender = face->descender;

    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) {
        return nullptr;
    }
    FcPatternAddString(pattern, FC_FILE, reinterpret_cast<const FcChar8*>(location.file.c_str()));
    FcPatternAddInteger(pattern, FC_INDEX, location.index);
    impl->cairoFace = cairo_ft_font_face_create_for_pattern(pattern);
    FcPatternDestroy(pattern);
    if (cairo_font_face_status(impl->cairoFace) != CAIRO_STATUS_SUCCESS) {
        return nullptr;
    }
    return impl;
}

using PatternPtr = std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)>;
using FontSetPtr = std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)>;
using ObjectSetPtr = std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)>;

PatternPtr newPattern() { return PatternPtr(FcPatternCreate(), &FcPatternDestroy); }

const FcChar8* fc(const std::string& s) { return reinterpret_cast<const FcChar8*>(s.c_str()); }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Faces listed for a pattern, in fontconfig's order.
std::vector<FaceLocation> listFaces(FcPattern* pattern) {
    std::vector<FaceLocation> result;
    ObjectSetPtr objects(FcObjectSetBuild(FC_FILE, FC_INDEX, FC_SCALABLE, nullptr),
                         &FcObjectSetDestroy);
    if (!objects) {
        return result;
    }
    FontSetPtr set(FcFontList(nullptr, pattern, objects.get()), &FcFontSetDestroy);
    if (!set) {
        return result;
    }
    for (int i = 0; i < set->nfont; ++i) {
        FcBool scalable = FcTrue;
        if (FcPatternGetBool(set->fonts[i], FC_SCALABLE, 0, &scalable) == FcResultMatch &&
            !scalable) {
            continue;
        }
        if (auto location = locationOf(set->fonts[i])) {
            result.push_back(*location);
        }
    }
    // Stable choice among duplicates installed in several places.
    std::sort(result.begin(), result.end(), [](const FaceLocation& x, const FaceLocation& y) {
        return std::tie(x.file, x.index) < std::tie(y.file, y.index);
    });
    return result;
}

std::optional<FaceLocation> matchFace(FcPattern* pattern) {
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    PatternPtr match(FcFontMatch(nullptr, pattern, &result), &FcPatternDestroy);
    if (!match || result != FcResultMatch) {
        return std::nullopt;
    }
    return locationOf(match.get());
}

// "Helvetica-BoldOblique" → family "Helvetica" with bold weight and oblique
// slant, which is what fontconfig can substitute from.
PatternPtr substitutePatternFor(std::string_view postScriptName) {
    PatternPtr pattern = newPattern();
    std::string name(postScriptName);
    const auto dash = name.find('-');
    const std::string family = name.substr(0, dash);
    const std::string style = dash == std::string::npos ? std::string() : name.substr(dash + 1);
    FcPatternAddString(pattern.get(), FC_FAMILY, fc(family));
    FcPatternAddString(pattern.get(), FC_POSTSCRIPT_NAME, fc(name));
    auto contains = [&](const char* word) {
        std::string lower = style;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        return lower.find(word) != std::string::npos;
    };
    if (contains("bold") || contains("black") || contains("heavy")) {
        FcPatternAddInteger(pattern.get(), FC_WEIGHT, FC_WEIGHT_BOLD);
    }
    if (contains("italic")) {
        FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ITALIC);
    } else if (contains("oblique")) {
        FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_OBLIQUE);
    }
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    return pattern;
}

std::mutex& cacheMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, FontRef>& cache() {
    static std::map<std::string, FontRef> c;
    return c;
}

template <typename Make>
FontRef cached(const std::string& key, Make make) {
    {
        std::lock_guard lock(cacheMutex());
        auto it = cache().find(key);
        if (it != cache().end()) {
            return it->second;
        }
    }
    // Misses are kept too: an unknown name in a preset is asked for on every
    // conversion.
    FontRef font = make();
    {
        std::lock_guard lock(cacheMutex());
        // Bounded: names come from user settings and presets.
        if (cache().size() > 256) {
            cache().clear();
        }
        cache().emplace(key, font);
    }
    return font;
}

}  // namespace

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Font::~Font() = default;

FontRef Font::fontWithExactName(std::string_view postScriptName) {
    if (postScriptName.empty()) {
        return nullptr;
    }
    const std::string name(postScriptName);
    return cached("exact:" + name, [&]() -> FontRef {
        PatternPtr pattern = newPattern();
        FcPatternAddString(pattern.get(), FC_POSTSCRIPT_NAME, fc(name));
        for (const FaceLocation& location : listFaces(pattern.get())) {
            if (auto impl = openFace(location); impl && impl->postScriptName == name) {
                return FontRef(new Font(std::move(impl)));
            }
        }
        return nullptr;
    });
}

FontRef Font::defaultFont() {
    return cached("default", []() -> FontRef {
        for (const char* family : {"DejaVu Sans", "sans-serif"}) {
            PatternPtr pattern = newPattern();
            FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
            FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
            if (auto location = matchFace(pattern.get())) {
                if (auto impl = openFace(*location)) {
                    return FontRef(new Font(std::move(impl)));
                }
            }
        }
        return nullptr;
    });
}

FontRef Font::fontWithName(std::string_view postScriptName) {
    if (FontRef exact = fontWithExactName(postScriptName)) {
        return exact;
    }
    if (!postScriptName.empty()) {
        const std::string name(postScriptName);
        FontRef substitute = cached("substitute:" + name, [&]() -> FontRef {
            PatternPtr pattern = substitutePatternFor(name);
            if (auto location = matchFace(pattern.get())) {
                if (auto impl = openFace(*location)) {
                    return FontRef(new Font(std::move(impl)));
                }
            }
            return nullptr;
        });
        if (substitute) {
            return substitute;
        }
    }
    return defaultFont();
}

FontRef Font::fontWithFamily(std::string_view family, std::string_view style) {
    if (family.empty()) {
        return nullptr;
    }
    const std::string familyName(family);
    const std::string styleName(style);
    return cached("family:" + familyName + "\n" + styleName, [&]() -> FontRef {
        PatternPtr pattern = newPattern();
        FcPatternAddString(pattern.get(), FC_FAMILY, fc(familyName));
        if (!styleName.empty()) {
            FcPatternAddString(pattern.get(), FC_STYLE, fc(styleName));
        }
        FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
        FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
        FcDefaultSubstitute(pattern.get());
        FcResult result = FcResultNoMatch;
        PatternPtr match(FcFontMatch(nullptr, pattern.get(), &result), &FcPatternDestroy);
        if (!match || result != FcResultMatch) {
            return nullptr;
        }
        // fontconfig always matches something; only the family asked for counts.
        bool sameFamily = false;
        FcChar8* value = nullptr;
        for (int i = 0; FcPatternGetString(match.get(), FC_FAMILY, i, &value) == FcResultMatch; ++i) {
            if (equalsIgnoringCase(reinterpret_cast<const char*>(value), familyName)) {
                sameFamily = true;
                break;
            }
        }
        if (!sameFamily) {
            return nullptr;
        }
        if (auto location = locationOf(match.get())) {
            if (auto impl = openFace(*location)) {
                return FontRef(new Font(std::move(impl)));
            }
        }
        return nullptr;
    });
}

std::vector<std::string> Font::familyNames() {
    std::vector<std::string> names;
    PatternPtr pattern = newPattern();
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    ObjectSetPtr objects(FcObjectSetBuild(FC_FAMILY, nullptr), &FcObjectSetDestroy);
    if (!objects) {
        return names;
    }
    FontSetPtr set(FcFontList(nullptr, pattern.get(), objects.get()), &FcFontSetDestroy);
    if (!set) {
        return names;
    }
    for (int i = 0; i < set->nfont; ++i) {
        FcChar8* value = nullptr;
        if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &value) == FcResultMatch && value) {
            names.emplace_back(reinterpret_cast<const char*>(value));
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::vector<Font::FamilyMember> Font::familyMembers(std::string_view family) {
    std::vector<FamilyMember> members;
    if (family.empty()) return members;
    PatternPtr pattern = newPattern();
    FcPatternAddString(pattern.get(), FC_FAMILY, fc(std::string(family)));
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    ObjectSetPtr objects(FcObjectSetBuild(FC_POSTSCRIPT_NAME, FC_STYLE, FC_WEIGHT, FC_SLANT, FC_WIDTH, nullptr),
                         &FcObjectSetDestroy);
    if (!objects) return members;
    FontSetPtr set(FcFontList(nullptr, pattern.get(), objects.get()), &FcFontSetDestroy);
    if (!set) return members;
    struct Entry {
        int width, weight, slant;
        FamilyMember member;
    };
    std::vector<Entry> entries;
    for (int i = 0; i < set->nfont; ++i) {
        FcChar8* name = nullptr;
        FcChar8* style = nullptr;
        if (FcPatternGetString(set->fonts[i], FC_POSTSCRIPT_NAME, 0, &name) != FcResultMatch || !name) continue;
        FcPatternGetString(set->fonts[i], FC_STYLE, 0, &style);
        Entry entry{FC_WIDTH_NORMAL, FC_WEIGHT_REGULAR, FC_SLANT_ROMAN, {}};
        FcPatternGetInteger(set->fonts[i], FC_WIDTH, 0, &entry.width);
        FcPatternGetInteger(set->fonts[i], FC_WEIGHT, 0, &entry.weight);
        FcPatternGetInteger(set->fonts[i], FC_SLANT, 0, &entry.slant);
        entry.member.postScriptName = reinterpret_cast<const char*>(name);
        entry.member.styleName = style ? reinterpret_cast<const char*>(style) : "Regular";
        entries.push_back(std::move(entry));
    }
    // fontconfig lists in no useful order: normal widths first, then by
    // weight and slant, so the regular face leads.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int aw = std::abs(a.width - FC_WIDTH_NORMAL), bw = std::abs(b.width - FC_WIDTH_NORMAL);
        return std::tie(aw, a.width, a.weight, a.slant, a.member.postScriptName) <
               std::tie(bw, b.width, b.weight, b.slant, b.member.postScriptName);
    });
    for (Entry& entry : entries) {
        const bool seen = std::any_of(members.begin(), members.end(), [&](const FamilyMember& m) {
            return m.postScriptName == entry.member.postScriptName;
        });
        if (!seen) members.push_back(std::move(entry.member));
    }
    return members;
}

const std::string& Font::postScriptName() const { return impl_->postScriptName; }
const std::string& Font::familyName() const { return impl_->familyName; }
const std::string& Font::styleName() const { return impl_->styleName; }
const std::filesystem::path& Font::filePath() const { return impl_->filePath; }
int Font::unitsPerEm() const { return impl_->unitsPerEm; }

double Font::ascent(double size) const {
    return impl_->ascender * size / impl_->unitsPerEm;
}

double Font::descent(double size) const {
    return impl_->descender * size / impl_->unitsPerEm;
}

_cairo_font_face* Font::cairoFontFace() const { return impl_->cairoFace; }

std::vector<GlyphId> Font::glyphsForCharacters(std::u32string_view characters) const {
    std::vector<GlyphId> glyphs(characters.size(), 0);
    std::lock_guard lock(impl_->mutex);
    FT_Face face = impl_->face;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        glyphs[i] = FT_Get_Char_Index(face, characters[i]);
    }
    return glyphs;
}

std::vector<GlyphId> Font::glyphsForText(std::string_view utf8) const {
    return glyphsForCharacters(CodePointsFromUTF8(utf8));
}

std::vector<double> Font::advancesForGlyphs(std::span<const GlyphId> glyphs, double size) const {
    std::vector<double> advances(glyphs.size(), 0.0);
    std::lock_guard lock(impl_->mutex);
    FT_Face face = impl_->face;
    const double scale = size / impl_->unitsPerEm;
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        FT_Fixed advance = 0;
        if (glyphs[i] < static_cast<GlyphId>(face->num_glyphs) &&
            FT_Get_Advance(face, glyphs[i], FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING, &advance) ==
                0) {
            advances[i] = static_cast<double>(advance) * scale;
        }
    }
    return advances;
}

std::vector<Rect> Font::boundingRectsForGlyphs(std::span<const GlyphId> glyphs, double size) const {
    std::vector<Rect> rects(glyphs.size());
    std::lock_guard lock(impl_->mutex);
    FT_Face face = impl_->face;
    const double scale = size / impl_->unitsPerEm;
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        if (glyphs[i] >= static_cast<GlyphId>(face->num_glyphs) ||
            FT_Load_Glyph(face, glyphs[i],
                          FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) {
            continue;
        }
        FT_GlyphSlot slot = face->glyph;
        if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
            if (slot->outline.n_points == 0) {
                continue;
            }
            FT_BBox box;
            if (FT_Outline_Get_BBox(&slot->outline, &box) == 0) {
                rects[i] = Rect(box.xMin * scale, box.yMin * scale, (box.xMax - box.xMin) * scale,
                                (box.yMax - box.yMin) * scale);
            }
        } else {
            const FT_Glyph_Metrics& m = slot->metrics;
            rects[i] = Rect(m.horiBearingX * scale, (m.horiBearingY - m.height) * scale,
                            m.width * scale, m.height * scale);
        }
    }
    return rects;
}

Rect Font::boundingRectForGlyphs(std::span<const GlyphId> glyphs, double size) const {
    Rect all;
    for (const Rect& r : boundingRectsForGlyphs(glyphs, size)) {
        all = all.united(r);
    }
    return all;
}

}  // namespace plat
