#include "app/ui/ThemeColours.h"

bool IsDarkPalette(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::WindowText).lightnessF() >
           palette.color(QPalette::Active, QPalette::Window).lightnessF();
}

namespace {
QColor Grey(float level) { return QColor::fromRgbF(level, level, level, 1.0f); }
QColor Window(const QPalette& palette) { return palette.color(QPalette::Active, QPalette::Window); }
}  // namespace

QColor OutlineBandColor(const QPalette& palette, int distance) {
    const bool odd = distance % 2 != 0;
    if (!IsDarkPalette(palette)) return Grey(odd ? 0.91f : 0.87f);
    // The same order as the light bands: the odd rows the lighter ones.
    return odd ? Window(palette) : Window(palette).darker(118);
}

QColor OutlineBackgroundColor(const QPalette& palette) {
    return IsDarkPalette(palette) ? Window(palette) : Grey(0.915f);
}

QColor HeaderGradientTopColor(const QPalette& palette) {
    if (IsDarkPalette(palette)) return Window(palette).lighter(160);
    return QColor::fromRgbF(231.0f / 255.0f, 233.0f / 255.0f, 248.0f / 255.0f, 1.0f);
}

QColor HeaderGradientBottomColor(const QPalette& palette) {
    if (IsDarkPalette(palette)) return Window(palette).lighter(115);
    return QColor::fromRgbF(175.0f / 255.0f, 179.0f / 255.0f, 201.0f / 255.0f, 1.0f);
}

QColor HeaderTextColor(const QPalette& palette) {
    return IsDarkPalette(palette) ? palette.color(QPalette::Active, QPalette::WindowText) : QColor(40, 44, 60);
}

QColor PreviewBackgroundColor(const QPalette& palette) {
    return IsDarkPalette(palette) ? Window(palette) : Grey(0.9f);
}

QColor PreviewInkColor(const QPalette& palette) {
    return IsDarkPalette(palette) ? palette.color(QPalette::Active, QPalette::WindowText) : QColor(64, 64, 64);
}
