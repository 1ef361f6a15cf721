#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plat::codecs {

// The image formats the platform layer reads, each with the loader that
// decodes it. Chosen from the file's own bytes; the name's extension decides
// only for formats without a signature (TGA, MacPaint, fax, camera raw).
enum class ImageFormat {
    Unknown,
    JPEG,
    PNG,
    GIF,
    TIFF,
    JPEG2000,
    WebP,
    PDF,         // first page
    Illustrator, // PDF-compatible .ai, first page
    OpenEXR,
    ICNS,
    BMP,
    Photoshop,
    TGA,
    ICO,
    PICT,
    SGI,
    XBitmap,
    MacPaint,
    Fax,
    CameraRaw,
    HEIF,    // HEIC and other HEIF stills (libheif)
    AVIF,    // AV1 in HEIF (libheif)
    JPEGXL,  // libjxl
};

// Bytes needed at the start of a file for Sniff (fewer are fine).
inline constexpr std::size_t kSniffLength = 4096;

// `head` is the start of the data (up to kSniffLength bytes); `extension` the
// lower-case extension of the file name without the dot ("" for bytes).
ImageFormat Sniff(const std::uint8_t* head, std::size_t length, std::string_view extension);

// The type identifier reported for a format ("public.jpeg", ...).
std::string TypeIdentifierFor(ImageFormat format);

// ImageMagick's coder name for the formats read through it, else "".
const char* MagickCoderFor(ImageFormat format);

}  // namespace plat::codecs
