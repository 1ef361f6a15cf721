#include "app/ui/OnOffSwitchControlCell.h"

#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace {

// The switch's proportions and thresholds are single-precision values.
const double kThumbWidthFactor = static_cast<double>(0.45f);
const double kOneThird = static_cast<double>(1.0f / 3.0f);
const double kTwoThirds = static_cast<double>(2.0f / 3.0f);
constexpr double kCornerRadius = 2.5;

const QColor kBlue = QColor::fromRgbF(0.05f, 0.38f, 0.9f, 1.0f);
const QColor kTranslucentGreen = QColor::fromRgbF(0.0f, 0.7f, 0.0f, 0.6f);
const QColor kTranslucentRed = QColor::fromRgbF(0.7f, 0.0f, 0.0f, 0.6f);
const QColor kGray = QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f);

QPainterPath RoundedPath(const QRectF& rect) {
    QPainterPath path;
    path.addRoundedRect(rect, kCornerRadius, kCornerRadius);
    return path;
}

// Every gradient of the switch runs from its top edge to its bottom edge.
QLinearGradient VerticalGradient(const QRectF& rect, const QColor& top, const QColor& bottom) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0.0, top);
    gradient.setColorAt(1.0, bottom);
    return gradient;
}

QColor White(double level, double alpha = 1.0) {
    return QColor::fromRgbF(static_cast<float>(level), static_cast<float>(level), static_cast<float>(level),
                            static_cast<float>(alpha));
}

}  // namespace

QRectF CenterSizeInRect(const QRectF& inner, const QRectF& outer) {
    return QRectF(outer.x() + (outer.width() - inner.width()) * 0.5,
                  outer.y() + (outer.height() - inner.height()) * 0.5, inner.width(), inner.height());
}

OnOffSwitchControlCell::OnOffSwitchControlCell() {
    clickTimeout_ = kOneThird;
}

int OnOffSwitchControlCell::nextState() const {
    if (allowsMixedState_) {
        if (state_ == On) return Off;
        if (state_ == Off) return Mixed;
        return On;
    }
    return state_ == On ? Off : On;
}

void OnOffSwitchControlCell::setOnOffSwitchCustomOnColor(std::optional<QColor> onColor,
                                                         std::optional<QColor> offColor) {
    customOffColor_ = offColor;
    customOnColor_ = onColor;
}

std::optional<QColor> OnOffSwitchControlCell::onColor() const {
    switch (onOffSwitchControlColors_) {
    case 1: return customOnColor_;
    case 2: return enabled_ ? kBlue : kTranslucentGreen;
    case 3: return kTranslucentGreen;
    case 4: return kBlue;
    default: return std::nullopt;
    }
}

std::optional<QColor> OnOffSwitchControlCell::offColor() const {
    switch (onOffSwitchControlColors_) {
    case 1: return customOffColor_;
    case 2: return kGray;
    case 3:
    case 4: return kTranslucentRed;
    default: return std::nullopt;
    }
}

QRectF OnOffSwitchControlCell::InnerRect(const QRectF& frame) {
    return frame.adjusted(1.0, 1.0, -1.0, -1.0);
}

QRectF OnOffSwitchControlCell::thumbRectInFrame(const QRectF& frame) const {
    const QRectF inner = InnerRect(frame);
    const double thumbWidth = inner.width() * kThumbWidthFactor;
    double x = inner.x();
    if (state_ == On) x = inner.x() + inner.width() - thumbWidth;
    else if (state_ == Mixed) x = inner.x() + (inner.width() - thumbWidth) / 2.0;
    return QRectF(x, inner.y(), thumbWidth, inner.height());
}

double OnOffSwitchControlCell::centerXForThumbWithFrame(const QRectF& frame) const {
    const QRectF thumb = thumbRectInFrame(frame);
    if (!tracking_) return thumb.x() + thumb.width() / 2.0;
    double x = thumb.x() + (trackingPoint_.x() - initialTrackingPoint_.x());
    x = std::min(x, frame.x() + frame.width() - thumb.width());
    x = std::max(x, frame.x());
    return x + thumb.width() / 2.0;
}

int OnOffSwitchControlCell::hitTestForEvent(QPointF point, const QRectF& frame) {
    // The far edges lie outside, as for a pixel grid.
    const bool inside = point.x() >= frame.left() && point.x() < frame.right() && point.y() >= frame.top() &&
                        point.y() < frame.bottom();
    return inside ? 5 : 0;
}

void OnOffSwitchControlCell::startTrackingAt(QPointF point, double now) {
    tracking_ = true;
    initialTrackingPoint_ = trackingPoint_ = point;
    initialTrackingTime_ = trackingTime_ = now;
}

void OnOffSwitchControlCell::continueTracking(QPointF point, double now) {
    // The click window counts from the press, not from the latest movement.
    trackingPoint_ = point;
    trackingTime_ = now;
}

void OnOffSwitchControlCell::noteTrackingFrame(const QRectF& frame) {
    trackingCellFrame_ = frame;
    trackingThumbCenterX_ = centerXForThumbWithFrame(InnerRect(frame));
}

OnOffSwitchControlCell::TrackingResult OnOffSwitchControlCell::stopTracking(QPointF point, double now) {
    trackingPoint_ = point;
    tracking_ = false;
    trackingTime_ = now;
    TrackingResult result;
    // A click is short and nearly motionless, whichever way the mouse moved.
    const double dx = std::abs(point.x() - initialTrackingPoint_.x());
    const double dy = std::abs(point.y() - initialTrackingPoint_.y());
    if (trackingTime_ - initialTrackingTime_ < clickTimeout_ && dx < maxDist_.width() && dy < maxDist_.height()) {
        result.isClick = true;
        result.desiredState = nextState();
        return result;
    }
    const double width = trackingCellFrame_.width();
    const double f = width > 0.0 ? (trackingThumbCenterX_ - trackingCellFrame_.x()) / width : 0.0;
    if (allowsMixedState_) {
        result.desiredState = f < kOneThird ? Off : (f >= kTwoThirds ? On : Mixed);
    } else {
        result.desiredState = f >= 0.5 ? On : Off;
    }
    return result;
}

void OnOffSwitchControlCell::drawWithFrame(QPainter& painter, const QRectF& frame, bool hasFocus) {
    if (tracking_) trackingCellFrame_ = frame;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);

    // Border and track.
    const QRectF inner = InnerRect(frame);
    const QPainterPath track = RoundedPath(inner);
    painter.strokePath(track, QPen(White(0.125), 1.0));
    painter.fillPath(track, VerticalGradient(inner, White(0.5), White(kTwoThirds)));

    painter.save();
    painter.setClipPath(RoundedPath(frame), Qt::IntersectClip);
    if (!allowsMixedState_) tintBackgroundWithFrame(painter, frame);
    // Inner shadow along the top edge.
    const QRectF strip(frame.x(), frame.y(), frame.width(), 4.0);
    painter.fillRect(strip, VerticalGradient(strip, White(0.0, 0.35), White(0.0, 0.0)));
    painter.restore();

    drawInteriorWithFrame(painter, frame, hasFocus);
    painter.restore();
}

void OnOffSwitchControlCell::tintBackgroundWithFrame(QPainter& painter, const QRectF& frame) {
    painter.save();
    painter.setClipPath(RoundedPath(frame), Qt::IntersectClip);
    const QRectF thumb = thumbRectInFrame(frame);
    const double center = centerXForThumbWithFrame(frame);
    const auto on = onColor();
    const auto off = offColor();
    if (on && off) {
        const QRectF left(frame.x(), frame.y(), center - frame.x(), frame.height());
        const QRectF right(center, frame.y(), frame.x() + frame.width() - center, frame.height());
        painter.fillRect(left.adjusted(1.0, 1.0, -1.0, -1.0), *on);
        painter.fillRect(right.adjusted(1.0, 1.0, -1.0, -1.0), *off);
    }
    painter.restore();

    if (!showsOnOffLabels_) return;
    const double labelWidth = frame.width() * kTwoThirds;
    const double onEdge = tracking_ ? center - thumb.width() / 2.0 : thumb.x() + 1.0;
    drawText(painter, onSwitchLabel_, QRectF(onEdge - labelWidth + 2.0, frame.y(), labelWidth + 2.0, frame.height()));
    const double offEdge = tracking_ ? center + thumb.width() / 2.0 - 1.0 : thumb.x() + thumb.width() - 2.0;
    drawText(painter, offSwitchLabel_, QRectF(offEdge, frame.y(), labelWidth - 2.0, frame.height()));
}

void OnOffSwitchControlCell::drawText(QPainter& painter, const QString& text, const QRectF& rect) {
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPixelSize(std::max(7, static_cast<int>(std::lround(rect.height() * 0.55))));
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    const QRectF textRect = CenterSizeInRect(QRectF(QPointF(), size), rect);
    painter.save();
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(textRect, Qt::AlignCenter | Qt::TextSingleLine, text);
    painter.restore();
}

void OnOffSwitchControlCell::drawInteriorWithFrame(QPainter& painter, const QRectF& frame, bool hasFocus) {
    const QRectF inner = InnerRect(frame);
    QRectF thumb = thumbRectInFrame(frame);
    painter.save();
    painter.setClipPath(RoundedPath(inner), Qt::IntersectClip);
    if (tracking_) {
        double x = thumb.x() + (trackingPoint_.x() - initialTrackingPoint_.x());
        x = std::min(x, inner.x() + inner.width() - thumb.width());
        x = std::max(x, inner.x());
        thumb.moveLeft(x);
        trackingThumbCenterX_ = centerXForThumbWithFrame(inner);
    }
    // A soft shadow round the thumb: black at half opacity fading over 3 points.
    for (int ring = 3; ring >= 1; --ring) {
        const double grow = ring;
        painter.fillPath(RoundedPath(thumb.adjusted(-grow, -grow, grow, grow)), White(0.0, 0.5 / (ring * 2.0)));
    }
    const QPainterPath thumbPath = RoundedPath(thumb);
    if (hasFocus) {
        const QColor ring = QApplication::palette().color(QPalette::Highlight);
        painter.fillPath(RoundedPath(thumb.adjusted(-2.0, -2.0, 2.0, 2.0)), ring);
    }
    painter.fillPath(thumbPath, Qt::white);
    painter.fillPath(thumbPath, VerticalGradient(thumb, White(1.0), White(static_cast<double>(0.9f))));
    painter.restore();
}
