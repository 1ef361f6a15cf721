// The menu bar and the image list's context menu, driven through the real window offscreen.
#include "engine/ConverterTestSupport.h"  // GLib through libvips: before Qt

#include "AppTestSupport.h"
#include "PreferenceTestSupport.h"
#include "app/model/ImageListModel.h"
#include "app/model/StringTable.h"
#include "app/model/SupportAddress.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/ApplicationSupportFolder.h"
#include "app/ui/CloseRequestFilter.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/MacAppStoreRating.h"
#include "app/ui/MainMenus.h"
#include "app/ui/MainWindow.h"
#include "app/ui/PreferencesSheet.h"
#include "app/ui/ProgressSheet.h"
#include "platform/PropertyList.h"

#include <QAccessible>
#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>

namespace {

namespace fs = std::filesystem;

// The toolbar control whose enabled state an item follows; none: always on.
enum class Follows { Nothing, Add, Convert, Remove };

const std::map<QString, Follows> kItemRules = {
    {"addImageMenuItem", Follows::Add},          {"convertMenuItem", Follows::Convert},
    {"convertAllMenuItem", Follows::Convert},    {"rotateLeftMenuItem", Follows::Convert},
    {"rotateRightMenuItem", Follows::Convert},   {"flipHorizontalMenuItem", Follows::Convert},
    {"flipVerticalMenuItem", Follows::Convert},  {"contextConvertMenuItem", Follows::Convert},
    {"removeMenuItem", Follows::Remove},         {"removeAllMenuItem", Follows::Remove},
    {"showInFileManagerMenuItem", Follows::Remove}, {"contextRemoveMenuItem", Follows::Remove},
    {"contextShowInFileManagerMenuItem", Follows::Remove}, {"quitMenuItem", Follows::Nothing},
    {"preferencesMenuItem", Follows::Nothing},   {"userManualMenuItem", Follows::Nothing},
    {"contactSupportMenuItem", Follows::Nothing}, {"rateApplicationMenuItem", Follows::Nothing},
};

class MainMenusTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        plat::Initialize();
        ASSERT_TRUE(LoadApplicationStringTable());
        folders = std::make_unique<PreferenceFolders>();
        delegate = std::make_unique<AppDelegate>();
        delegate->revealInFileManager = [this](const std::vector<fs::path>& files) { revealed.push_back(files); };
        delegate->openURL = [this](const QUrl& url) { return opened.push_back(url), true; };
        delegate->runAddDialog = [this] { return ++addDialogs, std::optional<AppDelegate::AddDialogResult>(); };
        delegate->applicationDidFinishLaunching();
        delegate->batchSeams().chooseDestination = [this](auto done) { ++destinationDialogs, done(std::nullopt); };
        SetCustomAlertResponder([this](const CustomAlert& alert) { return alerts.push_back(alert.title()), kAlertDefaultReturn; });
    }
    void TearDown() override {
        delegate.reset();
        SetCustomAlertResponder(nullptr);
        SetCustomAlertPresentedHook(nullptr);
        folders.reset();
    }

    MainWindow& window() { return *delegate->window(); }
    MainMenus& menus() { return *delegate->mainMenus(); }
    std::vector<QMenu*> allMenus() {
        return {menus().fileMenu(), menus().editMenu(), menus().imageMenu(), menus().helpMenu(),
                menus().imageListContextMenu()};
    }
    ImageListModel& list() { return *delegate->imageListModel(); }
    QAction* item(const char* name) {
        QAction* action = menus().item(QLatin1String(name));
        EXPECT_TRUE(action) << name;
        return action;
    }
    ProgressSheet* sheet() { return window().findChild<ProgressSheet*>(QStringLiteral("conversionProgressSheet")); }
    void AddPhotos(int count) {
        std::vector<fs::path> files;
        fs::create_directories(dir / "photos");
        for (int i = 1; i <= count; ++i) {
            files.push_back(dir / "photos" / ("p" + std::to_string(i) + ".jpg"));
            ASSERT_TRUE(convtest::WriteImage(files.back(), convtest::MarkedImage(40, 30, 8), "public.jpeg"));
        }
        const int expected = list().count() + count;
        delegate->applicationOpenFiles(files);
        ASSERT_TRUE(WaitUntil([&] { return list().count() >= expected && !list().isAdding(); }));
    }
    void ShowWindow() {
        window().show();
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }
    void Select(const std::vector<int>& rows) {
        list().selectionModel()->clearSelection();
        for (int row : rows) list().selectionModel()->select(list().index(row, 0), QItemSelectionModel::Select);
    }
    // A real batch over the list into dir/out whose second file waits, once named, until it is cancelled.
    void StartBatchHeldAtTheSecondFile() {
        BatchSeams& seams = delegate->batchSeams();
        fs::create_directories(dir / "out");
        seams.storedDestination = [this] { return dir / "out"; };
        seams.prepareJob = [this, prepare = seams.prepareJob](BatchJob& job) {
            if (!prepare(job)) return false;
            job.naming.file = [this, name = job.naming.file, cancel = job.cancel](
                                  const fs::path& source, const fs::path& folder, std::int64_t number, std::int32_t type) {
                if (++named == 2) {
                    for (int i = 0; i < 60000 && !cancel->load(); ++i) QThread::msleep(1);
                }
                return name(source, folder, number, type);
            };
            return true;
        };
        delegate->ConvertAllButtonAction(nullptr);
        ASSERT_TRUE(WaitUntil([&] { return named.load() == 2; }));
        ASSERT_TRUE(sheet() && sheet()->isVisible());
    }

    convtest::ScratchDir dir;
    std::unique_ptr<PreferenceFolders> folders;  // the user's folders, for this test only
    std::unique_ptr<AppDelegate> delegate;
    std::vector<std::vector<fs::path>> revealed;
    std::vector<QUrl> opened;
    std::vector<QString> alerts;
    int addDialogs = 0, destinationDialogs = 0;
    std::atomic<int> named{0};
};

TEST_F(MainMenusTest, EveryItemFollowsItsToolbarControlInEveryState) {
    struct Case {
        const char* state;
        bool add, convert, remove;  // the toolbar's controls in that state
    };
    // Nothing joins or leaves the list while a batch runs.
    const Case cases[] = {{"empty", true, false, false}, {"with entries", true, true, true},
                          {"batch running", false, true, false}};
    ASSERT_EQ(menus().items().size(), qsizetype(kItemRules.size()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        if (&c == &cases[1]) AddPhotos(3);
        if (&c == &cases[2]) StartBatchHeldAtTheSecondFile();
        const std::map<Follows, bool> expected = {
            {Follows::Nothing, true}, {Follows::Add, c.add}, {Follows::Convert, c.convert}, {Follows::Remove, c.remove}};
        ASSERT_EQ(window().addImageToolbarButton->isEnabled(), c.add);
        ASSERT_EQ(window().convertToolbarButton->isEnabled(), c.convert);
        ASSERT_EQ(window().removeToolbarButton->isEnabled(), c.remove);
        // As the controller keeps them, and once more as each menu opens.
        for (const bool shown : {false, true}) {
            if (shown) for (QMenu* menu : allMenus()) emit menu->aboutToShow();
            for (QAction* action : menus().items()) {
                EXPECT_EQ(action->isEnabled(), expected.at(kItemRules.at(action->objectName())))
                    << action->objectName().toStdString() << (shown ? " shown" : "");
            }
        }
    }
    delegate->CancelAndWaitForBatch();
    EXPECT_TRUE(item("addImageMenuItem")->isEnabled());
    EXPECT_TRUE(item("removeMenuItem")->isEnabled());
}

TEST_F(MainMenusTest, ItemsCallTheirActions) {
    AddPhotos(3);
    Select({1});
    item("addImageMenuItem")->trigger();
    EXPECT_EQ(addDialogs, 1);
    for (const char* name : {"convertMenuItem", "convertAllMenuItem", "contextConvertMenuItem"}) item(name)->trigger();
    EXPECT_EQ(destinationDialogs, 3);
    item("showInFileManagerMenuItem")->trigger();
    item("contextShowInFileManagerMenuItem")->trigger();
    const fs::path second = list().ImageEntityForRow(1)->GetFileURL();
    EXPECT_EQ(revealed, (std::vector<std::vector<fs::path>>{{second}, {second}}));

    // Turns and flips of the selected entry, each as it adds up.
    const ListEntityRef entity = list().ImageEntityForRow(1);
    const std::tuple<const char*, int, int> turns[] = {{"rotateLeftMenuItem", 90, 0}, {"rotateRightMenuItem", 0, 0},
                                                       {"rotateRightMenuItem", -90, 0}, {"flipHorizontalMenuItem", -90, 1},
                                                       {"flipVerticalMenuItem", -90, 3}};
    for (const auto& [name, angle, flip] : turns) {
        item(name)->trigger();
        EXPECT_EQ(entity->angle(), angle) << name;
        EXPECT_EQ(entity->GetFlip(), flip) << name;
    }

    item("userManualMenuItem")->trigger();
    // The manual opens, or the user is told where it was looked for.
    EXPECT_EQ(opened.size() + alerts.size(), 1u);
    opened.clear();
    item("contactSupportMenuItem")->trigger();
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl(QStringLiteral("https://vantrell.org/support"))});
    MacAppStoreRating* rating = delegate->rateApplicationObject();
    int rated = 0;
    rating->openURL = [&](const QUrl&) { return ++rated, true; };
    rating->setPageBaseURL(QStringLiteral("https://apps.example.org"));
    rating->setAppStoreID(42);
    item("rateApplicationMenuItem")->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(rated, 1);

    item("preferencesMenuItem")->trigger();
    EXPECT_TRUE(delegate->preferencesDialog()->isVisible());
    delegate->PreferencesOkAction(nullptr);

    const std::pair<const char*, int> removals[] = {{"contextRemoveMenuItem", 2}, {"removeMenuItem", 1}, {"removeAllMenuItem", 0}};
    for (const auto& [name, left] : removals) {
        item(name)->trigger();
        EXPECT_EQ(list().count(), left) << name;
    }
}

TEST_F(MainMenusTest, ContextMenuSelectsTheClickedRowAloneWhenItIsNotSelected) {
    AddPhotos(3);
    ShowWindow();
    ImageListTableView* table = window().imageListViewOutlet;
    QMenu* context = menus().imageListContextMenu();
    const QRect last = table->visualRect(list().index(2, 0));
    ASSERT_LT(last.bottom() + 20, table->viewport()->height()) << "room below the rows";
    struct Case {
        std::vector<int> selectedBefore;
        int clickedRow;  // -1: below the rows; -2: the keyboard's menu key
        std::vector<int> selectedAfter;
    };
    const Case cases[] = {
        {{0}, 2, {2}},         // not selected: that row alone
        {{0, 2}, 2, {0, 2}},   // among the selected: unchanged
        {{}, 1, {1}},          // nothing selected
        {{0, 1}, -1, {0, 1}},  // outside the rows: unchanged
        {{0, 1}, -2, {0, 1}},  // the key acts on the selection as it is
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clickedRow);
        Select(c.selectedBefore);
        const QPoint at = c.clickedRow >= 0 ? table->visualRect(list().index(c.clickedRow, 0)).center()
                                            : QPoint(last.center().x(), last.bottom() + 10);
        QWidget* receiver = c.clickedRow == -2 ? table : table->viewport();
        QContextMenuEvent event(c.clickedRow == -2 ? QContextMenuEvent::Keyboard : QContextMenuEvent::Mouse, at,
                                receiver->mapToGlobal(at));
        QCoreApplication::sendEvent(receiver, &event);
        EXPECT_TRUE(context->isVisible());
        context->hide();
        EXPECT_EQ(list().selectedRows(), c.selectedAfter);
    }

    // A row or a column below 0, or a row past the list, leaves the selection alone.
    for (const auto& [row, column] : std::vector<std::pair<int, int>>{{-1, 0}, {1, -1}, {7, 0}}) {
        delegate->menuNeedsUpdate(row, column);
        EXPECT_EQ(list().selectedRows(), (std::vector<int>{0, 1})) << row << "," << column;
    }
}

TEST_F(MainMenusTest, ShortcutsReachTheirItems) {
    AddPhotos(2);
    Select({0});
    ShowWindow();
    // In an order that keeps the window free: Preferences opens a sheet.
    const std::tuple<const char*, int, Qt::KeyboardModifiers> cases[] = {
        {"addImageMenuItem", Qt::Key_O, Qt::ControlModifier},
        {"convertMenuItem", Qt::Key_Return, Qt::ControlModifier},
        {"convertAllMenuItem", Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier},
        {"rotateLeftMenuItem", Qt::Key_L, Qt::ControlModifier},
        {"rotateRightMenuItem", Qt::Key_R, Qt::ControlModifier},
        {"userManualMenuItem", Qt::Key_F1, Qt::NoModifier},
        {"removeMenuItem", Qt::Key_Delete, Qt::NoModifier},
        {"preferencesMenuItem", Qt::Key_Comma, Qt::ControlModifier},
    };
    for (const auto& [name, key, modifiers] : cases) {
        QSignalSpy triggered(item(name), &QAction::triggered);
        QTest::keyClick(window().imageListViewOutlet, Qt::Key(key), modifiers);
        EXPECT_EQ(triggered.count(), 1) << name;
    }
    delegate->PreferencesOkAction(nullptr);

    // Keys a text field uses stay the field's.
    QLineEdit* name = window().optionPanels()->fileNameTextField;
    name->setEnabled(true);
    name->setText(QStringLiteral("abc"));
    name->setFocus();
    name->setCursorPosition(0);
    QSignalSpy removed(item("removeMenuItem"), &QAction::triggered);
    QTest::keyClick(name, Qt::Key_Delete);
    EXPECT_EQ(removed.count(), 0);
    EXPECT_EQ(name->text(), "bc");
    EXPECT_EQ(list().count(), 1);

    // A disabled item's shortcut does nothing.
    item("removeAllMenuItem")->trigger();
    QSignalSpy rotated(item("rotateLeftMenuItem"), &QAction::triggered);
    QTest::keyClick(window().imageListViewOutlet, Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(rotated.count(), 0);
}

// The manual's table of the menu bar names every item of every menu in a
// row of its own, with the shortcut the item has (an empty cell for none).
TEST_F(MainMenusTest, TheManualListsEveryMenuItemWithItsShortcut) {
    QFile file(qEnvironmentVariable("VANTRELL_RESOURCES") + "/manual/UserManual.html");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString manual = QString::fromUtf8(file.readAll());
    int items = 0;
    for (QAction* menu : menus().menuBar()->actions()) {
        ASSERT_TRUE(menu->menu());
        for (const QAction* action : menu->menu()->actions()) {
            if (action->isSeparator()) continue;
            const QString title = QString(action->text()).remove(QLatin1Char('&'));
            const QString keys = action->shortcut().toString(QKeySequence::NativeText).toHtmlEscaped();
            const QString row = "<td>" + title.toHtmlEscaped() + "</td><td>" + keys + "</td>";
            EXPECT_TRUE(manual.contains(row)) << row.toStdString();
            ++items;
        }
    }
    EXPECT_GE(items, 15);
}

TEST_F(MainMenusTest, NoTwoItemsShareAShortcutNorTwoInAMenuAnAccessKey) {
    std::map<QString, QString> owners;
    for (QAction* action : window().findChildren<QAction*>()) {
        for (const QKeySequence& shortcut : action->shortcuts()) {
            const QString keys = shortcut.toString(QKeySequence::PortableText);
            const auto [it, fresh] = owners.emplace(keys, action->objectName());
            EXPECT_TRUE(fresh) << keys.toStdString() << ": " << it->second.toStdString() << " and "
                               << action->objectName().toStdString();
        }
    }
    QList<QList<QAction*>> groups{menus().menuBar()->actions()};
    for (QMenu* menu : allMenus()) groups.push_back(menu->actions());
    for (const QList<QAction*>& actions : groups) {
        std::map<QChar, QString> keys;
        for (const QAction* action : actions) {
            if (action->isSeparator()) continue;
            const QString text = action->text();
            const qsizetype at = text.indexOf(QLatin1Char('&'));
            ASSERT_TRUE(at >= 0 && at + 1 < text.size()) << text.toStdString();
            const auto [it, fresh] = keys.emplace(text.at(at + 1).toLower(), text);
            EXPECT_TRUE(fresh) << text.toStdString() << " and " << it->second.toStdString();
        }
    }
}

// Also: Quit closes the window as its close box does.
TEST_F(MainMenusTest, EveryItemIsNamedInTheAccessibilityTreeAndQuitCloses) {
    ShowWindow();
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(menus().menuBar());
    ASSERT_TRUE(bar);
    QStringList titles;
    for (int i = 0; i < bar->childCount(); ++i) titles << bar->child(i)->text(QAccessible::Name);
    EXPECT_EQ(titles, (QStringList{"File", "Edit", "Image", "Help"}));

    int named = 0;
    for (QMenu* menu : allMenus()) {
        QAccessibleInterface* node = QAccessible::queryAccessibleInterface(menu);
        ASSERT_TRUE(node);
        for (int i = 0; i < node->childCount(); ++i) {
            if (node->child(i)->role() == QAccessible::Separator) continue;
            const QString name = node->child(i)->text(QAccessible::Name);
            EXPECT_FALSE(name.isEmpty()) << menu->objectName().toStdString() << " " << i;
            EXPECT_FALSE(name.contains(QLatin1Char('&'))) << name.toStdString();
            ++named;
        }
    }
    EXPECT_EQ(named, int(kItemRules.size()));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(menus().imageListContextMenu())->text(QAccessible::Name),
              LocalizedString("ImageListContextMenuName"));

    QSignalSpy quit(item("quitMenuItem"), &QAction::triggered);
    QTest::keyClick(window().imageListViewOutlet, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(fs::exists(folders->config / "vantrell" / "org.vantrell.Vantrell-Pref.plist"));
}

TEST(SupportAddress, OnlyAWebAddressIsOpened) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://vantrell.org/support", "https://vantrell.org/support"},
        {"  http://example.org/help?q=1 ", "http://example.org/help?q=1"},
        {"", ""}, {"not an address", ""}, {"https://", ""}, {"file:///etc/passwd", ""},
        {"javascript:alert(1)", ""}, {"mailto:help@example.org", ""}, {"https://exa mple.org/", ""},
    };
    for (const auto& [address, expected] : cases) {
        const QUrl url = SupportPageURL(QString::fromUtf8(address));
        EXPECT_EQ(url.isValid() ? url.toString() : QString(), QString::fromUtf8(expected)) << address;
    }
}

TEST(SupportAddress, ReadFromTheAddressesFile) {
    convtest::ScratchDir dir;
    const fs::path file = dir / "Addresses.plist";
    // The address as a string, as a number, and a file that is no property list.
    for (const auto& [value, expected] : std::vector<std::pair<plat::PlistValue, const char*>>{
             {plat::PlistValue(std::string("https://a.example/s")), "https://a.example/s"},
             {plat::PlistValue(7LL), ""}}) {
        ASSERT_TRUE(plat::PropertyList::writeFile(file, plat::PlistValue(plat::PlistValue::Dictionary{{"SupportPageURL", value}})));
        EXPECT_EQ(SupportPageAddress(file), expected);
    }
    std::ofstream(file) << "not a property list";
    EXPECT_EQ(SupportPageAddress(file), "");
    EXPECT_EQ(SupportPageAddress(dir / "missing.plist"), "");
    EXPECT_TRUE(SupportPageURL(SupportPageAddress()).isValid());  // the shipped resources carry a web address
}

constexpr std::uint32_t kProtocols = 301, kDeleteWindow = 302;

// A client message as the window manager sends it for the close box (0x80: sent by another client).
xcb_client_message_event_t CloseBoxMessage(std::uint32_t window) {
    xcb_client_message_event_t message = {XCB_CLIENT_MESSAGE | 0x80, 32, 0, window, kProtocols, {}};
    message.data.data32[0] = kDeleteWindow;
    return message;
}

TEST(CloseRequestFilter, TellsTheCloseBoxRequestFromOtherMessages) {
    const std::uint32_t window = 0x400007;
    using Change = void (*)(xcb_client_message_event_t&);
    const std::tuple<const char*, std::uint32_t, Change, bool> cases[] = {
        {"the close box", window, [](xcb_client_message_event_t&) {}, true},
        {"another window", window + 1, [](xcb_client_message_event_t&) {}, false},
        {"no window", 0, [](xcb_client_message_event_t&) {}, false},
        {"another protocol (a ping)", window, [](xcb_client_message_event_t& m) { m.data.data32[0] = kDeleteWindow + 1; }, false},
        {"another message type", window, [](xcb_client_message_event_t& m) { m.type = kProtocols + 5; }, false},
        {"bytes", window, [](xcb_client_message_event_t& m) { m.format = 8; }, false},
        {"no client message", window, [](xcb_client_message_event_t& m) { m.response_type = XCB_PROPERTY_NOTIFY; }, false},
    };
    for (const auto& [what, filtered, change, close] : cases) {
        xcb_client_message_event_t message = CloseBoxMessage(window);
        change(message);
        EXPECT_EQ(CloseRequestFilter::IsCloseRequest(&message, filtered, kProtocols, kDeleteWindow), close) << what;
    }
}

// Closes the window by the route the parameter names while `front` (the
// progress sheet or the report) is up.
class CloseDuringBatchTest : public MainMenusTest, public ::testing::WithParamInterface<std::string> {
protected:
    void CloseBy(CloseRequestFilter& filter, QWidget* front) {
        if (GetParam() == "CloseBox") {
            xcb_client_message_event_t message = CloseBoxMessage(std::uint32_t(window().internalWinId()));
            EXPECT_TRUE(filter.nativeEventFilter("xcb_generic_event_t", &message, nullptr));
        } else if (GetParam() == "QuitItem") {
            item("quitMenuItem")->trigger();
        } else if (GetParam().starts_with("QuitShortcut")) {
            front->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(front));
            QTest::keyClick(front, Qt::Key_Q, Qt::ControlModifier);
        } else {
            window().close();  // a termination signal's way
        }
    }
};

TEST_P(CloseDuringBatchTest, StopsAfterTheCurrentFileWritesThePreferencesAndRemovesThePreviewFolder) {
    const fs::path preview = GetApplicationSupportFolder("VantrellPreview");
    std::ofstream(preview / "old.png") << "x";
    const fs::path general = folders->config / "vantrell" / "org.vantrell.Vantrell-Pref.plist";
    ASSERT_FALSE(fs::exists(general));
    AddPhotos(4);
    ShowWindow();
    CloseRequestFilter filter(&window(), [this] { return delegate->isModalWindowBlockingClose(); }, kProtocols,
                              kDeleteWindow);
    xcb_client_message_event_t message = CloseBoxMessage(std::uint32_t(window().internalWinId()));
    // Without the progress sheet the close box is left to Qt.
    EXPECT_FALSE(filter.nativeEventFilter("xcb_generic_event_t", &message, nullptr));
    StartBatchHeldAtTheSecondFile();
    bool closed = false;
    QObject::connect(delegate.get(), &AppDelegate::mainWindowWillClose, [&] { closed = true; });

    EXPECT_FALSE(filter.nativeEventFilter("windows_generic_MSG", &message, nullptr));
    ASSERT_TRUE(delegate->isModalWindowBlockingClose());
    CloseBy(filter, sheet());
    ASSERT_TRUE(WaitUntil([&] { return closed; }));
    EXPECT_FALSE(delegate->isBatchRunning());
    EXPECT_FALSE(window().isVisible());
    EXPECT_FALSE(sheet()->isVisible());
    // The current file was finished whole; none after it was started.
    for (const char* name : {"p1.jpg", "p2.jpg"}) EXPECT_EQ(convtest::Decode(dir / "out" / name).width, 40) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 2);
    EXPECT_TRUE(fs::exists(general));
    EXPECT_FALSE(fs::exists(preview));
    EXPECT_TRUE(alerts.empty());  // no report for a batch stopped by closing
}

INSTANTIATE_TEST_SUITE_P(Routes, CloseDuringBatchTest,
                         ::testing::Values("CloseBox", "QuitItem", "QuitShortcutOnTheSheet", "WindowClose"),
                         [](const auto& info) { return info.param; });

// Closing while the end-of-batch report waits for the user, by each route:
// the close runs inside the report's own event loop, yet ends at once; the
// report takes its default answer and the batch's thread is not left waiting.
class CloseWithReportTest : public CloseDuringBatchTest {};

TEST_P(CloseWithReportTest, TheReportTakesItsDefaultAndTheCloseEnds) {
    const fs::path preview = GetApplicationSupportFolder("VantrellPreview");
    const fs::path general = folders->config / "vantrell" / "org.vantrell.Vantrell-Pref.plist";
    AddPhotos(2);
    ShowWindow();
    fs::create_directories(dir / "out");
    delegate->batchSeams().storedDestination = [this] { return dir / "out"; };
    int folderOpened = 0;
    delegate->batchSeams().openFolder = [&](const fs::path&) { ++folderOpened; };
    CloseRequestFilter filter(&window(), [this] { return delegate->isModalWindowBlockingClose(); }, kProtocols,
                              kDeleteWindow);
    bool closed = false, blocked = false;
    QPointer<QDialog> report;
    QObject::connect(delegate.get(), &AppDelegate::mainWindowDidClose, [&] { closed = true; });
    SetCustomAlertResponder(nullptr);  // the real report, in its own event loop
    SetCustomAlertPresentedHook([&](QDialog& shown) {
        report = &shown;
        blocked = delegate->isModalWindowBlockingClose();
        CloseBy(filter, &shown);
    });
    delegate->ConvertAllButtonAction(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return closed; }));
    EXPECT_TRUE(blocked);
    ASSERT_TRUE(WaitUntil([&] { return !report; }));  // answered, gone
    EXPECT_EQ(folderOpened, 0);  // the default is OK, not Open Destination
    EXPECT_FALSE(delegate->isBatchRunning());
    EXPECT_FALSE(window().isVisible());
    for (const char* name : {"p1.jpg", "p2.jpg"}) EXPECT_TRUE(fs::exists(dir / "out" / name)) << name;
    EXPECT_TRUE(fs::exists(general));
    EXPECT_FALSE(fs::exists(preview));
}

INSTANTIATE_TEST_SUITE_P(Routes, CloseWithReportTest,
                         ::testing::Values("CloseBox", "QuitShortcutOnTheReport", "WindowClose"),
                         [](const auto& info) { return info.param; });

// Each menu, light and dark, saved when asked for.
TEST_F(MainMenusTest, Screenshots) {
    const QString shots = qEnvironmentVariable("VANTRELL_SCREENSHOT_DIR");
    if (shots.isEmpty() || !QDir().mkpath(shots)) GTEST_SKIP() << "VANTRELL_SCREENSHOT_DIR names no folder";
    AddPhotos(3);
    ShowWindow();
    const QPalette light = QApplication::palette();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? DarkPalette() : light);
        for (QMenu* menu : allMenus()) {
            menu->popup(window().mapToGlobal(QPoint(40, 40)));
            ASSERT_TRUE(WaitUntil([&] { return menu->isVisible(); }));
            menu->grab().save(shots + "/" + menu->objectName() + (dark ? "-dark.png" : "-light.png"));
            menu->hide();
        }
    }
    QApplication::setPalette(light);
}

}  // namespace
