#include "platform/Jbig2.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <Object.h>
#include <Stream.h>
#include <Dict.h>

extern "C" {
#include <jbig2.h>
}

#include "platform/PopplerMessages.h"

namespace plat {

namespace {

constexpr std::int64_t kMaxJbig2Side = 1 << 20;

// jbig2dec's allocations counted against a budget, so that a page header
// claiming a huge page fails instead of taking the machine's memory.
struct BudgetAllocator {
    Jbig2Allocator base;  // first, so jbig2dec's pointer is ours
    std::size_t budget = 0;
    std::size_t used = 0;
};

// Each block carries its size in front of it.
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* Allocate(Jbig2Allocator* allocator, std::size_t size) {
    auto* a = reinterpret_cast<BudgetAllocator*>(allocator);
    if (size > a->budget - a->used) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block) return nullptr;
    std::memcpy(block, &size, sizeof size);
    a->used += size;
    return block + kHeader;
}

void Free(Jbig2Allocator* allocator, void* p) {
    if (!p) return;
    auto* a = reinterpret_cast<BudgetAllocator*>(allocator);
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    a->used -= size;
    std::free(block);
}

void* Reallocate(Jbig2Allocator* allocator, void* p, std::size_t size) {
    if (!p) return Allocate(allocator, size);
    auto* a = reinterpret_cast<BudgetAllocator*>(allocator);
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    std::size_t old = 0;
    std::memcpy(&old, block, sizeof old);
    if (size > old && size - old > a->budget - a->used) return nullptr;
    auto* grown = static_cast<unsigned char*>(std::realloc(block, size + kHeader));
    if (!grown) return nullptr;
    std::memcpy(grown, &size, sizeof size);
    a->used = a->used - old + size;
    return grown + kHeader;
}

// A fatal message means the data are damaged; warnings are not failures.
void NoteError(void* data, const char*, Jbig2Severity severity, std::uint32_t) {
    if (severity == JBIG2_SEVERITY_FATAL) *static_cast<bool*>(data) = true;
}

struct Decoder {
    BudgetAllocator allocator;
    bool fatal = false;
    Jbig2GlobalCtx* globals = nullptr;
    Jbig2Ctx* context = nullptr;
    Jbig2Image* page = nullptr;

    ~Decoder() {
        if (page) jbig2_release_page(context, page);
        if (context) jbig2_ctx_free(context);
        if (globals) jbig2_global_ctx_free(globals);
    }

    Jbig2Ctx* NewContext(Jbig2GlobalCtx* withGlobals) {
        return jbig2_ctx_new(&allocator.base, JBIG2_OPTIONS_EMBEDDED, withGlobals, NoteError, &fatal);
    }
};

std::uint32_t ReadBe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Walks the segment headers of `data`, handing each segment's type, the
// part of its data present and the whole segment to `onSegment`. False when the data are not whole
// segments: jbig2dec waits for the rest of a cut segment and then leaves its
// region out silently, so a truncated stream would give a blank image.
template <typename OnSegment>
bool ForEachSegment(std::span<const std::uint8_t> data, OnSegment&& onSegment) {
    std::size_t at = 0;
    while (at < data.size()) {
        const std::size_t left = data.size() - at;
        if (left < 6) return false;
        const std::uint8_t* h = data.data() + at;
        const std::uint32_t number = ReadBe32(h);
        const int type = h[4] & 0x3F;
        const bool longPage = (h[4] & 0x40) != 0;
        std::size_t size = 5;
        std::size_t referred = h[5] >> 5;
        if (referred == 7) {
            if (left < 9) return false;
            referred = ReadBe32(h + 5) & 0x1FFFFFFF;
            if (referred > left) return false;
            size += 4 + (referred + 8) / 8;
        } else if (referred > 4) {
            return false;
        } else {
            size += 1;
        }
        size += referred * (number <= 256 ? 1 : number <= 65536 ? 2 : 4) + (longPage ? 4 : 1);
        if (size + 4 > left) return false;
        const std::uint32_t length = ReadBe32(h + size);
        size += 4;
        // An unknown length is allowed for the last segment only, which
        // jbig2dec then decodes from what there is.
        if (length == 0xFFFFFFFFu) {
            onSegment(type, data.subspan(at + size), data.subspan(at));
            return true;
        }
        if (length > left - size) return false;
        onSegment(type, data.subspan(at + size, length), data.subspan(at, size + length));
        at += size + length;
    }
    return true;
}

bool HoldsWholeSegments(std::span<const std::uint8_t> data) {
    return ForEachSegment(data, [](int, std::span<const std::uint8_t>, std::span<const std::uint8_t>) {});
}

bool Feed(Jbig2Ctx* context, std::span<const std::uint8_t> data) {
    return jbig2_data_in(context, data.data(), data.size()) >= 0;
}

}  // namespace

std::uint64_t Jbig2DeclaredBytes(std::span<const std::uint8_t> encoded) {
    constexpr std::uint64_t kBeyond = std::uint64_t(1) << 62;
    std::uint64_t total = 0;
    const auto add = [&](std::uint64_t width, std::uint64_t height) {
        const std::uint64_t bytes = width == 0 ? 0 : (width + 7) / 8;
        total = height != 0 && bytes > kBeyond / height ? kBeyond : std::min(kBeyond, total + bytes * height);
    };
    // A page of unknown height grows stripe by stripe, to the last row an
    // end-of-stripe segment names.
    std::uint64_t stripedWidth = 0, stripedRows = 0;
    const bool whole = ForEachSegment(encoded, [&](int type, std::span<const std::uint8_t> data, auto) {
        if (type == 50 && data.size() >= 4) stripedRows = std::max<std::uint64_t>(stripedRows, ReadBe32(data.data()) + 1ull);
        // A pattern dictionary: its patterns side by side in one bitmap.
        if (type == 16 && data.size() >= 7) add((std::uint64_t(ReadBe32(data.data() + 3)) + 1) * data[1], data[2]);
        if (data.size() < 8) return;
        const std::uint64_t width = ReadBe32(data.data());
        const std::uint64_t height = ReadBe32(data.data() + 4);
        if (type == 48 && height == 0xFFFFFFFFu) {
            stripedWidth = std::max(stripedWidth, width);
            if (data.size() >= 19) stripedRows = std::max<std::uint64_t>(stripedRows, ((data[17] << 8) | data[18]) & 0x7FFF);
        } else if (type == 48 || (type >= 4 && type <= 7) || (type >= 20 && type <= 23) || (type >= 36 && type <= 43)) {
            add(width, height);  // a page, or a region's own bitmap drawn into it
        }
    });
    add(stripedWidth, stripedRows);
    return whole ? total : kBeyond;
}

namespace {

// The page bitmap a decoder made (`pageWidth` pixels wide, rows of
// `stride` bytes, `ones` the value of black bits) as the image's rows:
// cut or padded white to `width` x `height`, 0 black.
std::vector<std::uint8_t> ImageRows(const std::uint8_t* page, std::size_t pageWidth, std::size_t pageRows,
                                    std::size_t stride, bool invert, std::int64_t width, std::int64_t height) {
    const std::size_t rowBytes = std::size_t(width + 7) / 8;
    std::vector<std::uint8_t> rows(rowBytes * std::size_t(height), 0xFF);
    const std::size_t copyRows = std::min<std::size_t>(std::size_t(height), pageRows);
    const std::size_t copyBytes = std::min<std::size_t>(rowBytes, (pageWidth + 7) / 8);
    for (std::size_t y = 0; y < copyRows; ++y) {
        const std::uint8_t* from = page + y * stride;
        std::uint8_t* to = rows.data() + y * rowBytes;
        for (std::size_t x = 0; x < copyBytes; ++x) to[x] = invert ? std::uint8_t(~from[x]) : from[x];
    }
    // Bits past the page's right edge are white, also within its last byte.
    if (pageWidth % 8 != 0 && copyBytes == (pageWidth + 7) / 8 && std::size_t(width) > pageWidth) {
        const std::uint8_t pad = std::uint8_t(0xFF >> (pageWidth % 8));
        for (std::size_t y = 0; y < copyRows; ++y) rows[y * rowBytes + copyBytes - 1] |= pad;
    }
    return rows;
}

// Whether any pixel of the rows is black.
bool HasInk(const std::vector<std::uint8_t>& rows, std::int64_t width) {
    const std::size_t rowBytes = std::size_t(width + 7) / 8;
    const std::uint8_t lastMask = std::uint8_t(0xFF << ((8 - width % 8) % 8));
    for (std::size_t at = 0; at < rows.size(); at += rowBytes) {
        for (std::size_t x = 0; x + 1 < rowBytes; ++x) {
            if (rows[at + x] != 0xFF) return true;
        }
        if ((rows[at + rowBytes - 1] & lastMask) != lastMask) return true;
    }
    return false;
}

bool DecodeWithJbig2dec(std::span<const std::uint8_t> encoded, std::span<const std::uint8_t> globals,
                        std::int64_t width, std::int64_t height, std::size_t budget, std::vector<std::uint8_t>* out) {
    Decoder d;
    d.allocator.base = {Allocate, Free, Reallocate};
    d.allocator.budget = budget;
    if (!globals.empty()) {
        Jbig2Ctx* context = d.NewContext(nullptr);
        if (!context) return false;
        const bool fed = Feed(context, globals);
        // The context becomes the global one (and is freed with it).
        d.globals = jbig2_make_global_ctx(context);
        if (!fed || d.fatal || !d.globals) return false;
    }
    d.context = d.NewContext(d.globals);
    if (!d.context || !Feed(d.context, encoded) || d.fatal) return false;
    // Streams often lack the end-of-page segment.
    jbig2_complete_page(d.context);
    d.page = jbig2_page_out(d.context);
    if (!d.page || d.fatal || !d.page->data) return false;
    // jbig2dec's 1 is black; a PDF image reads 0 as black.
    *out = ImageRows(d.page->data, d.page->width, d.page->height, d.page->stride, true, width, height);
    return true;
}

// The width of the first page the data describe; 0 without one.
std::uint64_t FirstPageWidth(std::span<const std::uint8_t> encoded) {
    std::uint64_t width = 0;
    ForEachSegment(encoded, [&](int type, std::span<const std::uint8_t> data, auto) {
        if (type == 48 && width == 0 && data.size() >= 4) width = ReadBe32(data.data());
    });
    return width;
}

// poppler's own decoder, on the data alone. Its bitmaps are allocated before
// they are checked, so the data's declared bitmaps must fit `budget` first;
// damage is known from the errors it reports.
bool DecodeWithPoppler(std::span<const std::uint8_t> encoded, std::span<const std::uint8_t> globals,
                       std::int64_t width, std::int64_t height, std::size_t budget, std::vector<std::uint8_t>* out) {
    const std::uint64_t declared = Jbig2DeclaredBytes(encoded);
    const std::uint64_t declaredGlobals = globals.empty() ? 0 : Jbig2DeclaredBytes(globals);
    const std::uint64_t pageWidth = FirstPageWidth(encoded);
    if (declared > budget || declaredGlobals > budget - declared || pageWidth == 0 || pageWidth > std::uint64_t(kMaxJbig2Side)) {
        return false;
    }
    // poppler calls end-of-page and end-of-file segments unknown (an error
    // like any other): they are left out, so that its errors mean damage.
    std::vector<std::uint8_t> segments;
    segments.reserve(encoded.size());
    ForEachSegment(encoded, [&](int type, auto, std::span<const std::uint8_t> whole) {
        if (type != 49 && type != 51) segments.insert(segments.end(), whole.begin(), whole.end());
    });
    SilencePopplerMessages();
    const std::uint64_t errorsBefore = PopplerErrorsOnThisThread();
    std::vector<std::uint8_t> page;
    try {
        // The streams read the spans in place; poppler's decoder is reached
        // through its filter chain (the class itself is not exported), and
        // each filter owns the stream below it.
        Dict* parms = new Dict(static_cast<XRef*>(nullptr));
        if (!globals.empty()) {
            parms->add("JBIG2Globals", Object(static_cast<Stream*>(new MemStream(
                                           reinterpret_cast<const char*>(globals.data()), 0, Goffset(globals.size()), Object(objNull)))));
        }
        Dict* filter = new Dict(static_cast<XRef*>(nullptr));
        filter->add("Filter", Object(objName, "JBIG2Decode"));
        filter->add("DecodeParms", Object(parms));
        const Object filterHolder(filter);
        auto* source = new MemStream(reinterpret_cast<const char*>(segments.data()), 0, Goffset(segments.size()), Object(objNull));
        Stream* decoded = source->addFilters(filter);
        Object holder(decoded);
        if (decoded == source) return false;
        Stream& stream = *decoded;
        stream.reset();
        const std::size_t rowBytes = std::size_t(pageWidth + 7) / 8;
        std::uint8_t chunk[1 << 14];
        for (int n; (n = stream.doGetChars(int(sizeof chunk), chunk)) > 0;) {
            if (page.size() + std::size_t(n) > declared) return false;
            page.insert(page.end(), chunk, chunk + n);
        }
        stream.close();
        if (page.empty() || page.size() % rowBytes != 0) return false;
        if (PopplerErrorsOnThisThread() != errorsBefore) return false;
        // poppler hands the page over with 0 black already.
        *out = ImageRows(page.data(), std::size_t(pageWidth), page.size() / rowBytes, rowBytes, false, width, height);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

bool DecodeJbig2(std::span<const std::uint8_t> encoded, std::span<const std::uint8_t> globals, std::int64_t width,
                 std::int64_t height, std::vector<std::uint8_t>* out, std::size_t limit) {
    if (encoded.empty() || !HoldsWholeSegments(encoded) || !HoldsWholeSegments(globals) || width < 1 || width > kMaxJbig2Side || height < 1 || height > kMaxJbig2Side) return false;
    const std::size_t size = std::size_t(width + 7) / 8 * std::size_t(height);
    if (size > limit) return false;
    // The page, the regions drawn into it and the decoder's own state.
    const std::size_t budget = 4 * size + (std::size_t{16} << 20);

    // Each decoder has pictures the other gets wrong, either refusing them
    // or, worse, giving a white page without complaint. A picture with ink
    // is taken from the first decoder that gives one; a white one only when
    // both decoders read the data without error.
    std::vector<std::uint8_t> first, second;
    const bool byJbig2dec = DecodeWithJbig2dec(encoded, globals, width, height, budget, &first);
    if (byJbig2dec && HasInk(first, width)) {
        *out = std::move(first);
        return true;
    }
    const bool byPoppler = DecodeWithPoppler(encoded, globals, width, height, budget, &second);
    if (byPoppler && (HasInk(second, width) || byJbig2dec)) {
        *out = std::move(second);
        return true;
    }
    return false;
}

}  // namespace plat
