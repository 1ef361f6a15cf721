#pragma once

#include "platform/Color.h"

#include <QPushButton>

#include <functional>
#include <optional>

// A colour well: a button showing a colour; pressing it opens the colour
// chooser, and a chosen colour becomes the well's and is announced.
class ColorWell : public QPushButton {
    Q_OBJECT
public:
    explicit ColorWell(QWidget* parent = nullptr);

    plat::Color color() const { return color_; }
    // Shows `color`; no signal.
    void setColor(plat::Color color);

    // Asks the user for a colour starting from `initial`; none when cancelled.
    // Tests put their own answer here.
    using Chooser = std::function<std::optional<plat::Color>(QWidget* parent, plat::Color initial)>;
    static Chooser& chooser();

    QSize sizeHint() const override { return {44, 22}; }

signals:
    // The user chose a colour in the chooser.
    void colorChosen();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    plat::Color color_{0, 0, 0, 1};
};
