#pragma once
// The main window's drop targets besides the image list: the big image view
// adds dropped files and folders to the list; a folder box takes one folder.

#include "app/model/ListViewBaseCellEntity.h"

#include <QDropEvent>
#include <QFrame>
#include <QIcon>
#include <QLabel>

#include <filesystem>
#include <vector>

class AppDelegate;
class QMimeData;

// The local file paths of a drag, in order; none when it carries no files.
std::vector<std::filesystem::path> DroppedFilePaths(const QMimeData* data);

// Offers the copy operation when the target would take the drag, else nothing.
template <typename Event, typename Target>
void AnswerDrag(Event* event, const Target& target) {
    if (target.draggingEnteredOrUpdated(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

// A drop: refused unless the target would take it, else copied in.
template <typename Event, typename Target>
void PerformDrop(Event* event, Target& target) {
    if (!target.draggingEnteredOrUpdated(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    target.concludeDragOperation(event->mimeData());
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
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    AppDelegate* appDelegate_ = nullptr;
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
    void dropEvent(QDropEvent* event) override;

private:
    AppDelegate* appDelegate_ = nullptr;
    int boxTypeOption_ = 0;
};
