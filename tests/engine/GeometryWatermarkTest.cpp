#include "engine/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>

// Editor canvas 550 × 366.67 for a 3000 × 2000 output.
namespace {
constexpr double kViewW = 550.0;
constexpr double kViewH = 550.0 * 2000.0 / 3000.0;
constexpr double kOutW = 3000.0;
constexpr double kOutH = 2000.0;
}  // namespace

TEST(GeometryWatermark, EditorScale) {
    EXPECT_NEAR(GetEditorScale(3000, 2000), 5.4545454, 1e-5);
    EXPECT_NEAR(GetEditorScale(1000, 2200), 4.0, 1e-3);
    EXPECT_FLOAT_EQ(GetEditorScale(550, 10), 1.0f);
}

TEST(GeometryWatermark, AnchoredAtTheLowEdge) {
    const float s = GetEditorScale(kOutW, kOutH);
    // 10 points from the left and bottom, far from centre and the other edges.
    const plat::Point p = GetWatermarkPosition({10, 12}, {110, 62}, kOutW, kOutH, kViewW, kViewH, s, s);
    EXPECT_NEAR(p.x, 10 * kOutW / kViewW, 1e-9);
    EXPECT_NEAR(p.y, 12 * kOutH / kViewH, 1e-9);
}

TEST(GeometryWatermark, AnchoredAtTheHighEdge) {
    const float s = GetEditorScale(kOutW, kOutH);
    // 20 points from the right edge, 30 from the top; 100 × 40 points large.
    const plat::Point a{kViewW - 120, kViewH - 70};
    const plat::Point b{kViewW - 20, kViewH - 30};
    const plat::Point p = GetWatermarkPosition(a, b, kOutW, kOutH, kViewW, kViewH, s, s);
    EXPECT_NEAR(p.x, kOutW - 20 * kOutW / kViewW - 100 * s, 1e-3);
    EXPECT_NEAR(p.y, kOutH - 30 * kOutH / kViewH - 40 * s, 1e-3);
    // The right margin scales with the output; the watermark keeps its scaled size.
    EXPECT_NEAR(kOutW - (p.x + 100 * s), 20 * kOutW / kViewW, 1e-3);
}

TEST(GeometryWatermark, AnchoredAtTheCentre) {
    const float s = GetEditorScale(kOutW, kOutH);
    // Centred in the view, touching no edge.
    const plat::Point a{kViewW / 2 - 50, kViewH / 2 - 20};
    const plat::Point b{kViewW / 2 + 50, kViewH / 2 + 20};
    const plat::Point p = GetWatermarkPosition(a, b, kOutW, kOutH, kViewW, kViewH, s, s);
    EXPECT_NEAR(p.x, kOutW / 2 - 50 * s, 1e-3);
    EXPECT_NEAR(p.y, kOutH / 2 - 20 * s, 1e-3);
}

TEST(GeometryWatermark, TiesGoToLowEdgeThenCentre) {
    // View 200 wide, output 400 (k = 2). A point-wide rectangle at 50 is 50
    // from the low edge, 50 from the centre and 150 from the high edge.
    plat::Point p = GetWatermarkPosition({50, 0}, {50, 10}, 400, 400, 200, 200, 1, 1);
    EXPECT_NEAR(p.x, 2 * 50, 1e-9);
    // At 150: 150 from the low edge, 50 from the centre and from the high edge.
    p = GetWatermarkPosition({150, 0}, {150, 10}, 400, 400, 200, 200, 1, 1);
    EXPECT_NEAR(p.x, 200 + 50 * 2, 1e-9);
    // Symmetric margins: the centre is nearer than either edge.
    p = GetWatermarkPosition({10, 0}, {190, 10}, 400, 400, 200, 200, 1, 1);
    EXPECT_NEAR(p.x, 200 - 90, 1e-9);
}

TEST(GeometryWatermark, ThreeWayTieIsZero) {
    // View 100: from -10 to 90 is 10 from the low edge, 10 from the high edge
    // and its centre 10 from the view's centre.
    plat::Point p = GetWatermarkPosition({-10, -10}, {90, 90}, 400, 400, 100, 100, 2, 2);
    EXPECT_EQ(p.x, 0.0);
    EXPECT_EQ(p.y, 0.0);
    // Covering the whole view: all three distances are 0.
    p = GetWatermarkPosition({0, 0}, {200, 100}, 400, 200, 200, 100, 2, 2);
    EXPECT_EQ(p.x, 0.0);
    EXPECT_EQ(p.y, 0.0);
}

TEST(GeometryWatermark, EditorReanchoringWithScaleOne) {
    // The editor maps positions between two canvas sizes with scale 1: a
    // high-edge watermark keeps its extent and its margin scales.
    const plat::Point p = GetWatermarkPosition({400, 10}, {500, 30}, 1100, 200, 550, 100, 1, 1);
    EXPECT_NEAR(p.x, 1100 - 50 * 2 - 100, 1e-9);
    EXPECT_NEAR(p.y, 10 * 2, 1e-9);
}

TEST(GeometryWatermark, ZeroViewGivesNoNonsense) {
    const plat::Point p = GetWatermarkPosition({0, 0}, {10, 10}, 100, 100, 0, 0, 1, 1);
    EXPECT_TRUE(std::isfinite(p.x));
    EXPECT_TRUE(std::isfinite(p.y));
}

TEST(GeometryWatermark, WatermarkImageFitsTheCanvas) {
    EXPECT_EQ(FitWatermarkImageSize(2000, 1000), (plat::Size{550, 275}));
    EXPECT_EQ(FitWatermarkImageSize(1000, 2000), (plat::Size{275, 550}));
    EXPECT_EQ(FitWatermarkImageSize(1100, 1100), (plat::Size{550, 550}));
    EXPECT_EQ(FitWatermarkImageSize(300, 200), (plat::Size{300, 200}));
}
