#pragma once

#include "platform/ImageRef.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include <vips/vips8>

namespace plat {

enum class ColorModel { Gray, RGB, CMYK };

// An immutable image: sRGB, grey or CMYK pixels, with or without a trailing
// alpha band (not premultiplied), held as a libvips image. An embedded ICC
// profile stays attached as the vips "icc-profile-data" field.
//
// Samples are 8 bits, unless the image was made keeping its depth: then grey
// and RGB images of 16 bits stay 16-bit (vips "grey16"/"rgb16") and float
// images stay 32-bit float with 0..1 as their range, as in the files that
// hold them. CMYK is always 8 bits.
//
// An image made from a sequential load can be read only once, top to bottom;
// ImageRep says when it hands out such an image.
class Image {
public:
    // Wraps `image`, converting it first to the forms above when needed (other
    // colour spaces to sRGB, deeper formats to 8 bits unless `keepDepth`).
    // Throws vips::VError when the conversion is impossible.
    static ImageRef Create(vips::VImage image, bool keepDepth = false);
    // Copies plain RGBA (or RGB with `hasAlpha` false) 8-bit pixels, top row
    // first; `stride` 0 means packed rows. Null for an impossible size.
    static ImageRef FromPixels(int width, int height, const std::uint8_t* pixels,
                               std::size_t stride = 0, bool hasAlpha = true);

    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    int bands() const { return image_.bands(); }
    bool hasAlpha() const { return hasAlpha_; }
    ColorModel colorModel() const { return model_; }
    // 8, 16 or 32 (float).
    int bitsPerComponent() const { return BitsOfFormat(image_.format()); }
    static int BitsOfFormat(VipsBandFormat format) {
        return format == VIPS_FORMAT_USHORT ? 16 : format == VIPS_FORMAT_FLOAT ? 32 : 8;
    }
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
vips::VImage NormaliseForImage(vips::VImage image, ColorModel* model, bool* hasAlpha, bool keepDepth = false);

// Image samples of any depth as 8 bits: 16-bit v becomes round(v / 257),
// float f (0..1) round(f × 255), clipped; "grey16" and "rgb16" become "b-w"
// and "srgb". 8-bit samples are returned as they are.
vips::VImage EightBitSamples(const vips::VImage& image);
// Float samples (0..1) as 16 bits, round(f × 65535); others as they are.
vips::VImage AtMostSixteenBitSamples(const vips::VImage& image);

}  // namespace plat
