#pragma once
// One PDF image object (an image XObject or an inline image) turned into an
// image: its parameters, colour space, decode array, JPEG and JPEG 2000
// data, palettes and tint transforms, colour-key and soft masks.

#include "pdf/PDFColorSpace.h"
#include "platform/ImageRef.h"
#include "platform/PdfObject.h"

#include <cstdint>
#include <optional>
#include <vector>

struct PDFImageExtractor;

// The samples of an image in their final colour space.
struct DecodedPDFImage {
    int width = 0;
    int height = 0;
    plat::ColorSpace space;
    std::vector<std::uint8_t> samples;  // space.components() bytes per pixel
    std::vector<std::uint8_t> alpha;    // one byte per pixel, or empty
};

// Samples of the image described by `dictionary` with the data of
// `stream` (for an inline image both are the same object). False when the
// image cannot be read. Masks are not applied here.
bool DecodePDFImageSamples(const PDFImageExtractor* extractor, const plat::PdfObject& dictionary,
                           const plat::PdfObject& stream, DecodedPDFImage* image);

// The image with its masks (when the extractor's output type keeps alpha, or
// without an extractor); null when it cannot be made.
plat::ImageRef CreateImageFromPDFStream(const PDFImageExtractor* extractor, const plat::PdfObject& dictionary,
                                        const plat::PdfObject& stream);

// The "Decode" numbers, or none.
std::optional<std::vector<double>> CopyDecodeArray(const plat::PdfObject& dictionary);
// Decodes JPEG data to packed 8-bit samples. True on success.
bool DecodeJPEGStreamData(const std::vector<std::uint8_t>& data, std::vector<std::uint8_t>* out, int* width,
                          int* height, int* components);
