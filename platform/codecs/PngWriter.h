#pragma once

#include <vips/vips8>

#include <cstddef>
#include <functional>

namespace plat::codecs {

// Whether WritePng takes the image: grey, grey and alpha, RGB or RGBA, of
// 8 or 16 bits. Other images go through libvips's own PNG saver.
bool CanWritePng(const vips::VImage& image);

// Writes `image` as PNG through `write` (false: the write failed), in the
// order of the file, as libvips computes its rows: adaptive row filters
// chosen as libpng chooses them, zlib level 6 with a shorter match search.
// Bands of rows are filtered and deflated on all cores and joined into one
// zlib stream (each band starts with the window of the one before), so that
// the filters cost no time; a band in flight holds about 3 MiB. The image's
// resolution goes into pHYs and its ICC profile into iCCP. Throws
// vips::VError when the pixels cannot be computed or a write fails.
void WritePng(const vips::VImage& image, const std::function<bool(const void* data, std::size_t size)>& write);

}  // namespace plat::codecs
