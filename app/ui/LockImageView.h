#pragma once

#include <QFrame>
#include <QWidget>

// The padlock beside the width and height fields: closed while the scale
// option keeps the image's proportions, open otherwise.
class LockImageView : public QWidget {
    Q_OBJECT
public:
    explicit LockImageView(QWidget* parent = nullptr);

    bool isLocked() const { return locked_; }
    void setLocked(bool locked);

    QSize sizeHint() const override { return {14, 18}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool locked_ = true;
};

// One piece of the bracket that joins the width and height fields: it draws
// the chosen edges of its rectangle in the frame colour.
class LockLinesBox : public QFrame {
    Q_OBJECT
public:
    enum Edge { Top = 1, Right = 2, Bottom = 4 };

    LockLinesBox(int edges, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int edges_;
};
