#include "pdf/PDFToolSupport.h"

#include <cmath>

bool ForEachPDFInput(const std::vector<PDFInputFile>& files, const ProgressCallbackInfo& progress,
                     const std::function<void(const PDFInputFile& entry)>& each) {
    for (const PDFInputFile& entry : files) {
        if (entry.filePath.empty()) continue;
        if (progress.isCancelled()) return false;
        progress.report(kPDFProgressNextFile);
        each(entry);
    }
    return true;
}

std::int64_t GetPDFInputAngle(double angle) {
    if (!std::isfinite(angle) || angle < -270.0 || angle > 270.0) return 0;
    return static_cast<std::int64_t>(angle);
}

int WritePDFWithOptions(plat::PdfWriter& document, const std::filesystem::path& url,
                        const plat::PdfWriteOptions& options) {
    if (url.empty() || document.pageCount() == 0) return 0;
    return document.write(url, std::nullopt, options) ? 1 : 0;
}

int WriteFinishedPDF(plat::PdfWriter& document, const std::filesystem::path& url,
                     const plat::PdfWriteOptions& options, const ProgressCallbackInfo& progress) {
    // An empty PDF would only look like success.
    if (document.pageCount() == 0) return 0;
    progress.report(kPDFProgressWriting);
    const int result = WritePDFWithOptions(document, url, options);
    progress.report(kPDFProgressWritten);
    return result;
}
