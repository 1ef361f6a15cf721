#include "app/model/ImageListTexts.h"

#include "app/model/StringFormat.h"

#include <cmath>

QString ResolutionText(double resolution) { return FormatString(QStringLiteral("%.0f pixel/in"), {resolution}); }

QString PixelSizeText(double width, double height) {
    return FormatString(QStringLiteral("%.0f x %.0f pixels"), {width, height});
}

QString ImageFileDescription(double zoom, std::int64_t angle, std::int32_t flipMask) {
    QString text = FormatString(QStringLiteral("At %.2f%% Zoom"), {zoom * 100.0});
    if (angle != 0) text += FormatString(QStringLiteral(", Rotated by %ld\u02DA"), {static_cast<long long>(angle)});
    if ((flipMask & 3) == 3) {
        text += QStringLiteral(", Fliped Horizonally & Vertically");
    } else if (flipMask & 1) {
        text += QStringLiteral(", Fliped Horizonally");
    } else if (flipMask & 2) {
        text += QStringLiteral(", Fliped Vertically");
    }
    return text;
}

std::int64_t RotatedAngle(double angle, std::int64_t step) {
    const double turned = std::trunc(angle + double(step));
    return turned >= -359.0 && turned <= 270.0 ? std::int64_t(turned) : 0;
}

std::int32_t FlippedMask(std::int32_t flip, std::int32_t mask) { return flip ^ mask; }
