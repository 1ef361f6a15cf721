#include "app/model/FirstWindowSize.h"

#include <algorithm>

namespace {

// Room left around the window for its frame and title bar.
constexpr int kFrameMarginX = 16;
constexpr int kFrameMarginY = 48;

}  // namespace

QRect FirstWindowFrame(QSize preferred, QSize minimum, QRect available) {
    if (!available.isValid()) return QRect(QPoint(0, 0), preferred.expandedTo(minimum));
    const QSize room(std::max(1, available.width() - kFrameMarginX), std::max(1, available.height() - kFrameMarginY));
    const QSize size = preferred.boundedTo(room).expandedTo(minimum);
    // A window larger than the area starts at its top left corner.
    const int x = available.x() + std::max(0, (available.width() - size.width()) / 2);
    const int y = available.y() + std::max(0, (available.height() - size.height()) / 2);
    return QRect(QPoint(x, y), size);
}

std::optional<PanelWidths> NarrowPanelWidths(int total, int preferredTotal, int imageMinimum, int settingsMinimum) {
    // Wide enough for a list row's thumbnail and its longest fact line.
    constexpr int kListWidth = 270;
    if (total >= preferredTotal) return std::nullopt;
    PanelWidths widths{kListWidth, total - kListWidth - settingsMinimum, settingsMinimum};
    if (widths.image < imageMinimum) return std::nullopt;
    return widths;
}
