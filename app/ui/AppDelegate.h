#pragma once

#include "app/model/Configuration.h"
#include "app/model/JobOptionsModel.h"
#include "app/model/OutputNaming.h"
#include "app/model/ToolbarEnableTable.h"
#include "app/ui/KSMOutlineView.h"

#include "app/model/ImageListModel.h"
#include "engine/ImageConversion.h"

#include <QIcon>
#include <QObject>
#include <QByteArray>
#include <QSizeF>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CloseRequestFilter;
class DragOutController;
class KSMValidatedViewToolbarItem;
class MainMenus;
class MacAppStoreRating;
class QAction;
class QFont;
class QUrl;
class WatermarkEditorModel;
struct AppDelegateRuns;
struct BatchJob;
struct BatchReport;
struct BatchSeams;
struct ImageConversion;
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
    // The toolbar's and the buttons' images, and the two pictures of the
    // image views (an image that cannot be read, the drop area).
    void setToolbarAndButtonImages();
    // The main window is closing: the general options are saved, questions
    // still open take their default answers, a drag is cancelled, running
    // work is cancelled and waited for, the preview folder goes and
    // mainWindowDidClose is sent. Safe from inside any question's, sheet's or
    // drag's own event loop; a call while another runs does nothing.
    void windowWillClose();
    // The main window's size or full-screen state changed.
    void windowDidResize();
    void windowDidEnterFullScreen();
    void windowDidExitFullScreen();

    // The store rating prompt, made with the window.
    MacAppStoreRating* rateApplicationObject() const { return rateApplicationObject_; }
    // Removes the preview folder (a link to a folder is unlinked only).
    void RemovePreviewFolder();
    // Shows the given file in the file manager (selected, its folder open).
    void ImageListViewFolerDoubleClick(const std::filesystem::path& url);
    // Shows files in the file manager; tests put their own here.
    std::function<void(const std::vector<std::filesystem::path>&)> revealInFileManager;

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

    // Row heights of the outline.
    static constexpr double kGroupRowHeight = 23.0;
    static constexpr double kEmptyRowHeight = 20.0;

    // --- Image list ------------------------------------------------------------
    // The list's entries, order and selection (the table's model).
    ImageListModel* imageListModel() const { return imageListViewContents_.get(); }
    // Add requests, each on its own thread: the Add dialog's choice (with
    // its recursion box), files dropped on the list at a row, files dropped
    // on the big image view (always recursive).
    void AddUrlsIntoImageListViewAtEnd(std::vector<std::filesystem::path> urls, bool recursive);
    void AddUrlsIntoListViewFromDragAndDrop(std::vector<std::filesystem::path> urls, std::optional<int> index);
    void AddUrlsIntoImageListViewAtEndWithRecusrsion(std::vector<std::filesystem::path> urls);
    // Files handed over at start (the command line): added at the end of the
    // list as it is when the request is served.
    void applicationOpenFiles(std::vector<std::filesystem::path> urls);
    void SelectRowStartingAtRow(int row);
    // Shows the selected entry, turned and flipped, with its description.
    void PerformAnimationFromSelectedRowToImage();
    void transformAndSetCurrentImage();
    void setImageFileDescription(double zoom);
    void updateFileDescription();
    void setImageCountMessage();
    // The zoom of the current image as last shown (0 without one).
    double currentZoom() const { return currentZoom_; }

    // Seam: the Add dialog (files and folders, recursion box; nothing when
    // cancelled).
    struct AddDialogResult {
        std::vector<std::filesystem::path> urls;
        bool recursive = false;
    };
    std::function<std::optional<AddDialogResult>()> runAddDialog;
    // Opens a document with the desktop's application for it; false when
    // nothing opened it. Unset: the desktop services (xdg-open for the manual).
    std::function<bool(const QUrl&)> openURL;

public slots:
    // A header switch was operated by the user.
    void SwitchAction(QObject* sender);
    // The common tail of every option change by the user: the job no longer
    // matches a stored job preset. A null sender (a change made by code) does
    // nothing.
    void changeGlobalPresetOption(QObject* sender);
    // The toolbar's answer, from the one table of enable flags.
    bool validateToolbarItem(KSMValidatedViewToolbarItem* item);

    // Shows the files of the selected rows in the file manager, in row order.
    void ImageListViewDoubleClick(QObject* sender);
    // The toolbar's Rating item: the rating prompt opens the store page once
    // the lookup has found the application.
    void RateApplicationAction(QObject* sender);

    // Image list actions.
    void AddImageOrFolderButtonAction(QObject* sender);
    void RemoveSelectedButtonAction(QObject* sender);
    void RemoveAllButtonAction(QObject* sender);
    void rotate(QObject* sender);
    void flip(QObject* sender);
    void rotateLeft(QObject* sender);
    void rotateRight(QObject* sender);
    void flipHorizontal(QObject* sender);
    void flipVertical(QObject* sender);

    // --- Batch (AppDelegateBatch.cpp) ---
    void ConvertButtonAction(QObject* sender);
    void ConvertAllButtonAction(QObject* sender);
    void CancelConversionButtonAction(QObject* sender);

    // --- Preferences sheet and destination (AppDelegatePreferences.cpp) ---
    void PreferencesAction(QObject* sender);
    void PreferencesOkAction(QObject* sender);
    void SelectDestinationFolder(QObject* sender);
    void OpenDestinationFolder(QObject* sender);
    void changeOverwriteExistingFile(QObject* sender);
    void PreserveCreationDateAction(QObject* sender);

    // --- Presets (AppDelegatePresets.cpp) ---
    void AddPresetAction(QObject* sender);
    void AddWaterMarkPresetAction(QObject* sender);
    void AddPhotoPresetAction(QObject* sender);
    void SavePresetAction(QObject* sender);
    void CancelPresetButtonAction(QObject* sender);
    void RemovePresetAction(QObject* sender);
    void PhotoPresetChangeAction(QObject* sender);
    void changewaterMarkPresetPopupAction(QObject* sender);

    // --- Preview (AppDelegatePreview.cpp) ---
    void PreviewAction(QObject* sender);
    void PreviewNextPreviousAction(int segment);
    void togglePreviewWindow(QObject* sender);
    void PreviewWindowClose(QObject* sender);

    // --- Help (AppDelegateResources.cpp) ---
    // Opens "Vantrell User Manual.pdf" of the resources folder with the
    // desktop's viewer; tells the user when it is missing or cannot be opened.
    void UserManualHelpAction(QObject* sender);

    // --- Menus (AppDelegateMenus.cpp) ---
    // Opens the maker's support page (from the resources) with the desktop's
    // browser; nothing when the address is no web address.
    void ContactSupportAction(QObject* sender);
    // Quit: closes the main window, which ends the application as its close
    // box does.
    void terminate(QObject* sender);

public:
    // --- Batch (AppDelegateBatch.cpp) ---
    // Where the list, the options and the destination come from.
    BatchSeams& batchSeams();
    // Builds the preview window and connects the batch and preview controls.
    void setUpRuns();
    void SaveImage();
    // Starts one batch over the chosen rows on a thread of its own.
    void ConvertImageThread(const std::filesystem::path& destination);
    // Its two halves: the job of `rows` into `destination` from the list and
    // the options (none when refused or a batch runs), and the run of a job
    // with its sheet. `finished`, when given, takes the place of the
    // notification and the report; `holdSheet` keeps the sheet hidden until
    // HoldProgressSheet(false). False when a batch already runs.
    using BatchFinished = std::function<void(const BatchReport&)>;
    std::optional<BatchJob> PrepareBatchJob(const std::vector<std::int64_t>& rows,
                                            const std::filesystem::path& destination);
    bool StartBatchJob(BatchJob job, BatchFinished finished, bool holdSheet);
    // The end of a batch on the main thread: the sheet goes, the window's
    // controls come back, then `finished` or the report.
    void FinishBatchJob(const std::filesystem::path& folder, const BatchReport& report,
                        const BatchFinished& finished);
    void HoldProgressSheet(bool hold);
    void PostBatchNotification(const BatchReport& report);
    // Rows dragged out of the list.
    DragOutController& dragOutController();
    // The report after files were handed to a drop target: it names no folder
    // (the target's is not known; the staging folder is private).
    void AlertOnDragOutHandOver(const BatchReport& report);
    // Tells why a drag-out wrote nothing.
    void AlertOnDragOutFailure(const QString& message);
    // A drop target gave up on `count` converted files: offers to save the
    // staged `entries` into a folder the user picks; `done` follows the
    // user's answer (the entries may then go).
    void OfferToSaveDragOut(std::int64_t count, const std::vector<std::filesystem::path>& entries,
                            std::function<void()> done);
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
    // The close has finished its work: the application ends (main() ends
    // its event loops here).
    void mainWindowDidClose();
    // The current image was shown anew (selection, turn, flip or removal):
    // the watermark editor takes the shown proportions, the rename example
    // and the preview follow. No image: ratio 0.
    void currentImageChanged(double aspectRatio, double shownWidth, double shownHeight);
    // The list became empty: the preview closes and the watermark editor hides.
    void imageListBecameEmpty();
    // The first entries of a request arrived in an empty list.
    void imageListFirstEntriesAdded();

public:
    // --- Job options (AppDelegateOptions.cpp) ---
    JobOptionsModel* jobOptions() const { return jobOptions_; }
    WatermarkEditorModel* watermarkModel() const { return watermarkModel_; }
    // The image list tells the option controls about its selected entry.
    void setSelectedImageProvider(SelectedImageProvider provider);
    // Fills a fresh record from the options for one job; false (after telling
    // the user) when the job must not start. Main thread only.
    bool IsConversionOptionsValid(ImageConversion* record, bool previewRun);
    // The batch's rename pattern, none when not renaming.
    std::optional<RenamePattern> CheckAndGetNewFileName(bool* sourceNameFlag, int* numberPosition) const;
    std::filesystem::path GetDestinationFolderURL(const std::filesystem::path& source,
                                                  const std::filesystem::path& destination,
                                                  const std::filesystem::path& parent) const;
    std::filesystem::path GetDestinationFileURL(const std::filesystem::path& source,
                                                const std::filesystem::path& folder, const RenamePattern* pattern,
                                                bool sourceNameFlag, std::int64_t number, std::int32_t numberPosition,
                                                std::int32_t outputType, bool previewRun) const;
    void updateRenameExampleString();
    static QString formattedFileSize(std::uint64_t bytes) { return JobOptionsModel::formattedFileSize(bytes); }
    // A font chosen in the font dialog becomes the text watermark's font.
    void changeFont(const QFont& chosen);
    // --- Watermark editor (AppDelegateWatermark.cpp) ---
    // The font chooser for the text watermark, on the main window.
    void ShowFontPanel();
    // The watermark canvas takes the shape of a current image of this shown
    // size and shows while a watermark group is on; an empty size (no
    // current image) hides it.
    void showImageInWatermarkEditor(QSizeF shownSize);
    // Main and context menu items, by their action's object name.
    bool validateMenuItem(const QAction* item) const;

    // --- Menus (AppDelegateMenus.cpp) ---
    MainMenus* mainMenus() const { return mainMenus_; }
    // The image list's context menu is about to open for a click on this row
    // and column (-1: outside the rows, or the keyboard's menu key): a row
    // that is not selected becomes the selection alone.
    void menuNeedsUpdate(int clickedRow, int clickedColumn);
    // Whether a modal window (the progress sheet, a question, the
    // preferences sheet, a folder dialog) holds the main window, so that the
    // window system's close request would not reach it.
    bool isModalWindowBlockingClose() const;

    // --- Preferences and presets (AppDelegatePreferences.cpp, AppDelegatePresets.cpp) ---
    // Start-up: the preset menus from their files, then the general options
    // (the job preset stored with them is applied after the settings outline
    // is built).
    void LoadPresetMenus();
    void ApplyGeneralPrefOptions();
    void ApplyStoredPhotoPreset();
    // Shutdown: the general options file, written whole.
    void WriteGeneralPrefOptions();
    // The stored destination folder: a folder path, or the stored data (the
    // bytes of a file URL). Data that names no existing folder leaves no
    // usable folder; it is still kept for the file, as the folder may come
    // back (an unmounted drive).
    void SetDestinationURL(const std::filesystem::path& folder);
    void SetDestinationURLData(const QByteArray& data);
    void WatchFolderPathChangeAction(const std::filesystem::path& path, int boxType);
    // The usable stored folder (empty when none).
    std::filesystem::path destinationURL() const;
    using WatermarkCenter = std::optional<std::array<float, 6>>;
    void ReadWriteWatermarkCenter(const WatermarkCenter& text, const WatermarkCenter& image);
    void ChangeAndSetPrefOptions(const QString& name);
    void ChangeAndSetWaterMarkPrefOptions(const QString& name);
    void ChangeAndSetPhotoPrefOptions(const QString& name);
    void AssignWaterMarkValuesToControl(bool unused);
    class PreferencesSheet* preferencesDialog();
    class PresetDialog* addPresetDialog();

private:
    // What the window layout would set up when it is loaded.
    void awakeFromNib();
    // Why the manual did not open, and where it is.
    void showUserManualProblem(const QString& message);
    struct PreferencesState;
    PreferencesState& prefs();
    void setUpPreferences();
    void setUpPresets();
    class QComboBox* presetMenu(int kind) const;
    void openPresetDialog(int kind, const QString& proposal);
    void showDestinationState();
    void refreshPreferencesSheet();
    void addPresetMenuItem(int kind, const QString& name);
    void removePresetMenuItem(int kind, const QString& name);

    void setUpJobOptions();
    void setUpWatermarkEditor();
    void buildConfigurations();
    void applyToolbarEnableTable();
    void setUpImageList();
    void updateRemoveItems();

    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<AppDelegateRuns> runs_;  // batch and preview state
    ConfigurationList configurations_;
    int configurationsChangeDepth_ = 0;
    ToolbarEnableTable toolbarEnableTable_;

    std::unique_ptr<ImageListModel> imageListViewContents_;
    QIcon emtyImageIcon;
    QIcon dropImageIcon;
    int currentSelectedImageIndex = -1;
    double currentZoom_ = 0.0;
    QMetaObject::Connection addCancelConnection_;
    WatermarkEditorModel* watermarkModel_ = nullptr;
    JobOptionsModel* jobOptions_ = nullptr;
    MacAppStoreRating* rateApplicationObject_ = nullptr;
    std::unique_ptr<PreferencesState> prefs_;
    MainMenus* mainMenus_ = nullptr;
    std::unique_ptr<CloseRequestFilter> closeRequestFilter_;
    // The main window is closing: a batch that ends now shows no report,
    // and no new batch starts.
    bool closing_ = false;
    bool closeRunning_ = false;
};
