// The controller's menu actions: the context menu's selection rule, the
// support page, quitting, and whether a close must pass a modal window.
#include "app/model/ImageListModel.h"
#include "app/model/SupportAddress.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/MainWindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include <algorithm>

void AppDelegate::menuNeedsUpdate(int clickedRow, int clickedColumn) {
    if (clickedRow < 0 || clickedColumn < 0 || clickedRow >= imageListViewContents_->count()) return;
    const std::vector<int> selected = imageListViewContents_->selectedRows();
    if (std::find(selected.begin(), selected.end(), clickedRow) != selected.end()) return;
    imageListViewContents_->SelectRowStartingAtRow(clickedRow);
}

void AppDelegate::ContactSupportAction(QObject*) {
    const QUrl url = SupportPageURL(SupportPageAddress());
    if (!url.isValid()) return;
    if (openURL) {
        openURL(url);
    } else {
        QDesktopServices::openUrl(url);
    }
}

void AppDelegate::terminate(QObject*) {
    // One way out: the window's close, whose handler cancels and waits for
    // running work, writes the preferences and removes the preview folder.
    window_->close();
}

bool AppDelegate::isModalWindowBlockingClose() const {
    return QApplication::activeModalWidget() != nullptr;
}
