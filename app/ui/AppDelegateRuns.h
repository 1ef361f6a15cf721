#pragma once
// The state of the application delegate's runs: the batch with its progress
// sheet, and the preview with its window and request queue. Main thread only,
// apart from what the run threads are handed.

#include "app/model/BatchConversion.h"
#include "app/model/BatchProgress.h"
#include "app/model/PreviewScheduler.h"
#include "app/model/PreviewWindowFit.h"
#include "app/ui/DragOut.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <QThread>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class PreviewWindow;

// Runs `work` on the context's (main) thread and waits for it. The batch and
// preview threads hand every step that touches the window over this way.
template <typename Work>
void OnMainThreadAndWait(QObject* context, Work&& work) {
    if (QThread::currentThread() == context->thread()) {
        work();
    } else {
        QMetaObject::invokeMethod(context, std::forward<Work>(work), Qt::BlockingQueuedConnection);
    }
}
class ProgressSheet;

// What the batch and the preview need from the rest of the application.
// The image list, the option groups and the preferences bind these when they
// are built; tests bind their own.
struct BatchSeams {
    // The image list: its length, its selected rows (ascending) and a row.
    std::function<std::int64_t()> rowCount;
    std::function<std::vector<std::int64_t>()> selectedRows;
    std::function<std::optional<BatchRow>(std::int64_t row)> rowAt;
    // Fills the job's record, naming and per-batch values from the options
    // (IsConversionOptionsValid: and the rename pattern); false, after telling
    // the user, when the job must not start. Main thread.
    std::function<bool(BatchJob& job)> prepareJob;
    // The stored destination folder when the user chose to use it, else empty.
    std::function<std::filesystem::path()> storedDestination;
    // Asks for a folder for this batch only; calls back with it, or with none.
    std::function<void(std::function<void(std::optional<std::filesystem::path>)>)> chooseDestination;
    // Asks for a folder to save the files of a drag-out whose target gave up
    // on them; calls back with it, or with none.
    std::function<void(std::function<void(std::optional<std::filesystem::path>)>)> chooseSaveFolder;
    // Shows a folder in the file manager.
    std::function<void(const std::filesystem::path&)> openFolder;
    // The folder previews are written to.
    std::function<std::filesystem::path()> previewFolder;
    // Drops on the big image view: the input filter and the add request
    // (folders with all their subfolders, at the end of the list).
    std::function<bool(const std::filesystem::path&)> isSupportedImageFile;
    std::function<void(std::vector<std::filesystem::path>)> addWithRecursion;
    // A folder dropped on a folder box (WatchFolderPathChangeAction:boxType:).
    std::function<void(const std::filesystem::path&, int boxType)> folderDropped;
};

// One written preview file, read on the preview thread.
struct PreviewImage {
    QImage image;  // at most the screen's size
    double width = 0.0;
    double height = 0.0;
    double dpi = 72.0;
    QString fileName;
};

struct AppDelegateRuns {
    BatchSeams seams;

    // Batch.
    std::vector<std::int64_t> conversionSelectedIndexSet;
    ProgressSheetState progress;
    QPointer<ProgressSheet> sheet;
    std::shared_ptr<std::atomic<bool>> cancel;  // the running batch's
    bool batchRunning = false;
    // The sheet stays hidden while rows are being dragged out.
    bool sheetHeld = false;
    std::thread batchThread;
    // Rows dragged out of the list and their staging folders.
    std::unique_ptr<DragOutController> dragOut;

    // Preview.
    QPointer<PreviewWindow> previewWindow;
    std::int64_t currPreviewIndex = 0;
    // The file the preview shows, as its bytes: two names that differ only
    // in bytes that are not UTF-8 read the same as text.
    std::filesystem::path previewPDFfilename;
    bool shouldWindowResize = true;
    bool FirstPreviewImage = true;
    PreviewRect actualWindowFrame;
    PreviewRect resizeWindowFrame;
    std::unique_ptr<PreviewScheduler> scheduler;
};
