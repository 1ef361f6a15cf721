#include "platform/KeyedArchive.h"
#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using plat::KeyedArchive;
using plat::PlistValue;
using plat::PropertyList;

TEST(KeyedArchive, FontAndColourRoundTripAsBinaryKeyedArchives) {
    const auto font = KeyedArchive::archiveFont({"DejaVuSans-Bold", 42.5});
    ASSERT_TRUE(font);
    ASSERT_GE(font->size(), 8u);
    EXPECT_EQ(std::string(font->begin(), font->begin() + 8), "bplist00");
    const auto decoded = KeyedArchive::unarchiveFont(*font);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->postScriptName, "DejaVuSans-Bold");
    EXPECT_DOUBLE_EQ(decoded->size, 42.5);

    // The archive's frame: archiver, version, top object and object table.
    const auto parsed = PropertyList::fromData(font->data(), font->size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->find("$archiver")->asString(), "NSKeyedArchiver");
    EXPECT_EQ(*parsed->find("$version")->get<std::int64_t>(), 100000);
    EXPECT_EQ(PropertyList::uidValue(*parsed->find("$top")->find("root")), 1u);
    ASSERT_TRUE(parsed->find("$objects")->get<PlistValue::Array>());

    for (const plat::Color colour : {plat::Color{1, 1, 0, 1}, plat::Color{0.25, 0.5, 0.75, 0.125}}) {
        const auto data = KeyedArchive::archiveColor(colour);
        ASSERT_TRUE(data);
        EXPECT_EQ(KeyedArchive::unarchiveColor(*data), colour);
        // A colour is no font, and the other way round.
        EXPECT_FALSE(KeyedArchive::unarchiveFont(*data));
    }
    EXPECT_FALSE(KeyedArchive::unarchiveColor(*font));
}

TEST(KeyedArchive, DamagedOrForeignDataIsNoValue) {
    std::mt19937 random(7);
    std::vector<PlistValue::Data> cases = {{}, {'b', 'p', 'l', 'i', 's', 't', '0', '0'}};
    for (int i = 0; i < 50; ++i) {
        PlistValue::Data bytes(1 + random() % 200);
        for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
        cases.push_back(bytes);
    }
    // A real archive cut short or with flipped bytes.
    const auto colour = KeyedArchive::archiveColor({0.1, 0.2, 0.3, 1.0});
    ASSERT_TRUE(colour);
    for (std::size_t cut = 0; cut < colour->size(); cut += 7) cases.emplace_back(colour->begin(), colour->begin() + cut);
    for (std::size_t at = 8; at < colour->size(); at += 5) {
        PlistValue::Data flipped = *colour;
        flipped[at] ^= 0x5A;
        cases.push_back(flipped);
    }
    // A property list that is no archive, and one whose root reference points nowhere.
    cases.push_back(*PropertyList::toData(PlistValue(PlistValue::Dictionary{{"a", PlistValue(1)}}), plat::PlistFormat::Binary));
    PlistValue::Dictionary stray{{"$archiver", PlistValue("NSKeyedArchiver")},
                                 {"$top", PlistValue(PlistValue::Dictionary{{"root", PropertyList::uid(9)}})},
                                 {"$objects", PlistValue(PlistValue::Array{PlistValue("$null")})}};
    cases.push_back(*PropertyList::toData(PlistValue(stray), plat::PlistFormat::Binary));
    for (const auto& data : cases) {
        // Never a crash; a decoded flipped archive must still be a sane colour.
        if (const auto decoded = KeyedArchive::unarchiveColor(data)) {
            for (double c : {decoded->red, decoded->green, decoded->blue, decoded->alpha}) {
                EXPECT_TRUE(c >= 0.0 && c <= 1.0);
            }
        }
        const auto font = KeyedArchive::unarchiveFont(data);
        if (font) {
            EXPECT_FALSE(font->postScriptName.empty());
        }
    }
    EXPECT_FALSE(KeyedArchive::unarchiveFont(cases.back()));
}

TEST(PropertyListUid, UidsSurviveBinaryAndXmlAsOneKeyDictionaries) {
    const PlistValue value(PlistValue::Dictionary{{"ref", PropertyList::uid(3)}});
    for (const auto format : {plat::PlistFormat::Binary, plat::PlistFormat::Xml}) {
        const auto data = PropertyList::toData(value, format);
        ASSERT_TRUE(data);
        const auto back = PropertyList::fromData(data->data(), data->size());
        ASSERT_TRUE(back);
        EXPECT_EQ(PropertyList::uidValue(*back->find("ref")), 3u);
    }
    // Other one-key dictionaries stay dictionaries.
    EXPECT_FALSE(PropertyList::uidValue(PlistValue(PlistValue::Dictionary{{"CF$UID", PlistValue("x")}})));
    EXPECT_FALSE(PropertyList::uidValue(PlistValue(PlistValue::Dictionary{{"CF$UID", PlistValue(-1)}})));
}

}  // namespace
