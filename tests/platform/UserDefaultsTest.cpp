#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using plat::PlistValue;
using plat::UserDefaults;

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "userdefaults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) oldConfig_ = old;
        ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        UserDefaults::resetStandardUserDefaults();
    }
    void TearDown() override {
        if (oldConfig_) {
            ::setenv("XDG_CONFIG_HOME", oldConfig_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
        UserDefaults::resetStandardUserDefaults();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    void WriteRaw(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }

    fs::path dir_;
    std::optional<std::string> oldConfig_;
};

TEST_F(UserDefaultsTest, StandardDefaultsLiveInPreferencesFolderWithRegisteredOptimisationKeys) {
    auto& defaults = UserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults.filePath(), dir_ / "vantrell" / "org.vantrell.Vantrell.plist");
    for (auto key : {plat::defaults::kPngCrushEnabled, plat::defaults::kOptiPngEnabled,
                     plat::defaults::kPngOutEnabled, plat::defaults::kAdvPngEnabled,
                     plat::defaults::kJpegOptimEnabled, plat::defaults::kJpegTranEnabled,
                     plat::defaults::kGifsicleEnabled, plat::defaults::kPngOutRemoveChunks,
                     plat::defaults::kPngOutInterruptIfTakesTooLong, plat::defaults::kBackupFiles,
                     plat::defaults::kPreservePermissions, plat::defaults::kRunLowPriority}) {
        EXPECT_FALSE(defaults.boolForKey(key)) << key;
        ASSERT_TRUE(defaults.objectForKey(key).has_value()) << key;
    }
    EXPECT_EQ(defaults.integerForKey(plat::defaults::kPngOutLevel), 0);
    EXPECT_FALSE(defaults.objectForKey("NoSuchKey").has_value());
    EXPECT_FALSE(fs::exists(defaults.filePath()));  // reading creates nothing

    ASSERT_TRUE(defaults.setBool(plat::defaults::kBackupFiles, true));
    ASSERT_TRUE(defaults.setInteger(plat::defaults::kPngOutLevel, 2));
    auto onDisk = plat::PropertyList::readFile(defaults.filePath());
    ASSERT_TRUE(onDisk.has_value());
    EXPECT_EQ(*onDisk->find("BackupFiles"), PlistValue(true));
    EXPECT_EQ(*onDisk->find("PngOutLevel"), PlistValue(2));

    // A fresh object on the same folder sees what was written.
    UserDefaults::resetStandardUserDefaults();
    auto& again = UserDefaults::standardUserDefaults();
    EXPECT_NE(&again, &defaults);
    EXPECT_TRUE(again.boolForKey(plat::defaults::kBackupFiles));
    EXPECT_EQ(again.integerForKey(plat::defaults::kPngOutLevel), 2);
}

TEST_F(UserDefaultsTest, WrongTypedValuesFallBackToRegisteredDefaults) {
    fs::path file = dir_ / "prefs.plist";
    WriteRaw(file, R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>AsString</key><string>YES</string>
<key>AsArray</key><array><true/></array>
<key>AsNumber</key><integer>5</integer>
<key>AsZero</key><integer>0</integer>
<key>AsReal</key><real>2.9</real>
<key>AsBool</key><true/>
<key>AsNaN</key><real>nan</real>
<key>AsInfinity</key><real>-inf</real>
<key>AsHuge</key><real>1e300</real>
<key>AsDate</key><date>2020-01-01T00:00:00Z</date>
</dict></plist>)");
    UserDefaults defaults(file);
    defaults.registerDefaults({{"AsString", PlistValue(true)}, {"AsArray", PlistValue(7)}});
    // What no integer holds (as dates beyond any year read) switches nothing on.
    for (const char* key : {"AsNaN", "AsInfinity", "AsHuge", "AsDate"}) {
        EXPECT_FALSE(defaults.boolForKey(key)) << key;
        EXPECT_EQ(defaults.integerForKey(key), 0) << key;
    }

    EXPECT_TRUE(defaults.boolForKey("AsString"));  // registered YES, stored string ignored
    EXPECT_EQ(defaults.integerForKey("AsArray"), 7);
    EXPECT_EQ(defaults.integerForKey("AsString"), 1);  // the registered YES as a number
    EXPECT_TRUE(defaults.boolForKey("AsNumber"));
    EXPECT_FALSE(defaults.boolForKey("AsZero"));
    EXPECT_EQ(defaults.integerForKey("AsReal"), 2);
    EXPECT_EQ(defaults.integerForKey("AsBool"), 1);
    EXPECT_FALSE(defaults.boolForKey("Missing"));

    // Stored beats registered; removing brings the registered value back.
    defaults.registerDefaults({{"AsBool", PlistValue(false)}});
    EXPECT_TRUE(defaults.boolForKey("AsBool"));
    ASSERT_TRUE(defaults.removeObjectForKey("AsBool"));
    EXPECT_FALSE(defaults.boolForKey("AsBool"));
    EXPECT_EQ(plat::PropertyList::readFile(file)->find("AsBool"), nullptr);
}

TEST_F(UserDefaultsTest, BrokenFileReadsAsEmptyAndIsReplacedWhole) {
    fs::path file = dir_ / "broken.plist";
    WriteRaw(file, "<plist><dict><key>Half");
    UserDefaults defaults(file);
    EXPECT_FALSE(defaults.boolForKey("BackupFiles"));
    ASSERT_TRUE(defaults.setBool("BackupFiles", true));
    auto onDisk = plat::PropertyList::readFile(file);
    ASSERT_TRUE(onDisk.has_value());
    EXPECT_EQ(onDisk->size(), 1u);

    // A top-level value that is no dictionary holds nothing either.
    WriteRaw(file, R"(<?xml version="1.0"?><plist version="1.0"><array><true/></array></plist>)");
    defaults.synchronize();
    EXPECT_FALSE(defaults.boolForKey("BackupFiles"));
}

TEST_F(UserDefaultsTest, SynchronizeTakesOtherWritersChangesAndFailedWriteIsReported) {
    fs::path file = dir_ / "shared.plist";
    UserDefaults first(file);
    UserDefaults second(file);
    EXPECT_FALSE(second.boolForKey("RunLowPriority"));
    ASSERT_TRUE(first.setBool("RunLowPriority", true));
    EXPECT_FALSE(second.boolForKey("RunLowPriority"));
    second.synchronize();
    EXPECT_TRUE(second.boolForKey("RunLowPriority"));

    WriteRaw(dir_ / "plainfile", "x");
    UserDefaults unwritable(dir_ / "plainfile" / "prefs.plist");
    EXPECT_FALSE(unwritable.setBool("BackupFiles", true));
    EXPECT_TRUE(unwritable.boolForKey("BackupFiles"));  // still held in memory
}

// The first write keeps what was there: an unreadable file aside under a
// name of its own, something that is no file untouched and unwritten. (What
// the reader refuses is the property-list tests' concern; one list past the
// file bound stands for them here.)
TEST_F(UserDefaultsTest, FirstWriteKeepsAnUnreadableFileAsideAndNeverWritesOverASpecialOne) {
    auto& defaults = UserDefaults::standardUserDefaults();
    const fs::path file = defaults.filePath();
    const std::string xmlStart = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    const std::pair<const char*, std::string> damaged[] = {
        {"cut short", "<plist><dict><key>Half"},
        {"no dictionary", xmlStart + "<array><true/></array></plist>"},
        {"33.5 MB, past 32 MiB", xmlStart + "<dict><key>PngOutLevel</key><integer>2</integer><key>Pad</key><string>" +
                                     std::string(33'560'000, 'x') + "</string></dict></plist>"},
    };
    for (std::size_t i = 0; i < std::size(damaged); ++i) {
        SCOPED_TRACE(damaged[i].first);
        WriteRaw(file, damaged[i].second);
        defaults.synchronize();
        EXPECT_EQ(defaults.integerForKey(plat::defaults::kPngOutLevel), 0);
        // As when an optimiser tool is found missing.
        ASSERT_TRUE(defaults.setBool(plat::defaults::kPngOutEnabled, false));
        const auto onDisk = plat::PropertyList::readFile(file);
        EXPECT_TRUE(onDisk && onDisk->size() == 1u);
        // Kept as it was: ".unreadable", then ".unreadable.1", ...
        std::ifstream in(file.string() + ".unreadable" + (i ? "." + std::to_string(i) : ""), std::ios::binary);
        EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == damaged[i].second);
    }

    const std::pair<const char*, std::function<void()>> specials[] = {
        {"fifo", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"dangling link", [&] { fs::create_symlink(file.string() + ".gone", file); }},
        {"link to /dev/null", [&] { fs::create_symlink("/dev/null", file); }},
        {"folder", [&] { fs::create_directory(file); }},
    };
    for (const auto& [what, make] : specials) {
        SCOPED_TRACE(what);
        for (const auto& entry : fs::directory_iterator(file.parent_path())) fs::remove_all(entry.path());
        make();
        const auto type = fs::symlink_status(file).type();
        defaults.synchronize();
        EXPECT_FALSE(defaults.setBool(plat::defaults::kPngOutEnabled, false));
        EXPECT_FALSE(defaults.boolForKey(plat::defaults::kPngOutEnabled));
        EXPECT_EQ(fs::symlink_status(file).type(), type);
        EXPECT_FALSE(fs::exists(file.string() + ".gone"));
        EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
    }
}

}  // namespace
