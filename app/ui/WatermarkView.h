#pragma once

#include <QImage>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

#include "platform/ImageRef.h"

class WatermarkEditorModel;

// The watermark editor's canvas (watermarkContextView): a transparent view
// laid over the current image, fitted to the image's aspect ratio inside it.
// It draws the image watermark and the text exactly as the engine draws them
// into the output (the text through the engine's own layout and drawing),
// the selection frames with their handles, and lets the user select and drag
// the watermarks. Positions are the model's canvas points (y-up); the view
// maps them with currentXScale/currentYScale. Main thread only.
class WatermarkView : public QWidget {
    Q_OBJECT
public:
    // The placements handed over after each drawing: first corner, opposite
    // corner and view size of the text and the image (none when that
    // watermark is not selected or not drawn).
    using CenterArray = std::optional<std::array<float, 6>>;
    using CenterStore = std::function<void(const CenterArray& text, const CenterArray& image)>;

    // Laid over `preview` (its child), following its size.
    WatermarkView(WatermarkEditorModel* model, QWidget* preview);

    WatermarkEditorModel* model() const { return model_; }

    // Fits the view over the preview (centred, of the image's aspect ratio).
    void updateFrameRect();
    // A new current image of `shownSize` (turned as shown): the canvas takes
    // its aspect ratio and the watermarks are re-anchored.
    void initImageView(QSizeF shownSize);
    // Where the placements go after each drawing (ReadWriteWatermarkCenter).
    void setCenterStore(CenterStore store) { centerStore_ = std::move(store); }

    // Draws the text alone as the canvas does, into a cleared buffer of
    // `size` device pixels at (scaleX, scaleY) pixels per canvas point.
    QImage renderText(QSize size, double scaleX, double scaleY) const;

signals:
    // A drag (or a click on a watermark) ended: the preview should follow.
    void dragFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The event position in view points, y-up.
    QPointF viewPoint(const QPointF& position) const;
    const QImage& watermarkImage();
    void drawFrames(QPainter& painter);

    WatermarkEditorModel* model_;
    QWidget* preview_;
    CenterStore centerStore_;
    bool dragging_ = false;
    // The watermark image converted once for drawing.
    plat::ImageRef cachedImageSource_;
    QImage cachedImage_;
};
