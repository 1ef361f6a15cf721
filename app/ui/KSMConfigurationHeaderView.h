#pragma once

#include <QWidget>

class QAbstractButton;
class QLabel;
class OnOffSwitchControl;

// The view of a group header: the group's title and its on/off switch over a
// light blue-grey gradient (a palette-made one under a dark palette).
class KSMConfigurationHeaderView : public QWidget {
    Q_OBJECT
public:
    explicit KSMConfigurationHeaderView(QWidget* parent = nullptr);

    OnOffSwitchControl* onOffSwitchButtonOutlet() const { return onOffSwitchButtonOutlet_; }
    QLabel* textField() const { return textField_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyTitleColour();

    OnOffSwitchControl* onOffSwitchButtonOutlet_;
    QLabel* textField_;
};

// The row of a group header. A click anywhere on it outside the switch
// toggles the group's expansion through its disclosure button.
class KSMConfigurationHeaderRowView : public QWidget {
    Q_OBJECT
public:
    explicit KSMConfigurationHeaderRowView(QWidget* parent = nullptr);

    // The first direct child that is a button: the disclosure control.
    QAbstractButton* disclosureButton() const;
    bool isPressed() const { return pressed_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void updateButtonState();

    bool pressed_ = false;
};
