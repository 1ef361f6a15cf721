#include "engine/Rendering.h"

#include "engine/Encoding.h"
#include "engine/Geometry.h"
#include "engine/ImageTypes.h"
#include "engine/TextWatermark.h"
#include "platform/Image.h"
#include "platform/SharpenLuminance.h"

#include <exception>
#include <utility>
#include <vector>

namespace {

plat::Point ToPoint(const KSMPoint& p) { return {p.x, p.y}; }

// The images-to-PDF tool fixes the resolution after drawing: a fixed value,
// or the one that fits the bitmap into its page box.
void ApplyPageResolution(ImageConverter* c, double bitmapWidth, double bitmapHeight) {
    if (c->fixedDPI > 0.0) {
        c->dpiX = c->dpiY = c->fixedDPI;
        return;
    }
    if (!(c->fitWidth > 0.0 && c->fitHeight > 0.0)) return;
    const double p = c->orientation < 5 ? bitmapWidth : bitmapHeight;
    const double q = c->orientation < 5 ? bitmapHeight : bitmapWidth;
    if (!(p > c->fitWidth || q > c->fitHeight)) return;
    const double boxRatio = c->fitWidth / c->fitHeight;
    const double imageRatio = p / q;
    const bool byWidth = (p >= c->fitWidth && imageRatio >= boxRatio) || (p < c->fitWidth && boxRatio < imageRatio);
    const double factor = byWidth ? p / c->fitWidth : q / c->fitHeight;
    c->dpiX = c->dpiY = factor * 72.0;
}

}  // namespace

plat::ColorModel ChooseRenderColorModel(ImageConverter* c, plat::ColorModel sourceModel, bool sourceHasAlpha) {
    plat::ColorModel model = sourceModel;
    if (c->outputType == kImageTypeCMYKTIFF) {
        model = plat::ColorModel::CMYK;
    } else {
        switch (c->colorMode) {
        case 1: model = plat::ColorModel::RGB; break;
        case 2: model = plat::ColorModel::CMYK; break;
        case 3: model = plat::ColorModel::Gray; break;
        default: break;
        }
    }
    if (model == plat::ColorModel::CMYK && sourceHasAlpha && c->outputType != kImageTypeTIFF &&
        c->outputType != kImageTypeCMYKTIFF) {
        // Only TIFF keeps transparency beside CMYK.
        c->colorMode = 1;
        model = plat::ColorModel::RGB;
    }
    return model;
}

void DrawImageWatermark(ImageConverter* c, plat::BitmapContext& context, double width, double height) {
    WatermarkOptions& w = c->watermark;
    const float s = GetEditorScale(width, height);
    const plat::Point position = GetWatermarkPosition(ToPoint(w.imageOrigin), ToPoint(w.imageEndPoint), width, height,
                                                      w.editorViewSize.width, w.editorViewSize.height, s, s);
    w.imageOrigin = {position.x, position.y};
    if (!w.image) return;
    const plat::Size fitted = FitWatermarkImageSize(w.image->width(), w.image->height());
    context.saveGState();
    context.setAlpha(w.imageOpacity);
    context.drawImage(*w.image, plat::Rect(position.x, position.y, fitted.width * w.imageScale * s,
                                           fitted.height * w.imageScale * s));
    context.setAlpha(1.0);
    context.restoreGState();
}

std::optional<plat::Color> CreateCGColorFromNSColor(const plat::Color* color) {
    if (!color) return std::nullopt;
    return *color;
}

plat::ImageRef CreateImageMaskFromImage(const plat::AffineTransform& transform, const plat::ImageRef& image,
                                        int width, int height, const plat::Rect& drawRect) {
    if (!image) return nullptr;
    try {
        // White with the image's alpha, drawn over black grey: the grey value
        // is the coverage.
        std::vector<std::uint8_t> pixels = image->copyRGBA8();
        if (pixels.empty()) return nullptr;
        for (std::size_t i = 0; i + 3 < pixels.size(); i += 4) pixels[i] = pixels[i + 1] = pixels[i + 2] = 255;
        const plat::ImageRef coverage = plat::Image::FromPixels(image->width(), image->height(), pixels.data(), 0, true);
        auto context = plat::BitmapContext::create(width, height, plat::ColorModel::Gray, false);
        if (!coverage || !context) return nullptr;
        context->concatCTM(transform);
        if (!context->drawImage(*coverage, drawRect)) return nullptr;
        return context->makeImage();
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::optional<plat::ImageRep> GetBitmapImageRep(const std::shared_ptr<const plat::ImageSource>& image) {
    if (!image) return std::nullopt;
    try {
        return plat::ImageRep::Load(image, 0);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int RenderConvertedImage(ImageConverter* c, const plat::ImageRef& image, std::uint32_t canvasWidth,
                         std::uint32_t canvasHeight, bool sharpen, const plat::Rect& drawRect) {
    if (!c || !image || canvasWidth == 0 || canvasHeight == 0) return 0;
    try {
        const bool sourceAlpha = image->hasAlpha();
        int bitmapWidth = static_cast<int>(canvasWidth);
        int bitmapHeight = static_cast<int>(canvasHeight);
        if (IsOddQuarterTurn(c->rotationAngle)) {
            std::swap(c->dpiX, c->dpiY);
            std::swap(bitmapWidth, bitmapHeight);
        }
        if (c->outputType == kImageTypeSource) c->outputType = GetImageTypeCodeForURL(c->sourceURL);
        const plat::ColorModel model = ChooseRenderColorModel(c, image->colorModel(), sourceAlpha);

        // The drawn source always covers the canvas, so the bitmap needs alpha
        // only when the source has it: grey and CMYK sources keep theirs too.
        // In the source's own colour model it keeps the source's depth.
        const int bits = c->colorMode == 0 && model == image->colorModel() ? image->bitsPerComponent() : 8;
        auto context = plat::BitmapContext::create(bitmapWidth, bitmapHeight, model, sourceAlpha, bits);
        if (!context) return 0;

        context->saveGState();
        context->concatCTM(GetOrientationTransform(canvasWidth, canvasHeight, c->flipMask, c->rotationAngle));
        if (!context->drawImage(*image, drawRect)) return 0;
        // Watermarks are placed in the upright output.
        context->restoreGState();

        if (c->imageWatermarkOn) DrawImageWatermark(c, *context, bitmapWidth, bitmapHeight);
        if (c->textWatermarkOn) DrawConverterTextWatermark(c, *context, bitmapWidth, bitmapHeight);

        ApplyPageResolution(c, bitmapWidth, bitmapHeight);

        plat::ImageRef output = context->makeImage();
        context.reset();
        if (!output) return 0;
        if (sharpen) {
            // Sharpening that cannot run keeps the unsharpened image.
            if (plat::ImageRef sharpened = plat::SharpenLuminance(*output, kRenderSharpness)) {
                output = std::move(sharpened);
            }
        }
        return WriteConverterOutput(c, output);
    } catch (const std::exception&) {
        return 0;
    }
}
