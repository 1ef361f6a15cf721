#pragma once
// CCITT group 3 and group 4 fax data (PDF's CCITTFaxDecode) decoded with
// poppler's fax decoder, which reads every variant a PDF may hold: one- and
// two-dimensional group 3 with or without end-of-line codes, byte-aligned
// rows, group 4, with or without an end-of-block code.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace plat {

// The filter's DecodeParms, with PDF's defaults.
struct CcittFaxParameters {
    std::int64_t k = 0;          // < 0 group 4, 0 group 3 one-dimensional, > 0 group 3 two-dimensional
    std::int64_t columns = 1728;
    std::int64_t rows = 0;
    bool blackIs1 = false;
    bool encodedByteAlign = false;
    bool endOfLine = false;      // rows begin with end-of-line codes (they are found either way)
    bool endOfBlock = true;      // the data end with an end-of-block code
    std::int64_t damagedRowsBeforeError = 0;
};

// Rows of (columns + 7) / 8 bytes, 1 bit per pixel, black 0 (or 1 with
// blackIs1), as a PDF image with this filter describes them. Rows the data
// do not reach stay white. False for impossible sizes, output beyond
// `limit` bytes or data of which not one row decodes.
bool DecodeCcittFax(std::span<const std::uint8_t> encoded, const CcittFaxParameters& parameters,
                    std::vector<std::uint8_t>* out, std::size_t limit);

}  // namespace plat
