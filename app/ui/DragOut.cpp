#include "app/ui/DragOut.h"

#include "app/model/DragOutStaging.h"
#include "app/model/LocalFileURL.h"
#include "app/ui/AppDelegate.h"
#include "app/model/StringTable.h"
#include "app/ui/DirectSave.h"
#include "app/ui/X11Connection.h"
#include "app/ui/XdndSource.h"

#include <QCoreApplication>
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QTimer>
#include <QUrl>
#include <QWindow>
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

DragOutSession::~DragOutSession() {
    // Requests still waiting get a refusal rather than silence.
    for (const Answer& answer : waiting_) answer(nullptr);
}

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
    entries_ = DragOutEntries(staging_, report.outputs);
    if (road_ != Road::Staging) removeStaging();
    answerWaiting();
    conclude();
}

void DragOutSession::answerWaiting() {
    std::vector<Answer> waiting;
    waiting.swap(waiting_);
    if (!waiting.empty() && !entries_.empty()) handed_ = true;
    for (const Answer& answer : waiting) answer(&entries_);
}

void DragOutSession::dropped(bool accepted, bool cancelled) {
    dropped_ = true;
    accepted_ = accepted;
    // Cancelled by the user: whoever asked early gave up nothing.
    if (cancelled) askedEarly_ = false;
    // A target that asked too early and so refused the drop gave up on the
    // files: the batch goes on for them.
    if (!accepted && road_ == Road::Staging && !askedEarly_) abandon();
    if (stagingRunning_) delegate_->HoldProgressSheet(false);
    conclude();
}

std::vector<fs::path> DragOutSession::stagedEntries() {
    if (road_ != Road::Staging) return {};
    if (stagingRunning_) {
        // While the button is down the target only chooses its action: it
        // must not accept the drop before the files exist, and the drag must
        // go on meanwhile.
        if (!dropped_ && QGuiApplication::mouseButtons() != Qt::NoButton) {
            askedEarly_ = true;
            return {};
        }
        // After the drop the target waits for the rest of the batch, with the
        // sheet up so that it can be cancelled. A cancelled batch hands over
        // what it finished, as Convert leaves it.
        delegate_->HoldProgressSheet(false);
        QPointer<DragOutSession> self(this);
        while (self && stagingRunning_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!self) return {};
    }
    if (!entries_.empty()) handed_ = true;
    return entries_;
}

DragOutSession::Request DragOutSession::fileListRequested(Answer answer) {
    foreignTarget_ = true;
    if (road_ != Road::Staging) return Request::Refuse;
    if (!stagingRunning_) return Request::Answer;
    if (!dropped_) {
        askedEarly_ = true;
        return Request::Refuse;
    }
    waiting_.push_back(std::move(answer));
    return Request::Defer;
}

void DragOutSession::targetFinished(bool success) {
    // Only a verdict on the drop counts: PCManFM also finishes while the
    // pointer merely moves over it.
    if (verdict_ || !dropped_) return;
    verdict_ = success;
    conclude();
}

DirectSaveAnswer DragOutSession::directSaveIntoFolder(const fs::path& folder) {
    if (directAnswer_) return *directAnswer_;
    // Files already handed over: the target has what it asked for.
    if (handed_) return DirectSaveAnswer::Failed;
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error)) return DirectSaveAnswer::Refused;
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        // Nothing will be written: the user hears why once the drag is over.
        road_ = Road::DirectSaveFailed;
        job_.cancel->store(true);
        directAnswer_ = DirectSaveAnswer::Failed;
        const QString name = QFile::decodeName(folder.c_str());
        QTimer::singleShot(0, delegate_, [delegate = delegate_, name] {
            delegate->AlertOnDragOutFailure(LocalizedFormat("DragOutFolderNotWritable", {name}));
        });
        if (!stagingRunning_) removeStaging();
        return *directAnswer_;
    }
    // The staging run gives way: the current file finishes, then the batch
    // starts again into the target's folder, where the names are made unique
    // against what is there.
    road_ = Road::DirectSave;
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
    // Told already and nothing left to keep.
    if (concluded_ && stagingRemoved_) return deleteLater();
    conclude();
}

void DragOutSession::abandon() {
    job_.cancel->store(true);
    if (!stagingRunning_) removeStaging();
}

void DragOutSession::removeStaging() {
    if (stagingRemoved_) return;
    stagingRemoved_ = true;
    std::error_code error;
    // remove_all unlinks a link without entering what it names.
    fs::remove_all(staging_, error);
}

void DragOutSession::conclude() {
    if (concluded_) return;
    if (road_ != Road::Staging) {
        // The batch into the target's folder reports as Convert does; a
        // refused folder has been reported.
        if (ended_ && !stagingRunning_) {
            concluded_ = true;
            removeStaging();
            deleteLater();
        }
        return;
    }
    if (!dropped_ && !ended_) return;
    // Only the target knows whether it took the files: its verdict, else
    // (a target of this application, or one that never answers) a drop that
    // took the list given out, once the drag is over.
    const bool gaveUp = (verdict_ && !*verdict_) || (dropped_ && !accepted_ && askedEarly_);
    const bool taken = !gaveUp && (verdict_ ? *verdict_ : handed_ && accepted_ && (ended_ || !foreignTarget_));
    if (!gaveUp && !taken) {
        // Still to come: the target's request or verdict after its drop.
        if (dropped_ && accepted_ && !ended_) return;
        abandon();
        if (ended_ && stagingRemoved_) {
            concluded_ = true;
            deleteLater();
        }
        return;
    }
    if (stagingRunning_) {
        if (gaveUp) delegate_->HoldProgressSheet(false);
        return;
    }
    concluded_ = true;
    // A batch the user cancelled is not reported, as with Convert; files
    // given up on that nobody will take go.
    if (report_->cancelled || (gaveUp && entries_.empty())) {
        if (gaveUp) removeStaging();
        return;
    }
    // After the drag's own handling, which may be inside the drag's loop or
    // the data's destruction: the report's sheet waits for the user.
    QTimer::singleShot(0, this, [this, gaveUp] { gaveUp ? offerToSave() : reportHandOver(); });
}

void DragOutSession::reportHandOver() { delegate_->AlertOnDragOutHandOver(*report_); }

void DragOutSession::offerToSave() {
    // The files stay until the user has chosen: a folder to save them in, or
    // to let them go.
    const std::int64_t count = std::int64_t(report_->outputs.size());
    QPointer<DragOutSession> self(this);
    delegate_->OfferToSaveDragOut(count, entries_, [self] {
        if (!self) return;
        self->removeStaging();
        if (self->ended_) self->deleteLater();
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
    dragging_ = true;
    if (!directSave_) return;
    // The drag's source window exists once the drag runs: the first turn of
    // the drag's loop names the file there, long before any drop.
    QTimer::singleShot(0, this, [this] {
        xds::PublishFileName(fileName_);
        // Ahead of the drag's own filter, which moves the drag: the types are
        // in place when it enters a new target.
        qApp->removeEventFilter(this);
        if (dragging_) qApp->installEventFilter(this);
    });
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
    } else if (type == QEvent::KeyPress && dragging_ && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        escaped_ = true;
    } else if (type == QEvent::MouseMove && directSave_ && dragging_) {
        offerTypesAt(static_cast<QMouseEvent*>(event)->globalPosition());
    }
    return false;
}

void DragOutMimeData::offerTypesAt(QPointF global) {
    xcb_connection_t* x = X11Connection();
    if (!x) return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const QPointF native = global * qApp->devicePixelRatio();
    const int rootX = int(native.x()), rootY = int(native.y());
    // The drag's icon follows the pointer; it takes no drops.
    std::vector<xcb_window_t> passOver;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (window->flags().testFlag(Qt::WindowTransparentForInput) && window->handle()) {
            passOver.push_back(xcb_window_t(window->winId()));
        }
    }
    const xcb_window_t topLevel = xdnd::TopLevelAt(x, root, rootX, rootY, passOver);
    if (typesRead_ && topLevel == lastTopLevel_) return;
    const xcb_window_t source = xds::SourceWindow(x);
    if (source == XCB_WINDOW_NONE) return;
    if (!typesRead_) {
        // Qt lists every type once, when the drag starts.
        typesRead_ = true;
        allTypes_ = xdnd::OfferedTypes(x, source);
        offered_ = allTypes_;
    }
    lastTopLevel_ = topLevel;
    if (allTypes_.empty()) return;
    const xdnd::WindowAt at = xdnd::ClientWindowAt(x, root, rootX, rootY, passOver);
    const std::vector<xcb_atom_t> types = xdnd::TakesDirectSaveOnlyAlone(at.windowClass)
                                              ? std::vector<xcb_atom_t>{X11Atom(x, xds::kType)}
                                              : allTypes_;
    if (types == offered_) return;
    offered_ = types;
    xdnd::SetOfferedTypes(x, source, types);
}

void DragOutMimeData::dropped(bool accepted) {
    // The pointer is no longer over anything of this application's.
    qApp->removeEventFilter(this);
    dragging_ = false;
    if (session_) session_->dropped(accepted, escaped_ && !accepted);
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
    std::vector<fs::path> entries;
    QPointer<const DragOutMimeData> self(this);
    if (session_ && !overSourceWindow_) entries = session_->stagedEntries();
    if (!self) return {};
    if (type.id() == QMetaType::QByteArray || type.id() == QMetaType::QString) {
        const QByteArray list = UriListOfFiles(entries);
        if (type.id() == QMetaType::QString) return QString::fromUtf8(list);
        return list;
    }
    QVariantList list;
    for (const fs::path& entry : entries) list.append(FileURLForPath(entry));
    return list;
}

QByteArray UriListOfFiles(const std::vector<fs::path>& files) {
    QByteArray list;
    for (const fs::path& file : files) {
        list += FileURIForPath(file) + "\r\n";
    }
    return list;
}

// --- On X ------------------------------------------------------------------------------

namespace {

// Follows the drag of rows at the X level, where Qt's drag source stops:
// requests for the file list that cannot be answered yet, and the target's
// verdict on the drop.
class DragOutX11Filter : public QAbstractNativeEventFilter {
public:
    DragOutX11Filter(DragOutController* controller, xcb_connection_t* x)
        : controller_(controller), x_(x), selection_(X11Atom(x, "XdndSelection")), uriList_(X11Atom(x, kUriList)),
          finished_(X11Atom(x, "XdndFinished")) {
        qApp->installNativeEventFilter(this);
    }
    ~DragOutX11Filter() override { qApp->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t") return false;
        DragOutMimeData* data = controller_->currentData();
        DragOutSession* session = data ? data->session() : nullptr;
        if (!session) return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        switch (event->response_type & 0x7f) {
        case XCB_SELECTION_REQUEST:
            return fileListRequest(session, *reinterpret_cast<const xcb_selection_request_event_t*>(event));
        case XCB_CLIENT_MESSAGE: {
            const auto* client = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (client->type == finished_ && client->format == 32) session->targetFinished(client->data.data32[1] & 1);
            return false;
        }
        default:
            return false;
        }
    }

private:
    bool fileListRequest(DragOutSession* session, const xcb_selection_request_event_t& request) {
        if (request.selection != selection_ || request.target != uriList_) return false;
        xcb_connection_t* x = x_;
        const xcb_selection_request_event_t held = request;
        switch (session->fileListRequested([x, held](const std::vector<fs::path>* entries) {
            const QByteArray list = entries ? UriListOfFiles(*entries) : QByteArray();
            xdnd::AnswerSelectionRequest(x, held, entries ? &list : nullptr);
        })) {
        case DragOutSession::Request::Answer:
            return false;  // Qt answers from the data
        case DragOutSession::Request::Refuse:
            xdnd::AnswerSelectionRequest(x_, request, nullptr);
            return true;
        case DragOutSession::Request::Defer:
            return true;
        }
        return false;
    }

    DragOutController* controller_;
    xcb_connection_t* x_;
    xcb_atom_t selection_, uriList_, finished_;
};

}  // namespace

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
    if (xcb_connection_t* x = X11Connection(); x && !x11Filter_) x11Filter_ = std::make_unique<DragOutX11Filter>(this, x);
    current_ = new DragOutMimeData(session, sourceWindow, fileName, xds::Available());
    return current_;
}
