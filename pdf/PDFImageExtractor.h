#pragma once
// Extraction of the images embedded in PDF pages: image XObjects of the
// page resources (followed into forms) and inline images of the content,
// each written as an image file in the destination folder.

#include "engine/ImageConversion.h"
#include "engine/ImageConverter.h"
#include "platform/PdfObject.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>

struct PDFImageExtractor : ImageConverter {
    // Destination folder joined with the page part of the file name
    // ("base_Page3_") for the page being walked.
    std::string pageFilePrefix;
    // Number of the next image file on the current page.
    std::int64_t imageCounter = 0;
    // The current page's ColorSpace resources (null when it has none).
    plat::PdfObject pageColorSpaces;

    // The document at the object level, opened with the converter's password.
    std::unique_ptr<plat::PdfObjectFile> objects;
    // Forms being walked, and how many were entered on this page: a form
    // that contains itself, or a huge web of forms, ends the walk there.
    std::set<std::int64_t> formsInWalk;
    std::int64_t formsEntered = 0;
    // Images found but not written: undecodable (damaged data, filters or
    // colour spaces we cannot read) or refused by the output.
    std::int64_t imagesFailed = 0;
};

// Forms nested deeper than this, or entered more often on one page, are not walked.
inline constexpr std::size_t kExtractorMaxFormDepth = 32;
inline constexpr std::int64_t kExtractorMaxFormsPerPage = 10000;

// The engine entry point: 1 when the walk ran and wrote every image it
// found; 0 without source or destination, when the document does not open
// or stays locked, or when an image could not be written (the others are).
int ExtractImagesFromPDF(const ImageConversion* conversion);

void InitPDFImageExtractor(PDFImageExtractor* extractor);
void ReleasePDFImageExtractor(PDFImageExtractor* extractor);
void SetExtractorPageRange(PDFImageExtractor* extractor, std::int32_t mode, std::int64_t first, std::int64_t last);
int OpenExtractorPDFDocument(PDFImageExtractor* extractor, const std::filesystem::path& url);
// 1, also after a cancel; 0, with nothing written, when the contents of a
// page in the range are beyond the work budget of the file.
int ExtractImagesFromPDFPages(PDFImageExtractor* extractor);
void ExtractPageXObjectImages(PDFImageExtractor* extractor, int pageNumber);
void ApplyXObjectEntry(const std::string& key, const plat::PdfObject& object, PDFImageExtractor* extractor);
void ExtractFormXObjectImages(PDFImageExtractor* extractor, const plat::PdfObject& form);
void HandleInlineImageOperator(const plat::PdfObject& inlineImage, PDFImageExtractor* extractor);
void WriteExtractedImage(PDFImageExtractor* extractor, const plat::PdfObject& dictionary,
                         const plat::PdfObject& stream);
