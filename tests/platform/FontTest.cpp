#include "platform/Font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

using plat::Font;

TEST(FontTest, FindsFontsByPostScriptNameAndFamily) {
    plat::FontRef sans = Font::fontWithExactName("DejaVuSans");
    ASSERT_TRUE(sans);
    EXPECT_EQ(sans->postScriptName(), "DejaVuSans");
    EXPECT_EQ(sans->familyName(), "DejaVu Sans");
    EXPECT_EQ(Font::fontWithName("DejaVuSans"), sans);  // shared, not reopened

    plat::FontRef bold = Font::fontWithExactName("DejaVuSans-Bold");
    ASSERT_TRUE(bold);
    EXPECT_EQ(bold->styleName(), "Bold");

    plat::FontRef byFamily = Font::fontWithFamily("DejaVu Sans", "Bold");
    ASSERT_TRUE(byFamily);
    EXPECT_EQ(byFamily->postScriptName(), "DejaVuSans-Bold");
    EXPECT_FALSE(Font::fontWithFamily("No Such Family Anywhere"));

    const std::vector<std::string> families = Font::familyNames();
    EXPECT_NE(std::find(families.begin(), families.end(), "DejaVu Sans"), families.end());
}

TEST(FontTest, FamilyMembersGiveTheirPostScriptNamesRegularFirst) {
    const std::vector<Font::FamilyMember> members = Font::familyMembers("DejaVu Sans Mono");
    ASSERT_GE(members.size(), 4u);
    EXPECT_EQ(members.front().postScriptName, "DejaVuSansMono");
    std::vector<std::string> names;
    for (const Font::FamilyMember& member : members) {
        EXPECT_FALSE(member.styleName.empty());
        EXPECT_TRUE(Font::fontWithExactName(member.postScriptName)) << member.postScriptName;
        names.push_back(member.postScriptName);
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "DejaVuSansMono-BoldOblique"), names.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());  // no repeats
    EXPECT_TRUE(Font::familyMembers("No Such Family Anywhere").empty());
    EXPECT_TRUE(Font::familyMembers("").empty());
}

TEST(FontTest, DefaultFontIsDejaVuSans) {
    plat::FontRef font = Font::defaultFont();
    ASSERT_TRUE(font);
    EXPECT_EQ(font->familyName(), "DejaVu Sans");
    EXPECT_GT(font->ascent(100), 50);
    EXPECT_LT(font->descent(100), 0);
}

TEST(FontTest, UnknownNamesFallBackToARealFontInsteadOfNothing) {
    EXPECT_FALSE(Font::fontWithExactName("NoSuchFont-Regular"));
    EXPECT_FALSE(Font::fontWithExactName(""));
    for (const char* name : {"NoSuchFont-Regular", "Helvetica-Bold", "", "-", "ArialMT"}) {
        SCOPED_TRACE(name);
        plat::FontRef font = Font::fontWithName(name);
        ASSERT_TRUE(font);
        EXPECT_NE(font->glyphsForText("A")[0], 0u);
    }
}

TEST(FontTest, TextDecodingGivesOneEntryPerCharacter) {
    EXPECT_EQ(plat::CodePointsFromUTF8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
              (std::u32string{U'a', U'\u00E9', U'\u20AC', U'\U0001F600'}));
    // Malformed input: stray continuation, truncated sequence, overlong form.
    EXPECT_EQ(plat::CodePointsFromUTF8("\x80" "b\xE2\x82"), (std::u32string{0xFFFD, U'b', 0xFFFD}));
    EXPECT_EQ(plat::CodePointsFromUTF8("\xC0\xAF"), (std::u32string{0xFFFD}));
    EXPECT_EQ(plat::CodePointsFromUTF8("\xED\xA0\x80"), (std::u32string{0xFFFD}));
    EXPECT_EQ(plat::CodePointsFromUTF16(u"x\U0001D400y"), (std::u32string{U'x', U'\U0001D400', U'y'}));
    EXPECT_EQ(plat::CodePointsFromUTF16(std::u16string{u'a', char16_t(0xD800), u'b'}),
              (std::u32string{U'a', 0xFFFD, U'b'}));
}

TEST(FontTest, CharactersOutsideTheBasicPlaneMapToOneGlyphEach) {
    plat::FontRef font = Font::defaultFont();
    ASSERT_TRUE(font);
    // U+1F600 GRINNING FACE is in DejaVu Sans; U+1D400 is not.
    const std::vector<plat::GlyphId> glyphs = font->glyphsForText("A\xF0\x9F\x98\x80\xF0\x9D\x90\x80Z");
    ASSERT_EQ(glyphs.size(), 4u);
    EXPECT_NE(glyphs[0], 0u);
    EXPECT_NE(glyphs[1], 0u);
    EXPECT_NE(glyphs[1], glyphs[0]);
    EXPECT_EQ(glyphs[2], 0u);
    EXPECT_NE(glyphs[3], 0u);
}

TEST(FontTest, AdvancesAreUnhintedAndScaleWithSize) {
    plat::FontRef font = Font::defaultFont();
    const std::vector<plat::GlyphId> glyphs = font->glyphsForText("iW");
    const std::vector<double> small = font->advancesForGlyphs(glyphs, 10);
    const std::vector<double> large = font->advancesForGlyphs(glyphs, 1000);
    ASSERT_EQ(small.size(), 2u);
    EXPECT_LT(small[0], small[1]);
    EXPECT_NEAR(large[0], small[0] * 100, 1e-9);
    EXPECT_NEAR(large[1], small[1] * 100, 1e-9);
    // Design units over units per em: not rounded to whole pixels.
    EXPECT_NE(small[1], std::round(small[1]));
    // Out-of-range glyph indices are harmless.
    const plat::GlyphId bogus[] = {0xFFFFFF};
    EXPECT_EQ(font->advancesForGlyphs(bogus, 10)[0], 0.0);
    EXPECT_TRUE(font->boundingRectsForGlyphs(bogus, 10)[0].isEmpty());
}

TEST(FontTest, GlyphBoundsAreYUpAndUnited) {
    plat::FontRef font = Font::defaultFont();
    const std::vector<plat::GlyphId> glyphs = font->glyphsForText("p T");
    const std::vector<plat::Rect> rects = font->boundingRectsForGlyphs(glyphs, 100);
    ASSERT_EQ(rects.size(), 3u);
    EXPECT_LT(rects[0].minY(), -10);  // descender below the baseline
    EXPECT_TRUE(rects[1].isEmpty());  // space has no ink
    EXPECT_NEAR(rects[2].minY(), 0, 1);
    EXPECT_GT(rects[2].maxY(), 60);
    const plat::Rect all = font->boundingRectForGlyphs(glyphs, 100);
    EXPECT_EQ(all.minY(), rects[0].minY());
    EXPECT_EQ(all.maxY(), std::max(rects[0].maxY(), rects[2].maxY()));
    EXPECT_LE(all.minX(), std::min(rects[0].minX(), rects[2].minX()));
}

}  // namespace
