#include "platform/PropertyList.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace fs = std::filesystem;
using plat::PlistFormat;
using plat::PlistValue;
using plat::PropertyList;

namespace {

PlistValue sample() {
    PlistValue root = PlistValue::dictionary();
    root["negative"] = -42;
    root["min"] = std::numeric_limits<std::int64_t>::min();
    root["max"] = std::numeric_limits<std::int64_t>::max();
    root["third"] = 1.0 / 3.0;
    root["tiny"] = 5e-324;
    root["huge"] = -1.7976931348623157e308;
    root["text"] = "Grüße <&> \"quoted\"";
    root["empty"] = "";
    root["yes"] = true;
    root["no"] = false;
    root["date"] = PlistValue::Date(std::chrono::seconds(1700000000));
    root["before2001"] = PlistValue::Date(std::chrono::seconds(86400));
    root["data"] = PlistValue::Data{0, 1, 2, 255, 128};
    root["emptyData"] = PlistValue::Data{};
    PlistValue list = PlistValue::array();
    list.append(1);
    list.append("two");
    list.append(PlistValue::dictionary());
    list.append(PlistValue::array());
    root["list"] = list;
    root["nested"]["inner"]["deep"] = 3.5;
    PlistValue many = PlistValue::array();
    for (int i = 0; i < 300; ++i) many.append(i * 1000);
    root["many"] = many;
    return root;
}

void putBigEndian(std::string& out, std::uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A binary property list of arrays: object i holds references to the objects
// listed in refs[i]. Object 0 is the top.
std::string binaryArrays(const std::vector<std::vector<std::uint64_t>>& refs) {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& list : refs) {
        offsets.push_back(out.size());
        if (list.size() < 15) {
            out.push_back(static_cast<char>(0xA0 | list.size()));
        } else {
            out.push_back(static_cast<char>(0xAF));
            out.push_back(static_cast<char>(0x12));
            putBigEndian(out, list.size(), 4);
        }
        for (auto ref : list) putBigEndian(out, ref, 4);
    }
    const std::uint64_t table = out.size();
    for (auto offset : offsets) putBigEndian(out, offset, 4);
    out.append(6, '\0');
    out.push_back(4);
    out.push_back(4);
    putBigEndian(out, refs.size(), 8);
    putBigEndian(out, 0, 8);
    putBigEndian(out, table, 8);
    return out;
}

}  // namespace

TEST(PropertyList, HostileBinaryGraphsAreRefused) {
    // A plain nested pair parses.
    EXPECT_TRUE(PropertyList::fromData(binaryArrays({{1}, {}})));
    // Nesting far beyond any real file.
    std::vector<std::vector<std::uint64_t>> deep(300000);
    for (std::size_t i = 0; i + 1 < deep.size(); ++i) deep[i] = {i + 1};
    EXPECT_FALSE(PropertyList::fromData(binaryArrays(deep)));
    // An array that holds itself.
    EXPECT_FALSE(PropertyList::fromData(binaryArrays({{0}})));
    // Each level holds the next twice: small file, astronomically large value.
    std::vector<std::vector<std::uint64_t>> laughs(60);
    for (std::size_t i = 0; i + 1 < laughs.size(); ++i) laughs[i] = {i + 1, i + 1};
    EXPECT_FALSE(PropertyList::fromData(binaryArrays(laughs)));
    // References and offsets out of range.
    EXPECT_FALSE(PropertyList::fromData(binaryArrays({{5}})));
    std::string truncated = binaryArrays({{1}, {}});
    truncated.resize(truncated.size() - 40);
    EXPECT_FALSE(PropertyList::fromData(truncated));
}

TEST(PropertyList, RoundTripsEveryKindInBothFormats) {
    const PlistValue original = sample();
    for (auto format : {PlistFormat::Xml, PlistFormat::Binary}) {
        auto data = PropertyList::toData(original, format);
        ASSERT_TRUE(data);
        auto back = PropertyList::fromData(data->data(), data->size());
        ASSERT_TRUE(back) << "format " << int(format);
        EXPECT_EQ(*back, original) << "format " << int(format);
        EXPECT_EQ(back->find("negative")->asInteger(), -42);
        EXPECT_EQ(*back->find("third")->get<double>(), 1.0 / 3.0);
    }
    auto xml = PropertyList::toData(original, PlistFormat::Xml);
    EXPECT_NE(std::string(xml->begin(), xml->end()).find("<plist"), std::string::npos);
    auto binary = PropertyList::toData(original, PlistFormat::Binary);
    EXPECT_EQ(std::string(binary->begin(), binary->begin() + 8), "bplist00");
}

TEST(PropertyList, FilesAreWrittenAtomicallyAndReadBack) {
    ScratchFolder folder;
    const fs::path file = folder / "prefs.plist";
    ASSERT_TRUE(PropertyList::writeFile(file, sample()));
    EXPECT_EQ(PropertyList::readFile(file), sample());
    ASSERT_TRUE(PropertyList::writeFile(file, sample(), PlistFormat::Binary));
    EXPECT_EQ(PropertyList::readFile(file), sample());

    // A value that cannot be written (null inside) leaves the file as it was.
    PlistValue bad = PlistValue::dictionary();
    bad["hole"] = PlistValue();
    EXPECT_FALSE(PropertyList::writeFile(file, bad));
    EXPECT_FALSE(PropertyList::writeFile(file, PlistValue()));
    EXPECT_EQ(PropertyList::readFile(file), sample());
    int files = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(folder.path())) ++files;
    EXPECT_EQ(files, 1);
}

TEST(PropertyList, InvalidInputFailsCleanly) {
    ScratchFolder folder;
    std::error_code error;
    EXPECT_FALSE(PropertyList::readFile(folder / "missing.plist", &error));
    EXPECT_TRUE(error);

    const char* broken[] = {
        "",
        "not a property list at all",
        "bplist00",
        "bplist00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><integer>1",
        "<plist><array><string>unclosed</array></plist>",
    };
    for (const char* text : broken) {
        const fs::path file = folder / "broken.plist";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        EXPECT_FALSE(PropertyList::readFile(file)) << text;
    }

    // Hostile nesting is refused instead of exhausting the stack.
    std::string deep = "<plist>";
    for (int i = 0; i < 1000000; ++i) deep += "<array>";
    for (int i = 0; i < 1000000; ++i) deep += "</array>";
    deep += "</plist>";
    EXPECT_FALSE(PropertyList::fromData(deep));
}

TEST(PropertyList, TypedReads) {
    PlistValue root = sample();
    EXPECT_EQ(root.find("third")->asInteger(), 0);
    EXPECT_EQ(root.find("negative")->asReal(), -42.0);
    EXPECT_EQ(root.find("text")->asInteger(), std::nullopt);
    EXPECT_EQ(root.find("yes")->asBool(), true);
    EXPECT_EQ(root.find("nested")->find("inner")->find("deep")->asReal(), 3.5);
    EXPECT_EQ(root.find("absent"), nullptr);
    EXPECT_EQ(root.find("list")->size(), 4u);
    EXPECT_EQ(root.find("many")->size(), 300u);
    EXPECT_EQ(PlistValue(std::nan("")).asInteger(), std::nullopt);
    EXPECT_EQ(PlistValue(1e300).asInteger(), std::nullopt);
    EXPECT_EQ(PlistValue("x").find("key"), nullptr);
}

TEST(PropertyList, TextThatCannotBeStoredFailsInsteadOfChanging) {
    PlistValue controls = PlistValue::dictionary();
    controls["k"] = std::string("tab\there\r\nline \x01 ]]> & <");
    for (auto format : {PlistFormat::Xml, PlistFormat::Binary}) {
        auto data = PropertyList::toData(controls, format);
        ASSERT_TRUE(data);
        EXPECT_EQ(PropertyList::fromData(data->data(), data->size()), controls);
    }
    PlistValue withNul = PlistValue::dictionary();
    withNul["k"] = std::string("before\0after", 12);
    EXPECT_FALSE(PropertyList::toData(withNul, PlistFormat::Xml));
    EXPECT_FALSE(PropertyList::toData(withNul, PlistFormat::Binary));
    PlistValue keyWithNul = PlistValue::dictionary();
    keyWithNul[std::string("a\0b", 3)] = 1;
    EXPECT_FALSE(PropertyList::toData(keyWithNul, PlistFormat::Xml));

    // Bytes that are no UTF-8 (a Linux file name may hold them) survive XML;
    // the binary format would re-encode them, so it refuses.
    PlistValue raw = PlistValue::dictionary();
    raw["name"] = std::string("photo\xff.jpg");
    auto xml = PropertyList::toData(raw, PlistFormat::Xml);
    ASSERT_TRUE(xml);
    EXPECT_EQ(PropertyList::fromData(xml->data(), xml->size()), raw);
    EXPECT_FALSE(PropertyList::toData(raw, PlistFormat::Binary));
}
