#include "engine/Geometry.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

struct Case {
    std::int64_t angle;
    std::int32_t flip;
    int index;
};

}  // namespace

TEST(GeometryOrientation, IndexForEveryAngleAndFlip) {
    const std::vector<Case> cases = {
        {0, 0, 0},    {0, 1, 1},    {0, 2, 3},    {0, 3, 2},      // both flips are a half turn
        {90, 0, 7},   {90, 1, 6},   {90, 2, 4},   {90, 3, 5},
        {-270, 0, 7}, {-270, 1, 6}, {-270, 2, 4}, {-270, 3, 5},
        {180, 0, 2},  {180, 1, 3},  {180, 2, 1},  {180, 3, 0},
        {-180, 0, 2}, {-180, 1, 3}, {-180, 2, 1}, {-180, 3, 0},
        {270, 0, 5},  {270, 1, 4},  {270, 2, 6},  {270, 3, 7},
        {-90, 0, 5},  {-90, 1, 4},  {-90, 2, 6},  {-90, 3, 7},
        {45, 0, 0},   {45, 1, 1},   {360, 2, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetOrientationTransformIndex(c.flip, c.angle), c.index)
            << "angle " << c.angle << " flip " << c.flip;
    }
}

TEST(GeometryOrientation, TableOfTransforms) {
    const double W = 400, H = 300;
    EXPECT_TRUE(GetOrientationTransform(W, H, 0, 0).isIdentity());
    EXPECT_EQ(GetOrientationTransform(W, H, 1, 0), (plat::AffineTransform{-1, 0, 0, 1, W, 0}));
    EXPECT_EQ(GetOrientationTransform(W, H, 0, 180), (plat::AffineTransform{-1, 0, 0, -1, W, H}));
    EXPECT_EQ(GetOrientationTransform(W, H, 2, 0), (plat::AffineTransform{1, 0, 0, -1, 0, H}));
    EXPECT_EQ(GetOrientationTransform(W, H, 2, 90), (plat::AffineTransform{0, -1, -1, 0, H, W}));
    EXPECT_EQ(GetOrientationTransform(W, H, 0, -90), (plat::AffineTransform{0, -1, 1, 0, 0, W}));
    EXPECT_EQ(GetOrientationTransform(W, H, 1, 90), (plat::AffineTransform{0, 1, 1, 0, 0, 0}));
    EXPECT_EQ(GetOrientationTransform(W, H, 0, 90), (plat::AffineTransform{0, 1, -1, 0, H, 0}));
}

// A mark in the top left pixel of a 400 × 300 canvas (y-up: near (0, 300))
// must land in the expected corner of the turned bitmap, and each transform
// must map the canvas exactly onto the bitmap.
TEST(GeometryOrientation, MarkedCornerLandsWhereExpected) {
    const double W = 400, H = 300;
    const plat::Point mark{0.5, H - 0.5};
    enum Corner { TopLeft, TopRight, BottomLeft, BottomRight };
    const std::vector<std::tuple<std::int64_t, std::int32_t, Corner>> cases = {
        {0, 0, TopLeft},      {0, 1, TopRight},    {0, 2, BottomLeft},  {180, 0, BottomRight},
        {90, 0, BottomLeft},  {-90, 0, TopRight},  {90, 1, BottomRight}, {90, 2, TopLeft},
    };
    for (const auto& [angle, flip, corner] : cases) {
        const bool odd = IsOddQuarterTurn(angle);
        const double bw = odd ? H : W;
        const double bh = odd ? W : H;
        const plat::AffineTransform t = GetOrientationTransform(W, H, flip, angle);
        const plat::Point p = t.apply(mark);
        const bool left = p.x < bw / 2;
        const bool top = p.y > bh / 2;
        const Corner got = top ? (left ? TopLeft : TopRight) : (left ? BottomLeft : BottomRight);
        EXPECT_EQ(got, corner) << "angle " << angle << " flip " << flip;
        EXPECT_NEAR(std::min(p.x, bw - p.x), 0.5, 1e-9);
        EXPECT_NEAR(std::min(p.y, bh - p.y), 0.5, 1e-9);

        const plat::Rect box = t.apply(plat::Rect(0, 0, W, H));
        EXPECT_EQ(box, plat::Rect(0, 0, bw, bh)) << "angle " << angle << " flip " << flip;
    }
}

TEST(GeometryOrientation, OddQuarterTurns) {
    EXPECT_TRUE(IsOddQuarterTurn(90));
    EXPECT_TRUE(IsOddQuarterTurn(-90));
    EXPECT_TRUE(IsOddQuarterTurn(270));
    EXPECT_TRUE(IsOddQuarterTurn(-270));
    EXPECT_FALSE(IsOddQuarterTurn(0));
    EXPECT_FALSE(IsOddQuarterTurn(180));
    EXPECT_FALSE(IsOddQuarterTurn(-180));
    EXPECT_FALSE(IsOddQuarterTurn(45));
}

TEST(GeometryOrientation, ExifOrientationForAngle) {
    EXPECT_EQ(GetOrientationForAngle(0, 7), 1u);
    EXPECT_EQ(GetOrientationForAngle(360, 7), 1u);
    EXPECT_EQ(GetOrientationForAngle(90, 0), 6u);
    EXPECT_EQ(GetOrientationForAngle(-270, 0), 6u);
    EXPECT_EQ(GetOrientationForAngle(180, 0), 3u);
    EXPECT_EQ(GetOrientationForAngle(-180, 0), 3u);
    EXPECT_EQ(GetOrientationForAngle(270, 0), 8u);
    EXPECT_EQ(GetOrientationForAngle(-90, 0), 8u);
    EXPECT_EQ(GetOrientationForAngle(45, 3), 3u);  // other angles keep the value
}
