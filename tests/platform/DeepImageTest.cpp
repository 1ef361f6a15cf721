// Images of 16 bits and float: kept when asked for, drawn at their depth, encoded at the depth each format holds.
#include "platform/BitmapContext.h"
#include "platform/Image.h"
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

// A 64 × 4 ramp: steps of 5 in 16 bits, or of 1/4096 in float.
VImage Ramp(VipsBandFormat format, int colour, bool alpha) {
    const bool sixteen = format == VIPS_FORMAT_USHORT;
    const VImage x = VImage::xyz(64, 4).extract_band(0);
    const VImage value = sixteen ? (x * 5 + 30000) : (x / 4096.0 + 0.25);
    std::vector<VImage> bands(std::size_t(colour), value);
    if (alpha) bands.push_back(value * 0 + (sixteen ? 32768 : 0.5));
    return VImage::bandjoin(bands).cast(format).copy(VImage::option()->set(
        "interpretation", colour == 1 ? (sixteen ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W)
                                      : (sixteen ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB)));
}

struct Layout { const char* name; VipsBandFormat format; int colour; bool alpha; };

class DeepLayouts : public ::testing::TestWithParam<Layout> {
protected:
    static void SetUpTestSuite() {
        plat::Initialize();
        // The OpenEXR bytes are read back through vips's ImageMagick loader.
        plat::RequireVipsModule("magick", "magickload_buffer");
    }
    const Layout& l = GetParam();
    const VImage ramp = Ramp(l.format, l.colour, l.alpha);
    const plat::ImageRef image = Image::Create(ramp, true);
};

TEST_P(DeepLayouts, KeptOnlyWhenAskedOtherwiseTheNearestEightBitStep) {
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitsPerComponent(), l.format == VIPS_FORMAT_USHORT ? 16 : 32);
    EXPECT_TRUE(image->colorModel() == (l.colour == 1 ? ColorModel::Gray : ColorModel::RGB) && image->hasAlpha() == l.alpha);
    EXPECT_EQ(image->vimage().getpoint(10, 1), ramp.getpoint(10, 1));

    // Not kept, or drawn by an 8-bit context: the nearest 8-bit step.
    auto context = BitmapContext::create(64, 4, image->colorModel(), l.alpha);
    ASSERT_TRUE(context->drawImage(*image, Rect(0, 0, 64, 4)));
    const double v = ramp.getpoint(20, 1)[0];
    for (const plat::ImageRef& flat : {Image::Create(ramp), context->makeImage()}) {
        ASSERT_TRUE(flat);
        EXPECT_EQ(flat->bitsPerComponent(), 8);
        EXPECT_EQ(flat->vimage().getpoint(20, 1)[0], std::round(l.format == VIPS_FORMAT_USHORT ? v / 257.0 : v * 255.0));
    }
}

TEST_P(DeepLayouts, DrawnTurnedSharpenedAndSavedAtTheirDepth) {
    const ColorModel model = image->colorModel();
    const int bits = image->bitsPerComponent();

    // Same size: the samples come out unchanged.
    auto same = BitmapContext::create(64, 4, model, l.alpha, bits);
    ASSERT_TRUE(same && same->drawImage(*image, Rect(0, 0, 64, 4)));
    plat::ImageRef out = same->makeImage();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->bitsPerComponent(), bits);
    ASSERT_EQ(out->bands(), image->bands());
    EXPECT_LE((out->vimage().cast(VIPS_FORMAT_DOUBLE) - image->vimage()).abs().max(), bits == 16 ? 0 : 1e-6);

    // Turned a quarter and scaled, with an 8-bit watermark and a white fill over part of it: still deep, fine steps kept.
    auto turned = BitmapContext::create(4, 48, model, l.alpha, bits);
    turned->concatCTM(plat::AffineTransform{0, 1, -1, 0, 4, 0});
    ASSERT_TRUE(turned->drawImage(*image, Rect(0, 0, 48, 4)));
    turned->concatCTM(plat::AffineTransform{0, -1, 1, 0, 0, 4});
    turned->setAlpha(0.5);
    const plat::ImageRef mark = Image::FromPixels(2, 2, std::vector<std::uint8_t>(16, 200).data());
    ASSERT_TRUE(turned->drawImage(*mark, Rect(0, 0, 2, 2)));
    turned->setAlpha(1.0);
    turned->setFillColor({1, 1, 1, 1});
    ASSERT_TRUE(turned->fillRect(Rect(2, 46, 2, 2)));
    out = turned->makeImage();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->bitsPerComponent(), bits);
    std::size_t size = 0;
    auto* samples = static_cast<float*>(out->vimage().extract_band(0).cast(VIPS_FORMAT_FLOAT).write_to_memory(&size));
    EXPECT_GT(std::set<float>(samples, samples + size / sizeof(float)).size(), 40u);
    g_free(samples);
    EXPECT_NEAR(out->vimage().getpoint(3, 0)[0], bits == 16 ? 65535.0 : 1.0, 1e-6);

    const plat::ImageRef sharpened = plat::SharpenLuminance(*out, 0.25);
    ASSERT_TRUE(sharpened);
    EXPECT_EQ(std::pair(sharpened->bitsPerComponent(), sharpened->hasAlpha()), std::pair(bits, l.alpha));

    // Both TIFF pages keep the depth.
    const std::vector<std::uint8_t> tiff =
        plat::codecs::WriteTiffPages({{image, 72, 72, true, true}, {image, 72, 72, false, true}});
    ASSERT_FALSE(tiff.empty());
    for (int page = 0; page < 2; ++page) {
        const VImage back = VImage::new_from_buffer(tiff.data(), tiff.size(), "", VImage::option()->set("page", page));
        EXPECT_EQ(std::pair(back.format(), back.bands()), std::pair(l.format, image->bands()));
        EXPECT_EQ(back.getpoint(40, 3), image->vimage().getpoint(40, 3));
    }

    // Grey of any depth becomes three equal OpenEXR channels and an alpha (read back by libvips on a 16-bit scale).
    for (bool keep : {false, true}) {
        if (l.colour != 1) break;
        SCOPED_TRACE(keep ? "deep" : "8-bit");
        const std::vector<std::uint8_t> exr = plat::codecs::SaveExr(Image::Create(ramp, keep)->vimage());
        ASSERT_FALSE(exr.empty());
        const VImage back = VImage::new_from_buffer(exr.data(), exr.size(), "");
        ASSERT_EQ(back.bands(), 4);
        const std::vector<double> pixel = back.getpoint(5, 1);
        EXPECT_TRUE(pixel[0] == pixel[1] && pixel[0] == pixel[2]) << pixel[0] << " " << pixel[1] << " " << pixel[2];
        EXPECT_NEAR(pixel[3], l.alpha ? 32768 : 65535, 200);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeepLayouts,
                         ::testing::Values(Layout{"Grey16", VIPS_FORMAT_USHORT, 1, false}, Layout{"GreyAlpha16", VIPS_FORMAT_USHORT, 1, true},
                                           Layout{"RGB16", VIPS_FORMAT_USHORT, 3, false}, Layout{"RGBA16", VIPS_FORMAT_USHORT, 3, true},
                                           Layout{"GreyFloat", VIPS_FORMAT_FLOAT, 1, false}, Layout{"RGBAFloat", VIPS_FORMAT_FLOAT, 3, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
