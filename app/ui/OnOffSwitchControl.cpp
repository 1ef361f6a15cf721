#include "app/ui/OnOffSwitchControl.h"

#include <QMouseEvent>
#include <QPainter>

OnOffSwitchControl::OnOffSwitchControl(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    clock_.start();
}

void OnOffSwitchControl::setState(int state) {
    // Keep QAbstractButton's checked flag in step without signals; the cell
    // state is set last because setChecked() reports back through checkStateSet().
    const bool blocked = blockSignals(true);
    setChecked(state == OnOffSwitchControlCell::On);
    blockSignals(blocked);
    cell_.setState(state);
    update();
}

void OnOffSwitchControl::setAllowsMixedState(bool allows) {
    cell_.setAllowsMixedState(allows);
    update();
}

QSize OnOffSwitchControl::sizeHint() const {
    return QSize(52, 18);
}

QSize OnOffSwitchControl::minimumSizeHint() const {
    return QSize(24, 10);
}

double OnOffSwitchControl::now() const {
    return static_cast<double>(clock_.nsecsElapsed()) / 1e9;
}

void OnOffSwitchControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    cell_.setEnabled(isEnabled());
    cell_.drawWithFrame(painter, QRectF(rect()), hasFocus());
}

bool OnOffSwitchControl::hitButton(const QPoint& pos) const {
    return OnOffSwitchControlCell::hitTestForEvent(QPointF(pos), QRectF(rect())) != 0;
}

void OnOffSwitchControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        event->ignore();
        return;
    }
    cell_.startTrackingAt(event->position(), now());
    cell_.noteTrackingFrame(QRectF(rect()));
    setDown(true);
    update();
    event->accept();
}

void OnOffSwitchControl::mouseMoveEvent(QMouseEvent* event) {
    if (!cell_.isTracking()) {
        event->ignore();
        return;
    }
    cell_.continueTracking(event->position(), now());
    cell_.noteTrackingFrame(QRectF(rect()));
    update();
    event->accept();
}

void OnOffSwitchControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !cell_.isTracking()) {
        event->ignore();
        return;
    }
    const double time = now();
    cell_.continueTracking(event->position(), time);
    cell_.noteTrackingFrame(QRectF(rect()));
    const OnOffSwitchControlCell::TrackingResult result = cell_.stopTracking(event->position(), time);
    setDown(false);
    event->accept();
    changeStateByUser(result.desiredState);
    emit clicked(isChecked());
}

void OnOffSwitchControl::focusOutEvent(QFocusEvent* event) {
    QAbstractButton::focusOutEvent(event);
    update();
}

void OnOffSwitchControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        cell_.setEnabled(isEnabled());
        if (!isEnabled() && cell_.isTracking()) {
            cell_.cancelTracking();
            setDown(false);
        }
        update();
    }
    QAbstractButton::changeEvent(event);
}

// The keyboard's click (space) and an assistive tool's press advance the
// state like a mouse click.
void OnOffSwitchControl::nextCheckState() {
    changeStateByUser(cell_.nextState());
}

void OnOffSwitchControl::changeStateByUser(int state) {
    const int before = cell_.state();
    setState(state);
    if (cell_.state() != before) emit toggled(isChecked());
}

void OnOffSwitchControl::checkStateSet() {
    // setChecked() from outside (an assistive tool's toggle action among
    // them, which then reports through `toggled`): follow it, leaving the
    // mixed state.
    cell_.setState(isChecked() ? OnOffSwitchControlCell::On : OnOffSwitchControlCell::Off);
    update();
}
