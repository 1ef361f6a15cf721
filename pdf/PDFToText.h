#pragma once
// PDF to text documents: the text of a PDF's pages written as one document
// or one document per page, in one of seven formats.

#include "engine/ImageConversion.h"
#include "platform/PdfDocument.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

// Output formats of the text conversion.
enum PDFTextDocumentType : std::int32_t {
    kPDFTextUTF8 = 1,
    kPDFTextUTF16 = 2,
    kPDFTextRTF = 3,
    kPDFTextRTFD = 4,
    kPDFTextWord = 5,
    kPDFTextOfficeOpenXML = 6,
    kPDFTextOpenDocument = 7,
};

struct PDFTextConversion {
    std::filesystem::path sourceURL;
    std::filesystem::path destinationFolder;
    std::string baseName;             // empty: the source's name without its extension
    std::string extension;            // of the output files
    std::string password;             // tried when the document is locked
    std::int32_t documentType = kPDFTextUTF8;
    std::int64_t perPage = 0;         // non-zero: one document per page
    std::int64_t firstPage = 0;       // 1-based
    std::int64_t lastPage = 0;
    std::int32_t pageRangeMode = 0;   // 1 one page, 2 range, else all pages
    ProgressCallbackInfo progress;    // told each page's number
};

struct PDFTextExtractor {
    const PDFTextConversion* conversion = nullptr;  // borrowed
    std::unique_ptr<plat::PdfDocument> document;
};

// The error thrown by ConvertPDFToTextDocument when the PDF cannot be opened.
constexpr int kPDFTextOpenError = 301;

// 1 when at least one document was written, 0 otherwise. Throws the integer
// 301 when the PDF cannot be opened.
int ConvertPDFToTextDocument(const PDFTextConversion* conversion);

// Opens the document (unlocked with the record's password when it needs
// one); throws the integer 301 when there is none.
void InitPDFTextExtractor(PDFTextExtractor* extractor, const PDFTextConversion* conversion);
void OpenPDFForTextExtraction(PDFTextExtractor* extractor, const PDFTextConversion* conversion);
void ReleasePDFTextExtractor(PDFTextExtractor* extractor);
void ReleasePDFTextExtractorTwin(PDFTextExtractor* extractor);

int ExtractPDFText(PDFTextExtractor* extractor);
// Writes one document in the record's type. True when it was written.
bool WriteTextDocument(PDFTextExtractor* extractor, const std::filesystem::path& url, const QString& text);
