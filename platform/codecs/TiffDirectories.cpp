#include "platform/codecs/TiffDirectories.h"

#include "platform/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include <sys/mman.h>
#include <unistd.h>

namespace plat::codecs {

namespace {

std::uint64_t Unpack(const std::uint8_t* p, std::size_t size, bool bigEndian) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t at = bigEndian ? i : size - 1 - i;
        value = value << 8 | p[at];
    }
    return value;
}

// Field sizes of the two TIFF layouts.
struct Layout {
    std::size_t offset;      // an offset field: 4 or 8 bytes
    std::size_t count;       // a directory's entry count: 2 or 8
    std::size_t entry;       // one directory entry: 12 or 20
    std::uint64_t firstAt;   // where the header keeps the first offset
};

Layout LayoutOf(bool bigTiff) { return bigTiff ? Layout{8, 8, 20, 8} : Layout{4, 2, 12, 4}; }

// Bytes shown in place of the file's own at `at`.
struct Patch {
    std::uint64_t at = 0;
    std::uint8_t bytes[8] = {};
    std::size_t size = 0;
};

Patch OffsetPatch(std::uint64_t at, std::uint64_t value, const Layout& layout, bool bigEndian) {
    Patch patch;
    patch.at = at;
    patch.size = layout.offset;
    for (std::size_t i = 0; i < layout.offset; ++i) {
        const std::size_t shift = 8 * (bigEndian ? layout.offset - 1 - i : i);
        patch.bytes[i] = std::uint8_t(value >> shift);
    }
    return patch;
}

struct PageView {
    explicit PageView(int fd) : descriptor(fd) {}
    FileDescriptor descriptor;
    std::span<const std::uint8_t> memory;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    Patch patches[2];
};

gint64 ReadPage(VipsSourceCustom*, void* buffer, gint64 length, PageView* view) {
    if (length <= 0 || view->position >= view->size) return 0;
    const std::size_t want = std::size_t(std::min<std::uint64_t>(std::uint64_t(length), view->size - view->position));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    if (view->descriptor.valid()) {
        ssize_t n;
        do {
            n = ::pread(view->descriptor.get(), out, want, off_t(view->position));
        } while (n < 0 && errno == EINTR);
        if (n < 0) return -1;
        got = std::size_t(n);
    } else {
        std::memcpy(out, view->memory.data() + view->position, want);
        got = want;
    }
    for (const Patch& patch : view->patches) {
        for (std::size_t i = 0; i < patch.size; ++i) {
            const std::uint64_t at = patch.at + i;
            if (at >= view->position && at < view->position + got) out[at - view->position] = patch.bytes[i];
        }
    }
    view->position += got;
    return gint64(got);
}

gint64 SeekPage(VipsSourceCustom*, gint64 offset, int whence, PageView* view) {
    gint64 base = 0;
    if (whence == SEEK_CUR) base = gint64(view->position);
    else if (whence == SEEK_END) base = gint64(view->size);
    else if (whence != SEEK_SET) return -1;
    const gint64 target = base + offset;
    if (target < 0) return -1;
    view->position = std::uint64_t(target);
    return target;
}

}  // namespace

std::optional<TiffDirectoryChain> ReadTiffDirectoryChain(const TiffReader& read, std::uint64_t fileSize,
                                                         std::size_t limit) {
    std::uint8_t header[16];
    if (fileSize < 8 || !read(0, header, 8)) return std::nullopt;
    TiffDirectoryChain chain;
    if (header[0] == 'M' && header[1] == 'M') chain.bigEndian = true;
    else if (header[0] != 'I' || header[1] != 'I') return std::nullopt;
    const std::uint64_t version = Unpack(header + 2, 2, chain.bigEndian);
    if (version == 43) {
        if (fileSize < 16 || !read(8, header + 8, 8)) return std::nullopt;
        chain.bigTiff = true;
    } else if (version != 42) {
        return std::nullopt;
    }
    const Layout layout = LayoutOf(chain.bigTiff);
    std::uint64_t next = Unpack(header + layout.firstAt, layout.offset, chain.bigEndian);
    std::unordered_set<std::uint64_t> seen;
    std::uint8_t field[8];
    while (next != 0 && chain.offsets.size() < limit && seen.insert(next).second) {
        if (next > fileSize || fileSize - next < layout.count || !read(next, field, layout.count)) break;
        const std::uint64_t entries = Unpack(field, layout.count, chain.bigEndian);
        if (entries > (fileSize - next - layout.count) / layout.entry) break;
        const std::uint64_t nextAt = next + layout.count + entries * layout.entry;
        if (fileSize - nextAt < layout.offset || !read(nextAt, field, layout.offset)) break;
        chain.offsets.push_back(next);
        next = Unpack(field, layout.offset, chain.bigEndian);
    }
    return chain;
}

std::unique_ptr<FirstTiffPageMapping> FirstTiffPageMapping::Map(int descriptor, std::uint64_t size,
                                                               const TiffDirectoryChain& chain) {
    const Layout layout = LayoutOf(chain.bigTiff);
    if (chain.offsets.empty() || size == 0 || size > std::uint64_t(SIZE_MAX) ||
        chain.offsets[0] + layout.count > size) {
        return nullptr;
    }
    void* mapped = ::mmap(nullptr, std::size_t(size), PROT_READ | PROT_WRITE, MAP_PRIVATE, descriptor, 0);
    if (mapped == MAP_FAILED) return nullptr;
    auto* data = static_cast<std::uint8_t*>(mapped);
    std::unique_ptr<FirstTiffPageMapping> mapping(new FirstTiffPageMapping(data, std::size_t(size)));
    const std::uint64_t entries = Unpack(data + chain.offsets[0], layout.count, chain.bigEndian);
    const std::uint64_t nextAt = chain.offsets[0] + layout.count + entries * layout.entry;
    if (nextAt > size || size - nextAt < layout.offset) return nullptr;
    // Written into the private copy of one memory page; the file is untouched.
    std::memset(data + nextAt, 0, layout.offset);
    return mapping;
}

FirstTiffPageMapping::~FirstTiffPageMapping() { ::munmap(data_, size_); }

vips::VSource OneTiffPageSource(const TiffDirectoryChain& chain, std::size_t page, TiffBytes bytes) {
    auto view = std::make_unique<PageView>(bytes.descriptor);
    if (page >= chain.offsets.size()) throw vips::VError("no such TIFF page");
    view->memory = bytes.memory;
    view->size = bytes.descriptor >= 0 ? bytes.size : bytes.memory.size();
    const Layout layout = LayoutOf(chain.bigTiff);
    const std::uint64_t directory = chain.offsets[page];
    std::uint8_t field[8];
    std::uint64_t entries = 0;
    if (view->descriptor.valid()) {
        if (::pread(view->descriptor.get(), field, layout.count, off_t(directory)) != ssize_t(layout.count)) {
            throw vips::VError("cannot read TIFF directory");
        }
        entries = Unpack(field, layout.count, chain.bigEndian);
    } else {
        if (directory + layout.count > view->memory.size()) throw vips::VError("cannot read TIFF directory");
        entries = Unpack(view->memory.data() + directory, layout.count, chain.bigEndian);
    }
    view->patches[0] = OffsetPatch(layout.firstAt, directory, layout, chain.bigEndian);
    view->patches[1] = OffsetPatch(directory + layout.count + entries * layout.entry, 0, layout, chain.bigEndian);

    VipsSourceCustom* custom = vips_source_custom_new();
    PageView* raw = view.release();
    g_object_set_data_full(G_OBJECT(custom), "vantrell-tiff-page", raw,
                           [](gpointer data) { delete static_cast<PageView*>(data); });
    g_signal_connect(custom, "read", G_CALLBACK(ReadPage), raw);
    g_signal_connect(custom, "seek", G_CALLBACK(SeekPage), raw);
    return vips::VSource(VIPS_SOURCE(custom), vips::STEAL);
}

}  // namespace plat::codecs
