#include "app/model/PixelImage.h"

#include "platform/BitmapContext.h"
#include "platform/Image.h"
#include "platform/PropertyDict.h"

#include <algorithm>

plat::ImageRep::Options ShrinkOnLoadOptions(const plat::PropertyDict& stored, double wantedPixels) {
    plat::ImageRep::Options options;
    const double longer = double(std::max(stored.integer(plat::prop::PixelWidth).value_or(0),
                                          stored.integer(plat::prop::PixelHeight).value_or(0)));
    while (options.shrink < 8 && longer / (options.shrink * 2) >= wantedPixels) options.shrink *= 2;
    return options;
}

ThumbnailRef PixelImageFromContext(const plat::BitmapContext& context) {
    plat::ImageRef drawn = context.makeImage();
    if (!drawn) return nullptr;
    auto pixels = std::make_shared<ThumbnailImage>();
    pixels->width = drawn->width();
    pixels->height = drawn->height();
    pixels->rgba = drawn->copyRGBA8();
    if (pixels->rgba.size() != std::size_t(pixels->width) * std::size_t(pixels->height) * 4) return nullptr;
    return pixels;
}
