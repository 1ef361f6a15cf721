// The queue path: inspection, the two agent lists from the user defaults,
// priorities and dependencies on the CPU queue, and the statuses to the end.

#include "OptimisationTestSupport.h"

#include "optimisation/optimisation.h"
#include "platform/OperationQueue.h"

#include <future>
#include <typeinfo>

namespace {

using namespace optest;
using optimisation::Agent;
using optimisation::File;

class QueueTest : public OptimisationTest {
protected:
    void SetUp() override {
        OptimisationTest::SetUp();
        WriteBytes(Path("a.png"), MakeStoredPng(32, 32));
        WriteBytes(Path("a.jpg"), MakeJpeg(32, 32, true));
        WriteBytes(Path("a.gif"), MakeLiteralGif(32, 32));
        WriteBytes(Path("a.bmp"), Bytes{'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    }

    void Enable(std::initializer_list<std::string_view> keys) {
        for (auto key : keys) Defaults().setBool(key, true);
    }

    // Every tool is a fake that changes nothing.
    void FakeAllTools() {
        for (auto tool : {plat::Tool::JpegOptim, plat::Tool::PngCrush, plat::Tool::Gifsicle, plat::Tool::OptiPng,
                          plat::Tool::AdvPng, plat::Tool::JpegTran}) {
            UseFakeTool(tool, "exit 1");
        }
    }

    // Inspects the file with the CPU queue held busy, so that the queued
    // agents can be looked at before they run; then lets them run.
    struct Inspected {
        std::vector<std::shared_ptr<Agent>> agents;
        std::string statusWhileWaiting;
    };
    Inspected Inspect(const std::shared_ptr<File>& file, bool runAfterwards = true) {
        plat::OperationQueue cpu(1);
        plat::OperationQueue io(1);
        std::promise<void> gate;
        auto open = gate.get_future().share();
        cpu.addOperation([open] { open.wait(); });
        file->enqueueWorkersInCPUQueue(cpu, io);
        io.waitUntilAllOperationsAreFinished();

        Inspected result;
        result.statusWhileWaiting = file->statusText();
        for (const auto& worker : file->workers()) {
            if (auto agent = std::dynamic_pointer_cast<Agent>(worker)) result.agents.push_back(agent);
        }
        if (!runAfterwards) {
            for (const auto& agent : result.agents) agent->cancel();
        }
        gate.set_value();
        cpu.waitUntilAllOperationsAreFinished();
        io.waitUntilAllOperationsAreFinished();
        return result;
    }

    static std::string Name(const std::shared_ptr<Agent>& agent) { return std::string(agent->className()); }
    static bool DependsOn(const std::shared_ptr<Agent>& agent, const std::shared_ptr<Agent>& other) {
        for (const auto& dependency : agent->dependencies()) {
            if (dependency == other) return true;
        }
        return false;
    }
};

TEST_F(QueueTest, PngCrushAndAdvPngRunSideBySide) {
    FakeAllTools();
    Enable({plat::defaults::kPngCrushEnabled, plat::defaults::kAdvPngEnabled});
    auto file = std::make_shared<File>(Path("a.png").string());
    auto inspected = Inspect(file);
    EXPECT_EQ(inspected.statusWhileWaiting, "Waiting to be optimized");
    ASSERT_EQ(inspected.agents.size(), 2u);
    EXPECT_EQ(Name(inspected.agents[0]), "KSMPngCrushAgent");
    EXPECT_EQ(Name(inspected.agents[1]), "AdvCompAgent");
    for (const auto& agent : inspected.agents) {
        EXPECT_TRUE(agent->dependencies().empty());
        EXPECT_EQ(agent->queuePriority(), plat::Operation::Normal);
    }
    EXPECT_EQ(file->workersTotal(), 2u);
    EXPECT_EQ(file->workersFinished(), 2u);
    EXPECT_FALSE(file->isBusy());
    EXPECT_EQ(file->byteSize(), File::fileByteSize(Path("a.png").string()));
    // Nothing came out smaller.
    EXPECT_EQ(file->statusImage(), "noopt");
    EXPECT_EQ(file->statusOrder(), 5);
    EXPECT_EQ(file->statusText(), "File cannot be optimized any further");
    EXPECT_TRUE(file->isDone());
    EXPECT_EQ(FakeRuns().size(), 2u);
}

TEST_F(QueueTest, EveryPngAgentAndPngOutChunkRemovalFirst) {
    FakeAllTools();
    Enable({plat::defaults::kPngCrushEnabled, plat::defaults::kOptiPngEnabled, plat::defaults::kPngOutEnabled,
            plat::defaults::kAdvPngEnabled});
    auto file = std::make_shared<File>(Path("a.png").string());
    auto lossless = Inspect(file);
    ASSERT_EQ(lossless.agents.size(), 4u);
    EXPECT_EQ(Name(lossless.agents[0]), "KSMPngCrushAgent");
    EXPECT_EQ(Name(lossless.agents[1]), "OptiPNGAgent");
    EXPECT_EQ(Name(lossless.agents[2]), "PNGOutAgent");
    EXPECT_EQ(Name(lossless.agents[3]), "AdvCompAgent");
    for (const auto& agent : lossless.agents) EXPECT_TRUE(agent->dependencies().empty());
    // No pngout executable: the tool switched itself off.
    EXPECT_FALSE(Defaults().boolForKey(plat::defaults::kPngOutEnabled));
    EXPECT_TRUE(LeftoverWorkingFiles().empty());

    Enable({plat::defaults::kPngOutEnabled, plat::defaults::kPngOutRemoveChunks});
    auto second = std::make_shared<File>(Path("a.png").string());
    auto chunks = Inspect(second);
    ASSERT_EQ(chunks.agents.size(), 4u);
    EXPECT_EQ(Name(chunks.agents[0]), "PNGOutAgent");  // the first list comes first
    EXPECT_EQ(chunks.agents[0]->queuePriority(), plat::Operation::Low);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_TRUE(DependsOn(chunks.agents[i], chunks.agents[0])) << Name(chunks.agents[i]);
        EXPECT_EQ(chunks.agents[i]->queuePriority(), plat::Operation::Normal);
    }
    EXPECT_EQ(Name(chunks.agents[1]), "KSMPngCrushAgent");
    EXPECT_EQ(Name(chunks.agents[2]), "OptiPNGAgent");
    EXPECT_EQ(Name(chunks.agents[3]), "AdvCompAgent");
}

TEST_F(QueueTest, JpegTranWaitsForJpegOptim) {
    FakeAllTools();
    Enable({plat::defaults::kJpegOptimEnabled, plat::defaults::kJpegTranEnabled});
    auto file = std::make_shared<File>(Path("a.jpg").string());
    auto inspected = Inspect(file);
    ASSERT_EQ(inspected.agents.size(), 2u);
    EXPECT_EQ(Name(inspected.agents[0]), "JPEGOptimAgent");
    EXPECT_EQ(Name(inspected.agents[1]), "JPEGTranAgent");
    EXPECT_EQ(inspected.agents[0]->queuePriority(), plat::Operation::Low);
    EXPECT_TRUE(inspected.agents[0]->dependencies().empty());
    EXPECT_TRUE(DependsOn(inspected.agents[1], inspected.agents[0]));
    auto runs = FakeRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0][0], "JpegOptim");
    EXPECT_EQ(runs[1][0], "jpegtran");

    // Only jpegtran: no dependency at all.
    Defaults().setBool(plat::defaults::kJpegOptimEnabled, false);
    auto alone = Inspect(std::make_shared<File>(Path("a.jpg").string()));
    ASSERT_EQ(alone.agents.size(), 1u);
    EXPECT_EQ(Name(alone.agents[0]), "JPEGTranAgent");
    EXPECT_TRUE(alone.agents[0]->dependencies().empty());
}

TEST_F(QueueTest, GifGetsPlainAndInterlacedGifsicle) {
    FakeAllTools();
    Enable({plat::defaults::kGifsicleEnabled, plat::defaults::kPngCrushEnabled, plat::defaults::kJpegOptimEnabled});
    auto inspected = Inspect(std::make_shared<File>(Path("a.gif").string()));
    ASSERT_EQ(inspected.agents.size(), 2u);
    auto first = std::dynamic_pointer_cast<optimisation::GifsicleAgent>(inspected.agents[0]);
    auto second = std::dynamic_pointer_cast<optimisation::GifsicleAgent>(inspected.agents[1]);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(first->interlace());
    EXPECT_TRUE(second->interlace());
    EXPECT_TRUE(first->dependencies().empty());
    EXPECT_TRUE(second->dependencies().empty());
}

TEST_F(QueueTest, FailureTextsOfInspection) {
    Enable({plat::defaults::kPngCrushEnabled, plat::defaults::kGifsicleEnabled});

    auto bmp = std::make_shared<File>(Path("a.bmp").string());
    auto wrong = Inspect(bmp);
    EXPECT_TRUE(wrong.agents.empty());
    EXPECT_EQ(bmp->statusText(), "File is neither PNG, GIF nor JPEG");
    EXPECT_EQ(bmp->statusImage(), "err");
    EXPECT_EQ(bmp->statusOrder(), 8);
    EXPECT_EQ(bmp->filePath(), "");  // ended with cleanup

    auto missing = std::make_shared<File>(Path("missing.png").string());
    Inspect(missing);
    EXPECT_EQ(missing->statusText(), "Can't map file into memory");
    WriteBytes(Path("empty.png"), {});
    auto empty = std::make_shared<File>(Path("empty.png").string());
    Inspect(empty);
    EXPECT_EQ(empty->statusText(), "Can't map file into memory");
    EXPECT_EQ(empty->statusOrder(), 8);

    auto jpeg = std::make_shared<File>(Path("a.jpg").string());
    auto none = Inspect(jpeg);
    EXPECT_TRUE(none.agents.empty());
    EXPECT_EQ(jpeg->statusText(), "All neccessary tools have been disabled in Preferences");
    EXPECT_EQ(jpeg->statusOrder(), 8);
    EXPECT_EQ(jpeg->workersTotal(), 0u);
    EXPECT_FALSE(jpeg->isBusy());
}

TEST_F(QueueTest, WithNoKeySetAnyPngHasNoTools) {
    auto file = std::make_shared<File>(Path("a.png").string());
    Inspect(file);
    EXPECT_EQ(file->statusText(), "All neccessary tools have been disabled in Preferences");
}

TEST_F(QueueTest, InspectionPriorityAndWaitingStatus) {
    plat::OperationQueue cpu(1);
    plat::OperationQueue io(1);
    std::promise<void> ioGate;
    auto ioOpen = ioGate.get_future().share();
    io.addOperation([ioOpen] { ioOpen.wait(); });

    auto idle = std::make_shared<File>(Path("a.png").string());
    idle->enqueueWorkersInCPUQueue(cpu, io);  // CPU queue below its limit
    EXPECT_EQ(idle->statusText(), "Waiting in queue");
    EXPECT_EQ(idle->statusOrder(), 0);
    EXPECT_EQ(idle->workersActive(), 1u);
    EXPECT_EQ(idle->fileIOQueue(), &io);
    EXPECT_TRUE(idle->isBusy());
    ASSERT_EQ(idle->workers().size(), 1u);
    EXPECT_EQ(idle->workers()[0]->queuePriority(), plat::Operation::High);

    std::promise<void> cpuGate;
    auto cpuOpen = cpuGate.get_future().share();
    cpu.addOperation([cpuOpen] { cpuOpen.wait(); });
    auto busy = std::make_shared<File>(Path("a.jpg").string());
    busy->enqueueWorkersInCPUQueue(cpu, io);  // CPU queue full
    ASSERT_EQ(busy->workers().size(), 1u);
    EXPECT_EQ(busy->workers()[0]->queuePriority(), plat::Operation::Normal);

    ioGate.set_value();
    cpuGate.set_value();
    io.waitUntilAllOperationsAreFinished();
    cpu.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(idle->workersActive(), 0u);
}

TEST_F(QueueTest, RealGifRunSavesTheBestResult) {
    Enable({plat::defaults::kGifsicleEnabled});
    const Bytes pixels = DecodePixels(Path("a.gif"));
    const auto before = File::fileByteSize(Path("a.gif").string());
    auto file = std::make_shared<File>(Path("a.gif").string());
    Inspect(file);
    EXPECT_EQ(file->statusImage(), "ok");
    EXPECT_EQ(file->statusOrder(), 7);
    EXPECT_TRUE(file->statusText() == "Optimized successfully with Gifsicle" ||
                file->statusText() == "Optimized successfully with Gifsicle interlaced")
        << file->statusText();
    EXPECT_TRUE(file->isDone());
    EXPECT_LT(File::fileByteSize(Path("a.gif").string()), before);
    EXPECT_EQ(File::fileByteSize(Path("a.gif").string()), file->byteSizeOptimized());
    EXPECT_EQ(DecodePixels(Path("a.gif")), pixels);
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

TEST_F(QueueTest, RealPngRunWithEveryToolShrinksOnce) {
    Enable({plat::defaults::kPngCrushEnabled, plat::defaults::kOptiPngEnabled, plat::defaults::kAdvPngEnabled});
    WriteBytes(Path("big.png"), MakeStoredPng(96, 96));
    const Bytes pixels = DecodePixels(Path("big.png"));
    const auto before = File::fileByteSize(Path("big.png").string());
    auto file = std::make_shared<File>(Path("big.png").string());
    Inspect(file);
    EXPECT_FALSE(file->isBusy());
    EXPECT_EQ(file->workersFinished(), 3u);
    EXPECT_LT(File::fileByteSize(Path("big.png").string()), before);
    EXPECT_EQ(DecodePixels(Path("big.png")), pixels);
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
    }
}

TEST_F(QueueTest, SameFileQueuedSeveralTimesReportsWhatHappenedToIt) {
    // Real tools: one whose result the queue saves, ones that replace the
    // file themselves. Every job is inspected before any agent runs.
    for (const auto& [name, key] : {std::pair{"a.gif", plat::defaults::kGifsicleEnabled},
                                    {"a.png", plat::defaults::kAdvPngEnabled},
                                    {"a.jpg", plat::defaults::kJpegTranEnabled}}) {
        Enable({key});
        const auto before = File::fileByteSize(Path(name).string());
        plat::OperationQueue cpu(2);
        plat::OperationQueue io(1);
        std::promise<void> gate;
        cpu.addOperation([open = gate.get_future().share()] { open.wait(); });
        std::vector<std::shared_ptr<File>> jobs;
        for (int i = 0; i < 5; ++i) {
            jobs.push_back(std::make_shared<File>(Path(name).string()));
            jobs.back()->enqueueWorkersInCPUQueue(cpu, io);
        }
        io.waitUntilAllOperationsAreFinished();
        gate.set_value();
        for (int round = 0; round < 3; ++round) {
            cpu.waitUntilAllOperationsAreFinished();
            io.waitUntilAllOperationsAreFinished();
        }
        const auto after = File::fileByteSize(Path(name).string());
        EXPECT_LT(after, before) << name;
        for (const auto& job : jobs) {
            EXPECT_TRUE(job->statusText().starts_with("Optimized successfully with ")) << name << job->statusText();
            EXPECT_TRUE(job->isDone());
            EXPECT_EQ(job->byteSizeOptimized(), after) << name;
        }
        EXPECT_TRUE(LeftoverWorkingFiles().empty());
        Defaults().setBool(key, false);
    }
}

TEST_F(QueueTest, CleanupCancelsAgentsNotYetRun) {
    FakeAllTools();
    Enable({plat::defaults::kJpegOptimEnabled, plat::defaults::kJpegTranEnabled});
    auto file = std::make_shared<File>(Path("a.jpg").string());
    plat::OperationQueue cpu(1);
    plat::OperationQueue io(1);
    std::promise<void> gate;
    auto open = gate.get_future().share();
    cpu.addOperation([open] { open.wait(); });
    file->enqueueWorkersInCPUQueue(cpu, io);
    io.waitUntilAllOperationsAreFinished();
    auto workers = file->workers();
    file->cleanup();
    for (const auto& worker : workers) EXPECT_TRUE(worker->isCancelled());
    gate.set_value();
    cpu.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(FakeRuns().empty());
}

}  // namespace
