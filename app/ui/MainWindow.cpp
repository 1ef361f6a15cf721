#include "app/ui/MainWindow.h"

#include "app/model/Configuration.h"
#include "app/model/FirstWindowSize.h"
#include "app/model/StringTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/DropTargets.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/KSMOutlineView.h"
#include "app/ui/KSMValidatedViewToolbar.h"
#include "app/ui/SegmentedControl.h"
#include "app/ui/WatermarkControls.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QToolButton* ToolbarButton(const char* outlet, const char* labelKey, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(outlet));
    button->setText(LocalizedString(labelKey));
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

QLabel* NamedLabel(const char* outlet, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(outlet));
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

MainWindow::MainWindow(AppDelegate* delegate, QWidget* parent) : QMainWindow(parent), delegate_(delegate) {
    setObjectName(QStringLiteral("window"));
    setWindowTitle(LocalizedString("MainWindowTitle"));
    buildToolbar();
    buildOptionRows();

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("mainSplitView"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(buildImageListPanel());
    splitter->addWidget(buildImagePanel());
    splitter->addWidget(buildSettingsPanel());
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    splitter->setStretchFactor(2, 2);
    setCentralWidget(splitter);
    splitter_ = splitter;
    nameSplitView();
    fitToScreen();
}

// Assistive tools list the split view and each divider: name them after the
// panes they separate.
void MainWindow::nameSplitView() {
    splitter_->setAccessibleName(LocalizedString("MainSplitViewName"));
    const QString panes[] = {LocalizedString("ImageListAccessibleName"), LocalizedString("ImagePaneName"),
                             LocalizedString("SettingsPaneName")};
    // The first handle sits before the first pane and never shows.
    splitter_->handle(0)->setAccessibleName(panes[0]);
    for (int i = 1; i < splitter_->count() && i < 3; ++i) {
        splitter_->handle(i)->setAccessibleName(LocalizedFormat("SplitViewDividerName", {panes[i - 1], panes[i]}));
    }
}

void MainWindow::fitToScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    setGeometry(FirstWindowFrame(kPreferredSize, minimumSizeHint(), available));
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (panelsSized_) return;
    panelsSized_ = true;
    // The splitter has its real width only now that the window is laid out.
    const int handles = 2 * splitter_->handleWidth();
    const int total = splitter_->width() - handles;
    const int preferred = kPreferredSize.width() - (width() - splitter_->width()) - handles;
    if (const auto widths = NarrowPanelWidths(total, preferred, splitter_->widget(1)->minimumSizeHint().width(),
                                              splitter_->widget(2)->minimumSizeHint().width())) {
        splitter_->setSizes({widths->list, widths->image, widths->settings});
    }
}

void MainWindow::buildToolbar() {
    toolbar = new KSMValidatedViewToolbar(LocalizedString("ToolbarTitle"), this);
    toolbar->setObjectName(QStringLiteral("mainToolbar"));
    // Hidden, it could not be brought back: the toolbar stays where it is.
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->toggleViewAction()->setEnabled(false);
    toolbar->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, toolbar);

    auto item = [&](const char* identifier, QWidget* view, const char* action) {
        auto* toolbarItem = new KSMValidatedViewToolbarItem(QLatin1String(identifier), view, toolbar);
        toolbarItem->setTarget(delegate_);
        toolbarItem->setAction(action);
        toolbar->addValidatedItem(toolbarItem);
        return toolbarItem;
    };
    auto spacer = [&] {
        auto* space = new QWidget(toolbar);
        space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        toolbar->addWidget(space);
    };

    addImageToolbarButton = ToolbarButton("addImageToolbarButton", "AddToolbarItemLabel", toolbar);
    addImageToolbarItem = item("addImageToolbarItem", addImageToolbarButton, "AddImageOrFolderButtonAction(QObject*)");
    removeToolbarButton = ToolbarButton("removeToolbarButton", "RemoveToolbarItemLabel", toolbar);
    removeToolbarItem = item("removeToolbarItem", removeToolbarButton, "RemoveSelectedButtonAction(QObject*)");
    removeAllToolbarButton = ToolbarButton("removeAllToolbarButton", "RemoveAllToolbarItemLabel", toolbar);
    removeAllToolbarItem = item("removeAllToolbarItem", removeAllToolbarButton, "RemoveAllButtonAction(QObject*)");
    toolbar->addSeparator();

    rotateSegmentedOutlet = new SegmentedControl(2, toolbar);
    rotateSegmentedOutlet->setObjectName(QStringLiteral("rotateSegmentedOutlet"));
    rotateSegmentedOutlet->setLabel(0, LocalizedString("RotateLeftSegmentLabel"));
    rotateSegmentedOutlet->setLabel(1, LocalizedString("RotateRightSegmentLabel"));
    rotateSegmentedOutlet->setToolTip(LocalizedString("RotateToolbarItemLabel"));
    rotateSegmentedOutlet->setCaption(LocalizedString("RotateToolbarItemLabel"));
    rotateToolbarItem = item("rotateToolbarItem", rotateSegmentedOutlet, "rotate(QObject*)");
    flipSegmentedOutlet = new SegmentedControl(2, toolbar);
    flipSegmentedOutlet->setObjectName(QStringLiteral("flipSegmentedOutlet"));
    flipSegmentedOutlet->setLabel(0, LocalizedString("FlipHorizontalSegmentLabel"));
    flipSegmentedOutlet->setLabel(1, LocalizedString("FlipVerticalSegmentLabel"));
    flipSegmentedOutlet->setToolTip(LocalizedString("FlipToolbarItemLabel"));
    flipSegmentedOutlet->setCaption(LocalizedString("FlipToolbarItemLabel"));
    flipToolbarItem = item("flipToolbarItem", flipSegmentedOutlet, "flip(QObject*)");
    spacer();

    convertToolbarButton = ToolbarButton("convertToolbarButton", "ConvertToolbarItemLabel", toolbar);
    convertToolbarItem = item("convertToolbarItem", convertToolbarButton, "ConvertButtonAction(QObject*)");
    convertAllToolbarButton = ToolbarButton("convertAllToolbarButton", "ConvertAllToolbarItemLabel", toolbar);
    convertAllToolbarItem = item("convertAllToolbarItem", convertAllToolbarButton, "ConvertAllButtonAction(QObject*)");
    spacer();

    ratingToolbarButton = ToolbarButton("ratingToolbarButton", "RatingToolbarItemLabel", toolbar);
    ratingToolbarItem = item("ratingToolbarItem", ratingToolbarButton, "RateApplicationAction(QObject*)");
    infoToolbarButton = ToolbarButton("infoToolbarButton", "HelpToolbarItemLabel", toolbar);
    infoToolbarItem = item("infoToolbarItem", infoToolbarButton, "UserManualHelpAction(QObject*)");
    preferencesToolbarButton = ToolbarButton("preferencesToolbarButton", "PreferencesToolbarItemLabel", toolbar);
    preferencesToolbarItem = item("preferencesToolbarItem", preferencesToolbarButton, "PreferencesAction(QObject*)");
}

void MainWindow::buildOptionRows() {
    // The panels wait here, hidden, until the settings outline shows them.
    optionRowStore_ = new QWidget(this);
    optionRowStore_->setObjectName(QStringLiteral("optionRowStore"));
    optionRowStore_->hide();
    optionPanels_ = new JobOptionPanels(optionRowStore_);
    for (QWidget* panel : optionPanels_->panels()) optionRows_.emplace(panel->objectName(), panel);
    watermarkControls_ = new WatermarkControls(optionRowStore_);
    for (QWidget* panel : watermarkControls_->panels()) optionRows_.emplace(panel->objectName(), panel);
}

QWidget* MainWindow::optionRowView(const QString& name) const {
    const auto it = optionRows_.find(name);
    return it == optionRows_.end() ? nullptr : it->second;
}

QWidget* MainWindow::buildImageListPanel() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("imageListPanel"));
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(6, 6, 6, 6);
    imageListViewOutlet = new ImageListTableView(panel);
    imageListViewOutlet->setObjectName(QStringLiteral("imageListViewOutlet"));
    imageListViewOutlet->setAccessibleName(LocalizedString("ImageListAccessibleName"));
    layout->addWidget(imageListViewOutlet, 1);
    totalFileCountLabelOutlet = NamedLabel("totalFileCountLabelOutlet", panel);
    layout->addWidget(totalFileCountLabelOutlet);
    // The divider keeps at least 215 points for the list.
    panel->setMinimumWidth(215);
    return panel;
}

QWidget* MainWindow::buildImagePanel() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("imagePanel"));
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(6, 6, 6, 6);
    mainImagePreview = new KSMImageView(panel);
    mainImagePreview->setObjectName(QStringLiteral("mainImagePreview"));
    mainImagePreview->setMinimumSize(220, 220);
    layout->addWidget(mainImagePreview, 1);
    filenameLabelOutlet = NamedLabel("filenameLabelOutlet", panel);
    filenameLabelOutlet->setAlignment(Qt::AlignCenter);
    QFont nameFont = filenameLabelOutlet->font();
    nameFont.setBold(true);
    filenameLabelOutlet->setFont(nameFont);
    layout->addWidget(filenameLabelOutlet);
    fileDescriptionLabelOutlet = NamedLabel("fileDescriptionLabelOutlet", panel);
    fileDescriptionLabelOutlet->setAlignment(Qt::AlignCenter);
    layout->addWidget(fileDescriptionLabelOutlet);
    // A long file name is cut at the panel's edges instead of widening the
    // window past the screen.
    for (QLabel* label : {filenameLabelOutlet, fileDescriptionLabelOutlet}) label->setMinimumWidth(1);

    auto* row = new QHBoxLayout;
    previewButtonOutlet = new QPushButton(LocalizedString("PreviewButtonTitle"), panel);
    previewButtonOutlet->setObjectName(QStringLiteral("previewButtonOutlet"));
    previewButtonOutlet->setCheckable(true);
    row->addWidget(previewButtonOutlet);
    conversionProgressIndicator = new QProgressBar(panel);
    conversionProgressIndicator->setObjectName(QStringLiteral("conversionProgressIndicator"));
    conversionProgressIndicator->hide();
    row->addWidget(conversionProgressIndicator, 1);
    layout->addLayout(row);
    return panel;
}

QWidget* MainWindow::buildSettingsPanel() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("settingsPanel"));
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(6, 6, 6, 6);

    PhotoPresetPopupButton = new QComboBox(panel);
    PhotoPresetPopupButton->setObjectName(QStringLiteral("PhotoPresetPopupButton"));
    PhotoPresetPopupButton->addItem(LocalizedString("JobPresetCustomItem"), 0);
    layout->addWidget(PhotoPresetPopupButton);

    configurationCollection = new KSMOutlineView(panel);
    configurationCollection->setObjectName(QStringLiteral("configurationCollection"));
    configurationCollection->setMinimumRowsWidth(340);
    // The column takes the focus, so a screen reader lists it: by name.
    configurationCollection->setAccessibleName(LocalizedString("SettingsPaneName"));
    configurationCollection->verticalScrollBar()->setAccessibleName(LocalizedString("SettingsPaneName"));
    layout->addWidget(configurationCollection, 1);

    destinationPathViewCntr = new DragAndDropCommonFolderController(panel);
    destinationPathViewCntr->setObjectName(QStringLiteral("destinationPathViewCntr"));
    destinationPathViewCntr->setFrameShape(QFrame::StyledPanel);
    destinationPathViewCntr->setMinimumHeight(48);
    auto* boxLayout = new QVBoxLayout(destinationPathViewCntr);
    destinationPathLabel = NamedLabel("destinationPathLabel", destinationPathViewCntr);
    destinationPathLabel->setAlignment(Qt::AlignCenter);
    destinationPathLabel->setText(LocalizedString("DestinationBoxPlaceholder"));
    boxLayout->addWidget(destinationPathLabel);
    layout->addWidget(destinationPathViewCntr);

    doNotShowAlertCheckBox = new QCheckBox(this);
    doNotShowAlertCheckBox->setObjectName(QStringLiteral("doNotShowAlertCheckBox"));
    doNotShowAlertCheckBox->hide();
    return panel;
}

QMenu* MainWindow::createPopupMenu() {
    QMenu* menu = QMainWindow::createPopupMenu();
    if (!menu) return nullptr;
    menu->removeAction(toolbar->toggleViewAction());
    const QList<QAction*> actions = menu->actions();
    const bool empty = std::none_of(actions.begin(), actions.end(),
                                    [](const QAction* action) { return action->isVisible() && !action->isSeparator(); });
    if (empty) {
        delete menu;
        return nullptr;
    }
    return menu;
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (delegate_) delegate_->windowDidResize();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !delegate_) return;
    const bool wasFullScreen = static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowFullScreen;
    const bool fullScreen = isFullScreen();
    if (fullScreen && !wasFullScreen) delegate_->windowDidEnterFullScreen();
    if (!fullScreen && wasFullScreen) delegate_->windowDidExitFullScreen();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted() && delegate_) delegate_->windowWillClose();
}
