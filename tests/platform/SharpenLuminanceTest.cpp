#include "platform/SharpenLuminance.h"
#include "platform/Initialize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using vips::VImage;

// A soft vertical edge from dark to light grey across the middle.
VImage softEdge(int bands) {
    VImage x = VImage::xyz(64, 16).extract_band(0);
    VImage step = (x > 31).ifthenelse(170, 80).cast(VIPS_FORMAT_UCHAR);
    VImage soft = step.gaussblur(1.5).cast(VIPS_FORMAT_UCHAR);
    if (bands == 1) {
        return soft.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
    }
    VImage rgb = VImage::bandjoin(std::vector<VImage>{soft, soft, soft});
    return rgb.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

double contrastAcrossEdge(const plat::Image& image) {
    return image.vimage().getpoint(34, 8)[0] - image.vimage().getpoint(29, 8)[0];
}

TEST(SharpenLuminanceTest, RaisesEdgeContrastAndKeepsTheColourModel) {
    plat::Initialize();
    for (int bands : {1, 3}) {
        SCOPED_TRACE(bands);
        plat::ImageRef soft = plat::Image::Create(softEdge(bands));
        ASSERT_TRUE(soft);
        plat::ImageRef sharp = plat::SharpenLuminance(*soft, 0.4);
        ASSERT_TRUE(sharp);
        EXPECT_EQ(sharp->width(), soft->width());
        EXPECT_EQ(sharp->colorModel(), soft->colorModel());
        EXPECT_EQ(sharp->bands(), soft->bands());
        EXPECT_GT(contrastAcrossEdge(*sharp), contrastAcrossEdge(*soft) + 5);
        // Flat areas stay as they were.
        EXPECT_NEAR(sharp->vimage().getpoint(2, 8)[0], soft->vimage().getpoint(2, 8)[0], 1);
        // A stronger setting sharpens more; zero leaves the pixels alone.
        plat::ImageRef stronger = plat::SharpenLuminance(*soft, 1.0);
        EXPECT_GT(contrastAcrossEdge(*stronger), contrastAcrossEdge(*sharp));
        plat::ImageRef none = plat::SharpenLuminance(*soft, 0.0);
        EXPECT_EQ(contrastAcrossEdge(*none), contrastAcrossEdge(*soft));
    }
}

TEST(SharpenLuminanceTest, KeepsAlphaAndRejectsNonsense) {
    plat::Initialize();
    VImage rgba = softEdge(3).bandjoin_const({77.0});
    plat::ImageRef soft = plat::Image::Create(rgba);
    plat::ImageRef sharp = plat::SharpenLuminance(*soft, 0.4);
    ASSERT_TRUE(sharp);
    EXPECT_TRUE(sharp->hasAlpha());
    EXPECT_EQ(sharp->vimage().getpoint(31, 3)[3], 77);
    EXPECT_FALSE(plat::SharpenLuminance(*soft, std::nan("")));
}

}  // namespace
