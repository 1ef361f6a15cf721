#include "app/model/StringFormat.h"
#include "app/model/StringTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(StringFormat, FillsPlaceholdersInOrder) {
    EXPECT_EQ(FormatString("%ld image%@", {3, "s"}), "3 images");
    EXPECT_EQ(FormatString("%d of %d", {1, 12}), "1 of 12");
    EXPECT_EQ(FormatString("%.2f MB", {1.5}), "1.50 MB");
    EXPECT_EQ(FormatString("%.0f", {799.5}), "800");
    EXPECT_EQ(FormatString("%.3f GB", {2.0}), "2.000 GB");
    EXPECT_EQ(FormatString("%qu bytes", {999ULL}), "999 bytes");
    EXPECT_EQ(FormatString("&id=%li", {123456789012LL}), "&id=123456789012");
    EXPECT_EQ(FormatString("%03d", {7}), "007");
    EXPECT_EQ(FormatString("%%0%ldd", {3}), "%03d");
}

TEST(StringFormat, ArgumentsAreNeverReadAsFormats) {
    // A text argument full of directives is copied as it stands.
    EXPECT_EQ(FormatString("Name: %@", {"100%% %@ %d"}), "Name: 100%% %@ %d");
    EXPECT_EQ(FormatString("%@ and %@", {"%@", "x"}), "%@ and x");
}

TEST(StringFormat, OddFormatsStayHarmless) {
    EXPECT_EQ(FormatString("50%", {}), "50%");
    EXPECT_EQ(FormatString("%x %s", {1, "a"}), "%x %s");
    EXPECT_EQ(FormatString("%@ %@", {"only"}), "only ");
    EXPECT_EQ(FormatString("%.", {}), "%.");
    EXPECT_EQ(FormatString("plain", {"unused"}), "plain");
    // Mixed kinds convert instead of misreading memory.
    EXPECT_EQ(FormatString("%d %@ %.1f", {2.9, 5, 3}), "2 5 3.0");
}

TEST(StringTable, LooksUpTheBundleTableAndFallsBackToTheKey) {
    // ctest points VANTRELL_RESOURCES at the repository's resources.
    ASSERT_NE(std::getenv("VANTRELL_RESOURCES"), nullptr);
    EXPECT_EQ(LocalizedString("ConversionOptionTitle"), "Convert");
    EXPECT_EQ(LocalizedString("NoSuchKeyInTheTable"), "NoSuchKeyInTheTable");
    EXPECT_EQ(LocalizedFormat("TotalImageString", {2, "s"}), "2 images");
}

TEST(StringTable, LoadsAFileAndRejectsNonTables) {
    char pattern[] = "/tmp/vantrell-strings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path folder(pattern);
    const auto table = folder / "Table.plist";
    std::ofstream(table) << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>Greeting</key><string>Hello %@</string><key>Count</key><integer>3</integer></dict></plist>)";
    EXPECT_TRUE(StringTable::load(table));
    EXPECT_EQ(StringTable::lookup("Greeting"), "Hello %@");
    EXPECT_EQ(StringTable::lookup("Count"), "Count");  // not a string: no text

    const auto array = folder / "Array.plist";
    std::ofstream(array) << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array/></plist>)";
    EXPECT_FALSE(StringTable::load(array));
    EXPECT_FALSE(StringTable::load(folder / "missing.plist"));
    EXPECT_EQ(StringTable::lookup("Greeting"), "Greeting");

    // Put the bundle's table back for the other tests of this process.
    EXPECT_TRUE(StringTable::load(std::filesystem::path(std::getenv("VANTRELL_RESOURCES")) / "Localizable.plist"));
    std::filesystem::remove_all(folder);
}

}  // namespace
