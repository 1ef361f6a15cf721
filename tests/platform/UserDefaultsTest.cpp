#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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
</dict></plist>)");
    UserDefaults defaults(file);
    defaults.registerDefaults({{"AsString", PlistValue(true)}, {"AsArray", PlistValue(7)}});

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

}  // namespace
