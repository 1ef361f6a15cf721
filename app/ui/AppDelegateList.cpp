// The controller's image list: add requests and their progress, the table's
// drops and drag-outs, removing rows, quarter turns and flips, and the
// current image with its description.
#include "app/model/CurrentImage.h"
#include "app/model/ImageListTexts.h"
#include "app/model/StringTable.h"
#include "app/ui/AddFilesDialog.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/DragOut.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/DropTargets.h"
#include "app/ui/KSMValidatedViewToolbar.h"
#include "app/ui/MainWindow.h"
#include "app/ui/SegmentedControl.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include "app/ui/PreviewWindow.h"
#include "app/ui/ProgressSheet.h"
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Pixels the current image is decoded to: enough for the view at the
// screen's density.
int CurrentImagePixelSide(const QWidget* view) {
    const double ratio = view->devicePixelRatioF();
    return std::max(256, int(std::ceil(std::max(view->width(), view->height()) * ratio)));
}

}  // namespace

void AppDelegate::setUpImageList() {
    // Thumbnails are made with the screen's pixels per point.
    SetThumbnailPixelRatio(qGuiApp->devicePixelRatio());
    imageListViewContents_ = std::make_unique<ImageListModel>();
    ImageListModel* model = imageListViewContents_.get();
    ImageListTableView* table = window_->imageListViewOutlet;
    table->setListModel(model);
    table->isDropAllowed = [this] { return toolbarEnableTable_.isEnabled(ToolbarEnableTable::AddImage); };
    table->beginDragOut = [this](const std::vector<int>& rows) {
        return dragOutController().beginDrag(rows, window_.get());
    };
    connect(table, &ImageListTableView::filesDropped, this,
            [this](const std::vector<std::filesystem::path>& urls, int row) {
                AddUrlsIntoListViewFromDragAndDrop(urls, row);
            });
    connect(window_->mainImagePreview, &KSMImageView::resized, this, &AppDelegate::updateFileDescription);
    // A view grown past the pixels decoded for it gets sharper pixels once
    // the resizing pauses.
    auto* redecode = new QTimer(window_.get());
    redecode->setSingleShot(true);
    redecode->setInterval(250);
    connect(window_->mainImagePreview, &KSMImageView::resized, redecode, qOverload<>(&QTimer::start));
    connect(redecode, &QTimer::timeout, this, [this] {
        const ListEntityRef entity = imageListViewContents_->selectedEntity();
        const ThumbnailRef shown = window_->mainImagePreview->image();
        if (!entity || !shown) return;
        const int shownSide = std::max(shown->width, shown->height);
        const double fullSide = std::max(entity->GetWidth(), entity->GetHeight());
        if (shownSide < fullSide && shownSide < CurrentImagePixelSide(window_->mainImagePreview) * 9 / 10) {
            transformAndSetCurrentImage();
        }
    });

    connect(model, &ImageListModel::selectedEntityChanged, this, &AppDelegate::PerformAnimationFromSelectedRowToImage);
    connect(model, &ImageListModel::selectedImageFactsChanged, this, [this] { updateFileDescription(); });
    connect(model, &ImageListModel::countChanged, this, [this] {
        setImageCountMessage();
        updateRemoveItems();
    });
    connect(model, &ImageListModel::listBecameNonEmpty, this, [this] { SetConversionButtonEnable(true); });
    connect(model, &ImageListModel::listBecameEmpty, this, [this] {
        SetConversionButtonEnable(false);
        updateRemoveItems();
        window_->mainImagePreview->showPlaceholder(KSMImageView::Placeholder::DropImage);
        PreviewWindowClose(this);
        emit imageListBecameEmpty();
    });
    connect(model, &ImageListModel::firstEntryOfRequestAdded, this, [this](int, bool listWasEmpty) {
        if (listWasEmpty) emit imageListFirstEntriesAdded();
    });

    // The add progress goes through the batch's progress sheet; its Cancel
    // stops this request only.
    connect(model, &ImageListModel::addRequestBegan, this, [this](const std::shared_ptr<AddRequestState>& state) {
        BeginProgressSheet(true);
        std::weak_ptr<AddRequestState> weak = state;
        QObject::disconnect(addCancelConnection_);
        addCancelConnection_ = connect(runs_->sheet, &ProgressSheet::cancelPressed, this, [weak] {
            if (auto request = weak.lock()) request->cancelled = true;
        });
    });
    connect(model, &ImageListModel::addRequestProgressed, this, [this](const std::shared_ptr<AddRequestState>& state) {
        // The request keeps its own counters: files seen so far, files added.
        runs_->progress.numOfFilesForConversion = state->numOfFilesForConversion.load();
        runs_->progress.fileProcessingIndex = state->fileProcessingIndex.load() - 1;
        ChangeProgressStatusWhileAdding(3);
    });
    connect(model, &ImageListModel::addRequestEnded, this, [this] {
        QObject::disconnect(addCancelConnection_);
        EndProgressSheet(true);
        runs_->progress.cancelHandled();
    });

    // The batch and the preview read the rows; drops on the big image view
    // add through here.
    BatchSeams& seams = batchSeams();
    seams.rowCount = [model] { return std::int64_t(model->count()); };
    seams.selectedRows = [model] {
        const std::vector<int> rows = model->selectedRows();
        return std::vector<std::int64_t>(rows.begin(), rows.end());
    };
    seams.rowAt = [model](std::int64_t row) -> std::optional<BatchRow> {
        const ListEntityRef entity = row < INT_MAX ? model->ImageEntityForRow(int(row)) : nullptr;
        if (!entity) return std::nullopt;
        return BatchRow{entity->GetFileURL(), entity->GetParentFolder(), entity->GetAngle(), entity->GetFlip()};
    };
    seams.isSupportedImageFile = [](const std::filesystem::path& url) { return IsSupportedImageFile(url) == 1; };
    seams.addWithRecursion = [this](std::vector<std::filesystem::path> urls) {
        AddUrlsIntoImageListViewAtEndWithRecusrsion(std::move(urls));
    };

    // The option controls read the selected entry's size and resolution.
    setSelectedImageProvider([this] {
        SelectedImageInfo info;
        info.listCount = imageListViewContents_->count();
        info.selectedRow = imageListViewContents_->selectedRow();
        if (const ListEntityRef entity = imageListViewContents_->selectedEntity()) {
            info.url = entity->GetFileURL();
            info.title = QString::fromStdString(entity->title());
            info.pixelWidth = entity->GetWidth();
            info.pixelHeight = entity->GetHeight();
            info.dpi = entity->GetResolution();
        }
        return info;
    });
    connect(model, &ImageListModel::selectedImageFactsChanged, this, [this] { updateRenameExampleString(); });
    setImageCountMessage();
}

// --- Adding -------------------------------------------------------------------------

void AppDelegate::AddImageOrFolderButtonAction(QObject*) {
    std::optional<AddDialogResult> result;
    if (runAddDialog) {
        result = runAddDialog();
    } else {
        AddFilesDialog dialog(window_.get());
        // The box keeps its last state, also across launches.
        dialog.mAddRecursiveCheckBoxButton->setChecked(jobOptions_->state().general.addFoldersRecursively);
        if (dialog.exec() == QDialog::Accepted) {
            // The box is read as the dialog closes, before the request starts.
            result = AddDialogResult{dialog.selectedURLs(), dialog.mAddRecursiveCheckBoxButton->isChecked()};
            jobOptions_->setExtraOption(&GeneralOptions::addFoldersRecursively, result->recursive, false);
        }
    }
    if (result && !result->urls.empty()) AddUrlsIntoImageListViewAtEnd(std::move(result->urls), result->recursive);
}

void AppDelegate::AddUrlsIntoImageListViewAtEnd(std::vector<std::filesystem::path> urls, bool recursive) {
    imageListViewContents_->AddUrlsIntoImageListView(std::move(urls), recursive);
}

void AppDelegate::AddUrlsIntoListViewFromDragAndDrop(std::vector<std::filesystem::path> urls,
                                                     std::optional<int> index) {
    imageListViewContents_->AddUrlsIntoImageListView(std::move(urls), false, index);
}

void AppDelegate::AddUrlsIntoImageListViewAtEndWithRecusrsion(std::vector<std::filesystem::path> urls) {
    imageListViewContents_->AddUrlsIntoImageListView(std::move(urls), true);
}

void AppDelegate::applicationOpenFiles(std::vector<std::filesystem::path> urls) {
    AddUrlsIntoListViewFromDragAndDrop(std::move(urls), std::nullopt);
}

// --- Rows ---------------------------------------------------------------------------

void AppDelegate::SelectRowStartingAtRow(int row) {
    imageListViewContents_->SelectRowStartingAtRow(row);
    const int selected = imageListViewContents_->selectedRow();
    if (selected >= 0) window_->imageListViewOutlet->scrollTo(imageListViewContents_->index(selected, 0));
}

void AppDelegate::setImageCountMessage() {
    const int count = imageListViewContents_->count();
    window_->totalFileCountLabelOutlet->setText(LocalizedFormat("TotalImageString", {count, PluralSuffix(count)}));
    if (runs_) changePreviewActionAfterDeleteOrAdd();
}

void AppDelegate::updateRemoveItems() {
    // Rows may go when there are some and no batch is running.
    const bool any = !imageListViewContents_->isEmpty() && !isBatchRunning();
    toolbarEnableTable_.setEnabled(ToolbarEnableTable::Remove, any);
    toolbarEnableTable_.setEnabled(ToolbarEnableTable::RemoveAll, any);
    applyToolbarEnableTable();
}

void AppDelegate::RemoveSelectedButtonAction(QObject*) {
    imageListViewContents_->RemoveSelected();
    const int selected = imageListViewContents_->selectedRow();
    if (selected >= 0) window_->imageListViewOutlet->scrollTo(imageListViewContents_->index(selected, 0));
}

void AppDelegate::RemoveAllButtonAction(QObject*) { imageListViewContents_->RemoveAll(); }

// --- Rotate and flip ----------------------------------------------------------------

void AppDelegate::rotate(QObject* sender) {
    auto* control = qobject_cast<SegmentedControl*>(sender);
    const int segment = control ? control->selectedSegment() : -1;
    if (segment == 0) rotateLeft(sender);
    if (segment == 1) rotateRight(sender);
}

void AppDelegate::flip(QObject* sender) {
    auto* control = qobject_cast<SegmentedControl*>(sender);
    const int segment = control ? control->selectedSegment() : -1;
    if (segment == 0) flipHorizontal(sender);
    if (segment == 1) flipVertical(sender);
}

void AppDelegate::rotateLeft(QObject*) {
    imageListViewContents_->rotateImage(90);
    transformAndSetCurrentImage();
}

void AppDelegate::rotateRight(QObject*) {
    imageListViewContents_->rotateImage(-90);
    transformAndSetCurrentImage();
}

void AppDelegate::flipHorizontal(QObject*) {
    imageListViewContents_->flipImage(1);
    transformAndSetCurrentImage();
}

void AppDelegate::flipVertical(QObject*) {
    imageListViewContents_->flipImage(2);
    transformAndSetCurrentImage();
}

// --- The current image ------------------------------------------------------------------

void AppDelegate::PerformAnimationFromSelectedRowToImage() {
    const int row = imageListViewContents_->selectedRow();
    if (row < 0) {
        window_->mainImagePreview->showPlaceholder(KSMImageView::Placeholder::DropImage);
        window_->filenameLabelOutlet->setText(QString());
        window_->fileDescriptionLabelOutlet->setText(QString());
        currentSelectedImageIndex = -1;
        currentZoom_ = 0.0;
        updateRenameExampleString();
        emit currentImageChanged(0.0, 0.0, 0.0);
        return;
    }
    currentSelectedImageIndex = row;
    window_->imageListViewOutlet->scrollTo(imageListViewContents_->index(row, 0));
    transformAndSetCurrentImage();
}

void AppDelegate::transformAndSetCurrentImage() {
    const ListEntityRef entity = imageListViewContents_->selectedEntity();
    if (!entity) return;
    KSMImageView* view = window_->mainImagePreview;
    const CurrentImage current =
        MakeCurrentImage(entity->GetFileURL(), entity->angle(), entity->GetFlip(), CurrentImagePixelSide(view));
    double ratio = 0.0;
    if (current.pixels) {
        view->setImage(current.pixels);
        ratio = current.shownHeight > 0.0 ? current.shownWidth / current.shownHeight : 0.0;
        currentZoom_ = CurrentImageZoom(current.pixelWidth, current.pixelHeight, entity->angle(), view->width(),
                                        view->height());
    } else {
        view->showPlaceholder(KSMImageView::Placeholder::EmptyImage);
        currentZoom_ = 0.0;
    }
    setImageFileDescription(currentZoom_);
    updateRenameExampleString();
    emit currentImageChanged(ratio, current.shownWidth, current.shownHeight);
    if (runs_ && runs_->previewWindow) PreviewAction(nullptr);
}

void AppDelegate::setImageFileDescription(double zoom) {
    const ListEntityRef entity = imageListViewContents_->selectedEntity();
    if (!entity) return;
    window_->filenameLabelOutlet->setText(QString::fromStdString(entity->title()));
    window_->fileDescriptionLabelOutlet->setText(ImageFileDescription(zoom, entity->angle(), entity->GetFlip()));
}

void AppDelegate::updateFileDescription() {
    const ListEntityRef entity = imageListViewContents_->selectedEntity();
    if (!entity || !window_->mainImagePreview->hasImage()) return;
    // The entry's size once loaded; the shown image's own until then.
    double width = entity->GetWidth();
    double height = entity->GetHeight();
    if (width <= 0.0 || height <= 0.0) return setImageFileDescription(currentZoom_);
    const KSMImageView* view = window_->mainImagePreview;
    currentZoom_ = CurrentImageZoom(width, height, entity->angle(), view->width(), view->height());
    setImageFileDescription(currentZoom_);
}
