#pragma once
// The image list table: one column "ImageList" whose rows show a thumbnail
// (a spinner while it loads), the file name and its facts. Files dropped on
// it are added at the drop row; rows dragged out are converted by the batch
// for the drop target (DragOut.h).

#include "app/ui/DropTargets.h"
#include "app/ui/KSMOutlineView.h"

#include <QIcon>
#include <QStyledItemDelegate>

#include <filesystem>
#include <functional>
#include <map>
#include <vector>

class DragOutMimeData;
class ImageListModel;
class QTimer;
class QVariantAnimation;

// Paints one row ("MainDataCell"): thumbnail, name and the three fact texts.
class ImageDataCellView : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 116;

    explicit ImageDataCellView(QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Angle of the loading spinner, advanced by the table's timer.
    void setSpinnerPhase(int phase) { spinnerPhase_ = phase; }
    // The picture of an entry whose file could not be read.
    void setEmptyImageIcon(const QIcon& icon) { emptyImageIcon_ = icon; }
    // The opacity a row's thumbnail is drawn with while it fades in (keyed by
    // its entry); 1 when it is not fading.
    double imageOpacity(const void* entry) const;
    void setImageOpacity(const void* entry, double opacity) { imageOpacity_[entry] = opacity; }
    void clearImageOpacity(const void* entry) { imageOpacity_.erase(entry); }

private:
    int spinnerPhase_ = 0;
    QIcon emptyImageIcon_;
    std::map<const void*, double> imageOpacity_;
};

class ImageListTableView : public KSMTableView {
    Q_OBJECT
public:
    explicit ImageListTableView(QWidget* parent = nullptr);

    void setListModel(ImageListModel* model);
    // The picture of an entry whose file could not be read.
    void setEmptyImageIcon(const QIcon& icon);
    ImageListModel* listModel() const { return model_; }

    // Whether drops are taken (the Add item is enabled).
    std::function<bool()> isDropAllowed;
    // The data of a drag of these rows (in row order), their batch started;
    // none when they cannot be dragged out now.
    std::function<DragOutMimeData*(const std::vector<int>& rows)> beginDragOut;

    // The row a drop at `position` inserts at: the row under it, else the end.
    int dropRowAt(const QPoint& position) const;

    // How long a shown row's thumbnail fades in when it arrives, and removed
    // rows fade out, in milliseconds; 0: at once. 800 and 250 to start with,
    // both 0 when the environment sets VANTRELL_NO_ANIMATIONS (tests).
    void setRowFadeDurations(int fadeInMs, int fadeOutMs);
    // The opacity the row's thumbnail is drawn with now.
    double rowImageOpacity(int row) const;

signals:
    // Files dropped on the list, to be added at `row`.
    void filesDropped(const std::vector<std::filesystem::path>& urls, int row);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    bool acceptsDrag(const QDropEvent* event) const;
    // Enter and move: the copy operation exactly when the drag is taken.
    void offerCopy(QDragMoveEvent* event) const;
    void updateSpinner();
    // The arrived thumbnails of shown rows fade in.
    void fadeInArrivedImages(int first, int last);
    // Rows about to go: their fades stop, and a picture of them fades out.
    void fadeOutRows(int first, int last);

    ImageListModel* model_ = nullptr;
    int fadeInMs_ = 800;
    int fadeOutMs_ = 250;
    std::map<const void*, QVariantAnimation*> fadesIn_;
    ImageDataCellView* cells_ = nullptr;
    QTimer* spinnerTimer_ = nullptr;
    int spinnerPhase_ = 0;
    DraggedFiles draggedFiles_;
};
