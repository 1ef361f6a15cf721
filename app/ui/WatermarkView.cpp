// The platform headers reach GLib, which must come before Qt's keyword macros.
#include "engine/TextWatermark.h"
#include "platform/Image.h"

#include "app/model/WatermarkEditorModel.h"
#include "app/model/StringTable.h"
#include "app/ui/WatermarkView.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

// Selection frame look.
const QColor kFrameColor = QColor::fromRgbF(0.58f, 0.72f, 0.94f, 1.0f);
const QColor kHandleColor = QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.7f);
constexpr double kHandleDiameter = 6.0;  // view points

// The watermark image is drawn at most this many device pixels on its longer
// side (the canvas is 550 points): a big image is converted once, shrunk.
constexpr int kMaxDrawnImageSide = 2200;

QImage ToQImage(const plat::Image& image) {
    const std::vector<std::uint8_t> rgba = image.copyRGBA8();
    if (rgba.empty()) return {};
    QImage converted(rgba.data(), image.width(), image.height(), image.width() * 4, QImage::Format_RGBA8888);
    QImage owned = converted.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (std::max(owned.width(), owned.height()) > kMaxDrawnImageSide) {
        owned = owned.scaled(kMaxDrawnImageSide, kMaxDrawnImageSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return owned;
}

}  // namespace

WatermarkView::WatermarkView(WatermarkEditorModel* model, QWidget* preview)
    : QWidget(preview), model_(model), preview_(preview) {
    setObjectName(QStringLiteral("watermarkContextView"));
    setAccessibleName(LocalizedString("WatermarkEditorName"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    if (preview_) preview_->installEventFilter(this);
    connect(model_, &WatermarkEditorModel::valueChanged, this, [this] { update(); });
    updateFrameRect();
}

void WatermarkView::updateFrameRect() {
    if (!preview_) return;
    // The same fitted rectangle as the image view draws its image into.
    const QRectF frame = model_->updateFrameRect(QSizeF(preview_->size()));
    setGeometry(frame.toRect());
    update();
}

void WatermarkView::initImageView(QSizeF shownSize) {
    if (shownSize.width() > 0 && shownSize.height() > 0) {
        model_->setImageAspectRatio(shownSize.width() / shownSize.height());
    }
    model_->initImageView();
    updateFrameRect();
}

bool WatermarkView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == preview_ && event->type() == QEvent::Resize) updateFrameRect();
    return QWidget::eventFilter(watched, event);
}

QPointF WatermarkView::viewPoint(const QPointF& position) const {
    return {position.x(), double(height()) - position.y()};
}

const QImage& WatermarkView::watermarkImage() {
    const plat::ImageRef image = model_->watermarkImage();
    if (image != cachedImageSource_) {
        cachedImageSource_ = image;
        cachedImage_ = image ? ToQImage(*image) : QImage();
    }
    return cachedImage_;
}

QImage WatermarkView::renderText(QSize size, double scaleX, double scaleY) const {
    QImage buffer(size, QImage::Format_ARGB32_Premultiplied);
    if (buffer.isNull()) return {};
    buffer.fill(Qt::transparent);
    const QPointF start = model_->centerLoc();
    const plat::AffineTransform transform = plat::AffineTransform::scale(scaleX, scaleY);
    if (!DrawTextWatermarkIntoBuffer(buffer.bits(), buffer.width(), buffer.height(),
                                     static_cast<std::size_t>(buffer.bytesPerLine()), transform,
                                     model_->textString().toStdString(), model_->textStyle(scaleX, scaleY),
                                     {start.x(), start.y()})) {
        return {};
    }
    return buffer;
}

void WatermarkView::paintEvent(QPaintEvent*) {
    if (preview_) model_->updateFrameRect(QSizeF(preview_->size()));
    model_->beginDrawing(QSizeF(size()));
    const double sx = model_->currentXScale();
    const double sy = model_->currentYScale();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    if (model_->ImageWatermarkFlag()) {
        const QImage& image = watermarkImage();
        if (!image.isNull()) {
            const QPointF origin = model_->ImageLoc();
            const QSizeF drawn = model_->watermarkImageDrawnSize();
            const QRectF target(origin.x() * sx, height() - (origin.y() + drawn.height()) * sy, drawn.width() * sx,
                                drawn.height() * sy);
            painter.setOpacity(model_->WatermarkImageOpacity());
            painter.drawImage(target, image);
            painter.setOpacity(1.0);
        }
    }
    if (model_->TextWatermarkFlag() && !model_->textString().isEmpty()) {
        const qreal ratio = devicePixelRatioF();
        QImage text = renderText(QSize(qRound(width() * ratio), qRound(height() * ratio)), sx * ratio, sy * ratio);
        if (!text.isNull()) {
            text.setDevicePixelRatio(ratio);
            painter.drawImage(QPointF(0, 0), text);
        }
    }
    if (centerStore_) centerStore_(model_->textCenterArray(), model_->imageCenterArray());
    drawFrames(painter);
}

void WatermarkView::drawFrames(QPainter& painter) {
    const double sx = model_->currentXScale();
    const double sy = model_->currentYScale();
    const std::set<int>& selection = model_->selectionIndexes();
    // Canvas points, y-up, to view pixels.
    QTransform canvas;
    canvas.translate(0, height());
    canvas.scale(sx, -sy);

    auto drawFrame = [&](const QTransform& toView, const QRectF& rect) {
        painter.setTransform(toView);
        QPen pen(kFrameColor);
        pen.setCosmetic(true);
        pen.setWidthF(1.0);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kHandleColor);
        const double d = sx > 0.0 ? kHandleDiameter / sx : kHandleDiameter;
        const double xs[] = {rect.left(), rect.center().x(), rect.right()};
        const double ys[] = {rect.top(), rect.center().y(), rect.bottom()};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                if (i == 1 && j == 1) continue;
                painter.drawEllipse(QPointF(xs[i], ys[j]), d / 2, d / 2);
            }
        }
        painter.resetTransform();
    };

    if (model_->ImageWatermarkFlag() && selection.contains(1)) drawFrame(canvas, model_->imageFrameRect());
    if (model_->TextWatermarkFlag() && selection.contains(0)) {
        // The frame turns with the text about its start.
        const QPointF start = model_->centerLoc();
        QTransform turned = canvas;
        turned.translate(start.x(), start.y());
        turned.rotate(double(static_cast<float>(model_->textRotationAngle())));
        drawFrame(turned, model_->textFrameRect().translated(-start));
    }
}

void WatermarkView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const QPointF p = viewPoint(event->position());
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    dragging_ = model_->selectAndTrackMouse(p, shift);
    if (dragging_) model_->beginDrag(p);
    update();
}

void WatermarkView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    model_->dragTo(viewPoint(event->position()), QSizeF(size()));
}

void WatermarkView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    emit dragFinished();
}
