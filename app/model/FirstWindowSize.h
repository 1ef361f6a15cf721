#pragma once

#include <QRect>
#include <QSize>

// Where the main window first opens: its preferred size, shrunk to the
// screen's available area (less a margin for the window frame) but never
// below its minimum, centred in that area. All in device-independent pixels,
// so any scale factor is taken into account.
QRect FirstWindowFrame(QSize preferred, QSize minimum, QRect available);
