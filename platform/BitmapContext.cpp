#include "platform/BitmapContext.h"

#include "platform/BitmapContextResample.h"
#include "platform/BitmapContextSupport.h"
#include "platform/Initialize.h"

#include <algorithm>
#include <cmath>

#include <cairo.h>

namespace plat {

using vips::VImage;

namespace {

constexpr double kMaxShadowBlur = 1000.0;

int colourBands(ColorModel model) {
    switch (model) {
    case ColorModel::Gray:
        return 1;
    case ColorModel::CMYK:
        return 4;
    case ColorModel::RGB:
        break;
    }
    return 3;
}

VipsInterpretation interpretationOf(ColorModel model) {
    switch (model) {
    case ColorModel::Gray:
        return VIPS_INTERPRETATION_B_W;
    case ColorModel::CMYK:
        return VIPS_INTERPRETATION_CMYK;
    case ColorModel::RGB:
        break;
    }
    return VIPS_INTERPRETATION_sRGB;
}

VImage withInterpretation(const VImage& image, VipsInterpretation interpretation) {
    return image.copy(VImage::option()->set("interpretation", interpretation));
}

// Float to 8 bits, rounding to nearest and clipping.
VImage toUchar(const VImage& image) {
    if (image.format() == VIPS_FORMAT_UCHAR) {
        return image;
    }
    return image.round(VIPS_OPERATION_ROUND_RINT).cast(VIPS_FORMAT_UCHAR);
}

// The full value of a sample format as the context counts it: floats run
// 0..255, as in libvips's colour operations.
double rangeOf(VipsBandFormat format) { return format == VIPS_FORMAT_USHORT ? 65535.0 : 255.0; }

// Same range, other format: rounded to the nearest integer step.
VImage inFormat(const VImage& image, VipsBandFormat format) {
    if (image.format() == format) {
        return image;
    }
    if (format == VIPS_FORMAT_FLOAT) {
        return image.cast(VIPS_FORMAT_FLOAT);
    }
    return image.round(VIPS_OPERATION_ROUND_RINT).cast(format);
}

// Samples rescaled from the range of their format to that of `format`.
VImage toDepth(const VImage& image, VipsBandFormat format) {
    if (image.format() == format) {
        return image;
    }
    const double from = rangeOf(image.format());
    const double to = rangeOf(format);
    return inFormat(from == to ? image : image * (to / from), format);
}

VipsBandFormat formatFor(ColorModel model, int bitsPerComponent) {
    if (model == ColorModel::CMYK) {
        return VIPS_FORMAT_UCHAR;
    }
    return bitsPerComponent == 16 ? VIPS_FORMAT_USHORT
           : bitsPerComponent == 32 ? VIPS_FORMAT_FLOAT
                                    : VIPS_FORMAT_UCHAR;
}

bool nearZero(double v, double scale) { return std::fabs(v) <= 1e-9 * scale; }

// The vips quarter turn and mirror that take image axes to canvas axes;
// `swapped` means image columns run along canvas rows.
VImage orient(VImage image, bool swapped, bool negateColumns, bool negateRows) {
    if (!swapped) {
        if (negateColumns && negateRows) {
            return image.rot(VIPS_ANGLE_D180);
        }
        if (negateColumns) {
            return image.flip(VIPS_DIRECTION_HORIZONTAL);
        }
        if (negateRows) {
            return image.flip(VIPS_DIRECTION_VERTICAL);
        }
        return image;
    }
    // Canvas columns follow image rows (sign: negateColumns), canvas rows
    // follow image columns (sign: negateRows).
    if (negateColumns && !negateRows) {
        return image.rot(VIPS_ANGLE_D90);
    }
    if (!negateColumns && negateRows) {
        return image.rot(VIPS_ANGLE_D270);
    }
    if (!negateColumns && !negateRows) {
        return image.rot(VIPS_ANGLE_D90).flip(VIPS_DIRECTION_HORIZONTAL);
    }
    return image.rot(VIPS_ANGLE_D270).flip(VIPS_DIRECTION_HORIZONTAL);
}

// Resizes with Lanczos-3 to exactly `width` × `height`, weighting colour by
// alpha so transparent pixels do not bleed dark fringes.
VImage resizeTo(const VImage& image, bool hasAlpha, int width, int height) {
    if (image.width() == width && image.height() == height) {
        return image;
    }
    const double hscale = static_cast<double>(width) / image.width();
    const double vscale = static_cast<double>(height) / image.height();
    auto options = [&] {
        return VImage::option()->set("vscale", vscale)->set("kernel", VIPS_KERNEL_LANCZOS3);
    };
    if (hasAlpha && image.format() == VIPS_FORMAT_UCHAR && image.bands() >= 2) {
        // One 8-bit pass, no float copy of the image.
        return ResizeAlphaWeighted(image, width, height);
    }
    VImage out;
    if (hasAlpha) {
        const double maxAlpha = rangeOf(image.format());
        out = inFormat(image.premultiply(VImage::option()->set("max_alpha", maxAlpha))
                           .resize(hscale, options())
                           .unpremultiply(VImage::option()->set("max_alpha", maxAlpha)),
                       image.format());
    } else {
        out = image.resize(hscale, options());
    }
    if (out.width() != width || out.height() != height) {
        out = out.embed(0, 0, width, height, VImage::option()->set("extend", VIPS_EXTEND_COPY));
    }
    return out;
}

}  // namespace

// --- Construction and state ------------------------------------------------------

BitmapContext::BitmapContext(int width, int height, ColorModel model, bool hasAlpha, VipsBandFormat format)
    : width_(width), height_(height), model_(model), hasAlpha_(hasAlpha), format_(format),
      maxValue_(rangeOf(format)) {
    content_ = blank(width, height);
    states_.emplace_back();
}

std::unique_ptr<BitmapContext> BitmapContext::create(int width, int height, ColorModel model,
                                                     bool hasAlpha, int bitsPerComponent) {
    if (!Image::sizeAllowed(width, height)) {
        return nullptr;
    }
    Initialize();
    try {
        return std::unique_ptr<BitmapContext>(
            new BitmapContext(width, height, model, hasAlpha, formatFor(model, bitsPerComponent)));
    } catch (const vips::VError&) {
        return nullptr;
    }
}

VImage BitmapContext::blank(int width, int height) const {
    const int bands = colourBands(model_) + (hasAlpha_ ? 1 : 0);
    return withInterpretation(inFormat(VImage::black(width, height, VImage::option()->set("bands", bands)), format_),
                              interpretation());
}

VipsInterpretation BitmapContext::interpretation() const {
    if (format_ == VIPS_FORMAT_USHORT) {
        return model_ == ColorModel::Gray ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16;
    }
    return interpretationOf(model_);
}

VImage BitmapContext::inCanvasFormat(const VImage& image) const { return inFormat(image, format_); }

void BitmapContext::saveGState() { states_.push_back(states_.back()); }

void BitmapContext::restoreGState() {
    if (states_.size() > 1) {
        states_.pop_back();
    }
}

void BitmapContext::concatCTM(const AffineTransform& transform) {
    state().ctm = state().ctm.concatenating(transform);
}

void BitmapContext::setAlpha(double alpha) {
    state().alpha = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0;
}

void BitmapContext::setShadow(Point offset, double blur, const Color& color) {
    state().shadowOn = true;
    state().shadowOffset = offset;
    // Beyond a few hundred pixels a blur only costs memory: the shadow has
    // long faded to nothing.
    state().shadowBlur = std::isfinite(blur) ? std::clamp(blur, 0.0, kMaxShadowBlur) : 0.0;
    state().shadowColor = color;
}

void BitmapContext::clear() {
    overlays_.clear();
    content_ = blank(width_, height_);
    isBlank_ = true;
}

// --- Compositing -------------------------------------------------------------------

VImage BitmapContext::toContextModel(VImage overlay) const {
    const int colour = colourBands(model_);
    VipsInterpretation have = overlay.interpretation();
    const bool overlayAlpha = have == VIPS_INTERPRETATION_CMYK
                                  ? overlay.bands() == 5
                                  : (overlay.bands() == 2 || overlay.bands() == 4);
    const int overlayColour = overlayAlpha ? overlay.bands() - 1 : overlay.bands();
    const bool sameModel = overlayColour == colour &&
                           ((model_ == ColorModel::CMYK) == (have == VIPS_INTERPRETATION_CMYK));
    if (!sameModel) {
        if (overlayColour == 1 && model_ == ColorModel::RGB) {
            // Grey to RGB is exact: repeat the band.
            VImage grey = overlay.extract_band(0);
            VImage rgb = VImage::bandjoin(std::vector<VImage>{grey, grey, grey});
            if (overlayAlpha) {
                rgb = rgb.bandjoin(overlay.extract_band(1));
            }
            overlay = rgb;
        } else {
            // 8-bit pixels change model at their depth (white stays white),
            // then take this context's depth below.
            overlay = overlay.colourspace(overlay.format() == VIPS_FORMAT_UCHAR ? interpretationOf(model_)
                                                                                : interpretation());
        }
        // A profile of the old colour space no longer describes the pixels.
        overlay = overlay.copy();
        if (overlay.get_typeof(VIPS_META_ICC_NAME) != 0) {
            overlay.remove(VIPS_META_ICC_NAME);
        }
    }
    return withInterpretation(toDepth(overlay, format_), interpretation());
}

void BitmapContext::compositeOver(VImage overlay, int x, int y, double extraAlpha) {
    const int colour = colourBands(model_);
    const bool overlayAlpha = overlay.bands() == colour + 1;
    const double g = std::clamp(extraAlpha, 0.0, 1.0);
    if (g <= 0.0) {
        return;
    }
    // Only the part over the canvas matters.
    const int x0 = std::max(0, x);
    const int y0 = std::max(0, y);
    const int x1 = static_cast<int>(std::min<long long>(width_, static_cast<long long>(x) + overlay.width()));
    const int y1 = static_cast<int>(std::min<long long>(height_, static_cast<long long>(y) + overlay.height()));
    if (x1 <= x0 || y1 <= y0) {
        return;
    }
    const int w = x1 - x0;
    const int h = y1 - y0;
    if (x0 != x || y0 != y || w != overlay.width() || h != overlay.height()) {
        overlay = overlay.extract_area(x0 - x, y0 - y, w, h);
    }

    if ((!overlayAlpha && g >= 1.0) || (isBlank_ && g >= 1.0 && hasAlpha_)) {
        // Opaque, or over transparent black: the overlay replaces what is
        // there. It does not read the canvas, so inserting it is safe.
        flushOverlays();
        VImage region = !overlayAlpha && hasAlpha_ ? overlay.bandjoin_const({maxValue_}) : overlay;
        region = withInterpretation(region, interpretation());
        content_ = (w == width_ && h == height_)
                       ? region
                       : withInterpretation(content_.insert(region, x0, y0), interpretation());
        isBlank_ = false;
        return;
    }
    // Composited onto the whole canvas at its place, never onto a cut-out
    // spliced back: a cut-out and the rest would read the canvas pipeline
    // along two paths, which a sequentially decoded source cannot serve (its
    // rows are read once, in order).
    VImage over = overlayAlpha ? overlay : overlay.bandjoin_const({maxValue_});
    if (g < 1.0) {
        std::vector<double> factors(static_cast<std::size_t>(colour), 1.0);
        factors.push_back(g);
        over = inCanvasFormat(over.linear(factors, std::vector<double>(factors.size(), 0.0)));
    }
    overlays_.push_back({withInterpretation(over, interpretation()), x0, y0});
    isBlank_ = false;
}

void BitmapContext::flushOverlays() const {
    if (overlays_.empty()) {
        return;
    }
    std::vector<VImage> layers{content_};
    std::vector<int> modes;
    std::vector<int> xs;
    std::vector<int> ys;
    for (const Overlay& overlay : overlays_) {
        layers.push_back(overlay.image);
        modes.push_back(VIPS_BLEND_MODE_OVER);
        xs.push_back(overlay.x);
        ys.push_back(overlay.y);
    }
    overlays_.clear();
    // CMYK is composited on its inks, without a profile.
    VImage out = VImage::composite(layers, modes,
                                   VImage::option()
                                       ->set("x", xs)
                                       ->set("y", ys)
                                       ->set("compositing_space", interpretation())
                                       ->set("premultiplied", false));
    const int colour = colourBands(model_);
    if (!hasAlpha_ && out.bands() > colour) {
        out = out.extract_band(0, VImage::option()->set("n", colour));
    }
    content_ = withInterpretation(inCanvasFormat(out), interpretation());
}

std::vector<double> BitmapContext::colourComponents(const Color& color) const {
    const double r = std::clamp(color.red, 0.0, 1.0) * 255.0;
    const double gr = std::clamp(color.green, 0.0, 1.0) * 255.0;
    const double b = std::clamp(color.blue, 0.0, 1.0) * 255.0;
    if (model_ == ColorModel::RGB) {
        const double k = maxValue_ / 255.0;
        return {r * k, gr * k, b * k};
    }
    VImage pixel = withInterpretation(
        (VImage::black(1, 1, VImage::option()->set("bands", 3)) + std::vector<double>{r, gr, b})
            .cast(VIPS_FORMAT_UCHAR),
        VIPS_INTERPRETATION_sRGB);
    return toContextModel(pixel).getpoint(0, 0);
}

void BitmapContext::compositeWithShadow(VImage overlay, int x, int y, double extraAlpha) {
    const GState& gs = state();
    if (gs.shadowOn && gs.shadowColor.alpha > 0.0) {
        const int colour = colourBands(model_);
        const bool overlayAlpha = overlay.bands() == colour + 1;
        VImage a = overlayAlpha ? overlay.extract_band(colour)
                                : VImage::black(overlay.width(), overlay.height()) + maxValue_;
        const double sigma = gs.shadowBlur / 2.0;
        int margin = 0;
        if (sigma >= 0.2) {
            margin = static_cast<int>(std::ceil(3.0 * sigma)) + 1;
            a = a.embed(margin, margin, a.width() + 2 * margin, a.height() + 2 * margin)
                    .gaussblur(sigma, VImage::option()->set("min_ampl", 0.005));
        }
        const double strength = std::clamp(gs.shadowColor.alpha, 0.0, 1.0) * extraAlpha;
        VImage shadowAlpha = inCanvasFormat(a * strength);
        VImage shadow = withInterpretation(
            inCanvasFormat(shadowAlpha.new_from_image(colourComponents(gs.shadowColor)))
                .bandjoin(shadowAlpha),
            interpretation());
        const long long dx = std::llround(gs.shadowOffset.x);
        const long long dy = std::llround(gs.shadowOffset.y);
        const long long sx = static_cast<long long>(x) - margin + dx;
        const long long sy = static_cast<long long>(y) - margin - dy;  // y-up offset, top-down rows
        if (sx > -(1LL << 30) && sx < (1LL << 30) && sy > -(1LL << 30) && sy < (1LL << 30)) {
            compositeOver(shadow, static_cast<int>(sx), static_cast<int>(sy), 1.0);
        }
    }
    compositeOver(std::move(overlay), x, y, extraAlpha);
}

// --- Images --------------------------------------------------------------------------

bool BitmapContext::drawImage(const Image& image, const Rect& rect) {
    const GState& gs = state();
    if (rect.isEmpty() || gs.alpha <= 0.0) {
        return true;
    }
    const int iw = image.width();
    const int ih = image.height();
    const double su = rect.size.width / iw;
    const double sv = rect.size.height / ih;
    const AffineTransform& m = gs.ctm;
    // Image pixel space (u right, v down) → canvas pixel space (columns,
    // rows top-down): through the rectangle, the CTM and the row flip.
    const double l00 = m.a * su;
    const double l01 = -m.c * sv;
    const double l10 = -m.b * su;
    const double l11 = m.d * sv;
    const double top = rect.origin.y + rect.size.height;
    const double t0 = m.a * rect.origin.x + m.c * top + m.tx;
    const double t1 = height_ - (m.b * rect.origin.x + m.d * top + m.ty);
    if (!std::isfinite(l00) || !std::isfinite(l01) || !std::isfinite(l10) || !std::isfinite(l11) ||
        !std::isfinite(t0) || !std::isfinite(t1)) {
        return false;
    }
    const double scale = std::max({std::fabs(l00), std::fabs(l01), std::fabs(l10), std::fabs(l11)});
    try {
        VImage pixels = image.vimage();
        if (pixels.format() == VIPS_FORMAT_FLOAT) {
            // An Image's float samples run 0..1.
            pixels = pixels * 255.0;
        }
        VImage source = toContextModel(pixels);
        const bool diagonal = nearZero(l01, scale) && nearZero(l10, scale);
        const bool swapped = nearZero(l00, scale) && nearZero(l11, scale);
        if (diagonal || swapped) {
            // Scale along the image's own axes, then turn and mirror.
            const double columnsScale = diagonal ? std::fabs(l00) : std::fabs(l10);
            const double rowsScale = diagonal ? std::fabs(l11) : std::fabs(l01);
            const long long tw = std::llround(iw * columnsScale);
            const long long th = std::llround(ih * rowsScale);
            if (tw <= 0 || th <= 0) {
                return true;
            }
            if (tw > VIPS_MAX_COORD || th > VIPS_MAX_COORD ||
                !Image::sizeAllowed(std::min<long long>(tw, width_ + 2LL),
                                    std::min<long long>(th, height_ + 2LL))) {
                return false;
            }
            VImage resized = resizeTo(source, image.hasAlpha(), static_cast<int>(tw),
                                      static_cast<int>(th));
            const bool negateColumns = diagonal ? l00 < 0 : l01 < 0;
            const bool negateRows = diagonal ? l11 < 0 : l10 < 0;
            // Turns and vertical mirrors read rows out of order, which a
            // sequentially loaded source cannot serve.
            if (swapped || negateRows) {
                resized = resized.copy_memory();
            }
            VImage placed = orient(resized, swapped, negateColumns, negateRows);
            const double spanX = diagonal ? l00 * iw : l01 * ih;
            const double spanY = diagonal ? l11 * ih : l10 * iw;
            const long long left = std::llround(std::min(t0, t0 + spanX));
            const long long upper = std::llround(std::min(t1, t1 + spanY));
            if (left >= width_ || upper >= height_ || left + placed.width() <= 0 ||
                upper + placed.height() <= 0) {
                return true;
            }
            compositeWithShadow(placed, static_cast<int>(left), static_cast<int>(upper), gs.alpha);
            return true;
        }
        return drawImageTransformed(source, image.hasAlpha(), {l00, l10, l01, l11, t0, t1});
    } catch (const vips::VError&) {
        return false;
    }
}

bool BitmapContext::drawImageTransformed(VImage source, bool hasAlpha, const AffineTransform& map) {
    // `map` takes image pixel space to canvas pixel space (both top-down).
    const Rect bounds = map.apply(Rect(0, 0, source.width(), source.height()));
    const double cx0 = std::max(0.0, std::floor(bounds.minX()));
    const double cy0 = std::max(0.0, std::floor(bounds.minY()));
    const double cx1 = std::min<double>(width_, std::ceil(bounds.maxX()));
    const double cy1 = std::min<double>(height_, std::ceil(bounds.maxY()));
    if (cx1 <= cx0 || cy1 <= cy0) {
        return true;
    }
    AffineTransform remaining = map;
    const double det = std::fabs(map.determinant());
    if (det <= 0.0 || !std::isfinite(det)) {
        return true;
    }
    if (!hasAlpha) {
        source = source.bandjoin_const({maxValue_});
    }
    // Large reductions first through the Lanczos resize (which streams); the
    // affine interpolator, which needs random access, only handles the rest.
    const double shrink = std::sqrt(det);
    if (shrink >= 0.5) {
        source = source.copy_memory();
    } else {
        const int w = std::max(1, static_cast<int>(std::lround(source.width() * shrink)));
        const int h = std::max(1, static_cast<int>(std::lround(source.height() * shrink)));
        const double fx = static_cast<double>(source.width()) / w;
        const double fy = static_cast<double>(source.height()) / h;
        source = resizeTo(source, true, w, h).copy_memory();
        remaining = map.concatenating(AffineTransform::scale(fx, fy));
    }
    VImage premultiplied = source.premultiply(VImage::option()->set("max_alpha", maxValue_));
    // vips maps pixel centres; ours maps pixel corners.
    const double odx = remaining.tx + 0.5 * (remaining.a + remaining.c) - 0.5;
    const double ody = remaining.ty + 0.5 * (remaining.b + remaining.d) - 0.5;
    const int ox = static_cast<int>(cx0);
    const int oy = static_cast<int>(cy0);
    const int ow = static_cast<int>(cx1 - cx0);
    const int oh = static_cast<int>(cy1 - cy0);
    VImage out = premultiplied.affine(
        {remaining.a, remaining.c, remaining.b, remaining.d},
        VImage::option()
            ->set("interpolate", vips::VInterpolate::new_from_name("bicubic"))
            ->set("odx", odx)
            ->set("ody", ody)
            ->set("oarea", std::vector<int>{ox, oy, ow, oh})
            ->set("extend", VIPS_EXTEND_BLACK));
    out = withInterpretation(inCanvasFormat(out.unpremultiply(VImage::option()->set("max_alpha", maxValue_))),
                             interpretation());
    compositeWithShadow(out, ox, oy, state().alpha);
    return true;
}

// --- Vector drawing ----------------------------------------------------------------

bool BitmapContext::drawVector(const std::function<void(cairo_t*)>& paint) {
    const GState& gs = state();
    cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
    CairoSurface recordingOwner(recording);
    {
        cairo_t* cr = cairo_create(recording);
        CairoContext crOwner(cr);
        const AffineTransform& m = gs.ctm;
        // User space (y-up) → canvas pixels (rows top-down).
        cairo_matrix_t matrix{m.a, -m.b, m.c, -m.d, m.tx, height_ - m.ty};
        if (cairo_matrix_invert(&matrix) != CAIRO_STATUS_SUCCESS) {
            return true;  // a degenerate transform draws nothing
        }
        cairo_matrix_t forward{m.a, -m.b, m.c, -m.d, m.tx, height_ - m.ty};
        cairo_set_matrix(cr, &forward);
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
        paint(cr);
        if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
            return false;
        }
    }
    double ex = 0, ey = 0, ew = 0, eh = 0;
    cairo_recording_surface_ink_extents(recording, &ex, &ey, &ew, &eh);
    if (!(ew > 0) || !(eh > 0) || !std::isfinite(ex) || !std::isfinite(ey) || !std::isfinite(ew) ||
        !std::isfinite(eh)) {
        return true;
    }
    // What can reach the canvas: the canvas itself and, with a shadow, the
    // area whose shadow falls on it.
    double rx0 = 0, ry0 = 0, rx1 = width_, ry1 = height_;
    if (gs.shadowOn) {
        const double margin = std::ceil(1.5 * gs.shadowBlur) + 2;
        const double dx = std::round(gs.shadowOffset.x);
        const double dy = -std::round(gs.shadowOffset.y);
        rx0 = std::min(0.0, -dx) - margin;
        ry0 = std::min(0.0, -dy) - margin;
        rx1 = std::max<double>(width_, width_ - dx) + margin;
        ry1 = std::max<double>(height_, height_ - dy) + margin;
    }
    const double lx0 = std::max(std::floor(ex), rx0);
    const double ly0 = std::max(std::floor(ey), ry0);
    const double lx1 = std::min(std::ceil(ex + ew), rx1);
    const double ly1 = std::min(std::ceil(ey + eh), ry1);
    if (lx1 <= lx0 || ly1 <= ly0) {
        return true;
    }
    const int lw = static_cast<int>(lx1 - lx0);
    const int lh = static_cast<int>(ly1 - ly0);
    if (!Image::sizeAllowed(lw, lh)) {
        return false;
    }
    cairo_surface_t* layer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, lw, lh);
    CairoSurface layerOwner(layer);
    if (cairo_surface_status(layer) != CAIRO_STATUS_SUCCESS) {
        return false;
    }
    {
        cairo_t* cr = cairo_create(layer);
        CairoContext crOwner(cr);
        cairo_set_source_surface(cr, recording, -lx0, -ly0);
        cairo_paint(cr);
        if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
            return false;
        }
    }
    cairo_surface_flush(layer);
    try {
        VImage rgba = StraightRGBAFromCairo(layer);
        compositeWithShadow(toContextModel(rgba), static_cast<int>(lx0), static_cast<int>(ly0), 1.0);
    } catch (const vips::VError&) {
        return false;
    }
    return true;
}

bool BitmapContext::fillRect(const Rect& rect) {
    const GState& gs = state();
    const Rect r = rect.standardized();
    if (r.isEmpty() || gs.alpha <= 0.0 || gs.fill.alpha <= 0.0) {
        return true;
    }
    const AffineTransform& m = gs.ctm;
    const bool axisAligned = m.b == 0.0 && m.c == 0.0;
    if (axisAligned && !gs.shadowOn && gs.alpha * gs.fill.alpha >= 1.0) {
        const Rect device = m.apply(r);
        if (device.minX() <= 0 && device.minY() <= 0 && device.maxX() >= width_ &&
            device.maxY() >= height_) {
            // An opaque fill of the whole canvas is a constant image.
            try {
                overlays_.clear();
                std::vector<double> value = colourComponents(gs.fill);
                if (hasAlpha_) {
                    value.push_back(maxValue_);
                }
                content_ = withInterpretation(inCanvasFormat(blank(width_, height_).new_from_image(value)),
                                              interpretation());
                isBlank_ = false;
                return true;
            } catch (const vips::VError&) {
                return false;
            }
        }
    }
    const Color fill = gs.fill;
    const double alpha = gs.alpha;
    return drawVector([&](cairo_t* cr) {
        cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
        cairo_set_source_rgba(cr, fill.red, fill.green, fill.blue, fill.alpha * alpha);
        cairo_fill(cr);
    });
}

// --- Results -----------------------------------------------------------------------------

ImageRef BitmapContext::makeImage() const {
    try {
        flushOverlays();
        if (format_ == VIPS_FORMAT_UCHAR) {
            return Image::Create(content_);
        }
        // Floats go back to the 0..1 of images and files.
        const VImage deep = format_ == VIPS_FORMAT_FLOAT ? content_ * (1.0 / 255.0) : content_;
        return Image::Create(deep, true);
    } catch (const vips::VError&) {
        return nullptr;
    }
}

bool BitmapContext::writePremultipliedARGB32(std::uint8_t* pixels, std::size_t stride) const {
    if (pixels == nullptr || stride < static_cast<std::size_t>(width_) * 4) {
        return false;
    }
    try {
        flushOverlays();
        VImage rgba = format_ == VIPS_FORMAT_UCHAR
                          ? content_
                          : withInterpretation(toDepth(content_, VIPS_FORMAT_UCHAR), interpretationOf(model_));
        if (model_ != ColorModel::RGB) {
            rgba = toUchar(rgba.colourspace(VIPS_INTERPRETATION_sRGB));
        }
        if (rgba.bands() == 3) {
            rgba = rgba.bandjoin_const({255.0});
        }
        std::size_t size = 0;
        void* memory = rgba.write_to_memory(&size);
        if (memory == nullptr || size != static_cast<std::size_t>(width_) * height_ * 4) {
            g_free(memory);
            return false;
        }
        WritePremultipliedARGB32(static_cast<const std::uint8_t*>(memory), width_, height_, pixels,
                                 stride);
        g_free(memory);
        return true;
    } catch (const vips::VError&) {
        return false;
    }
}

}  // namespace plat
