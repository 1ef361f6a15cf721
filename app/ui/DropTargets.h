#pragma once
// The main window's drop targets besides the image list: the big image view
// adds dropped files and folders to the list; a folder box takes one folder.

#include <QFrame>
#include <QLabel>

#include <filesystem>
#include <vector>

class AppDelegate;
class QMimeData;

// The local file paths of a drag, in order; none when it carries no files.
std::vector<std::filesystem::path> DroppedFilePaths(const QMimeData* data);

// The big image view of the main window (mainImagePreview).
class KSMImageView : public QLabel {
    Q_OBJECT
public:
    explicit KSMImageView(QWidget* parent = nullptr);
    void setAppDelegate(AppDelegate* delegate) { appDelegate_ = delegate; }
    // draggingEnteredOrUpdated: whether the drag would be copied in.
    bool draggingEnteredOrUpdated(const QMimeData* data) const;
    // concludeDragOperation: adds the paths with all their subfolders.
    void concludeDragOperation(const QMimeData* data);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    AppDelegate* appDelegate_ = nullptr;
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
