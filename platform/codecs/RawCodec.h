#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include <vips/vips8>

namespace plat::codecs {

// Camera raw files through LibRaw (thread-safe build): demosaiced to 8-bit
// sRGB with the camera's white balance, as a camera's own JPEG would be.
// Pass a path or bytes. `halfSize` decodes at half the resolution (faster,
// for thumbnails and strong downscaling). Throws vips::VError on failure.
vips::VImage LoadRaw(const std::filesystem::path* path, const std::uint8_t* data, std::size_t size,
                     bool halfSize);
// Full output size without decoding; false when LibRaw cannot open it.
bool ReadRawHeader(const std::filesystem::path* path, const std::uint8_t* data, std::size_t size,
                   int* width, int* height);

}  // namespace plat::codecs
