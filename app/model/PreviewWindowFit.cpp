#include "app/model/PreviewWindowFit.h"

#include "app/model/StringFormat.h"

#include <algorithm>
#include <cmath>

PreviewRect FitPreviewWindow(const PreviewFitInput& in) {
    PreviewRect f = in.frame;
    if (in.imageWidth <= 0 || in.imageHeight <= 0) return f;
    const double W = static_cast<double>(in.imageWidth);
    const double H = static_cast<double>(in.imageHeight);
    const double C = kPreviewChromeHeight;
    const PreviewRect& s = in.screen;
    const double right = s.x + s.width;
    const double top = s.y + s.height;

    // The old top and left edges, unless they lie off the screen.
    double t = std::trunc(f.y + f.height);
    if (s.y > t || t > top) t = std::trunc(s.y);
    double l = std::trunc(f.x);
    if (s.x > l || l > right) l = std::trunc(s.x);
    f.x = std::max(f.x, s.x);
    f.y = std::max(f.y, s.y);

    double nh = std::min(H + C, s.height);
    double nw = std::min(W + kPreviewSideMargins, s.width);
    double k = (nw - kPreviewSideMargins) / W;
    // Ties to even, as the default rounding mode does.
    if (std::nearbyint(H * k) > nh - C) k = (nh - C) / H;
    nw = W * k + kPreviewSideMargins;
    nh = std::max(in.minHeight, C + H * k);
    if (in.minWidth > nw) nw = in.minWidth;

    if (f.x + nw > right) f.x = std::max(s.x, right - nw);
    if (f.y + nh > top) f.y = std::max(s.y, top - nh);
    f.y = (t < f.y + nh) ? top - nh : t - nh;
    if (l + nw <= right) f.x = l;
    f.width = nw;
    f.height = nh;
    return f;
}

QString PreviewCaption(std::int64_t number, std::int64_t count, const QString& fileName, double dpi, double width,
                       double height) {
    return FormatString(QStringLiteral("%ld of %ld (%@ @ %.0f dpi, %.0f x %.0f pixels)"),
                        {number, count, fileName, dpi, width, height});
}

QString RenumberPreviewCaption(const QString& caption, std::int64_t number, std::int64_t count) {
    const qsizetype open = caption.indexOf(QLatin1Char('('));
    if (open < 0) return caption;
    return FormatString(QStringLiteral("%ld of %ld ("), {number, count}) + caption.mid(open + 1);
}

PreviewNavigationState PreviewNavigation(std::int64_t index, std::int64_t count) {
    PreviewNavigationState state;
    state.hidden = count == 1;
    state.previousEnabled = index != 0;
    state.nextEnabled = index != count - 1;
    return state;
}

std::int64_t PreviewIndexAfterSegment(std::int64_t index, std::int64_t count, int segment) {
    if (count <= 0) return index;
    if (segment == 1 && index < count - 1) return index + 1;
    if (segment == 0 && index > 0) return index - 1;
    return index;
}
