#include "app/ui/KSMStepper.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>

KSMStepper::KSMStepper(QWidget* parent) : QSpinBox(parent) {
    lineEdit()->hide();
    lineEdit()->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize KSMStepper::sizeHint() const {
    // Only as wide as the arrow buttons.
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const QSize full = QSpinBox::sizeHint();
    option.rect = QRect(QPoint(0, 0), full);
    const QRect arrows = style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, this);
    return {arrows.width() + 4, full.height()};
}

QSize KSMStepper::minimumSizeHint() const {
    return sizeHint();
}
