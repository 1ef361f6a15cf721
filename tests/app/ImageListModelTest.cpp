// The image list model: add requests, insertion, cancel, removing and
// selection, sorting, turning and flipping, row texts and snapshots.
#include "ImageListTestSupport.h"
#include "app/model/ImageListModel.h"
#include "app/model/ImageListTexts.h"
#include "app/model/JobOptionsModel.h"
#include "platform/OperationQueue.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace listtest;

namespace {

class ImageListModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    void SetUp() override { TestApplication(); }
    void TearDown() override { GetThumbnailQueue().waitUntilAllOperationsAreFinished(); }

    std::vector<std::filesystem::path> photos(const std::vector<std::string>& names) {
        std::vector<std::filesystem::path> paths;
        for (const std::string& name : names) paths.push_back(WritePhoto(dir / name, 64, 48));
        return paths;
    }
    void add(std::vector<std::filesystem::path> urls, bool recursive = false, std::optional<int> index = {}) {
        model.AddUrlsIntoImageListView(std::move(urls), recursive, index);
        ASSERT_TRUE(WaitFor([&] { return !model.isAdding(); }));
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> names;
        for (const ListEntityRef& entity : model.entries()) names.push_back(entity->title());
        return names;
    }
    void fill(int rows) {
        std::vector<std::string> names;
        for (int i = 0; i < rows; ++i) names.push_back("r" + std::to_string(i) + ".jpg");
        add(photos(names));
    }
    void select(std::initializer_list<int> rows) {
        model.selectionModel()->clearSelection();
        for (int row : rows) {
            model.selectionModel()->select(model.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    ScratchDir dir;
    ImageListModel model;
};

}  // namespace

TEST_F(ImageListModelTest, AddSortsNewFilesAndSelectsTheFirst) {
    QSignalSpy nonEmpty(&model, &ImageListModel::listBecameNonEmpty);
    QSignalSpy first(&model, &ImageListModel::firstEntryOfRequestAdded);
    QSignalSpy began(&model, &ImageListModel::addRequestBegan);
    QSignalSpy ended(&model, &ImageListModel::addRequestEnded);
    std::shared_ptr<AddRequestState> state;
    QObject::connect(&model, &ImageListModel::addRequestEnded,
                     [&](const std::shared_ptr<AddRequestState>& s) { state = s; });
    add(photos({"b10.jpg", "b9.jpg", "B1.jpg"}));
    EXPECT_EQ(titles(), (std::vector<std::string>{"B1.jpg", "b9.jpg", "b10.jpg"}));
    EXPECT_EQ(model.selectedRow(), 0);
    EXPECT_EQ(nonEmpty.count(), 1);
    ASSERT_EQ(first.count(), 1);
    EXPECT_EQ(first.at(0).at(1).toBool(), true);  // the list was empty
    EXPECT_EQ(began.count(), 1);
    EXPECT_EQ(ended.count(), 1);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->numOfFilesForConversion.load(), 3);
    EXPECT_EQ(state->fileProcessingIndex.load(), 3);
    // The first entry was loaded on the add thread.
    EXPECT_EQ(model.entries()[0]->thumbnailState(), ThumbnailState::Loaded);

    // Descending: the new block is sorted descending and inserted as a block;
    // old rows are not re-sorted.
    model.setSortDescriptor(ImageListModel::kColumnIdentifier, false);
    add(photos({"c1.jpg", "c2.jpg"}), false, 1);
    EXPECT_EQ(titles(), (std::vector<std::string>{"B1.jpg", "c2.jpg", "c1.jpg", "b9.jpg", "b10.jpg"}));
    EXPECT_EQ(model.selectedRow(), 1);
    EXPECT_EQ(first.at(1).at(1).toBool(), false);
    EXPECT_EQ(nonEmpty.count(), 1);
}

TEST_F(ImageListModelTest, DropRowsAreClampedAndUnsortedKeysKeepTheGivenOrder) {
    fill(2);
    model.setSortDescriptor(QStringLiteral("Other"), true);
    add(photos({"z.jpg", "a.jpg"}), false, 99);
    EXPECT_EQ(titles(), (std::vector<std::string>{"r0.jpg", "r1.jpg", "z.jpg", "a.jpg"}));
    add(photos({"m.jpg"}), false, -5);
    EXPECT_EQ(titles().front(), "m.jpg");
    // A handed-over request without a row goes to the end as the list is then.
    add(photos({"end.jpg"}));
    EXPECT_EQ(titles().back(), "end.jpg");
}

TEST_F(ImageListModelTest, FoldersAddedRecursivelyOrNotKeepTheirParentFolder) {
    const auto root = dir / "shoot";
    std::filesystem::create_directories(root / "sub");
    WritePhoto(root / "a2.jpg", 30, 20);
    WritePhoto(root / "sub" / "a10.jpg", 30, 20);
    add({root});
    EXPECT_EQ(titles(), (std::vector<std::string>{"a2.jpg"}));
    add({root}, true);
    EXPECT_EQ(titles(), (std::vector<std::string>{"a2.jpg", "a2.jpg", "a10.jpg"}));
    const auto rows = model.snapshotAllRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].fileURL, root / "sub" / "a10.jpg");
    EXPECT_EQ(rows[2].parentFolder, root);
}

TEST_F(ImageListModelTest, CancelPartWayKeepsWhatWasInserted) {
    const auto paths = photos({"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"});
    // Cancel as the second file arrives, twice over: the result must not vary.
    for (int round = 0; round < 2; ++round) {
        const int before = model.count();
        QMetaObject::Connection connection = QObject::connect(
            &model, &ImageListModel::addRequestProgressed, [](const std::shared_ptr<AddRequestState>& state) {
                if (state->fileProcessingIndex.load() == 2) state->cancelled = true;
            });
        add(paths);
        QObject::disconnect(connection);
        EXPECT_EQ(model.count() - before, 2);
    }
    model.cancelAddRequests();
}

TEST_F(ImageListModelTest, RemoveSelectedRulesAndSelection) {
    fill(10);
    QSignalSpy empty(&model, &ImageListModel::listBecameEmpty);
    select({3, 4, 5});
    model.RemoveSelected();
    EXPECT_EQ(model.count(), 7);
    EXPECT_EQ(model.selectedRows(), std::vector<int>{3});
    EXPECT_EQ(model.selectedEntity()->title(), "r6.jpg");

    select({5, 6});
    model.RemoveSelected();
    EXPECT_EQ(model.count(), 5);
    EXPECT_EQ(model.selectedRows(), std::vector<int>{4});

    // No selection: nothing goes, the last row is selected.
    model.selectionModel()->clearSelection();
    model.RemoveSelected();
    EXPECT_EQ(model.count(), 5);
    EXPECT_EQ(model.selectedRows(), std::vector<int>{4});

    select({0, 1, 2, 3, 4});
    model.RemoveSelected();
    EXPECT_TRUE(model.isEmpty());
    EXPECT_EQ(empty.count(), 1);
    EXPECT_EQ(model.selectedRow(), -1);

    fill(3);
    model.RemoveAll();
    EXPECT_TRUE(model.isEmpty());
    EXPECT_EQ(empty.count(), 2);
}

TEST_F(ImageListModelTest, RowsRemovedWhileTheirThumbnailsLoadAreNeverTouched) {
    fill(8);
    QSignalSpy changed(&model, &ImageListModel::dataChanged);
    for (int round = 0; round < 2; ++round) {
        for (int row = 0; row < model.count(); ++row) model.rowBecameVisible(row);
        EXPECT_LE(model.observedCount(), model.count());
        model.RemoveAll();
        EXPECT_EQ(model.observedCount(), 0);
        GetThumbnailQueue().waitUntilAllOperationsAreFinished();
        QCoreApplication::processEvents();
        EXPECT_EQ(changed.count(), 0);
        fill(8);
        changed.clear();
    }
    // Visible rows observed once each; their thumbnails refresh their rows.
    for (int round = 0; round < 3; ++round) {
        for (int row = 0; row < model.count(); ++row) model.rowBecameVisible(row);
    }
    EXPECT_EQ(model.observedCount(), 8);
    ASSERT_TRUE(WaitFor([&] {
        return std::all_of(model.entries().begin(), model.entries().end(), [](const ListEntityRef& e) {
            return e->thumbnailState() == ThumbnailState::Loaded;
        });
    }));
    // A row shown before its thumbnail is there refreshes when it comes.
    changed.clear();
    const int row = model.insertEntity(ListViewBaseCellEntity::entityForURL(photos({"late.jpg"})[0]), 2);
    EXPECT_EQ(model.data(model.index(row, 0), ImageListModel::PixelSizeTextRole), QVariant());
    model.rowBecameVisible(row);
    ASSERT_TRUE(WaitFor([&] { return changed.count() == 1; }));
    EXPECT_EQ(changed.at(0).at(0).value<QModelIndex>().row(), 2);
    EXPECT_EQ(model.data(model.index(0, 0), ImageListModel::PixelSizeTextRole).toString(), "64 x 48 pixels");
    EXPECT_EQ(model.data(model.index(0, 0), ImageListModel::ResolutionTextRole).toString(), "72 pixel/in");
}

TEST_F(ImageListModelTest, SortingByTheHeaderKeepsTheSelectedEntries) {
    add(photos({"img10.jpg", "IMG2.jpg", "img1.jpg"}));
    model.sort(0, Qt::AscendingOrder);
    select({2});
    model.sort(0, Qt::DescendingOrder);
    EXPECT_EQ(titles(), (std::vector<std::string>{"img10.jpg", "IMG2.jpg", "img1.jpg"}));
    EXPECT_EQ(model.selectedEntity()->title(), "img10.jpg");
    EXPECT_FALSE(model.sortAscending());
    model.sort(1, Qt::AscendingOrder);  // no other column sorts
    EXPECT_EQ(titles().front(), "img10.jpg");
}

TEST_F(ImageListModelTest, TurnsAndFlipsChangeEverySelectedRow) {
    fill(4);
    QSignalSpy turned(&model, &ImageListModel::selectedEntityTransformChanged);
    select({1, 3});
    model.rotateImage(90);
    model.flipImage(1);
    model.flipImage(2);
    const auto rows = model.snapshotRows({0, 1, 2, 3});
    EXPECT_EQ(rows[0].angle, 0);
    EXPECT_EQ(rows[1].angle, 90);
    EXPECT_EQ(rows[3].angle, 90);
    EXPECT_EQ(rows[1].flip, 3);
    EXPECT_EQ(rows[2].flip, 0);
    EXPECT_EQ(model.snapshotSelectedRows().size(), 2u);
    EXPECT_EQ(turned.count(), 3);
    model.selectionModel()->clearSelection();
    model.rotateImage(90);
    EXPECT_EQ(turned.count(), 3);
}

TEST(ImageListArithmetic, QuarterTurnsComeBackToZero) {
    struct Case {
        std::int64_t start, step;
        std::vector<std::int64_t> angles;
    } cases[] = {
        {0, 90, {90, 180, 270, 0}},
        {0, -90, {-90, -180, -270, 0}},
        {270, -90, {180}},
        {-270, 90, {-180}},
        {90, -90, {0}},
    };
    for (const Case& c : cases) {
        std::int64_t angle = c.start;
        for (std::int64_t expected : c.angles) {
            angle = RotatedAngle(double(angle), c.step);
            EXPECT_EQ(angle, expected) << c.start << " by " << c.step;
        }
    }
    EXPECT_EQ(FlippedMask(FlippedMask(0, 1), 2), 3);
    EXPECT_EQ(FlippedMask(3, 1), 2);
    EXPECT_EQ(FlippedMask(FlippedMask(2, 2), 2), 2);
}

TEST(ImageListArithmetic, RowAndDescriptionTexts) {
    EXPECT_EQ(JobOptionsModel::formattedFileSize(2350000), "2.35 MB");
    EXPECT_EQ(ResolutionText(300), "300 pixel/in");
    EXPECT_EQ(PixelSizeText(4000, 3000), "4000 x 3000 pixels");

    const std::tuple<double, std::int64_t, std::int32_t, const char*> descriptions[] = {
        {0.2, 0, 0, "At 20.00% Zoom"},
        {1.0, -90, 0, "At 100.00% Zoom, Rotated by -90\u02DA"},
        {0.5, 0, 3, "At 50.00% Zoom, Fliped Horizonally & Vertically"},
        {0.5, 180, 2, "At 50.00% Zoom, Rotated by 180\u02DA, Fliped Vertically"},
        {0.5, 0, 1, "At 50.00% Zoom, Fliped Horizonally"},
    };
    for (const auto& [zoom, angle, flip, text] : descriptions) {
        EXPECT_EQ(ImageFileDescription(zoom, angle, flip), QString::fromUtf8(text));
    }
}
