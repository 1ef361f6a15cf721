#pragma once
// Documents to PDF: text documents (plain text, HTML, RTF, RTFD, Word and
// OpenDocument) laid out on paper with margins and printed to PDF, one file
// per document or one combined document; blank pages dropped from
// per-document output. Needs a QGuiApplication (fonts and the PDF painter).

#include "pdf/PDFToolSupport.h"
#include "platform/PdfDocument.h"
#include "platform/PdfWriter.h"

#include <QTextBlockFormat>
#include <QTextCharFormat>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

// Text attributes applied over a whole document: character attributes (font,
// colour...) and paragraph attributes (alignment, spacing...). Properties
// left unset keep the document's own.
struct TextAttributes {
    QTextCharFormat character;
    QTextBlockFormat paragraph;
};

struct DocumentsToPDFOptions {
    std::vector<PDFInputFile> files;  // "FilePath" of each document
    std::filesystem::path destination;
    ProgressCallbackInfo progress;
    std::uint8_t combine = 0;         // 1: one combined document at `destination`
    std::uint8_t styleRichText = 0;   // 1: textAttributes apply to rich text too
    double paperWidth = 612.0;        // points
    double paperHeight = 792.0;
    double marginLeft = 72.0;
    double marginRight = 72.0;
    double marginTop = 72.0;
    double marginBottom = 72.0;
    std::int64_t orientation = 0;     // 1: landscape (paper sides swapped)
    plat::PdfWriteOptions writeOptions;
    TextAttributes textAttributes;
};

struct DocumentPDFMaker {
    std::vector<PDFInputFile> files;
    std::filesystem::path destination;
    ProgressCallbackInfo progress;
    std::uint8_t styleRichText = 0;
    double paperWidth = 0.0;
    double paperHeight = 0.0;
    double marginLeft = 0.0;
    double marginRight = 0.0;
    double marginTop = 0.0;
    double marginBottom = 0.0;
    std::int64_t orientation = 0;
    plat::PdfWriteOptions writeOptions;
    TextAttributes textAttributes;
    std::uint8_t combinedMode = 0;
};

void InitDocumentPDFMaker(DocumentPDFMaker* maker);
void InitDocumentPDFMakerTwin(DocumentPDFMaker* maker);
void ReleaseDocumentPDFMaker(DocumentPDFMaker* maker);
void ReleaseDocumentPDFMakerTwin(DocumentPDFMaker* maker);
void SetDocumentPDFMakerOptions(DocumentPDFMaker* maker, const DocumentsToPDFOptions& options);
// The layout from separate values; file list and destination cleared.
void SetDocumentPDFMakerLayout(DocumentPDFMaker* maker, std::int64_t orientation,
                               const plat::PdfWriteOptions& writeOptions, const TextAttributes& textAttributes,
                               std::uint8_t styleRichText, double paperWidth, double paperHeight, double marginLeft,
                               double marginRight, double marginTop, double marginBottom);
void SetDocumentPDFMakerProgressTarget(DocumentPDFMaker* maker, std::shared_ptr<ProgressTarget> target,
                                       ProgressSelector selector);

int ConvertDocumentsToPDF(const DocumentsToPDFOptions* options);

// Lays out the document and prints it to `outputURL`. In combined mode the
// printed PDF is written as it is; otherwise its blank pages are removed and
// it is written with the write options. 1 or 0.
int PrintDocumentToPDF(DocumentPDFMaker* maker, const std::filesystem::path& documentURL,
                       const std::filesystem::path& outputURL);

// Prints the document in combined mode and appends its pages (without the
// blank ones when asked) to `combined`. The printed document goes into
// `sources`, which must outlive the writing of `combined`. The number of
// pages appended.
std::size_t AppendDocumentPages(DocumentPDFMaker* maker, const std::filesystem::path& documentURL,
                                plat::PdfWriter& combined, std::vector<std::unique_ptr<plat::PdfWriter>>& sources,
                                bool skipBlankPages);

int MakePDFPerDocument(DocumentPDFMaker* maker);
int MakeCombinedDocumentPDF(DocumentPDFMaker* maker);

// Writes the document to the URL. 1 or 0.
int WritePDFDocument(plat::PdfWriter& document, const std::filesystem::path& url);

// 1 when page `pageNumber` (1-based) of the document shows nothing: at most
// five characters of text and nothing drawn at half size. 0 otherwise, and
// for a page that does not exist or cannot be rendered.
int IsBlankPDFPage(const plat::PdfDocument* document, int pageNumber);

// 1 when the file is HTML by its type or extension.
int IsHTMLFile(const std::filesystem::path& url);
