#pragma once
// The SGI image writer of the image-file object: the image is drawn into an
// 8-bit RGB bitmap and written behind a 512-byte SGI header in one step.

#include "platform/ImageRef.h"

#include <cstdint>
#include <filesystem>

// The pixel buffer: width × height × 4 bytes, rows top first, each pixel
// red, green, blue and 255.
struct SGIBitmap {
    std::uint8_t* pixels;
    std::uint64_t height;
    std::uint64_t width;
    std::uint64_t bytesPerRow;  // width × 4
    std::uint64_t channels;     // 4
};

void InitSGIBitmap(SGIBitmap* bitmap);
void InitSGIBitmapTwin(SGIBitmap* bitmap);
void ReleaseSGIBitmap(SGIBitmap* bitmap);
void ReleaseSGIBitmapTwin(SGIBitmap* bitmap);

std::uint64_t GetSGIBitmapHeight(const SGIBitmap* bitmap);
std::uint64_t GetSGIBitmapWidth(const SGIBitmap* bitmap);
std::uint8_t* GetSGIBitmapPixels(const SGIBitmap* bitmap);

// Fills the buffer from the image, alpha composited onto black as in an
// RGB bitmap without alpha. 0 for a null image or one wider or higher than
// an SGI file can hold (65535).
int FillSGIBitmapFromImage(SGIBitmap* bitmap, const plat::ImageRef& image);
// Init, then fill; the buffer is released again on failure.
int CreateSGIBitmapFromImage(SGIBitmap* bitmap, const plat::ImageRef& image);

// Writes a verbatim SGI file: dimension 3, four channel planes (red, green,
// blue, alpha 255) one after the other, bottom row first, 1 byte per
// sample. Written atomically. 1 when the file was created; 0 (and no file)
// for an empty buffer or a side above 65535.
int WriteSGIFile(const SGIBitmap* bitmap, const std::filesystem::path& destination);

std::uint16_t SwapBytes16(std::uint16_t value);
std::uint32_t SwapBytes32(std::uint32_t value);
void PutByte(std::uint8_t* address, std::uint8_t value);
void PutBigEndian16(std::uint8_t* address, std::uint16_t value);
void PutBigEndian32(std::uint8_t* address, std::uint32_t value);
