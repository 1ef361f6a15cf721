#include "platform/codecs/IcnsCodec.h"

#include "platform/DecodeWatch.h"
#include "platform/Image.h"
#include "platform/codecs/Jpeg2000Codec.h"

#include <algorithm>
#include <cstring>

namespace plat::codecs {

using vips::VImage;

namespace {

struct Element {
    std::size_t offset;
    std::size_t length;
    int pixels;  // nominal side in pixels
};

std::uint32_t U32BE(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void PutU32BE(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(std::uint8_t(v >> 24));
    out.push_back(std::uint8_t(v >> 16));
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
}

struct IconType {
    const char* tag;
    int pixels;
};

// Members that hold PNG or JPEG 2000 data, with their side in pixels.
constexpr IconType kIconTypes[] = {
    {"icp4", 16},  {"icp5", 32},  {"icp6", 64},  {"ic07", 128}, {"ic08", 256},
    {"ic09", 512}, {"ic10", 1024}, {"ic11", 32}, {"ic12", 64},  {"ic13", 256},
    {"ic14", 512},
};

bool IsPngOrJp2(const std::uint8_t* p, std::size_t n) {
    return (n >= 8 && std::memcmp(p, "\x89PNG\r\n\x1A\n", 8) == 0) ||
           (n >= 12 && std::memcmp(p, "\0\0\0\x0CjP  \r\n\x87\n", 12) == 0) ||
           (n >= 4 && std::memcmp(p, "\xFF\x4F\xFF\x51", 4) == 0);
}

std::vector<Element> ReadableElements(const std::uint8_t* data, std::size_t size) {
    std::vector<Element> elements;
    if (!data || size < 8 || std::memcmp(data, "icns", 4) != 0) return elements;
    const std::size_t total = std::min<std::size_t>(U32BE(data + 4), size);
    std::size_t offset = 8;
    while (offset + 8 <= total) {
        const std::uint32_t length = U32BE(data + offset + 4);
        if (length < 8 || length > total - offset) break;
        for (const IconType& type : kIconTypes) {
            if (std::memcmp(data + offset, type.tag, 4) == 0 &&
                IsPngOrJp2(data + offset + 8, length - 8)) {
                elements.push_back({offset + 8, std::size_t(length - 8), type.pixels});
            }
        }
        offset += length;
    }
    std::stable_sort(elements.begin(), elements.end(),
                     [](const Element& a, const Element& b) { return a.pixels > b.pixels; });
    return elements;
}

}  // namespace

int CountIcnsImages(const std::uint8_t* data, std::size_t size) {
    return int(ReadableElements(data, size).size());
}

VImage LoadIcns(const std::uint8_t* data, std::size_t size, int index) {
    const std::vector<Element> elements = ReadableElements(data, size);
    if (index < 0 || std::size_t(index) >= elements.size()) throw vips::VError("no such icon");
    const Element& e = elements[std::size_t(index)];
    VipsBlob* blob = vips_blob_copy(data + e.offset, e.length);
    VImage image;
    try {
        if (e.length >= 8 && std::memcmp(data + e.offset, "\x89PNG", 4) == 0) {
            image = VImage::pngload_buffer(
                blob, VImage::option()->set("fail_on", VIPS_FAIL_ON_ERROR)->set("access", VIPS_ACCESS_SEQUENTIAL));
            // The member's header is read; refuse an absurd size before the
            // whole image is allocated and decoded.
            if (!Image::sizeAllowed(image.width(), image.height())) throw vips::VError("icon size out of range");
            // Decoded in one pass under the watch, as every other file:
            // damaged data fails the load, every time.
            image = DecodeCompletely(WatchDecode(image));
        } else {
            image = LoadJpeg2000(data + e.offset, e.length);
        }
    } catch (...) {
        vips_area_unref(VIPS_AREA(blob));
        throw;
    }
    vips_area_unref(VIPS_AREA(blob));
    return image;
}

std::vector<std::uint8_t> SaveIcns(const VImage& srgbImage) {
    try {
        VImage image = srgbImage;
        if (image.bands() == 1 || image.bands() == 3) image = image.bandjoin_const({255.0});
        if (image.bands() == 2) {
            VImage grey = image.extract_band(0);
            image = grey.bandjoin({grey, grey, image.extract_band(1)});
        }
        image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        const int longer = std::max(image.width(), image.height());
        int side = 16;
        for (int s : {16, 32, 64, 128, 256, 512, 1024}) {
            if (s <= longer) side = s;
        }
        const double scale = double(side) / double(longer);
        VImage fitted = scale == 1.0 ? image
                                     : image.resize(scale, VImage::option()->set("kernel", VIPS_KERNEL_LANCZOS3));
        fitted = fitted.gravity(VIPS_COMPASS_DIRECTION_CENTRE, side, side,
                                VImage::option()->set("extend", VIPS_EXTEND_BLACK));
        std::vector<std::uint8_t> out = {'i', 'c', 'n', 's', 0, 0, 0, 0};
        const struct {
            int pixels;
            const char* tag;
        } members[] = {{16, "icp4"}, {32, "icp5"}, {64, "icp6"}, {128, "ic07"},
                       {256, "ic08"}, {512, "ic09"}, {1024, "ic10"}};
        for (const auto& member : members) {
            if (member.pixels > side) break;
            VImage icon = member.pixels == side
                              ? fitted
                              : fitted.resize(double(member.pixels) / side,
                                              VImage::option()->set("kernel", VIPS_KERNEL_LANCZOS3));
            VipsBlob* blob = icon.pngsave_buffer(VImage::option()->set("strip", true));
            std::size_t length = 0;
            const auto* bytes = static_cast<const std::uint8_t*>(vips_blob_get(blob, &length));
            out.insert(out.end(), member.tag, member.tag + 4);
            PutU32BE(out, std::uint32_t(length + 8));
            out.insert(out.end(), bytes, bytes + length);
            vips_area_unref(VIPS_AREA(blob));
        }
        const std::uint32_t total = std::uint32_t(out.size());
        out[4] = std::uint8_t(total >> 24);
        out[5] = std::uint8_t(total >> 16);
        out[6] = std::uint8_t(total >> 8);
        out[7] = std::uint8_t(total);
        return out;
    } catch (const vips::VError&) {
        return {};
    }
}

}  // namespace plat::codecs
