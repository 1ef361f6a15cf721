#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <vips/vips8>

namespace plat::codecs {

// OpenEXR through its own C++ library, in memory. Pixels are linear light
// (scRGB) in the file and sRGB-encoded 8-bit in Vantrell's images.

// Decodes the RGBA layer into a float scRGB image (alpha 0..1 scaled to
// 0..255). Throws vips::VError on failure or an oversized image.
vips::VImage LoadExr(const std::uint8_t* data, std::size_t size);
// Size and alpha presence without decoding; false when not readable.
bool ReadExrHeader(const std::uint8_t* data, std::size_t size, int* width, int* height, bool* hasAlpha);
// Encodes an sRGB (or grey) image, alpha kept, with ZIP compression: 8-bit
// samples as half floats, 16-bit samples as 32-bit floats, both made linear;
// float samples (0..1) as 32-bit floats as they are. Empty on failure.
std::vector<std::uint8_t> SaveExr(const vips::VImage& srgbImage);

}  // namespace plat::codecs
