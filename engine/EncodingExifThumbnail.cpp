#include "engine/EncodingExifThumbnail.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr std::uint16_t kTagThumbnailOffset = 0x0201;  // JPEGInterchangeFormat
constexpr std::uint16_t kTagThumbnailLength = 0x0202;  // JPEGInterchangeFormatLength
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;

// The TIFF structure of an EXIF block, read with bounds checks.
class TiffView {
public:
    TiffView(std::uint8_t* base, std::size_t size, bool little) : base_(base), size_(size), little_(little) {}

    bool u16(std::size_t at, std::uint32_t& value) const {
        if (at > size_ || size_ - at < 2) return false;
        value = little_ ? base_[at] | base_[at + 1] << 8 : base_[at] << 8 | base_[at + 1];
        return true;
    }
    bool u32(std::size_t at, std::uint32_t& value) const {
        if (at > size_ || size_ - at < 4) return false;
        const std::uint8_t* p = base_ + at;
        value = little_ ? std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                              std::uint32_t(p[3]) << 24
                        : std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
                              std::uint32_t(p[3]);
        return true;
    }
    void zero(std::size_t at, std::size_t length) { std::memset(base_ + at, 0, length); }
    std::size_t size() const { return size_; }

private:
    std::uint8_t* base_;
    std::size_t size_;
    bool little_;
};

// Start and length of the TIFF structure in the first EXIF APP1 segment,
// looked for among the segments before the image data.
bool FindExifBlock(const std::vector<std::uint8_t>& jpeg, std::size_t& start, std::size_t& length) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    std::size_t p = 2;
    while (p + 4 <= jpeg.size()) {
        if (jpeg[p] != 0xFF) return false;
        const std::uint8_t marker = jpeg[p + 1];
        if (marker == 0xFF) {  // fill byte
            ++p;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return false;  // image data or end: no EXIF
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            p += 2;
            continue;
        }
        const std::size_t segment = std::size_t(jpeg[p + 2]) << 8 | jpeg[p + 3];
        if (segment < 2 || segment > jpeg.size() - p - 2) return false;
        if (marker == 0xE1 && segment >= 2 + 6 + 8 && std::memcmp(&jpeg[p + 4], "Exif\0\0", 6) == 0) {
            start = p + 4 + 6;
            length = segment - 2 - 6;
            return true;
        }
        p += 2 + segment;
    }
    return false;
}

}  // namespace

bool DropJPEGExifThumbnail(std::vector<std::uint8_t>& jpeg) {
    std::size_t start = 0, length = 0;
    if (!FindExifBlock(jpeg, start, length)) return false;
    std::uint8_t* base = jpeg.data() + start;
    bool little = false;
    if (base[0] == 'I' && base[1] == 'I') {
        little = true;
    } else if (!(base[0] == 'M' && base[1] == 'M')) {
        return false;
    }
    TiffView tiff(base, length, little);
    std::uint32_t magic = 0, ifd0 = 0, count0 = 0, ifd1 = 0;
    if (!tiff.u16(2, magic) || magic != 42 || !tiff.u32(4, ifd0) || !tiff.u16(ifd0, count0)) return false;
    const std::size_t nextLink = std::size_t(ifd0) + 2 + std::size_t(count0) * 12;
    if (!tiff.u32(nextLink, ifd1) || ifd1 == 0) return false;

    // Zero the thumbnail's bytes, unless the offsets are nonsense.
    std::uint32_t count1 = 0;
    if (tiff.u16(ifd1, count1)) {
        std::uint32_t offset = 0, size = 0;
        bool haveOffset = false, haveSize = false;
        for (std::uint32_t i = 0; i < count1; ++i) {
            const std::size_t entry = std::size_t(ifd1) + 2 + std::size_t(i) * 12;
            std::uint32_t tag = 0, type = 0, value = 0;
            if (!tiff.u16(entry, tag) || !tiff.u16(entry + 2, type)) break;
            if (tag != kTagThumbnailOffset && tag != kTagThumbnailLength) continue;
            const bool read = type == kTypeLong ? tiff.u32(entry + 8, value)
                              : type == kTypeShort ? tiff.u16(entry + 8, value)
                                                   : false;
            if (!read) continue;
            if (tag == kTagThumbnailOffset) {
                offset = value;
                haveOffset = true;
            } else {
                size = value;
                haveSize = true;
            }
        }
        const bool inside = haveOffset && haveSize && offset >= 8 && offset <= tiff.size() && size <= tiff.size() - offset;
        const bool clearOfFirstDirectory = offset >= nextLink + 4 || std::size_t(offset) + size <= ifd0;
        if (inside && clearOfFirstDirectory) tiff.zero(offset, size);
    }
    // Unlink the second directory: readers then find no thumbnail.
    tiff.zero(nextLink, 4);
    return true;
}
