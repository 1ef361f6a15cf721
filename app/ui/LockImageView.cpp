#include "app/ui/LockImageView.h"

#include <QPainter>
#include <QPainterPath>

LockImageView::LockImageView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LockImageView::setLocked(bool locked) {
    if (locked_ == locked) return;
    locked_ = locked;
    update();
}

void LockImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    const QRectF area = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const double bodyHeight = area.height() * 0.5;
    const QRectF body(area.left(), area.bottom() - bodyHeight, area.width(), bodyHeight);

    // The shackle; an open lock lifts it off the right side of the body.
    const double shackleWidth = area.width() * 0.64;
    const double shackleLeft = area.left() + (area.width() - shackleWidth) / 2.0;
    const double lift = locked_ ? 0.0 : area.height() * 0.12;
    QPainterPath shackle;
    shackle.moveTo(shackleLeft, body.top() - lift);
    shackle.lineTo(shackleLeft, area.top() + shackleWidth / 2.0 - lift);
    shackle.arcTo(QRectF(shackleLeft, area.top() - lift, shackleWidth, shackleWidth), 180.0, -180.0);
    shackle.lineTo(shackleLeft + shackleWidth, locked_ ? body.top() : body.top() - area.height() * 0.2 - lift);
    painter.setPen(QPen(ink, 1.6));
    painter.drawPath(shackle);

    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawRoundedRect(body, 1.5, 1.5);
}

LockLinesBox::LockLinesBox(int edges, QWidget* parent) : QFrame(parent), edges_(edges) {}

void LockLinesBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Dark));
    const QRect r = rect();
    if (edges_ & Top) painter.drawLine(r.topLeft(), r.topRight());
    if (edges_ & Right) painter.drawLine(r.topRight(), r.bottomRight());
    if (edges_ & Bottom) painter.drawLine(r.bottomLeft(), r.bottomRight());
}
