#pragma once
// What the PDF tools share: the input entry of their file lists, progress and
// cancel through the record's target, and the one way a finished document
// reaches its file.

#include "engine/ImageConversion.h"
#include "platform/PdfWriter.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>
#include <string>

// One entry of a PDF tool's file list. An entry without a path is passed over.
struct PDFInputFile {
    std::int32_t fileType = 0;       // "FileType": 1 image, 2 text document, 3 PDF (combining only)
    std::filesystem::path filePath;  // "FilePath"
    double angle = 0.0;              // "Angle": rotation in degrees
    std::string password;            // "Password": opens an encrypted PDF
};

// Progress codes of the PDF tools.
enum PDFProgressCode : std::int64_t {
    kPDFProgressNextFile = 3,
    kPDFProgressWriting = 6,
    kPDFProgressWritten = 7,
};

// Calls `each` for every entry with a path, in order, after asking the
// target whether the job is cancelled and reporting progress 3. False when
// the job was cancelled.
bool ForEachPDFInput(const std::vector<PDFInputFile>& files, const ProgressCallbackInfo& progress,
                     const std::function<void(const PDFInputFile& entry)>& each);

// The angle of an entry as a whole number of degrees when it lies from -270
// to 270; any other value means no rotation.
std::int64_t GetPDFInputAngle(double angle);

// Writes the document to `url` through a temporary file beside it, with the
// write options (encryption, permissions). Nothing replaces `url` unless the
// whole document was written. 1 or 0.
int WritePDFWithOptions(plat::PdfWriter& document, const std::filesystem::path& url,
                        const plat::PdfWriteOptions& options);

// The end of a combining tool: no page, no file (0); else progress 6, the
// document written as above, progress 7, and the result of writing.
int WriteFinishedPDF(plat::PdfWriter& document, const std::filesystem::path& url,
                     const plat::PdfWriteOptions& options, const ProgressCallbackInfo& progress);
