#pragma once
// The main window's drop targets besides the image list: the big image view
// adds dropped files and folders to the list; a folder box takes one folder.

#include "app/model/ListViewBaseCellEntity.h"

#include <QDropEvent>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMimeData>

#include <filesystem>
#include <memory>
#include <vector>

class AppDelegate;

// The local file paths of a drag, in order; none when it carries no files.
std::vector<std::filesystem::path> DroppedFilePaths(const QMimeData* data);

// The files of a drag, read as it enters a target. A source that ends right
// after the drop can no longer be asked at the drop, so the drop falls back
// on what was read while the source was surely there.
class DraggedFiles {
public:
    // A drag entered the target, or moves over it without files known yet.
    void remember(const QMimeData* data);
    // The data to take at the drop: the drag's own while it yields files,
    // else the files read as it entered.
    const QMimeData* atDrop(const QMimeData* data) const;
    void forget();

private:
    std::unique_ptr<QMimeData> kept_;
};

// Offers the copy operation when the target would take the drag, else nothing.
template <typename Event, typename Target>
void AnswerDrag(Event* event, const Target& target, DraggedFiles& files) {
    if (event->type() == QEvent::DragEnter) files.forget();
    files.remember(event->mimeData());
    if (target.draggingEnteredOrUpdated(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

// A drop: refused unless the target would take it, else copied in. The file
// list is read here, while the drop is handled.
template <typename Event, typename Target>
void PerformDrop(Event* event, Target& target, DraggedFiles& files) {
    const QMimeData* data = files.atDrop(event->mimeData());
    if (!target.draggingEnteredOrUpdated(data)) {
        event->ignore();
        files.forget();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    target.concludeDragOperation(data);
    files.forget();
}

// The big image view of the main window (mainImagePreview): the current
// image fitted into the view, or a picture that says why there is none (drop
// images here, or the image cannot be shown).
class KSMImageView : public QLabel {
    Q_OBJECT
public:
    enum class Placeholder { DropImage, EmptyImage };

    explicit KSMImageView(QWidget* parent = nullptr);

    // Asks for room for a 300-point image; it gives way down to its minimum
    // on a narrow screen.
    QSize sizeHint() const override { return QLabel::sizeHint().expandedTo(QSize(300, 300)); }

    // Shows these turned pixels, fitted into the view.
    void setImage(ThumbnailRef pixels);
    // Shows a placeholder instead of an image.
    void showPlaceholder(Placeholder placeholder);
    // The pictures drawn above the placeholders' texts.
    void setPlaceholderImages(const QIcon& dropImage, const QIcon& emptyImage);
    bool hasImage() const { return bool(pixels_); }
    Placeholder placeholder() const { return placeholder_; }
    ThumbnailRef image() const { return pixels_; }
    // Where the image is drawn inside the view.
    QRectF imageRect() const;
    void setAppDelegate(AppDelegate* delegate) { appDelegate_ = delegate; }
    // draggingEnteredOrUpdated: whether the drag would be copied in.
    bool draggingEnteredOrUpdated(const QMimeData* data) const;
    // concludeDragOperation: adds the paths with all their subfolders.
    void concludeDragOperation(const QMimeData* data);

signals:
    void resized();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    AppDelegate* appDelegate_ = nullptr;
    DraggedFiles draggedFiles_;
    ThumbnailRef pixels_;
    Placeholder placeholder_ = Placeholder::DropImage;
    QIcon dropImage_;
    QIcon emptyImage_;
};

// A folder box (the destination folder of the preferences).
class DragAndDropCommonFolderController : public QFrame {
    Q_OBJECT
public:
    explicit DragAndDropCommonFolderController(QWidget* parent = nullptr);
    AppDelegate* appDelegate() const { return appDelegate_; }
    void setAppDelegate(AppDelegate* delegate) { appDelegate_ = delegate; }
    int boxTypeOption() const { return boxTypeOption_; }
    void setBoxTypeOption(int option) { boxTypeOption_ = option; }
    bool allowDragAndDrop() const { return true; }
    bool draggingEnteredOrUpdated(const QMimeData* data) const;
    // Tells the controller the dropped folder (WatchFolderPathChangeAction:boxType:).
    void concludeDragOperation(const QMimeData* data);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    AppDelegate* appDelegate_ = nullptr;
    int boxTypeOption_ = 0;
    DraggedFiles draggedFiles_;
};
