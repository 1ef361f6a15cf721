// The preview: requests on the serial preview queue, the conversion of the
// current entry into the preview folder, and the window that shows it.
// These reach GLib through libvips, whose headers must come before Qt's.
#include "engine/ImageFile.h"
#include "platform/ImageRep.h"

#include "app/model/ImageListModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/MainWindow.h"
#include "app/ui/PreviewWindow.h"
#include "app/ui/SegmentedControl.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QThread>

namespace {

// Screen space is y-down in Qt and y-up in the fitting; the flip is about
// the bottom edge of the primary screen.
double FlipReference() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().y() + screen->geometry().height() : 0.0;
}

PreviewRect ToYUp(const QRect& r) {
    return {double(r.x()), FlipReference() - (r.y() + r.height()), double(r.width()), double(r.height())};
}

QRect ToYDown(const PreviewRect& r) {
    return QRect(qRound(r.x), qRound(FlipReference() - (r.y + r.height)), qRound(r.width), qRound(r.height));
}

// Reads what a preview run wrote: its facts by the image-file object, its
// pixels shrunk on load to what the screen can show.
std::optional<PreviewImage> LoadPreviewImage(const std::filesystem::path& path, int maxPixelSize) {
    ImageFile file;
    InitImageFile(&file);
    std::optional<PreviewImage> result;
    if (LoadImageFile(&file, path)) {
        PreviewImage preview;
        preview.width = GetImageFileWidth(&file);
        preview.height = GetImageFileHeight(&file);
        preview.dpi = GetImageFileDPI(&file);
        preview.fileName = QString::fromStdString(path.filename().string());
        if (const auto rep = plat::ImageRep::LoadThumbnail(path, maxPixelSize); rep && rep->image()) {
            const std::vector<std::uint8_t> rgba = rep->image()->copyRGBA8();
            const int w = rep->image()->width();
            const int h = rep->image()->height();
            if (rgba.size() >= std::size_t(w) * h * 4) {
                preview.image = QImage(rgba.data(), w, h, w * 4, QImage::Format_RGBA8888).copy();
            }
        }
        if (!preview.image.isNull()) result = std::move(preview);
    }
    ReleaseImageFile(&file);
    return result;
}

}  // namespace

PreviewWindow* AppDelegate::previewWindow() const { return runs_ ? runs_->previewWindow.data() : nullptr; }

void AppDelegate::PreviewAction(QObject*) {
    BatchSeams& seams = batchSeams();
    AppDelegateRuns& runs = *runs_;
    const std::int64_t count = seams.rowCount ? seams.rowCount() : 0;
    if (window_->previewButtonOutlet->isChecked() && count > 0) {
        const auto selected = seams.selectedRows ? seams.selectedRows() : std::vector<std::int64_t>{};
        if (!selected.empty()) runs.currPreviewIndex = selected.front();
        PreviewWindow* preview = runs.previewWindow;
        if (!preview->isVisible()) {
            runs.FirstPreviewImage = true;
            runs.shouldWindowResize = true;
            preview->spinProgressIndicator->show();
            preview->previewImageView->clearImage();
            preview->show();
            preview->raise();
            preview->activateWindow();
            ConvertImageForPreview(false);
        } else {
            ConvertImageForPreview(true);
        }
    } else if (!window_->previewButtonOutlet->isChecked()) {
        PreviewWindowClose(window_->previewButtonOutlet);
    }
}

void AppDelegate::ConvertImageForPreview(bool quiet) {
    batchSeams();
    EnableDisablePreviewNextPreviousButton();
    runs_->scheduler->request(quiet);
}

void AppDelegate::PreviewNextPreviousAction(int segment) {
    BatchSeams& seams = batchSeams();
    const std::int64_t count = seams.rowCount ? seams.rowCount() : 0;
    if (count <= 0) return;
    runs_->currPreviewIndex = PreviewIndexAfterSegment(runs_->currPreviewIndex, count, segment);
    ConvertImageForPreview(false);
}

void AppDelegate::EnableDisablePreviewNextPreviousButton() {
    BatchSeams& seams = batchSeams();
    PreviewWindow* preview = runs_->previewWindow;
    if (!preview) return;
    const PreviewNavigationState state =
        PreviewNavigation(runs_->currPreviewIndex, seams.rowCount ? seams.rowCount() : 0);
    preview->previewNextPreviousButton->setVisible(!state.hidden);
    preview->previewNextPreviousButton->setEnabled(0, state.previousEnabled);
    preview->previewNextPreviousButton->setEnabled(1, state.nextEnabled);
}

void AppDelegate::ResizePreviewWindowWithHeight(std::int64_t height, std::int64_t width) {
    batchSeams();
    AppDelegateRuns& runs = *runs_;
    PreviewWindow* preview = runs.previewWindow;
    PreviewFitInput input;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) input.screen = ToYUp(screen->availableGeometry());
    input.minWidth = preview->minimumWidth();
    input.minHeight = preview->minimumHeight();
    input.frame = ToYUp(preview->frameGeometry());
    input.imageHeight = height;
    input.imageWidth = width;
    const PreviewRect frame = FitPreviewWindow(input);
    if (runs.shouldWindowResize) preview->setFrameByProgram(ToYDown(frame));
    runs.actualWindowFrame = frame;
    if (runs.FirstPreviewImage) {
        runs.resizeWindowFrame = frame;
        runs.FirstPreviewImage = false;
    }
}

void AppDelegate::togglePreviewWindow(QObject*) {
    batchSeams();
    AppDelegateRuns& runs = *runs_;
    if (!runs.previewWindow) return;
    runs.shouldWindowResize = !runs.shouldWindowResize;
    runs.previewWindow->setFrameByProgram(
        ToYDown(runs.shouldWindowResize ? runs.actualWindowFrame : runs.resizeWindowFrame));
}

void AppDelegate::changePreviewWindowResizeFlag() {
    batchSeams();
    runs_->shouldWindowResize = false;
    if (runs_->previewWindow) runs_->resizeWindowFrame = ToYUp(runs_->previewWindow->frameGeometry());
}

void AppDelegate::PreviewWindowClose(QObject* sender) {
    batchSeams();
    PreviewWindow* preview = runs_->previewWindow;
    if (sender && preview && preview->isVisible()) {
        preview->close();  // comes back here through windowWillClose
        return;
    }
    runs_->scheduler->cancelAll();
    if (preview) {
        preview->previewImageView->clearImage();
        preview->spinProgressIndicator->hide();
    }
    const QSignalBlocker blocker(window_->previewButtonOutlet);
    window_->previewButtonOutlet->setChecked(false);
}

void AppDelegate::changePreviewActionAfterDeleteOrAdd() {
    BatchSeams& seams = batchSeams();
    AppDelegateRuns& runs = *runs_;
    const std::int64_t count = seams.rowCount ? seams.rowCount() : 0;
    if (!window_->previewButtonOutlet->isChecked() || count <= 0 || !seams.rowAt) return;
    for (std::int64_t i = 0; i < count; ++i) {
        const auto row = seams.rowAt(i);
        if (row && row->fileURL == runs.previewPDFfilename) {
            runs.currPreviewIndex = i;
            EnableDisablePreviewNextPreviousButton();
            runs.previewWindow->setCaption(
                RenumberPreviewCaption(runs.previewWindow->PreviewStringStaticText->text(), i + 1, count));
            return;
        }
    }
    const auto selected = seams.selectedRows ? seams.selectedRows() : std::vector<std::int64_t>{};
    runs.currPreviewIndex = selected.empty() ? 0 : selected.front();
    ConvertImageForPreview(false);
}

void AppDelegate::hideToggleFullSceenButtonForPreview(bool hide) {
    if (PreviewWindow* preview = previewWindow()) preview->fullScreenPreviewToggleButton->setVisible(!hide);
}

void AppDelegate::StopPreviews() {
    if (!runs_ || !runs_->scheduler) return;
    runs_->scheduler->cancelAll();
    // A running preview may be handing its result to this thread.
    while (!runs_->scheduler->isIdle()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(2);
    }
}

void AppDelegate::setUpRuns() {
    BatchSeams& seams = batchSeams();
    AppDelegateRuns& runs = *runs_;
    if (runs.previewWindow) return;
    auto* preview = new PreviewWindow(window_.get());
    runs.previewWindow = preview;
    connect(preview, &PreviewWindow::windowWillClose, this, [this] { PreviewWindowClose(nullptr); });
    connect(preview, &PreviewWindow::windowWillResize, this, [this] { changePreviewWindowResizeFlag(); });
    connect(preview, &PreviewWindow::fullScreenChanged, this,
            [this](bool fullScreen) { hideToggleFullSceenButtonForPreview(fullScreen); });
    connect(preview, &PreviewWindow::nextPrevious, this, [this](int segment) { PreviewNextPreviousAction(segment); });
    connect(preview, &PreviewWindow::toggleFrame, this, [this] { togglePreviewWindow(nullptr); });
    connect(window_->previewButtonOutlet, &QPushButton::toggled, this, [this] { PreviewAction(window_->previewButtonOutlet); });
    // Every option change refreshes an open preview.
    connect(this, &AppDelegate::globalPresetOptionChanged, this, [this] {
        if (previewWindow() && previewWindow()->isVisible()) PreviewAction(nullptr);
    });
    (void)seams;
    // The list changed length, went empty, or shows another image or turn.
    if (ImageListModel* list = imageListModel()) {
        connect(list, &ImageListModel::countChanged, this, [this] { changePreviewActionAfterDeleteOrAdd(); });
    }
    connect(this, &AppDelegate::imageListBecameEmpty, this, [this] { PreviewWindowClose(window_.get()); });
    connect(this, &AppDelegate::currentImageChanged, this, [this] { PreviewAction(nullptr); });

    runs.scheduler = std::make_unique<PreviewScheduler>([this](bool quiet) {
        // On the preview queue: what to convert is read on the main thread.
        std::optional<BatchJob> job;
        std::int64_t index = 0;
        std::int64_t count = 0;
        int maxPixelSize = 2048;
        OnMainThreadAndWait(this, [&] {
            BatchSeams& s = runs_->seams;
            PreviewWindow* window = runs_->previewWindow;
            count = s.rowCount ? s.rowCount() : 0;
            index = runs_->currPreviewIndex;
            // The entry may have gone since the request was made.
            if (!window || !window->isVisible() || index < 0 || index >= count || !s.rowAt) return;
            auto row = s.rowAt(index);
            if (!row) return;
            runs_->previewPDFfilename = row->fileURL;
            BatchJob candidate;
            candidate.preview = true;
            candidate.rows.push_back(std::move(*row));
            candidate.destination = s.previewFolder ? s.previewFolder() : std::filesystem::path();
            if (candidate.destination.empty() || !s.prepareJob || !s.prepareJob(candidate)) return;
            if (const QScreen* screen = window->screen()) {
                const QSize size = screen->size() * screen->devicePixelRatio();
                maxPixelSize = std::max(size.width(), size.height());
            }
            if (!quiet) window->spinProgressIndicator->show();
            job = std::move(candidate);
        });
        if (!job) return;
        const BatchReport report = BatchConversion(std::move(*job)).run();
        std::vector<PreviewImage> images;
        for (const auto& output : report.outputs) {
            if (auto image = LoadPreviewImage(output, maxPixelSize)) images.push_back(std::move(*image));
        }
        OnMainThreadAndWait(this, [&] {
            PreviewWindow* window = runs_->previewWindow;
            if (!window) return;
            // DisplayPreviewForCurrImage: the last written file stays on screen; a
            // failed preview leaves the previous one.
            window->spinProgressIndicator->hide();
            for (const PreviewImage& image : images) {
                window->previewImageView->setImage(image.image);
                // The caption first: the fitted frame is at least as wide as it.
                window->setCaption(
                    PreviewCaption(index + 1, count, image.fileName, image.dpi, image.width, image.height));
                ResizePreviewWindowWithHeight(std::llround(image.height), std::llround(image.width));
            }
        });
    });
}
