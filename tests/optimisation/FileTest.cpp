#include "OptimisationTestSupport.h"

#include "optimisation/optimisation.h"

#include <stdexcept>

#include <sys/stat.h>

namespace {

using namespace optest;
using optimisation::File;

class FileTest : public OptimisationTest {
protected:
    // A file that starts like a PNG, `size` bytes long.
    fs::path PngLike(const std::string& name, std::size_t size, std::uint8_t fill) {
        Bytes bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        bytes.resize(size, fill);
        WriteBytes(Path(name), bytes);
        return Path(name);
    }

    // A File for `original` with a pending result `pending` taken.
    std::shared_ptr<File> FileWithPending(const fs::path& original, const fs::path& pending) {
        auto file = std::make_shared<File>(original.string());
        file->setByteSize(File::fileByteSize(original.string()));
        EXPECT_TRUE(file->setFilePathOptimized(pending.string(), File::fileByteSize(pending.string()), "Tool"));
        return file;
    }
};

class ProbeAgent : public optimisation::Agent {
public:
    using Agent::Agent;
    std::string_view className() const override { return "ProbeAgent"; }
    void run() override {
        ran = true;
        if (failure == 1) throw std::runtime_error("tool trouble");
        if (failure == 2) throw 42;
    }
    int failure = 0;
    bool ran = false;
};

TEST_F(FileTest, CreationTakesPathNameAndCurrentSizeWithinLimits) {
    auto small = PngLike("small.png", 20, 1);
    File tiny(small.string());
    EXPECT_EQ(tiny.byteSizeOptimized(), 0u);  // below 31
    EXPECT_EQ(tiny.byteSize(), 0u);
    EXPECT_EQ(tiny.displayName(), "small.png");
    EXPECT_EQ(tiny.fileName(), "small.png");

    File missing(Path("missing.png").string());
    EXPECT_EQ(missing.byteSizeOptimized(), 0u);
    EXPECT_EQ(File::fileByteSize(Path("missing.png").string()), 0u);

    File normal(PngLike("normal.png", 100, 1).string());
    EXPECT_EQ(normal.byteSizeOptimized(), 100u);
    EXPECT_EQ(normal.byteSize(), 0u);

    File blank;
    EXPECT_EQ(blank.fileName(), "");
    blank.setFilePath("/some/where/name.jpg");
    EXPECT_EQ(blank.displayName(), "name.jpg");
    EXPECT_EQ(blank.filePath(), "/some/where/name.jpg");
}

TEST_F(FileTest, SizeSettersKeepTheirRules) {
    File file;
    file.setByteSize(10);
    EXPECT_EQ(file.byteSize(), 0u);
    file.setByteSize(1000);
    EXPECT_EQ(file.byteSize(), 1000u);
    EXPECT_EQ(file.byteSizeOptimized(), 1000u);  // passed on while none was set
    file.setByteSize(500);
    EXPECT_EQ(file.byteSize(), 1000u);  // only the first is taken
    EXPECT_FALSE(file.isOptimized());

    File fresh;
    fresh.setByteSizeOptimized(31);
    EXPECT_EQ(fresh.byteSizeOptimized(), 31u);
    fresh.setByteSizeOptimized(40);
    EXPECT_EQ(fresh.byteSizeOptimized(), 31u);  // not smaller
    fresh.setByteSizeOptimized(30);
    EXPECT_EQ(fresh.byteSizeOptimized(), 31u);  // below 31

    // A larger optimised size is cut down to the original's.
    File larger;
    larger.setByteSizeOptimized(2000);
    larger.setByteSize(1500);
    EXPECT_EQ(larger.byteSizeOptimized(), 1500u);
}

TEST_F(FileTest, PercentAndSizeClasses) {
    File file;
    EXPECT_EQ(file.percentOptimized(), 0.0);
    file.setByteSizeOptimized(250);
    EXPECT_EQ(file.percentOptimized(), 0.0);  // byteSize still 0
    file.setByteSize(1000);
    EXPECT_DOUBLE_EQ(file.percentOptimized(), 75.0);
    EXPECT_TRUE(file.isOptimized());

    auto sized = [](std::uint64_t size) {
        auto f = std::make_shared<File>();
        f->setByteSize(size);
        return f;
    };
    EXPECT_FALSE(sized(1048576)->isLarge());
    EXPECT_TRUE(sized(1048577)->isLarge());
    EXPECT_FALSE(sized(2048)->isSmall());
    EXPECT_TRUE(sized(2047)->isSmall());
    EXPECT_FALSE(sized(1363148)->isCameraPhoto());
    EXPECT_TRUE(sized(1363149)->isCameraPhoto());
}

TEST_F(FileTest, FileTypeByFirstBytes) {
    auto type = [](std::initializer_list<std::uint8_t> bytes) {
        Bytes data(bytes);
        return File::fileType(data);
    };
    EXPECT_EQ(type({'G', 'I', 'F', '8', '9', 'a'}), 3);
    EXPECT_EQ(type({0xFF, 0xD8, 0xFF, 0xE0}), 2);
    EXPECT_EQ(type({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}), 1);
    EXPECT_EQ(type({'B', 'M'}), 0);
    EXPECT_EQ(type({0x89, 0x50, 0x4E, 0x47, 0x0D}), 0);  // shorter than the pattern
    EXPECT_EQ(type({0xFF, 0xD8}), 0);
    EXPECT_EQ(type({}), 0);
    EXPECT_EQ(File::fileTypeAtPath(PngLike("a.png", 40, 0).string()), 1);
    EXPECT_EQ(File::fileTypeAtPath(Path("none").string()), 0);
    // A FIFO under an image's name is no file to optimise, and must not block.
    ASSERT_EQ(::mkfifo(Path("pipe.png").c_str(), 0600), 0);
    EXPECT_EQ(File::fileTypeAtPath(Path("pipe.png").string()), 0);
}

TEST_F(FileTest, StatusCopyAndDescription) {
    File file(PngLike("status.png", 64, 0).string());
    file.setStatus("wait", 0, "Waiting in queue");
    EXPECT_EQ(file.statusImage(), "wait");
    EXPECT_EQ(file.statusOrder(), 0);
    file.setStatus("err", 8, "Waiting in queue");  // same text: nothing changes
    EXPECT_EQ(file.statusImage(), "wait");
    EXPECT_EQ(file.statusOrder(), 0);
    file.setStatus("progress", 3, "Inspecting file");
    EXPECT_EQ(file.statusImage(), "progress");
    EXPECT_EQ(file.statusText(), "Inspecting file");

    file.setByteSize(64);
    EXPECT_EQ(file.description(), Path("status.png").string() + " 64/64 (workers active 0, finished 0, total 0)");

    File sizes;
    sizes.setByteSize(1000);
    sizes.setByteSizeOptimized(400);
    sizes.setFilePath(Path("status.png").string());
    auto copied = sizes.copy();
    EXPECT_EQ(copied->byteSize(), 1000u);
    EXPECT_EQ(copied->byteSizeOptimized(), 400u);
    EXPECT_EQ(copied->filePath(), Path("status.png").string());
    EXPECT_EQ(copied->displayName(), "status.png");

    EXPECT_EQ(optimisation::status::format("Started %@", "JPEGOptim"), "Started JPEGOptim");
    EXPECT_EQ(optimisation::status::format("%@ failed to start", "PngOut"), "PngOut failed to start");
}

TEST_F(FileTest, PendingResultTakenOnlyWhenSmallerAndPreviousDeleted) {
    auto original = PngLike("orig.png", 1000, 1);
    auto first = PngLike("first.tmp", 600, 2);
    auto second = PngLike("second.tmp", 700, 3);
    auto third = PngLike("third.tmp", 500, 4);
    File file(original.string());
    file.setByteSize(1000);
    EXPECT_TRUE(file.setFilePathOptimized(first.string(), 600, "A"));
    EXPECT_FALSE(file.setFilePathOptimized(second.string(), 700, "B"));
    EXPECT_EQ(file.filePathOptimized(), first.string());
    EXPECT_EQ(file.bestToolName(), "A");
    EXPECT_TRUE(fs::exists(second));  // not taken: still the caller's
    EXPECT_TRUE(file.setFilePathOptimized(third.string(), 500, "C"));
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(file.byteSizeOptimized(), 500u);
    EXPECT_EQ(file.bestToolName(), "C");

    file.cleanup();
    EXPECT_FALSE(fs::exists(third));
    EXPECT_EQ(file.filePathOptimized(), "");
    EXPECT_EQ(file.filePath(), "");
    EXPECT_TRUE(fs::exists(original));
}

TEST_F(FileTest, SaveResultReplacesThroughRenameKeepingPermissions) {
    auto original = PngLike("photo.png", 1000, 1);
    ::chmod(original.c_str(), 0640);
    auto pending = PngLike("pending.tmp", 500, 2);
    const Bytes expected = ReadBytes(pending);
    auto file = FileWithPending(original, pending);

    file->saveResultAndUpdateStatus();
    EXPECT_EQ(ReadBytes(original), expected);
    EXPECT_FALSE(fs::exists(pending));
    EXPECT_EQ(file->filePathOptimized(), "");
    EXPECT_TRUE(file->isDone());
    EXPECT_EQ(file->statusImage(), "ok");
    EXPECT_EQ(file->statusOrder(), 7);
    EXPECT_EQ(file->statusText(), "Optimized successfully with Tool");
    struct stat st{};
    ASSERT_EQ(::stat(original.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_FALSE(fs::exists(Path("photo.png~")));
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
    }
}

TEST_F(FileTest, SaveResultRefusesBadResultsAndLeavesOriginal) {
    auto original = PngLike("photo.png", 1000, 1);
    const Bytes before = ReadBytes(original);

    File none(original.string());
    EXPECT_FALSE(none.saveResult());

    // The pending file went missing: the original survives the failed move.
    auto gone = PngLike("gone.tmp", 500, 2);
    auto missing = FileWithPending(original, gone);
    fs::remove(gone);
    missing->saveResultAndUpdateStatus();
    EXPECT_EQ(ReadBytes(original), before);
    EXPECT_EQ(missing->statusImage(), "err");
    EXPECT_EQ(missing->statusOrder(), 9);
    EXPECT_EQ(missing->statusText(), "Optimized file could not be saved");
    EXPECT_FALSE(missing->isDone());

    // Not the recorded size (changed behind the File's back).
    auto changed = PngLike("changed.tmp", 500, 2);
    auto resized = FileWithPending(original, changed);
    PngLike("changed.tmp", 520, 2);
    EXPECT_FALSE(resized->saveResult());
    EXPECT_EQ(ReadBytes(original), before);

    // Another type than the original's.
    Bytes gif{'G', 'I', 'F', '8', '9', 'a'};
    gif.resize(400, 0);
    WriteBytes(Path("gif.tmp"), gif);
    auto foreign = FileWithPending(original, Path("gif.tmp"));
    EXPECT_FALSE(foreign->saveResult());
    EXPECT_EQ(ReadBytes(original), before);

    // The file at the path became smaller than the result meanwhile.
    auto later = PngLike("later.tmp", 800, 2);
    auto stale = FileWithPending(original, later);
    PngLike("photo.png", 700, 5);
    EXPECT_FALSE(stale->saveResult());
    EXPECT_EQ(File::fileByteSize(original.string()), 700u);
}

TEST_F(FileTest, SaveResultMovesAnySmallerResultOfTheOriginalsKind) {
    // Neither file is an image: only the kinds must agree. Without
    // "PreservePermissions" there is no 35-byte floor.
    WriteText(Path("notes.dat"), std::string(1000, 'a'));
    WriteText(Path("short.tmp"), std::string(33, 'b'));
    auto file = FileWithPending(Path("notes.dat"), Path("short.tmp"));
    EXPECT_EQ(file->byteSizeOptimized(), 33u);
    EXPECT_TRUE(file->saveResult());
    EXPECT_EQ(ReadBytes(Path("notes.dat")), Bytes(33, 'b'));
    EXPECT_FALSE(fs::exists(Path("short.tmp")));

    // An image is never replaced by something that is not of its kind.
    auto png = PngLike("photo.png", 1000, 1);
    WriteText(Path("text.tmp"), std::string(400, 'c'));
    auto foreign = FileWithPending(png, Path("text.tmp"));
    EXPECT_FALSE(foreign->saveResult());
    EXPECT_EQ(File::fileByteSize(png.string()), 1000u);
}

TEST_F(FileTest, SaveResultPreservingPermissionsWritesInPlace) {
    Defaults().setBool(plat::defaults::kPreservePermissions, true);
    auto original = PngLike("photo.png", 1000, 1);
    const Bytes before = ReadBytes(original);

    // 34 bytes: refused before the original is touched.
    auto tiny = PngLike("tiny.tmp", 34, 2);
    auto small = FileWithPending(original, tiny);
    EXPECT_EQ(small->byteSizeOptimized(), 34u);
    EXPECT_FALSE(small->saveResult());
    EXPECT_EQ(ReadBytes(original), before);

    struct stat st{};
    ASSERT_EQ(::stat(original.c_str(), &st), 0);
    const ino_t inode = st.st_ino;
    auto pending = PngLike("pending.tmp", 600, 3);
    const Bytes expected = ReadBytes(pending);
    auto file = FileWithPending(original, pending);
    EXPECT_TRUE(file->saveResult());
    EXPECT_EQ(ReadBytes(original), expected);
    ASSERT_EQ(::stat(original.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, inode);  // the same file, cut to the new length
    EXPECT_FALSE(fs::exists(pending));
}

TEST_F(FileTest, SaveResultWithBackupKeepsTheOriginalBeside) {
    Defaults().setBool(plat::defaults::kBackupFiles, true);
    auto original = PngLike("photo.png", 1000, 1);
    const Bytes before = ReadBytes(original);
    PngLike("photo.png~", 10, 9);  // an old backup is replaced
    auto pending = PngLike("pending.tmp", 500, 2);
    const Bytes expected = ReadBytes(pending);
    auto file = FileWithPending(original, pending);
    EXPECT_TRUE(file->saveResult());
    EXPECT_EQ(ReadBytes(original), expected);
    EXPECT_EQ(ReadBytes(Path("photo.png~")), before);

    Defaults().setBool(plat::defaults::kPreservePermissions, true);
    auto again = PngLike("again.tmp", 400, 3);
    auto second = FileWithPending(original, again);
    EXPECT_TRUE(second->saveResult());
    EXPECT_EQ(ReadBytes(Path("photo.png~")), expected);
    EXPECT_EQ(File::fileByteSize(original.string()), 400u);
}

TEST_F(FileTest, AgentMainReportsStartAndFinishEvenWhenRunThrows) {
    auto file = std::make_shared<File>(PngLike("a.png", 100, 1).string());
    for (int failure : {0, 1, 2}) {
        auto agent = std::make_shared<ProbeAgent>(file);
        agent->failure = failure;
        agent->start();
        EXPECT_TRUE(agent->ran);
        EXPECT_TRUE(agent->isFinished());
    }
    EXPECT_EQ(file->workersActive(), 0u);
    EXPECT_EQ(file->workersFinished(), 3u);
    // byteSize was never set.
    EXPECT_EQ(file->statusText(), "Size of optimized file is 0");
    EXPECT_EQ(file->statusImage(), "err");
    EXPECT_EQ(file->statusOrder(), 8);
    // Sizes known, but not every agent of the file has finished.
    file->setByteSize(100);
    std::make_shared<ProbeAgent>(file)->start();
    EXPECT_EQ(file->statusText(), "Waiting to start more optimizations");
    EXPECT_EQ(file->statusImage(), "wait");
    EXPECT_EQ(file->statusOrder(), 2);

    auto agent = std::make_shared<ProbeAgent>(file);
    EXPECT_TRUE(agent->isRelatedTo(file.get()));
    EXPECT_FALSE(agent->isRelatedTo(nullptr));
    EXPECT_EQ(agent->delegate(), file);
    EXPECT_FALSE(agent->makesNonOptimizingModifications());
    const std::string description = agent->description();
    EXPECT_TRUE(description.starts_with("ProbeAgent ")) << description;
    EXPECT_NE(description.find(" ready 1, running 0, deleg " + file->description()), std::string::npos)
        << description;
}

TEST_F(FileTest, StartedStatusNamesTheAgentWithoutAgent) {
    auto file = std::make_shared<File>(PngLike("a.png", 100, 1).string());
    file->workerHasStarted(optimisation::JPEGOptimAgent(file));
    EXPECT_EQ(file->statusText(), "Started JPEGOptim");
    EXPECT_EQ(file->statusImage(), "progress");
    EXPECT_EQ(file->statusOrder(), 4);
    file->workerHasStarted(optimisation::KSMPngCrushAgent(file));
    EXPECT_EQ(file->statusText(), "Started KSMPngCrush");
    EXPECT_EQ(file->workersActive(), 2u);
    EXPECT_TRUE(file->isBusy());
}

}  // namespace
