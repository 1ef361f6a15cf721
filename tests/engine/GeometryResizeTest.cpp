#include "engine/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

ResizeRequest Pixels(double w, double h, int option, bool proportional = true, bool upsample = true) {
    ResizeRequest r;
    r.keepProportions = proportional;
    r.upsample = upsample;
    r.width = w;
    r.height = h;
    r.unit = kUnitPixels;
    r.scaleOption = option;
    return r;
}

ResizeGeometry Fit(const ResizeRequest& r, double W, double H, Resolution source = {72, 72}) {
    return ComputeResizeGeometryForSource(r, W, H, source);
}

void ExpectCanvas(const ResizeGeometry& g, std::uint32_t w, std::uint32_t h, plat::Rect draw) {
    ASSERT_TRUE(g.valid);
    EXPECT_EQ(g.canvasWidth, w);
    EXPECT_EQ(g.canvasHeight, h);
    EXPECT_EQ(g.drawRect, draw);
}

}  // namespace

TEST(GeometryUnits, ToPointsAndInches) {
    EXPECT_DOUBLE_EQ(ConvertUnitToPoints(kUnitMillimetres, 25.4), 72.0);
    EXPECT_DOUBLE_EQ(ConvertUnitToPoints(kUnitCentimetres, 2.54), 72.0);
    EXPECT_DOUBLE_EQ(ConvertUnitToPoints(kUnitInches, 2), 144.0);
    EXPECT_DOUBLE_EQ(ConvertUnitToPoints(99, 1), 72.0);  // unknown units count as inches
    EXPECT_NEAR(ConvertUnitToInches(kUnitMillimetres, 25.4), 1.0, 1e-7);
    EXPECT_NEAR(ConvertUnitToInches(kUnitCentimetres, 2.54), 1.0, 1e-7);
    EXPECT_DOUBLE_EQ(ConvertUnitToInches(kUnitPoints, 144), 2.0);
}

TEST(GeometryResize, TargetSizeInEveryUnit) {
    ResizeRequest r;
    r.width = 50;
    r.height = 25;
    r.unit = kUnitPercent;
    EXPECT_EQ(ComputeTargetSize(r, 4000, 3000, {72, 72}), (plat::Size{2000, 750}));
    r.unit = kUnitPixels;
    EXPECT_EQ(ComputeTargetSize(r, 4000, 3000, {72, 72}), (plat::Size{50, 25}));
    r.unit = kUnitPoints;
    EXPECT_EQ(ComputeTargetSize(r, 4000, 3000, {144, 288}), (plat::Size{100, 100}));
    r.unit = kUnitInches;
    r.width = 2;
    r.height = 1;
    EXPECT_EQ(ComputeTargetSize(r, 4000, 3000, {300, 200}), (plat::Size{600, 200}));
    r.unit = kUnitCentimetres;
    r.width = 2.54;
    r.height = 5.08;
    plat::Size s = ComputeTargetSize(r, 4000, 3000, {100, 100});
    EXPECT_NEAR(s.width, 100, 1e-9);
    EXPECT_NEAR(s.height, 200, 1e-9);
    r.unit = kUnitMillimetres;
    r.width = 25.4;
    r.height = 0;
    s = ComputeTargetSize(r, 4000, 3000, {300, 300});
    EXPECT_NEAR(s.width, 300, 1e-9);
    EXPECT_EQ(s.height, 0);
    r.unit = 0;  // unknown: inches
    r.width = 1;
    EXPECT_NEAR(ComputeTargetSize(r, 4000, 3000, {240, 240}).width, 240, 1e-9);
}

TEST(GeometryResize, ResolutionFromRequestOrSource) {
    ResizeRequest r;
    r.dpi = 0;
    Resolution res = ComputeOutputResolution(r, {240, 180});
    EXPECT_EQ(res.x, 240);
    EXPECT_EQ(res.y, 180);
    r.dpi = 300;
    res = ComputeOutputResolution(r, {240, 180});
    EXPECT_EQ(res.x, 300);
    EXPECT_EQ(res.y, 300);
}

TEST(GeometryResize, WidthOnlyAndHeightOnly) {
    ExpectCanvas(Fit(Pixels(800, 0, 0), 4000, 3000), 800, 600, {0, 0, 800, 600});
    ExpectCanvas(Fit(Pixels(0, 600, 1), 4000, 3000), 800, 600, {0, 0, 800, 600});
    // Both sides given with options that read only one: k = 0, nothing to make.
    EXPECT_FALSE(Fit(Pixels(800, 600, 0), 4000, 3000).valid);
    EXPECT_FALSE(Fit(Pixels(800, 600, 4, true), 4000, 3000).valid);
}

TEST(GeometryResize, FitCoverAndCoverCrop) {
    ExpectCanvas(Fit(Pixels(800, 800, 2), 4000, 3000), 800, 600, {0, 0, 800, 600});
    ExpectCanvas(Fit(Pixels(800, 800, 5), 4000, 3000), 1067, 800, {0, 0, 1067, 800});
    // nearest(133.5) = 134 (halves to even).
    ExpectCanvas(Fit(Pixels(800, 800, 6), 4000, 3000), 800, 800, {-134, 0, 1067, 800});
    // A tall box crops the height around the centre.
    ExpectCanvas(Fit(Pixels(300, 100, 6), 3000, 3000), 300, 100, {0, -100, 300, 300});
    // Portrait source into a landscape box: fit takes the height.
    ExpectCanvas(Fit(Pixels(800, 600, 2), 3000, 4000), 450, 600, {0, 0, 450, 600});
}

TEST(GeometryResize, UpsamplingOnAndOff) {
    ExpectCanvas(Fit(Pixels(800, 600, 2, true, false), 400, 300), 400, 300, {0, 0, 400, 300});
    ExpectCanvas(Fit(Pixels(800, 600, 2, true, true), 400, 300), 800, 600, {0, 0, 800, 600});
    // Cover without upsampling keeps the source as it is, crop or not.
    ExpectCanvas(Fit(Pixels(500, 500, 6, true, false), 400, 300), 400, 300, {0, 0, 400, 300});
    // Stretch without upsampling: one side too large keeps the source.
    ExpectCanvas(Fit(Pixels(500, 200, 4, false, false), 400, 300), 400, 300, {0, 0, 400, 300});
    ExpectCanvas(Fit(Pixels(500, 200, 4, false, true), 400, 300), 500, 200, {0, 0, 500, 200});
    // However large the request, without upsampling the source keeps its size.
    ExpectCanvas(Fit(Pixels(1e7, 0, 0, true, false), 400, 300), 400, 300, {0, 0, 400, 300});
    ExpectCanvas(Fit(Pixels(1e7, 1e7, 2, true, false), 400, 300), 400, 300, {0, 0, 400, 300});
}

TEST(GeometryResize, CropWithoutScaling) {
    ExpectCanvas(Fit(Pixels(1000, 5000, 3, false), 4000, 3000), 1000, 3000, {-1500, 0, 4000, 3000});
    ExpectCanvas(Fit(Pixels(1001, 1001, 3, false), 4000, 3000), 1001, 1001, {-1500, -1000, 4000, 3000});
    // Odd margins round half to even: (4000 - 1999) / 2 = 1000.5 → 1000.
    ExpectCanvas(Fit(Pixels(1999, 3000, 3, false), 4000, 3000), 1999, 3000, {-1000, 0, 4000, 3000});
}

TEST(GeometryResize, StretchTruncatesFractions) {
    ResizeRequest r = Pixels(0, 0, 4, false);
    r.unit = kUnitPercent;
    r.width = 33.333;
    r.height = 50;
    ExpectCanvas(Fit(r, 1000, 1000), 333, 500, {0, 0, 333, 500});
}

TEST(GeometryResize, PercentRoundsHalvesToEven) {
    ResizeRequest r = Pixels(50, 50, 2);
    r.unit = kUnitPercent;
    ExpectCanvas(Fit(r, 1001, 1001), 500, 500, {0, 0, 500, 500});
    ExpectCanvas(Fit(r, 1003, 1003), 502, 502, {0, 0, 502, 502});
}

TEST(GeometryResize, ResizeGroupOffKeepsTheSize) {
    ResizeRequest r;  // what the application sends with the group off
    r.width = 100;
    r.height = 100;
    r.unit = kUnitPercent;
    r.scaleOption = 2;
    r.keepProportions = false;
    r.upsample = false;
    const ResizeGeometry g = Fit(r, 1234, 567, {300, 300});
    ExpectCanvas(g, 1234, 567, {0, 0, 1234, 567});
    EXPECT_EQ(g.resolution.x, 300);
    EXPECT_FALSE(g.sharpen);
}

TEST(GeometryResize, InchesAtAGivenResolution) {
    ResizeRequest r = Pixels(2, 2, 2);
    r.unit = kUnitInches;
    r.dpi = 300;
    const ResizeGeometry g = Fit(r, 600, 600);
    ExpectCanvas(g, 600, 600, {0, 0, 600, 600});
    EXPECT_EQ(g.resolution.x, 300);
    EXPECT_EQ(g.resolution.y, 300);
}

TEST(GeometryResize, CentimetresAndPointsFollowTheSourceResolution) {
    ResizeRequest r = Pixels(2.54, 0, 0);
    r.unit = kUnitCentimetres;
    ExpectCanvas(Fit(r, 3000, 2000, {300, 300}), 300, 200, {0, 0, 300, 200});
    r.unit = kUnitPoints;
    r.width = 72;
    ExpectCanvas(Fit(r, 3000, 2000, {150, 150}), 150, 100, {0, 0, 150, 100});
    r.unit = kUnitMillimetres;
    r.width = 254;
    ExpectCanvas(Fit(r, 3000, 2000, {100, 100}), 1000, 667, {0, 0, 1000, 667});
}

TEST(GeometryResize, SharpenFollowsTheRequest) {
    ResizeRequest r = Pixels(100, 0, 0);
    r.sharpen = true;
    EXPECT_TRUE(Fit(r, 400, 300).sharpen);
    r.sharpen = false;
    EXPECT_FALSE(Fit(r, 400, 300).sharpen);
}

TEST(GeometryResize, KeepPixelsChangesOnlyTheResolution) {
    ResizeRequest r = Pixels(0, 0, 2);
    r.applySize = false;
    r.unit = kUnitInches;
    r.width = 10;  // 3000 pixels over 10 inches
    r.height = 0;
    ResizeGeometry g = Fit(r, 3000, 2000, {72, 144});
    ExpectCanvas(g, 3000, 2000, {0, 0, 3000, 2000});
    EXPECT_TRUE(g.keepPixels);
    EXPECT_FALSE(g.sharpen);
    EXPECT_NEAR(g.resolution.x, 300, 1e-9);
    EXPECT_NEAR(g.resolution.y, 600, 1e-9);  // keeps the ratio of the two

    r.width = 0;
    r.height = 4;  // 2000 pixels over 4 inches
    g = Fit(r, 3000, 2000, {72, 72});
    EXPECT_NEAR(g.resolution.y, 500, 1e-9);
    EXPECT_NEAR(g.resolution.x, 500, 1e-9);

    // No size at all has no resolution.
    r.height = 0;
    EXPECT_FALSE(Fit(r, 3000, 2000).valid);
}

TEST(GeometryResize, ImpossibleSizesAreRejected) {
    EXPECT_FALSE(Fit(Pixels(-100, 0, 0), 400, 300).valid);
    EXPECT_FALSE(Fit(Pixels(0, 0, 4, false), 400, 300).valid);
    EXPECT_FALSE(Fit(Pixels(1e9, 0, 0), 400, 300).valid);
    EXPECT_FALSE(Fit(Pixels(200000, 100, 4, false), 400, 300).valid);
    EXPECT_FALSE(Fit(Pixels(100, 0, 0), 0, 300).valid);
    EXPECT_FALSE(Fit(Pixels(std::nan(""), 0, 0), 400, 300).valid);
    // A tiny box that rounds to nothing.
    EXPECT_FALSE(Fit(Pixels(0.4, 0, 0), 400, 300).valid);
    // Cover-crop whose drawn image would be enormous although the canvas is thin.
    EXPECT_FALSE(Fit(Pixels(1, 120000, 6), 4000, 3000).valid);
}
