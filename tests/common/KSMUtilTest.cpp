#include "common/KSMUtil.h"
#include "platform/FileManager.h"
#include "platform/SystemVersion.h"
#include "platform/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

void touch(const fs::path& path, const std::string& text = "x") {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int entryCount(const fs::path& folder) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
    return count;
}

mode_t modeOf(const fs::path& path) {
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(UniqueNames, NumbersFollowTheNameWithASpace) {
    ScratchFolder folder;
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "photo", "jpg", false), folder / "photo.jpg");
    touch(folder / "photo.jpg");
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "photo", "jpg", false), folder / "photo 1.jpg");
    touch(folder / "photo 1.jpg");
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "photo", "jpg", false), folder / "photo 2.jpg");
    // A folder of the name counts as taken too.
    fs::create_directory(folder / "photo 2.jpg");
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "photo", "jpg", false), folder / "photo 3.jpg");
    EXPECT_EQ(GetUniqueFileURLForFile(folder.path(), "/elsewhere/photo.png", "jpg", false), folder / "photo 3.jpg");
}

TEST(UniqueNames, ARunOfNamesGoesOnFromTheLastNumberTaken) {
    ScratchFolder folder;
    touch(folder / "page.png");
    touch(folder / "page 2.png");
    long next = 0;
    EXPECT_EQ(GetNextUniqueFileURL(folder.path(), "page", "png", next), folder / "page 1.png");
    EXPECT_EQ(next, 2);
    EXPECT_EQ(GetNextUniqueFileURL(folder.path(), "page", "png", next), folder / "page 3.png");
    // Names taken since are still passed over; earlier gaps are not searched again.
    touch(folder / "page 4.png");
    EXPECT_EQ(GetNextUniqueFileURL(folder.path(), "page", "png", next), folder / "page 5.png");
    long fresh = 0;
    EXPECT_EQ(GetNextUniqueFileURL(folder.path(), "notes", "", fresh), folder / "notes");
    EXPECT_EQ(GetNextUniqueFileURL(folder.path(), "notes", "", fresh), folder / "notes 1");
}

TEST(UniqueNames, WithoutAnExtension) {
    ScratchFolder folder;
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "notes", "", false), folder / "notes");
    touch(folder / "notes");
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "notes", "", false), folder / "notes 1");
    touch(folder / "notes 1");
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "notes", "", false), folder / "notes 2");
}

TEST(UniqueNames, OverwriteRemovesTheExistingFile) {
    ScratchFolder folder;
    touch(folder / "photo.jpg");
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "photo", "jpg", true), folder / "photo.jpg");
    EXPECT_FALSE(fs::exists(folder / "photo.jpg"));
}

TEST(UniqueNames, OverwriteMovesOnWhenRemovalFails) {
    ScratchFolder folder;
    // A folder under the name is never removed: the next name is tried,
    // and removed in turn when it is a file.
    fs::create_directory(folder / "photo.jpg");
    touch(folder / "photo.jpg" / "inside");
    touch(folder / "photo 1.jpg");
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "photo", "jpg", true), folder / "photo 1.jpg");
    EXPECT_TRUE(fs::exists(folder / "photo.jpg" / "inside"));
    EXPECT_FALSE(fs::exists(folder / "photo 1.jpg"));
    // Both blocked: the first free name.
    fs::create_directory(folder / "photo 1.jpg");
    EXPECT_EQ(GetUniqueFileURL(folder.path(), "photo", "jpg", true), folder / "photo 2.jpg");
}

TEST(UniqueNames, Folders) {
    ScratchFolder folder;
    EXPECT_EQ(GetUniqueFolderURL(folder.path(), "Album", false), folder / "Album");
    EXPECT_FALSE(fs::exists(folder / "Album"));
    EXPECT_EQ(GetUniqueFolderURL(folder.path(), "Album", true), folder / "Album");
    EXPECT_TRUE(fs::is_directory(folder / "Album"));
    EXPECT_EQ(GetUniqueFolderURL(folder.path(), "Album", true), folder / "Album 1");
    EXPECT_TRUE(fs::is_directory(folder / "Album 1"));
    // A regular file of the name does not count, so creating fails there.
    touch(folder / "Loose");
    EXPECT_TRUE(GetUniqueFolderURL(folder.path(), "Loose", true).empty());
    EXPECT_EQ(GetUniqueFolderURL(folder.path(), "Loose", false), folder / "Loose");
    EXPECT_EQ(GetUniqueFolderURLForFile(folder.path(), "/x/Album.pdf", false), folder / "Album 2");
}

TEST(TemporaryNames, LiveInThePrivateFolder) {
    ScratchFolder folder;
    ScopedEnvironment tmp("TMPDIR", folder.path().c_str());
    const fs::path privateFolder = plat::FileManager::temporaryDirectory();
    ASSERT_FALSE(privateFolder.empty());
    EXPECT_EQ(modeOf(privateFolder), 0700u);

    std::set<fs::path> seen;
    for (int i = 0; i < 20; ++i) {
        const fs::path url = GetTemporaryURL();
        EXPECT_EQ(url.parent_path(), privateFolder);
        EXPECT_EQ(url.filename().string().size(), 36u);
        seen.insert(url);
    }
    EXPECT_EQ(seen.size(), 20u);

    const fs::path prefixed = GetTemporaryURLWithPrefix("pdf");
    EXPECT_EQ(prefixed.parent_path(), privateFolder);
    EXPECT_EQ(prefixed.filename().string().substr(0, 4), "pdf-");
    EXPECT_EQ(prefixed.filename().string().size(), 40u);

    const fs::path inFolder = GetTemporaryURLInDirectory(folder.path(), "page", "png");
    EXPECT_EQ(inFolder.parent_path(), folder.path());
    EXPECT_EQ(inFolder.extension(), ".png");
    EXPECT_EQ(inFolder.filename().string().substr(0, 4), "page");
    const fs::path bare = GetTemporaryURLInDirectory({}, {}, {});
    EXPECT_EQ(bare.parent_path(), privateFolder);
    EXPECT_EQ(bare.filename().string().size(), 36u);
}

TEST(TemporaryNames, ForAnItemTheFileGoesInsideTheFolder) {
    ScratchFolder folder;
    ScopedEnvironment tmp("TMPDIR", folder.path().c_str());
    const fs::path privateFolder = plat::FileManager::temporaryDirectory();
    fs::create_directory(folder / "out");
    const fs::path item = folder / "out" / "result.pdf";
    const fs::path temp = GetTemporaryURLForItem(item);
    EXPECT_EQ(temp.parent_path(), privateFolder) << "inside the private folder, not beside it";
    EXPECT_NE(temp, GetTemporaryURLForItem(item));
    // The file can be written there and renamed over the item.
    touch(temp, "new");
    touch(item, "old");
    EXPECT_TRUE(MoveItemReplacing(temp, item));
    EXPECT_EQ(readText(item), "new");
    EXPECT_TRUE(GetTemporaryURLForItem({}).empty());
}

TEST(ByteSizes, Format) {
    EXPECT_EQ(FormatByteSize1000(0), "0 B");
    EXPECT_EQ(FormatByteSize1000(999), "999 B");
    EXPECT_EQ(FormatByteSize1000(1000), "1.0 KB");
    EXPECT_EQ(FormatByteSize1000(1500000), "1.50 MB");
    EXPECT_EQ(FormatByteSize1000(2500000000.0), "2.500 GB");
    EXPECT_EQ(FormatByteSize1000(3e12), "3.0000 TB");
    EXPECT_EQ(FormatByteSize1000(5e15), "5000.0000 TB");
    EXPECT_EQ(FormatByteSize1024(1023), "1023 B");
    EXPECT_EQ(FormatByteSize1024(1024), "1.0 KB");
    EXPECT_EQ(FormatByteSize1024(1536), "1.5 KB");
    EXPECT_EQ(FormatByteSize1024(1572864), "1.50 MB");
    EXPECT_EQ(FormatByteSize1024(1073741824.0), "1.000 GB");
    EXPECT_EQ(FormatByteSize1024(1099511627776.0), "1.0000 TB");
}

TEST(NameOrder, FinderCompare) {
    EXPECT_EQ(FinderCompare("img2", "img10"), -1);
    EXPECT_EQ(FinderCompare("img10", "img2"), 1);
    EXPECT_EQ(FinderCompare("IMG2", "img10"), -1);
    EXPECT_EQ(FinderCompare("same", "same"), 0);
    const int caseOnly = FinderCompare("Photo.jpg", "photo.jpg");
    EXPECT_NE(caseOnly, 0);
    EXPECT_EQ(FinderCompare("photo.jpg", "Photo.jpg"), -caseOnly);
    EXPECT_EQ(FinderCompare("Photo.jpg", "photo.jpg"), caseOnly) << "the same answer every time";
    EXPECT_EQ(FinderCompare("img2", "img10", "sv_SE"), -1);
    EXPECT_EQ(FinderCompare("Photo.jpg", "photo.jpg", "tr_TR"), caseOnly);
}

TEST(SystemVersionTest, CompareAndNotificationGate) {
    EXPECT_GT(CompareSystemVersion(10, 8, 0), 0);
    EXPECT_EQ(CompareSystemVersion(14, 0, 0), 0);
    plat::SystemVersion::setOverride(plat::SystemVersion{10, 7, 5});
    EXPECT_LT(CompareSystemVersion(10, 8, 0), 0);
    EXPECT_EQ(CompareSystemVersion(10, 7, 5), 0);
    EXPECT_EQ(CompareSystemVersion(10, 7, 3), 2);
    EXPECT_EQ(CompareSystemVersion(9, 9, 9), 1);
    EXPECT_FALSE(PostUserNotification("Done", "not on this version"));
    plat::SystemVersion::setOverride(std::nullopt);
    ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
    ScopedEnvironment runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_FALSE(PostUserNotification("Done", "no bus here"));
}

TEST(PosixFiles, WriteReadCopy) {
    ScratchFolder folder;
    const std::string payload = "bytes\0with nul"s;
    ASSERT_EQ(writeFile(folder / "a", payload.data(), payload.size()), 0);
    EXPECT_EQ(modeOf(folder / "a"), 0600u);
    std::vector<std::uint8_t> back;
    ASSERT_EQ(readFile(folder / "a", back), 0);
    EXPECT_EQ(std::string(back.begin(), back.end()), payload);

    ASSERT_EQ(copyFile(folder / "a", folder / "b"), 0);
    EXPECT_EQ(readText(folder / "b"), payload);
    EXPECT_EQ(modeOf(folder / "b"), 0600u);

    // Replacing keeps the replaced file's permissions.
    ::chmod((folder / "b").c_str(), 0644);
    ASSERT_EQ(writeFile(folder / "b", "new", 3), 0);
    EXPECT_EQ(readText(folder / "b"), "new");
    EXPECT_EQ(modeOf(folder / "b"), 0644u);

    ASSERT_EQ(writeFile(folder / "empty", nullptr, 0), 0);
    ASSERT_EQ(readFile(folder / "empty", back), 0);
    EXPECT_TRUE(back.empty());

    EXPECT_EQ(readFile(folder / "missing", back), ENOENT);
    EXPECT_EQ(copyFile(folder / "missing", folder / "c"), ENOENT);
    EXPECT_EQ(writeFile(folder / "no" / "dir", "x", 1), ENOENT);
    EXPECT_FALSE(fs::exists(folder / "c"));
}

TEST(PosixFiles, FailuresLeaveTheOldFileAndNoTemporary) {
    ScratchFolder folder;
    fs::create_directory(folder / "taken");
    touch(folder / "taken" / "keep", "kept");
    EXPECT_NE(writeFile(folder / "taken", "data", 4), 0);
    EXPECT_NE(copyFile(folder / "taken" / "keep", folder / "taken"), 0);
    EXPECT_EQ(readText(folder / "taken" / "keep"), "kept");
    EXPECT_EQ(copyFile(folder / "taken", folder / "copy"), EISDIR) << "a folder is no file to copy";
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    std::vector<std::uint8_t> data;
    EXPECT_EQ(readFile(folder / "pipe", data), EINVAL) << "a FIFO is refused, not waited on";
    EXPECT_EQ(copyFile(folder / "pipe", folder / "copy"), EINVAL);
    fs::remove(folder / "pipe");
    EXPECT_EQ(entryCount(folder.path()), 1);
}

TEST(PosixFiles, CopiesAcrossChunkBoundaries) {
    ScratchFolder folder;
    std::string big(20000000 + 12345, '\0');
    for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>(i / 4096);
    big.back() = 'z';
    ASSERT_EQ(writeFile(folder / "big", big.data(), big.size()), 0);
    ASSERT_EQ(copyFile(folder / "big", folder / "big copy"), 0);
    EXPECT_TRUE(readText(folder / "big copy") == big);
    std::uint64_t size = 0;
    EXPECT_EQ(GetFileSizeByHandle(folder / "big copy", &size), 0);
    EXPECT_EQ(size, big.size());
    EXPECT_EQ(GetFileSizeByHandle(folder / "none", &size), ENOENT);
}

TEST(MovingAndComparing, MoveItemReplacing) {
    ScratchFolder folder;
    EXPECT_TRUE(MoveItemReplacing({}, folder / "x"));
    EXPECT_TRUE(MoveItemReplacing(folder / "x", {}));
    touch(folder / "same", "stays");
    EXPECT_TRUE(MoveItemReplacing(folder / "same", folder / "." / "same"));
    EXPECT_EQ(readText(folder / "same"), "stays") << "moving a file onto itself keeps it";

    touch(folder / "src", "new");
    touch(folder / "dst", "old");
    EXPECT_TRUE(MoveItemReplacing(folder / "src", folder / "dst"));
    EXPECT_EQ(readText(folder / "dst"), "new");
    EXPECT_FALSE(fs::exists(folder / "src"));
    EXPECT_FALSE(MoveItemReplacing(folder / "gone", folder / "dst"));
    EXPECT_EQ(readText(folder / "dst"), "new");
}

TEST(MovingAndComparing, IsEqualToURL) {
    EXPECT_TRUE(isEqualToURL("/a/b", "/a/b"));
    EXPECT_TRUE(isEqualToURL("/a/b/", "/a/b"));
    EXPECT_TRUE(isEqualToURL("/a/./b", "/a/b"));
    EXPECT_FALSE(isEqualToURL("/a/b", "/a/c"));
    EXPECT_FALSE(isEqualToURL("/a/b", "/a/B"));
    EXPECT_FALSE(isEqualToURL({}, {}));
}

TEST(Strings, PathsAndCopies) {
    bool ok = false;
    EXPECT_EQ(GetFileBaseNameString("/x/photo.final.jpg", &ok), "photo.final");
    EXPECT_TRUE(ok);
    EXPECT_EQ(GetFileBaseNameString("/x/Album/", &ok), "Album");
    EXPECT_EQ(GetFileBaseNameString({}, &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetFilePathString("/x/é.jpg", &ok), "/x/é.jpg");
    EXPECT_TRUE(ok);
    EXPECT_EQ(GetFilePathString({}, &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetStdString(nullptr), "");
    EXPECT_EQ(GetStdString("abc"), "abc");

    EXPECT_EQ(CopyCString(""), nullptr);
    EXPECT_EQ(CopyFilePathCString({}), nullptr);
    char* copy = CopyFilePathCString("/tmp/ä b");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "/tmp/ä b");
    std::free(copy);

    int value = 7;
    auto holder = KSMDataHolder::dataHolderWithData(&value);
    EXPECT_EQ(holder->data(), &value);
    holder->setData(nullptr);
    EXPECT_EQ(holder->data(), nullptr);
}

TEST(Folders, ApplicationSupportSubfolder) {
    ScratchFolder folder;
    ScopedEnvironment data("XDG_DATA_HOME", folder.path().c_str());
    EXPECT_EQ(GetApplicationSupportSubfolder("Vantrell"), folder / "Vantrell");
    EXPECT_TRUE(fs::is_directory(folder / "Vantrell"));
    EXPECT_EQ(GetApplicationSupportSubfolder(), folder / "KSMApplication");
    EXPECT_TRUE(fs::is_directory(folder / "KSMApplication"));
}

TEST(Folders, ApplicationSupportSubfolderWithoutAHomeEndsTheProcess) {
    // Only root can become a user without a home in the password database.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unknown user";
    uid_t stranger = 61000;
    while (::getpwuid(stranger)) ++stranger;
    EXPECT_EXIT(
        {
            ::unsetenv("XDG_DATA_HOME");
            ::unsetenv("HOME");
            if (::setuid(stranger) != 0) std::_Exit(0);
            GetApplicationSupportSubfolder("Vantrell");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(EXIT_FAILURE), "Alert - Can't find application support folder");
}

TEST(Folders, FolderSizeSkipsHiddenItems) {
    ScratchFolder folder;
    touch(folder / "a", std::string(100, 'a'));
    fs::create_directories(folder / "sub" / "deeper");
    touch(folder / "sub" / "b", std::string(20, 'b'));
    touch(folder / "sub" / "deeper" / "c", std::string(3, 'c'));
    touch(folder / ".hidden", std::string(1000, 'h'));
    fs::create_directory(folder / ".hiddenfolder");
    touch(folder / ".hiddenfolder" / "d", std::string(5000, 'd'));
    fs::create_symlink(folder / "a", folder / "link");
    EXPECT_EQ(GetFolderSize(folder.path()), 123u);
    EXPECT_EQ(GetFolderSize(folder / "missing"), 0u);
}

TEST(DailyMarker, StaleOncePerDay) {
    ScratchFolder folder;
    ScopedEnvironment tmp("TMPDIR", folder.path().c_str());
    const fs::path marker = plat::FileManager::temporaryDirectory() / ".KSMStore";
    EXPECT_TRUE(IsDailyMarkerStale());
    EXPECT_TRUE(ResetDailyMarker());
    EXPECT_TRUE(fs::exists(marker));
    EXPECT_EQ(fs::file_size(marker), 0u);
    EXPECT_FALSE(IsDailyMarkerStale());
    EXPECT_FALSE(IsDailyMarkerStale(std::chrono::system_clock::now() - std::chrono::hours(72)));
    // Two days on, the marker is old: it goes, and stays stale until reset.
    EXPECT_TRUE(IsDailyMarkerStale(std::chrono::system_clock::now() + std::chrono::hours(48)));
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_TRUE(IsDailyMarkerStale());
    EXPECT_TRUE(ResetDailyMarker());
    EXPECT_TRUE(ResetDailyMarker());
    EXPECT_FALSE(IsDailyMarkerStale());
}

TEST(TemporaryNames, ForAnItemOnAnotherFilesystemTheFileStaysBesideIt) {
    ScratchFolder folder;
    struct stat shm{}, here{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(folder.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev ||
        ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no second filesystem";
    }
    std::string pattern = "/dev/shm/vantrell-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    {
        ScopedEnvironment tmp("TMPDIR", pattern.c_str());
        const fs::path item = folder / "result.pdf";
        const fs::path temp = GetTemporaryURLForItem(item);
        EXPECT_EQ(temp.parent_path(), folder.path()) << "a rename into place must stay possible";
        EXPECT_EQ(temp.filename().string()[0], '.');
        touch(temp, "new");
        EXPECT_TRUE(MoveItemReplacing(temp, item));
        EXPECT_EQ(readText(item), "new");
        EXPECT_EQ(entryCount(folder.path()), 1);
    }
    fs::remove_all(pattern);
}
