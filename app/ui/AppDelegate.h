#pragma once

#include "app/model/Configuration.h"
#include "app/model/ToolbarEnableTable.h"
#include "app/ui/KSMOutlineView.h"

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <memory>

class KSMValidatedViewToolbarItem;
struct AppDelegateRuns;
struct BatchReport;
struct BatchSeams;
class MainWindow;
class OnOffSwitchControl;

// The application's controller: it owns the main window and the job's
// option groups, answers the settings outline and validates the toolbar.
// Everything here runs on the main thread.
class AppDelegate : public QObject, public KSMOutlineViewDelegate {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    MainWindow* window() const { return window_.get(); }

    // Launch: prepares the controls the window layout does not.
    void applicationDidFinishLaunching();
    void InitializeNibControlsFromHere();
    // The main window is closing: the application ends.
    void windowWillClose();

    // The six option groups, indexed by group number.
    const ConfigurationList& configurations() const { return configurations_; }
    // Bracket a replacement of the groups or a change of several states: at
    // the outermost did-change the outline re-reads the records.
    void willChangeConfigurations();
    void didChangeConfigurations();

    // Sets a group on or off with all its side effects; an index outside 0..5
    // does nothing.
    void SwitchOnOffHeader(int index, bool state);

    // Convert, Convert All, Remove, Remove All, Rotate, Flip and the preview
    // button on or off together.
    void SetConversionButtonEnable(bool enable);
    const ToolbarEnableTable& toolbarEnableTable() const { return toolbarEnableTable_; }
    ToolbarEnableTable& toolbarEnableTable() { return toolbarEnableTable_; }

    // Settings outline.
    bool outlineViewIsGroupItem(KSMOutlineView* outline, const KSMConfiguration* item) override;
    QWidget* outlineViewViewForItem(KSMOutlineView* outline, KSMConfiguration* item) override;
    double outlineViewHeightOfRowByItem(KSMOutlineView* outline, KSMConfiguration* item) override;
    QWidget* outlineViewRowViewForItem(KSMOutlineView* outline, KSMConfiguration* item) override;
    void outlineViewDidAddRowView(KSMOutlineView* outline, QWidget* rowView, int row) override;

    // Row heights and banding shades of the outline.
    static constexpr double kGroupRowHeight = 23.0;
    static constexpr double kEmptyRowHeight = 20.0;
    static QColor BandColorForDistance(int distanceFromGroupRow);

public slots:
    // A header switch was operated by the user.
    void SwitchAction(QObject* sender);
    // The common tail of every option change by the user: the job no longer
    // matches a stored job preset. A null sender (a change made by code) does
    // nothing.
    void changeGlobalPresetOption(QObject* sender);
    // The toolbar's answer, from the one table of enable flags.
    bool validateToolbarItem(KSMValidatedViewToolbarItem* item);

    // --- Batch (AppDelegateBatch.cpp) ---
    void ConvertButtonAction(QObject* sender);
    void ConvertAllButtonAction(QObject* sender);
    void CancelConversionButtonAction(QObject* sender);

    // --- Preview (AppDelegatePreview.cpp) ---
    void PreviewAction(QObject* sender);
    void PreviewNextPreviousAction(int segment);
    void togglePreviewWindow(QObject* sender);
    void PreviewWindowClose(QObject* sender);

public:
    // --- Batch (AppDelegateBatch.cpp) ---
    // Where the list, the options and the destination come from.
    BatchSeams& batchSeams();
    // Builds the preview window and connects the batch and preview controls.
    void setUpRuns();
    void SaveImage();
    // Starts one batch over the chosen rows on a thread of its own.
    void ConvertImageThread(const std::filesystem::path& destination);
    void BeginProgressSheet(bool indeterminate);
    void EndProgressSheet(bool stopAnimation);
    void ChangeProgressStatus(int code);
    void ChangeProgressStatusWhileAdding(int code);
    void AlertOnSuccessConversion(const std::filesystem::path& destination, const BatchReport& report);
    bool isBatchRunning() const;
    // Cancels a running batch and returns once its thread has ended.
    void CancelAndWaitForBatch();
    // Whether files may be dropped on the window now (the Add item is enabled).
    bool isDropAllowed() const;

    // --- Preview (AppDelegatePreview.cpp) ---
    void ConvertImageForPreview(bool quiet);
    void ResizePreviewWindowWithHeight(std::int64_t height, std::int64_t width);
    void changePreviewWindowResizeFlag();
    void EnableDisablePreviewNextPreviousButton();
    void changePreviewActionAfterDeleteOrAdd();
    void hideToggleFullSceenButtonForPreview(bool hide);
    class PreviewWindow* previewWindow() const;
    // Drops queued previews and waits for a running one.
    void StopPreviews();

signals:
    // A group's option turns on or off: the option group's own on/off
    // operation runs here, before the group's state changes.
    void groupOnOffAction(int group, bool state);
    // A group's state has changed.
    void groupSwitchStateChanged(int group, bool state);
    // A user change of an option, after the job preset menu went back to its
    // first item (the preview refresh listens here).
    void globalPresetOptionChanged(QObject* sender);
    void configurationsDidChange();
    // The main window is closing; the general options are saved here.
    void mainWindowWillClose();

private:
    void buildConfigurations();
    void applyToolbarEnableTable();

    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<AppDelegateRuns> runs_;  // batch and preview state
    ConfigurationList configurations_;
    int configurationsChangeDepth_ = 0;
    ToolbarEnableTable toolbarEnableTable_;
};
