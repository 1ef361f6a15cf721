#include "engine/SgiWriter.h"

#include "platform/DecodeWatch.h"
#include "platform/FileManager.h"
#include "platform/Image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr std::uint64_t kMaxSide = 65535;  // x and y sizes are 16-bit fields
constexpr std::size_t kHeaderSize = 512;

}  // namespace

void InitSGIBitmap(SGIBitmap* bitmap) {
    if (!bitmap) return;
    bitmap->pixels = nullptr;
    bitmap->height = 0;
    bitmap->width = 0;
    bitmap->bytesPerRow = 0;
    bitmap->channels = 0;
}

void InitSGIBitmapTwin(SGIBitmap* bitmap) { InitSGIBitmap(bitmap); }

void ReleaseSGIBitmap(SGIBitmap* bitmap) {
    if (!bitmap) return;
    delete[] bitmap->pixels;
    bitmap->pixels = nullptr;
}

void ReleaseSGIBitmapTwin(SGIBitmap* bitmap) { ReleaseSGIBitmap(bitmap); }

std::uint64_t GetSGIBitmapHeight(const SGIBitmap* bitmap) { return bitmap ? bitmap->height : 0; }
std::uint64_t GetSGIBitmapWidth(const SGIBitmap* bitmap) { return bitmap ? bitmap->width : 0; }
std::uint8_t* GetSGIBitmapPixels(const SGIBitmap* bitmap) { return bitmap ? bitmap->pixels : nullptr; }

int FillSGIBitmapFromImage(SGIBitmap* bitmap, const plat::ImageRef& image) {
    if (!bitmap || !image) return 0;
    const std::uint64_t w = std::max(image->width(), 1), h = std::max(image->height(), 1);
    if (w > kMaxSide || h > kMaxSide) return 0;
    std::vector<std::uint8_t> rgba;
    try {
        vips::VImage pixels = image->toSRGBA();
        // Drawn into an RGB bitmap without alpha: transparency over black.
        pixels = pixels.flatten(vips::VImage::option()->set("background", std::vector<double>{0, 0, 0}))
                     .cast(VIPS_FORMAT_UCHAR)
                     .bandjoin_const({255.0});
        std::size_t size = 0;
        void* memory = pixels.write_to_memory(&size);
        if (!memory) return 0;
        const auto* bytes = static_cast<const std::uint8_t*>(memory);
        rgba.assign(bytes, bytes + size);
        g_free(memory);
        if (plat::DecodeFailed(pixels)) return 0;
    } catch (const vips::VError&) {
        vips_error_clear();
        return 0;
    }
    if (rgba.size() != w * h * 4) return 0;
    auto* buffer = new (std::nothrow) std::uint8_t[rgba.size()];
    if (!buffer) return 0;
    std::memcpy(buffer, rgba.data(), rgba.size());
    delete[] bitmap->pixels;
    bitmap->pixels = buffer;
    bitmap->channels = 4;
    bitmap->width = w;
    bitmap->height = h;
    bitmap->bytesPerRow = w * 4;
    return 1;
}

int CreateSGIBitmapFromImage(SGIBitmap* bitmap, const plat::ImageRef& image) {
    InitSGIBitmap(bitmap);
    if (FillSGIBitmapFromImage(bitmap, image)) return 1;
    ReleaseSGIBitmap(bitmap);
    return 0;
}

int WriteSGIFile(const SGIBitmap* bitmap, const std::filesystem::path& destination) {
    if (!bitmap || !bitmap->pixels || bitmap->width == 0 || bitmap->height == 0) return 0;
    const std::uint64_t w = bitmap->width, h = bitmap->height;
    if (w > kMaxSide || h > kMaxSide || bitmap->channels != 4 || bitmap->bytesPerRow != w * 4) return 0;
    const std::size_t plane = std::size_t(w * h);
    std::vector<std::uint8_t> file(kHeaderSize + plane * 4, 0);
    std::uint8_t* header = file.data();
    PutBigEndian16(header + 0, 474);  // magic
    PutByte(header + 2, 0);           // verbatim storage
    PutByte(header + 3, 1);           // bytes per channel
    PutBigEndian16(header + 4, 3);    // dimension: separate channel planes
    PutBigEndian16(header + 6, std::uint16_t(w));
    PutBigEndian16(header + 8, std::uint16_t(h));
    PutBigEndian16(header + 10, 4);   // red, green, blue, alpha
    PutBigEndian32(header + 12, 0);   // minimum pixel value
    PutBigEndian32(header + 16, 255); // maximum pixel value
    std::memcpy(header + 24, "No Name", 8);
    PutBigEndian32(header + 104, 0);  // normal colour map
    // Planes one after another, each bottom row first.
    std::uint8_t* data = file.data() + kHeaderSize;
    for (std::uint64_t y = 0; y < h; ++y) {
        const std::uint8_t* row = bitmap->pixels + (h - 1 - y) * bitmap->bytesPerRow;
        for (std::uint64_t x = 0; x < w; ++x) {
            const std::size_t at = std::size_t(y * w + x);
            data[at] = row[x * 4];
            data[plane + at] = row[x * 4 + 1];
            data[2 * plane + at] = row[x * 4 + 2];
            data[3 * plane + at] = row[x * 4 + 3];
        }
    }
    return plat::FileManager::createFile(destination, std::span<const std::uint8_t>(file)) ? 1 : 0;
}

std::uint16_t SwapBytes16(std::uint16_t value) { return std::uint16_t((value >> 8) | (value << 8)); }

std::uint32_t SwapBytes32(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

void PutByte(std::uint8_t* address, std::uint8_t value) { *address = value; }

void PutBigEndian16(std::uint8_t* address, std::uint16_t value) {
    address[0] = std::uint8_t(value >> 8);
    address[1] = std::uint8_t(value);
}

void PutBigEndian32(std::uint8_t* address, std::uint32_t value) {
    address[0] = std::uint8_t(value >> 24);
    address[1] = std::uint8_t(value >> 16);
    address[2] = std::uint8_t(value >> 8);
    address[3] = std::uint8_t(value);
}
