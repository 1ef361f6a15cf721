#pragma once
// CCITT group 3 and group 4 fax data (PDF's CCITTFaxDecode) decoded through
// libtiff.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace plat {

struct CcittFaxParameters {
    std::int64_t k = 0;          // < 0 group 4, 0 group 3 one-dimensional, > 0 group 3 two-dimensional
    std::int64_t columns = 1728;
    std::int64_t rows = 0;
    bool blackIs1 = false;
    bool encodedByteAlign = false;
};

// Rows of (columns + 7) / 8 bytes, 1 bit per pixel, black 0 (or 1 with
// blackIs1), as a PDF image with this filter describes them. Rows the data
// do not reach stay white. False for impossible sizes, output beyond
// `limit` bytes or data libtiff cannot start on.
bool DecodeCcittFax(std::span<const std::uint8_t> encoded, const CcittFaxParameters& parameters,
                    std::vector<std::uint8_t>* out, std::size_t limit);

}  // namespace plat
