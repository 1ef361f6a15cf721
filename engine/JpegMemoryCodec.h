#pragma once
// In-memory JPEG decoding and encoding (libjpeg-turbo through plat), for the
// PDF side and the converter's in-memory JPEG encoder.

#include <cstddef>
#include <cstdint>

// Decodes `length` bytes of JPEG data. On success (0): `colorCode` is 1 for
// grey, 2 for RGB, 4 for CMYK; `samples` a malloc'ed buffer of packed rows
// (components × width × height bytes; the caller frees it) whose size is
// stored in `bufferSize`; width, height, and the resolution when the JFIF
// header states one with a unit (otherwise dpiX/dpiY are left as they are).
// Data cut short decodes to the full size. Returns 1 for any failure, with
// nothing for the caller to free. `unused` is not read.
int DecodeJPEGData(const std::uint8_t* data, std::size_t length, int* colorCode, void* unused,
                   std::uint8_t** samples, std::size_t* bufferSize, int* width, int* height,
                   double* dpiX, double* dpiY);

// Compresses packed rows of `components` samples per pixel in the libjpeg
// colour space `colorSpace` (1 grey, 2 RGB, 4 CMYK, ...) at `quality` 0..100
// with a JFIF density in dots per inch. `jpeg` receives a malloc'ed buffer
// (the caller frees it) and `jpegSize` its size; on any error both are
// null/0 and nothing needs freeing.
void EncodeJPEGData(int width, int height, const std::uint8_t* samples, int colorSpace, int components,
                    std::uint8_t** jpeg, unsigned long* jpegSize, int quality, double dpiX, double dpiY);
