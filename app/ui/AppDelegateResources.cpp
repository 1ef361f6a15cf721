// The controller's images and the user manual, both from the resources folder.
#include "app/ui/AppDelegate.h"

#include "app/model/StringTable.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DesktopOpener.h"
#include "app/ui/DropTargets.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/KSMValidatedViewToolbar.h"
#include "app/ui/MainWindow.h"
#include "app/ui/ResourceImages.h"
#include "app/ui/SegmentedControl.h"
#include "platform/Bundle.h"

#include <QFile>
#include <QToolButton>
#include <QUrl>

#include <utility>

namespace {

// Toolbar buttons show their image with the label under it.
void SetToolbarImage(QToolButton* button, const char* image, QSize iconSize) {
    button->setIcon(TemplateImage(QLatin1String(image)));
    button->setIconSize(iconSize);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
}

// A segment shows only its image; its label stays its tool tip and its name
// for screen readers.
void SetSegmentImage(SegmentedControl* control, int segment, const char* image, QSize iconSize) {
    QToolButton* button = control->segment(segment);
    if (!button) return;
    button->setIcon(TemplateImage(QLatin1String(image)));
    button->setIconSize(iconSize);
    button->setToolTip(button->text());
    button->setAccessibleName(button->text());
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
}

}  // namespace

void AppDelegate::setToolbarAndButtonImages() {
    MainWindow& w = *window_;
    const QSize toolbarIconSize = w.toolbar->iconSize();
    const std::pair<QToolButton*, const char*> toolbarImages[] = {
        {w.addImageToolbarButton, "Add"},     {w.removeToolbarButton, "Remove"},
        {w.removeAllToolbarButton, "RemoveAll"}, {w.convertToolbarButton, "Convert"},
        {w.convertAllToolbarButton, "ConvertAll"}, {w.ratingToolbarButton, "Rating"},
        {w.infoToolbarButton, "Help"},        {w.preferencesToolbarButton, "Preferences"},
    };
    for (const auto& [button, image] : toolbarImages) SetToolbarImage(button, image, toolbarIconSize);
    SetSegmentImage(w.rotateSegmentedOutlet, 0, "RotateLeft", toolbarIconSize);
    SetSegmentImage(w.rotateSegmentedOutlet, 1, "RotateRight", toolbarIconSize);
    SetSegmentImage(w.flipSegmentedOutlet, 0, "FlipHorizontal", toolbarIconSize);
    SetSegmentImage(w.flipSegmentedOutlet, 1, "FlipVertical", toolbarIconSize);

    emtyImageIcon = TemplateImage(QStringLiteral("EmptyImage"));
    dropImageIcon = TemplateImage(QStringLiteral("DropImage"));
    w.mainImagePreview->setPlaceholderImages(dropImageIcon, emtyImageIcon);
    w.imageListViewOutlet->setEmptyImageIcon(emtyImageIcon);
}

void AppDelegate::UserManualHelpAction(QObject*) {
    const QString name = LocalizedString("UserManualName");
    const auto path = plat::Bundle::pathForResource(name.toStdString(), "pdf");
    QString message;
    if (path.empty()) {
        const auto folder = plat::Bundle::resourcesDirectory();
        message = LocalizedFormat("UserManualMissingMessage", {name, QFile::decodeName(folder.c_str())});
    } else {
        const QString file = QFile::decodeName(path.c_str());
        const QUrl url = QUrl::fromLocalFile(file);
        message = LocalizedFormat("UserManualNoViewerMessage", {file});
        if (!openURL) {
            // Known only once xdg-open ends: no viewer is said then.
            OpenWithDesktopApplication(url, this, [this, message](bool opened) {
                if (!opened) showUserManualProblem(message);
            });
            return;
        }
        if (openURL(url)) return;
    }
    showUserManualProblem(message);
}

void AppDelegate::showUserManualProblem(const QString& message) {
    RunCustomAlertSheet(LocalizedString("UserManualMissingTitle"), message, LocalizedString("OkButtonString"),
                        QString(), QString(), window_.get());
}
