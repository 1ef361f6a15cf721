#pragma once

#include <QRect>
#include <QSize>

#include <optional>

// Where the main window first opens: its preferred size, shrunk to the
// screen's available area (less a margin for the window frame) but never
// below its minimum, centred in that area. All in device-independent pixels,
// so any scale factor is taken into account.
QRect FirstWindowFrame(QSize preferred, QSize minimum, QRect available);

// The first widths of the list, image and settings panels when the window
// is narrower than its preferred size: the image panel gives way first, so
// the list keeps room for its file facts and the settings their fields.
// Empty when the window is wide enough for the panels' own proportions.
struct PanelWidths {
    int list = 0;
    int image = 0;
    int settings = 0;
};
std::optional<PanelWidths> NarrowPanelWidths(int total, int preferredTotal, int imageMinimum, int settingsMinimum);
