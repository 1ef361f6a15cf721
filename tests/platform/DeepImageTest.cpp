// Images of 16 bits and float: kept when asked for, drawn at their depth,
// encoded at the depth each format holds.

#include "platform/BitmapContext.h"
#include "platform/Image.h"
#include "platform/ImageDestination.h"
#include "platform/Initialize.h"
#include "platform/SharpenLuminance.h"
#include "platform/codecs/ExrCodec.h"
#include "platform/codecs/TiffPages.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <cmath>
#include <set>

namespace {

using plat::BitmapContext;
using plat::ColorModel;
using plat::Image;
using plat::Rect;
using vips::VImage;

class DeepImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
};

// A 64 × 4 ramp: steps of 5 in 16 bits, or of 1/4096 in float.
VImage Ramp(VipsBandFormat format, int colour, bool alpha) {
    const VImage x = VImage::xyz(64, 4).extract_band(0);
    const VImage value = format == VIPS_FORMAT_FLOAT ? (x / 4096.0 + 0.25) : (x * 5 + 30000);
    std::vector<VImage> bands(std::size_t(colour), value);
    if (alpha) bands.push_back(value * 0 + (format == VIPS_FORMAT_FLOAT ? 0.5 : 32768));
    const bool sixteen = format == VIPS_FORMAT_USHORT;
    return VImage::bandjoin(bands).cast(format).copy(VImage::option()->set(
        "interpretation", colour == 1 ? (sixteen ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W)
                                      : (sixteen ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB)));
}

std::size_t Distinct(const VImage& image) {
    std::size_t size = 0;
    void* memory = image.extract_band(0).cast(VIPS_FORMAT_FLOAT).write_to_memory(&size);
    const auto* values = static_cast<const float*>(memory);
    const std::set<float> distinct(values, values + size / sizeof(float));
    g_free(memory);
    return distinct.size();
}

struct Layout {
    const char* name;
    VipsBandFormat format;
    int colour;
    bool alpha;
};

class DeepLayouts : public DeepImageTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(DeepLayouts, KeptOnlyWhenAsked) {
    const Layout& l = GetParam();
    const VImage ramp = Ramp(l.format, l.colour, l.alpha);
    const plat::ImageRef kept = Image::Create(ramp, true);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->bitsPerComponent(), l.format == VIPS_FORMAT_USHORT ? 16 : 32);
    EXPECT_EQ(kept->colorModel(), l.colour == 1 ? ColorModel::Gray : ColorModel::RGB);
    EXPECT_EQ(kept->hasAlpha(), l.alpha);
    EXPECT_EQ(kept->vimage().getpoint(10, 1), ramp.getpoint(10, 1));

    // Otherwise the nearest 8-bit step.
    const plat::ImageRef flat = Image::Create(ramp);
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->bitsPerComponent(), 8);
    const double v = ramp.getpoint(10, 1)[0];
    EXPECT_EQ(flat->vimage().getpoint(10, 1)[0],
              std::round(l.format == VIPS_FORMAT_USHORT ? v / 257.0 : v * 255.0));
}

TEST_P(DeepLayouts, DrawnTurnedResizedAndWatermarkedAtTheirDepth) {
    const Layout& l = GetParam();
    const plat::ImageRef image = Image::Create(Ramp(l.format, l.colour, l.alpha), true);
    const ColorModel model = image->colorModel();
    const int bits = image->bitsPerComponent();

    // Same size: the samples come out unchanged.
    auto same = BitmapContext::create(64, 4, model, l.alpha, bits);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->bitsPerComponent(), bits);
    ASSERT_TRUE(same->drawImage(*image, Rect(0, 0, 64, 4)));
    plat::ImageRef out = same->makeImage();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->bitsPerComponent(), bits);
    const std::vector<double> source = image->vimage().getpoint(33, 2);
    const std::vector<double> drawn = out->vimage().getpoint(33, 2);
    ASSERT_EQ(drawn.size(), source.size());
    for (std::size_t b = 0; b < source.size(); ++b) EXPECT_NEAR(drawn[b], source[b], bits == 16 ? 0 : 1e-6);

    // Turned a quarter and scaled, with an 8-bit watermark and a fill drawn
    // over part of it: still deep, the fine steps still there.
    auto turned = BitmapContext::create(4, 48, model, l.alpha, bits);
    turned->concatCTM(plat::AffineTransform{0, 1, -1, 0, 4, 0});
    ASSERT_TRUE(turned->drawImage(*image, Rect(0, 0, 48, 4)));
    turned->concatCTM(plat::AffineTransform{0, -1, 1, 0, 0, 4});
    const plat::ImageRef mark = Image::FromPixels(2, 2, std::vector<std::uint8_t>(16, 200).data());
    turned->setAlpha(0.5);
    ASSERT_TRUE(turned->drawImage(*mark, Rect(0, 0, 2, 2)));
    turned->setAlpha(1.0);
    turned->setFillColor({1, 1, 1, 1});
    ASSERT_TRUE(turned->fillRect(Rect(2, 46, 2, 2)));
    out = turned->makeImage();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->bitsPerComponent(), bits);
    EXPECT_GT(Distinct(out->vimage()), 40u);
    // The fill is white at the depth: 65535 or 1.0.
    EXPECT_NEAR(out->vimage().getpoint(3, 0)[0], bits == 16 ? 65535.0 : 1.0, 1e-6);

    // Sharpening keeps the depth.
    const plat::ImageRef sharpened = plat::SharpenLuminance(*out, 0.25);
    ASSERT_TRUE(sharpened);
    EXPECT_EQ(sharpened->bitsPerComponent(), bits);
    EXPECT_EQ(sharpened->hasAlpha(), l.alpha);
}

TEST_P(DeepLayouts, EightBitContextsTakeTheNearestStep) {
    const Layout& l = GetParam();
    const VImage ramp = Ramp(l.format, l.colour, l.alpha);
    const plat::ImageRef image = Image::Create(ramp, true);
    auto context = BitmapContext::create(64, 4, image->colorModel(), l.alpha);
    ASSERT_TRUE(context->drawImage(*image, Rect(0, 0, 64, 4)));
    const plat::ImageRef out = context->makeImage();
    EXPECT_EQ(out->bitsPerComponent(), 8);
    const double v = ramp.getpoint(20, 1)[0];
    EXPECT_EQ(out->vimage().getpoint(20, 1)[0], std::round(l.format == VIPS_FORMAT_USHORT ? v / 257.0 : v * 255.0));
}

TEST_P(DeepLayouts, TiffPagesKeepTheDepth) {
    const Layout& l = GetParam();
    const plat::ImageRef image = Image::Create(Ramp(l.format, l.colour, l.alpha), true);
    const std::vector<std::uint8_t> tiff =
        plat::codecs::WriteTiffPages({{image, 72, 72, true, true}, {image, 72, 72, false, true}});
    ASSERT_FALSE(tiff.empty());
    for (int page = 0; page < 2; ++page) {
        const VImage back = VImage::new_from_buffer(tiff.data(), tiff.size(), "", VImage::option()->set("page", page));
        EXPECT_EQ(back.format(), l.format);
        EXPECT_EQ(back.bands(), image->bands());
        EXPECT_EQ(back.getpoint(40, 3), image->vimage().getpoint(40, 3));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeepLayouts,
                         ::testing::Values(Layout{"Grey16", VIPS_FORMAT_USHORT, 1, false},
                                           Layout{"GreyAlpha16", VIPS_FORMAT_USHORT, 1, true},
                                           Layout{"RGB16", VIPS_FORMAT_USHORT, 3, false},
                                           Layout{"RGBA16", VIPS_FORMAT_USHORT, 3, true},
                                           Layout{"GreyFloat", VIPS_FORMAT_FLOAT, 1, false},
                                           Layout{"RGBAFloat", VIPS_FORMAT_FLOAT, 3, true}),
                         [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

TEST_F(DeepImageTest, GreyImagesBecomeOpenExr) {
    // Grey pixels of any depth are written as three equal channels.
    for (const VImage& grey : {Ramp(VIPS_FORMAT_USHORT, 1, true), Ramp(VIPS_FORMAT_USHORT, 1, false)}) {
        for (bool keep : {false, true}) {
            SCOPED_TRACE(std::to_string(grey.bands()) + (keep ? " deep" : " 8-bit"));
            const plat::ImageRef image = Image::Create(grey, keep);
            const std::vector<std::uint8_t> exr = plat::codecs::SaveExr(image->vimage());
            ASSERT_FALSE(exr.empty());
            const VImage back = VImage::new_from_buffer(exr.data(), exr.size(), "");
            EXPECT_EQ(back.bands(), 4);
            const std::vector<double> pixel = back.getpoint(5, 1);
            EXPECT_EQ(pixel[0], pixel[1]);
            EXPECT_EQ(pixel[0], pixel[2]);
            // libvips reads alpha back on a 16-bit scale.
            EXPECT_NEAR(pixel[3], grey.bands() == 2 ? 32768 : 65535, 200);
        }
    }
}

}  // namespace
