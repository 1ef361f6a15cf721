#include "platform/FileManager.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using plat::FileManager;

namespace {

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int entryCount(const fs::path& folder) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
    return count;
}

}  // namespace

TEST(FileManager, CreateFileWritesAndReplacesAtomically) {
    ScratchFolder folder;
    const fs::path target = folder / "a.txt";
    ASSERT_TRUE(FileManager::createFile(target, std::string_view("first")));
    EXPECT_EQ(readText(target), "first");
    ::chmod(target.c_str(), 0640);
    ASSERT_TRUE(FileManager::createFile(target, std::string_view("second, longer")));
    EXPECT_EQ(readText(target), "second, longer");
    struct stat st{};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "a replaced file keeps its permissions";
    EXPECT_EQ(entryCount(folder.path()), 1) << "no temporary file left";

    ASSERT_TRUE(FileManager::createFile(folder / "empty", std::string_view()));
    EXPECT_EQ(FileManager::fileSize(folder / "empty"), 0u);
}

TEST(FileManager, FailedWritesLeaveTheOldFileAndNoTemporary) {
    ScratchFolder folder;
    const fs::path target = folder / "keep.jpg";
    ASSERT_TRUE(FileManager::createFile(target, std::string_view("original")));

    // The writer gives up half-way.
    fs::path seen;
    EXPECT_FALSE(FileManager::writeAtomically(target, [&](const fs::path& temp) {
        seen = temp;
        std::ofstream(temp) << "half";
        return false;
    }));
    EXPECT_EQ(seen.parent_path(), folder.path());
    EXPECT_EQ(seen.extension(), ".jpg") << "encoders pick the format by the extension";
    // The writer throws.
    EXPECT_FALSE(FileManager::writeAtomically(target, [](const fs::path& temp) -> bool {
        std::ofstream(temp) << "partial";
        throw std::runtime_error("encoder failed");
    }));
    // The writer claims success but leaves an empty file.
    EXPECT_FALSE(FileManager::writeAtomically(target, [](const fs::path&) { return true; }));
    // The writer removes its file.
    EXPECT_FALSE(FileManager::writeAtomically(target, [](const fs::path& temp) {
        fs::remove(temp);
        return true;
    }));
    EXPECT_EQ(readText(target), "original");
    EXPECT_EQ(entryCount(folder.path()), 1);

    // The rename itself fails: a non-empty folder stands at the target.
    const fs::path blocked = folder / "blocked";
    fs::create_directory(blocked);
    std::ofstream(blocked / "inside") << "x";
    std::error_code error;
    EXPECT_FALSE(FileManager::createFile(blocked, std::string_view("data"), std::nullopt, &error));
    EXPECT_TRUE(error);
    EXPECT_TRUE(fs::is_directory(blocked));
    EXPECT_EQ(entryCount(folder.path()), 2);

    // A missing folder fails cleanly.
    EXPECT_FALSE(FileManager::createFile(folder / "missing" / "x", std::string_view("data")));
}

TEST(FileManager, StreamedFilesAreWholeOrNotThere) {
    ScratchFolder folder;
    const fs::path target = folder / "page.png";
    ASSERT_TRUE(FileManager::createFile(target, std::string_view("original")));
    auto pieces = [](std::initializer_list<std::string_view> parts, bool complete) {
        return [parts, complete](const FileManager::ByteWriter& write) {
            for (std::string_view part : parts) {
                if (!write(part.data(), part.size())) return false;
            }
            return complete;
        };
    };
    // Given up half-way, thrown, or nothing at all: the old file stays.
    EXPECT_FALSE(FileManager::createFile(target, pieces({"hal", "f"}, false)));
    EXPECT_FALSE(FileManager::createFile(target, [](const FileManager::ByteWriter& write) -> bool {
        write("partial", 7);
        throw std::runtime_error("encoder failed");
    }));
    EXPECT_FALSE(FileManager::createFile(target, pieces({}, true)));
    EXPECT_EQ(readText(target), "original");
    EXPECT_EQ(entryCount(folder.path()), 1);

    // Complete: the pieces in order, replacing the old file.
    EXPECT_TRUE(FileManager::createFile(target, pieces({"new ", "", "bytes"}, true)));
    EXPECT_EQ(readText(target), "new bytes");
    EXPECT_EQ(entryCount(folder.path()), 1);
}

TEST(FileManager, WriteAtomicallyCommitsAndAppliesAttributes) {
    ScratchFolder folder;
    const fs::path target = folder / "out.tif";
    plat::FileAttributes attributes;
    attributes.modificationDate = plat::FileTime(std::chrono::seconds(1000000000));
    ASSERT_TRUE(FileManager::writeAtomically(
        target,
        [](const fs::path& temp) {
            std::ofstream(temp) << "pixels";
            return true;
        },
        attributes));
    EXPECT_EQ(readText(target), "pixels");
    auto read = FileManager::attributesOfItem(target);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->modificationDate, attributes.modificationDate);
    EXPECT_EQ(entryCount(folder.path()), 1);
}

TEST(FileManager, AttributesRoundTrip) {
    ScratchFolder folder;
    const fs::path file = folder / "f";
    plat::FileAttributes attributes;
    attributes.modificationDate = plat::FileTime(std::chrono::seconds(1234567890) + std::chrono::microseconds(5));
    attributes.posixPermissions = 0604;
    attributes.creationDate = plat::FileTime(std::chrono::seconds(1));  // ignored: Linux cannot set it
    ASSERT_TRUE(FileManager::createFile(file, std::string_view("x"), attributes));
    auto read = FileManager::attributesOfItem(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->modificationDate, attributes.modificationDate);
    EXPECT_EQ(read->posixPermissions, 0604u);
    EXPECT_NE(read->creationDate, attributes.creationDate);

    plat::FileAttributes later;
    later.modificationDate = plat::FileTime(std::chrono::seconds(1500000000));
    ASSERT_TRUE(FileManager::setAttributes(file, later));
    EXPECT_EQ(FileManager::attributesOfItem(file)->modificationDate, later.modificationDate);
    EXPECT_FALSE(FileManager::attributesOfItem(folder / "none"));
}

TEST(FileManager, PrivateTemporaryDirectory) {
    ScratchFolder folder;
    ScopedEnvironment tmp("TMPDIR", folder.path().c_str());
    const fs::path expected = folder / ("vantrell-" + std::to_string(::getuid()));
    EXPECT_EQ(FileManager::temporaryDirectory(), expected);
    struct stat st{};
    ASSERT_EQ(::lstat(expected.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    // A folder made too open is tightened again.
    ::chmod(expected.c_str(), 0777);
    EXPECT_EQ(FileManager::temporaryDirectory(), expected);
    ASSERT_EQ(::lstat(expected.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST(FileManager, TemporaryDirectoryRefusesASymlinkInItsPlace) {
    ScratchFolder folder;
    ScopedEnvironment tmp("TMPDIR", folder.path().c_str());
    fs::create_directory(folder / "elsewhere");
    const fs::path name = folder / ("vantrell-" + std::to_string(::getuid()));
    fs::create_directory_symlink(folder / "elsewhere", name);
    const fs::path chosen = FileManager::temporaryDirectory();
    ASSERT_FALSE(chosen.empty());
    EXPECT_NE(chosen, name);
    EXPECT_EQ(chosen.parent_path(), folder.path());
    struct stat st{};
    ASSERT_EQ(::lstat(chosen.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST(FileManager, WellKnownFoldersFollowTheEnvironment) {
    {
        ScopedEnvironment data("XDG_DATA_HOME", "/data/home");
        ScopedEnvironment config("XDG_CONFIG_HOME", "/config/home");
        EXPECT_EQ(FileManager::applicationSupportDirectory(), fs::path("/data/home"));
        EXPECT_EQ(FileManager::preferencesDirectory(), fs::path("/config/home/vantrell"));
    }
    ScopedEnvironment data("XDG_DATA_HOME", nullptr);
    ScopedEnvironment config("XDG_CONFIG_HOME", "relative/ignored");
    ScopedEnvironment home("HOME", "/home/someone");
    EXPECT_EQ(FileManager::applicationSupportDirectory(), fs::path("/home/someone/.local/share"));
    EXPECT_EQ(FileManager::preferencesDirectory(), fs::path("/home/someone/.config/vantrell"));
}

TEST(FileManager, QueriesRemoveAndCreateDirectories) {
    ScratchFolder folder;
    const fs::path nested = folder / "a" / "b" / "c";
    EXPECT_TRUE(FileManager::createDirectories(nested));
    EXPECT_TRUE(FileManager::createDirectories(nested));
    EXPECT_TRUE(FileManager::isDirectory(nested));
    EXPECT_FALSE(FileManager::isRegularFile(nested));
    ASSERT_TRUE(FileManager::createFile(nested / "f", std::string_view("1")));
    EXPECT_FALSE(FileManager::createDirectories(nested / "f" / "g"));
    EXPECT_TRUE(FileManager::fileExists(nested / "f"));
    EXPECT_TRUE(FileManager::isRegularFile(nested / "f"));
    EXPECT_TRUE(FileManager::removeItem(folder / "a"));
    EXPECT_FALSE(FileManager::fileExists(folder / "a"));
    EXPECT_FALSE(FileManager::removeItem(folder / "a"));
    fs::create_symlink(folder / "missing", folder / "dangling");
    EXPECT_TRUE(FileManager::fileExists(folder / "dangling"));
}

TEST(FileManager, CopyAndMove) {
    ScratchFolder folder;
    const fs::path source = folder / "s.bin";
    plat::FileAttributes attributes;
    attributes.modificationDate = plat::FileTime(std::chrono::seconds(999999999));
    ASSERT_TRUE(FileManager::createFile(source, std::string_view("payload"), attributes));

    EXPECT_TRUE(FileManager::copyItem(source, folder / "copy.bin"));
    EXPECT_EQ(readText(folder / "copy.bin"), "payload");
    EXPECT_EQ(FileManager::attributesOfItem(folder / "copy.bin")->modificationDate, attributes.modificationDate);
    EXPECT_FALSE(FileManager::copyItem(source, folder / "copy.bin")) << "copy never replaces";
    EXPECT_FALSE(FileManager::copyItem(folder / "none", folder / "x"));

    ASSERT_TRUE(FileManager::createFile(folder / "dest.bin", std::string_view("old")));
    EXPECT_TRUE(FileManager::moveItemReplacing(folder / "copy.bin", folder / "dest.bin"));
    EXPECT_EQ(readText(folder / "dest.bin"), "payload");
    EXPECT_FALSE(FileManager::fileExists(folder / "copy.bin"));

    // A folder in the way is replaced too.
    fs::create_directories(folder / "dir" / "inner");
    EXPECT_TRUE(FileManager::moveItemReplacing(folder / "dest.bin", folder / "dir"));
    EXPECT_EQ(readText(folder / "dir"), "payload");
    EXPECT_FALSE(FileManager::moveItemReplacing(folder / "gone", folder / "dir"));
    EXPECT_EQ(readText(folder / "dir"), "payload");
    EXPECT_EQ(entryCount(folder.path()), 2);
}

TEST(FileManager, MovingToAFreeNameNumbersAndNeverReplaces) {
    ScratchFolder folder;
    const char* names[] = {"prefs.plist.unreadable", "prefs.plist.unreadable.1", "prefs.plist.unreadable.2"};
    for (const char* name : names) {
        ASSERT_TRUE(FileManager::createFile(folder / "prefs.plist", std::string_view(name)));
        EXPECT_EQ(FileManager::moveItemToFreeName(folder / "prefs.plist", folder / names[0]), folder / name);
    }
    for (const char* name : names) EXPECT_EQ(readText(folder / name), name);
    std::error_code error;
    EXPECT_TRUE(FileManager::moveItemToFreeName(folder / "gone", folder / names[0], &error).empty());
    EXPECT_TRUE(error);
    EXPECT_EQ(entryCount(folder.path()), 3);
}

TEST(FileManager, MoveAcrossFilesystems) {
    // /dev/shm is a tmpfs on Linux; skip where it is absent or shares our device.
    struct stat shm{}, tmp{};
    ScratchFolder folder;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(folder.path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
        ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no second filesystem";
    }
    std::string pattern = "/dev/shm/vantrell-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    const fs::path other = pattern;
    ASSERT_TRUE(FileManager::createFile(other / "src", std::string_view("across")));
    ASSERT_TRUE(FileManager::createFile(folder / "dst", std::string_view("old")));
    EXPECT_TRUE(FileManager::moveItemReplacing(other / "src", folder / "dst"));
    EXPECT_EQ(readText(folder / "dst"), "across");
    EXPECT_FALSE(fs::exists(other / "src"));
    EXPECT_EQ(entryCount(folder.path()), 1);
    fs::remove_all(other);
}

TEST(FileManager, ContentsOfFile) {
    ScratchFolder folder;
    ASSERT_TRUE(FileManager::createFile(folder / "f", std::string_view("abc")));
    auto data = FileManager::contentsOfFile(folder / "f");
    ASSERT_TRUE(data);
    EXPECT_EQ(std::string(data->begin(), data->end()), "abc");
    std::error_code error;
    EXPECT_FALSE(FileManager::contentsOfFile(folder / "f", 2, &error));
    EXPECT_EQ(error, std::errc::file_too_large);
    EXPECT_FALSE(FileManager::contentsOfFile(folder.path()));
    EXPECT_FALSE(FileManager::contentsOfFile(folder / "none"));
}

TEST(FileManager, LeadingBytesOfFile) {
    ScratchFolder folder;
    ASSERT_TRUE(FileManager::createFile(folder / "f", std::string_view("abcdef")));
    auto start = FileManager::leadingBytesOfFile(folder / "f", 4);
    ASSERT_TRUE(start);
    EXPECT_EQ(std::string(start->begin(), start->end()), "abcd");
    auto whole = FileManager::leadingBytesOfFile(folder / "f", 100);
    ASSERT_TRUE(whole);
    EXPECT_EQ(std::string(whole->begin(), whole->end()), "abcdef");
    EXPECT_FALSE(FileManager::leadingBytesOfFile(folder.path(), 4));
    EXPECT_FALSE(FileManager::leadingBytesOfFile(folder / "none", 4));
}

TEST(FileManager, SpecialFilesAndLongNames) {
    ScratchFolder folder;
    // A FIFO is refused at once instead of blocking the reader.
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(FileManager::contentsOfFile(folder / "pipe"));
    EXPECT_FALSE(FileManager::copyItem(folder / "pipe", folder / "copy"));
    EXPECT_FALSE(fs::exists(folder / "copy"));

    // A name at the length limit still gets a temporary name beside it.
    const std::string longName = std::string(240, 'n') + "\xC3\xA9\xC3\xA9.jpeg";
    ASSERT_LE(longName.size(), 255u);
    const fs::path target = folder / longName;
    const fs::path temp = FileManager::temporaryPathBeside(target);
    EXPECT_LE(temp.filename().string().size(), 255u);
    EXPECT_EQ(temp.extension(), ".jpeg");
    ASSERT_TRUE(FileManager::writeAtomically(target, [](const fs::path& path) {
        std::ofstream(path) << "long";
        return true;
    }));
    EXPECT_EQ(readText(target), "long");
}

// A run killed while writing leaves its hidden temporary file beside the
// destination; a later write into that folder removes it, and only it: not
// the files of a live writer, of another boot or machine, nor anything else.
TEST(FileManager, StaleTemporariesOfGoneWritersAreRemoved) {
    ScratchFolder folder;
    std::string boot;
    std::getline(std::ifstream("/proc/sys/kernel/random/boot_id"), boot);
    boot.erase(std::remove(boot.begin(), boot.end(), '-'), boot.end());
    boot = boot.substr(0, 8);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string gone = std::to_string(child);
    const std::string self = std::to_string(::getpid());
    const std::string otherBoot = boot == "ffffffff" ? "eeeeeeee" : "ffffffff";

    const fs::path live = FileManager::temporaryPathBeside(folder / "live.jpg");
    const std::vector<std::pair<std::string, bool>> files = {
        {".vantrell-tmp-" + gone + "-4242-" + boot + "-abcdefghij-photo.jpg", false},
        {".vantrell-tmp-" + self + "-1-" + boot + "-abcdefghij-photo.jpg", false},  // a reused process id
        {live.filename().string(), true},
        {".vantrell-tmp-" + gone + "-4242-" + otherBoot + "-abcdefghij-photo.jpg", true},
        {".vantrell-tmp-x-4242-" + boot + "-abcdefghij-photo.jpg", true},
        {".vantrell-tmp-photo.jpg", true},
        {"photo.jpg", true},
    };
    for (const auto& [name, kept] : files) std::ofstream(folder / name) << "part";
    // A forked child that was killed while writing: its temporary names the
    // child, not its living parent, whose name it had made before.
    const pid_t forked = ::fork();
    if (forked == 0) {
        std::ofstream(FileManager::temporaryPathBeside(folder / "forked.jpg")) << "part";
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(forked, nullptr, 0), forked);
    ASSERT_TRUE(FileManager::createFile(folder / "out.jpg", std::string_view("done")));
    for (const auto& [name, kept] : files) EXPECT_EQ(fs::exists(folder / name), kept) << name;
    for (const auto& entry : fs::directory_iterator(folder / "")) {
        EXPECT_EQ(entry.path().filename().string().find("forked"), std::string::npos) << entry.path();
    }
    EXPECT_EQ(readText(folder / "out.jpg"), "done");
}

// A conversion killed while libvips held disc copies of its images leaves
// them in the private folder; a later run removes them, but never one that
// a live process holds or is still writing, nor anything else.
TEST(FileManager, LeftoverLibraryTemporariesAreRemoved) {
    ScratchFolder folder;
    const fs::path privateFolder = folder / ("vantrell-" + std::to_string(::getuid()));
    ASSERT_TRUE(fs::create_directory(privateFolder));
    fs::permissions(privateFolder, fs::perms::owner_all, fs::perm_options::replace);
    const std::vector<std::pair<std::string, bool>> files = {
        {"vips-0-2131234.v", false}, {"vips-17-99.v", false}, {"vips-3-5.v", true},  // held open
        {"vips-4-6.v", true},                                                         // being written (new)
        {"vips-notes.txt", true},    {"photo.v", true}};
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& [name, kept] : files) {
        std::ofstream(privateFolder / name) << "pixels";
        if (name != "vips-4-6.v") fs::last_write_time(privateFolder / name, old);
    }
    const int held = ::open((privateFolder / "vips-3-5.v").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    {
        ScopedEnvironment tmp("TMPDIR", folder.path().c_str());
        EXPECT_EQ(FileManager::temporaryDirectory(), privateFolder);
    }
    ::close(held);
    for (const auto& [name, kept] : files) EXPECT_EQ(fs::exists(privateFolder / name), kept) << name;
}

// Runs whose private folder name was taken made a fallback folder each; a
// later run removes those of runs that are gone (an ended child's process id
// and this boot's short id), with their contents, and keeps a live run's and
// what is not ours.
TEST(FileManager, FallbackFoldersOfGoneRunsAreRemoved) {
    std::string boot;
    std::getline(std::ifstream("/proc/sys/kernel/random/boot_id"), boot);
    boot.erase(std::remove(boot.begin(), boot.end(), '-'), boot.end());
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);

    ScratchFolder folder;
    const std::string own = "vantrell-" + std::to_string(::getuid());
    fs::create_directory(folder / "elsewhere");
    fs::create_directory_symlink(folder / "elsewhere", folder / own);
    const fs::path gone = folder / (own + "-" + std::to_string(child) + "-4242-" + boot.substr(0, 8) + "-Ab12Cd");
    const fs::path unrelated = folder / (own + "-Zx98Yw");
    for (const fs::path& made : {gone, unrelated}) {
        ASSERT_TRUE(fs::create_directory(made));
        fs::permissions(made, fs::perms::owner_all, fs::perm_options::replace);
    }
    std::ofstream(gone / "vips-1-2.v") << "pixels";

    ScopedEnvironment tmp("TMPDIR", folder.path().c_str());
    const fs::path chosen = FileManager::temporaryDirectory();
    EXPECT_EQ(chosen.parent_path(), folder.path());
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_TRUE(fs::exists(unrelated));
    EXPECT_TRUE(fs::exists(folder / "elsewhere"));
    // Our own fallback folder carries our token: kept while we live.
    EXPECT_EQ(chosen.filename().string().rfind(own + "-" + std::to_string(::getpid()) + "-", 0), 0u) << chosen;
}
