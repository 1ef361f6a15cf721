#pragma once
// JPEG decoding and encoding in memory with libjpeg-turbo, for callers that
// need the raw samples (CMYK included) rather than an Image.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>

namespace plat {

struct MallocFree {
    void operator()(void* memory) const { std::free(memory); }
};
// Buffers from malloc, so that C callers can take them over with release().
using MallocBuffer = std::unique_ptr<std::uint8_t, MallocFree>;

struct JpegSamples {
    int width = 0;
    int height = 0;
    int components = 0;  // 1 grey, 3 RGB, 4 CMYK
    MallocBuffer samples;  // packed rows, components × width × height bytes
    std::size_t size = 0;
    // The JFIF density in dots per inch, when the header states one with a unit.
    std::optional<double> dpiX;
    std::optional<double> dpiY;
};

// Decodes JPEG data. Data cut short decodes to the full size; corrupt data
// that draws more than 100 warnings, absurd sizes and anything libjpeg
// refuses give nullopt.
std::optional<JpegSamples> DecodeJpegInMemory(std::span<const std::uint8_t> data);

struct JpegData {
    MallocBuffer bytes;
    unsigned long size = 0;
};

// Compresses packed rows of `components` (1..4) samples per pixel in the
// libjpeg colour space `colorSpace` (1 grey, 2 RGB, 4 CMYK, ...) at
// `quality` 0..100 with a JFIF density in dots per inch (truncated to 16
// bits; 0 when not positive). Empty on any error.
JpegData EncodeJpegInMemory(int width, int height, const std::uint8_t* samples, int colorSpace, int components,
                            int quality, double dpiX, double dpiY);

}  // namespace plat
