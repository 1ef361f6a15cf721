#include "app/ui/DropTargets.h"

#include "app/model/DropRules.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

std::vector<std::filesystem::path> DroppedFilePaths(const QMimeData* data) {
    std::vector<std::filesystem::path> paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths.emplace_back(url.toLocalFile().toStdString());
    }
    return paths;
}

namespace {

// Offers the copy operation or nothing.
template <typename Event, typename Target>
void AnswerDrag(Event* event, const Target& target) {
    if (target.draggingEnteredOrUpdated(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace

KSMImageView::KSMImageView(QWidget* parent) : QLabel(parent) { setAcceptDrops(true); }

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

void KSMImageView::dragEnterEvent(QDragEnterEvent* event) { AnswerDrag(event, *this); }
void KSMImageView::dragMoveEvent(QDragMoveEvent* event) { AnswerDrag(event, *this); }

void KSMImageView::dropEvent(QDropEvent* event) {
    if (!draggingEnteredOrUpdated(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    concludeDragOperation(event->mimeData());
}

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

void DragAndDropCommonFolderController::dragEnterEvent(QDragEnterEvent* event) { AnswerDrag(event, *this); }
void DragAndDropCommonFolderController::dragMoveEvent(QDragMoveEvent* event) { AnswerDrag(event, *this); }

void DragAndDropCommonFolderController::dropEvent(QDropEvent* event) {
    if (!draggingEnteredOrUpdated(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    concludeDragOperation(event->mimeData());
}
