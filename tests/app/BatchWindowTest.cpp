// The batch and the preview through the window (offscreen), with the list,
// the options and the dialogs bound to test seams and real files converted.
#include "engine/ConverterTestSupport.h"  // GLib through libvips: before Qt

#include "AppTestSupport.h"
#include "app/model/DropRules.h"
#include "app/model/JobOptionsModel.h"
#include "app/model/StringTable.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/AppDelegateRuns.h"
#include "app/ui/CustomAlert.h"
#include "app/ui/DropTargets.h"
#include "app/ui/MainWindow.h"
#include "app/ui/PreferencesSheet.h"
#include "app/ui/PreviewWindow.h"
#include "app/ui/ProgressSheet.h"
#include "app/ui/SegmentedControl.h"
#include "common/KSMUtil.h"
#include "engine/ImageTypes.h"

#include <QCheckBox>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

namespace {

namespace fs = std::filesystem;

class BatchWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        plat::Initialize();
        StringTable::set({{"Converting", "Converting %ld of %ld %@"},
                          {"ConversionStatusMessage", "%ld file%@ converted."},
                          {"ConversionFailedMessage", "%ld file%@ could not be converted: %@"},
                          {"CancelConversionInProgress", "Stopping"}});
        fs::create_directories(dir / "in");
        fs::create_directories(dir / "out");
        fs::create_directories(dir / "preview");
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        BatchSeams& seams = delegate->batchSeams();
        seams.rowCount = [this] { return std::int64_t(rows.size()); };
        seams.selectedRows = [this] { return selected; };
        seams.rowAt = [this](std::int64_t row) -> std::optional<BatchRow> {
            if (row < 0 || row >= std::int64_t(rows.size())) return std::nullopt;
            return rows[std::size_t(row)];
        };
        seams.prepareJob = [this](BatchJob& job) {
            ++prepared;
            job.record.options.outputType = kImageTypePNG;
            job.record.resize = {0, 1, 0, 0, 0, 100.0, 100.0, 1, 2};
            job.naming.folder = [](const fs::path&, const fs::path& destination, const fs::path&) {
                return destination;
            };
            const bool exact = job.preview;
            job.naming.file = [this, exact](const fs::path& s, const fs::path& folder, std::int64_t, std::int32_t t) {
                onName();
                return GetUniqueFileURL(folder, s.stem().string(), GetImageExtensionForType(t), exact);
            };
            return true;
        };
        seams.chooseDestination = [this](auto done) {
            ++dialogs;
            done(dialogAnswer);
        };
        seams.openFolder = [this](const fs::path& folder) { opened.push_back(folder); };
        seams.previewFolder = [this] { return dir / "preview"; };
        SetCustomAlertResponder([this](const CustomAlert& alert) {
            alerts.push_back(alert.title() + "|" + alert.message());
            return alertAnswer;
        });
    }
    void TearDown() override {
        delegate.reset();
        SetCustomAlertResponder(nullptr);
    }

    void AddPhoto(const std::string& name, int w = 64, int h = 48) {
        const fs::path path = dir / "in" / name;
        ASSERT_TRUE(convtest::WriteImage(path, convtest::MarkedImage(w, h, 8), "public.jpeg"));
        rows.push_back({path, {}, 0.0, 0});
        delegate->SetConversionButtonEnable(true);
    }
    MainWindow& window() { return *delegate->window(); }
    // The preview opened on row `row`, once its caption begins with `shown`; null when it does not come.
    PreviewWindow* OpenPreview(std::int64_t row, const QString& shown) {
        selected = {row};
        PreviewWindow* preview = delegate->previewWindow();
        if (!preview) return nullptr;
        window().previewButtonOutlet->click();
        return WaitUntil([&] { return preview->PreviewStringStaticText->text().startsWith(shown); }) ? preview : nullptr;
    }

    convtest::ScratchDir dir;
    std::unique_ptr<AppDelegate> delegate;
    std::vector<BatchRow> rows;
    std::vector<std::int64_t> selected;
    std::function<void()> onName = [] {};
    int prepared = 0;
    int dialogs = 0;
    std::optional<fs::path> dialogAnswer;
    std::vector<fs::path> opened;
    std::vector<QString> alerts;
    int alertAnswer = kAlertDefaultReturn;
};

TEST_F(BatchWindowTest, NothingToConvertDoesNothing) {
    delegate->ConvertAllButtonAction(nullptr);  // empty list
    AddPhoto("a.jpg");
    delegate->ConvertButtonAction(nullptr);  // no selection
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(prepared, 0);
    EXPECT_FALSE(delegate->isBatchRunning());

    // A cancelled folder dialog drops the rows.
    delegate->ConvertAllButtonAction(nullptr);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(prepared, 0);
}

TEST_F(BatchWindowTest, ConvertAllReportsWrittenAndFailedFiles) {
    AddPhoto("a.jpg");
    AddPhoto("b.jpg");
    AddPhoto("c.jpg");
    std::ofstream(rows[1].fileURL) << "broken";
    dialogAnswer = dir / "out";
    alertAnswer = kAlertAlternateReturn;  // Open Destination
    delegate->ConvertAllButtonAction(nullptr);
    EXPECT_TRUE(delegate->isBatchRunning());
    EXPECT_FALSE(delegate->isDropAllowed());
    ASSERT_TRUE(WaitUntil([&] { return !delegate->isBatchRunning(); }));
    EXPECT_TRUE(delegate->isDropAllowed());
    EXPECT_TRUE(fs::exists(dir / "out" / "a.png"));
    EXPECT_TRUE(fs::exists(dir / "out" / "c.png"));
    EXPECT_FALSE(fs::exists(dir / "out" / "b.png"));
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], "2 files converted.|1 file could not be converted: b.jpg");
    EXPECT_EQ(opened, std::vector<fs::path>{dir / "out"});
    auto* sheet = window().findChild<ProgressSheet*>("conversionProgressSheet");
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->conversionProgressIndicator->maximum(), 5);
    EXPECT_EQ(sheet->conversionProgressIndicator->value(), 5);

    // A stored destination asks no folder; the ticked box shows no report.
    delegate->batchSeams().storedDestination = [&] { return dir / "out"; };
    window().doNotShowAlertCheckBox->setChecked(true);
    selected = {2};
    delegate->ConvertButtonAction(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !delegate->isBatchRunning(); }));
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(fs::exists(dir / "out" / "c 1.png"));
}

TEST_F(BatchWindowTest, CancelDuringTheSecondFile) {
    for (int i = 1; i <= 5; ++i) AddPhoto("p" + std::to_string(i) + ".jpg");
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    std::atomic<int> named{0};
    onName = [&] {
        if (++named != 2) return;
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return open; });
    };
    delegate->batchSeams().storedDestination = [&] { return dir / "out"; };
    delegate->ConvertAllButtonAction(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return named.load() == 2; }));
    auto* sheet = window().findChild<ProgressSheet*>("conversionProgressSheet");
    ASSERT_TRUE(sheet && sheet->isVisible());
    EXPECT_EQ(sheet->conversionProgressStaticText->toolTip(), "Converting 2 of 5 p2.jpg");
    sheet->cancelButton->click();
    EXPECT_FALSE(sheet->cancelButton->isEnabled());
    EXPECT_EQ(sheet->conversionProgressStaticText->text(), "Stopping");
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    released.notify_all();
    ASSERT_TRUE(WaitUntil([&] { return !delegate->isBatchRunning(); }));
    EXPECT_TRUE(fs::exists(dir / "out" / "p2.png"));
    EXPECT_FALSE(fs::exists(dir / "out" / "p3.png"));
    EXPECT_TRUE(alerts.empty());
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(sheet->cancelButton->isEnabled());
}

TEST_F(BatchWindowTest, ClosingTheWindowWaitsForTheCurrentFile) {
    for (int i = 1; i <= 3; ++i) AddPhoto("q" + std::to_string(i) + ".jpg");
    std::atomic<int> named{0};
    onName = [&] { ++named; };
    delegate->batchSeams().storedDestination = [&] { return dir / "out"; };
    delegate->ConvertAllButtonAction(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return named.load() >= 1; }));
    delegate->CancelAndWaitForBatch();
    EXPECT_FALSE(delegate->isBatchRunning());
    // Every file that was started is whole.
    for (int i = 1; i <= named.load(); ++i) {
        EXPECT_EQ(convtest::Decode(dir / "out" / ("q" + std::to_string(i) + ".png")).width, 64) << i;
    }
    EXPECT_TRUE(alerts.empty());
}

TEST_F(BatchWindowTest, PreviewShowsCaptionAndFollowsNextAndPrevious) {
    AddPhoto("first.jpg", 300, 200);
    AddPhoto("second.jpg", 120, 160);
    PreviewWindow* preview = OpenPreview(0, "1 of 2");
    ASSERT_TRUE(preview);
    QLabel* caption = preview->PreviewStringStaticText;
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(caption->text(), "1 of 2 (first.png @ 72 dpi, 300 x 200 pixels)");
    EXPECT_FALSE(preview->previewImageView->image().isNull());
    EXPECT_FALSE(preview->previewNextPreviousButton->isEnabled(0));
    EXPECT_TRUE(preview->previewNextPreviousButton->isEnabled(1));
    // The preview never asks a folder nor reports, and writes in its own folder.
    EXPECT_EQ(dialogs, 0);
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(fs::exists(dir / "preview" / "first.png"));

    preview->previewNextPreviousButton->segment(1)->click();
    ASSERT_TRUE(WaitUntil([&] { return caption->text().startsWith("2 of 2"); }));
    EXPECT_EQ(caption->text(), "2 of 2 (second.png @ 72 dpi, 120 x 160 pixels)");
    EXPECT_TRUE(preview->previewNextPreviousButton->isEnabled(0));
    EXPECT_FALSE(preview->previewNextPreviousButton->isEnabled(1));

    // An entry before the previewed one goes: renumbered, not converted again.
    const int before = prepared;
    rows.erase(rows.begin());
    delegate->changePreviewActionAfterDeleteOrAdd();
    EXPECT_EQ(caption->text(), "1 of 1 (second.png @ 72 dpi, 120 x 160 pixels)");
    EXPECT_TRUE(preview->previewNextPreviousButton->isHidden());
    EXPECT_EQ(prepared, before);

    // A request for a row that has gone since is skipped.
    delegate->PreviewNextPreviousAction(1);
    rows.clear();
    delegate->StopPreviews();
    EXPECT_EQ(caption->text(), "1 of 1 (second.png @ 72 dpi, 120 x 160 pixels)");

    // The button closes the window; a new opening previews again.
    window().previewButtonOutlet->click();
    EXPECT_FALSE(preview->isVisible());
    AddPhoto("third.jpg", 90, 90);
    selected = {0};
    window().previewButtonOutlet->click();
    ASSERT_TRUE(WaitUntil([&] { return caption->text().startsWith("1 of 1 (third"); }));
}

// Two names that read the same as text ("caf\xe9" and "caf\xe8" both show as
// "caf\ufffd") are two files: the preview keeps its own when the list changes.
TEST_F(BatchWindowTest, PreviewFollowsItsFileByItsBytes) {
    AddPhoto("caf\xe9.jpg", 300, 200);
    AddPhoto("caf\xe8.jpg", 120, 160);
    PreviewWindow* preview = OpenPreview(1, "2 of 2");
    ASSERT_TRUE(preview);
    QLabel* caption = preview->PreviewStringStaticText;
    EXPECT_EQ(caption->text(), QString::fromUtf8("2 of 2 (caf\xef\xbf\xbd.png @ 72 dpi, 120 x 160 pixels)"));
    EXPECT_TRUE(fs::exists(dir / "preview" / "caf\xe8.png"));

    // A row inserted before both: the previewed file is now the third.
    const int before = prepared;
    AddPhoto("a.jpg");
    std::rotate(rows.rbegin(), rows.rbegin() + 1, rows.rend());
    delegate->changePreviewActionAfterDeleteOrAdd();
    EXPECT_EQ(caption->text(), QString::fromUtf8("3 of 3 (caf\xef\xbf\xbd.png @ 72 dpi, 120 x 160 pixels)"));
    EXPECT_EQ(prepared, before) << "renumbered, not converted again";
    EXPECT_FALSE(preview->previewNextPreviousButton->isEnabled(1)) << "the last row has no next";
}

// Escape closes the preview window as its close button does.
TEST_F(BatchWindowTest, EscapeClosesThePreview) {
    AddPhoto("a.jpg");
    selected = {0};
    PreviewWindow* preview = delegate->previewWindow();
    window().previewButtonOutlet->click();
    ASSERT_TRUE(preview->isVisible());
    QTest::keyClick(preview, Qt::Key_Escape);
    EXPECT_FALSE(preview->isVisible());
    EXPECT_FALSE(window().previewButtonOutlet->isChecked());
    delegate->StopPreviews();
}

// A small preview still shows its whole caption, the output size included:
// the window is as wide as the caption, whatever the image's size.
TEST_F(BatchWindowTest, PreviewCaptionOfASmallImageIsShownWhole) {
    AddPhoto("x.jpg", 320, 240);
    AddPhoto("y.jpg", 64, 48);
    AddPhoto("z.jpg", 64, 48);
    selected = {0};
    PreviewWindow* preview = delegate->previewWindow();
    PreviewCaptionLabel* caption = preview->PreviewStringStaticText;
    window().previewButtonOutlet->click();
    ASSERT_TRUE(WaitUntil([&] { return caption->text().startsWith("1 of 3"); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(caption->text(), "1 of 3 (x.png @ 72 dpi, 320 x 240 pixels)");
    EXPECT_EQ(caption->shownText(), caption->text());
    EXPECT_TRUE(caption->toolTip().isEmpty());
    EXPECT_GE(preview->width(), 320 + 20);

    // Shown on its own, a caption wider than the screen is shortened and the
    // window stays within the screen.
    const int screenWidth = preview->screen()->availableGeometry().width();
    const QString wide = "1 of 3 (" + QString(400, QChar('w')) + ".png @ 72 dpi, 320 x 240 pixels)";
    preview->setCaption(wide);
    QCoreApplication::processEvents();
    EXPECT_LE(preview->width(), screenWidth);
    EXPECT_NE(caption->shownText(), wide);
    EXPECT_EQ(caption->toolTip(), wide);
}

TEST_F(BatchWindowTest, PreviewWindowFollowsTheUserFrameAfterAResize) {
    AddPhoto("wide.jpg", 400, 100);
    selected = {0};
    PreviewWindow* preview = delegate->previewWindow();
    window().previewButtonOutlet->click();
    ASSERT_TRUE(WaitUntil([&] { return !preview->PreviewStringStaticText->text().isEmpty(); }));
    const QRect fitted = preview->geometry();
    EXPECT_EQ(fitted.width(), 420);
    EXPECT_EQ(fitted.height(), std::max(100 + 45, preview->minimumHeight()));
    // A resize by the user: later previews leave the frame alone.
    preview->resize(500, 400);
    delegate->PreviewAction(nullptr);
    delegate->StopPreviews();
    EXPECT_EQ(preview->size(), QSize(500, 400));
    // The toggle goes to the fitted frame and back.
    delegate->togglePreviewWindow(nullptr);
    EXPECT_EQ(preview->size(), fitted.size());
    delegate->togglePreviewWindow(nullptr);
    EXPECT_EQ(preview->size(), QSize(500, 400));
}

TEST_F(BatchWindowTest, TheOptionGroupsDriveTheBatch) {
    AddPhoto("a.jpg", 200, 100);
    AddPhoto("b.jpg", 200, 100);
    // The application's own binding of the options, as at launch.
    delegate.reset();
    delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    delegate->SetConversionButtonEnable(true);
    BatchSeams& fresh = delegate->batchSeams();
    fresh.rowCount = [this] { return std::int64_t(rows.size()); };
    fresh.rowAt = [this](std::int64_t row) -> std::optional<BatchRow> { return rows[std::size_t(row)]; };
    fresh.storedDestination = [this] { return dir / "out"; };
    fresh.openFolder = [](const fs::path&) {};

    JobOptionState state = delegate->jobOptions()->state();
    state.outputType = kImageTypePNG;
    state.groupOn[kRenameGroup] = true;
    state.renameTag = kRenameNewName;
    state.fileNameText = "trip";
    state.numberPosition = kNumberAfterName;
    state.zeroPaddingText = "2";
    state.startDigitText = "7";
    state.groupOn[kResizeGroup] = true;
    state.scaleOption = 2;
    state.unit = kUnitPercent;
    state.widthText = "50";
    state.heightText = "50";
    delegate->jobOptions()->setState(state);

    delegate->ConvertAllButtonAction(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !delegate->isBatchRunning(); }));
    const auto first = convtest::Decode(dir / "out" / "trip007.png");
    EXPECT_EQ(first.type, "public.png");
    EXPECT_EQ(first.width, 100);
    EXPECT_EQ(first.height, 50);
    EXPECT_TRUE(fs::exists(dir / "out" / "trip008.png"));
    EXPECT_EQ(alerts.size(), 1u);
}

TEST(DropRules, ImageViewAndFolderBox) {
    convtest::ScratchDir dir;
    fs::create_directories(dir / "folder");
    fs::create_directories(dir / "other");
    std::ofstream(dir / "notes.txt") << "text";
    std::ofstream(dir / "photo.jpg") << "jpeg";
    const auto isImage = [](const fs::path& p) { return p.extension() == ".jpg"; };
    struct Case {
        std::vector<fs::path> paths;
        bool allowed, imageView, folderBox;
    };
    const Case cases[] = {
        {{dir / "notes.txt"}, true, false, false},
        {{dir / "notes.txt", dir / "folder"}, true, true, false},
        {{dir / "photo.jpg"}, true, true, false},
        {{dir / "photo.jpg"}, false, false, false},
        {{dir / "folder"}, true, true, true},
        {{dir / "folder", dir / "other"}, true, true, false},
        {{dir / "missing"}, true, false, false},
        {{}, true, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ImageViewAcceptsDrop(c.paths, c.allowed, isImage), c.imageView) << c.paths.size();
        EXPECT_EQ(FolderBoxAcceptsDrop(c.paths), c.folderBox) << c.paths.size();
    }
}

TEST_F(BatchWindowTest, DropTargetsHandOverWhatTheyAccept) {
    std::vector<fs::path> added;
    std::vector<std::pair<fs::path, int>> folders;
    BatchSeams& seams = delegate->batchSeams();
    seams.isSupportedImageFile = [](const fs::path& p) { return p.extension() == ".jpg"; };
    seams.addWithRecursion = [&](std::vector<fs::path> paths) { added = std::move(paths); };
    seams.folderDropped = [&](const fs::path& path, int box) { folders.emplace_back(path, box); };
    std::ofstream(dir / "notes.txt") << "text";
    QMimeData text, mixed, folder;
    text.setUrls({QUrl::fromLocalFile(QString::fromStdString((dir / "notes.txt").string()))});
    mixed.setUrls({QUrl::fromLocalFile(QString::fromStdString((dir / "notes.txt").string())),
                   QUrl::fromLocalFile(QString::fromStdString((dir / "in").string()))});
    folder.setUrls({QUrl::fromLocalFile(QString::fromStdString((dir / "out").string()))});

    KSMImageView* view = window().mainImagePreview;
    EXPECT_FALSE(view->draggingEnteredOrUpdated(&text));
    EXPECT_TRUE(view->draggingEnteredOrUpdated(&mixed));
    view->concludeDragOperation(&mixed);
    EXPECT_EQ(added, (std::vector<fs::path>{dir / "notes.txt", dir / "in"}));
    // While a batch or an add has switched Add off, nothing is offered.
    delegate->toolbarEnableTable().setEnabled(ToolbarEnableTable::AddImage, false);
    EXPECT_FALSE(view->draggingEnteredOrUpdated(&mixed));

    DragAndDropCommonFolderController* box = window().destinationPathViewCntr;
    EXPECT_EQ(box->boxTypeOption(), 1);
    EXPECT_FALSE(box->draggingEnteredOrUpdated(&text));
    EXPECT_FALSE(box->draggingEnteredOrUpdated(&mixed));
    EXPECT_TRUE(box->draggingEnteredOrUpdated(&folder));
    box->concludeDragOperation(&folder);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].first, dir / "out");
    EXPECT_EQ(folders[0].second, 1);
}

// The preview of a small image makes a narrow window: a long caption is cut
// short with an ellipsis, never clipped at both ends, and whole in its tip;
// one that fits is drawn whole without a tip.
TEST(PreviewCaptionTest, NarrowWindowCutsTheCaptionShort) {
    TestApplication();
    PreviewWindow window;
    window.setFrameByProgram(QRect(0, 0, 260, 200));
    window.show();
    QCoreApplication::processEvents();
    PreviewCaptionLabel* caption = window.PreviewStringStaticText;
    const QString text = "12 of 240 (a holiday photograph with a long name.png @ 300 dpi, 4000 x 3000 pixels)";
    caption->setText(text);
    caption->repaint();
    EXPECT_EQ(caption->text(), text);
    const QString shown = caption->shownText();
    EXPECT_TRUE(shown.startsWith("12 of 240"));
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    EXPECT_LE(caption->fontMetrics().horizontalAdvance(shown), caption->contentsRect().width());
    EXPECT_EQ(caption->toolTip(), text);

    caption->setText("1 of 2");
    caption->repaint();
    EXPECT_EQ(caption->shownText(), "1 of 2");
    EXPECT_TRUE(caption->toolTip().isEmpty());
}

// The destination panel of a batch shows the destination options of the
// preferences sheet and gives them back, at their place, when it closes.
TEST(DestinationPanelTest, BorrowsTheDestinationOptionsAndGivesThemBack) {
    TestApplication();
    auto delegate = std::make_unique<AppDelegate>();
    delegate->applicationDidFinishLaunching();
    PreferencesSheet* sheet = delegate->preferencesDialog();
    ASSERT_TRUE(sheet);
    QWidget* options = sheet->destinationOptionAccessaryView;
    auto* home = qobject_cast<QBoxLayout*>(sheet->preferencesMainSubview->layout());
    ASSERT_TRUE(home);
    const int place = home->indexOf(options);
    ASSERT_GE(place, 0);
    for (int round = 0; round < 2; ++round) {
        std::optional<std::optional<fs::path>> answer;
        delegate->batchSeams().chooseDestination([&](std::optional<fs::path> folder) { answer = folder; });
        auto* panel = delegate->window()->findChild<QFileDialog*>("destinationOpenPanel");
        ASSERT_TRUE(panel);
        EXPECT_TRUE(panel->isAncestorOf(options));
        EXPECT_TRUE(options->isVisibleTo(panel));
        panel->reject();
        ASSERT_TRUE(answer.has_value());
        EXPECT_FALSE(answer->has_value());
        EXPECT_EQ(home->indexOf(options), place) << round;
        EXPECT_TRUE(sheet->isAncestorOf(options));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(sheet->destinationOptionAccessaryView, options);
        EXPECT_TRUE(sheet->useAsDestinationFolderCheckBox->parentWidget() == options);
    }
}

}  // namespace
