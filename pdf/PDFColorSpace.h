#pragma once
// Colour spaces of PDF images, built from their PDF description: device
// names, ICC profiles, calibrated spaces, Lab, indexed palettes, and
// Separation and DeviceN spaces with their tint transforms.

#include "pdf/PDFFunction.h"
#include "platform/ColorSpace.h"
#include "platform/PdfObject.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct PDFImageExtractor;

enum PDFColorSpaceKind : std::int32_t {
    kPDFColorSpaceNone = 0,  // a device space given by name, or none
    kPDFColorModelGray = 1,  // colour models reported by the JPEG 2000 decoder
    kPDFColorModelRGB = 2,
    kPDFColorModelCMYK = 3,
    kPDFColorSpaceCalGray = 4,
    kPDFColorSpaceCalRGB = 5,
    kPDFColorSpaceLab = 6,
    kPDFColorSpaceICCBased = 7,
    kPDFColorSpaceIndexed = 8,
    kPDFColorSpaceSeparation = 10,
    kPDFColorSpaceDeviceN = 11,
};

struct PDFColorSpace {
    std::int32_t kind = kPDFColorSpaceNone;
    // Where the samples end up: the space itself, an indexed space's base, a
    // Separation or DeviceN space's alternate.
    plat::ColorSpace space;
    // Samples per pixel in the image data.
    std::int64_t components = 1;
    // Indexed: hival + 1 entries of space.components() bytes each.
    std::int64_t hival = 0;
    std::vector<std::uint8_t> lookup;
    // Separation and DeviceN: the tint transform from `components` tints.
    std::shared_ptr<PDFFunction> tintTransform;
};

using PDFColorSpaceRef = std::shared_ptr<const PDFColorSpace>;

// Colour-space arrays nest (Indexed over DeviceN over ICCBased); deeper
// nesting gives no colour space.
inline constexpr int kPDFColorSpaceMaxDepth = 4;

// "DeviceRGB"/"RGB", "DeviceCMYK"/"CMYK", "DeviceGray"/"G"; null for other names.
PDFColorSpaceRef CreateDeviceColorSpaceForName(const std::string& name);
// The same, with the component count (3, 4, 1).
PDFColorSpaceRef CreateImageColorSpaceForName(const std::string& name, std::int64_t* components);
// 1 gray, 2 RGB, 3 CMYK; null for other models.
PDFColorSpaceRef CreateColorSpaceForColorModel(std::int32_t model);
// An ICC-based space from profile bytes of 1, 3 or 4 channels; null for
// empty data or a profile lcms2 cannot read.
PDFColorSpaceRef CreateColorSpaceFromICCData(const std::vector<std::uint8_t>& data);
// A colour-space array; names inside it may refer to the page's ColorSpace
// resources of the extractor (which may be null). Null for unrecognised or
// broken descriptions.
PDFColorSpaceRef CreateColorSpaceFromArray(const PDFImageExtractor* extractor, const plat::PdfObject& array,
                                           std::int32_t* kind, std::int64_t* components, int depth = 0);
// A name or an array, names looked up among the page's resources.
PDFColorSpaceRef CreateColorSpaceFromObject(const PDFImageExtractor* extractor, const plat::PdfObject& object,
                                            std::int32_t* kind, std::int64_t* components, int depth = 0);

// Evaluates the tint transform on `inputs` and writes one byte per output
// component of `space` (device values 0..1 scaled to 0..255, Lab values as
// plat::ColorSpace takes them); outputs are clamped.
void EvaluateTintToBytes(const PDFColorSpace& colorSpace, const double* inputs, std::uint8_t* out);
