#include "platform/Image.h"

#include "platform/DecodeWatch.h"

#include <cstring>
#include <limits>

namespace plat {

using vips::VImage;

namespace {

// round(v / 257) for every 16-bit v: one table lookup a sample instead of
// three passes through floats over the whole image.
const VImage& SixteenToEightBitTable() {
    // Never freed: it would outlive libvips at exit.
    static const VImage* table = new VImage(
        (VImage::identity(VImage::option()->set("ushort", true)) / 257.0)
            .round(VIPS_OPERATION_ROUND_RINT)
            .cast(VIPS_FORMAT_UCHAR)
            .copy_memory());
    return *table;
}

// Brings any sample format down to 8 bits per sample, to the nearest step:
// 16-bit v to v / 257, float (0..1, as files hold it) f to f × 255.
VImage ToUchar(VImage image, bool sixteenBit) {
    const VipsBandFormat format = image.format();
    if (format == VIPS_FORMAT_UCHAR) return image;
    if (format == VIPS_FORMAT_USHORT) return image.maplut(SixteenToEightBitTable());
    if (sixteenBit) {
        return (image / 257.0).round(VIPS_OPERATION_ROUND_RINT).cast(VIPS_FORMAT_UCHAR);
    }
    if (format == VIPS_FORMAT_FLOAT || format == VIPS_FORMAT_DOUBLE) {
        // Values outside 0..1 are clipped by the cast's saturation.
        return (image * 255.0).round(VIPS_OPERATION_ROUND_RINT).cast(VIPS_FORMAT_UCHAR);
    }
    return image.cast(VIPS_FORMAT_UCHAR);
}

bool IsDeep(VipsBandFormat format) {
    return format == VIPS_FORMAT_USHORT || format == VIPS_FORMAT_FLOAT || format == VIPS_FORMAT_DOUBLE;
}

// Grey or RGB samples of 16 bits or float kept as they are, tagged as Image
// holds them. False (image untouched) for colour spaces that are made 8-bit
// sRGB, grey or CMYK instead.
bool KeepDeepSamples(VImage& image, VipsInterpretation interpretation, ColorModel* model, int* colour) {
    switch (interpretation) {
    case VIPS_INTERPRETATION_B_W:
    case VIPS_INTERPRETATION_GREY16:
    case VIPS_INTERPRETATION_sRGB:
    case VIPS_INTERPRETATION_RGB:
    case VIPS_INTERPRETATION_RGB16:
    case VIPS_INTERPRETATION_MULTIBAND:
        break;
    default:
        return false;
    }
    const bool grey = interpretation == VIPS_INTERPRETATION_B_W || interpretation == VIPS_INTERPRETATION_GREY16 ||
                      image.bands() < 3;
    if (image.format() == VIPS_FORMAT_DOUBLE) image = image.cast(VIPS_FORMAT_FLOAT);
    const bool sixteen = image.format() == VIPS_FORMAT_USHORT;
    VipsInterpretation tag = grey ? (sixteen ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W)
                                  : (sixteen ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB);
    image = image.copy(VImage::option()->set("interpretation", tag));
    *model = grey ? ColorModel::Gray : ColorModel::RGB;
    *colour = grey ? 1 : 3;
    return true;
}

}  // namespace

VImage EightBitSamples(const VImage& image) {
    if (image.format() == VIPS_FORMAT_UCHAR) return image;
    VipsInterpretation interpretation = image.interpretation();
    if (interpretation == VIPS_INTERPRETATION_GREY16) interpretation = VIPS_INTERPRETATION_B_W;
    if (interpretation == VIPS_INTERPRETATION_RGB16) interpretation = VIPS_INTERPRETATION_sRGB;
    return ToUchar(image, false).copy(VImage::option()->set("interpretation", interpretation));
}

VImage AtMostSixteenBitSamples(const VImage& image) {
    if (image.format() != VIPS_FORMAT_FLOAT && image.format() != VIPS_FORMAT_DOUBLE) return image;
    VipsInterpretation interpretation = image.interpretation();
    if (interpretation == VIPS_INTERPRETATION_B_W) interpretation = VIPS_INTERPRETATION_GREY16;
    if (interpretation == VIPS_INTERPRETATION_sRGB) interpretation = VIPS_INTERPRETATION_RGB16;
    return (image * 65535.0)
        .round(VIPS_OPERATION_ROUND_RINT)
        .cast(VIPS_FORMAT_USHORT)
        .copy(VImage::option()->set("interpretation", interpretation));
}

VImage NormaliseForImage(VImage image, ColorModel* model, bool* hasAlpha, bool keepDepth) {
    // Signed samples (TIFF's sample format 2) into the unsigned format of
    // their width, as libvips's cast takes them: the values kept, negative
    // ones at 0. Read as they were, they would come out of one colour.
    if (image.format() == VIPS_FORMAT_SHORT) image = image.cast(VIPS_FORMAT_USHORT);
    if (image.format() == VIPS_FORMAT_CHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    VipsInterpretation interpretation = vips_image_guess_interpretation(image.get_image());
    int colour = 3;
    ColorModel m = ColorModel::RGB;
    const bool kept = keepDepth && IsDeep(image.format()) && KeepDeepSamples(image, interpretation, &m, &colour);
    if (!kept) switch (interpretation) {
    case VIPS_INTERPRETATION_B_W:
    case VIPS_INTERPRETATION_GREY16:
        m = ColorModel::Gray;
        colour = 1;
        if (interpretation == VIPS_INTERPRETATION_GREY16 || image.format() != VIPS_FORMAT_UCHAR) {
            image = ToUchar(image, interpretation == VIPS_INTERPRETATION_GREY16);
            image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
        }
        break;
    case VIPS_INTERPRETATION_CMYK:
        m = ColorModel::CMYK;
        colour = 4;
        if (image.bands() < 4) {
            image = image.colourspace(VIPS_INTERPRETATION_sRGB);
            m = ColorModel::RGB;
            colour = 3;
        } else if (image.format() != VIPS_FORMAT_UCHAR) {
            image = ToUchar(image, image.format() == VIPS_FORMAT_USHORT);
            image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK));
        }
        break;
    case VIPS_INTERPRETATION_sRGB:
    case VIPS_INTERPRETATION_RGB:
        if (image.bands() < 3) {
            m = ColorModel::Gray;
            colour = 1;
            image = ToUchar(image, false)
                        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
            break;
        }
        if (image.format() != VIPS_FORMAT_UCHAR) image = ToUchar(image, false);
        image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        break;
    case VIPS_INTERPRETATION_RGB16:
        // To the nearest 8-bit step (vips's own conversion drops the low byte).
        image = ToUchar(image, true).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        break;
    case VIPS_INTERPRETATION_MULTIBAND:
        if (image.bands() < 3) {
            m = ColorModel::Gray;
            colour = 1;
            image = ToUchar(image, image.format() == VIPS_FORMAT_USHORT)
                        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
        } else {
            image = ToUchar(image, image.format() == VIPS_FORMAT_USHORT)
                        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        }
        break;
    default:
        // Lab, XYZ, scRGB (OpenEXR) and the rest: to sRGB.
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
        if (image.format() != VIPS_FORMAT_UCHAR) image = ToUchar(image, false);
        break;
    }
    // Keep the colour bands and at most one alpha band.
    if (image.bands() > colour + 1) image = image.extract_band(0, VImage::option()->set("n", colour + 1));
    if (image.bands() < colour) {
        throw vips::VError("image has too few bands for its colour space");
    }
    if (model) *model = m;
    if (hasAlpha) *hasAlpha = image.bands() == colour + 1;
    return image;
}

bool Image::sizeAllowed(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) return false;
    if (width > VIPS_MAX_COORD || height > VIPS_MAX_COORD) return false;
    return std::uint64_t(width) * std::uint64_t(height) <= kMaxPixels;
}

ImageRef Image::Create(VImage image, bool keepDepth) {
    if (!sizeAllowed(image.width(), image.height())) {
        throw vips::VError("image size out of range");
    }
    ColorModel model = ColorModel::RGB;
    bool alpha = false;
    VImage normal = NormaliseForImage(std::move(image), &model, &alpha, keepDepth);
    return ImageRef(new Image(std::move(normal), model, alpha));
}

ImageRef Image::FromPixels(int width, int height, const std::uint8_t* pixels, std::size_t stride,
                           bool hasAlpha) {
    if (!pixels || !sizeAllowed(width, height)) return nullptr;
    const int bands = hasAlpha ? 4 : 3;
    const std::size_t rowBytes = std::size_t(width) * bands;
    if (stride == 0) stride = rowBytes;
    if (stride < rowBytes) return nullptr;
    try {
        VImage image = VImage::new_memory();
        // Copy into a buffer that vips owns, then wrap it.
        const std::size_t size = rowBytes * std::size_t(height);
        auto* buffer = static_cast<std::uint8_t*>(g_try_malloc(size));
        if (!buffer) return nullptr;
        for (int y = 0; y < height; ++y) {
            std::memcpy(buffer + rowBytes * y, pixels + stride * y, rowBytes);
        }
        image = VImage::new_from_memory_steal(buffer, size, width, height, bands, VIPS_FORMAT_UCHAR);
        image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        return ImageRef(new Image(std::move(image), ColorModel::RGB, hasAlpha));
    } catch (const vips::VError&) {
        return nullptr;
    }
}

VImage Image::toSRGBA() const {
    VImage image = EightBitSamples(image_);
    if (model_ == ColorModel::Gray) {
        VImage grey = hasAlpha_ ? image.extract_band(0) : image;
        // The static vector form: grey.bandjoin({grey, grey}) would pick the
        // constant overload and make two bands.
        VImage rgb = VImage::bandjoin(std::vector<VImage>{grey, grey, grey});
        if (hasAlpha_) rgb = rgb.bandjoin(image.extract_band(1));
        image = rgb.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    } else if (model_ == ColorModel::CMYK) {
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
        if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    } else if (vips_image_get_typeof(image.get_image(), VIPS_META_ICC_NAME)) {
        // Pixels in another RGB space (Adobe RGB, Display P3) become sRGB;
        // a profile that cannot be used leaves them as they are.
        try {
            VImage converted = image.icc_transform("srgb", VImage::option()->set("embedded", true)->set("depth", 8));
            if (converted.format() != VIPS_FORMAT_UCHAR) converted = converted.cast(VIPS_FORMAT_UCHAR);
            image = converted.copy_memory();
        } catch (const vips::VError&) {
            // A decode that failed is not read a second time: once is the
            // only run a one-pass decoder survives cleanly.
            if (DecodeFailed(image)) throw;
            vips_error_clear();
        }
    }
    if (image.bands() == 3) image = image.bandjoin_const({255.0});
    return image;
}

std::vector<std::uint8_t> Image::copyRGBA8() const {
    std::vector<std::uint8_t> result;
    try {
        VImage rgba = toSRGBA();
        std::size_t size = 0;
        void* memory = rgba.write_to_memory(&size);
        if (!memory) return result;
        const auto* bytes = static_cast<const std::uint8_t*>(memory);
        result.assign(bytes, bytes + size);
        g_free(memory);
        if (DecodeFailed(rgba)) result.clear();
    } catch (const vips::VError&) {
        result.clear();
    }
    return result;
}

}  // namespace plat
