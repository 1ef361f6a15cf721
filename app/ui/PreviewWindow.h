#pragma once

#include <QLabel>
#include <QPoint>
#include <QWidget>

class QProgressBar;
class QToolButton;
class SegmentedControl;

// The preview window's background: a translucent grey gradient with rounded
// corners (the palette's window tone under a dark palette).
class PreviewView : public QWidget {
    Q_OBJECT
public:
    explicit PreviewView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The converted image, scaled down to fit the view and never up.
class PreviewImageView : public QLabel {
    Q_OBJECT
public:
    explicit PreviewImageView(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    void clearImage();
    const QImage& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

// The caption: one line, cut short with an ellipsis when the window is too
// narrow for it (the whole text is then its tool tip). text() stays whole.
class PreviewCaptionLabel : public QLabel {
    Q_OBJECT
public:
    explicit PreviewCaptionLabel(QWidget* parent = nullptr);
    // The text as drawn in the current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateToolTip();
};

// The preview window: title-less and translucent, dragged by its background,
// with a bar for the next/previous control, the caption, the busy indicator
// and the fitted/user frame toggle, and a grip to resize it.
class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    explicit PreviewWindow(QWidget* parent = nullptr);

    // Sets the frame without counting as a resize by the user.
    void setFrameByProgram(const QRect& frame);
    // Shows the caption whole: the window grows to fit it, up to the width of
    // its screen; only a caption wider than that is shortened.
    void setCaption(const QString& caption);

    PreviewImageView* previewImageView = nullptr;
    PreviewCaptionLabel* PreviewStringStaticText = nullptr;
    SegmentedControl* previewNextPreviousButton = nullptr;
    QProgressBar* spinProgressIndicator = nullptr;
    // Switches between the fitted and the user's frame.
    QToolButton* fullScreenPreviewToggleButton = nullptr;
    // Closes the window (it has no title bar).
    QToolButton* previewCloseButtonOutlet = nullptr;

    QPoint initialLocation() const { return initialLocation_; }

signals:
    // windowWillClose:
    void windowWillClose();
    // windowWillResize:toSize: by the user.
    void windowWillResize();
    // Entering or leaving full screen.
    void fullScreenChanged(bool fullScreen);
    void nextPrevious(int segment);
    void toggleFrame();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The caption's and the bar buttons' colours for the current palette.
    void applyThemeColours();

    QPoint initialLocation_;
    bool settingFrame_ = false;
};
