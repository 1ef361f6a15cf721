// Glyph drawing of BitmapContext: placement along the text matrix with
// unhinted advances and character spacing, painted by cairo in the three
// text drawing modes.
#include "platform/BitmapContext.h"

#include <cmath>

#include <cairo.h>

namespace plat {

std::vector<Point> BitmapContext::glyphPositions(std::span<const GlyphId> glyphs, Point point,
                                                 Point* end) const {
    const GState& gs = state();
    std::vector<Point> positions;
    positions.reserve(glyphs.size());
    std::vector<double> advances;
    if (gs.font) {
        advances = gs.font->advancesForGlyphs(glyphs, gs.fontSize);
    } else {
        advances.assign(glyphs.size(), 0.0);
    }
    AffineTransform linear = gs.textMatrix;
    linear.tx = 0;
    linear.ty = 0;
    double run = 0.0;
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const Point along = linear.applyToVector({run, 0.0});
        positions.push_back({point.x + along.x, point.y + along.y});
        run += advances[i] + gs.characterSpacing;
    }
    if (end != nullptr) {
        const Point along = linear.applyToVector({run, 0.0});
        *end = {point.x + along.x, point.y + along.y};
    }
    return positions;
}

std::optional<Point> BitmapContext::showGlyphsAtPoint(std::span<const GlyphId> glyphs, Point point) {
    const GState& gs = state();
    if (!gs.font || !std::isfinite(gs.fontSize)) {
        return std::nullopt;
    }
    Point end;
    const std::vector<Point> positions = glyphPositions(glyphs, point, &end);
    const double size = gs.fontSize;
    const AffineTransform& tm = gs.textMatrix;
    if (glyphs.empty() || size == 0.0 || gs.textMode == TextDrawingMode::Invisible ||
        gs.alpha <= 0.0 || tm.determinant() == 0.0) {
        return end;
    }
    std::vector<cairo_glyph_t> run(glyphs.size());
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        run[i].index = glyphs[i];
        run[i].x = positions[i].x;
        run[i].y = positions[i].y;
    }
    const TextDrawingMode mode = gs.textMode;
    const Color fill = gs.fill;
    const Color stroke = gs.stroke;
    const double alpha = gs.alpha;
    const double lineWidth = gs.lineWidth;
    cairo_font_face_t* face = gs.font->cairoFontFace();
    const bool ok = drawVector([&](cairo_t* cr) {
        cairo_set_font_face(cr, face);
        // Glyph space is y-up like user space; cairo's is y-down.
        cairo_matrix_t fontMatrix{tm.a * size, tm.b * size, -tm.c * size, -tm.d * size, 0, 0};
        cairo_set_font_matrix(cr, &fontMatrix);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        cairo_set_font_options(cr, options);
        cairo_font_options_destroy(options);
        const int count = static_cast<int>(run.size());
        if (mode == TextDrawingMode::Fill) {
            cairo_set_source_rgba(cr, fill.red, fill.green, fill.blue, fill.alpha * alpha);
            cairo_show_glyphs(cr, run.data(), count);
            return;
        }
        cairo_glyph_path(cr, run.data(), count);
        if (mode == TextDrawingMode::FillStroke) {
            cairo_set_source_rgba(cr, fill.red, fill.green, fill.blue, fill.alpha * alpha);
            cairo_fill_preserve(cr);
        }
        cairo_set_line_width(cr, lineWidth);
        cairo_set_source_rgba(cr, stroke.red, stroke.green, stroke.blue, stroke.alpha * alpha);
        cairo_stroke(cr);
    });
    if (!ok) {
        return std::nullopt;
    }
    return end;
}

}  // namespace plat
