#include "platform/PropertyList.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <bit>
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
    PlistValue list = PlistValue::array(), many = PlistValue::array();
    for (PlistValue item : {PlistValue(1), PlistValue("two"), PlistValue::dictionary(), PlistValue::array()})
        list.append(item);
    for (int i = 0; i < 300; ++i) many.append(i * 1000);
    root["list"] = list;
    root["many"] = many;
    root["nested"]["inner"]["deep"] = 3.5;
    return root;
}

void putBigEndian(std::string& out, std::uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A binary property list of raw objects (which refer to others by 4-byte index); object 0 is the top.
std::string binaryList(const std::vector<std::string>& objects) {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const std::uint64_t table = out.size();
    for (auto offset : offsets) putBigEndian(out, offset, 4);
    out.append(6, '\0');
    out.push_back(4);
    out.push_back(4);
    putBigEndian(out, objects.size(), 8);
    putBigEndian(out, 0, 8);
    putBigEndian(out, table, 8);
    return out;
}

// The marker of a container, string or data object with its count.
std::string marker(int kind, std::uint64_t count) {
    std::string out(1, static_cast<char>((kind << 4) | int(std::min<std::uint64_t>(count, 15))));
    if (count >= 15) {
        out.push_back(static_cast<char>(0x13));
        putBigEndian(out, count, 8);
    }
    return out;
}

// A container of `kind` (0xA array, 0xD dictionary of count/2 keys then values).
std::string refsObject(int kind, const std::vector<std::uint64_t>& refs) {
    std::string out = marker(kind, kind == 0xD ? refs.size() / 2 : refs.size());
    for (auto ref : refs) putBigEndian(out, ref, 4);
    return out;
}
std::string arrayObject(const std::vector<std::uint64_t>& refs) { return refsObject(0xA, refs); }
std::string dataObject(std::size_t size) { return marker(0x4, size) + std::string(size, 'x'); }
std::string asciiObject(const std::string& text) { return marker(0x5, text.size()) + text; }
std::string dateObject(double seconds) {
    std::string out = "\x33";
    putBigEndian(out, std::bit_cast<std::uint64_t>(seconds), 8);
    return out;
}

// Arrays only: object i holds references to the objects listed in refs[i].
std::string binaryArrays(const std::vector<std::vector<std::uint64_t>>& refs) {
    std::vector<std::string> objects;
    for (const auto& list : refs) objects.push_back(arrayObject(list));
    return binaryList(objects);
}

std::optional<PlistValue> roundTrip(const PlistValue& value, PlistFormat format) {
    auto data = PropertyList::toData(value, format);
    return data ? PropertyList::fromData(data->data(), data->size()) : std::nullopt;
}

std::string xmlList(const std::string& body, const std::string& prolog = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + prolog + "<plist version=\"1.0\">" + body + "</plist>";
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) out += text;
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
        const std::string text(data->begin(), data->end());
        EXPECT_TRUE(format == PlistFormat::Xml ? text.find("<plist") != std::string::npos
                                               : text.starts_with("bplist00"));
    }
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
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(PropertyList, InvalidInputFailsCleanly) {
    ScratchFolder folder;
    std::error_code error;
    EXPECT_FALSE(PropertyList::readFile(folder / "missing.plist", &error));
    EXPECT_TRUE(error);
    for (const char* text : {"", "not a property list at all", "bplist00",
                             "bplist00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff",
                             "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><integer>1",
                             "<plist><array><string>unclosed</array></plist>"}) {
        const fs::path file = folder / "broken.plist";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        EXPECT_FALSE(PropertyList::readFile(file)) << text;
    }
    // Hostile nesting is refused instead of exhausting the stack.
    EXPECT_FALSE(PropertyList::fromData("<plist>" + repeated("<array>", 1000000) + repeated("</array>", 1000000) +
                                        "</plist>"));
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
    for (auto format : {PlistFormat::Xml, PlistFormat::Binary}) EXPECT_EQ(roundTrip(controls, format), controls);
    PlistValue withNul = PlistValue::dictionary(), keyWithNul = PlistValue::dictionary();
    withNul["k"] = std::string("before\0after", 12);
    keyWithNul[std::string("a\0b", 3)] = 1;
    EXPECT_FALSE(PropertyList::toData(withNul, PlistFormat::Xml));
    EXPECT_FALSE(PropertyList::toData(withNul, PlistFormat::Binary));
    EXPECT_FALSE(PropertyList::toData(keyWithNul, PlistFormat::Xml));
    // Bytes that are no UTF-8 (a Linux file name may hold them) survive XML;
    // the binary format would re-encode them, so it refuses.
    PlistValue raw = PlistValue::dictionary();
    raw["name"] = std::string("photo\xff.jpg");
    EXPECT_EQ(roundTrip(raw, PlistFormat::Xml), raw);
    EXPECT_FALSE(PropertyList::toData(raw, PlistFormat::Binary));
}

TEST(PropertyList, NestingIsMeasuredByRealElementsNotByTextThatLooksLikeThem) {
    // Closing tags hidden where text is no markup, ahead of a real nesting far beyond any settings file;
    // the same places in an honest file are skipped and the value kept.
    const std::string decoys = repeated("</array>", 200000);
    const std::string deep = repeated("<array>", 200000) + repeated("</array>", 200000);
    const struct { const char* where; std::string prolog, before, after; } hidings[] = {
        {"comment", "", "<array><!--" + decoys + "-->", "</array>"},
        {"CDATA", "", "<array><string><![CDATA[" + decoys + "]]></string>", "</array>"},
        {"processing instruction", "", "<array><?note " + decoys + "?>", "</array>"},
        {"attribute", "", "<array note=\"" + decoys + "\">", "</array>"},
        {"document type", "<!DOCTYPE plist [<!ENTITY e \"" + decoys + "\"><!-- ]> -->]>\n", "<array>", "</array>"},
    };
    for (const auto& h : hidings) {
        SCOPED_TRACE(h.where);
        EXPECT_FALSE(PropertyList::fromData(xmlList(h.before + deep + h.after, h.prolog)));
        auto honest = PropertyList::fromData(xmlList(h.before + "<integer>7</integer>" + h.after, h.prolog));
        ASSERT_TRUE(honest && !honest->get<PlistValue::Array>()->empty());
        EXPECT_EQ(honest->get<PlistValue::Array>()->back().asInteger(), 7);
    }
    EXPECT_TRUE(PropertyList::fromData(xmlList(repeated("<array>", 200) + repeated("</array>", 200))));
}

TEST(PropertyList, XmlTextKeepsEntitiesCdataAndBytes) {
    const std::string body =
        "<dict><key>a&amp;b</key><string>&lt;&#x263A;&#65;<![CDATA[<x>&amp;]]><!-- c -->\r\n\xff</string>"
        "<key>empty</key><string/><key>yes</key><true/><key>n</key><integer> -0x10 </integer>"
        "<key>r</key><real>+infinity</real><key>d</key><data> AAEC\n/w== </data></dict>";
    auto value = PropertyList::fromData("\xEF\xBB\xBF" + xmlList(body, "<!DOCTYPE plist PUBLIC \"-//Apple\" \"x.dtd\">"));
    ASSERT_TRUE(value);
    EXPECT_EQ(value->find("a&b")->asString(), "<\u263A" "A<x>&amp;\r\n\xff");
    EXPECT_EQ(value->find("empty")->asString(), "");
    EXPECT_EQ(value->find("yes")->asBool(), true);
    EXPECT_EQ(value->find("n")->asInteger(), -16);
    EXPECT_EQ(value->find("r")->asReal(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(*value->find("d")->get<PlistValue::Data>(), (PlistValue::Data{0, 1, 2, 255}));
    for (const char* broken : {"<dict><key>a</key></dict>", "<string>&bogus;</string>", "<string>&#0;</string>",
                               "<array><key>k</key></array>", "<data>!!</data>", "<date>2020-13-01T00:00:00Z</date>",
                               "<string>a<b/></string>", "<integer>12x</integer>", "<mystery/>"}) {
        EXPECT_FALSE(PropertyList::fromData(xmlList(broken))) << broken;
    }
}

TEST(PropertyList, WhatAListExpandsToIsBounded) {
    auto keys = [](int count, const char* value) {
        std::string out = "<dict>";
        for (int i = 0; i < count; ++i) out += "<key>k" + std::to_string(i) + "</key>" + value;
        return xmlList(out + "</dict>");
    };
    // A small file whose value would be tens of megabytes or hundreds of thousands of values (a shared object
    // referred to again and again, references to references, very many keys) fails; honest lists read.
    using Refs = std::vector<std::uint64_t>;
    const struct { const char* what; std::string list; std::size_t size; } cases[] = {
        {"shared data", binaryList({arrayObject(Refs(10000, 1)), dataObject(4096)}), 0},
        {"references to references",
         binaryList({arrayObject(Refs(300, 1)), arrayObject(Refs(1000, 2)), asciiObject("x")}), 0},
        {"many keys", keys(150000, "<true/>"), 0},
        {"honest shared data", binaryList({arrayObject(Refs(1000, 1)), dataObject(4096)}), 1000},
        {"honest keys", keys(5000, "<string>value</string>"), 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto value = PropertyList::fromData(c.list);
        ASSERT_EQ(bool(value), c.size != 0);
        EXPECT_EQ(value ? value->size() : 0u, c.size);
    }
    // Limits of the caller's choosing, for the file read as well.
    ScratchFolder folder;
    const fs::path file = folder / "limits.plist";
    ASSERT_TRUE(PropertyList::writeFile(file, *PropertyList::fromData(cases[4].list)));
    EXPECT_TRUE(PropertyList::readFile(file));
    EXPECT_FALSE(PropertyList::readFile(file, nullptr, plat::PlistLimits{.maxValues = 9000}));
    EXPECT_FALSE(PropertyList::readFile(file, nullptr, plat::PlistLimits{.maxBytes = 4096}));
}

TEST(PropertyList, DatesThatCannotBeHeldReadAsNumbersAndWriteBack) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double seconds : {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 1e12, -3e9}) {
        SCOPED_TRACE(seconds);
        auto value =
            PropertyList::fromData(binaryList({refsObject(0xD, {1, 2}), asciiObject("d"), dateObject(seconds)}));
        ASSERT_TRUE(value);
        const double* number = value->find("d")->get<double>();
        ASSERT_TRUE(number);
        EXPECT_TRUE(std::isnan(seconds) ? std::isnan(*number) : *number == seconds);
        for (auto format : {PlistFormat::Xml, PlistFormat::Binary}) {
            auto back = roundTrip(*value, format);
            EXPECT_TRUE(back && back->find("d")->is<double>());
        }
    }
    // A date of the writer's range stays a date: 2004-03-03 09:46:40 UTC.
    EXPECT_EQ(PropertyList::fromData(binaryList({dateObject(1e8)})),
              PlistValue(PlistValue::Date(std::chrono::seconds(978307200 + 100000000))));
}

// The top value counts as level 1 for both readers and the writer: 256
// levels pass each of them, 257 none.
TEST(PropertyList, BothReadersAndTheWriterCountLevelsAlike) {
    for (const int levels : {256, 257}) {
        SCOPED_TRACE(levels);
        const bool fits = levels == 256;
        PlistValue nested(7);
        std::vector<std::vector<std::uint64_t>> refs(static_cast<std::size_t>(levels));
        for (int level = 1; level < levels; ++level) {
            nested = PlistValue::Array{std::move(nested)};
            refs[std::size_t(level) - 1] = {std::uint64_t(level)};
        }
        for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
            EXPECT_EQ(bool(fits ? roundTrip(nested, format) : PropertyList::toData(nested, format)), fits);
        }
        EXPECT_EQ(bool(PropertyList::fromData(xmlList(repeated("<array>", levels) + repeated("</array>", levels)))), fits);
        EXPECT_EQ(bool(PropertyList::fromData(binaryArrays(refs))), fits);
    }
}

// A file that writes it fails as any list that cannot be made does, the old
// file kept (see FilesAreWrittenAtomicallyAndReadBack).
TEST(PropertyList, AListTheReaderWouldRefuseIsNotMade) {
    // A binary list of one data object shared 124 times: a quarter of a
    // megabyte on disc, 31 MiB of data read, 41 MB as XML.
    using Refs = std::vector<std::uint64_t>;
    const std::string shared = binaryList({refsObject(0xD, {1, 2}), asciiObject("presets"),
                                           arrayObject(Refs(124, 3)), dataObject(256 * 1024)});
    const auto read = PropertyList::fromData(shared);
    ASSERT_TRUE(read);
    EXPECT_TRUE(PropertyList::toData(*read, PlistFormat::Binary));
    EXPECT_FALSE(PropertyList::toData(*read, PlistFormat::Xml));
}
