#include "engine/TextWatermark.h"

#include <cmath>
#include <exception>

namespace {

// Degrees to radians in single precision, so stored placements made with
// that rounding still line up.
double RotationRadians(double degrees) {
    return static_cast<float>(static_cast<float>(degrees) * 0.017453292f);
}

plat::FontRef FontOf(const TextWatermarkStyle& style) {
    return style.font ? style.font : plat::Font::defaultFont();
}

// The context's text drawing mode for a stored mode value; the clipping
// variants draw like their plain forms, the rest draws no ink.
plat::TextDrawingMode DrawingModeFor(std::int32_t mode) {
    switch (mode) {
    case 0:
    case 4:
        return plat::TextDrawingMode::Fill;
    case 1:
    case 5:
        return plat::TextDrawingMode::Stroke;
    case 2:
    case 6:
        return plat::TextDrawingMode::FillStroke;
    default:
        return plat::TextDrawingMode::Invisible;
    }
}

// Truncates towards zero like an integer conversion, saturating
// instead of overflowing.
std::int64_t TruncateToInteger(double value) {
    if (!std::isfinite(value)) return 0;
    if (value >= 9.2e18) return INT64_MAX;
    if (value <= -9.2e18) return INT64_MIN;
    return static_cast<std::int64_t>(value);
}

}  // namespace

TextWatermarkStyle GetTextWatermarkStyle(const WatermarkOptions& part, float scale) {
    TextWatermarkStyle style;
    style.font = part.font;
    style.fontSize = static_cast<double>(part.fontSize) * scale;
    style.drawingMode = part.drawingMode;
    style.textColor = part.textColor;
    style.strokeWidth = static_cast<double>(part.strokeWidth) * scale;
    style.opacity = part.textOpacity;
    style.characterSpacing = part.characterSpacing * scale;
    style.rotation = static_cast<double>(part.rotation);
    style.shadow = part.shadow != 0;
    style.shadowColor = part.shadowColor;
    style.shadowBlur = static_cast<double>(part.shadowBlur) * scale;
    const double offsetX = static_cast<double>(part.shadowOffsetX) * scale;
    const double offsetY = static_cast<double>(part.shadowOffsetY) * scale;
    style.shadowOffset = {static_cast<double>(TruncateToInteger(offsetX)),
                          static_cast<double>(TruncateToInteger(offsetY))};
    return style;
}

TextWatermarkLayout LayoutTextWatermark(const std::string& text, const TextWatermarkStyle& style,
                                        plat::Point origin) {
    TextWatermarkLayout layout;
    layout.origin = origin;
    layout.endPoint = origin;
    layout.font = FontOf(style);
    if (!layout.font) return layout;
    layout.glyphs = layout.font->glyphsForText(text);
    const std::vector<double> advances = layout.font->advancesForGlyphs(layout.glyphs, style.fontSize);
    const plat::AffineTransform rotation = plat::AffineTransform::rotation(RotationRadians(style.rotation));
    double run = 0.0;
    layout.positions.reserve(layout.glyphs.size());
    for (std::size_t i = 0; i < layout.glyphs.size(); ++i) {
        const plat::Point along = rotation.applyToVector({run, 0.0});
        layout.positions.push_back({origin.x + along.x, origin.y + along.y});
        run += advances[i] + style.characterSpacing;
    }
    const plat::Point along = rotation.applyToVector({run, 0.0});
    layout.endPoint = {origin.x + along.x, origin.y + along.y};
    layout.glyphBounds = layout.font->boundingRectForGlyphs(layout.glyphs, style.fontSize);
    return layout;
}

TextWatermarkLayout DrawTextWatermarkText(plat::BitmapContext& context, const std::string& text,
                                          const TextWatermarkStyle& style, plat::Point origin) {
    TextWatermarkLayout layout = LayoutTextWatermark(text, style, origin);
    if (!layout.font || layout.glyphs.empty()) return layout;

    context.saveGState();
    context.setTextMatrix(plat::AffineTransform::identity());
    context.setTextDrawingMode(DrawingModeFor(style.drawingMode));
    context.setAlpha(style.opacity);
    context.setCharacterSpacing(style.characterSpacing);
    // Mode 0 fills with the text colour; the stroking modes stroke with it
    // and fill with the context's own fill colour.
    if (style.drawingMode == 0) {
        context.setFillColor(style.textColor);
    } else {
        context.setLineWidth(style.strokeWidth);
        context.setStrokeColor(style.textColor);
    }
    if (style.shadow) {
        context.setShadow(style.shadowOffset, style.shadowBlur, style.shadowColor);
    }
    context.setFont(layout.font);
    context.setFontSize(style.fontSize);
    context.setTextMatrix(plat::AffineTransform::rotation(RotationRadians(style.rotation)));
    if (std::optional<plat::Point> end = context.showGlyphsAtPoint(layout.glyphs, origin)) {
        layout.endPoint = *end;
    }
    context.restoreGState();
    return layout;
}

bool DrawTextWatermarkIntoBuffer(std::uint8_t* pixels, int width, int height, std::size_t stride,
                                 const plat::AffineTransform& transform, const std::string& text,
                                 const TextWatermarkStyle& style, plat::Point origin,
                                 TextWatermarkLayout* layout) {
    try {
        auto context = plat::BitmapContext::create(width, height, plat::ColorModel::RGB, true);
        if (!context) return false;
        context->concatCTM(transform);
        TextWatermarkLayout drawn = DrawTextWatermarkText(*context, text, style, origin);
        if (!context->writePremultipliedARGB32(pixels, stride)) return false;
        if (layout) *layout = std::move(drawn);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
