#include "platform/CcittFax.h"

#include "platform/TiffMemoryFile.h"

#include <algorithm>
#include <memory>

namespace plat {

namespace {

constexpr std::int64_t kMaxFaxSide = 1 << 20;

struct TiffCloser {
    void operator()(TIFF* tiff) const {
        if (tiff) TIFFClose(tiff);
    }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// The fax data wrapped as the one strip of a TIFF file, which libtiff can
// then decode.
bool WrapAsTiff(std::span<const std::uint8_t> encoded, const CcittFaxParameters& p, TiffMemoryFile* file) {
    TiffHandle tiff(OpenTiffMemoryFile(file, "w"));
    if (!tiff) return false;
    const bool group4 = p.k < 0;
    bool ok = TIFFSetField(tiff.get(), TIFFTAG_IMAGEWIDTH, std::uint32_t(p.columns)) == 1 &&
              TIFFSetField(tiff.get(), TIFFTAG_IMAGELENGTH, std::uint32_t(p.rows)) == 1 &&
              TIFFSetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, 1) == 1 &&
              TIFFSetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, 1) == 1 &&
              TIFFSetField(tiff.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) == 1 &&
              TIFFSetField(tiff.get(), TIFFTAG_ROWSPERSTRIP, std::uint32_t(p.rows)) == 1 &&
              TIFFSetField(tiff.get(), TIFFTAG_COMPRESSION, group4 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3) == 1;
    if (ok && !group4) {
        std::uint32_t options = p.k > 0 ? GROUP3OPT_2DENCODING : 0;
        if (p.encodedByteAlign) options |= GROUP3OPT_FILLBITS;
        ok = TIFFSetField(tiff.get(), TIFFTAG_GROUP3OPTIONS, options) == 1;
    }
    if (!ok) return false;
    if (TIFFWriteRawStrip(tiff.get(), 0, const_cast<std::uint8_t*>(encoded.data()), tmsize_t(encoded.size())) < 0) {
        return false;
    }
    return TIFFWriteDirectory(tiff.get()) == 1;
}

}  // namespace

bool DecodeCcittFax(std::span<const std::uint8_t> encoded, const CcittFaxParameters& p,
                    std::vector<std::uint8_t>* out, std::size_t limit) {
    if (encoded.empty() || p.columns < 1 || p.columns > kMaxFaxSide || p.rows < 1 || p.rows > kMaxFaxSide) {
        return false;
    }
    const std::size_t rowBytes = std::size_t(p.columns + 7) / 8;
    if (rowBytes * std::size_t(p.rows) > limit) return false;

    TiffMemoryFile file;
    if (!WrapAsTiff(encoded, p, &file)) return false;
    file.position = 0;
    TiffHandle tiff(OpenTiffMemoryFile(&file, "r"));
    if (!tiff || TIFFScanlineSize(tiff.get()) != tmsize_t(rowBytes)) return false;

    // libtiff hands out 1 for black; the rows it cannot reach stay white.
    std::vector<std::uint8_t> rows(rowBytes * std::size_t(p.rows), 0);
    for (std::int64_t y = 0; y < p.rows; ++y) {
        if (TIFFReadScanline(tiff.get(), rows.data() + std::size_t(y) * rowBytes, std::uint32_t(y), 0) < 0) {
            std::fill(rows.begin() + std::ptrdiff_t(std::size_t(y) * rowBytes), rows.end(), 0);
            break;
        }
    }
    if (!p.blackIs1) {
        for (std::uint8_t& byte : rows) byte = std::uint8_t(~byte);
    }
    *out = std::move(rows);
    return true;
}

}  // namespace plat
