#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <vips/vips8>

namespace plat::codecs {

// Formats that only ImageMagick reads or writes (BMP, PSD, TGA, ICO, PICT,
// SGI, XBM, MacPaint, fax), through libvips's ImageMagick loader and saver.
//
// The coder is always named explicitly, so ImageMagick never guesses a
// format from the data (none of its script or vector coders is reachable)
// and never interprets the user's file name: it reads a link with a plain
// name in the private temporary folder, removed again after the load.

// Decodes page `page` of the file or of the bytes (pass one of them) fully
// into memory. Throws vips::VError on failure.
vips::VImage LoadWithMagick(const std::filesystem::path* path, const std::uint8_t* data,
                            std::size_t size, const char* coder, int page);
// Number of images ImageMagick finds (1 when it cannot tell).
int CountWithMagick(const std::filesystem::path* path, const std::uint8_t* data,
                    std::size_t size, const char* coder);

// Encodes `image` with the coder ("BMP", "TGA", ...). Empty on failure.
std::vector<std::uint8_t> SaveWithMagick(const vips::VImage& image, const char* coder);

}  // namespace plat::codecs
