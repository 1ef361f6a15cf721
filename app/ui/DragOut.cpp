#include "app/ui/DragOut.h"

#include "app/model/DragOutStaging.h"
#include "app/model/LocalFileURL.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/DirectSave.h"

#include <QCoreApplication>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kUriList = "text/uri-list";

}  // namespace

// --- DragOutSession -------------------------------------------------------------------

DragOutSession::DragOutSession(AppDelegate* delegate, BatchJob job, fs::path staging, QObject* parent)
    : QObject(parent), delegate_(delegate), job_(std::move(job)), staging_(std::move(staging)) {}

bool DragOutSession::beginStaging() {
    BatchJob staged = job_;
    staged.destination = staging_;
    // The staging run shares the session's cancel flag: an abandoned drag
    // stops it.
    QPointer<DragOutSession> self(this);
    stagingRunning_ = delegate_->StartBatchJob(
        std::move(staged),
        [self](const BatchReport& report) {
            if (self) self->stagingFinished(report);
        },
        true);
    return stagingRunning_;
}

void DragOutSession::stagingFinished(const BatchReport& report) {
    stagingRunning_ = false;
    report_ = report;
    if (redirected_ || (ended_ && !delivered_)) removeStaging();
    reportWhenOver();
    if (ended_ && stagingRemoved_) deleteLater();
}

void DragOutSession::dropped(bool accepted) {
    dropped_ = true;
    if (!accepted && !delivered_ && !redirected_) {
        // No target took the rows: nothing will ask for them.
        job_.cancel->store(true);
        if (!stagingRunning_) removeStaging();
    }
    if (stagingRunning_) delegate_->HoldProgressSheet(false);
    reportWhenOver();
}

std::vector<fs::path> DragOutSession::stagedEntries() {
    if (redirected_) return {};
    if (!delivered_) {
        // The target needs finished files: the rest of the batch is waited
        // for here, with the sheet up so that it can be cancelled (unless
        // the target asks while the button is still down: some look at the
        // files as the pointer moves, and the drag keeps the pointer). A
        // cancelled batch hands over what it finished, as Convert leaves it.
        QPointer<DragOutSession> self(this);
        if (stagingRunning_ && (dropped_ || QGuiApplication::mouseButtons() == Qt::NoButton)) {
            delegate_->HoldProgressSheet(false);
        }
        while (self && stagingRunning_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!self) return {};
        delivered_ = true;
        if (report_) entries_ = DragOutEntries(staging_, report_->outputs);
        reportWhenOver();
    }
    return entries_;
}

DirectSaveAnswer DragOutSession::directSaveIntoFolder(const fs::path& folder) {
    if (directAnswer_) return *directAnswer_;
    // Files already handed over: the target has what it asked for.
    if (delivered_) return DirectSaveAnswer::Failed;
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error)) return DirectSaveAnswer::Refused;
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        directAnswer_ = DirectSaveAnswer::Failed;
        return *directAnswer_;
    }
    // The staging run gives way: the current file finishes, then the batch
    // starts again into the target's folder, where the names are made unique
    // against what is there.
    redirected_ = true;
    job_.cancel->store(true);
    QPointer<DragOutSession> self(this);
    while (self && stagingRunning_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!self) return DirectSaveAnswer::Failed;
    removeStaging();
    BatchJob direct = job_;
    direct.destination = folder;
    direct.cancel = std::make_shared<std::atomic<bool>>(false);
    directAnswer_ = delegate_->StartBatchJob(std::move(direct), {}, false) ? DirectSaveAnswer::Saved
                                                                            : DirectSaveAnswer::Failed;
    return *directAnswer_;
}

DirectSaveAnswer DragOutSession::directSave(const QByteArray& uri) {
    const std::optional<fs::path> folder = xds::FolderOfURI(uri, xds::LocalHostName());
    return folder ? directSaveIntoFolder(*folder) : DirectSaveAnswer::Refused;
}

void DragOutSession::dragEnded() {
    ended_ = true;
    if (delivered_) {
        reportWhenOver();
        return;
    }
    job_.cancel->store(true);
    if (!stagingRunning_) removeStaging();
    // Nothing of this drag is left to keep.
    if (stagingRemoved_) deleteLater();
}

void DragOutSession::removeStaging() {
    if (stagingRemoved_) return;
    stagingRemoved_ = true;
    std::error_code error;
    // remove_all unlinks a link without entering what it names.
    fs::remove_all(staging_, error);
}

void DragOutSession::reportWhenOver() {
    // The report tells of files a target took, once its drop is over.
    if (reported_ || !delivered_ || !(dropped_ || ended_) || !report_ || report_->cancelled) return;
    reported_ = true;
    // After the drag's own handling, which may be inside the drag's loop or
    // the data's destruction: the report's sheet waits for the user.
    QTimer::singleShot(0, this, [this] {
        delegate_->PostBatchNotification(*report_);
        delegate_->AlertOnSuccessConversion(staging_, *report_);
    });
}

// --- DragOutMimeData ------------------------------------------------------------------

DragOutMimeData::DragOutMimeData(DragOutSession* session, QWidget* sourceWindow, QByteArray fileName,
                                 bool directSave)
    : session_(session), sourceWindow_(sourceWindow), fileName_(std::move(fileName)), directSave_(directSave) {}

DragOutMimeData::~DragOutMimeData() {
    if (session_) session_->dragEnded();
}

void DragOutMimeData::dragStarts() {
    // The widgets of this application see the drag as events: the filter
    // learns whether the pointer is over the source window before any of
    // them asks for the data.
    qApp->installEventFilter(this);
    if (!directSave_) return;
    // The drag's source window exists once the drag runs: the first turn of
    // the drag's loop names the file there, long before any drop.
    QTimer::singleShot(0, this, [this] { xds::PublishFileName(fileName_); });
}

bool DragOutMimeData::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && static_cast<QDropEvent*>(event)->mimeData() == this) {
            overSourceWindow_ = sourceWindow_ && widget->window() == sourceWindow_->window();
        }
    } else if (type == QEvent::DragLeave) {
        overSourceWindow_ = false;
    }
    return false;
}

void DragOutMimeData::dropped(bool accepted) {
    // The pointer is no longer over anything of this application's.
    qApp->removeEventFilter(this);
    if (session_) session_->dropped(accepted);
}

QStringList DragOutMimeData::formats() const {
    QStringList list;
    if (directSave_) list << QLatin1String(xds::kType);
    list << QLatin1String(kUriList);
    return list;
}

bool DragOutMimeData::hasFormat(const QString& mimeType) const { return formats().contains(mimeType); }

QVariant DragOutMimeData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (directSave_ && mimeType == QLatin1String(xds::kType)) {
        const DirectSaveAnswer answer =
            session_ ? session_->directSave(xds::TargetURI()) : DirectSaveAnswer::Refused;
        return QByteArray(1, char(answer));
    }
    if (mimeType != QLatin1String(kUriList)) return {};
    // The list's own window takes no converted rows (its drop areas add
    // files): they are not made for it.
    QList<QUrl> urls;
    if (session_ && !overSourceWindow_) {
        for (const fs::path& entry : session_->stagedEntries()) {
            urls.append(FileURLForPath(entry));
        }
    }
    if (type.id() == QMetaType::QByteArray || type.id() == QMetaType::QString) {
        QByteArray list;
        for (const QUrl& url : urls) list += url.toEncoded() + "\r\n";
        if (type.id() == QMetaType::QString) return QString::fromUtf8(list);
        return list;
    }
    QVariantList list;
    for (const QUrl& url : urls) list.append(url);
    return list;
}

// --- DragOutController ----------------------------------------------------------------

DragOutController::DragOutController(AppDelegate* delegate, fs::path root)
    : QObject(nullptr), delegate_(delegate), root_(root.empty() ? DragOutStagingRoot() : std::move(root)) {
    if (!root_.empty()) RemoveStaleDragOutFolders(root_);
}

DragOutController::~DragOutController() {
    std::error_code error;
    for (DragOutSession* session : sessions()) fs::remove_all(session->stagingFolder(), error);
}

std::vector<DragOutSession*> DragOutController::sessions() const {
    const QList<DragOutSession*> children = findChildren<DragOutSession*>(Qt::FindDirectChildrenOnly);
    return {children.begin(), children.end()};
}

DragOutMimeData* DragOutController::beginDrag(const std::vector<int>& rows, QWidget* sourceWindow) {
    if (rows.empty() || delegate_->isBatchRunning()) return nullptr;
    const fs::path staging = MakeDragOutStagingFolder(root_);
    if (staging.empty()) return nullptr;
    // The options are taken (and their questions asked) before anything
    // moves, so that a refused job never starts a drag.
    std::optional<BatchJob> job = delegate_->PrepareBatchJob(std::vector<std::int64_t>(rows.begin(), rows.end()), staging);
    std::error_code error;
    if (!job) {
        fs::remove_all(staging, error);
        return nullptr;
    }
    // Direct save names one file; the batch names the files itself, so the
    // name only has to be one of the rows'.
    const QByteArray fileName = job->rows.front().fileURL.filename().string().c_str();
    auto* session = new DragOutSession(delegate_, std::move(*job), staging, this);
    if (!session->beginStaging()) {
        fs::remove_all(staging, error);
        delete session;
        return nullptr;
    }
    return new DragOutMimeData(session, sourceWindow, fileName, xds::Available());
}
