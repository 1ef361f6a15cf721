#pragma once
// Rows dragged out of the image list onto a folder: the same batch as
// Convert (renaming, unique names, optimisation, carried dates, progress
// sheet, notification and report), run off the main thread.
//
// Qt on Linux has no promised files, so there are two ways to the folder:
// - A target that speaks X direct save tells the folder it was dropped on;
//   the batch then runs into that folder exactly as Convert would. File
//   managers that rank the URI list first are offered direct save alone.
// - Any other target wants finished files (a list of file URLs). So that it
//   waits as little as possible, the batch starts when the drag starts and
//   converts into a private staging folder while the pointer moves; the
//   sheet stays hidden until the button is released, as a modal sheet would
//   take the pointer from the drag. A target that asks while the pointer
//   moves (to choose its action) is answered at once: with the files once
//   they are ready, else with nothing, so it does not accept a drop of files
//   that do not exist yet. Asked after the drop, the answer waits for the
//   batch (the window keeps serving events and the sheet's Cancel).
// Only the target knows what it did with the list: after a hand-over the
// report says so and names no folder. A target that gives up before the
// files are ready is reported, and the user may save the files elsewhere.
// A drag that ends without a taker cancels its staging batch and removes the
// folder. Handed-over files stay until the application quits, since a file
// manager may still be copying them after the drop; folders of a crashed run
// go at the next start.

#include "app/model/BatchConversion.h"

#include <QMimeData>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AppDelegate;
class QAbstractNativeEventFilter;

// Answers of a direct-save request.
enum class DirectSaveAnswer : char { Saved = 'S', Failed = 'F', Refused = 'E' };

// One drag of rows: its prepared job and its staging folder.
class DragOutSession : public QObject {
    Q_OBJECT
public:
    DragOutSession(AppDelegate* delegate, BatchJob job, std::filesystem::path staging, QObject* parent);
    ~DragOutSession() override;

    // Starts the batch into the staging folder, its sheet held back.
    bool beginStaging();
    // The drag's button went up: the sheet may show. A drag that no target
    // accepted is abandoned, unless a target asked for the files before they
    // were ready (it gave up on them) and the user did not cancel the drag.
    void dropped(bool accepted, bool cancelled = false);
    // For a target that takes files: the entries to copy (empty after a direct
    // save). While the drag's button is down only finished files are given;
    // after it, the rest of the batch is waited for.
    std::vector<std::filesystem::path> stagedEntries();
    // A request of another client for the file list. Answered by Qt (through
    // stagedEntries) when the files are ready, refused at once while the
    // button is down, else answered through `answer` once they are.
    enum class Request { Answer, Refuse, Defer };
    using Answer = std::function<void(const std::vector<std::filesystem::path>* entries)>;
    Request fileListRequested(Answer answer);
    // The target's verdict on the drop: whether it took the data.
    void targetFinished(bool success);
    // For a target that names its folder: runs the batch into `folder`.
    // Refused (the target falls back to the files) when it is no folder here.
    DirectSaveAnswer directSaveIntoFolder(const std::filesystem::path& folder);
    // The same from the target's "file://host/folder/name".
    DirectSaveAnswer directSave(const QByteArray& uri);
    // The drag is over (its data is gone).
    void dragEnded();

    const std::filesystem::path& stagingFolder() const { return staging_; }
    bool stagingRunning() const { return stagingRunning_; }
    // The staging folder has been removed (or was never needed again).
    bool stagingRemoved() const { return stagingRemoved_; }

private:
    enum class Road { Staging, DirectSave, DirectSaveFailed };
    void stagingFinished(const BatchReport& report);
    void removeStaging();
    void abandon();
    void answerWaiting();
    // Tells the user how the drag ended, once that is known.
    void conclude();
    void reportHandOver();
    void offerToSave();

    AppDelegate* delegate_;
    BatchJob job_;
    std::filesystem::path staging_;
    Road road_ = Road::Staging;
    bool stagingRunning_ = false;
    bool stagingRemoved_ = false;
    bool dropped_ = false;
    bool accepted_ = false;
    bool ended_ = false;
    bool concluded_ = false;
    // A target asked for the files before they were ready.
    bool askedEarly_ = false;
    // Another client asked for the list (its verdict will follow the drop).
    bool foreignTarget_ = false;
    // A list of finished files was given out.
    bool handed_ = false;
    std::optional<bool> verdict_;
    std::optional<BatchReport> report_;
    std::optional<DirectSaveAnswer> directAnswer_;
    std::vector<std::filesystem::path> entries_;
    std::vector<Answer> waiting_;
};

// The data of a drag of rows: "text/uri-list" of the staged files and, on X,
// the direct-save type.
class DragOutMimeData : public QMimeData {
    Q_OBJECT
public:
    DragOutMimeData(DragOutSession* session, QWidget* sourceWindow, QByteArray fileName, bool directSave);
    ~DragOutMimeData() override;
    // The drag that carries this data is about to run: targets in the
    // source window get nothing, and on X the file name is published once
    // the drag runs.
    void dragStarts();
    // The drag's button went up; `accepted` when a target took the drop.
    void dropped(bool accepted);
    DragOutSession* session() const { return session_; }
    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;
    // Follows the drag over this application's own widgets.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<DragOutSession> session_;
    QPointer<QWidget> sourceWindow_;
    bool overSourceWindow_ = false;
    QByteArray fileName_;
    bool directSave_;
    bool dragging_ = false;
    bool escaped_ = false;
    // On X: the types Qt offers, and those offered to the target under the
    // pointer (direct save alone to file managers that would not use it
    // otherwise).
    void offerTypesAt(QPointF global);
    bool typesRead_ = false;
    std::uint32_t lastTopLevel_ = 0;
    std::vector<std::uint32_t> allTypes_, offered_;
};

// A "text/uri-list" of local files.
QByteArray UriListOfFiles(const std::vector<std::filesystem::path>& files);

// The drags of one application run and their staging folders.
class DragOutController : public QObject {
    Q_OBJECT
public:
    // Removes the staging folders that ended runs left behind.
    explicit DragOutController(AppDelegate* delegate, std::filesystem::path root = {});
    // Removes this run's staging folders (any batch has been waited for).
    ~DragOutController() override;

    // The data for a drag of `rows` with its batch started; none when the
    // options are refused, a batch runs or no staging folder can be made.
    DragOutMimeData* beginDrag(const std::vector<int>& rows, QWidget* sourceWindow);
    const std::filesystem::path& root() const { return root_; }
    std::vector<DragOutSession*> sessions() const;
    // The data of the drag that runs or ran last, while it exists.
    DragOutMimeData* currentData() const { return current_; }

private:
    AppDelegate* delegate_;
    std::filesystem::path root_;
    QPointer<DragOutMimeData> current_;
    std::unique_ptr<QAbstractNativeEventFilter> x11Filter_;
};
