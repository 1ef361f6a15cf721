#include "platform/codecs/Jpeg2000Codec.h"

#include "platform/Image.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace plat::codecs {

using vips::VImage;

namespace {

// OpenJPEG reads the bytes through these callbacks, straight from memory.
struct MemoryReader {
    std::span<const std::uint8_t> data;
    std::size_t position = 0;
};

OPJ_SIZE_T ReadBytes(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* reader = static_cast<MemoryReader*>(user);
    if (reader->position >= reader->data.size()) return static_cast<OPJ_SIZE_T>(-1);
    const std::size_t n = std::min<std::size_t>(size, reader->data.size() - reader->position);
    std::memcpy(buffer, reader->data.data() + reader->position, n);
    reader->position += n;
    return n;
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user) {
    auto* reader = static_cast<MemoryReader*>(user);
    if (count < 0) {
        const auto back = static_cast<std::size_t>(-count);
        if (back > reader->position) return -1;
        reader->position -= back;
        return count;
    }
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), reader->data.size() - reader->position);
    reader->position += n;
    return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL SeekBytes(OPJ_OFF_T position, void* user) {
    auto* reader = static_cast<MemoryReader*>(user);
    if (position < 0 || static_cast<std::uint64_t>(position) > reader->data.size()) return OPJ_FALSE;
    reader->position = static_cast<std::size_t>(position);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

constexpr std::uint32_t kMaxComponents = 5;

// Decoded files above as many samples as Image takes pixels are refused.
constexpr std::uint64_t kMaxFileSamples = Image::kMaxPixels;

}  // namespace

std::unique_ptr<Jpeg2000Image> Jpeg2000Image::Decode(std::span<const std::uint8_t> data, std::uint64_t maxSamples) {
    if (data.size() < 2) return nullptr;
    const bool codestream = data[0] == 0xFF && data[1] == 0x4F;
    std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    if (!codec) return nullptr;
    opj_set_error_handler(codec.get(), Quiet, nullptr);
    opj_set_warning_handler(codec.get(), Quiet, nullptr);
    opj_set_info_handler(codec.get(), Quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) return nullptr;

    MemoryReader reader{data, 0};
    std::unique_ptr<opj_stream_t, StreamDeleter> stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    if (!stream) return nullptr;
    opj_stream_set_user_data(stream.get(), &reader, nullptr);
    opj_stream_set_user_data_length(stream.get(), data.size());
    opj_stream_set_read_function(stream.get(), ReadBytes);
    opj_stream_set_skip_function(stream.get(), SkipBytes);
    opj_stream_set_seek_function(stream.get(), SeekBytes);

    opj_image_t* header = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &header)) {
        opj_image_destroy(header);
        return nullptr;
    }
    std::unique_ptr<opj_image_t, ImageDeleter> image(header);
    // The header's promise is checked before anything is decoded.
    if (image->numcomps == 0 || image->numcomps > kMaxComponents || image->x1 <= image->x0 || image->y1 <= image->y0) {
        return nullptr;
    }
    const std::uint64_t area = std::uint64_t(image->x1 - image->x0) * std::uint64_t(image->y1 - image->y0);
    if (area > maxSamples / image->numcomps) return nullptr;
    if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get())) {
        return nullptr;
    }
    for (std::uint32_t i = 0; i < image->numcomps; ++i) {
        const opj_image_comp_t& c = image->comps[i];
        if (!c.data || c.w == 0 || c.h == 0 || c.dx == 0 || c.dy == 0 || c.prec == 0 || c.prec > 31) return nullptr;
        if (std::uint64_t(c.w) * c.h > area) return nullptr;
    }
    return std::unique_ptr<Jpeg2000Image>(new Jpeg2000Image(image.release()));
}

Jpeg2000Image::~Jpeg2000Image() { opj_image_destroy(image_); }

std::uint32_t Jpeg2000Image::width() const { return image_->x1 - image_->x0; }
std::uint32_t Jpeg2000Image::height() const { return image_->y1 - image_->y0; }
std::uint32_t Jpeg2000Image::originX() const { return image_->x0; }
std::uint32_t Jpeg2000Image::originY() const { return image_->y0; }
std::uint32_t Jpeg2000Image::componentCount() const { return image_->numcomps; }

Jpeg2000Component Jpeg2000Image::component(std::uint32_t index) const {
    const opj_image_comp_t& c = image_->comps[index];
    return {c.w, c.h, c.dx, c.dy, c.x0, c.y0, c.prec, c.sgnd != 0, c.data};
}

Jpeg2000ColorSpace Jpeg2000Image::colorSpace() const {
    switch (image_->color_space) {
    case OPJ_CLRSPC_SRGB: return Jpeg2000ColorSpace::SRGB;
    case OPJ_CLRSPC_GRAY: return Jpeg2000ColorSpace::Gray;
    case OPJ_CLRSPC_SYCC: return Jpeg2000ColorSpace::SYCC;
    case OPJ_CLRSPC_EYCC: return Jpeg2000ColorSpace::EYCC;
    case OPJ_CLRSPC_CMYK: return Jpeg2000ColorSpace::CMYK;
    default: return Jpeg2000ColorSpace::Unspecified;
    }
}

std::span<const std::uint8_t> Jpeg2000Image::iccProfile() const {
    // OpenJPEG hands CIELab colour as a buffer without a length: no profile.
    if (!image_->icc_profile_buf || image_->icc_profile_len == 0) return {};
    return {image_->icc_profile_buf, image_->icc_profile_len};
}

namespace {

// Sample of component `c` for pixel (x, y) of the image area (image origin
// `x0`, `y0` on the canvas), as an unsigned value of the component's precision.
std::int64_t SampleAt(const Jpeg2000Component& c, std::uint32_t x0, std::uint32_t y0, std::uint32_t x, std::uint32_t y) {
    const std::int64_t cx = std::clamp<std::int64_t>(std::int64_t((x0 + x) / c.dx) - c.x0, 0, c.width - 1);
    const std::int64_t cy = std::clamp<std::int64_t>(std::int64_t((y0 + y) / c.dy) - c.y0, 0, c.height - 1);
    const std::int64_t value = c.samples[std::size_t(cy) * c.width + std::size_t(cx)];
    return c.isSigned ? value + (std::int64_t(1) << (c.precision - 1)) : value;
}

// A value of `precision` bits brought to 8 bits (up to 8-bit precision) or
// to 16 bits.
std::uint32_t ToDepth(std::int64_t value, std::uint32_t precision, bool sixteen) {
    const std::int64_t top = (std::int64_t(1) << precision) - 1;
    value = std::clamp<std::int64_t>(value, 0, top);
    const std::uint32_t bits = sixteen ? 16 : 8;
    if (precision == bits) return std::uint32_t(value);
    if (precision > bits) return std::uint32_t(value >> (precision - bits));
    if (sixteen) return std::uint32_t(value << (bits - precision));
    return std::uint32_t((value * 255 + top / 2) / top);
}

}  // namespace

VImage LoadJpeg2000(const std::uint8_t* data, std::size_t size) {
    const auto image = Jpeg2000Image::Decode({data, size}, kMaxFileSamples);
    if (!image) throw vips::VError("damaged or unsupported JPEG 2000 data");
    const std::uint32_t count = image->componentCount();
    const std::uint32_t width = image->width(), height = image->height();
    if (!Image::sizeAllowed(width, height)) throw vips::VError("JPEG 2000 image size out of range");
    const Jpeg2000ColorSpace space = image->colorSpace();
    const bool cmyk = space == Jpeg2000ColorSpace::CMYK && count >= 4;
    // Grey, grey and alpha, RGB, RGB and alpha or CMYK; further components
    // have no place in a picture.
    const std::uint32_t bands = std::min<std::uint32_t>(count, 4);
    std::vector<Jpeg2000Component> components;
    std::uint32_t precision = 0;
    for (std::uint32_t i = 0; i < bands; ++i) {
        components.push_back(image->component(i));
        precision = std::max(precision, components.back().precision);
    }
    // Three colour components stored as luma and chroma (chroma subsampled
    // with no colour space named is YCC too).
    const bool ycc = bands >= 3 && (space == Jpeg2000ColorSpace::SYCC || space == Jpeg2000ColorSpace::EYCC ||
                                    (space == Jpeg2000ColorSpace::Unspecified && components[0].dx == 1 &&
                                     components[0].dy == 1 && (components[1].dx > 1 || components[1].dy > 1)));
    const bool sixteen = precision > 8;
    const std::size_t bytes = std::size_t(width) * height * bands * (sixteen ? 2 : 1);
    auto* out = static_cast<std::uint8_t*>(g_try_malloc(bytes));
    if (!out) throw vips::VError("out of memory");
    VImage result = VImage::new_from_memory_steal(out, bytes, int(width), int(height), int(bands),
                                                  sixteen ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
    auto* out16 = reinterpret_cast<std::uint16_t*>(out);
    const std::uint32_t x0 = image->originX(), y0 = image->originY();
    std::size_t at = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::int64_t values[4] = {};
            for (std::uint32_t b = 0; b < bands; ++b) values[b] = SampleAt(components[b], x0, y0, x, y);
            if (ycc) {
                // Full-range BT.601, as OpenJPEG's own tools convert.
                const double offset = double(std::int64_t(1) << (precision - 1));
                const double luma = double(values[0]), cb = double(values[1]) - offset, cr = double(values[2]) - offset;
                values[0] = std::llround(luma + 1.402 * cr);
                values[1] = std::llround(luma - 0.344136 * cb - 0.714136 * cr);
                values[2] = std::llround(luma + 1.772 * cb);
            }
            for (std::uint32_t b = 0; b < bands; ++b) {
                const std::uint32_t bits = ycc && b < 3 ? precision : components[b].precision;
                const std::uint32_t value = ToDepth(values[b], bits, sixteen);
                if (sixteen) {
                    out16[at + b] = std::uint16_t(value);
                } else {
                    out[at + b] = std::uint8_t(value);
                }
            }
            at += bands;
        }
    }
    VipsInterpretation interpretation = sixteen ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB;
    if (bands <= 2) interpretation = sixteen ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W;
    if (cmyk) interpretation = VIPS_INTERPRETATION_CMYK;
    result = result.copy(VImage::option()->set("interpretation", interpretation));
    const std::span<const std::uint8_t> profile = image->iccProfile();
    if (!profile.empty()) {
        vips_image_set_blob_copy(result.get_image(), VIPS_META_ICC_NAME, profile.data(), profile.size());
    }
    return result;
}

}  // namespace plat::codecs
