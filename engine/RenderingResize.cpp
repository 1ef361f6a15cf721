#include "engine/RenderingResize.h"

#include "engine/Encoding.h"
#include "engine/ImageTypes.h"
#include "engine/Rendering.h"

#include <algorithm>

namespace {

bool NeedsDrawing(const ImageConverter* c) {
    return c->textWatermarkOn || c->imageWatermarkOn || c->outputType == kImageTypeCMYKTIFF || c->colorMode != 0;
}

// A source of 16 bits or float keeps its depth when it is drawn in its own
// colour model into a format that holds it; the image handed back to the
// caller (preview) is always 8-bit.
bool KeepsSourceDepth(const ImageConverter* c, std::int32_t type) {
    return !c->returnImage && c->colorMode == 0 && TypeKeepsDepth(type);
}

// Encoders that read the image once, top to bottom.
bool EncoderReadsOnce(std::int32_t type) {
    return type == kImageTypeJPEG || type == kImageTypePNG || type == kImageTypeTIFF || type == kImageTypeCMYKTIFF;
}

// A source decoded smaller than it is drawn loses detail: decode it again at
// full size.
bool EnsureDecodedLargeEnough(ImageConverter* c, const plat::Rect& drawRect) {
    const plat::ImageRef& image = c->sourceRep->image();
    if (image->width() >= c->sourceRep->pixelsWide() && image->height() >= c->sourceRep->pixelsHigh()) return true;
    if (drawRect.size.width <= image->width() + 0.5 && drawRect.size.height <= image->height() + 0.5) return true;
    plat::ImageRep::Options full;
    full.sequential = !c->returnImage && EncoderReadsOnce(c->outputType);
    full.lazy = !c->returnImage;
    full.keepDepth = KeepsSourceDepth(c, c->outputType);
    return ReloadConverterSourceRep(c, full) == 1;
}

}  // namespace

ResizeRequest MakeResizeRequest(const ImageResizeOptions& o) {
    ResizeRequest r;
    r.keepProportions = o.keepProportions != 0;
    r.applySize = o.applySize == 1;
    r.upsample = o.upsample != 0;
    r.sharpen = o.sharpen != 0;
    r.dpi = o.dpi;
    r.width = o.width;
    r.height = o.height;
    r.unit = o.unit;
    r.scaleOption = o.scaleOption;
    return r;
}

int ComputeTargetSizeAndRender(ImageConverter* c, const ImageResizeOptions& options) {
    if (!c) return 0;
    if (options.dpi < 1) {
        c->dpiX = GetConverterSourceDPIX(c);
        c->dpiY = GetConverterSourceDPIY(c);
    } else {
        c->dpiX = c->dpiY = static_cast<double>(options.dpi);
    }
    const plat::Size target = ComputeTargetSize(MakeResizeRequest(options), GetConverterPixelsWide(c),
                                                GetConverterPixelsHigh(c), {c->dpiX, c->dpiY});
    return ComputeResizeGeometryAndRender(c, options, target.width, target.height);
}

int ComputeResizeGeometryAndRender(ImageConverter* c, const ImageResizeOptions& options, double targetWidth,
                                   double targetHeight) {
    if (!c || !c->sourceRep || !c->sourceRep->image()) return 0;
    const ResizeGeometry g = ComputeResizeGeometry(MakeResizeRequest(options), GetConverterPixelsWide(c),
                                                   GetConverterPixelsHigh(c), targetWidth, targetHeight,
                                                   {c->dpiX, c->dpiY});
    if (!g.valid) return 0;
    c->dpiX = g.resolution.x;
    c->dpiY = g.resolution.y;
    if (c->outputType == kImageTypeSource) c->outputType = GetImageTypeCodeForURL(c->sourceURL);
    if (!EnsureDecodedLargeEnough(c, g.drawRect)) return 0;

    if (g.keepPixels && !NeedsDrawing(c)) {
        // Only the resolution changes: the pixels go out as they are.
        return WriteConverterOutput(c, c->sourceRep->image());
    }
    return RenderConvertedImage(c, c->sourceRep->image(), g.canvasWidth, g.canvasHeight, g.sharpen, g.drawRect);
}

plat::ImageRep::Options PlanSourceDecode(const ImageConverter* c, const ImageResizeOptions& options,
                                         const plat::PropertyDict& stored) {
    plat::ImageRep::Options decode;
    std::int32_t type = c->outputType;
    if (type == kImageTypeSource) type = GetImageTypeCodeForURL(c->sourceURL);
    decode.sequential = !c->returnImage && EncoderReadsOnce(type);
    // The output is encoded within this conversion, which reports a source
    // that fails to decode then: no need to decode it during the load.
    decode.lazy = !c->returnImage;
    decode.keepDepth = KeepsSourceDepth(c, type);

    const bool turned = stored.integer(plat::prop::Orientation).value_or(1) >= 5;
    const double storedWide = static_cast<double>(stored.integer(plat::prop::PixelWidth).value_or(0));
    const double storedHigh = static_cast<double>(stored.integer(plat::prop::PixelHeight).value_or(0));
    const double W = turned ? storedHigh : storedWide;
    const double H = turned ? storedWide : storedHigh;
    if (W <= 0 || H <= 0) return decode;
    Resolution source{72.0, 72.0};
    const auto dpiX = stored.number(plat::prop::DPIWidth);
    const auto dpiY = stored.number(plat::prop::DPIHeight);
    if (dpiX && dpiY && *dpiX > 0 && *dpiY > 0) source = turned ? Resolution{*dpiY, *dpiX} : Resolution{*dpiX, *dpiY};

    // Only these decoders shrink exactly by the factor asked for.
    const bool shrinks = c->sourceImage && (c->sourceImage->format() == plat::codecs::ImageFormat::JPEG ||
                                            c->sourceImage->format() == plat::codecs::ImageFormat::WebP);
    if (!shrinks) return decode;
    const ResizeGeometry g = ComputeResizeGeometryForSource(MakeResizeRequest(options), W, H, source);
    if (!g.valid || g.keepPixels) return decode;
    const double scale = std::min(g.drawRect.size.width / W, g.drawRect.size.height / H);
    // Decode at a power of two smaller while the result stays at least as
    // large as it is drawn; the Lanczos resize does the rest.
    while (decode.shrink < 8 && scale * decode.shrink * 2 <= 1.0) decode.shrink *= 2;
    return decode;
}

int LoadConverterSourceForResize(ImageConverter* c, const std::filesystem::path& url,
                                 const ImageResizeOptions& options) {
    if (!c) return 0;
    c->sourceURL = url;
    return LoadConverterSourceWithPlan(
        c, url, [&](const plat::PropertyDict& stored) { return PlanSourceDecode(c, options, stored); });
}
