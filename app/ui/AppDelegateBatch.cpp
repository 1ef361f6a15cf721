// The batch: Convert and Convert All, the destination, the batch thread, the
// progress sheet and the end-of-batch report.
#include "app/model/DragOutStaging.h"
#include "app/model/JobOptionsModel.h"
#include "app/model/LocalFileURL.h"
#include "app/model/OutputNaming.h"
#include "app/model/ShownPaths.h"
#include "app/model/StringTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/ApplicationSupportFolder.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DragOut.h"
#include "app/ui/MainMenus.h"
#include "app/ui/MainWindow.h"
#include "app/ui/PreferencesSheet.h"
#include "app/ui/ProgressSheet.h"
#include "common/KSMUtil.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QPointer>
#include <QThread>
#include <QUrl>

namespace {

// A window-modal panel that chooses one folder.
QFileDialog* NewFolderPanel(QWidget* window, const char* objectName, const QString& title, const QString& accept) {
    auto* dialog = new QFileDialog(window, title);
    dialog->setObjectName(QLatin1String(objectName));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, accept);
    return dialog;
}

// The folder the panel ended with; none when it was cancelled.
std::optional<std::filesystem::path> ChosenFolder(QFileDialog* dialog, int result) {
    const QStringList files = dialog->selectedFiles();
    std::filesystem::path folder = files.isEmpty() ? std::filesystem::path() : PathShownAs(files.first());
    if (result != QDialog::Accepted || folder.empty()) return std::nullopt;
    return folder;
}

// The panel borrows the preferences sheet's destination options (its own
// Qt panel holds them below the file list); they go back to the sheet, at
// their place, when the panel closes.
void ChooseDestinationWithDialog(QWidget* window, PreferencesSheet* sheet,
                                 std::function<void(std::optional<std::filesystem::path>)> done) {
    QFileDialog* dialog = NewFolderPanel(window, "destinationOpenPanel", LocalizedString("OpenDestinationDialogTitle"),
                                         LocalizedString("SaveDialogButton"));
    QPointer<QWidget> accessory = sheet ? sheet->destinationOptionAccessaryView : nullptr;
    auto* home = accessory ? qobject_cast<QBoxLayout*>(sheet->preferencesMainSubview->layout()) : nullptr;
    auto* grid = qobject_cast<QGridLayout*>(dialog->layout());
    const int place = home ? home->indexOf(accessory) : -1;
    if (place < 0 || !grid) accessory = nullptr;
    if (accessory) grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [dialog, accessory, home, place, done = std::move(done)](int result) {
        if (accessory) {
            home->insertWidget(place, accessory);
            accessory->show();
        }
        done(ChosenFolder(dialog, result));
    });
    dialog->open();
}

// The per-batch values from the option groups: the record (validated, with
// its questions), the rename pattern and numbers, the optimisation choice,
// the date boxes, and naming bound to this run's states.
bool PrepareJobFromOptions(AppDelegate& delegate, BatchJob& job) {
    if (!delegate.IsConversionOptionsValid(&job.record, job.preview)) return false;
    const JobOptionState state = delegate.jobOptions()->state();
    bool sourceNameFlag = false;
    int position = kNoNumber;
    std::optional<RenamePattern> pattern;
    // A preview is never renamed.
    if (!job.preview) pattern = CheckAndGetNewFileName(state, &sourceNameFlag, &position);
    job.startNumber = pattern && position != kNoNumber ? state.startDigitValue() : 0;
    job.optimisationSelection = state.groupOn[kOptimizationGroup] ? state.optimizationTag : 0;
    job.keepCreationDate = state.general.preserveCreationDate;
    job.keepModificationDate = state.general.preserveModifiedDate;
    const bool maintainDirectory = state.general.maintainDirectory;
    const bool exactName = job.preview || state.general.overwriteExisting;
    job.naming.folder = [maintainDirectory](const std::filesystem::path& source, const std::filesystem::path& destination,
                                            const std::filesystem::path& parent) {
        return GetDestinationFolderURL(source, destination, parent, maintainDirectory);
    };
    job.naming.file = [pattern, sourceNameFlag, position, exactName](const std::filesystem::path& source,
                                                                      const std::filesystem::path& folder,
                                                                      std::int64_t number, std::int32_t type) {
        return GetDestinationFileURL(source, folder, pattern ? &*pattern : nullptr, sourceNameFlag, number, position,
                                     type, exactName);
    };
    return true;
}

}  // namespace

BatchSeams& AppDelegate::batchSeams() {
    if (!runs_) {
        runs_ = std::make_unique<AppDelegateRuns>();
        BatchSeams& seams = runs_->seams;
        QWidget* window = window_.get();
        seams.chooseDestination = [this, window](auto done) {
            ChooseDestinationWithDialog(window, preferencesDialog(), std::move(done));
        };
        seams.chooseSaveFolder = [window](auto done) {
            QFileDialog* dialog = NewFolderPanel(window, "dragOutSavePanel", LocalizedString("DragOutSaveDialogTitle"),
                                                 LocalizedString("DragOutSaveButton"));
            QObject::connect(dialog, &QFileDialog::finished, dialog,
                             [dialog, done = std::move(done)](int result) { done(ChosenFolder(dialog, result)); });
            dialog->open();
        };
        seams.openFolder = [](const std::filesystem::path& folder) {
            QDesktopServices::openUrl(FileURLForPath(folder));
        };
        seams.previewFolder = [] { return GetApplicationSupportFolder("VantrellPreview"); };
        seams.prepareJob = [this](BatchJob& job) { return PrepareJobFromOptions(*this, job); };
        runs_->dragOut = std::make_unique<DragOutController>(this);
    }
    return runs_->seams;
}

DragOutController& AppDelegate::dragOutController() {
    batchSeams();
    return *runs_->dragOut;
}

void AppDelegate::ConvertButtonAction(QObject*) {
    BatchSeams& seams = batchSeams();
    runs_->conversionSelectedIndexSet = seams.selectedRows ? seams.selectedRows() : std::vector<std::int64_t>{};
    SaveImage();
}

void AppDelegate::ConvertAllButtonAction(QObject*) {
    BatchSeams& seams = batchSeams();
    const std::int64_t count = seams.rowCount ? seams.rowCount() : 0;
    runs_->conversionSelectedIndexSet.clear();
    for (std::int64_t row = 0; row < count; ++row) runs_->conversionSelectedIndexSet.push_back(row);
    SaveImage();
}

void AppDelegate::SaveImage() {
    BatchSeams& seams = batchSeams();
    if (runs_->batchRunning || runs_->conversionSelectedIndexSet.empty()) {
        runs_->conversionSelectedIndexSet.clear();
        return;
    }
    const std::filesystem::path stored = seams.storedDestination ? seams.storedDestination() : std::filesystem::path();
    if (!stored.empty()) {
        ConvertImageThread(stored);
        return;
    }
    if (!seams.chooseDestination) return;
    seams.chooseDestination([this](std::optional<std::filesystem::path> folder) {
        // The chosen folder serves this batch only.
        if (folder && !folder->empty()) {
            ConvertImageThread(*folder);
        } else {
            runs_->conversionSelectedIndexSet.clear();
        }
    });
}

void AppDelegate::ConvertImageThread(const std::filesystem::path& destination) {
    std::vector<std::int64_t> rows;
    batchSeams();
    rows.swap(runs_->conversionSelectedIndexSet);
    if (runs_->batchRunning || rows.empty() || destination.empty()) return;
    // The preview closes before the options are read, whatever they hold.
    PreviewWindowClose(window_.get());
    if (std::optional<BatchJob> job = PrepareBatchJob(rows, destination)) StartBatchJob(std::move(*job), {}, false);
}

std::optional<BatchJob> AppDelegate::PrepareBatchJob(const std::vector<std::int64_t>& rows,
                                                     const std::filesystem::path& destination) {
    BatchSeams& seams = batchSeams();
    if (runs_->batchRunning || rows.empty()) return std::nullopt;
    // The rows, the options and the destination as they stand now: the list
    // may change while the batch runs without the batch seeing it.
    BatchJob job;
    job.destination = destination;
    for (const std::int64_t row : rows) {
        if (auto entry = seams.rowAt ? seams.rowAt(row) : std::nullopt) job.rows.push_back(std::move(*entry));
    }
    if (job.rows.empty() || !seams.prepareJob || !seams.prepareJob(job)) return std::nullopt;
    return job;
}

bool AppDelegate::StartBatchJob(BatchJob job, BatchFinished finished, bool holdSheet) {
    batchSeams();
    AppDelegateRuns& runs = *runs_;
    if (closing_ || runs.batchRunning || job.rows.empty() || job.destination.empty()) return false;
    if (runs.batchThread.joinable()) runs.batchThread.join();
    PreviewWindowClose(window_.get());

    runs.batchRunning = true;
    runs.cancel = job.cancel;
    // No add request may start while the batch runs, and no row may go.
    toolbarEnableTable_.setEnabled(ToolbarEnableTable::AddImage, false);
    updateRemoveItems();
    runs.progress.numOfFilesForConversion = static_cast<std::int64_t>(job.rows.size());
    runs.progress.fileProcessingIndex = 0;
    runs.sheetHeld = holdSheet;
    BeginProgressSheet(false);

    runs.batchThread = std::thread([this, job = std::move(job), finished = std::move(finished)]() mutable {
        const std::filesystem::path folder = job.destination;
        BatchConversion batch(std::move(job));
        const BatchReport report = batch.run([this](int code, const std::string& name) {
            OnMainThreadAndWait(this, [this, code, &name] {
                if (code == kProgressNextFile) runs_->progress.currentProcessingPDFFileName = QString::fromStdString(name);
                ChangeProgressStatus(code);
            });
        });
        // Posted from here: the desktop's service may take a moment to answer.
        if (!report.cancelled && !finished) PostBatchNotification(report);
        // Posted, not waited for: the report waits for the user, and the
        // close path waits for this thread; a thread waiting for the report
        // would hold the close for good.
        QMetaObject::invokeMethod(
            this,
            [this, report, folder, finished = std::move(finished)] { FinishBatchJob(folder, report, finished); },
            Qt::QueuedConnection);
    });
    return true;
}

void AppDelegate::FinishBatchJob(const std::filesystem::path& folder, const BatchReport& report,
                                 const BatchFinished& finished) {
    EndProgressSheet(false);
    // A held sheet is held for its own batch only.
    runs_->sheetHeld = false;
    if (runs_->sheet) runs_->sheet->hold(false);
    runs_->progress.cancelHandled();
    if (runs_->sheet) runs_->sheet->showState(runs_->progress);
    // The batch is over before anything is reported: a close while the
    // report is up has nothing left to wait for.
    runs_->batchRunning = false;
    toolbarEnableTable_.setEnabled(ToolbarEnableTable::AddImage, true);
    updateRemoveItems();
    if (finished) {
        finished(report);
    } else if (!report.cancelled) {
        AlertOnSuccessConversion(folder, report);
    }
}

void AppDelegate::PostBatchNotification(const BatchReport& report) {
    PostUserNotification(LocalizedString("Export Completed").toStdString(),
                         (ConversionReportMessages(report).status + QLatin1Char('\n')).toStdString());
}

void AppDelegate::CancelConversionButtonAction(QObject*) {
    batchSeams();
    if (runs_->cancel) runs_->cancel->store(true);
    runs_->progress.cancelPressed();
    if (runs_->sheet) runs_->sheet->showState(runs_->progress);
}

void AppDelegate::BeginProgressSheet(bool indeterminate) {
    batchSeams();
    if (!runs_->sheet) {
        runs_->sheet = new ProgressSheet(window_.get());
        connect(runs_->sheet, &ProgressSheet::cancelPressed, this, [this] { CancelConversionButtonAction(nullptr); });
    }
    runs_->progress.begin(indeterminate);
    runs_->sheet->hold(runs_->sheetHeld);
    runs_->sheet->showState(runs_->progress);
}

void AppDelegate::EndProgressSheet(bool) {
    batchSeams();
    runs_->progress.end();
    if (runs_->sheet) runs_->sheet->showState(runs_->progress);
}

void AppDelegate::ChangeProgressStatus(int code) {
    batchSeams();
    runs_->progress.changeStatus(code);
    if (runs_->sheet) runs_->sheet->showState(runs_->progress);
}

void AppDelegate::ChangeProgressStatusWhileAdding(int code) {
    batchSeams();
    runs_->progress.changeStatusWhileAdding(code);
    if (runs_->sheet) runs_->sheet->showState(runs_->progress);
}

void AppDelegate::HoldProgressSheet(bool hold) {
    batchSeams();
    runs_->sheetHeld = hold;
    if (runs_->sheet) {
        runs_->sheet->hold(hold);
        runs_->sheet->showState(runs_->progress);
    }
}

void AppDelegate::AlertOnSuccessConversion(const std::filesystem::path& destination, const BatchReport& report) {
    const ConversionReportText texts = ConversionReportMessages(report);
    QCheckBox* box = window_->doNotShowAlertCheckBox;
    // A batch that ends while the window closes is not reported: nobody
    // would be there to answer.
    if (box->isChecked() || closing_) return;
    box->setText(LocalizedString("DoNotShowAlertCheckBoxTitle"));
    const int code = RunCustomAlertSheetWithView(texts.status, texts.failures, LocalizedString("OkButtonString"),
                                                 LocalizedString("OpenDestinationTitle"), QString(), window_.get(),
                                                 box);
    if (code == kAlertAlternateReturn && batchSeams().openFolder) batchSeams().openFolder(destination);
}

void AppDelegate::AlertOnDragOutHandOver(const BatchReport& report) {
    const QString status = LocalizedFormat("DragOutHandedOverMessage",
                                           {report.convertedCount, PluralSuffix(report.convertedCount)});
    PostUserNotification(LocalizedString("Export Completed").toStdString(), (status + QLatin1Char('\n')).toStdString());
    QCheckBox* box = window_->doNotShowAlertCheckBox;
    if (box->isChecked() || closing_) return;
    box->setText(LocalizedString("DoNotShowAlertCheckBoxTitle"));
    RunCustomAlertSheetWithView(status, ConversionReportMessages(report).failures, LocalizedString("OkButtonString"),
                                QString(), QString(), window_.get(), box);
}

void AppDelegate::AlertOnDragOutFailure(const QString& message) {
    if (closing_) return;
    RunCustomAlertSheet(message, QString(), LocalizedString("OkButtonString"), QString(), QString(), window_.get());
}

void AppDelegate::OfferToSaveDragOut(std::int64_t count, const std::vector<std::filesystem::path>& entries,
                                     std::function<void()> done) {
    BatchSeams& seams = batchSeams();
    // While the window closes nobody is there to choose.
    if (closing_ || !seams.chooseSaveFolder) return done();
    const int code = RunCustomAlertSheet(LocalizedFormat("DragOutTargetGaveUp", {count, PluralSuffix(count)}),
                                         LocalizedString("DragOutTargetGaveUpInfo"),
                                         LocalizedString("DragOutSaveButton"), LocalizedString("DragOutDiscardButton"),
                                         QString(), window_.get());
    if (code != kAlertDefaultReturn) return done();
    seams.chooseSaveFolder([this, entries, done = std::move(done)](std::optional<std::filesystem::path> folder) {
        if (folder && !folder->empty()) {
            const std::vector<std::filesystem::path> notSaved = SaveDragOutEntries(entries, *folder);
            if (!notSaved.empty()) {
                const auto failed = std::int64_t(notSaved.size());
                AlertOnDragOutFailure(LocalizedFormat("DragOutNotSaved",
                                                      {failed, PluralSuffix(failed),
                                                       QFile::decodeName(folder->c_str())}));
            }
        }
        done();
    });
}

bool AppDelegate::isBatchRunning() const { return runs_ && runs_->batchRunning; }

bool AppDelegate::isDropAllowed() const { return toolbarEnableTable_.isEnabled(ToolbarEnableTable::AddImage); }

void AppDelegate::CancelAndWaitForBatch() {
    if (!runs_) return;
    if (runs_->cancel) runs_->cancel->store(true);
    // The thread hands its last steps to this thread: keep serving them.
    while (runs_->batchRunning) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (runs_->batchThread.joinable()) runs_->batchThread.join();
}
