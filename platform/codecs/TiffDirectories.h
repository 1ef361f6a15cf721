#pragma once

#include <vips/vips8>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace plat::codecs {

// The pages of a TIFF as libtiff finds them: the chain of image file
// directories (classic or BigTIFF, either byte order).
struct TiffDirectoryChain {
    bool bigTiff = false;
    bool bigEndian = false;
    // File offset of each page's directory, in page order.
    std::vector<std::uint64_t> offsets;
};

// Reads `size` bytes at `offset` into `buffer`; false when they are not all there.
using TiffReader = std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)>;

// Walks the directory chain of a TIFF of `fileSize` bytes in one pass. It
// stops at the end of the chain, at a directory outside the file, at a loop
// or after `limit` pages. Empty when the header is not a TIFF's.
std::optional<TiffDirectoryChain> ReadTiffDirectoryChain(const TiffReader& read, std::uint64_t fileSize,
                                                         std::size_t limit = 1'000'000);

// The bytes of a TIFF, from a descriptor (which the source keeps) or from
// memory that outlives the source.
struct TiffBytes {
    int descriptor = -1;
    std::span<const std::uint8_t> memory;
    std::uint64_t size = 0;
};

// A libvips source that shows the file as a TIFF holding page `page` alone:
// the header points at that page's directory, and that directory ends the
// chain. libvips then opens the page without walking every directory before
// it, and without counting every page of the file, which made reading all
// pages of a long file take time in the square of the page count.
// `descriptor` is taken over (closed with the source).
vips::VSource OneTiffPageSource(const TiffDirectoryChain& chain, std::size_t page, TiffBytes bytes);

// A TIFF file mapped read-only and private, shown as holding its first page
// alone (its directory ends the chain): for readers such as exiv2 that
// would otherwise copy the pixels of every later page they find. Only the
// pages the reader touches come into memory.
class FirstTiffPageMapping {
public:
    // Null when the file cannot be mapped or the chain has no page.
    static std::unique_ptr<FirstTiffPageMapping> Map(int descriptor, std::uint64_t size,
                                                     const TiffDirectoryChain& chain);
    ~FirstTiffPageMapping();
    FirstTiffPageMapping(const FirstTiffPageMapping&) = delete;
    FirstTiffPageMapping& operator=(const FirstTiffPageMapping&) = delete;

    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    FirstTiffPageMapping(std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace plat::codecs
