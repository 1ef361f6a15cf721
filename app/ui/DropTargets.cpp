#include "app/ui/DropTargets.h"

#include "app/model/DropRules.h"
#include "app/model/LocalFileURL.h"
#include "app/model/StringTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>

#include <algorithm>

namespace {

const QString kUriList = QStringLiteral("text/uri-list");

// The list as the source sent it: QMimeData::urls() would decode each name
// as UTF-8 and lose the bytes that are not.
QByteArray UriListBytes(const QMimeData* data) {
    return data && data->hasFormat(kUriList) ? data->data(kUriList) : QByteArray();
}

}  // namespace

std::vector<std::filesystem::path> DroppedFilePaths(const QMimeData* data) {
    const QByteArray list = UriListBytes(data);
    return PathsFromURIList(std::string_view(list.constData(), std::size_t(list.size())));
}

void DraggedFiles::remember(const QMimeData* data) {
    if (kept_) return;
    const QByteArray list = UriListBytes(data);
    if (PathsFromURIList(std::string_view(list.constData(), std::size_t(list.size()))).empty()) return;
    kept_ = std::make_unique<QMimeData>();
    kept_->setData(kUriList, list);
}

const QMimeData* DraggedFiles::atDrop(const QMimeData* data) const {
    if (!kept_ || !DroppedFilePaths(data).empty()) return data;
    return kept_.get();
}

void DraggedFiles::forget() { kept_.reset(); }

KSMImageView::KSMImageView(QWidget* parent) : QLabel(parent) {
    setAcceptDrops(true);
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
    // A dashed drop area with its picture and text.
    const QRectF area = QRectF(rect()).adjusted(12, 12, -12, -12);
    QColor line = palette().color(QPalette::Mid);
    painter.setPen(QPen(line, 2.0, Qt::DashLine));
    painter.drawRoundedRect(area, 14, 14);
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    painter.setFont(font);
    const bool drop = placeholder_ == Placeholder::DropImage;
    const QString text = LocalizedString(drop ? "DropImagesHere" : "EmptyImageText");
    const QRectF textBounds = painter.fontMetrics().boundingRect(area.toAlignedRect().adjusted(16, 0, -16, 0),
                                                                 Qt::AlignCenter | Qt::TextWordWrap, text);
    // The picture takes up to 96 points above the text, less in a small view.
    const double room = std::min(area.width() - 32.0, area.height() - textBounds.height() - 48.0);
    const int side = int(std::clamp(room, 0.0, 96.0));
    const QIcon& image = drop ? dropImage_ : emptyImage_;
    QRectF textArea = area;
    if (!image.isNull() && side >= 24) {
        const double top = area.center().y() - (side + 12 + textBounds.height()) / 2.0;
        image.paint(&painter, QRectF(area.center().x() - side / 2.0, top, side, side).toRect(), Qt::AlignCenter,
                    QIcon::Disabled);
        textArea = QRectF(area.left(), top + side + 12, area.width(), textBounds.height());
    }
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextWordWrap, text);
}

void KSMImageView::setPlaceholderImages(const QIcon& dropImage, const QIcon& emptyImage) {
    dropImage_ = dropImage;
    emptyImage_ = emptyImage;
    update();
}

void KSMImageView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit resized();
}

bool KSMImageView::draggingEnteredOrUpdated(const QMimeData* data) const {
    if (!appDelegate_) return false;
    const auto paths = DroppedFilePaths(data);
    if (paths.empty()) return false;
    return ImageViewAcceptsDrop(paths, appDelegate_->isDropAllowed(), appDelegate_->batchSeams().isSupportedImageFile);
}

void KSMImageView::concludeDragOperation(const QMimeData* data) {
    auto paths = DroppedFilePaths(data);
    if (paths.empty() || !appDelegate_) return;
    if (const auto& add = appDelegate_->batchSeams().addWithRecursion) add(std::move(paths));
}

void KSMImageView::dragEnterEvent(QDragEnterEvent* event) { AnswerDrag(event, *this, draggedFiles_); }
void KSMImageView::dragMoveEvent(QDragMoveEvent* event) { AnswerDrag(event, *this, draggedFiles_); }
void KSMImageView::dragLeaveEvent(QDragLeaveEvent*) { draggedFiles_.forget(); }

void KSMImageView::dropEvent(QDropEvent* event) { PerformDrop(event, *this, draggedFiles_); }

DragAndDropCommonFolderController::DragAndDropCommonFolderController(QWidget* parent) : QFrame(parent) {
    setAcceptDrops(true);
}

bool DragAndDropCommonFolderController::draggingEnteredOrUpdated(const QMimeData* data) const {
    return allowDragAndDrop() && FolderBoxAcceptsDrop(DroppedFilePaths(data));
}

void DragAndDropCommonFolderController::concludeDragOperation(const QMimeData* data) {
    const auto paths = DroppedFilePaths(data);
    if (paths.empty() || !appDelegate_) return;
    if (const auto& dropped = appDelegate_->batchSeams().folderDropped) dropped(paths.front(), boxTypeOption_);
}

void DragAndDropCommonFolderController::dragEnterEvent(QDragEnterEvent* event) {
    AnswerDrag(event, *this, draggedFiles_);
}
void DragAndDropCommonFolderController::dragMoveEvent(QDragMoveEvent* event) {
    AnswerDrag(event, *this, draggedFiles_);
}
void DragAndDropCommonFolderController::dragLeaveEvent(QDragLeaveEvent*) { draggedFiles_.forget(); }

void DragAndDropCommonFolderController::dropEvent(QDropEvent* event) { PerformDrop(event, *this, draggedFiles_); }
