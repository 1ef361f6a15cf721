#include "platform/BitmapContext.h"
#include "platform/Initialize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

using plat::AffineTransform;
using plat::BitmapContext;
using plat::ColorModel;
using plat::Rect;

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
    const std::uint8_t* at(int x, int y) const { return &rgba[(std::size_t(y) * width + x) * 4]; }
};

Pixels pixelsOf(const plat::Image& image) {
    return {image.width(), image.height(), image.copyRGBA8()};
}

Pixels render(const BitmapContext& context) {
    plat::ImageRef image = context.makeImage();
    EXPECT_TRUE(image);
    return image ? pixelsOf(*image) : Pixels{};
}

// Blue image with one red pixel in its top left corner.
plat::ImageRef markedImage(int width, int height, int markSize = 1) {
    std::vector<std::uint8_t> rgba(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgba[(std::size_t(y) * width + x) * 4];
            const bool mark = x < markSize && y < markSize;
            p[0] = mark ? 255 : 0;
            p[1] = 0;
            p[2] = mark ? 0 : 255;
            p[3] = 255;
        }
    }
    return plat::Image::FromPixels(width, height, rgba.data());
}

bool isRed(const std::uint8_t* p) { return p[0] > 200 && p[2] < 60; }
bool isBlue(const std::uint8_t* p) { return p[2] > 200 && p[0] < 60; }

// The eight quarter-turn and mirror transforms of an upright W × H canvas.
AffineTransform orientation(int index, double w, double h) {
    switch (index) {
    case 1: return {-1, 0, 0, 1, w, 0};
    case 2: return {-1, 0, 0, -1, w, h};
    case 3: return {1, 0, 0, -1, 0, h};
    case 4: return {0, -1, -1, 0, h, w};
    case 5: return {0, -1, 1, 0, 0, w};
    case 6: return {0, 1, 1, 0, 0, 0};
    case 7: return {0, 1, -1, 0, h, 0};
    default: return {};
    }
}

class BitmapContextTest : public ::testing::Test {
protected:
    void SetUp() override { plat::Initialize(); }
};

TEST_F(BitmapContextTest, RejectsImpossibleSizes) {
    EXPECT_FALSE(BitmapContext::create(0, 10));
    EXPECT_FALSE(BitmapContext::create(10, -1));
    EXPECT_FALSE(BitmapContext::create(1 << 20, 1 << 20));
    EXPECT_TRUE(BitmapContext::create(1, 1));
}

TEST_F(BitmapContextTest, StartsTransparentAndKeepsImagesMadeEarlier) {
    auto context = BitmapContext::create(3, 2);
    ASSERT_TRUE(context);
    plat::ImageRef before = context->makeImage();
    ASSERT_TRUE(before);
    EXPECT_EQ(pixelsOf(*before).at(1, 1)[3], 0);
    context->setFillColor({1, 0, 0, 1});
    ASSERT_TRUE(context->fillRect(Rect(0, 0, 3, 2)));
    EXPECT_EQ(pixelsOf(*before).at(1, 1)[3], 0);
    EXPECT_TRUE(isRed(render(*context).at(1, 1)));
}

// The corner mark must land where the orientation transform sends the
// image's top left pixel, for all eight transforms, at full size and scaled.
TEST_F(BitmapContextTest, OrientationTransformsMoveTheMarkedCorner) {
    const int w = 6;
    const int h = 4;
    for (int scale : {1, 2}) {
        plat::ImageRef image = markedImage(w * scale, h * scale, scale);
        ASSERT_TRUE(image);
        for (int index = 0; index < 8; ++index) {
            SCOPED_TRACE("transform " + std::to_string(index) + " scale " + std::to_string(scale));
            const bool turned = index >= 4;
            const int cw = turned ? h : w;
            const int ch = turned ? w : h;
            auto context = BitmapContext::create(cw, ch);
            ASSERT_TRUE(context);
            const AffineTransform t = orientation(index, w, h);
            context->concatCTM(t);
            ASSERT_TRUE(context->drawImage(*image, Rect(0, 0, w, h)));
            const Pixels out = render(*context);
            ASSERT_EQ(out.width, cw);
            ASSERT_EQ(out.height, ch);
            // Centre of the top left pixel, y-up, through the transform.
            const plat::Point mark = t.apply(plat::Point{0.5, h - 0.5});
            const int mx = static_cast<int>(std::floor(mark.x));
            const int my = ch - 1 - static_cast<int>(std::floor(mark.y));
            int reds = 0;
            for (int y = 0; y < ch; ++y) {
                for (int x = 0; x < cw; ++x) {
                    reds += isRed(out.at(x, y)) ? 1 : 0;
                    EXPECT_EQ(out.at(x, y)[3], 255);
                }
            }
            EXPECT_TRUE(isRed(out.at(mx, my))) << "mark expected at " << mx << "," << my;
            if (scale == 1) {
                EXPECT_EQ(reds, 1);
            }
        }
    }
}

TEST_F(BitmapContextTest, DrawingRectangleOffsetsAndCrops) {
    plat::ImageRef image = markedImage(8, 4);
    auto context = BitmapContext::create(4, 4);
    ASSERT_TRUE(context);
    // Centred crop: the image sticks out two pixels on each side.
    ASSERT_TRUE(context->drawImage(*image, Rect(-2, 0, 8, 4)));
    Pixels out = render(*context);
    EXPECT_TRUE(isBlue(out.at(0, 0)));
    // Placed in the lower right quarter only (y-up rectangle).
    auto small = BitmapContext::create(4, 4);
    ASSERT_TRUE(small->drawImage(*markedImage(2, 2), Rect(2, 0, 2, 2)));
    out = render(*small);
    EXPECT_TRUE(isRed(out.at(2, 2)));
    EXPECT_TRUE(isBlue(out.at(3, 3)));
    EXPECT_EQ(out.at(0, 0)[3], 0);
    EXPECT_EQ(out.at(1, 3)[3], 0);
}

TEST_F(BitmapContextTest, DownscaleAveragesFineDetailWithoutAliasing) {
    // One-pixel checkerboard: a good reduction is an even grey.
    const int n = 256;
    std::vector<std::uint8_t> rgba(std::size_t(n) * n * 4);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            std::uint8_t v = ((x + y) % 2) ? 255 : 0;
            std::uint8_t* p = &rgba[(std::size_t(y) * n + x) * 4];
            p[0] = p[1] = p[2] = v;
            p[3] = 255;
        }
    }
    plat::ImageRef image = plat::Image::FromPixels(n, n, rgba.data());
    auto context = BitmapContext::create(37, 37);
    ASSERT_TRUE(context->drawImage(*image, Rect(0, 0, 37, 37)));
    const Pixels out = render(*context);
    for (int y = 2; y < 35; ++y) {
        for (int x = 2; x < 35; ++x) {
            EXPECT_NEAR(out.at(x, y)[0], 128, 12) << x << "," << y;
        }
    }
}

TEST_F(BitmapContextTest, TransparencyIsKeptAndWeightedWhenScaling) {
    // Left half transparent red, right half opaque green.
    std::vector<std::uint8_t> rgba(8 * 8 * 4, 0);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            std::uint8_t* p = &rgba[(std::size_t(y) * 8 + x) * 4];
            if (x < 4) {
                p[0] = 255;
            } else {
                p[1] = 255;
                p[3] = 255;
            }
        }
    }
    auto context = BitmapContext::create(4, 4);
    ASSERT_TRUE(context->drawImage(*plat::Image::FromPixels(8, 8, rgba.data()), Rect(0, 0, 4, 4)));
    const Pixels out = render(*context);
    EXPECT_EQ(out.at(0, 1)[3], 0);
    EXPECT_EQ(out.at(3, 1)[3], 255);
    // The edge pixel is partly covered but carries no red from the hidden side.
    EXPECT_LT(out.at(2, 1)[0], 20);
    EXPECT_GT(out.at(2, 1)[1], 200);
}

TEST_F(BitmapContextTest, GreySourceWithAlphaKeepsItsTransparency) {
    vips::VImage grey = (vips::VImage::black(4, 4) + 200).cast(VIPS_FORMAT_UCHAR);
    vips::VImage alpha = (vips::VImage::black(4, 4) + 64).cast(VIPS_FORMAT_UCHAR);
    plat::ImageRef image = plat::Image::Create(grey.bandjoin(alpha).copy(
        vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W)));
    ASSERT_EQ(image->colorModel(), ColorModel::Gray);
    ASSERT_TRUE(image->hasAlpha());
    for (ColorModel model : {ColorModel::Gray, ColorModel::RGB}) {
        auto context = BitmapContext::create(4, 4, model, true);
        ASSERT_TRUE(context->drawImage(*image, Rect(0, 0, 4, 4)));
        plat::ImageRef out = context->makeImage();
        ASSERT_TRUE(out);
        EXPECT_EQ(out->colorModel(), model);
        EXPECT_TRUE(out->hasAlpha());
        const std::vector<double> p = out->vimage().getpoint(2, 2);
        EXPECT_EQ(p.back(), 64);
        EXPECT_NEAR(p.front(), 200, 1);
    }
}

TEST_F(BitmapContextTest, ColourModelsConvertWhatIsDrawn) {
    plat::ImageRef image = markedImage(4, 4);
    auto cmyk = BitmapContext::create(4, 4, ColorModel::CMYK, false);
    ASSERT_TRUE(cmyk->drawImage(*image, Rect(0, 0, 4, 4)));
    plat::ImageRef out = cmyk->makeImage();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->colorModel(), ColorModel::CMYK);
    EXPECT_FALSE(out->hasAlpha());
    const std::vector<double> blue = out->vimage().getpoint(3, 3);
    ASSERT_EQ(blue.size(), 4u);
    EXPECT_GT(blue[0], 150);  // cyan ink
    EXPECT_LT(blue[2], 60);   // little yellow

    auto grey = BitmapContext::create(4, 4, ColorModel::Gray, false);
    grey->setFillColor({1, 1, 1, 1});
    ASSERT_TRUE(grey->fillRect(Rect(0, 0, 2, 4)));
    out = grey->makeImage();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->colorModel(), ColorModel::Gray);
    EXPECT_EQ(out->bands(), 1);
    EXPECT_EQ(out->vimage().getpoint(0, 0)[0], 255);
    EXPECT_EQ(out->vimage().getpoint(3, 0)[0], 0);
}

TEST_F(BitmapContextTest, ProfileOfAConvertedSourceIsDropped) {
    // CMYK pixels from vips carry its CMYK profile.
    vips::VImage cmyk = markedImage(4, 4)->vimage().extract_band(0, vips::VImage::option()->set("n", 3))
                            .colourspace(VIPS_INTERPRETATION_CMYK);
    ASSERT_NE(cmyk.get_typeof(VIPS_META_ICC_NAME), 0u);
    plat::ImageRef image = plat::Image::Create(cmyk);
    ASSERT_EQ(image->colorModel(), ColorModel::CMYK);

    auto rgb = BitmapContext::create(4, 4, ColorModel::RGB, false);
    ASSERT_TRUE(rgb->drawImage(*image, Rect(0, 0, 4, 4)));
    plat::ImageRef out = rgb->makeImage();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->vimage().get_typeof(VIPS_META_ICC_NAME), 0u);
    const Pixels converted = pixelsOf(*out);
    const std::uint8_t* blue = converted.at(3, 3);
    EXPECT_GT(blue[2], blue[0] + 60);  // the CMYK gamut's blue

    // Same colour model: the pixels are unchanged, so their profile stays.
    auto same = BitmapContext::create(4, 4, ColorModel::CMYK, false);
    ASSERT_TRUE(same->drawImage(*image, Rect(0, 0, 4, 4)));
    EXPECT_NE(same->makeImage()->vimage().get_typeof(VIPS_META_ICC_NAME), 0u);
}

TEST_F(BitmapContextTest, GlobalAlphaAndStateStack) {
    auto context = BitmapContext::create(4, 4, ColorModel::RGB, false);
    context->setFillColor({1, 1, 1, 1});
    ASSERT_TRUE(context->fillRect(Rect(0, 0, 4, 4)));
    context->saveGState();
    context->setAlpha(0.5);
    context->setFillColor({1, 0, 0, 1});
    context->translateCTM(2, 0);
    ASSERT_TRUE(context->fillRect(Rect(0, 0, 2, 4)));
    context->restoreGState();
    context->restoreGState();  // unmatched: ignored
    EXPECT_EQ(context->alpha(), 1.0);
    EXPECT_TRUE(context->ctm().isIdentity());
    const Pixels out = render(*context);
    EXPECT_EQ(out.at(0, 0)[1], 255);
    EXPECT_NEAR(out.at(3, 0)[0], 255, 1);
    EXPECT_NEAR(out.at(3, 0)[1], 128, 2);
}

TEST_F(BitmapContextTest, TranslucentDrawingOverPartlyTransparentPixels) {
    for (ColorModel model : {ColorModel::RGB, ColorModel::Gray, ColorModel::CMYK}) {
        auto context = BitmapContext::create(4, 2, model, true);
        context->setFillColor({1, 1, 1, 1});
        ASSERT_TRUE(context->fillRect(Rect(0, 0, 2, 2)));
        context->setFillColor({0, 0, 0, 1});
        context->setAlpha(0.5);
        ASSERT_TRUE(context->fillRect(Rect(0, 0, 4, 2)));
        const std::vector<double> left = context->makeImage()->vimage().getpoint(0, 0);
        const std::vector<double> right = context->makeImage()->vimage().getpoint(3, 0);
        // Over white: half grey, opaque. Over nothing: black at half opacity.
        EXPECT_EQ(left.back(), 255);
        EXPECT_NEAR(right.back(), 128, 1);
        if (model == ColorModel::CMYK) {
            EXPECT_GT(right[3], 200);  // full black ink, half covering
            EXPECT_GT(left[3], 60);
            EXPECT_LT(left[3], 200);
        } else {
            EXPECT_NEAR(left[0], 128, 2);
            EXPECT_LT(right[0], 2);
        }
    }
}

TEST_F(BitmapContextTest, FillIsYUpAndShadowOffsetIsYUp) {
    auto context = BitmapContext::create(40, 40, ColorModel::RGB, false);
    context->setFillColor({1, 1, 1, 1});
    ASSERT_TRUE(context->fillRect(Rect(0, 0, 40, 40)));
    context->setShadow({6, -6}, 0, {0, 0, 1, 1});
    context->setFillColor({1, 0, 0, 1});
    // Lower left square, rows 30..39.
    ASSERT_TRUE(context->fillRect(Rect(0, 0, 10, 10)));
    Pixels out = render(*context);
    EXPECT_TRUE(isRed(out.at(5, 35)));
    EXPECT_EQ(out.at(5, 25)[1], 255);  // white above it
    // Shadow falls right and down (y-up offset), clipped at the bottom edge.
    EXPECT_TRUE(isBlue(out.at(13, 38)));
    EXPECT_EQ(out.at(13, 31)[1], 255);

    auto blurred = BitmapContext::create(40, 40, ColorModel::RGB, false);
    blurred->setFillColor({1, 1, 1, 1});
    ASSERT_TRUE(blurred->fillRect(Rect(0, 0, 40, 40)));
    blurred->setShadow({0, 10}, 4, {0, 0, 0, 1});
    blurred->setFillColor({1, 0, 0, 1});
    ASSERT_TRUE(blurred->fillRect(Rect(15, 5, 10, 10)));
    out = render(*blurred);
    // Shadow above the square, soft at its edge.
    EXPECT_LT(out.at(20, 18)[1], 80);
    EXPECT_GT(out.at(20, 12)[1], 60);
    EXPECT_LT(out.at(20, 12)[1], 250);
}

TEST_F(BitmapContextTest, RotatedDrawingUsesTheAffinePath) {
    // A half turn plus a hair still lands the mark in the opposite corner.
    plat::ImageRef image = markedImage(20, 20, 5);
    auto context = BitmapContext::create(20, 20);
    context->translateCTM(10, 10);
    context->rotateCTM(std::numbers::pi + 1e-4);
    ASSERT_TRUE(context->drawImage(*image, Rect(-10, -10, 20, 20)));
    Pixels out = render(*context);
    EXPECT_TRUE(isRed(out.at(17, 17)));
    EXPECT_TRUE(isBlue(out.at(3, 3)));

    auto tilted = BitmapContext::create(40, 40);
    tilted->translateCTM(20, 20);
    tilted->rotateCTM(std::numbers::pi / 4);
    tilted->scaleCTM(0.25, 0.25);
    ASSERT_TRUE(tilted->drawImage(*markedImage(80, 80, 4), Rect(-40, -40, 80, 80)));
    out = render(*tilted);
    EXPECT_EQ(out.at(20, 20)[3], 255);
    EXPECT_TRUE(isBlue(out.at(20, 20)));
    EXPECT_EQ(out.at(1, 1)[3], 0);  // outside the diamond
}

TEST_F(BitmapContextTest, ExportsPremultipliedARGB32) {
    auto context = BitmapContext::create(2, 1);
    context->setFillColor({1, 0, 0, 0.5});
    ASSERT_TRUE(context->fillRect(Rect(0, 0, 1, 1)));
    std::vector<std::uint32_t> buffer(2, 0xdeadbeef);
    ASSERT_TRUE(context->writePremultipliedARGB32(reinterpret_cast<std::uint8_t*>(buffer.data()), 8));
    EXPECT_NEAR(static_cast<int>(buffer[0] >> 24), 128, 1);
    EXPECT_NEAR(static_cast<int>((buffer[0] >> 16) & 0xff), 128, 1);
    EXPECT_EQ(buffer[0] & 0xffff, 0u);
    EXPECT_EQ(buffer[1], 0u);
    EXPECT_FALSE(context->writePremultipliedARGB32(reinterpret_cast<std::uint8_t*>(buffer.data()), 4));
}

TEST_F(BitmapContextTest, HostileGeometryFailsCleanlyOrDrawsNothing) {
    plat::ImageRef image = markedImage(4, 4);
    auto context = BitmapContext::create(8, 8);
    const double nan = std::nan("");
    EXPECT_FALSE(context->drawImage(*image, Rect(nan, 0, 4, 4)));
    EXPECT_TRUE(context->drawImage(*image, Rect(0, 0, 0, 4)));
    EXPECT_TRUE(context->drawImage(*image, Rect(1e9, 1e9, 4, 4)));       // far away
    EXPECT_FALSE(context->drawImage(*image, Rect(0, 0, 1e12, 1e12)));     // absurd size
    context->saveGState();
    context->scaleCTM(0, 1);
    EXPECT_TRUE(context->drawImage(*image, Rect(0, 0, 4, 4)));           // singular
    EXPECT_TRUE(context->fillRect(Rect(0, 0, 4, 4)));
    context->restoreGState();
    context->setShadow({1e12, -1e12}, 1e12, {0, 0, 0, 1});
    context->setFillColor({1, 0, 0, 1});
    EXPECT_TRUE(context->fillRect(Rect(0, 0, 4, 4)));
    context->setFont(plat::Font::defaultFont());
    context->setFontSize(nan);
    const std::vector<plat::GlyphId> glyphs = plat::Font::defaultFont()->glyphsForText("A");
    EXPECT_FALSE(context->showGlyphsAtPoint(glyphs, {1, 1}));
    context->setFontSize(1e7);
    context->showGlyphsAtPoint(glyphs, {1, 1});
    const Pixels out = render(*context);
    EXPECT_TRUE(isRed(out.at(1, 6)));
}

}  // namespace
