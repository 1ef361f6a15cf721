// Start-up, shutdown and the main window's housekeeping, offscreen, with the
// user's folders in a scratch folder.
#include "engine/ConverterTestSupport.h"  // GLib through libvips: before Qt

#include "AppTestSupport.h"
#include "PreferenceTestSupport.h"
#include "app/model/FirstWindowSize.h"
#include "app/model/ImageListModel.h"
#include "app/model/StringTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/ApplicationSupportFolder.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DropTargets.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/JobOptionPanels.h"
#include "app/ui/KSMValidatedViewToolbar.h"
#include "app/ui/MacAppStoreRating.h"
#include "app/ui/MainWindow.h"
#include "app/ui/OnOffSwitchControl.h"
#include "app/ui/WatermarkControls.h"
#include "app/ui/WatermarkView.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QThread>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// The user's configuration and data folders point into a scratch folder for
// the life of one test.
class StartUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        plat::Initialize();
        // The real texts: other tests may have put a few of their own.
        ASSERT_TRUE(LoadApplicationStringTable());
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        delegate = std::make_unique<AppDelegate>();
        delegate->revealInFileManager = [this](const std::vector<fs::path>& files) { revealed.push_back(files); };
        delegate->applicationDidFinishLaunching();
    }
    void TearDown() override {
        delegate.reset();
        for (const auto& [name, value] : saved) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }

    MainWindow& window() { return *delegate->window(); }
    ImageListModel& list() { return *delegate->imageListModel(); }
    fs::path Photo(const std::string& name, int w = 40, int h = 30) {
        const fs::path path = dir / "photos" / name;
        fs::create_directories(path.parent_path());
        EXPECT_TRUE(convtest::WriteImage(path, convtest::MarkedImage(w, h, 8), "public.jpeg"));
        return path;
    }
    std::vector<fs::path> ListedFiles() {
        std::vector<fs::path> files;
        for (int row = 0; row < list().count(); ++row) files.push_back(list().ImageEntityForRow(row)->GetFileURL());
        return files;
    }
    void AddAndWait(std::vector<fs::path> files, int adds = -1) {
        const int expected = list().count() + (adds < 0 ? int(files.size()) : adds);
        delegate->applicationOpenFiles(std::move(files));
        ASSERT_TRUE(WaitUntil([&] { return list().count() >= expected && !list().isAdding(); }));
    }

    convtest::ScratchDir dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    std::unique_ptr<AppDelegate> delegate;
    std::vector<std::vector<fs::path>> revealed;
};

TEST_F(StartUpTest, FirstLaunchShowsTheStartState) {
    const ConfigurationList& groups = delegate->configurations();
    ASSERT_EQ(groups.size(), 6u);
    for (std::size_t i = 0; i < groups.size(); ++i) {
        EXPECT_EQ(groups[i]->switchState(), i == 0) << i;
        EXPECT_EQ(groups[i]->switchEnableState(), i != 0) << i;
    }
    for (QToolButton* button : {window().convertToolbarButton, window().convertAllToolbarButton,
                                window().removeToolbarButton, window().removeAllToolbarButton}) {
        EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
    }
    EXPECT_TRUE(window().addImageToolbarButton->isEnabled());
    EXPECT_FALSE(window().previewButtonOutlet->isEnabled());
    EXPECT_EQ(window().totalFileCountLabelOutlet->text(), "0 image");
    EXPECT_TRUE(window().filenameLabelOutlet->text().isEmpty());
    EXPECT_TRUE(window().fileDescriptionLabelOutlet->text().isEmpty());
    EXPECT_EQ(window().optionPanels()->exampleStringStaticText->text(), "-");
    EXPECT_EQ(window().mainImagePreview->placeholder(), KSMImageView::Placeholder::DropImage);
    EXPECT_FALSE(window().mainImagePreview->hasImage());
    EXPECT_FALSE(window().watermarkContextView->isVisible());
    // The job and watermark preset menus hold only the window's own items;
    // the first job item is chosen.
    EXPECT_EQ(window().PhotoPresetPopupButton->count(), 1);
    EXPECT_EQ(window().PhotoPresetPopupButton->currentIndex(), 0);
    EXPECT_EQ(window().watermarkControls()->waterMarkPresetPopupOutlet->count(), 1);
    // No lookup is configured, so none runs.
    EXPECT_FALSE(delegate->rateApplicationObject()->isLookupRunning());
    EXPECT_EQ(delegate->rateApplicationObject()->appStoreID(), 0u);
}

TEST_F(StartUpTest, HostilePreferenceFilesStartWithDefaultsAndAreKeptAsideWhenReplaced) {
    delegate.reset();
    const fs::path folder = dir / "config" / "vantrell";
    fs::create_directories(folder);
    const auto hostile = HostilePreferenceFiles();
    const char* names[] = {"org.vantrell.Vantrell-Pref.plist", "org.vantrell.Vantrell-ResizePref.plist",
                           "org.vantrell.Vantrell-WaterMarkPref.plist", "org.vantrell.Vantrell-PhotoPref.plist"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        std::ofstream(folder / names[i], std::ios::binary) << hostile[i % hostile.size()].second;
    }
    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(window().PhotoPresetPopupButton->count(), 1);
    EXPECT_EQ(window().watermarkControls()->waterMarkPresetPopupOutlet->count(), 1);
    EXPECT_EQ(delegate->configurations().size(), 6u);

    window().show();
    EXPECT_TRUE(window().close());
    // The general file is written anew; what was there is kept beside it.
    std::optional<PrefDictionary> general;
    EXPECT_TRUE(LoadPrefDictionary(&general, kGeneralPrefFileFormat));
    std::ifstream kept(folder / (std::string(names[0]) + ".unreadable"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), hostile[0].second);
}

TEST_F(StartUpTest, HandedOverFilesAreAppendedInOrderWithoutEnteringFolders) {
    const fs::path y = Photo("y.jpg");
    const fs::path x = Photo("x.jpg");
    AddAndWait({y, x});
    const fs::path folder = dir / "photos" / "sub";
    fs::create_directories(folder / "deeper");
    ASSERT_TRUE(convtest::WriteImage(folder / "inside.jpg", convtest::MarkedImage(20, 20, 8), "public.jpeg"));
    ASSERT_TRUE(convtest::WriteImage(folder / "deeper" / "below.jpg", convtest::MarkedImage(20, 20, 8), "public.jpeg"));
    const fs::path d = Photo("d.jpg");
    const fs::path c = Photo("c.jpg");
    // Handed over while the list holds two: at rows 2 onwards, in the list's
    // order (by name); a folder gives its own files, not its subfolders' ones.
    AddAndWait({d, folder, c}, 3);
    EXPECT_EQ(ListedFiles(), (std::vector<fs::path>{x, y, c, d, folder / "inside.jpg"}));
    EXPECT_EQ(window().totalFileCountLabelOutlet->text(), "5 images");
    EXPECT_TRUE(window().convertAllToolbarButton->isEnabled());
}

TEST_F(StartUpTest, DoubleClickRevealsTheSelectedFilesInRowOrder) {
    const fs::path a = Photo("a.jpg");
    const fs::path b = Photo("b.jpg");
    const fs::path c = Photo("c.jpg");
    AddAndWait({a, b, c});
    list().selectionModel()->clearSelection();
    for (int row : {2, 0}) {
        list().selectionModel()->select(list().index(row, 0), QItemSelectionModel::Select);
    }
    delegate->ImageListViewDoubleClick(window().imageListViewOutlet);
    delegate->ImageListViewFolerDoubleClick(b);
    EXPECT_EQ(revealed, (std::vector<std::vector<fs::path>>{{a, c}, {b}}));
    // Nothing selected: nothing to show.
    list().selectionModel()->clearSelection();
    delegate->ImageListViewDoubleClick(window().imageListViewOutlet);
    EXPECT_EQ(revealed.size(), 2u);
}

TEST_F(StartUpTest, ResizingUpdatesTheDescriptionOnlyWithEntries) {
    // An empty list: nothing to describe.
    delegate->windowDidResize();
    delegate->windowDidEnterFullScreen();
    delegate->windowDidExitFullScreen();
    EXPECT_TRUE(window().fileDescriptionLabelOutlet->text().isEmpty());

    AddAndWait({Photo("a.jpg", 400, 300)});
    ASSERT_TRUE(WaitUntil([&] { return window().mainImagePreview->hasImage(); }));
    window().resize(1000, 700);
    window().show();
    ASSERT_TRUE(WaitUntil([&] { return !window().fileDescriptionLabelOutlet->text().isEmpty(); }));
    window().fileDescriptionLabelOutlet->clear();
    delegate->windowDidResize();
    EXPECT_FALSE(window().fileDescriptionLabelOutlet->text().isEmpty());
    window().fileDescriptionLabelOutlet->clear();
    delegate->windowDidEnterFullScreen();
    EXPECT_FALSE(window().fileDescriptionLabelOutlet->text().isEmpty());
    window().hide();
}

TEST_F(StartUpTest, ClosingWritesTheGeneralFileAndRemovesThePreviewFolderButNotWhatALinkNames) {
    const fs::path preview = GetApplicationSupportFolder("VantrellPreview");
    EXPECT_EQ(preview, dir / "data" / "VantrellPreview");
    std::ofstream(preview / "old.png") << "x";
    const fs::path general = dir / "config" / "vantrell" / "org.vantrell.Vantrell-Pref.plist";
    ASSERT_FALSE(fs::exists(general));
    bool saved = false;
    QObject::connect(delegate.get(), &AppDelegate::mainWindowWillClose, [&] {
        // The general options are written while the preview folder is still there.
        saved = fs::exists(preview);
    });
    // Closed as the user closes it.
    window().show();
    EXPECT_TRUE(window().close());
    EXPECT_TRUE(saved);
    EXPECT_TRUE(fs::exists(general));
    EXPECT_FALSE(fs::exists(preview));

    // A link in its place is unlinked; the folder it names keeps its files.
    const fs::path elsewhere = dir / "precious";
    fs::create_directories(elsewhere);
    std::ofstream(elsewhere / "keep.jpg") << "keep";
    fs::create_directory_symlink(elsewhere, preview);
    delegate->windowWillClose();
    EXPECT_FALSE(fs::exists(fs::symlink_status(preview)));
    EXPECT_TRUE(fs::exists(elsewhere / "keep.jpg"));
}

TEST_F(StartUpTest, ClosingDuringAnAddCancelsAndWaitsForIt) {
    const fs::path first = Photo("m0.jpg");
    std::vector<fs::path> many{first};
    for (int i = 1; i < 300; ++i) {
        many.push_back(first.parent_path() / ("m" + std::to_string(i) + ".jpg"));
        fs::copy_file(first, many.back());
    }
    delegate->applicationOpenFiles(many);
    ASSERT_TRUE(WaitUntil([&] { return list().count() >= 1; }));
    delegate->windowWillClose();
    EXPECT_FALSE(list().isAdding());
    const int count = list().count();
    // Nothing arrives once the window has closed.
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(list().count(), count);
    EXPECT_LT(count, 300);
}

TEST_F(StartUpTest, TheToolbarCannotBeHiddenFromTheWindowMenu) {
    window().show();
    KSMValidatedViewToolbar* toolbar = window().toolbar;
    std::unique_ptr<QMenu> menu(window().createPopupMenu());
    if (menu) {
        EXPECT_FALSE(menu->actions().contains(toolbar->toggleViewAction()));
    }
    toolbar->toggleViewAction()->trigger();
    EXPECT_TRUE(toolbar->isVisible());
    EXPECT_FALSE(toolbar->isMovable());
    window().hide();
}

TEST_F(StartUpTest, TheRatingItemIsLiveAndDoesNothingWithoutAnIdentifier) {
    MacAppStoreRating* rating = delegate->rateApplicationObject();
    int opened = 0;
    rating->openURL = [&](const QUrl&) { return ++opened, true; };
    rating->setPageBaseURL(QStringLiteral("https://apps.example.org"));
    EXPECT_TRUE(window().ratingToolbarButton->isEnabled());
    window().ratingToolbarButton->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(opened, 0);
    rating->setAppStoreID(42);
    window().ratingToolbarButton->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(opened, 1);
}

TEST(FirstWindowSize, FitsTheAvailableAreaAtAnyScale) {
    const QSize preferred(1200, 760);
    const QSize minimum(900, 450);
    struct Case {
        QRect available;
        QRect expected;
    } cases[] = {
        // Plenty of room: the preferred size, centred.
        {{0, 0, 2560, 1440}, {680, 340, 1200, 760}},
        // 1440x900 at scale 1 with a panel at the top.
        {{0, 30, 1440, 870}, {120, 85, 1200, 760}},
        // The same screen at scale 1.5: 960x600 device-independent pixels.
        {{0, 0, 960, 600}, {8, 24, 944, 552}},
        // Smaller than the minimum: the minimum, at the area's corner.
        {{100, 0, 800, 400}, {100, 0, 900, 450}},
        // No screen known.
        {{}, {0, 0, 1200, 760}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FirstWindowFrame(preferred, minimum, c.available), c.expected) << c.available.width();
    }
}

TEST(FirstWindowSize, ANarrowWindowTakesItsShortageFromTheImagePanel) {
    // Wide enough: the panels keep their own proportions.
    EXPECT_FALSE(NarrowPanelWidths(1190, 1190, 200, 360));
    // 1440x900 at scale 1.5: the list and settings keep their room.
    const auto narrow = NarrowPanelWidths(934, 1190, 200, 360);
    ASSERT_TRUE(narrow);
    EXPECT_EQ(narrow->list, 270);
    EXPECT_EQ(narrow->settings, 360);
    EXPECT_EQ(narrow->list + narrow->image + narrow->settings, 934);
    // No room for the image panel's minimum: the splitter decides.
    EXPECT_FALSE(NarrowPanelWidths(700, 1190, 200, 360));
}

TEST(ApplicationSupportFolder, FallsBackToThePreferencesFolderAndEndsWithoutEither) {
    TestApplication();
    convtest::ScratchDir dir;
    std::vector<QString> told;
    SetCustomAlertResponder([&](const CustomAlert& alert) {
        told.push_back(alert.title() + "|" + alert.message() + "|" + alert.defaultButton());
        return kAlertDefaultReturn;
    });
    EXPECT_EQ(GetApplicationSupportFolderIn(dir / "data", dir / "prefs", ""), dir / "data" / "Vantrell");
    EXPECT_TRUE(fs::is_directory(dir / "data" / "Vantrell"));
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(GetApplicationSupportFolderIn({}, dir / "prefs", "VantrellPreview"), dir / "prefs" / "VantrellPreview");
    EXPECT_EQ(told, (std::vector<QString>{"Alert|Can't find application support folder|Quit"}));
    SetCustomAlertResponder(nullptr);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetCustomAlertResponder([](const CustomAlert&) { return kAlertDefaultReturn; });
            GetApplicationSupportFolderIn({}, {}, "Vantrell");
        },
        ::testing::ExitedWithCode(EXIT_FAILURE), "");
}

}  // namespace
