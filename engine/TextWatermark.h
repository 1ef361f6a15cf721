#pragma once
// The text watermark: its layout and its drawing, shared by the renderer and
// the watermark editor so the editor shows exactly what the output gets.

#include "engine/ImageConversion.h"
#include "platform/AffineTransform.h"
#include "platform/BitmapContext.h"
#include "platform/Color.h"
#include "platform/Font.h"
#include "platform/FontRef.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ImageConverter;

// Everything that decides how the text looks, in the units of the space it
// is drawn in (output pixels for the renderer, canvas points for the editor).
struct TextWatermarkStyle {
    plat::FontRef font;              // null: the default sans font
    double fontSize = 0.0;
    std::int32_t drawingMode = 0;    // 0 fill, 1 stroke, 2 fill and stroke
    plat::Color textColor;           // fill colour in mode 0, stroke colour otherwise
    double strokeWidth = 0.0;
    double opacity = 1.0;
    double characterSpacing = 0.0;
    double rotation = 0.0;           // degrees, counter-clockwise
    bool shadow = false;
    plat::Color shadowColor;
    double shadowBlur = 0.0;         // device pixels
    plat::Point shadowOffset;        // device pixels, y-up
};

// Where the glyphs of a text go.
struct TextWatermarkLayout {
    plat::FontRef font;                   // the font actually used
    std::vector<plat::GlyphId> glyphs;    // one per character
    std::vector<plat::Point> positions;   // baseline origin of each glyph
    plat::Point origin;                   // start of the run
    plat::Point endPoint;                 // text position after the last glyph
    // The union of the glyphs' bounds, each at the origin, unrotated.
    plat::Rect glyphBounds;
};

// The style of the record's text part scaled to an output by `scale` (the
// editor-to-output factor): sizes and blur multiplied, shadow offsets
// multiplied and truncated to whole pixels.
TextWatermarkStyle GetTextWatermarkStyle(const WatermarkOptions& textPart, float scale);

// The layout of `text` (UTF-8) from `origin` along the rotated baseline,
// without drawing.
TextWatermarkLayout LayoutTextWatermark(const std::string& text, const TextWatermarkStyle& style,
                                        plat::Point origin);

// Draws `text` with its baseline starting at `origin` (user space of
// `context`) and returns its layout. The context's graphics state is left
// as it was.
TextWatermarkLayout DrawTextWatermarkText(plat::BitmapContext& context, const std::string& text,
                                          const TextWatermarkStyle& style, plat::Point origin);

// Renders only the text into a cleared native-endian premultiplied ARGB32
// buffer (Qt's ARGB32_Premultiplied, cairo's ARGB32) of `width` × `height`,
// with `transform` from text space to buffer pixels (y-up). False when the
// buffer cannot be drawn.
bool DrawTextWatermarkIntoBuffer(std::uint8_t* pixels, int width, int height, std::size_t stride,
                                 const plat::AffineTransform& transform, const std::string& text,
                                 const TextWatermarkStyle& style, plat::Point origin,
                                 TextWatermarkLayout* layout = nullptr);

// Draws the text part into an upright output of `width` × `height`: maps its
// position from the editor canvas, stores the mapped position into
// `textOrigin` and the scaled shadow offsets into the shadow offset fields.
void DrawTextWatermark(ImageConverter* converter, plat::BitmapContext& context,
                       WatermarkOptions& textPart, double width, double height);

// DrawTextWatermark with the converter's own text part.
void DrawConverterTextWatermark(ImageConverter* converter, plat::BitmapContext& context,
                                double width, double height);
