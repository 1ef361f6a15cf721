#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <vips/vips8>

namespace plat::codecs {

// Icon families (.icns). No Debian library handles them, so this is our
// own small codec for the modern members, which hold PNG or JPEG 2000 data.

// Number of readable icons in the family (0 when it is not one).
int CountIcnsImages(const std::uint8_t* data, std::size_t size);
// Decodes readable icon `index` (largest first). Throws vips::VError.
vips::VImage LoadIcns(const std::uint8_t* data, std::size_t size, int index);
// Writes a family from an 8-bit sRGB image with or without alpha: the image
// fitted into the largest standard square not above its longer side (16 to
// 1024), centred on transparency, plus every smaller standard size, as PNG.
std::vector<std::uint8_t> SaveIcns(const vips::VImage& srgbImage);

}  // namespace plat::codecs
