// Rows dragged out of the image list: the batch runs for the drop target and writes what Convert would.
#include "ImageListTestSupport.h"
#include "app/model/DragOutStaging.h"
#include "app/model/JobOptionsModel.h"
#include "app/model/StringTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DirectSave.h"
#include "app/ui/DragOut.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/MainWindow.h"
#include "app/ui/ProgressSheet.h"
#include "app/ui/XdndSource.h"
#include "engine/ImageTypes.h"
#include "platform/OperationQueue.h"

#include <QCheckBox>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <numeric>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

using namespace listtest;
namespace fs = std::filesystem;

namespace {

// Another application's window that takes dropped files: it keeps their paths.
class FileDropTarget : public QWidget {
public:
    FileDropTarget() { setAcceptDrops(true); }
    std::vector<fs::path> received;
    void dragEnterEvent(QDragEnterEvent* event) override { event->setAccepted(event->mimeData()->hasUrls()); }
    void dropEvent(QDropEvent* event) override {
        for (const QUrl& url : event->mimeData()->urls()) received.emplace_back(url.toLocalFile().toStdString());
        event->acceptProposedAction();
    }
};

const fs::file_time_type kSourceTime = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);

// Name -> (bytes, modification time) of the given files.
using Listing = std::map<std::string, std::pair<std::string, fs::file_time_type>>;
Listing ListFiles(const std::vector<fs::path>& files) {
    Listing listing;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        listing[file.filename().string()] = {{std::istreambuf_iterator<char>(in), {}}, fs::last_write_time(file)};
    }
    return listing;
}
Listing ListFolder(const fs::path& folder) { return ListFiles({fs::directory_iterator(folder), {}}); }

// `got` has the names and bytes of `converted`, dated as the sources but for `older`, there before.
void ExpectCopies(Listing got, Listing converted, const std::string& older = {}) {
    for (auto& [name, content] : converted) content.second = name == older ? got[name].second : kSourceTime;
    EXPECT_TRUE(got == converted);
}

QByteArray FileURI(const fs::path& file) { return QUrl::fromLocalFile(QString::fromStdString(file.string())).toEncoded(); }

// A real drag needs a window system (the xvfb run has one); offscreen it ends at once.
bool CanDrag() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

class DragOutTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    void SetUp() override {
        TestApplication();
        for (const char* folder : {"in", "converted", "dropped"}) fs::create_directories(dir / folder);
        SetCustomAlertResponder([this](const CustomAlert& alert) { return alerts.push_back(alert.title()), alertAnswer; });
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        delegate->window()->setGeometry(0, 0, 1000, 700);
        delegate->window()->show();
        delegate->window()->doNotShowAlertCheckBox->setChecked(false);
        model = delegate->imageListModel();
        delegate->batchSeams().storedDestination = [this] { return dir / "converted"; };
        delegate->batchSeams().openFolder = [this](const fs::path& folder) { opened.push_back(folder); };
        // Renamed and numbered, turned into optimised JPEG, dates carried.
        JobOptionState state = delegate->jobOptions()->state();
        state.outputType = kImageTypeJPEG;
        state.groupOn[kOptimizationGroup] = state.groupOn[kRenameGroup] = true;
        state.optimizationTag = kOptimizeJPEG;
        state.renameTag = kRenamePrefixSuffix;
        state.fileNameText = "trip-", state.suffixText = "";
        state.numberPosition = kNumberAfterName;
        state.zeroPaddingText = state.startDigitText = "1";
        state.general.preserveCreationDate = state.general.preserveModifiedDate = true;
        delegate->jobOptions()->setState(state);
    }
    void TearDown() override {
        delegate.reset();
        SetCustomAlertResponder(nullptr);
        GetThumbnailQueue().waitUntilAllOperationsAreFinished();
    }

    // Photos of the given names (type by extension) added through the Add action, all selected.
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
    // What Convert All writes into "converted", its report answered.
    Listing convertAll() {
        delegate->ConvertAllButtonAction(nullptr);
        EXPECT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
        alerts.clear(), opened.clear();
        return ListFolder(dir / "converted");
    }
    // Two photos converted while "converted" and "dropped" hold the first one's name: unique names there.
    Listing convertWithAClash() {
        addPhotos({"a.jpg", "b.png"});
        for (const char* folder : {"converted", "dropped"}) std::ofstream(dir / folder / "trip-a01.jpg") << "older";
        const Listing converted = convertAll();
        EXPECT_EQ(converted.size(), 3u);
        return converted;
    }
    // The data of a drag of every row, as the table starts it.
    std::unique_ptr<DragOutMimeData> beginDragOfAll() {
        std::vector<int> rows(model->count());
        std::iota(rows.begin(), rows.end(), 0);
        return std::unique_ptr<DragOutMimeData>(delegate->dragOutController().beginDrag(rows, delegate->window()));
    }
    bool sheetShown() const {
        const ProgressSheet* sheet = delegate->window()->findChild<ProgressSheet*>();
        return sheet && sheet->isVisible();
    }

    ScratchDir dir;
    std::unique_ptr<AppDelegate> delegate;
    ImageListModel* model = nullptr;
    std::vector<QString> alerts;
    std::vector<fs::path> opened;
    int alertAnswer = kAlertDefaultReturn;
};

// Drags the first row to `global` and releases it there (once the target accepts, when `accepting`).
void DragRowsTo(ImageListTableView* table, QPoint global, bool accepting) {
    QWindow* window = table->window()->windowHandle();
    const QPoint press = table->viewport()->mapTo(table->window(), table->visualRect(table->model()->index(0, 0)).center());
    const QPoint at = window->mapFromGlobal(global);
    QTimer carry;
    bool moved = false, accepted = false;
    QObject::connect(&carry, &QTimer::timeout, [&] {
        QDrag* drag = table->findChild<QDrag*>();
        if (!drag) return;
        if (!moved) {
            moved = true;
            QObject::connect(drag, &QDrag::actionChanged, [&](Qt::DropAction action) { accepted = action != Qt::IgnoreAction; });
            QTest::mouseMove(window, at);
        } else if (accepted || !accepting) {
            carry.stop();
            QTest::mouseRelease(window, Qt::LeftButton, {}, at);
        }
    });
    carry.start(1);
    QTest::mousePress(window, Qt::LeftButton, {}, press);
    for (int move = 1; move <= 2; ++move) QTest::mouseMove(window, press + QPoint(0, 3 * move * QApplication::startDragDistance()));
}
QPoint Centre(QWidget* widget) { return widget->mapToGlobal(widget->rect().center()); }

// Another X client's drop target on its own thread, of the given window class. A direct-save target
// names the file in its folder on a drop, asks for the XdndDirectSave0 answer and finishes the drop
// with it; like Thunar it takes the URI list instead whenever that is offered too. A target that
// gives up asks for the URI list at the drop and finishes at once, unsuccessfully; so does a Thunar-like
// target offered the list.
class DirectSaveTarget {
public:
    enum Mode { DirectSave, LikeThunar, GivesUp };
    DirectSaveTarget(fs::path folder, QRect frame, QByteArray windowClass = "VantrellTestTarget", Mode mode = DirectSave)
        : folder_(std::move(folder)), mode_(mode), x_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(x_)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x_)).data;
        window_ = xcb_generate_id(x_);
        const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_PROPERTY_CHANGE}, version = 5;
        xcb_create_window(x_, XCB_COPY_FROM_PARENT, window_, screen->root, std::int16_t(frame.x()), std::int16_t(frame.y()),
                          std::uint16_t(frame.width()), std::uint16_t(frame.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_change_property(x_, XCB_PROP_MODE_REPLACE, window_, atom("XdndAware"), XCB_ATOM_ATOM, 32, 1, &version);
        const QByteArray wmClass = windowClass.toLower() + '\0' + windowClass + '\0';
        xcb_change_property(x_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            std::uint32_t(wmClass.size()), wmClass.constData());
        xcb_map_window(x_, window_);
        free(xcb_get_input_focus_reply(x_, xcb_get_input_focus(x_), nullptr));  // mapped before anyone looks
        thread_ = std::thread([this] { serve(); });
    }
    ~DirectSaveTarget() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        xcb_disconnect(x_);
    }
    std::atomic<bool> finished{false};
    bool offeredDirectSave = false, offeredUriList = false;  // these once finished
    QByteArray offeredName, answer;
    xcb_window_t window_ = 0;

private:
    template <typename T> static std::unique_ptr<T, decltype(&free)> Own(T* reply) { return {reply, &free}; }
    xcb_atom_t atom(const char* name) {
        const auto reply = Own(xcb_intern_atom_reply(x_, xcb_intern_atom(x_, 0, std::uint16_t(strlen(name)), name), nullptr));
        return reply ? reply->atom : 0;
    }
    QByteArray property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
        const auto reply = Own(xcb_get_property_reply(x_, xcb_get_property(x_, 0, window, name, type, 0, 1024), nullptr));
        return reply ? QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                  xcb_get_property_value_length(reply.get()))
                     : QByteArray();
    }
    void send(xcb_window_t to, const char* type, std::array<std::uint32_t, 5> data) {
        xcb_client_message_event_t message = {};
        message.response_type = XCB_CLIENT_MESSAGE, message.format = 32, message.window = to, message.type = atom(type);
        std::copy(data.begin(), data.end(), message.data.data32);
        xcb_send_event(x_, 0, to, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(x_);
    }
    // The next event of `type` (others are passed over); none once stopped.
    std::unique_ptr<xcb_generic_event_t, decltype(&free)> nextEvent(std::uint8_t type) {
        while (!stop_) {
            auto event = Own(xcb_poll_for_event(x_));
            if (!event) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            else if ((event->response_type & 0x7f) == type) return event;
        }
        return Own<xcb_generic_event_t>(nullptr);
    }
    void serve() {
        const xcb_atom_t xds = atom(xds::kType), textPlain = atom("text/plain"), result = atom("VANTRELL_XDS_RESULT");
        const xcb_atom_t uriList = atom("text/uri-list");
        xcb_window_t source = 0;
        while (const auto event = nextEvent(XCB_CLIENT_MESSAGE)) {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
            const std::uint32_t* data = message->data.data32;
            if (message->type == atom("XdndEnter")) {
                source = data[0];
                // More than three types are listed in a property of the source.
                const QByteArray list = (data[1] & 1) ? property(source, atom("XdndTypeList"), XCB_ATOM_ATOM)
                                                      : QByteArray(reinterpret_cast<const char*>(data + 2), 12);
                for (int i = 0; i + 4 <= list.size(); i += 4) {
                    offeredDirectSave |= *reinterpret_cast<const std::uint32_t*>(list.data() + i) == xds;
                    offeredUriList |= *reinterpret_cast<const std::uint32_t*>(list.data() + i) == uriList;
                }
            } else if (message->type == atom("XdndPosition")) {
                send(source, "XdndStatus", {window_, 1, 0, 0, atom("XdndActionCopy")});
            } else if (message->type == atom("XdndDrop") && (mode_ == GivesUp || (mode_ == LikeThunar && offeredUriList))) {
                xcb_convert_selection(x_, window_, atom("XdndSelection"), uriList, result, data[2]);
                send(source, "XdndFinished", {window_, 0, 0, 0, 0});
                finished = true;
                return;
            } else if (message->type == atom("XdndDrop")) {
                offeredName = property(source, xds, textPlain);
                const QByteArray uri = "file://" + xds::LocalHostName() +
                                       QUrl::fromLocalFile(QString::fromStdString((folder_ / offeredName.toStdString()).string()))
                                           .toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
                xcb_change_property(x_, XCB_PROP_MODE_REPLACE, source, xds, textPlain, 8, std::uint32_t(uri.size()),
                                    uri.constData());
                xcb_convert_selection(x_, window_, atom("XdndSelection"), xds, result, data[2]);
                xcb_flush(x_);
                const auto notify = nextEvent(XCB_SELECTION_NOTIFY);
                if (notify && reinterpret_cast<const xcb_selection_notify_event_t*>(notify.get())->property != XCB_ATOM_NONE) {
                    answer = property(window_, result, XCB_GET_PROPERTY_TYPE_ANY);
                }
                send(source, "XdndFinished", {window_, answer == "S" ? 1u : 0u, atom("XdndActionCopy"), 0, 0});
                finished = true;
                return;
            }
        }
    }

    fs::path folder_;
    Mode mode_;
    xcb_connection_t* x_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

}  // namespace

TEST_F(DragOutTest, AFileTargetGetsWhatConvertWritesAndTheirOwnWindowNothing) {
    if (!CanDrag()) GTEST_SKIP() << "no window system to drag in";
    addPhotos({"a.jpg", "b.png", "c.jpg"});
    // The big image view adds dropped files, but not the rows' own converted copies.
    DragRowsTo(delegate->window()->imageListViewOutlet, Centre(delegate->window()->mainImagePreview), false);
    QCoreApplication::processEvents();
    EXPECT_EQ(model->count(), 3);
    ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
    EXPECT_TRUE(alerts.empty());

    const Listing converted = convertAll();
    FileDropTarget target;
    target.setGeometry(540, 100, 240, 240);
    target.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&target));
    DragRowsTo(delegate->window()->imageListViewOutlet, Centre(&target), true);
    ASSERT_EQ(target.received.size(), 3u);
    ExpectCopies(ListFiles(target.received), converted);
    ASSERT_TRUE(WaitFor([&] { return alerts.size() == 1; }));  // the report follows the drop, once

    // The handed-over files stay while the application runs (the target may still copy them), not after.
    const fs::path staging = target.received.front().parent_path();
    EXPECT_EQ(staging.parent_path(), DragOutStagingRoot());
    QCoreApplication::processEvents();
    EXPECT_TRUE(fs::exists(target.received.front()));
    delegate.reset();
    EXPECT_FALSE(fs::exists(staging));
}

TEST_F(DragOutTest, DirectSaveRunsTheBatchIntoTheDropFolder) {
    const Listing converted = convertWithAClash();
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    DragOutSession* session = data->session();
    const fs::path staging = session->stagingFolder();
    EXPECT_TRUE(fs::is_directory(staging));
    alertAnswer = kAlertAlternateReturn;  // Open Destination
    const QByteArray uri = FileURI(dir / "dropped" / "a.jpg");
    EXPECT_EQ(session->directSave(uri), DirectSaveAnswer::Saved);
    EXPECT_EQ(session->directSave(uri), DirectSaveAnswer::Saved);  // asked again: no second batch
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_TRUE(session->stagedEntries().empty());  // a target still asking for files gets none
    ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
    data->dropped(true);
    data.reset();
    ExpectCopies(ListFolder(dir / "dropped"), converted, "trip-a01.jpg");
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(opened, (std::vector<fs::path>{dir / "dropped"}));
}

TEST_F(DragOutTest, ADirectSaveTargetOnXGetsTheFilesInItsFolder) {
    if (!CanDrag()) GTEST_SKIP() << "no window system to drag in";
    const Listing converted = convertWithAClash();
    const QRect frame(1100, 120, 200, 200);
    DirectSaveTarget target(dir / "dropped", frame);
    ASSERT_TRUE(target.window_);
    DragRowsTo(delegate->window()->imageListViewOutlet, frame.center(), true);
    ASSERT_TRUE(WaitFor([&] { return target.finished.load(); }));
    EXPECT_TRUE(target.offeredDirectSave);
    EXPECT_TRUE(target.offeredUriList);  // a target not known to take direct save keeps the list
    EXPECT_EQ(target.offeredName, "a.jpg");
    EXPECT_EQ(target.answer, "S");
    ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning() && alerts.size() == 1; }));
    ExpectCopies(ListFolder(dir / "dropped"), converted, "trip-a01.jpg");
}

// Refused for what is no folder here, the target falls back to the files. Asked for them while the
// button is down (to choose its action) it gets only finished ones, at once and without the sheet (a
// modal sheet would take the pointer from the drag); after the drop the rest is waited for.
TEST_F(DragOutTest, DirectSaveRefusedAndFilesNotReadyWhileTheButtonIsDown) {
    addPhotos({"a.jpg", "b.jpg", "c.jpg"});
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    DragOutSession* session = data->session();
    const QByteArray path = FileURI(dir / "dropped" / "a.jpg").mid(7);
    for (const QByteArray& uri : {"file://elsewhere.example" + path, "http://localhost" + path,
                                  FileURI(dir / "missing" / "a.jpg"), QByteArray()}) {
        EXPECT_EQ(session->directSave(uri), DirectSaveAnswer::Refused) << uri.data();
    }
    QWindow* window = delegate->window()->windowHandle();
    QTest::mousePress(window, Qt::LeftButton, {}, QPoint(900, 650));
    EXPECT_TRUE(session->stagedEntries().empty());  // the batch is still running: nothing to give yet
    EXPECT_EQ(session->fileListRequested({}), DragOutSession::Request::Refuse);
    EXPECT_FALSE(sheetShown());
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(900, 650));
    const std::vector<fs::path> entries = session->stagedEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].filename(), "trip-a01.jpg");
    EXPECT_EQ(session->directSaveIntoFolder(dir / "dropped"), DirectSaveAnswer::Failed);
    EXPECT_TRUE(fs::is_empty(dir / "dropped"));
}

TEST_F(DragOutTest, ADragNoTargetTakesStopsAndLeavesNothingAndQuittingDuringOneWaits) {
    addPhotos({"a.jpg", "b.jpg", "c.jpg"});
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    const fs::path staging = data->session()->stagingFolder();
    EXPECT_TRUE(delegate->isBatchRunning());
    EXPECT_FALSE(sheetShown());  // held while the drag lasts: a modal sheet would take the pointer
    data.reset();                // the window system ended the drag without a drop
    ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
    EXPECT_FALSE(fs::exists(staging));
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(WaitFor([&] { return delegate->dragOutController().sessions().empty(); }));
    // The sheet was held for that batch only: the next one shows it.
    delegate->BeginProgressSheet(true);
    EXPECT_TRUE(sheetShown());
    delegate->EndProgressSheet(true);

    // Quitting during a drag waits for the batch and removes the staging folder.
    data = beginDragOfAll();
    ASSERT_TRUE(data);
    const fs::path quitStaging = data->session()->stagingFolder();
    delegate->CancelAndWaitForBatch();
    EXPECT_FALSE(delegate->isBatchRunning());
    for (const auto& entry : fs::directory_iterator(quitStaging)) {  // every file written is whole
        EXPECT_EQ(convtest::Decode(entry.path()).type, "public.jpeg") << entry.path();
    }
    delegate.reset();
    EXPECT_FALSE(fs::exists(quitStaging));
    data.reset();  // the drag's data outlives the application's objects harmlessly
}

TEST_F(DragOutTest, CancelWhileTheTargetWaitsHandsOverWhatIsFinished) {
    addPhotos({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"});
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    const fs::path staging = data->session()->stagingFolder();
    // The target's request waits with the sheet up; its Cancel, once a file is written, works.
    bool shown = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (fs::is_empty(staging)) return;
        poll.stop();
        shown = sheetShown();
        delegate->CancelConversionButtonAction(nullptr);
    });
    poll.start(1);
    const std::vector<fs::path> entries = data->session()->stagedEntries();
    EXPECT_TRUE(shown);
    EXPECT_GE(entries.size(), 1u);
    EXPECT_LT(entries.size(), 6u);
    for (const fs::path& entry : entries) EXPECT_TRUE(fs::is_regular_file(entry)) << entry;
    data->dropped(true);
    data.reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(alerts.empty());  // a cancelled batch has no report
}

TEST_F(DragOutTest, ThunarAndPCManFMAreOfferedDirectSaveAlone) {
    if (!CanDrag()) GTEST_SKIP() << "no window system to drag in";
    const Listing converted = convertWithAClash();
    for (const QByteArray windowClass : {"Thunar", "Pcmanfm"}) {
        const fs::path folder = dir / windowClass.toStdString();
        fs::create_directories(folder);
        std::ofstream(folder / "trip-a01.jpg") << "older";
        const QRect frame(1100, 120, 200, 200);
        DirectSaveTarget target(folder, frame, windowClass, DirectSaveTarget::LikeThunar);
        ASSERT_TRUE(target.window_);
        DragRowsTo(delegate->window()->imageListViewOutlet, frame.center(), true);
        ASSERT_TRUE(WaitFor([&] { return target.finished.load(); }));
        EXPECT_TRUE(target.offeredDirectSave) << windowClass.data();
        EXPECT_FALSE(target.offeredUriList) << windowClass.data();
        EXPECT_EQ(target.answer, "S");
        ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning() && alerts.size() == 1; }));
        alerts.clear();
        ExpectCopies(ListFolder(folder), converted, "trip-a01.jpg");
    }
}

// A batch that takes longer than the target waits: the target finishes the drop without the files.
TEST_F(DragOutTest, ATargetThatGivesUpIsToldAndTheFilesCanBeSaved) {
    if (!CanDrag()) GTEST_SKIP() << "no window system to drag in";
    addPhotos({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"});
    const Listing converted = convertAll();
    fs::path savedInto;
    delegate->batchSeams().chooseSaveFolder = [&](auto done) { done(savedInto = dir / "dropped"); };
    const QRect frame(1100, 120, 200, 200);
    DirectSaveTarget target(dir / "elsewhere", frame, "VantrellTestTarget", DirectSaveTarget::GivesUp);
    ASSERT_TRUE(target.window_);
    DragRowsTo(delegate->window()->imageListViewOutlet, frame.center(), true);
    ASSERT_TRUE(WaitFor([&] { return target.finished.load(); }));
    ASSERT_TRUE(WaitFor([&] { return !alerts.empty(); }));
    EXPECT_EQ(alerts, std::vector<QString>{LocalizedFormat("DragOutTargetGaveUp", {6, QString("s")})});
    EXPECT_EQ(savedInto, dir / "dropped");
    ExpectCopies(ListFolder(dir / "dropped"), converted);
    for (DragOutSession* session : delegate->dragOutController().sessions()) EXPECT_TRUE(session->stagingRemoved());
}

// What the target did with the files decides the report: none after a cancelled drag, a hand-over
// that names no folder, the offer to save them when the target gave up on them.
TEST_F(DragOutTest, TheReportTellsWhatTheTargetDidWithTheFiles) {
    addPhotos({"a.jpg", "b.jpg"});
    const fs::path elsewhere = dir / "dropped";
    delegate->batchSeams().chooseSaveFolder = [&](auto done) { done(elsewhere); };
    struct Case {
        bool asksEarly, escaped, accepted;
        std::optional<bool> verdict;
        std::vector<QString> alerts;
        bool kept;  // the staging folder stays for the target
    };
    const QString handedOver = LocalizedFormat("DragOutHandedOverMessage", {2, QString("s")});
    const QString gaveUp = LocalizedFormat("DragOutTargetGaveUp", {2, QString("s")});
    const Case cases[] = {
        {false, true, false, std::nullopt, {}, false},     // list given while moving, then Escape
        {true, true, false, std::nullopt, {}, false},      // asked too early, then Escape
        {false, false, true, true, {handedOver}, true},    // taken
        {false, false, true, false, {gaveUp}, false},      // the target says it failed: discarded
        {true, false, false, std::nullopt, {gaveUp}, false},  // asked too early and so refused the drop
    };
    for (const Case& c : cases) {
        alerts.clear(), opened.clear();
        alertAnswer = kAlertAlternateReturn;  // Open Destination, Discard
        std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
        ASSERT_TRUE(data);
        DragOutSession* session = data->session();
        const fs::path staging = session->stagingFolder();
        data->dragStarts();
        if (c.escaped) {
            QTest::keyClick(delegate->window(), Qt::Key_Escape);
        }
        if (c.asksEarly) {
            EXPECT_EQ(session->fileListRequested({}), DragOutSession::Request::Refuse);
        }
        ASSERT_TRUE(WaitFor([&] { return !delegate->isBatchRunning(); }));
        if (!c.asksEarly) {
            EXPECT_EQ(session->fileListRequested({}), DragOutSession::Request::Answer);
            EXPECT_EQ(data->urls().size(), 2);  // Qt's answer, from the data
        }
        session->targetFinished(true);  // PCManFM finishes while the pointer moves: no verdict yet
        data->dropped(c.accepted);
        if (c.verdict) session->targetFinished(*c.verdict);
        data.reset();
        QCoreApplication::processEvents();
        EXPECT_EQ(alerts, c.alerts);
        EXPECT_TRUE(opened.empty());  // never the private staging folder
        EXPECT_EQ(fs::exists(staging), c.kept);
    }
    EXPECT_FALSE(fs::exists(elsewhere / "trip-a01.jpg"));  // discarded, not saved
}

TEST_F(DragOutTest, AListAskedForAfterTheDropIsAnsweredWhenTheFilesAreReady) {
    addPhotos({"a.jpg", "b.jpg", "c.jpg"});
    std::unique_ptr<DragOutMimeData> data = beginDragOfAll();
    ASSERT_TRUE(data);
    DragOutSession* session = data->session();
    data->dropped(true);
    std::optional<std::vector<fs::path>> answered;
    EXPECT_EQ(session->fileListRequested([&](const std::vector<fs::path>* entries) { answered = *entries; }),
              DragOutSession::Request::Defer);
    EXPECT_FALSE(answered);
    ASSERT_TRUE(WaitFor([&] { return answered.has_value(); }));
    EXPECT_EQ(answered->size(), 3u);
    EXPECT_TRUE(alerts.empty());  // the target's verdict comes first
    session->targetFinished(true);
    data.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(alerts, std::vector<QString>{LocalizedFormat("DragOutHandedOverMessage", {3, QString("s")})});
}

TEST(DragOutStagingTest, SavedEntriesReplaceNothing) {
    ScratchDir staging, folder;
    for (const char* name : {"a.jpg", "b.jpg", "trip/c.jpg"}) {
        fs::create_directories((staging / name).parent_path());
        std::ofstream(staging / name) << name;
    }
    std::ofstream(folder / "a.jpg") << "older";
    const std::vector<fs::path> entries = {staging / "a.jpg", staging / "b.jpg", staging / "trip", staging / "gone.jpg"};
    EXPECT_EQ(SaveDragOutEntries(entries, folder.path()), std::vector<fs::path>{staging / "gone.jpg"});
    const std::pair<const char*, const char*> expected[] = {
        {"a.jpg", "older"}, {"a 1.jpg", "a.jpg"}, {"b.jpg", "b.jpg"}, {"trip/c.jpg", "trip/c.jpg"}};
    for (const auto& [name, content] : expected) {
        std::ifstream in(folder / name);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content) << name;
    }
}

TEST(DragOutStagingTest, EntriesAreTheTopLevelItemsHoldingTheOutputs) {
    const fs::path s = "/stage/1-x";
    const std::pair<std::vector<fs::path>, std::vector<fs::path>> cases[] = {  // outputs, entries
        {{}, {}},
        {{s / "b.jpg", s / "a.jpg"}, {s / "b.jpg", s / "a.jpg"}},
        // A kept subfolder is handed whole, once, where its first file is.
        {{s / "x.jpg", s / "trip" / "day" / "1.jpg", s / "y.jpg", s / "trip" / "2.jpg"}, {s / "x.jpg", s / "trip", s / "y.jpg"}},
        {{"/stage/other.jpg", s / ".." / "up.jpg", s}, {}},  // outside the staging folder: not ours to hand
    };
    for (const auto& [outputs, entries] : cases) EXPECT_EQ(DragOutEntries(s, outputs), entries);
}

TEST(DragOutStagingTest, FoldersOfEndedRunsGoAtTheNextStart) {
    ScratchDir root;
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const fs::path ended = root / (std::to_string(child) + "-old");
    // Not ours: a number beyond any process id (it once wrapped round to the
    // ended run's), and a run's folder reached through a link to the root.
    const fs::path kept[] = {root / (std::to_string(::getpid()) + "-mine"), root / "1-init", root / "notes",
                             root / (std::to_string((1LL << 32) + child) + "-wrapped"),
                             root / "elsewhere" / (std::to_string(child) + "-old")};
    for (const fs::path& folder : {ended, kept[0], kept[1], kept[2], kept[3], kept[4]}) {
        fs::create_directories(folder / "trip");
        std::ofstream(folder / "trip" / "a.jpg") << "x";
    }
    fs::create_directory_symlink(root / "elsewhere", root / "linked");
    {  // the next start's controller clears what the ended run left, and only that
        DragOutController controller(nullptr, root.path());
        DragOutController linked(nullptr, root / "linked");
        EXPECT_FALSE(fs::exists(ended));
        for (const fs::path& folder : kept) EXPECT_TRUE(fs::exists(folder)) << folder;
    }
    const fs::path made = MakeDragOutStagingFolder(root / "new");
    ASSERT_FALSE(made.empty());
    EXPECT_TRUE(fs::is_empty(made));
    EXPECT_EQ(made.filename().string().rfind(std::to_string(::getpid()) + "-", 0), 0u);
    EXPECT_EQ(fs::status(root / "new").permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(DirectSaveTest, TheFolderOfATargetsURI) {
    const std::pair<QByteArray, std::optional<fs::path>> cases[] = {
        {"file:///home/ann/Pictures/a.jpg", "/home/ann/Pictures"}, {"file://localhost/home/ann/a.jpg", "/home/ann"},
        {"file://studio/home/ann/a.jpg", "/home/ann"}, {"file://STUDIO/home/ann/a.jpg", "/home/ann"},
        {"file:///home/ann/My%20Pictures/a%20b.jpg", "/home/ann/My Pictures"},
        {"file:///home/ann/Pictures/a.jpg\r\n", "/home/ann/Pictures"}, {QByteArray("file:///home/ann/a.jpg\0", 23), "/home/ann"},
        {"file:///home/ann/../ann/Pictures/a.jpg", "/home/ann/Pictures"}, {"file:///a.jpg", "/"},
        {"file://elsewhere/home/ann/a.jpg", std::nullopt}, {"http://studio/home/ann/a.jpg", std::nullopt},
        {"file:a.jpg", std::nullopt}, {"file:///home/a%00b/c.jpg", std::nullopt},
        {"file:///home/ann/a.jpg?x=1", std::nullopt}, {"", std::nullopt}, {"not a uri at all %%", std::nullopt},
    };
    for (const auto& [uri, folder] : cases) EXPECT_EQ(xds::FolderOfURI(uri, "studio"), folder) << uri.data();
}

// The drag's icon sits under the pointer above the target: the target is the window below it.
TEST(DirectSaveTest, TheTargetIsTheWindowBelowTheDragIcon) {
    TestApplication();
    if (!CanDrag()) GTEST_SKIP() << "runs on X";
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(x));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const auto makeWindow = [&](const QByteArray& windowClass, int side) {
        const xcb_window_t window = xcb_generate_id(x);
        const std::uint32_t overrideRedirect = 1;
        xcb_create_window(x, XCB_COPY_FROM_PARENT, window, root, 1200, 700, std::uint16_t(side), std::uint16_t(side), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        const QByteArray wmClass = windowClass.toLower() + '\0' + windowClass + '\0';
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            std::uint32_t(wmClass.size()), wmClass.constData());
        xcb_map_window(x, window);
        return window;
    };
    const xcb_window_t target = makeWindow("Thunar", 200), icon = makeWindow("Vantrell", 64);
    free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
    EXPECT_EQ(xdnd::ClientWindowAt(x, root, 1210, 710, {}).windowClass, "Vantrell");
    const xdnd::WindowAt below = xdnd::ClientWindowAt(x, root, 1210, 710, {icon});
    EXPECT_EQ(below.topLevel, target);
    EXPECT_EQ(below.windowClass, "Thunar");
    EXPECT_TRUE(xdnd::TakesDirectSaveOnlyAlone(below.windowClass));
    EXPECT_FALSE(xdnd::TakesDirectSaveOnlyAlone("Rox"));
    EXPECT_EQ(xdnd::ClientWindowAt(x, root, 10, 10, {icon}).windowClass, QByteArray());
    xcb_disconnect(x);
}

TEST(DirectSaveTest, NotOfferedWithoutX) {
    TestApplication();
    if (CanDrag()) GTEST_SKIP() << "runs on X";
    EXPECT_FALSE(xds::Available());
    EXPECT_FALSE(xds::PublishFileName("a.jpg"));
    EXPECT_TRUE(xds::TargetURI().isEmpty());
    EXPECT_EQ(DragOutMimeData(nullptr, nullptr, "a.jpg", false).formats(), QStringList{"text/uri-list"});
}
