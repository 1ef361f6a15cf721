// Rows dragged out of the image list: the batch runs for the drop target,
// into the folder a direct-save target names or into a staging folder whose
// finished files a file target takes; either way the files are those a
// Convert into the folder writes.
#include "ImageListTestSupport.h"
#include "app/model/DragOutStaging.h"
#include "app/model/JobOptionsModel.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DirectSave.h"
#include "app/ui/DropTargets.h"
#include "app/ui/DragOut.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/MainWindow.h"
#include "app/ui/ProgressSheet.h"
#include "engine/ImageTypes.h"
#include "platform/OperationQueue.h"

#include <QCheckBox>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>
#include <map>

#include <sys/wait.h>
#include <xcb/xcb.h>
#include <unistd.h>

using namespace listtest;
namespace fs = std::filesystem;

namespace {

// A window of another application that takes dropped files: it keeps the
// paths of the URLs it is given.
class FileDropTarget : public QWidget {
public:
    FileDropTarget() {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("drop target"));
    }
    std::vector<fs::path> received;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasUrls()) event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        for (const QUrl& url : event->mimeData()->urls()) received.emplace_back(url.toLocalFile().toStdString());
        event->acceptProposedAction();
    }
};

// Name -> (bytes, modification time) of the files directly in a folder, or
// of the given files.
using Listing = std::map<std::string, std::pair<std::string, fs::file_time_type>>;

Listing ListFiles(const std::vector<fs::path>& files) {
    Listing listing;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        listing[file.filename().string()] = {std::string(std::istreambuf_iterator<char>(in), {}),
                                             fs::last_write_time(file)};
    }
    return listing;
}

Listing ListFolder(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    return ListFiles(files);
}

std::vector<std::string> Names(const Listing& listing) {
    std::vector<std::string> names;
    for (const auto& [name, content] : listing) names.push_back(name);
    return names;
}

QByteArray FileURI(const fs::path& file) {
    return QUrl::fromLocalFile(QString::fromStdString(file.string())).toEncoded();
}

const fs::file_time_type kSourceTime = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);

class DragOutTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    void SetUp() override {
        TestApplication();
        for (const char* folder : {"in", "converted", "dropped"}) fs::create_directories(dir / folder);
        SetCustomAlertResponder([this](const CustomAlert& alert) {
            alerts.push_back(alert.title());
            return alertAnswer;
        });
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        delegate->window()->setGeometry(0, 0, 1000, 700);
        delegate->window()->show();
        model = delegate->imageListModel();
        BatchSeams& seams = delegate->batchSeams();
        seams.storedDestination = [this] { return dir / "converted"; };
        seams.openFolder = [this](const fs::path& folder) { opened.push_back(folder); };
        delegate->window()->doNotShowAlertCheckBox->setChecked(false);

        // Renamed and numbered, turned into optimised JPEG, dates carried.
        JobOptionState state = delegate->jobOptions()->state();
        state.outputType = kImageTypeJPEG;
        state.groupOn[kOptimizationGroup] = true;
        state.optimizationTag = kOptimizeJPEG;
        state.groupOn[kRenameGroup] = true;
        state.renameTag = kRenamePrefixSuffix;
        state.fileNameText = "trip-";
        state.suffixText = "";
        state.numberPosition = kNumberAfterName;
        state.zeroPaddingText = "1";
        state.startDigitText = "1";
        state.general.preserveCreationDate = true;
        state.general.preserveModifiedDate = true;
        delegate->jobOptions()->setState(state);
    }
    void TearDown() override {
        delegate.reset();
        SetCustomAlertResponder(nullptr);
        GetThumbnailQueue().waitUntilAllOperationsAreFinished();
    }

    // Photos of the given names (type by extension) added through the Add
    // action, all selected.
    void addPhotos(const std::vector<std::string>& names) {
        std::vector<fs::path> files;
        for (const std::string& name : names) {
            const fs::path file = dir / "in" / name;
            WritePhoto(file, 90 + int(files.size()) * 10, 60, file.extension() == ".png" ? "public.png" : "public.jpeg");
            fs::last_write_time(file, kSourceTime);
            files.push_back(file);
        }
        delegate->runAddDialog = [files] { return AppDelegate::AddDialogResult{files, false}; };
        delegate->AddImageOrFolderButtonAction(nullptr);
        ASSERT_TRUE(WaitFor([&] { return !model->isAdding(); }));
        model->selectionModel()->select(QItemSelection(model->index(0, 0), model->index(model->count() - 1, 0)),
                                        QItemSelectionModel::ClearAndSelect);
    }
    // The data of a drag of every row, as the table starts it.
    std::unique_ptr<DragOutMimeData> beginDragOfAll() {
        std::vector<int> rows;
        for (int row = 0; row < model->count(); ++row) rows.push_back(row);
        return std::unique_ptr<DragOutMimeData>(delegate->dragOutController().beginDrag(rows, delegate->window()));
    }
    // What Convert All writes into "converted", its report answered.
    void convertAll() {
        delegate->ConvertAllButtonAction(nullptr);
        ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
        alerts.clear();
        opened.clear();
    }
    ProgressSheet* sheet() const { return delegate->window()->findChild<ProgressSheet*>(); }
    // The window with its sheet where the sheet sits, as the screen shows them.
    void saveScreenshot(const QString& name) const {
        const QString shots = qEnvironmentVariable("VANTRELL_SCREENSHOT_DIR");
        if (shots.isEmpty()) return;
        QDir().mkpath(shots);
        QWidget* window = delegate->window();
        QPixmap picture = window->grab();
        if (ProgressSheet* shown = sheet(); shown && shown->isVisible()) {
            QPainter painter(&picture);
            painter.drawPixmap(shown->geometry().topLeft() - window->geometry().topLeft(), shown->grab());
        }
        picture.save(shots + "/" + name);
    }

    ScratchDir dir;
    std::unique_ptr<AppDelegate> delegate;
    ImageListModel* model = nullptr;
    std::vector<QString> alerts;
    std::vector<fs::path> opened;
    int alertAnswer = kAlertDefaultReturn;
};

// A real drag needs a window system; the offscreen platform's drag ends
// at once. The xvfb run of these tests has one.
bool CanDrag() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

// Presses on the first row, moves far enough to start the table's drag, and
// lets the drag's own loop carry the pointer to `at` of `window` and release
// it there: once the target has accepted the drag when `accepting`, at once
// otherwise. Returns when the drag's loop is over.
void DragRowsTo(ImageListTableView* table, QWindow* window, QPoint at, bool accepting) {
    QWidget* source = table->window();
    const QPoint press = table->viewport()->mapTo(source, table->visualRect(table->model()->index(0, 0)).center());
    QTimer carry;
    bool moved = false;
    bool accepted = false;
    QObject::connect(&carry, &QTimer::timeout, [&] {
        QDrag* drag = table->findChild<QDrag*>();
        if (!drag) return;
        if (!moved) {
            moved = true;
            QObject::connect(drag, &QDrag::actionChanged, [&](Qt::DropAction action) {
                accepted = action != Qt::IgnoreAction;
            });
            QTest::mouseMove(window, at);
        } else if (accepted || !accepting) {
            carry.stop();
            QTest::mouseRelease(window, Qt::LeftButton, {}, at);
        }
    });
    carry.start(1);
    // Through the window, as the window system delivers them: the drag
    // needs the button held.
    QTest::mousePress(source->windowHandle(), Qt::LeftButton, {}, press);
    // The first move makes it a drag, the second one far enough starts it.
    for (int move = 1; move <= 2; ++move) {
        QTest::mouseMove(source->windowHandle(), press + QPoint(0, 3 * move * QApplication::startDragDistance()));
    }
}

void DragRowsOnto(ImageListTableView* table, QWidget* target, bool accepting) {
    DragRowsTo(table, target->window()->windowHandle(),
               target->mapTo(target->window(), QPoint(target->width() / 2, target->height() / 2)), accepting);
}

// A drop target of another X client that speaks direct save: its own
// connection and window, served on a thread of its own. On a drop it reads
// the offered name, writes "file://host/folder/name" for its folder, asks
// for the XdndDirectSave0 data and finishes the drop with the answer.
class DirectSaveTarget {
public:
    DirectSaveTarget(fs::path folder, QRect frame) : folder_(std::move(folder)) {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, std::int16_t(frame.x()),
                          std::int16_t(frame.y()), std::uint16_t(frame.width()), std::uint16_t(frame.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                          values);
        const std::uint32_t version = 5;
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("XdndAware"), XCB_ATOM_ATOM, 32, 1,
                            &version);
        xcb_map_window(connection_, window_);
        // Mapped on the server before anyone looks for it.
        free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        thread_ = std::thread([this] { serve(); });
    }
    ~DirectSaveTarget() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        xcb_disconnect(connection_);
    }
    bool ready() const { return window_ != 0; }
    bool finished() const { return finished_; }
    bool accepted() const { return statusSent_; }

    // What the drop brought, read once finished() holds.
    std::vector<std::string> offeredTypes;
    QByteArray offeredName;
    QByteArray answer;

private:
    xcb_atom_t atom(const char* name) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
            xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, std::uint16_t(strlen(name)), name),
                                  nullptr),
            &free);
        return reply ? reply->atom : 0;
    }
    std::string atomName(xcb_atom_t a) {
        std::unique_ptr<xcb_get_atom_name_reply_t, decltype(&free)> reply(
            xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, a), nullptr), &free);
        return reply ? std::string(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()))
                     : std::string();
    }
    QByteArray property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> reply(
            xcb_get_property_reply(connection_, xcb_get_property(connection_, 0, window, name, type, 0, 1024), nullptr),
            &free);
        if (!reply) return {};
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    }
    void send(xcb_window_t to, const char* type, std::array<std::uint32_t, 5> data) {
        xcb_client_message_event_t message = {};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = to;
        message.type = atom(type);
        std::copy(data.begin(), data.end(), message.data.data32);
        xcb_send_event(connection_, 0, to, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }
    using Event = std::unique_ptr<xcb_generic_event_t, decltype(&free)>;
    // The next event of `type` (others are passed over); none once stopped.
    Event nextEvent(std::uint8_t type) {
        while (!stop_) {
            Event event(xcb_poll_for_event(connection_), &free);
            if (!event) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else if ((event->response_type & 0x7f) == type) {
                return event;
            }
        }
        return Event(nullptr, &free);
    }
    void serve() {
        xcb_window_t source = 0;
        while (!finished_) {
            const Event event = nextEvent(XCB_CLIENT_MESSAGE);
            if (!event) return;
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
            const std::string type = atomName(message->type);
            if (type == "XdndEnter") {
                source = message->data.data32[0];
                offeredTypes.clear();
                if (message->data.data32[1] & 1) {
                    const QByteArray list = property(source, atom("XdndTypeList"), XCB_ATOM_ATOM);
                    for (int i = 0; i + 4 <= list.size(); i += 4) {
                        offeredTypes.push_back(atomName(*reinterpret_cast<const std::uint32_t*>(list.data() + i)));
                    }
                } else {
                    for (int i = 2; i < 5; ++i) {
                        if (message->data.data32[i]) offeredTypes.push_back(atomName(message->data.data32[i]));
                    }
                }
            } else if (type == "XdndPosition") {
                send(source, "XdndStatus", {window_, 1, 0, 0, atom("XdndActionCopy")});
                statusSent_ = true;
            } else if (type == "XdndDrop") {
                drop(source, message->data.data32[2]);
                finished_ = true;
            }
        }
    }
    void drop(xcb_window_t source, std::uint32_t time) {
        const xcb_atom_t xds = atom(xds::kType);
        const xcb_atom_t textPlain = atom("text/plain");
        offeredName = property(source, xds, textPlain);
        const QByteArray uri = "file://" + xds::LocalHostName() +
                               QUrl::fromLocalFile(QString::fromStdString((folder_ / offeredName.toStdString()).string()))
                                   .toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, source, xds, textPlain, 8, std::uint32_t(uri.size()),
                            uri.constData());
        const xcb_atom_t result = atom("VANTRELL_XDS_RESULT");
        xcb_convert_selection(connection_, window_, atom("XdndSelection"), xds, result, time);
        xcb_flush(connection_);
        if (const Event event = nextEvent(XCB_SELECTION_NOTIFY)) {
            const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
            if (notify->property != XCB_ATOM_NONE) answer = property(window_, result, XCB_GET_PROPERTY_TYPE_ANY);
        }
        send(source, "XdndFinished", {window_, answer == "S" ? 1u : 0u, atom("XdndActionCopy"), 0, 0});
    }

    fs::path folder_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> statusSent_{false};
    std::atomic<bool> finished_{false};
};

}  // namespace

TEST_F(DragOutTest, AFileTargetGetsWhatConvertWrites) {
    if (!CanDrag()) GTEST_SKIP() << "no window system to drag in";
    addPhotos({"a.jpg", "b.png", "c.jpg"});
    convertAll();
    const Listing converted = ListFolder(dir / "converted");
    ASSERT_EQ(Names(converted), (std::vector<std::string>{"trip-a01.jpg", "trip-b02.jpg", "trip-c03.jpg"}));

    FileDropTarget target;
    target.setGeometry(540, 100, 240, 240);
    target.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&target));
    DragRowsOnto(delegate->window()->imageListViewOutlet, &target, true);

    ASSERT_EQ(target.received.size(), 3u);
    const Listing arrived = ListFiles(target.received);
    EXPECT_EQ(Names(arrived), Names(converted));
    for (const auto& [name, content] : converted) {
        EXPECT_EQ(arrived.at(name).first, content.first) << name;
        EXPECT_EQ(arrived.at(name).second, kSourceTime) << name;
    }
    // The report follows the drop, once.
    ASSERT_TRUE(WaitFor([&] { return alerts.size() == 1; }));
    EXPECT_FALSE(delegate->isBatchRunning());

    // The handed-over files stay while the application runs (the target may
    // still be copying them) and go when it quits.
    const fs::path staging = target.received.front().parent_path();
    EXPECT_EQ(staging.parent_path(), DragOutStagingRoot());
    QCoreApplication::processEvents();
    EXPECT_TRUE(fs::exists(target.received.front()));
    delegate.reset();
    EXPECT_FALSE(fs::exists(staging));
}

TEST_F(DragOutTest, RowsDroppedOnTheirOwnWindowAreNotAdded) {
    if (!CanDrag()) GTEST_SKIP() << "no window system to drag in";
    addPhotos({"a.jpg"});
    // The big image view adds dropped files; the rows' own converted copies
    // are not among them.
    QWidget* view = delegate->window()->mainImagePreview;
    DragRowsOnto(delegate->window()->imageListViewOutlet, view, false);
    QCoreApplication::processEvents();
    EXPECT_EQ(model->count(), 1);
    ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
    EXPECT_TRUE(alerts.empty());
}

TEST_F(DragOutTest, DirectSaveRunsTheBatchIntoTheDropFolder) {
    addPhotos({"a.jpg", "b.png"});
    // A file of the first name already in both folders: unique names there.
    for (const char* folder : {"converted", "dropped"}) std::ofstream(dir / folder / "trip-a01.jpg") << "older";
    convertAll();
    const Listing converted = ListFolder(dir / "converted");
    ASSERT_EQ(converted.size(), 3u);

    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    DragOutSession* session = data->session();
    const fs::path staging = session->stagingFolder();
    EXPECT_TRUE(fs::is_directory(staging));
    EXPECT_TRUE(data->formats().contains("text/uri-list"));

    alertAnswer = kAlertAlternateReturn;  // Open Destination
    const QByteArray uri = FileURI(dir / "dropped" / "a.jpg");
    EXPECT_EQ(session->directSave(uri), DirectSaveAnswer::Saved);
    // Asked again, the same answer and no second batch.
    EXPECT_EQ(session->directSave(uri), DirectSaveAnswer::Saved);
    EXPECT_FALSE(fs::exists(staging));
    // A target that still asks for files gets none: they went to its folder.
    EXPECT_TRUE(session->stagedEntries().empty());
    ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
    data->dropped(true);
    data.reset();

    const Listing dropped = ListFolder(dir / "dropped");
    EXPECT_EQ(Names(dropped), Names(converted));
    for (const auto& [name, content] : converted) {
        EXPECT_EQ(dropped.at(name).first, content.first) << name;
        if (name != "trip-a01.jpg") {
            EXPECT_EQ(dropped.at(name).second, kSourceTime) << name;
        }
    }
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(opened, (std::vector<fs::path>{dir / "dropped"}));
}

TEST_F(DragOutTest, ADirectSaveTargetOnXGetsTheFilesInItsFolder) {
    if (!CanDrag()) GTEST_SKIP() << "no window system to drag in";
    addPhotos({"a.jpg", "b.png"});
    for (const char* folder : {"converted", "dropped"}) std::ofstream(dir / folder / "trip-a01.jpg") << "older";
    convertAll();
    const Listing converted = ListFolder(dir / "converted");

    const QRect frame(1100, 120, 200, 200);
    DirectSaveTarget target(dir / "dropped", frame);
    ASSERT_TRUE(target.ready());
    QWindow* source = delegate->window()->windowHandle();
    DragRowsTo(delegate->window()->imageListViewOutlet, source, source->mapFromGlobal(frame.center()), true);
    ASSERT_TRUE(WaitFor([&] { return target.finished(); }));
    EXPECT_NE(std::find(target.offeredTypes.begin(), target.offeredTypes.end(), xds::kType),
              target.offeredTypes.end());
    EXPECT_EQ(target.offeredName, "a.jpg");
    EXPECT_EQ(target.answer, "S");
    ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning() && alerts.size() == 1; }));

    const Listing dropped = ListFolder(dir / "dropped");
    EXPECT_EQ(Names(dropped), Names(converted));
    for (const auto& [name, content] : converted) EXPECT_EQ(dropped.at(name).first, content.first) << name;
    // Nothing was left in staging.
    for (DragOutSession* session : delegate->dragOutController().sessions()) {
        EXPECT_FALSE(fs::exists(session->stagingFolder()));
    }
}

TEST_F(DragOutTest, DirectSaveIsRefusedForWhatIsNoFolderHere) {
    addPhotos({"a.jpg", "b.jpg"});
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    DragOutSession* session = data->session();
    const std::vector<QByteArray> refused = {
        "file://elsewhere.example" + FileURI(dir / "dropped" / "a.jpg").mid(7),
        "http://localhost" + FileURI(dir / "dropped" / "a.jpg").mid(7),
        FileURI(dir / "missing" / "a.jpg"),
        "",
    };
    for (const QByteArray& uri : refused) EXPECT_EQ(session->directSave(uri), DirectSaveAnswer::Refused) << uri.data();
    // The target falls back to the files: the staging batch was left to run.
    const std::vector<fs::path> entries = session->stagedEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].filename(), "trip-a01.jpg");
    EXPECT_EQ(session->directSaveIntoFolder(dir / "dropped"), DirectSaveAnswer::Failed);
    EXPECT_TRUE(fs::is_empty(dir / "dropped"));
}

TEST_F(DragOutTest, ADragNoTargetTakesStopsAndLeavesNothing) {
    addPhotos({"a.jpg", "b.jpg", "c.jpg"});
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    const fs::path staging = data->session()->stagingFolder();
    // The sheet waits for the drag to end: a modal sheet would take the pointer.
    EXPECT_TRUE(delegate->isBatchRunning());
    EXPECT_FALSE(sheet() && sheet()->isVisible());
    // The drag's data goes without a drop (the window system ended it).
    data.reset();
    ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(WaitFor([&] { return delegate->dragOutController().sessions().empty(); }));
    // The sheet was held for that batch only: the next one (adding files
    // shows it too) is seen.
    delegate->BeginProgressSheet(true);
    EXPECT_TRUE(sheet() && sheet()->isVisible());
    delegate->EndProgressSheet(true);
}

TEST_F(DragOutTest, CancelWhileTheTargetWaitsHandsOverWhatIsFinished) {
    addPhotos({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"});
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    DragOutSession* session = data->session();
    const fs::path staging = session->stagingFolder();
    bool sheetShown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (fs::is_empty(staging)) return;
        poll.stop();
        sheetShown = sheet() && sheet()->isVisible();
        saveScreenshot("dragout-progress-sheet.png");
        delegate->CancelConversionButtonAction(nullptr);
    });
    poll.start(1);
    // The target's request waits with the sheet up; its Cancel works.
    const std::vector<fs::path> entries = session->stagedEntries();
    EXPECT_TRUE(sheetShown);
    EXPECT_GE(entries.size(), 1u);
    EXPECT_LT(entries.size(), 6u);
    for (const fs::path& entry : entries) EXPECT_TRUE(fs::is_regular_file(entry)) << entry;
    data->dropped(true);
    data.reset();
    QCoreApplication::processEvents();
    // A cancelled batch has no report.
    EXPECT_TRUE(alerts.empty());
}

TEST_F(DragOutTest, ATargetAskingWhileTheButtonIsDownWaitsWithoutTheSheet) {
    addPhotos({"a.jpg", "b.jpg", "c.jpg"});
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    QWindow* window = delegate->window()->windowHandle();
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(900, 650));
    bool sheetShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { sheetShown = sheetShown || (sheet() && sheet()->isVisible()); });
    watch.start(1);
    // A modal sheet would take the pointer from the drag.
    EXPECT_EQ(data->session()->stagedEntries().size(), 3u);
    EXPECT_FALSE(sheetShown);
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(900, 650));
}

TEST_F(DragOutTest, QuittingDuringADragOutWaitsAndRemovesTheStagingFolder) {
    addPhotos({"a.jpg", "b.jpg", "c.jpg"});
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    const fs::path staging = data->session()->stagingFolder();
    delegate->CancelAndWaitForBatch();
    EXPECT_FALSE(delegate->isBatchRunning());
    // Every file written is whole.
    for (const auto& entry : fs::directory_iterator(staging)) {
        EXPECT_EQ(convtest::Decode(entry.path()).type, "public.jpeg") << entry.path();
    }
    delegate.reset();
    EXPECT_FALSE(fs::exists(staging));
    // The drag's data outlives the application's objects harmlessly.
    data.reset();
}

TEST(DragOutStagingTest, EntriesAreTheTopLevelItemsHoldingTheOutputs) {
    const fs::path s = "/stage/1-x";
    struct Case {
        std::vector<fs::path> outputs;
        std::vector<fs::path> entries;
    } cases[] = {
        {{}, {}},
        {{s / "b.jpg", s / "a.jpg"}, {s / "b.jpg", s / "a.jpg"}},
        // A kept subfolder is handed whole, once, where its first file is.
        {{s / "x.jpg", s / "trip" / "day" / "1.jpg", s / "y.jpg", s / "trip" / "2.jpg"},
         {s / "x.jpg", s / "trip", s / "y.jpg"}},
        // Outside the staging folder: not ours to hand.
        {{"/stage/other.jpg", s / ".." / "up.jpg", s}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(DragOutEntries(s, c.outputs), c.entries);
}

TEST(DragOutStagingTest, FoldersOfEndedRunsGoAtTheNextStart) {
    ScratchDir root;
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const fs::path ended = root / (std::to_string(child) + "-old");
    const fs::path own = root / (std::to_string(::getpid()) + "-mine");
    const fs::path running = root / "1-init";
    const fs::path foreign = root / "notes";
    for (const fs::path& folder : {ended, own, running, foreign}) {
        fs::create_directories(folder / "trip");
        std::ofstream(folder / "trip" / "a.jpg") << "x";
    }
    {
        // The next start's controller clears what the ended run left.
        DragOutController controller(nullptr, root.path());
        EXPECT_FALSE(fs::exists(ended));
        EXPECT_TRUE(fs::exists(own));
        EXPECT_TRUE(fs::exists(running));
        EXPECT_TRUE(fs::exists(foreign));
    }
    const fs::path made = MakeDragOutStagingFolder(root / "new");
    ASSERT_FALSE(made.empty());
    EXPECT_TRUE(fs::is_empty(made));
    EXPECT_EQ(made.filename().string().rfind(std::to_string(::getpid()) + "-", 0), 0u);
    EXPECT_EQ(fs::status(root / "new").permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(DirectSaveTest, TheFolderOfATargetsURI) {
    struct Case {
        QByteArray uri;
        std::optional<fs::path> folder;
    } cases[] = {
        {"file:///home/ann/Pictures/a.jpg", fs::path("/home/ann/Pictures")},
        {"file://localhost/home/ann/a.jpg", fs::path("/home/ann")},
        {"file://studio/home/ann/a.jpg", fs::path("/home/ann")},
        {"file://STUDIO/home/ann/a.jpg", fs::path("/home/ann")},
        {"file:///home/ann/My%20Pictures/a%20b.jpg", fs::path("/home/ann/My Pictures")},
        {"file:///home/ann/Pictures/a.jpg\r\n", fs::path("/home/ann/Pictures")},
        {QByteArray("file:///home/ann/a.jpg\0", 23), fs::path("/home/ann")},
        {"file:///home/ann/../ann/Pictures/a.jpg", fs::path("/home/ann/Pictures")},
        {"file:///a.jpg", fs::path("/")},
        {"file://elsewhere/home/ann/a.jpg", std::nullopt},
        {"http://studio/home/ann/a.jpg", std::nullopt},
        {"file:a.jpg", std::nullopt},
        {"file:///home/a%00b/c.jpg", std::nullopt},
        {"file:///home/ann/a.jpg?x=1", std::nullopt},
        {"", std::nullopt},
        {"not a uri at all %%", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(xds::FolderOfURI(c.uri, "studio"), c.folder) << c.uri.data();
}

TEST(DirectSaveTest, NotOfferedWithoutX) {
    TestApplication();
    if (QGuiApplication::platformName() == QLatin1String("xcb")) GTEST_SKIP() << "runs on X";
    EXPECT_FALSE(xds::Available());
    EXPECT_FALSE(xds::PublishFileName("a.jpg"));
    EXPECT_TRUE(xds::TargetURI().isEmpty());
    DragOutMimeData data(nullptr, nullptr, "a.jpg", false);
    EXPECT_EQ(data.formats(), QStringList{"text/uri-list"});
}
