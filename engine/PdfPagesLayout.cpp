#include "engine/PdfPagesLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Inches per unit for the physical units; everything else counts as inches.
double PointsForUnit(int unit, double value) {
    switch (unit) {
        case 5: return value / 25.4 * 72.0;
        case 4: return value / 2.54 * 72.0;
        case 6: return value;
        default: return value * 72.0;
    }
}

}  // namespace

PdfPageRange ComputePdfPageRange(int mode, std::int64_t firstPage, std::int64_t& lastPage,
                                 std::int64_t pageCount) {
    PdfPageRange range;
    if (mode == 2 && lastPage < 1) {
        lastPage = 1;
    }
    if (pageCount <= 0) {
        return range;  // empty
    }
    if (mode == 2) {
        range.first = (firstPage >= 1 && firstPage <= pageCount) ? firstPage : 1;
        range.last = std::min(lastPage, pageCount);
        range.first = std::min(range.first, range.last);
    } else if (mode == 1) {
        // A page before the first one is as missing as one after the last.
        const std::int64_t page = (firstPage < 1 || firstPage > pageCount) ? 1 : firstPage;
        range.first = range.last = page;
    } else {
        range.first = 1;
        range.last = pageCount;
    }
    return range;
}

double NormalisePdfPageResolution(double& dpiX, double& dpiY) {
    if (!(dpiX > 0.0) && !(dpiY > 0.0)) {
        dpiX = dpiY = 72.0;
    } else if (!(dpiX > 0.0)) {
        dpiX = dpiY;
    } else if (!(dpiY > 0.0)) {
        dpiY = dpiX;
    }
    return std::max(dpiX, dpiY) / 72.0;
}

double ComputePdfPageScale(double jobScale, double boxWidth, double boxHeight, const PdfPageResize& resize) {
    if (!resize.apply || !(boxWidth > 0.0) || !(boxHeight > 0.0)) {
        return jobScale;
    }
    double width = resize.width;
    double height = resize.height;
    if (resize.unit == 1) {
        // Percent of the page's own size.
        width = width / 100.0 * boxWidth;
        height = height / 100.0 * boxHeight;
    } else if (resize.unit != 2) {
        width = PointsForUnit(resize.unit, width);
        height = PointsForUnit(resize.unit, height);
    }
    double factor = 0.0;
    if (height == 0.0 && width > 0.0) {
        factor = width / boxWidth;
    } else if (width == 0.0 && height > 0.0) {
        factor = height / boxHeight;
    } else {
        factor = width / boxWidth;
        if (std::nearbyint(factor * boxHeight) > height) {
            factor = height / boxHeight;
        }
    }
    return resize.unit == 2 ? factor : jobScale * factor;
}

std::string FormatPdfPageName(const std::string& baseName, std::int64_t number, std::int64_t pageCount,
                              bool numbered) {
    if (!numbered) {
        return baseName;
    }
    const int digits = static_cast<int>(std::to_string(std::max<std::int64_t>(pageCount, 1)).size());
    char text[48];
    std::snprintf(text, sizeof text, "%0*lld", digits, static_cast<long long>(number));
    return baseName + "-" + text;
}
