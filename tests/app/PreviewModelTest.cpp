// The preview's request queue, window fitting, caption and navigation.
#include "app/model/PreviewScheduler.h"
#include "app/model/PreviewWindowFit.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

// Holds the first request until released, so later ones queue up behind it.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;

    void pass() {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
    }
    void waitEntered() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered; });
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

TEST(PreviewScheduler, OnlyTheNewestOfABurstRuns) {
    // Repeated: the drop depends on the order of threads.
    for (int round = 0; round < 20; ++round) {
        Gate gate;
        std::mutex ran;
        std::vector<int> runs;
        PreviewScheduler scheduler([&](bool quiet) {
            int id;
            {
                std::lock_guard lock(ran);
                id = quiet ? 100 + int(runs.size()) : int(runs.size());
                runs.push_back(id);
            }
            if (id == 0) gate.pass();
        });
        scheduler.request(false);  // runs and waits at the gate
        gate.waitEntered();
        scheduler.request(true);
        scheduler.request(true);
        scheduler.request(false);  // the newest
        gate.release();
        scheduler.waitUntilIdle();
        ASSERT_EQ(runs, (std::vector<int>{0, 1})) << round;
        EXPECT_TRUE(scheduler.isIdle());
    }
}

TEST(PreviewScheduler, ReopeningAfterCancelStillPreviews) {
    Gate gate;
    int runs = 0;
    std::mutex mutex;
    PreviewScheduler scheduler([&](bool) {
        bool first;
        {
            std::lock_guard lock(mutex);
            first = ++runs == 1;
        }
        if (first) gate.pass();
    });
    scheduler.request(false);
    gate.waitEntered();
    scheduler.request(false);
    scheduler.request(false);
    scheduler.cancelAll();  // the window closes with requests waiting
    gate.release();
    scheduler.waitUntilIdle();
    EXPECT_EQ(runs, 1);
    // Reopened: the next request runs, and so does the one after it.
    scheduler.request(false);
    scheduler.waitUntilIdle();
    scheduler.request(true);
    scheduler.waitUntilIdle();
    EXPECT_EQ(runs, 3);
}

TEST(PreviewWindowFit, FitsTheImageIntoTheScreen) {
    struct Case {
        const char* what;
        PreviewFitInput input;
        PreviewRect expected;
    };
    const PreviewRect screen{0, 23, 1440, 877};
    const Case cases[] = {
        // Width limited first, then height: k = 832 / 2000.
        {"large", {screen, 200, 150, {100, 300, 400, 300}, 2000, 3000}, {100, 23, 1268, 877}},
        // Fits as it is; a window that grows moves up to the top of the screen.
        {"small", {screen, 200, 150, {100, 300, 400, 300}, 300, 400}, {100, 555, 420, 345}},
        // Smaller than the minimum size: the minimum.
        {"tiny", {screen, 200, 150, {100, 300, 400, 300}, 20, 30}, {100, 450, 200, 150}},
        // A window that shrinks keeps its top edge at 600.
        {"shrink", {screen, 200, 150, {100, 300, 400, 300}, 200, 300}, {100, 355, 320, 245}},
        // A window off the screen comes back to its lower left.
        {"offscreen", {screen, 200, 150, {5000, 5000, 400, 300}, 300, 400}, {0, 555, 420, 345}},
        // Nothing to fit.
        {"empty", {screen, 200, 150, {100, 300, 400, 300}, 0, 400}, {100, 300, 400, 300}},
    };
    for (const Case& c : cases) {
        const PreviewRect r = FitPreviewWindow(c.input);
        EXPECT_NEAR(r.x, c.expected.x, 1e-9) << c.what;
        EXPECT_NEAR(r.y, c.expected.y, 1e-9) << c.what;
        EXPECT_NEAR(r.width, c.expected.width, 1e-9) << c.what;
        EXPECT_NEAR(r.height, c.expected.height, 1e-9) << c.what;
    }
}

TEST(PreviewWindowFit, CaptionAndRenumbering) {
    const QString caption = PreviewCaption(2, 5, "IMG (1).jpg", 300.0, 3000.0, 2000.0);
    EXPECT_EQ(caption, "2 of 5 (IMG (1).jpg @ 300 dpi, 3000 x 2000 pixels)");
    EXPECT_EQ(RenumberPreviewCaption(caption, 1, 4), "1 of 4 (IMG (1).jpg @ 300 dpi, 3000 x 2000 pixels)");
    EXPECT_EQ(RenumberPreviewCaption("", 1, 4), "");
}

TEST(PreviewWindowFit, NextAndPrevious) {
    struct Case {
        std::int64_t index, count;
        bool hidden, previous, next;
        std::int64_t afterPrevious, afterNext;
    };
    const Case cases[] = {
        {0, 1, true, false, false, 0, 0},
        {0, 3, false, false, true, 0, 1},
        {1, 3, false, true, true, 0, 2},
        {2, 3, false, true, false, 1, 2},
    };
    for (const Case& c : cases) {
        const PreviewNavigationState state = PreviewNavigation(c.index, c.count);
        EXPECT_EQ(state.hidden, c.hidden) << c.index << "/" << c.count;
        EXPECT_EQ(state.previousEnabled, c.previous) << c.index << "/" << c.count;
        EXPECT_EQ(state.nextEnabled, c.next) << c.index << "/" << c.count;
        EXPECT_EQ(PreviewIndexAfterSegment(c.index, c.count, 0), c.afterPrevious);
        EXPECT_EQ(PreviewIndexAfterSegment(c.index, c.count, 1), c.afterNext);
    }
}

}  // namespace
