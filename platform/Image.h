#pragma once

#include "platform/ImageRef.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include <vips/vips8>

namespace plat {

enum class ColorModel { Gray, RGB, CMYK };

// An immutable image: 8-bit sRGB, grey or CMYK pixels, with or without a
// trailing alpha band (not premultiplied), held as a libvips image. An
// embedded ICC profile stays attached as the vips "icc-profile-data" field.
//
// An image made from a sequential load can be read only once, top to bottom;
// ImageRep says when it hands out such an image.
class Image {
public:
    // Wraps `image`, converting it first to the forms above when needed (other
    // colour spaces to sRGB, deeper formats to 8 bits). Throws vips::VError
    // when the conversion is impossible.
    static ImageRef Create(vips::VImage image);
    // Copies plain RGBA (or RGB with `hasAlpha` false) 8-bit pixels, top row
    // first; `stride` 0 means packed rows. Null for an impossible size.
    static ImageRef FromPixels(int width, int height, const std::uint8_t* pixels,
                               std::size_t stride = 0, bool hasAlpha = true);

    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    int bands() const { return image_.bands(); }
    bool hasAlpha() const { return hasAlpha_; }
    ColorModel colorModel() const { return model_; }
    int bitsPerComponent() const { return 8; }
    // Colour components without alpha: 1, 3 or 4.
    int colorComponents() const { return hasAlpha_ ? bands() - 1 : bands(); }
    const vips::VImage& vimage() const { return image_; }

    // The pixels as packed sRGB RGBA, top row first (alpha 255 when the image
    // has none). Empty when the pixels cannot be read.
    std::vector<std::uint8_t> copyRGBA8() const;
    // The image converted to sRGB with alpha (grey and CMYK converted).
    vips::VImage toSRGBA() const;

    // Number of pixels an image may have: guards every decode and allocation.
    static constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 28;
    static bool sizeAllowed(std::int64_t width, std::int64_t height);

private:
    Image(vips::VImage image, ColorModel model, bool hasAlpha)
        : image_(std::move(image)), model_(model), hasAlpha_(hasAlpha) {}

    vips::VImage image_;
    ColorModel model_;
    bool hasAlpha_;
};

// Converts any vips image to the forms Image holds (see Image::Create).
vips::VImage NormaliseForImage(vips::VImage image, ColorModel* model, bool* hasAlpha);

}  // namespace plat
