#pragma once

#include "platform/ImageRef.h"

#include <cstdint>
#include <vector>

namespace plat {
class TiffWriter;
}

namespace plat::codecs {

// One page of a multi-page TIFF.
struct TiffPage {
    ImageRef image;      // grey, RGB or CMYK, with or without alpha
    double dpiX = 72.0;  // written with unit inch
    double dpiY = 72.0;
    bool lzw = true;     // else uncompressed
    bool keepAlpha = true;
};

// Writes the pages, of any sizes and colour models, into one TIFF file in
// memory through libtiff. Empty on failure.
std::vector<std::uint8_t> WriteTiffPages(const std::vector<TiffPage>& pages);
// Appends the pages to `writer` (a file beside its destination, say), one
// page's pixels in memory at a time. False on failure.
bool WriteTiffPages(TiffWriter& writer, const std::vector<TiffPage>& pages);

}  // namespace plat::codecs
