#pragma once
// Images to PDF: each image of a list drawn on a page of its own, in one
// combined document or in one PDF file per image, optionally on fixed paper
// with margins, re-encoded in a chosen format and resolution, and rotated.

#include "engine/ImageConverter.h"
#include "pdf/PDFToolSupport.h"
#include "platform/PdfWriter.h"

#include <cstdint>
#include <filesystem>
#include <vector>

struct ImagesToPDFOptions {
    std::uint8_t combine = 0;        // 1: one document at `destination`; 0: one file per image in that folder
    double quality = 0.0;            // 0.0 to 1.0 of the re-encoded images
    std::int32_t imageType = 0;      // ImageTypeCode each image is re-encoded in
    std::int32_t colorMode = 0;      // 0 as source, 1 RGB, 2 CMYK, 3 gray
    std::int32_t pageSizeMode = 0;   // 0 page = image; 1 fixed paper, image fitted; other: fixed paper, own resolution
    std::int64_t maxResolution = 0;  // dots per inch; 0 or less: no limit
    std::uint64_t paperWidth = 0;    // points, portrait
    std::uint64_t paperHeight = 0;
    double marginLeft = 0.0;
    double marginRight = 0.0;
    double marginTop = 0.0;
    double marginBottom = 0.0;
    std::int64_t orientation = 0;    // 1: landscape (paper sides swapped)
    std::int64_t scalePercent = 100; // image scale when no resolution limit applies
    std::vector<PDFInputFile> files; // "FilePath" and "Angle" of each image
    std::filesystem::path destination;
    ProgressCallbackInfo progress;
    plat::PdfWriteOptions writeOptions;
};

// The images-to-PDF tool's state: a converter with the record's fields.
struct PDFMaker {
    ImageConverter converter;
    std::vector<PDFInputFile> files;
    std::filesystem::path destination;
    ProgressCallbackInfo progress;
    double quality = 0.0;
    std::int32_t imageType = 0;
    std::int32_t colorMode = 0;
    std::int32_t pageSizeMode = 0;
    std::uint64_t paperWidth = 0;
    std::uint64_t paperHeight = 0;
    double marginLeft = 0.0;
    double marginRight = 0.0;
    double marginTop = 0.0;
    double marginBottom = 0.0;
    std::int64_t orientation = 0;
    std::int64_t scalePercent = 100;
    std::int64_t maxResolution = 0;
    plat::PdfWriteOptions writeOptions;
};

void InitPDFMaker(PDFMaker* maker);
void ReleasePDFMaker(PDFMaker* maker);
void ReleasePDFMakerTwin(PDFMaker* maker);
void SetPDFMakerOptions(PDFMaker* maker, const ImagesToPDFOptions& options);
// The layout fields from separate values; file list and destination cleared,
// paper size truncated to whole points.
void SetPDFMakerLayout(PDFMaker* maker, double quality, std::int32_t imageType, std::int32_t colorMode,
                       std::int32_t pageSizeMode, double paperWidth, double paperHeight, double marginLeft,
                       double marginRight, double marginTop, double marginBottom, std::int64_t orientation,
                       std::int64_t scalePercent, std::int64_t maxResolution,
                       const plat::PdfWriteOptions& writeOptions);
void SetPDFMakerProgressTarget(PDFMaker* maker, std::shared_ptr<ProgressTarget> target, ProgressSelector selector);

// Converts the images of the record. 1 or 0.
int ConvertImagesToPDF(const ImagesToPDFOptions* options);

// Places the image as a new page at `index` of `document` (the end when
// beyond it), rotated by `angle` degrees (-270 to 270; others: none). 1 or 0.
int DrawImageOnPDFPage(PDFMaker* maker, const std::filesystem::path& imageURL, plat::PdfWriter* document,
                       std::size_t index, double angle);

int MakePDFPerImage(PDFMaker* maker);
int MakeCombinedPDF(PDFMaker* maker);
