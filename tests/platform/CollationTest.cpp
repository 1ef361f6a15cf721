#include "platform/Collation.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using plat::Collation;

TEST(Collation, NumbersCompareByValue) {
    EXPECT_LT(Collation::compare("img2", "img10"), 0);
    EXPECT_GT(Collation::compare("img10", "img2"), 0);
    EXPECT_LT(Collation::compare("img9.jpg", "img10.jpg"), 0);
    EXPECT_LT(Collation::compare("2 photo", "10 photo"), 0);
}

TEST(Collation, CaseAndWidthAreSecondaryButStillOrdered) {
    EXPECT_LT(Collation::compare("apple", "Banana"), 0);
    EXPECT_LT(Collation::compare("Apple", "banana"), 0);
    // Equal but for case or width: a fixed, antisymmetric order, never 0.
    const std::pair<std::string, std::string> pairs[] = {
        {"photo", "Photo"}, {"PHOTO", "photo"}, {"abc", "\xEF\xBD\x81\x62\x63"} /* full-width a */,
        {"img01", "img1"}, {"e\xCC\x81", "\xC3\xA9"} /* decomposed vs composed é */};
    for (const auto& [a, b] : pairs) {
        const int ab = Collation::compare(a, b);
        EXPECT_NE(ab, 0) << a << " / " << b;
        EXPECT_EQ(ab, -Collation::compare(b, a)) << a << " / " << b;
    }
    EXPECT_EQ(Collation::compare("same", "same"), 0);
    EXPECT_EQ(Collation::compare("", ""), 0);
    EXPECT_LT(Collation::compare("", "a"), 0);
}

TEST(Collation, SortsLikeAFileManagerWhateverTheLocale) {
    std::vector<std::string> names = {"img10.jpg", "IMG2.jpg", "img1.jpg", "Img2.jpg", "b.png", "a.png", "img2.jpg"};
    std::vector<std::string> first = names;
    std::sort(first.begin(), first.end(), Collation::less);
    EXPECT_EQ(first.front(), "a.png");
    EXPECT_EQ(first[2], "img1.jpg");
    EXPECT_EQ(first.back(), "img10.jpg");
    for (const char* lang : {"tr_TR.UTF-8", "sv_SE.UTF-8", "C"}) {
        ScopedEnvironment env("LANG", lang);
        ScopedEnvironment all("LC_ALL", lang);
        std::vector<std::string> again = names;
        std::reverse(again.begin(), again.end());
        std::sort(again.begin(), again.end(), Collation::less);
        EXPECT_EQ(again, first) << lang;
    }
}

TEST(Collation, IllFormedUtf8IsStillOrdered) {
    const std::string bad1 = "a\xFF", bad2 = "a\xFE";
    EXPECT_NE(Collation::compare(bad1, bad2), 0);
    EXPECT_EQ(Collation::compare(bad1, bad2), -Collation::compare(bad2, bad1));
}
