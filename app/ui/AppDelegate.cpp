#include "app/ui/AppDelegate.h"

#include "app/ui/AppDelegatePreferencesState.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/DropTargets.h"

#include "app/ui/KSMValidatedViewToolbar.h"
#include "app/ui/MainWindow.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

AppDelegate::AppDelegate(QObject* parent) : QObject(parent), window_(std::make_unique<MainWindow>(this)) {
    setUpJobOptions();
    setUpImageList();
}

AppDelegate::~AppDelegate() {
    CancelAndWaitForBatch();
    StopPreviews();
}

void AppDelegate::applicationDidFinishLaunching() {
    InitializeNibControlsFromHere();
}

void AppDelegate::InitializeNibControlsFromHere() {
    setToolbarAndButtonImages();
    window_->filenameLabelOutlet->setText(QString());
    window_->fileDescriptionLabelOutlet->setText(QString());
    LoadPresetMenus();
    ApplyGeneralPrefOptions();
    // Nothing to convert yet.
    SetConversionButtonEnable(false);
    buildConfigurations();
    ApplyStoredPhotoPreset();
    setUpRuns();
    window_->mainImagePreview->setAppDelegate(this);
    window_->destinationPathViewCntr->setAppDelegate(this);
    window_->destinationPathViewCntr->setBoxTypeOption(1);
}

void AppDelegate::windowWillClose() {
    // A running batch stops after its current file instead of being cut short.
    CancelAndWaitForBatch();
    StopPreviews();
    emit mainWindowWillClose();
    QCoreApplication::quit();
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
}

bool AppDelegate::validateToolbarItem(KSMValidatedViewToolbarItem* item) {
    if (!item) return false;
    const auto entry = ToolbarEnableTable::itemForOutlet(item->objectName());
    return entry ? toolbarEnableTable_.isEnabled(*entry) : true;
}
