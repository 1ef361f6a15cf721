#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plat {

class ImageSource;

// The metadata blocks an image carries, as stored, for writers that embed
// them as they are: EXIF as a TIFF structure (without JPEG's "Exif\0\0"
// prefix), the ICC profile, the XMP packet. Empty vectors when absent.
struct EmbeddedMetadata {
    std::vector<std::uint8_t> exif;
    std::vector<std::uint8_t> icc;
    std::vector<std::uint8_t> xmp;
};

// The blocks of image `index` of `source`. Throws std::exception (vips::VError)
// when the image cannot be read.
EmbeddedMetadata ReadEmbeddedMetadata(const ImageSource& source, std::size_t index = 0);

}  // namespace plat
