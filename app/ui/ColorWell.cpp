#include "app/ui/ColorWell.h"

#include "app/model/StringTable.h"

#include <QColorDialog>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

QColor ToQColor(plat::Color c) {
    return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha));
}

std::optional<plat::Color> ChooseWithDialog(QWidget* parent, plat::Color initial) {
    const QColor chosen = QColorDialog::getColor(ToQColor(initial), parent, LocalizedString("ChooseColorDialogTitle"));
    if (!chosen.isValid()) return std::nullopt;
    return plat::Color{chosen.redF(), chosen.greenF(), chosen.blueF(), chosen.alphaF()};
}

}  // namespace

ColorWell::ColorWell(QWidget* parent) : QPushButton(parent) {
    connect(this, &QPushButton::clicked, this, [this] {
        if (const std::optional<plat::Color> chosen = chooser()(window(), color_)) {
            setColor(*chosen);
            emit colorChosen();
        }
    });
}

ColorWell::Chooser& ColorWell::chooser() {
    static Chooser chooser = ChooseWithDialog;
    return chooser;
}

void ColorWell::setColor(plat::Color color) {
    if (color == color_) return;
    color_ = color;
    update();
}

void ColorWell::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRect swatch = rect().adjusted(6, 5, -6, -5);
    painter.setPen(isEnabled() ? palette().color(QPalette::Dark) : palette().color(QPalette::Mid));
    QColor fill = ToQColor(color_);
    if (!isEnabled()) fill.setAlphaF(fill.alphaF() * 0.4f);
    painter.setBrush(fill);
    painter.drawRect(swatch);
}
