#pragma once

#include <QMainWindow>

#include <map>

class AppDelegate;
class DragAndDropCommonFolderController;
class ImageListTableView;
class KSMImageView;
class QCheckBox;
class KSMOutlineView;
class KSMTableView;
class KSMValidatedViewToolbar;
class KSMValidatedViewToolbarItem;
class JobOptionPanels;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QToolButton;
class SegmentedControl;
class WatermarkControls;
class WatermarkView;

// The main window: the toolbar; the image list on the left; the current
// image in the middle; the job preset menu, the settings outline with its six
// option groups and the destination box on the right. Every control's
// objectName is its outlet name. The option-row panels are empty here and are
// filled by the code of each option group.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(AppDelegate* delegate, QWidget* parent = nullptr);

    // Toolbar.
    KSMValidatedViewToolbar* toolbar = nullptr;
    KSMValidatedViewToolbarItem* addImageToolbarItem = nullptr;
    KSMValidatedViewToolbarItem* removeToolbarItem = nullptr;
    KSMValidatedViewToolbarItem* removeAllToolbarItem = nullptr;
    KSMValidatedViewToolbarItem* rotateToolbarItem = nullptr;
    KSMValidatedViewToolbarItem* flipToolbarItem = nullptr;
    KSMValidatedViewToolbarItem* convertToolbarItem = nullptr;
    KSMValidatedViewToolbarItem* convertAllToolbarItem = nullptr;
    KSMValidatedViewToolbarItem* ratingToolbarItem = nullptr;
    KSMValidatedViewToolbarItem* infoToolbarItem = nullptr;
    KSMValidatedViewToolbarItem* preferencesToolbarItem = nullptr;
    QToolButton* addImageToolbarButton = nullptr;
    QToolButton* removeToolbarButton = nullptr;
    QToolButton* removeAllToolbarButton = nullptr;
    QToolButton* convertToolbarButton = nullptr;
    QToolButton* convertAllToolbarButton = nullptr;
    QToolButton* ratingToolbarButton = nullptr;
    QToolButton* infoToolbarButton = nullptr;
    QToolButton* preferencesToolbarButton = nullptr;
    SegmentedControl* rotateSegmentedOutlet = nullptr;
    SegmentedControl* flipSegmentedOutlet = nullptr;

    // Image list.
    ImageListTableView* imageListViewOutlet = nullptr;
    QLabel* totalFileCountLabelOutlet = nullptr;

    // Current image.
    KSMImageView* mainImagePreview = nullptr;
    QLabel* filenameLabelOutlet = nullptr;
    QLabel* fileDescriptionLabelOutlet = nullptr;
    QPushButton* previewButtonOutlet = nullptr;
    QProgressBar* conversionProgressIndicator = nullptr;

    // Job settings.
    QComboBox* PhotoPresetPopupButton = nullptr;
    KSMOutlineView* configurationCollection = nullptr;
    DragAndDropCommonFolderController* destinationPathViewCntr = nullptr;
    QLabel* destinationPathLabel = nullptr;

    // The end-of-batch report's "do not show again" box (its accessory view).
    QCheckBox* doNotShowAlertCheckBox = nullptr;

    // The option-row panel with this outlet name ("RenameView2"), or none.
    QWidget* optionRowView(const QString& name) const;
    // The controls of the conversion, optimisation, rename and resize rows.
    JobOptionPanels* optionPanels() const { return optionPanels_; }
    // The controls of the text and image watermark rows.
    WatermarkControls* watermarkControls() const { return watermarkControls_; }
    // The watermark editor's canvas over the current image (made by the
    // controller once the editor's model exists).
    WatermarkView* watermarkContextView = nullptr;

    // The window's menu of bars: the main toolbar is always shown, so it
    // offers no toggle for it (none at all when nothing else could be hidden).
    QMenu* createPopupMenu() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildToolbar();
    void nameSplitView();
    // The first size and place: fits the screen's available area.
    void fitToScreen();
    void buildOptionRows();
    QWidget* buildImageListPanel();
    QWidget* buildImagePanel();
    QWidget* buildSettingsPanel();

    static constexpr QSize kPreferredSize{1200, 760};
    AppDelegate* delegate_;
    QSplitter* splitter_ = nullptr;
    bool panelsSized_ = false;
    QWidget* optionRowStore_ = nullptr;
    JobOptionPanels* optionPanels_ = nullptr;
    WatermarkControls* watermarkControls_ = nullptr;
    std::map<QString, QWidget*> optionRows_;
};
