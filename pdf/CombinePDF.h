#pragma once
// Combining PDFs, images and text documents: one document with an outline
// entry per input, or one PDF file per input.

#include "pdf/DocumentsToPDF.h"
#include "pdf/ImagesToPDF.h"
#include "pdf/PDFToolSupport.h"

#include <cstdint>
#include <filesystem>
#include <vector>

struct CombinePDFOptions {
    std::vector<PDFInputFile> files;  // "FileType", "FilePath", "Angle", "Password"
    std::filesystem::path destination;
    ProgressCallbackInfo progress;
    std::uint8_t combine = 0;
    std::uint8_t styleRichText = 0;
    double paperWidth = 612.0;
    double paperHeight = 792.0;
    double marginLeft = 72.0;
    double marginRight = 72.0;
    double marginTop = 72.0;
    double marginBottom = 72.0;
    std::int64_t orientation = 0;
    double quality = 0.8;
    std::int32_t imageType = 4;
    std::int32_t colorMode = 0;
    std::int32_t pageSizeMode = 0;
    std::int64_t maxResolution = 0;
    std::int64_t scalePercent = 100;
    plat::PdfWriteOptions writeOptions;
    TextAttributes textAttributes;
};

enum PDFInputFileType : std::int32_t {
    kPDFInputImage = 1,
    kPDFInputDocument = 2,
    kPDFInputPDF = 3,
};

// 0 without a record, a file list or a destination; else the result of the
// chosen mode.
int CombinePDFFiles(const CombinePDFOptions* options);
int CombinePDFsPerFile(const CombinePDFOptions* options);
int CombinePDFsIntoOne(const CombinePDFOptions* options);

// Turns page `index` by `angle` degrees when the angle is not 0, lies from
// -270 to 270 and is a multiple of 90; the stored rotation stays within
// -270 to 270.
void RotatePDFPage(plat::PdfWriter& document, std::size_t index, double angle);
