#pragma once

#include "app/ui/OnOffSwitchControlCell.h"

#include <QAbstractButton>
#include <QElapsedTimer>

// A button drawn and tracked as a sliding on/off switch. A click toggles it;
// a drag leaves it on the side where the thumb was let go. `toggled` is
// emitted after every user change, whether it came from the mouse, the
// keyboard or an assistive tool's toggle action; setState() changes it
// silently. The title (text()) is never drawn: it names the switch.
class OnOffSwitchControl : public QAbstractButton {
    Q_OBJECT
public:
    explicit OnOffSwitchControl(QWidget* parent = nullptr);

    int state() const { return cell_.state(); }
    void setState(int state);
    void setAllowsMixedState(bool allows);

    OnOffSwitchControlCell& cell() { return cell_; }
    const OnOffSwitchControlCell& cell() const { return cell_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    void nextCheckState() override;
    void checkStateSet() override;

private:
    double now() const;
    // A change the user asked for: announced when the state really changes.
    void changeStateByUser(int state);

    OnOffSwitchControlCell cell_;
    QElapsedTimer clock_;
};
