#include "app/ui/ThemeColours.h"

#include <QApplication>
#include <QEvent>

#include <cmath>

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

namespace {
// A colour as seen over an opaque background.
QColor Over(const QColor& colour, const QColor& background) {
    const double a = colour.alphaF();
    return QColor::fromRgbF(float(colour.redF() * a + background.redF() * (1 - a)),
                            float(colour.greenF() * a + background.greenF() * (1 - a)),
                            float(colour.blueF() * a + background.blueF() * (1 - a)));
}

QColor Mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(float(a.redF() * (1 - t) + b.redF() * t), float(a.greenF() * (1 - t) + b.greenF() * t),
                            float(a.blueF() * (1 - t) + b.blueF() * t));
}
}  // namespace

QColor ReadablePlaceholderColor(const QPalette& palette) {
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    const QColor placeholder = palette.color(QPalette::Active, QPalette::PlaceholderText);
    if (std::abs(Over(placeholder, base).lightnessF() - base.lightnessF()) >= 0.25) return placeholder;
    return Mix(palette.color(QPalette::Active, QPalette::Text), base, 0.45);
}

void KeepPlaceholdersReadable() {
    struct Watch : QObject {
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) apply();
            return false;
        }
        static void apply() {
            QPalette palette = QApplication::palette();
            const QColor readable = ReadablePlaceholderColor(palette);
            if (readable == palette.color(QPalette::Active, QPalette::PlaceholderText)) return;
            palette.setColor(QPalette::PlaceholderText, readable);
            QApplication::setPalette(palette);  // comes back here once, readable
        }
    };
    static Watch* watch = nullptr;
    if (!watch) {
        watch = new Watch;
        watch->setParent(qApp);
        qApp->installEventFilter(watch);
    }
    Watch::apply();
}
