#include "platform/CcittFax.h"

#include "platform/PopplerMessages.h"

#include <Object.h>
#include <Stream.h>

#include <algorithm>
#include <memory>

namespace plat {

namespace {

constexpr std::int64_t kMaxFaxSide = 1 << 20;

int Clamped(std::int64_t value, std::int64_t low, std::int64_t high) {
    return static_cast<int>(std::clamp(value, low, high));
}

}  // namespace

bool DecodeCcittFax(std::span<const std::uint8_t> encoded, const CcittFaxParameters& p,
                    std::vector<std::uint8_t>* out, std::size_t limit) {
    if (encoded.empty() || p.columns < 1 || p.columns > kMaxFaxSide || p.rows < 1 || p.rows > kMaxFaxSide) {
        return false;
    }
    const std::size_t rowBytes = std::size_t(p.columns + 7) / 8;
    const std::size_t size = rowBytes * std::size_t(p.rows);
    if (size > limit) return false;
    SilencePopplerMessages();

    // Only the filter chain is exported from poppler: a stream dictionary
    // naming the filter and its parameters makes the decoder.
    auto* parms = new Dict(static_cast<XRef*>(nullptr));
    parms->add("K", Object(Clamped(p.k, -1, 1 << 20)));
    parms->add("Columns", Object(int(p.columns)));
    parms->add("Rows", Object(int(p.rows)));
    parms->add("BlackIs1", Object(p.blackIs1));
    parms->add("EncodedByteAlign", Object(p.encodedByteAlign));
    parms->add("EndOfLine", Object(p.endOfLine));
    parms->add("EndOfBlock", Object(p.endOfBlock));
    parms->add("DamagedRowsBeforeError", Object(Clamped(p.damagedRowsBeforeError, 0, 1 << 20)));
    Object dict(new Dict(static_cast<XRef*>(nullptr)));
    dict.dictAdd("Filter", Object(objName, "CCITTFaxDecode"));
    dict.dictAdd("DecodeParms", Object(parms));
    // The memory stream reads the bytes in place; the decoder owns it.
    auto* source = new MemStream(reinterpret_cast<const char*>(encoded.data()), 0, Goffset(encoded.size()),
                                 Object(objNull));
    std::unique_ptr<Stream> fax(source->addFilters(dict.getDict()));
    if (!fax || fax.get() == source) {
        delete source;
        return false;
    }
    fax->reset();
    // poppler hands out the rows as a PDF image reads them: 0 black unless
    // BlackIs1. The rows the data do not reach stay white.
    std::vector<std::uint8_t> rows(size, p.blackIs1 ? 0x00 : 0xFF);
    std::size_t filled = 0;
    while (filled < size) {
        const int read = fax->doGetChars(int(std::min<std::size_t>(size - filled, 1 << 16)), rows.data() + filled);
        if (read <= 0) break;
        filled += std::size_t(read);
    }
    if (filled < rowBytes) return false;
    *out = std::move(rows);
    return true;
}

}  // namespace plat
