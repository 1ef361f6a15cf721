#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>

class QPainter;

// The look and the mouse tracking of a sliding on/off switch: a rounded
// track tinted in the on colour left of the thumb and in the off colour right
// of it, "ON" and "OFF" beside the thumb, a white thumb at the right end when
// on and at the left end when off. Geometry and decisions are plain
// functions of the frame, the state and the tracked points, so they can be
// checked without a window. Coordinates are top-down (y grows downwards).
class OnOffSwitchControlCell {
public:
    enum State : int { Off = 0, On = 1, Mixed = -1 };

    // What a release means: a click (the switch advances to its next state)
    // or a drag that leaves the switch in the state the thumb position says.
    struct TrackingResult {
        bool isClick = false;
        int desiredState = Off;
    };

    OnOffSwitchControlCell();

    // State and options.
    int state() const { return state_; }
    void setState(int state) { state_ = state; }
    bool allowsMixedState() const { return allowsMixedState_; }
    void setAllowsMixedState(bool allows) { allowsMixedState_ = allows; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    // The state a click moves to: off and on alternate; with the mixed state
    // allowed the cycle is mixed, on, off.
    int nextState() const;

    bool showsOnOffLabels() const { return showsOnOffLabels_; }
    void setShowsOnOffLabels(bool shows) { showsOnOffLabels_ = shows; }
    int onOffSwitchControlColors() const { return onOffSwitchControlColors_; }
    void setOnOffSwitchControlColors(int scheme) { onOffSwitchControlColors_ = scheme; }
    std::optional<QColor> customOnColor() const { return customOnColor_; }
    std::optional<QColor> customOffColor() const { return customOffColor_; }
    void setOnOffSwitchCustomOnColor(std::optional<QColor> onColor, std::optional<QColor> offColor);
    QString onSwitchLabel() const { return onSwitchLabel_; }
    void setOnSwitchLabel(const QString& label) { onSwitchLabel_ = label; }
    QString offSwitchLabel() const { return offSwitchLabel_; }
    void setOffSwitchLabel(const QString& label) { offSwitchLabel_ = label; }
    double clickTimeout() const { return clickTimeout_; }
    QSizeF maxDist() const { return maxDist_; }

    // The on and off colours of the current scheme; empty when the scheme
    // draws no tint.
    std::optional<QColor> onColor() const;
    std::optional<QColor> offColor() const;

    // Geometry.
    static QRectF InnerRect(const QRectF& frame);
    QRectF thumbRectInFrame(const QRectF& frame) const;
    double centerXForThumbWithFrame(const QRectF& frame) const;

    // Tracking; times in seconds from any fixed origin.
    bool isTracking() const { return tracking_; }
    void startTrackingAt(QPointF point, double now);
    void continueTracking(QPointF point, double now);
    TrackingResult stopTracking(QPointF point, double now);
    void cancelTracking() { tracking_ = false; }
    // The cell frame and thumb centre last drawn while tracking.
    QRectF trackingCellFrame() const { return trackingCellFrame_; }
    double trackingThumbCenterX() const { return trackingThumbCenterX_; }
    // Remembers what a drawing at this frame shows while tracking; drawing
    // calls it, and so can a caller that does not draw.
    void noteTrackingFrame(const QRectF& frame);

    // Tracking goes on until the mouse goes up, also outside the switch.
    static bool prefersTrackingUntilMouseUp() { return true; }
    // What a press at `point` hits: content and trackable area (5) inside
    // the frame, nothing (0) outside.
    static int hitTestForEvent(QPointF point, const QRectF& frame);

    // Drawing: the whole switch, and its parts (tint and labels, thumb, one label).
    void drawWithFrame(QPainter& painter, const QRectF& frame, bool hasFocus);
    void tintBackgroundWithFrame(QPainter& painter, const QRectF& frame);
    void drawInteriorWithFrame(QPainter& painter, const QRectF& frame, bool hasFocus);
    void drawText(QPainter& painter, const QString& text, const QRectF& rect);

private:

    bool tracking_ = false;
    QPointF initialTrackingPoint_;
    QPointF trackingPoint_;
    double initialTrackingTime_ = 0.0;
    double trackingTime_ = 0.0;
    QRectF trackingCellFrame_;
    double trackingThumbCenterX_ = 0.0;
    bool showsOnOffLabels_ = true;
    int onOffSwitchControlColors_ = 2;
    std::optional<QColor> customOnColor_;
    std::optional<QColor> customOffColor_;
    QString onSwitchLabel_ = QStringLiteral("ON");
    QString offSwitchLabel_ = QStringLiteral("OFF");
    double clickTimeout_ = 1.0 / 3.0;
    QSizeF maxDist_{6.0, 6.0};

    int state_ = Off;
    bool allowsMixedState_ = false;
    bool enabled_ = true;
};

// The inner size centred in the outer rectangle.
QRectF CenterSizeInRect(const QRectF& inner, const QRectF& outer);
