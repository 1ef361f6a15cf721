#pragma once
// JPEG 2000 (a raw codestream or a JP2 file) decoded with OpenJPEG, for
// image files and for the image streams of PDF files alike.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include <vips/vips8>

struct opj_image;

namespace plat::codecs {

enum class Jpeg2000ColorSpace { Unspecified, SRGB, Gray, SYCC, EYCC, CMYK };

// One component as the codestream holds it: `width` × `height` samples, one
// for every `dx` × `dy` pixels of the image, rows top-down.
struct Jpeg2000Component {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t dx = 1;
    std::uint32_t dy = 1;
    std::uint32_t x0 = 0;  // position of the first sample, in component samples
    std::uint32_t y0 = 0;
    std::uint32_t precision = 0;  // bits
    bool isSigned = false;
    const std::int32_t* samples = nullptr;
};

// A decoded JPEG 2000 image, its components as stored.
class Jpeg2000Image {
public:
    // Null when the data cannot be decoded, has no component or more than
    // five, or would decode to more than `maxSamples` samples (OpenJPEG
    // holds four bytes for each while it decodes). The sizes are checked on
    // the header, before anything is decoded.
    static std::unique_ptr<Jpeg2000Image> Decode(std::span<const std::uint8_t> data, std::uint64_t maxSamples);

    ~Jpeg2000Image();
    Jpeg2000Image(const Jpeg2000Image&) = delete;
    Jpeg2000Image& operator=(const Jpeg2000Image&) = delete;

    // The image area in pixels, and where it starts on the canvas (the
    // components' sampling grid starts at the canvas origin).
    std::uint32_t width() const;
    std::uint32_t height() const;
    std::uint32_t originX() const;
    std::uint32_t originY() const;
    std::uint32_t componentCount() const;
    Jpeg2000Component component(std::uint32_t index) const;
    Jpeg2000ColorSpace colorSpace() const;
    // The embedded ICC profile; empty without one.
    std::span<const std::uint8_t> iccProfile() const;

private:
    explicit Jpeg2000Image(opj_image* image) : image_(image) {}
    opj_image* image_;
};

// A JPEG 2000 file as libvips pixels at its own depth: 8 bits per sample up
// to 8-bit precision, 16 bits (scaled to the full range) above. Grey, grey
// with alpha, RGB (YCC converted), RGB with alpha or CMYK; subsampled
// components are spread over the pixels they cover; the ICC profile is kept.
// Throws vips::VError.
vips::VImage LoadJpeg2000(const std::uint8_t* data, std::size_t size);

}  // namespace plat::codecs
