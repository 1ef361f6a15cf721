#include "app/ui/AppDelegate.h"
#include "app/ui/ThemeColours.h"

#include "app/ui/AppDelegatePreferencesState.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/ApplicationSupportFolder.h"
#include "app/ui/CloseRequestFilter.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DropTargets.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/MacAppStoreRating.h"
#include "app/ui/MainMenus.h"
#include "app/ui/RevealInFileManager.h"
#include "app/ui/WatermarkView.h"

#include "app/ui/KSMValidatedViewToolbar.h"
#include "app/ui/MainWindow.h"

#include <QCoreApplication>
#include <QDrag>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>

AppDelegate::AppDelegate(QObject* parent) : QObject(parent), window_(std::make_unique<MainWindow>(this)) {
    setUpJobOptions();
    setUpImageList();
    awakeFromNib();
}

AppDelegate::~AppDelegate() {
    imageListViewContents_->cancelAndWaitForAddRequests();
    CancelAndWaitForBatch();
    StopPreviews();
}

void AppDelegate::awakeFromNib() {
    if (!rateApplicationObject_) rateApplicationObject_ = new MacAppStoreRating(this);
    revealInFileManager = [](const std::vector<std::filesystem::path>& files) { RevealInFileManager(files); };
    mainMenus_ = new MainMenus(this, window_.get());
    // The close box reaches the window also while a sheet or a question is up.
    closeRequestFilter_ =
        CloseRequestFilter::installForX11(window_.get(), [this] { return isModalWindowBlockingClose(); });
    // The list's sort by its "ImageList" column, ascending, is held by its model.
}

void AppDelegate::applicationDidFinishLaunching() {
    InitializeNibControlsFromHere();
    ImageListTableView* table = window_->imageListViewOutlet;
    connect(table, &QAbstractItemView::doubleClicked, this, [this, table] { ImageListViewDoubleClick(table); });
    table->viewport()->update();
    // The end of the launch: the rating prompt looks the application up once.
    rateApplicationObject_->applicationLaunched();
}

void AppDelegate::InitializeNibControlsFromHere() {
    setToolbarAndButtonImages();
    KeepPlaceholdersReadable();

    // Texts of an empty list.
    setImageCountMessage();
    window_->filenameLabelOutlet->setText(QString());
    window_->fileDescriptionLabelOutlet->setText(QString());
    window_->optionPanels()->exampleStringStaticText->setText(QStringLiteral("-"));

    // The big image view invites a drop.
    window_->mainImagePreview->setAppDelegate(this);
    window_->mainImagePreview->showPlaceholder(KSMImageView::Placeholder::DropImage);

    // A folder dropped on the destination box becomes the destination folder.
    window_->destinationPathViewCntr->setAppDelegate(this);
    window_->destinationPathViewCntr->setBoxTypeOption(1);

    // No current image yet.
    currentSelectedImageIndex = -1;

    // The add requests' lock and the option defaults belong to the list and
    // option models, made with the window.

    // The preset menus, then the general options: the buttons and the
    // outline below take their start state after them.
    LoadPresetMenus();
    ApplyGeneralPrefOptions();

    // Nothing to convert yet; the watermark editor waits for an image.
    SetConversionButtonEnable(false);
    if (window_->watermarkContextView) window_->watermarkContextView->hide();

    buildConfigurations();

    // The stored job preset, once the outline exists.
    ApplyStoredPhotoPreset();

    // The preview's window and request queue.
    setUpRuns();
}

void AppDelegate::windowWillClose() {
    // A close box, Quit or a signal while the close already waits.
    if (closeRunning_) return;
    const QScopedValueRollback<bool> running(closeRunning_, true);
    closing_ = true;
    // Saved first: a second termination signal during the waits below ends
    // the process at once.
    emit mainWindowWillClose();
    // This may run inside a question's or a drag's own event loop: those
    // end (with their default answers) once this returns, and nothing below
    // waits for them.
    EndOpenCustomAlerts();
    QDrag::cancel();
    // Running work stops between files and is waited for, so no write is cut
    // short: the add requests, the batch after its current file, the previews.
    imageListViewContents_->cancelAndWaitForAddRequests();
    CancelAndWaitForBatch();
    StopPreviews();
    RemovePreviewFolder();
    emit mainWindowDidClose();
}

void AppDelegate::RemovePreviewFolder() {
    const BatchSeams& seams = batchSeams();
    if (seams.previewFolder) RemoveWorkingFolder(seams.previewFolder());
}

void AppDelegate::windowDidResize() {
    if (imageListViewContents_ && !imageListViewContents_->isEmpty()) updateFileDescription();
}

void AppDelegate::windowDidEnterFullScreen() { windowDidResize(); }

void AppDelegate::windowDidExitFullScreen() {
    if (imageListViewContents_ && !imageListViewContents_->isEmpty() && window_->watermarkContextView) {
        window_->watermarkContextView->updateFrameRect();
    }
}

void AppDelegate::ImageListViewDoubleClick(QObject*) {
    std::vector<std::filesystem::path> files;
    for (const int row : imageListViewContents_->selectedRows()) {
        if (const ListEntityRef entity = imageListViewContents_->ImageEntityForRow(row)) {
            files.push_back(entity->GetFileURL());
        }
    }
    if (!files.empty() && revealInFileManager) revealInFileManager(files);
}

void AppDelegate::ImageListViewFolerDoubleClick(const std::filesystem::path& url) {
    if (!url.empty() && revealInFileManager) revealInFileManager({url});
}

void AppDelegate::RateApplicationAction(QObject*) {
    QMetaObject::invokeMethod(rateApplicationObject_, &MacAppStoreRating::RateApplicationAction,
                              Qt::QueuedConnection);
}

void AppDelegate::SetConversionButtonEnable(bool enable) {
    toolbarEnableTable_.setConversionEnabled(enable);
    applyToolbarEnableTable();
}

void AppDelegate::applyToolbarEnableTable() {
    for (KSMValidatedViewToolbarItem* item :
         {window_->addImageToolbarItem, window_->removeToolbarItem, window_->removeAllToolbarItem,
          window_->rotateToolbarItem, window_->flipToolbarItem, window_->convertToolbarItem,
          window_->convertAllToolbarItem, window_->ratingToolbarItem, window_->infoToolbarItem,
          window_->preferencesToolbarItem}) {
        // An item whose action this controller does not handle yet stays
        // disabled, so no button the window shows is dead.
        const bool enabled = item->targetRespondsToAction() && validateToolbarItem(item);
        item->setEnabled(enabled);
        if (item->view()) item->view()->setEnabled(enabled);
    }
    window_->previewButtonOutlet->setEnabled(toolbarEnableTable_.isEnabled(ToolbarEnableTable::Preview));
    // The menu items follow the same table.
    if (mainMenus_) mainMenus_->validateMenuItems();
}

bool AppDelegate::validateToolbarItem(KSMValidatedViewToolbarItem* item) {
    if (!item) return false;
    const auto entry = ToolbarEnableTable::itemForOutlet(item->objectName());
    return entry ? toolbarEnableTable_.isEnabled(*entry) : true;
}
