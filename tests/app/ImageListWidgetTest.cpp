#include "ImageListTestSupport.h"
#include "app/model/CurrentImage.h"
#include "app/ui/AddFilesDialog.h"
#include "app/ui/AppDelegate.h"
#include "app/ui/ImageListTableView.h"
#include "app/ui/DropTargets.h"
#include "app/ui/MainWindow.h"
#include "app/ui/SegmentedControl.h"
#include "engine/ConvertImage.h"
#include "platform/OperationQueue.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QToolButton>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

using namespace listtest;

namespace {

class ImageListWidget : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    void SetUp() override {
        TestApplication();
        delegate = std::make_unique<AppDelegate>();
        delegate->applicationDidFinishLaunching();
        delegate->window()->resize(1200, 760);
        delegate->window()->show();
        model = delegate->imageListModel();
    }
    void TearDown() override {
        delegate.reset();
        GetThumbnailQueue().waitUntilAllOperationsAreFinished();
    }
    void addThroughDialog(std::vector<std::filesystem::path> urls, bool recursive = false) {
        delegate->runAddDialog = [&] { return AppDelegate::AddDialogResult{urls, recursive}; };
        delegate->AddImageOrFolderButtonAction(nullptr);
        ASSERT_TRUE(WaitFor([&] { return !model->isAdding(); }));
    }
    MainWindow& window() { return *delegate->window(); }
    // Enter, move and drop on `target`; `atDrop` runs just before the drop. True if the enter was accepted.
    static bool Drag(QWidget* target, QMimeData* data, QPoint at, const std::function<void()>& atDrop = {}) {
        return DragOnto(target, data, at, atDrop);
    }

    ScratchDir dir;
    std::unique_ptr<AppDelegate> delegate;
    ImageListModel* model = nullptr;
};

}  // namespace

TEST_F(ImageListWidget, AddingShowsTheFirstImageAndEnablesConversion) {
    EXPECT_FALSE(window().mainImagePreview->hasImage());
    EXPECT_EQ(window().mainImagePreview->placeholder(), KSMImageView::Placeholder::DropImage);
    EXPECT_FALSE(window().convertToolbarButton->isEnabled());
    addThroughDialog({WritePhoto(dir / "b.jpg", 400, 300), WritePhoto(dir / "a.jpg", 300, 400)});
    EXPECT_EQ(model->count(), 2);
    EXPECT_EQ(window().filenameLabelOutlet->text(), "a.jpg");
    const QString description = window().fileDescriptionLabelOutlet->text();
    EXPECT_TRUE(description.startsWith("At ") && description.endsWith("% Zoom")) << description.toStdString();
    EXPECT_TRUE(window().mainImagePreview->hasImage());
    EXPECT_TRUE(window().convertToolbarButton->isEnabled());
    EXPECT_TRUE(window().removeToolbarButton->isEnabled());
    EXPECT_EQ(window().totalFileCountLabelOutlet->text(), "2 images");

    delegate->RemoveAllButtonAction(nullptr);
    EXPECT_EQ(window().totalFileCountLabelOutlet->text(), "0 image");
    EXPECT_FALSE(window().convertToolbarButton->isEnabled());
    EXPECT_FALSE(window().removeToolbarButton->isEnabled());
    EXPECT_EQ(window().mainImagePreview->placeholder(), KSMImageView::Placeholder::DropImage);
    EXPECT_TRUE(window().filenameLabelOutlet->text().isEmpty());
}

TEST_F(ImageListWidget, TurnsAndFlipsShowInTheDescription) {
    addThroughDialog({WritePhoto(dir / "p.jpg", 400, 300)});
    auto press = [&](SegmentedControl* control, int segment, void (AppDelegate::*action)(QObject*)) {
        control->setSelectedSegment(segment);
        (delegate.get()->*action)(control);
    };
    const auto description = [&] { return window().fileDescriptionLabelOutlet->text(); };
    press(window().rotateSegmentedOutlet, 1, &AppDelegate::rotate);
    EXPECT_TRUE(description().endsWith(", Rotated by -90\u02DA"));
    // A turned image is shown with its turned proportions.
    ASSERT_TRUE(window().mainImagePreview->image());
    EXPECT_GT(window().mainImagePreview->image()->height, window().mainImagePreview->image()->width);
    press(window().flipSegmentedOutlet, 0, &AppDelegate::flip);
    press(window().flipSegmentedOutlet, 1, &AppDelegate::flip);
    EXPECT_TRUE(description().endsWith(", Rotated by -90\u02DA, Fliped Horizonally & Vertically"));
    press(window().flipSegmentedOutlet, 0, &AppDelegate::flip);
    EXPECT_TRUE(description().endsWith(", Fliped Vertically"));
    press(window().rotateSegmentedOutlet, 5, &AppDelegate::rotate);
    EXPECT_EQ(model->selectedEntity()->angle(), -90);
}

TEST(CurrentImageView, ZoomUsesTheTurnedSizeAndNeverDividesByZero) {
    for (std::int64_t angle : {0, 90}) {
        EXPECT_DOUBLE_EQ(CurrentImageZoom(4000, 3000, angle, 800, 800), 0.2);
        EXPECT_DOUBLE_EQ(CurrentImageZoom(4000, 1000, angle, 800, 800), 0.2);
    }
    EXPECT_DOUBLE_EQ(CurrentImageZoom(1000, 4000, -270, 1000, 500), 0.25);
    EXPECT_EQ(CurrentImageZoom(0, 0, 0, 800, 800), 0.0);
    EXPECT_EQ(CurrentImageZoom(400, 300, 0, 0, 0), 0.0);
}

TEST(CurrentImageView, PixelsMatchTheEngineForEveryTurnAndFlip) {
    plat::Initialize();
    ScratchDir dir;
    const auto source = WritePhoto(dir / "source.png", 48, 32, "public.png");
    for (std::int64_t angle : {0, 90, 180, 270, -90, -180, -270}) {
        for (std::int32_t flip : {0, 1, 2, 3}) {
            const CurrentImage current = MakeCurrentImage(source, angle, flip, 48);
            ASSERT_TRUE(current.pixels);
            ImageConversion record = convtest::SameSizeRecord(source, {}, 0);
            record.rotationAngle = angle;
            record.flipMask = flip;
            record.returnImage = 1;
            ASSERT_EQ(ConvertImageWithOptions(&record), 1);
            ASSERT_TRUE(record.resultImage);
            const auto engine = convtest::DecodeImage(record.resultImage);
            ASSERT_EQ(std::pair(current.pixels->width, current.pixels->height), std::pair(engine.width, engine.height))
                << angle << " " << flip;
            int worst = 0;
            for (std::size_t i = 0; i < engine.rgba.size(); i += 4) {
                for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(int(engine.rgba[i + c]) - current.pixels->rgba[i + c]));
            }
            EXPECT_LE(worst, 2) << angle << " " << flip;
        }
    }
    EXPECT_FALSE(MakeCurrentImage(dir / "missing.png", 0, 0, 100).pixels);
}

TEST_F(ImageListWidget, DropsInsertAtTheDropRowWhileAddIsEnabled) {
    addThroughDialog({WritePhoto(dir / "a.jpg", 64, 48), WritePhoto(dir / "c.jpg", 64, 48)});
    ImageListTableView* table = window().imageListViewOutlet;
    QCoreApplication::processEvents();
    auto drop = [&](const std::filesystem::path& file, QPoint at) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
        Drag(table->viewport(), &data, at);
    };
    const QRect second = table->visualRect(model->index(1, 0));
    drop(WritePhoto(dir / "b.jpg", 64, 48), second.center());
    ASSERT_TRUE(WaitFor([&] { return model->count() == 3 && !model->isAdding(); }));
    std::vector<std::string> titles;
    for (const auto& entity : model->entries()) titles.push_back(entity->title());
    EXPECT_EQ(titles, (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(table->dropRowAt(QPoint(5, 100000)), 3);

    // With Add disabled, drops are refused.
    delegate->toolbarEnableTable().setEnabled(ToolbarEnableTable::AddImage, false);
    drop(WritePhoto(dir / "d.jpg", 64, 48), second.center());
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->isAdding());
    EXPECT_EQ(model->count(), 3);
}

// A drag source that quits at the drop: it still lists its formats but no longer answers for the data. Its files
// still arrive, on the list and on the big image view alike.
struct VanishingSource : QMimeData {
    explicit VanishingSource(const std::filesystem::path& f) { setUrls({QUrl::fromLocalFile(QString::fromStdString(f.string()))}); }
    bool gone = false;
    QVariant retrieveData(const QString& type, QMetaType meta) const override {
        return gone ? QVariant() : QMimeData::retrieveData(type, meta);
    }
};

TEST_F(ImageListWidget, ADropWhoseSourceQuitsAtTheDropIsKept) {
    int expected = 0;
    for (QWidget* target : std::initializer_list<QWidget*>{window().imageListViewOutlet->viewport(), window().mainImagePreview}) {
        SCOPED_TRACE(target->objectName().toStdString());
        VanishingSource source(WritePhoto(dir / ("dropped" + std::to_string(expected) + ".jpg"), 64, 48));
        ASSERT_TRUE(Drag(target, &source, target->rect().center(), [&] { source.gone = true; }));
        ++expected;
        ASSERT_TRUE(WaitFor([&] { return model->count() == expected && !model->isAdding(); }));
    }
}

// Every thumbnail load ends in a repaint that shows it, also when it finished before the spinner looked at its row
// (which then sends no change of its own). Repeated: the order of loads and spinner passes varies.
TEST_F(ImageListWidget, TheLastPaintShowsEveryThumbnailLoaded) {
    ImageListTableView* table = window().imageListViewOutlet;
    struct PaintWatch : QObject {
        ImageListModel* model = nullptr;
        bool lastPaintSawAllLoaded = false;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                lastPaintSawAllLoaded = std::ranges::all_of(model->entries(), [](const auto& entity) {
                    return entity->thumbnailState() != ThumbnailState::Loading && entity->thumbnailState() != ThumbnailState::None;
                });
            return false;
        }
    } watch;
    watch.model = model;
    table->viewport()->installEventFilter(&watch);
    for (int round = 0; round < 4; ++round) {
        std::vector<std::filesystem::path> files;
        for (int i = 0; i < 5; ++i)
            files.push_back(WritePhoto(dir / ("r" + std::to_string(round) + "_" + std::to_string(i) + ".jpg"), 60 + i, 40));
        addThroughDialog(files);
        GetThumbnailQueue().waitUntilAllOperationsAreFinished();
        ASSERT_TRUE(WaitFor([&] { return watch.lastPaintSawAllLoaded; })) << "round " << round;
        delegate->RemoveAllButtonAction(nullptr);
        QCoreApplication::processEvents();
    }
    table->viewport()->removeEventFilter(&watch);
}

// A thumbnail that arrives for a row on screen fades in from nothing; rows
// taken away by Remove and by Remove All fade out as a picture where they
// stood. The list itself changes at once, and with no durations nothing fades.
TEST_F(ImageListWidget, ArrivingThumbnailsFadeInAndRemovedRowsFadeOut) {
    ImageListTableView* table = window().imageListViewOutlet;
    const auto picture = [&] { return table->viewport()->findChild<QWidget*>("fadingRowsPicture"); };
    for (const bool animated : {true, false}) {
        SCOPED_TRACE(animated);
        table->setRowFadeDurations(animated ? 800 : 0, animated ? 250 : 0);
        const std::string tag = animated ? "a" : "n";
        addThroughDialog({WritePhoto(dir / (tag + "1.jpg"), 80, 60), WritePhoto(dir / (tag + "2.png"), 60, 80, "public.png"),
                          WritePhoto(dir / (tag + "3.jpg"), 90, 30)});
        GetThumbnailQueue().waitUntilAllOperationsAreFinished();
        ASSERT_TRUE(WaitFor([&] { return table->rowImageOpacity(0) == 1.0 && table->rowImageOpacity(1) == 1.0 &&
                                         table->rowImageOpacity(2) == 1.0; }));
        // A thumbnail that was loaded before its row was shown comes without
        // a fade; one that arrives for a row on screen (the thumbnail's
        // observer reloads the row) fades in from nothing.
        std::vector<double> opacityAtArrival;
        const QMetaObject::Connection arrivals = QObject::connect(
            model, &QAbstractItemModel::dataChanged, table,
            [&](const QModelIndex& index) { opacityAtArrival.push_back(table->rowImageOpacity(index.row())); });
        for (int row = 0; row < 3; ++row) model->ReloadRowForEntity(model->ImageEntityForRow(row));
        QObject::disconnect(arrivals);
        EXPECT_EQ(opacityAtArrival, std::vector<double>(3, animated ? 0.0 : 1.0));
        ASSERT_TRUE(WaitFor([&] {
            return table->rowImageOpacity(0) == 1.0 && table->rowImageOpacity(1) == 1.0 && table->rowImageOpacity(2) == 1.0;
        }));

        model->SelectRowStartingAtRow(1);
        delegate->RemoveSelectedButtonAction(nullptr);
        EXPECT_EQ(model->count(), 2);
        EXPECT_EQ(picture() != nullptr, animated);
        ASSERT_TRUE(WaitFor([&] { return !picture(); }));
        delegate->RemoveAllButtonAction(nullptr);
        EXPECT_EQ(model->count(), 0);
        EXPECT_EQ(picture() != nullptr, animated);
        ASSERT_TRUE(WaitFor([&] { return !picture(); }));
    }
}

TEST(AddFilesDialogTest, FilesAndFoldersAreChosenTogether) {
    TestApplication();
    ScratchDir dir;
    std::filesystem::create_directory(dir / "folder");
    WritePhoto(dir / "photo.jpg", 20, 20);
    std::ofstream(dir / "notes.txt") << "x";
    AddFilesDialog dialog;
    dialog.setDirectory(QString::fromStdString(dir.path().string()));
    dialog.resize(640, 420);
    dialog.show();
    // The folder's listing arrives from a worker thread.
    ASSERT_TRUE(WaitFor([&] {
        dialog.selectNames({"folder", "photo.jpg"});
        return dialog.selectedURLs().size() == 2;
    }));
    auto urls = dialog.selectedURLs();
    std::sort(urls.begin(), urls.end());
    EXPECT_EQ(urls, (std::vector<std::filesystem::path>{dir / "folder", dir / "photo.jpg"}));
    EXPECT_FALSE(dialog.mAddRecursiveCheckBoxButton->isChecked());
    EXPECT_EQ(dialog.mAddRecursiveCheckBoxButton->parentWidget(), dialog.mRecusrsiveAddAccessoryView);
}
