// List entries: thumbnail geometry, the facts read from the file, one load
// per entry on the shared queue, and failed loads.
#include "ImageListTestSupport.h"
#include "app/model/ListViewBaseCellEntity.h"
#include "platform/FileManager.h"
#include "platform/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

using namespace listtest;

namespace {

class ListEntity : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    void TearDown() override { GetThumbnailQueue().waitUntilAllOperationsAreFinished(); }
    ScratchDir dir;
};

ListEntityRef LoadedEntity(const std::filesystem::path& path) {
    ListEntityRef entity = ListViewBaseCellEntity::entityForURL(path);
    entity->loadImageDirectly();
    return entity;
}

}  // namespace

TEST(ThumbnailGeometry, LongerSideIs104PointsAndThinImagesKeepOnePoint) {
    struct Case {
        double width, height, thumbWidth, thumbHeight;
    } cases[] = {
        {1000, 250, 104, 26}, {250, 1000, 26, 104}, {640, 640, 104, 104},
        {100000, 10, 104, 1}, {10, 100000, 1, 104}, {0, 50, 0, 0},
    };
    for (const Case& c : cases) {
        const ThumbnailSize size = ThumbnailSizeForPoints(c.width, c.height);
        EXPECT_DOUBLE_EQ(size.width, c.thumbWidth) << c.width << "x" << c.height;
        EXPECT_DOUBLE_EQ(size.height, c.thumbHeight) << c.width << "x" << c.height;
    }
}

TEST_F(ListEntity, FactsAndThumbnailOfVariedFiles) {
    struct Case {
        const char* name;
        const char* uti;
        int width, height;
        plat::PropertyDict properties;
        double shownWidth, shownHeight, resolution;
        int thumbWidth, thumbHeight;
    };
    plat::PropertyDict portrait;
    portrait.set(plat::prop::Orientation, 6);
    const Case cases[] = {
        {"landscape.jpg", "public.jpeg", 400, 300, convtest::Resolution(300, 300), 400, 300, 300, 104, 78},
        // Stored wide with orientation 6: shown upright, tall.
        {"portrait.jpg", "public.jpeg", 400, 200, portrait, 200, 400, 72, 52, 104},
        {"nodpi.png", "public.png", 100, 50, {}, 100, 50, 72, 104, 52},
        {"odd.png", "public.png", 300, 300, convtest::Resolution(71.6, 71.6), 300, 300, 72, 104, 104},
        {"big.jpg", "public.jpeg", 4000, 3000, {}, 4000, 3000, 72, 104, 78},
        {"thin.png", "public.png", 3000, 4, {}, 3000, 4, 72, 104, 1},
        {"scan.tif", "public.tiff", 250, 1000, convtest::Resolution(150, 150), 250, 1000, 150, 26, 104},
    };
    for (const Case& c : cases) {
        const auto path = WritePhoto(dir / c.name, c.width, c.height, c.uti, c.properties);
        ListEntityRef entity = LoadedEntity(path);
        ASSERT_EQ(entity->thumbnailState(), ThumbnailState::Loaded) << c.name;
        EXPECT_EQ(entity->GetWidth(), c.shownWidth) << c.name;
        EXPECT_EQ(entity->GetHeight(), c.shownHeight) << c.name;
        EXPECT_EQ(entity->GetResolution(), c.resolution) << c.name;
        EXPECT_EQ(entity->GetFileSize(), plat::FileManager::fileSize(path).value_or(1)) << c.name;
        ThumbnailRef thumbnail = entity->thumbnailImage();
        ASSERT_TRUE(thumbnail) << c.name;
        EXPECT_EQ(thumbnail->width, c.thumbWidth) << c.name;
        EXPECT_EQ(thumbnail->height, c.thumbHeight) << c.name;
        EXPECT_EQ(thumbnail->rgba.size(), std::size_t(c.thumbWidth * c.thumbHeight * 4)) << c.name;
        EXPECT_EQ(entity->title(), c.name);
    }
}

TEST_F(ListEntity, PortraitThumbnailIsUpright) {
    // Stored 40 × 20 with the mark top left; orientation 6 turns it a quarter
    // to the right, so the mark shows top right.
    plat::PropertyDict portrait;
    portrait.set(plat::prop::Orientation, 6);
    const auto path = WritePhoto(dir / "turned.jpg", 208, 104, "public.jpeg", portrait);
    ListEntityRef entity = LoadedEntity(path);
    ThumbnailRef thumbnail = entity->thumbnailImage();
    ASSERT_TRUE(thumbnail);
    ASSERT_EQ(thumbnail->width, 52);
    ASSERT_EQ(thumbnail->height, 104);
    auto at = [&](int x, int y) { return thumbnail->rgba[(std::size_t(y) * thumbnail->width + x) * 4 + 2]; };
    EXPECT_GT(at(thumbnail->width - 3, 3), 140);  // mark (blue)
    EXPECT_LT(at(3, 3), 140);
}

TEST_F(ListEntity, UnreadableFilesEndInAFailedState) {
    std::ofstream(dir / "broken.jpg") << "\xFF\xD8\xFF\xE0 not really a jpeg";
    std::ofstream(dir / "empty.png");
    for (const char* name : {"broken.jpg", "empty.png", "missing.png"}) {
        ListEntityRef entity = LoadedEntity(dir / name);
        EXPECT_EQ(entity->thumbnailState(), ThumbnailState::Failed) << name;
        EXPECT_FALSE(entity->imageLoading()) << name;
        EXPECT_FALSE(entity->thumbnailImage()) << name;
        EXPECT_EQ(entity->GetWidth(), 0.0);
        EXPECT_EQ(entity->GetFileSize(), 0u);
        // No second attempt, no spinner again.
        EXPECT_FALSE(entity->GetThumbnailImage());
        EXPECT_EQ(entity->thumbnailState(), ThumbnailState::Failed);
    }
}

TEST_F(ListEntity, ManyRequestsQueueOneLoadPerEntryOnAQueueOfTwo) {
    EXPECT_EQ(GetThumbnailQueue().maxConcurrentOperationCount(), 2);
    std::vector<ListEntityRef> entities;
    std::atomic<int> notifications{0};
    for (int i = 0; i < 6; ++i) {
        auto path = WritePhoto(dir / ("p" + std::to_string(i) + ".jpg"), 600, 400);
        entities.push_back(ListViewBaseCellEntity::entityForURL(path, dir.path()));
        entities.back()->setThumbnailObserver([&](const ListEntityRef&) { notifications.fetch_add(1); });
    }
    for (int round = 0; round < 20; ++round) {
        for (const ListEntityRef& entity : entities) {
            entity->GetThumbnailImage();
            entity->loadImage();
        }
        EXPECT_LE(GetThumbnailQueue().operationCount(), entities.size());
    }
    GetThumbnailQueue().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(notifications.load(), 6);
    for (const ListEntityRef& entity : entities) {
        EXPECT_EQ(entity->thumbnailState(), ThumbnailState::Loaded);
        EXPECT_EQ(entity->GetParentFolder(), dir.path());
        // A direct load after the queued one changes nothing.
        entity->loadImageDirectly();
    }
    EXPECT_EQ(notifications.load(), 6);
}
