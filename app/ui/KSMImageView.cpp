#include "app/ui/KSMImageView.h"

#include "app/model/StringTable.h"

#include <QPainter>
#include <QPainterPath>

KSMImageView::KSMImageView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName(LocalizedString("DropImagesHere"));
}

void KSMImageView::setImage(ThumbnailRef pixels) {
    pixels_ = std::move(pixels);
    if (!pixels_) placeholder_ = Placeholder::EmptyImage;
    update();
}

void KSMImageView::showPlaceholder(Placeholder placeholder) {
    pixels_.reset();
    placeholder_ = placeholder;
    update();
}

QRectF KSMImageView::imageRect() const {
    if (!pixels_ || pixels_->width <= 0 || pixels_->height <= 0) return {};
    QSizeF size(pixels_->width, pixels_->height);
    size.scale(QSizeF(width(), height()), Qt::KeepAspectRatio);
    return {(width() - size.width()) / 2.0, (height() - size.height()) / 2.0, size.width(), size.height()};
}

void KSMImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (pixels_) {
        const QImage image(pixels_->rgba.data(), pixels_->width, pixels_->height, pixels_->width * 4,
                           QImage::Format_RGBA8888);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imageRect(), image);
        return;
    }
    // A dashed drop area with its text.
    const QRectF area = QRectF(rect()).adjusted(12, 12, -12, -12);
    QColor line = palette().color(QPalette::Mid);
    painter.setPen(QPen(line, 2.0, Qt::DashLine));
    painter.drawRoundedRect(area, 14, 14);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    painter.setFont(font);
    const char* key = placeholder_ == Placeholder::DropImage ? "DropImagesHere" : "EmptyImageText";
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, LocalizedString(key));
}

void KSMImageView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit resized();
}
