// How every agent's replacement treats the file it replaces: symbolic links,
// hard links, extended attributes, other owners, files and folders the user
// may not change, FIFOs, the two preferences, and the status it leaves.

#include "OptimisationTestSupport.h"

#include "optimisation/optimisation.h"

#include <functional>
#include <tuple>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using namespace optest;
using optimisation::File;

class ReplacementTest : public OptimisationTest {
protected:
    // A fresh image of the agent's type that every tool can shrink.
    fs::path Fresh(const std::string& name, const std::string& extension) {
        const fs::path path = Path(name + "." + extension);
        WriteBytes(path, extension == "png" ? MakeStoredPng(64, 48) : MakeJpeg(64, 48, true));
        return path;
    }
    static struct stat Stat(const fs::path& path) {
        struct stat st{};
        ::lstat(path.c_str(), &st);
        return st;
    }
};

TEST_F(ReplacementTest, SymbolicLinkStaysAndItsTargetIsOptimised) {
    fs::create_directories(Path("photos"));
    for (const auto& agent : InPlaceAgents()) {
        const fs::path target = Fresh(std::string("photos/target-") + agent.tool, agent.extension);
        const Bytes pixels = DecodePixels(target);
        const auto before = File::fileByteSize(target.string());
        const fs::path link = Path(std::string("link-") + agent.tool + "." + agent.extension);
        fs::create_symlink(fs::path("photos") / target.filename(), link);
        auto file = std::make_shared<File>(link.string());
        agent.run(file);
        EXPECT_TRUE(fs::is_symlink(link)) << agent.tool;
        EXPECT_EQ(fs::read_symlink(link), fs::path("photos") / target.filename()) << agent.tool;
        EXPECT_LT(File::fileByteSize(target.string()), before) << agent.tool;
        EXPECT_EQ(DecodePixels(target), pixels) << agent.tool;
        EXPECT_EQ(file->filePath(), link.string());
    }
    // The queue path's save follows the link too.
    WriteBytes(Path("photos/anim.gif"), MakeLiteralGif(48, 32));
    fs::create_symlink("photos/anim.gif", Path("link.gif"));
    auto gif = std::make_shared<File>(Path("link.gif").string());
    gif->setByteSize(File::fileByteSize(Path("link.gif").string()));
    optimisation::GifsicleAgent(gif).run();
    ASSERT_TRUE(gif->saveResult());
    EXPECT_TRUE(fs::is_symlink(Path("link.gif")));
    EXPECT_EQ(File::fileByteSize(Path("photos/anim.gif").string()), gif->byteSizeOptimized());
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

TEST_F(ReplacementTest, HardLinksOwnersAndExtendedAttributesAreKept) {
    for (const auto& agent : InPlaceAgents()) {
        // Two names for one file: both see the optimised bytes.
        const fs::path linked = Fresh(std::string("linked-") + agent.tool, agent.extension);
        const fs::path other = Path(std::string("other-name-") + agent.tool);
        fs::create_hard_link(linked, other);
        const ino_t inode = Stat(linked).st_ino;
        const auto before = File::fileByteSize(linked.string());
        agent.run(std::make_shared<File>(linked.string()));
        EXPECT_LT(File::fileByteSize(linked.string()), before) << agent.tool;
        EXPECT_EQ(Stat(linked).st_ino, inode) << agent.tool;
        EXPECT_EQ(ReadBytes(other), ReadBytes(linked)) << agent.tool;

        // Extended attributes survive the replacement by rename.
        const fs::path tagged = Fresh(std::string("tagged-") + agent.tool, agent.extension);
        if (::setxattr(tagged.c_str(), "user.xdg.comment", "harbour", 7, 0) != 0) {
            GTEST_SKIP() << "no extended attributes on this filesystem";
        }
        agent.run(std::make_shared<File>(tagged.string()));
        char value[16] = {};
        EXPECT_EQ(::getxattr(tagged.c_str(), "user.xdg.comment", value, sizeof value), 7) << agent.tool;
        EXPECT_EQ(std::string(value), "harbour") << agent.tool;
        EXPECT_LT(File::fileByteSize(tagged.string()), File::fileByteSize(Fresh("plain", agent.extension).string()));
    }
    if (::geteuid() == 0) {
        // Someone else's file that we may write: written in place, so it
        // stays theirs.
        const fs::path theirs = Fresh("theirs", "png");
        ASSERT_EQ(::chown(theirs.c_str(), 4242, 4242), 0);
        const auto before = File::fileByteSize(theirs.string());
        optimisation::KSMPngCrushAgent(std::make_shared<File>(theirs.string())).run();
        EXPECT_LT(File::fileByteSize(theirs.string()), before);
        EXPECT_EQ(Stat(theirs).st_uid, 4242u);
        EXPECT_EQ(Stat(theirs).st_gid, 4242u);
    }
}

TEST_F(ReplacementTest, PreferencesHoldOnEveryAgent) {
    Defaults().setBool(plat::defaults::kBackupFiles, true);
    for (bool preserve : {false, true}) {
        Defaults().setBool(plat::defaults::kPreservePermissions, preserve);
        for (const auto& agent : InPlaceAgents()) {
            const std::string name = std::string(preserve ? "kept-" : "moved-") + agent.tool;
            const fs::path path = Fresh(name, agent.extension);
            const Bytes original = ReadBytes(path);
            const ino_t inode = Stat(path).st_ino;
            auto file = std::make_shared<File>(path.string());
            agent.run(file);
            EXPECT_LT(File::fileByteSize(path.string()), original.size()) << name;
            EXPECT_EQ(ReadBytes(path.string() + "~"), original) << name;
            EXPECT_EQ(Stat(path).st_ino == inode, preserve) << name;
            // A second agent on the same job keeps the first original as the backup.
            optimisation::KSMPngCrushAgent(file).run();
            optimisation::JPEGTranAgent(file).run();
            EXPECT_EQ(ReadBytes(path.string() + "~"), original) << name;
        }
    }
}

TEST_F(ReplacementTest, BackupOfFileWrittenInPlaceIsLikeTheOriginal) {
    // Written in place by preference or (for the superuser) because the file
    // is someone else's, so it stays theirs: the backup is a copy, which must
    // not become ours.
    Defaults().setBool(plat::defaults::kBackupFiles, true);
    struct Case {
        const char* name;
        bool preserve;
        uid_t owner;
        gid_t group;
    };
    std::vector<Case> cases{{"ours", true, ::geteuid(), ::getegid()}};
    if (::geteuid() == 0) cases.insert(cases.end(), {{"theirs", false, 4242, 4343}, {"kept", true, 4242, 4343}});
    for (const auto& c : cases) {
        Defaults().setBool(plat::defaults::kPreservePermissions, c.preserve);
        const fs::path path = Fresh(c.name, "png");
        const Bytes original = ReadBytes(path);
        ASSERT_EQ(::chown(path.c_str(), c.owner, c.group) | ::chmod(path.c_str(), 0640), 0);
        if (::setxattr(path.c_str(), "user.xdg.tags", "boats", 5, 0) != 0) GTEST_SKIP() << "no extended attributes";
        const auto modified = Stat(path).st_mtim.tv_sec;
        optimisation::OptiPNGAgent(std::make_shared<File>(path.string())).run();
        ASSERT_LT(File::fileByteSize(path.string()), original.size()) << c.name;
        EXPECT_EQ(std::pair(Stat(path).st_uid, Stat(path).st_gid), std::pair(c.owner, c.group)) << c.name;
        const std::string backup = path.string() + "~";
        EXPECT_EQ(ReadBytes(backup), original) << c.name;
        const struct stat st = Stat(backup);
        EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777, st.st_mtim.tv_sec),
                  std::tuple(c.owner, c.group, 0640u, modified))
            << c.name;
        EXPECT_EQ(::getxattr(backup.c_str(), "user.xdg.tags", nullptr, 0), 5) << c.name;
    }
    if (::geteuid() != 0) return;
    // An ordinary user's file in a group that user is not in: the group
    // cannot go to the copy, which is made all the same.
    const fs::path theirs = Fresh("nobodys", "png");
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 4343), 0);
    ASSERT_TRUE(AsOrdinaryUser([&] {
        optimisation::OptiPNGAgent(std::make_shared<File>(theirs.string())).run();
        return Stat(theirs.string() + "~").st_uid == 65534 && Stat(theirs.string() + "~").st_mode == Stat(theirs).st_mode;
    }));
}

// A user in the group of the superuser's file, which that group may write:
// the copy cannot be the superuser's, but it keeps the group.
TEST_F(ReplacementTest, BackupKeepsTheGroupWhereTheOwnerCannotBeKept) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser to make the file and the user";
    constexpr gid_t kUsers = 100;
    Defaults().setBool(plat::defaults::kBackupFiles, true);
    for (bool preserve : {false, true}) {
        Defaults().setBool(plat::defaults::kPreservePermissions, preserve);
        const fs::path path = Fresh(preserve ? "shared-kept" : "shared", "png");
        const Bytes original = ReadBytes(path);
        ASSERT_EQ(::chown(path.c_str(), 0, kUsers) | ::chmod(path.c_str(), 0664), 0);
        ASSERT_TRUE(AsOrdinaryUser(
            [&] {
                optimisation::OptiPNGAgent(std::make_shared<File>(path.string())).run();
                return File::fileByteSize(path.string()) < original.size();
            },
            {kUsers}));
        EXPECT_EQ(std::pair(Stat(path).st_uid, Stat(path).st_gid), std::pair(0u, kUsers)) << preserve;
        const struct stat backup = Stat(path.string() + "~");
        EXPECT_EQ(ReadBytes(path.string() + "~"), original) << preserve;
        EXPECT_EQ(std::tuple(backup.st_uid, backup.st_gid, backup.st_mode & 07777), std::tuple(65534u, kUsers, 0664u))
            << preserve;
    }
}

TEST_F(ReplacementTest, FilesTheUserMayNotChangeAreLeftAlone) {
    // Read-only, and (for an ordinary user) someone else's file.
    const fs::path readOnly = Fresh("read-only", "png");
    ::chmod(readOnly.c_str(), 0444);
    const fs::path foreign = Fresh("foreign", "jpg");
    const Bytes readOnlyBytes = ReadBytes(readOnly);
    const Bytes foreignBytes = ReadBytes(foreign);
    fs::create_directories(Path("locked"));
    const fs::path inLocked = Fresh("locked/inside", "png");
    const Bytes lockedBytes = ReadBytes(inLocked);
    const bool asRoot = ::geteuid() == 0;
    ASSERT_TRUE(AsOrdinaryUser([&] {
        bool ok = true;
        for (const auto& agent : InPlaceAgents()) {
            const fs::path& path = std::string(agent.extension) == "png" ? readOnly : foreign;
            auto file = std::make_shared<File>(path.string());
            agent.run(file);
            const bool isReadOnly = path == readOnly;
            if (isReadOnly || asRoot) {
                ok = ok && ReadBytes(path) == (isReadOnly ? readOnlyBytes : foreignBytes) &&
                     file->statusText() == "File is not writable" && file->statusImage() == "err";
            }
        }
        return ok;
    }));

    // A file we may write in a folder we may not: the tool's result cannot be
    // put in place, and the status says so.
    if (asRoot) ::chown(inLocked.c_str(), 65534, 65534);
    ::chmod(Path("locked").c_str(), 0555);
    ASSERT_TRUE(AsOrdinaryUser([&] {
        auto file = std::make_shared<File>(inLocked.string());
        optimisation::OptiPNGAgent(file).run();
        return ReadBytes(inLocked) == lockedBytes && file->statusText() == "Optimized file could not be saved" &&
               file->statusImage() == "err" && LeftoverWorkingFiles().empty();
    }));
    ::chmod(Path("locked").c_str(), 0755);
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("locked")), fs::directory_iterator()), 1);
}

TEST_F(ReplacementTest, StatusesTellWhatHappened) {
    // The application's road: one agent, its outcome on the File.
    for (const auto& agent : InPlaceAgents()) {
        const fs::path path = Fresh(std::string("status-") + agent.tool, agent.extension);
        const auto before = File::fileByteSize(path.string());
        auto file = std::make_shared<File>(path.string());
        agent.run(file);
        EXPECT_EQ(file->statusText(), std::string("Optimized successfully with ") + agent.tool);
        EXPECT_EQ(file->statusImage(), "ok");
        EXPECT_EQ(file->statusOrder(), 7);
        EXPECT_EQ(file->byteSize(), before);
        EXPECT_EQ(file->byteSizeOptimized(), File::fileByteSize(path.string()));
        EXPECT_GT(file->percentOptimized(), 0.0);

        auto again = std::make_shared<File>(path.string());
        agent.run(again);
        EXPECT_EQ(again->statusText(), "File cannot be optimized any further") << agent.tool;
        EXPECT_EQ(again->statusOrder(), 5);
    }
    // The queue path: in-place agents that shrank the file end with success.
    for (const char* extension : {"png", "jpg"}) {
        const fs::path path = Fresh("queued", extension);
        const auto before = File::fileByteSize(path.string());
        auto file = RunQueue(path);
        EXPECT_EQ(file->statusImage(), "ok") << extension;
        EXPECT_TRUE(file->statusText().starts_with("Optimized successfully with ")) << file->statusText();
        EXPECT_TRUE(file->isDone());
        EXPECT_EQ(file->byteSize(), before);
        EXPECT_EQ(file->byteSizeOptimized(), File::fileByteSize(path.string()));
        EXPECT_LT(file->byteSizeOptimized(), before);
    }
}

TEST_F(ReplacementTest, FifoNamedLikeAnImageBlocksNoTool) {
    std::vector<InPlaceAgent> agents = InPlaceAgents();
    agents.push_back({"Gifsicle", "gif", [](auto file) { optimisation::GifsicleAgent(file).run(); }});
    for (const auto& agent : agents) {
        const fs::path fifo = Path(std::string("pipe-") + agent.tool + "." + agent.extension);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
        auto file = std::make_shared<File>(fifo.string());
        agent.run(file);  // would wait for a writer for ever
        EXPECT_EQ(file->statusText(), "File is not a regular file") << agent.tool;
        EXPECT_TRUE(fs::is_fifo(fifo));
    }

    Defaults().setBool(plat::defaults::kPngCrushEnabled, true);
    auto queued = std::make_shared<File>(Path("pipe-PngCrush.png").string());
    plat::OperationQueue cpu(1);
    plat::OperationQueue io(1);
    queued->enqueueWorkersInCPUQueue(cpu, io);
    io.waitUntilAllOperationsAreFinished();
    cpu.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(queued->statusText(), "File is not a regular file");
    EXPECT_EQ(queued->workersTotal(), 0u);
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

}  // namespace
