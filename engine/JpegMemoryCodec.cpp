#include "engine/JpegMemoryCodec.h"

#include "platform/JpegMemory.h"

int DecodeJPEGData(const std::uint8_t* data, std::size_t length, int* colorCode, void* /*unused*/,
                   std::uint8_t** samples, std::size_t* bufferSize, int* width, int* height,
                   double* dpiX, double* dpiY) {
    if (!data || length == 0 || !samples || !bufferSize) return 1;
    std::optional<plat::JpegSamples> decoded = plat::DecodeJpegInMemory({data, length});
    if (!decoded) return 1;
    if (colorCode) *colorCode = decoded->components == 1 ? 1 : decoded->components == 3 ? 2 : 4;
    if (width) *width = decoded->width;
    if (height) *height = decoded->height;
    if (decoded->dpiX && dpiX) *dpiX = *decoded->dpiX;
    if (decoded->dpiY && dpiY) *dpiY = *decoded->dpiY;
    *bufferSize = decoded->size;
    *samples = decoded->samples.release();
    return 0;
}

void EncodeJPEGData(int width, int height, const std::uint8_t* samples, int colorSpace, int components,
                    std::uint8_t** jpeg, unsigned long* jpegSize, int quality, double dpiX, double dpiY) {
    if (!jpeg || !jpegSize) return;
    plat::JpegData encoded = plat::EncodeJpegInMemory(width, height, samples, colorSpace, components, quality, dpiX, dpiY);
    *jpegSize = encoded.bytes ? encoded.size : 0;
    *jpeg = encoded.bytes.release();
}
