#include "app/model/CurrentImage.h"

#include "app/model/PixelImage.h"

#include "engine/Geometry.h"
#include "engine/ImageConverter.h"
#include "platform/BitmapContext.h"
#include "platform/Image.h"
#include "platform/PropertyDict.h"

#include <algorithm>
#include <cmath>
#include <exception>

CurrentImage MakeCurrentImage(const std::filesystem::path& url, std::int64_t angle, std::int32_t flipMask,
                              int maxPixelSide) {
    CurrentImage current;
    const double wanted = std::max(1, maxPixelSide);
    ImageConverter converter;
    InitImageConverter(&converter);
    try {
        auto plan = [wanted](const plat::PropertyDict& stored) { return ShrinkOnLoadOptions(stored, wanted); };
        if (!LoadConverterSourceWithPlan(&converter, url, plan) || !converter.sourceRep) return current;
        current.pixelWidth = GetConverterPixelsWide(&converter);
        current.pixelHeight = GetConverterPixelsHigh(&converter);
        current.pointWidth = GetConverterRepWidthPoints(&converter);
        current.pointHeight = GetConverterRepHeightPoints(&converter);
        const bool odd = IsOddQuarterTurn(angle);
        current.shownWidth = odd ? current.pointHeight : current.pointWidth;
        current.shownHeight = odd ? current.pointWidth : current.pointHeight;
        if (current.pixelWidth <= 0.0 || current.pixelHeight <= 0.0) return current;

        // The canvas keeps the source's proportions in pixels, at most the
        // wanted side; the bitmap is the canvas turned.
        const plat::Image& image = *converter.sourceRep->image();
        const double scale = std::min(1.0, wanted / std::max(current.pixelWidth, current.pixelHeight));
        const int canvasWidth = std::max(1, int(std::lround(current.pixelWidth * scale)));
        const int canvasHeight = std::max(1, int(std::lround(current.pixelHeight * scale)));
        const int bitmapWidth = odd ? canvasHeight : canvasWidth;
        const int bitmapHeight = odd ? canvasWidth : canvasHeight;
        auto context = plat::BitmapContext::create(bitmapWidth, bitmapHeight, plat::ColorModel::RGB, true);
        if (!context) return current;
        context->concatCTM(GetOrientationTransform(canvasWidth, canvasHeight, flipMask, angle));
        if (!context->drawImage(image, plat::Rect{{0.0, 0.0}, {double(canvasWidth), double(canvasHeight)}})) {
            return current;
        }
        current.pixels = PixelImageFromContext(*context);
    } catch (const std::exception&) {
        current.pixels.reset();
    }
    return current;
}

double CurrentImageZoom(double pixelWidth, double pixelHeight, std::int64_t angle, double viewWidth,
                        double viewHeight) {
    if (IsOddQuarterTurn(angle)) std::swap(pixelWidth, pixelHeight);
    if (!(pixelWidth > 0.0) || !(pixelHeight > 0.0) || !(viewWidth > 0.0) || !(viewHeight > 0.0)) return 0.0;
    const double ratio = pixelWidth / pixelHeight;
    return ratio > viewWidth / viewHeight ? viewWidth / pixelWidth : viewHeight / pixelHeight;
}
