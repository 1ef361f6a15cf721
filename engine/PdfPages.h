#pragma once
// PDF pages to image files: a range of pages rendered with poppler, each
// into its own image file or all into one multi-page TIFF, side by side on
// an operation queue.

#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/ImageConversion.h"
#include "platform/AffineTransform.h"

class MultiPageTiffFile;
struct ImageConverter;

namespace plat {
class PdfDocument;
}

// The engine entry: renders the pages of the PDF `sourceURL` chosen by the
// record's page range into the folder `destinationURL`, in the output type,
// colour mode and resolution of its options (resized with `applyResize`).
// A protected document needs the right password; one that merely limits
// permissions opens without. 1 when every page was written (also when there
// was none to write); 0 otherwise. No exception leaves it.
int ConvertPDFPagesToImages(ImageConversion* record);

// Renders the converter's page range. The result is pageBatchSucceeded.
int RenderPDFPagesBatch(ImageConverter* converter, int applyResize, const ImageResizeOptions& resize);

// Renders one page of `document` (a document of the calling thread) at
// `scale` and writes it to `destination`, or as the next page of `tiff`
// when that is given. A failure clears the converter's pageBatchSucceeded.
void RenderPDFPage(ImageConverter* converter, const plat::PdfDocument& document, std::int64_t pageNumber,
                   int applyResize, MultiPageTiffFile* tiff, int pageIndex, int pageCount,
                   const ImageResizeOptions& resize, const std::filesystem::path& destination, double scale);
// The same on the converter's own document (pdfDocument), from the thread
// that opened it; without a document the page fails.
void RenderPDFPage(ImageConverter* converter, std::int64_t pageNumber, int applyResize, MultiPageTiffFile* tiff,
                   int pageIndex, int pageCount, const ImageResizeOptions& resize,
                   const std::filesystem::path& destination, double scale);

// The older road: every page of the converter's PDF image representation at
// twice its size in points, through the whole-file conversion, as
// "<base>-001.<ext>" and so on in the destination folder. The result is the
// last page's; 0 without pages.
int ConvertPDFToImageFiles(ImageConverter* converter);

// The file extension of the converter's output type.
std::string GetConverterOutputExtension(const ImageConverter* converter);

// Watermark position on a page of `pageWidth` x `pageHeight`: the editor
// scale max(width, height) / 550 goes to `scale`.
plat::Point GetPageWatermarkPosition(const ImageConverter* converter, double pageWidth, double pageHeight,
                                     float* scale, plat::Point first, plat::Point opposite);
