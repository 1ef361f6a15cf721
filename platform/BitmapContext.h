#pragma once

#include "platform/AffineTransform.h"
#include "platform/Color.h"
#include "platform/Font.h"
#include "platform/FontRef.h"
#include "platform/Image.h"
#include "platform/ImageRef.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include <vips/vips8>

struct _cairo;

namespace plat {

// How glyphs are painted: filled, outlined at the stroke width, or both, with
// the watermark options' drawing-mode codes 0, 1 and 2 as values; Invisible
// places the glyphs and moves the text position without ink.
enum class TextDrawingMode { Fill = 0, Stroke = 1, FillStroke = 2, Invisible = 3 };

// A bitmap (grey, RGB or CMYK, with or without an alpha band) with a
// graphics state, drawn with y-up user coordinates whose origin is the lower
// left corner of the bitmap. Its samples are 8 bits, or for grey and RGB 16
// bits or float when asked for: images of any depth are drawn into it at its
// depth, and makeImage() hands out an Image of that depth.
//
// The pixels are a lazy libvips pipeline: drawing a whole image maps to
// resize/rot/flip/embed, text and fills are rasterised by cairo only over
// their own bounds and composited in place, and nothing runs until the image
// made by makeImage() is read. A freshly made context is all zeros
// (transparent, black grey or unprinted CMYK).
//
// Drawing calls return false when the libraries refuse (the context keeps
// what it held before the call). A context is for one thread at a time.
class BitmapContext {
public:
    // Null for an impossible size (see Image::sizeAllowed).
    // `bitsPerComponent` 16 or 32 (float) makes a deep grey or RGB bitmap;
    // any other value, and CMYK, 8 bits.
    static std::unique_ptr<BitmapContext> create(int width, int height,
                                                 ColorModel model = ColorModel::RGB,
                                                 bool hasAlpha = true, int bitsPerComponent = 8);

    int width() const { return width_; }
    int height() const { return height_; }
    ColorModel colorModel() const { return model_; }
    bool hasAlpha() const { return hasAlpha_; }
    int bitsPerComponent() const { return Image::BitsOfFormat(format_); }

    // --- Graphics state -------------------------------------------------------
    void saveGState();
    void restoreGState();  // an unmatched restore is ignored

    // User space → device space (device: pixels, y-up, origin lower left).
    const AffineTransform& ctm() const { return state().ctm; }
    void concatCTM(const AffineTransform& transform);
    void translateCTM(double x, double y) { concatCTM(AffineTransform::translation(x, y)); }
    void scaleCTM(double sx, double sy) { concatCTM(AffineTransform::scale(sx, sy)); }
    void rotateCTM(double radians) { concatCTM(AffineTransform::rotation(radians)); }

    // Opacity applied to everything drawn, 0..1.
    void setAlpha(double alpha);
    double alpha() const { return state().alpha; }
    void setFillColor(const Color& color) { state().fill = color; }
    void setStrokeColor(const Color& color) { state().stroke = color; }
    void setLineWidth(double width) { state().lineWidth = width; }
    const Color& fillColor() const { return state().fill; }
    const Color& strokeColor() const { return state().stroke; }
    double lineWidth() const { return state().lineWidth; }

    // Shadow of everything drawn while it is set. The offset is in device
    // pixels, y-up (the current transform does not apply to it); the blur is
    // in device pixels too (Gaussian with a standard deviation of blur / 2,
    // at most 1000).
    void setShadow(Point offset, double blur, const Color& color);
    void clearShadow() { state().shadowOn = false; }

    // --- Text state -------------------------------------------------------------
    void setTextDrawingMode(TextDrawingMode mode) { state().textMode = mode; }
    void setCharacterSpacing(double spacing) { state().characterSpacing = spacing; }
    void setFont(FontRef font) { state().font = std::move(font); }
    void setFontSize(double size) { state().fontSize = size; }
    // Glyph space → user space; its translation is replaced by the position
    // given to showGlyphsAtPoint.
    void setTextMatrix(const AffineTransform& matrix) { state().textMatrix = matrix; }
    TextDrawingMode textDrawingMode() const { return state().textMode; }
    double characterSpacing() const { return state().characterSpacing; }
    const FontRef& font() const { return state().font; }
    double fontSize() const { return state().fontSize; }
    const AffineTransform& textMatrix() const { return state().textMatrix; }

    // --- Drawing ------------------------------------------------------------------
    // Draws `image` (upright, top row at the rectangle's top) into `rect` in
    // user space. Quarter turns, mirrors and scales use vips rot/flip and a
    // Lanczos-3 resize; any other transform an affine resampling.
    bool drawImage(const Image& image, const Rect& rect);
    bool fillRect(const Rect& rect);
    // Sets every pixel back to zero.
    void clear();

    // Places the glyphs one after the other from `point` along the text
    // matrix, each followed by its unhinted advance plus the character
    // spacing, and paints them in the text drawing mode. Returns the text
    // position after the last glyph (user space), or nothing on failure or
    // without a font.
    std::optional<Point> showGlyphsAtPoint(std::span<const GlyphId> glyphs, Point point);
    // Where showGlyphsAtPoint would place each glyph and end, without drawing.
    std::vector<Point> glyphPositions(std::span<const GlyphId> glyphs, Point point,
                                      Point* end = nullptr) const;

    // --- Results --------------------------------------------------------------------
    // The current pixels as an image; later drawing does not change it.
    ImageRef makeImage() const;
    // Renders the pixels into a cairo/Qt-style buffer: native-endian 32-bit
    // premultiplied ARGB, top row first. For an RGB context only.
    bool writePremultipliedARGB32(std::uint8_t* pixels, std::size_t stride) const;
    // The pipeline itself, for platform code that continues in libvips.
    const vips::VImage& vimage() const {
        flushOverlays();
        return content_;
    }

private:
    struct GState {
        AffineTransform ctm;
        double alpha = 1.0;
        Color fill{0, 0, 0, 1};
        Color stroke{0, 0, 0, 1};
        double lineWidth = 1.0;
        bool shadowOn = false;
        Point shadowOffset;
        double shadowBlur = 0.0;
        Color shadowColor{0, 0, 0, 1.0 / 3.0};
        TextDrawingMode textMode = TextDrawingMode::Fill;
        double characterSpacing = 0.0;
        FontRef font;
        double fontSize = 12.0;
        AffineTransform textMatrix;
    };

    BitmapContext(int width, int height, ColorModel model, bool hasAlpha, VipsBandFormat format);
    GState& state() { return states_.back(); }
    const GState& state() const { return states_.back(); }

    // Composites `overlay` (this model's bands, alpha optional, straight)
    // with its top left corner at canvas pixel (x, y), its opacity multiplied
    // by `extraAlpha`; the second form first lays down its shadow when one is set.
    void compositeOver(vips::VImage overlay, int x, int y, double extraAlpha);
    // Composites the overlays waiting in `overlays_` onto the canvas, all in
    // one pass over it.
    void flushOverlays() const;
    void compositeWithShadow(vips::VImage overlay, int x, int y, double extraAlpha);
    // Converts grey, RGB or CMYK pixels (alpha kept) to this model and depth.
    // Float samples count 0..255 here, as in libvips's colour operations.
    vips::VImage toContextModel(vips::VImage overlay) const;
    // Samples already in this context's range, rounded into its format.
    vips::VImage inCanvasFormat(const vips::VImage& image) const;
    VipsInterpretation interpretation() const;
    std::vector<double> colourComponents(const Color& color) const;
    vips::VImage blank(int width, int height) const;
    // `map` takes image pixels to canvas pixels (both top-down).
    bool drawImageTransformed(vips::VImage source, bool hasAlpha, const AffineTransform& map);
    // Runs `paint` on a cairo context whose user space is this context's
    // user space, then composites what it drew (and its shadow).
    bool drawVector(const std::function<void(_cairo*)>& paint);

    int width_;
    int height_;
    ColorModel model_;
    bool hasAlpha_;
    VipsBandFormat format_;
    double maxValue_;  // opaque alpha, full colour
    // The pixels, and the overlays (this model's bands plus alpha, straight)
    // still to be composited over them at their places: folded in lazily,
    // so that a text, its shadow and a logo cost one pass over the canvas.
    struct Overlay {
        vips::VImage image;
        int x = 0;
        int y = 0;
    };
    mutable vips::VImage content_;
    mutable std::vector<Overlay> overlays_;
    bool isBlank_ = true;
    std::vector<GState> states_;
};

}  // namespace plat
