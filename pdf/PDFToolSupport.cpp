#include "pdf/PDFToolSupport.h"

#include <cmath>

std::int64_t GetPDFInputAngle(double angle) {
    if (!std::isfinite(angle) || angle < -270.0 || angle > 270.0) return 0;
    return static_cast<std::int64_t>(angle);
}

int WritePDFWithOptions(plat::PdfWriter& document, const std::filesystem::path& url,
                        const plat::PdfWriteOptions& options) {
    if (url.empty() || document.pageCount() == 0) return 0;
    return document.write(url, std::nullopt, options) ? 1 : 0;
}
