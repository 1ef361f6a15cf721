#pragma once

#include "platform/AffineTransform.h"
#include "platform/FontRef.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct _cairo_font_face;

namespace plat {

// A glyph index in the font; 0 is the font's "missing glyph".
using GlyphId = std::uint32_t;

// Code points of text, one per character; malformed input becomes U+FFFD.
std::u32string CodePointsFromUTF8(std::string_view utf8);
std::u32string CodePointsFromUTF16(std::u16string_view utf16);

// A scalable font face found through fontconfig and read with FreeType.
// Immutable and size-independent (sizes are passed to each query), so one
// instance is shared by every thread and record that names the font.
class Font {
public:
    // The font with this PostScript name; when the system has none, the font
    // fontconfig substitutes for the name, and when that fails the default
    // sans font. Null only on a system without any usable font.
    static FontRef fontWithName(std::string_view postScriptName);
    // The font with exactly this PostScript name, or null.
    static FontRef fontWithExactName(std::string_view postScriptName);
    // The default sans font (DejaVu Sans, or fontconfig's "sans-serif").
    static FontRef defaultFont();
    // A face of a family, best matching `style` ("Bold", "Italic"…; empty for
    // the regular face), or null when the family is not installed.
    static FontRef fontWithFamily(std::string_view family, std::string_view style = {});
    // Installed font families with scalable faces, sorted, without repeats.
    static std::vector<std::string> familyNames();
    // The scalable faces of a family: PostScript name and style name, from
    // the lightest upright face to the heaviest slanted one. Empty when the
    // family is not installed.
    struct FamilyMember {
        std::string postScriptName;
        std::string styleName;
    };
    static std::vector<FamilyMember> familyMembers(std::string_view family);

    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    const std::string& postScriptName() const;
    const std::string& familyName() const;
    const std::string& styleName() const;
    const std::filesystem::path& filePath() const;
    int unitsPerEm() const;
    // Typographic ascent (positive) and descent (negative) at `size` points.
    double ascent(double size) const;
    double descent(double size) const;

    // One glyph per character (characters outside the Basic Multilingual
    // Plane included); 0 where the font has no glyph.
    std::vector<GlyphId> glyphsForCharacters(std::u32string_view characters) const;
    std::vector<GlyphId> glyphsForText(std::string_view utf8) const;

    // Unhinted horizontal advances at `size` points.
    std::vector<double> advancesForGlyphs(std::span<const GlyphId> glyphs, double size) const;
    // Outline bounds of each glyph drawn at the origin, y-up, at `size`
    // points; empty rectangles for glyphs without ink.
    std::vector<Rect> boundingRectsForGlyphs(std::span<const GlyphId> glyphs, double size) const;
    // The union of the glyphs' bounds, each at the origin.
    Rect boundingRectForGlyphs(std::span<const GlyphId> glyphs, double size) const;

    // The cairo face for drawing (shared, do not destroy).
    _cairo_font_face* cairoFontFace() const;

    struct Impl;

private:
    explicit Font(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace plat
