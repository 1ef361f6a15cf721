#include "platform/BitmapContext.h"
#include "platform/Font.h"
#include "platform/Initialize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

namespace {

using plat::BitmapContext;
using plat::Point;
using plat::Rect;
using plat::TextDrawingMode;

constexpr int kSize = 200;
constexpr double kFontSize = 160;

class BitmapContextTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::Initialize();
        font = plat::Font::fontWithExactName("DejaVuSans");
        ASSERT_TRUE(font);
        glyphs = font->glyphsForText("I");
        stem = font->boundingRectForGlyphs(glyphs, kFontSize);
        context = BitmapContext::create(kSize, kSize, plat::ColorModel::RGB, false);
        context->setFillColor({1, 1, 1, 1});
        ASSERT_TRUE(context->fillRect(Rect(0, 0, kSize, kSize)));
        context->setFillColor({0, 0, 0, 1});
        context->setFont(font);
        context->setFontSize(kFontSize);
    }

    // Pixel at a y-up point of the canvas.
    std::vector<double> pixel(Point p) {
        image = context->makeImage();
        EXPECT_TRUE(image);
        const int x = static_cast<int>(std::floor(p.x));
        const int row = kSize - 1 - static_cast<int>(std::floor(p.y));
        return image->vimage().getpoint(x, row);
    }
    Point stemCentre(Point origin) const {
        return {origin.x + (stem.minX() + stem.maxX()) / 2, origin.y + (stem.minY() + stem.maxY()) / 2};
    }

    plat::FontRef font;
    std::vector<plat::GlyphId> glyphs;
    Rect stem;
    std::unique_ptr<BitmapContext> context;
    plat::ImageRef image;
};

bool isWhite(const std::vector<double>& p) { return p[0] > 245 && p[1] > 245 && p[2] > 245; }
bool isBlack(const std::vector<double>& p) { return p[0] < 10 && p[1] < 10 && p[2] < 10; }
bool isRed(const std::vector<double>& p) { return p[0] > 200 && p[1] < 80 && p[2] < 80; }

TEST_F(BitmapContextTextTest, FillPutsInkInsideTheGlyphOnly) {
    ASSERT_GT(stem.size.width, 12);  // the stem is wide enough to probe
    const Point origin{60, 30};
    ASSERT_TRUE(context->showGlyphsAtPoint(glyphs, origin));
    EXPECT_TRUE(isBlack(pixel(stemCentre(origin))));
    EXPECT_TRUE(isWhite(pixel({origin.x + stem.maxX() + 10, origin.y + 40})));
    EXPECT_TRUE(isWhite(pixel({origin.x + stem.minX() + 4, origin.y - 10})));  // below the baseline
}

TEST_F(BitmapContextTextTest, StrokeOutlinesWhileFillAndStrokeAlsoFills) {
    const Point origin{60, 30};
    const Point centre = stemCentre(origin);
    const Point leftEdge{origin.x + stem.minX(), centre.y};

    context->setTextDrawingMode(TextDrawingMode::Stroke);
    context->setStrokeColor({1, 0, 0, 1});
    context->setLineWidth(4);
    ASSERT_TRUE(context->showGlyphsAtPoint(glyphs, origin));
    EXPECT_TRUE(isWhite(pixel(centre)));
    EXPECT_TRUE(isRed(pixel({leftEdge.x + 0.5, leftEdge.y})));

    // Fill then stroke: the fill keeps the context's fill colour (black).
    ASSERT_TRUE(context->fillRect(Rect(0, 0, 0, 0)));
    context->setFillColor({1, 1, 1, 1});
    context->fillRect(Rect(0, 0, kSize, kSize));
    context->setFillColor({0, 0, 0, 1});
    context->setTextDrawingMode(TextDrawingMode::FillStroke);
    ASSERT_TRUE(context->showGlyphsAtPoint(glyphs, origin));
    EXPECT_TRUE(isBlack(pixel(centre)));
    EXPECT_TRUE(isRed(pixel({leftEdge.x - 1.0, leftEdge.y})));

    // Invisible: the position moves, nothing is painted.
    context->setTextDrawingMode(TextDrawingMode::Invisible);
    context->setFillColor({1, 1, 1, 1});
    context->fillRect(Rect(0, 0, kSize, kSize));
    const auto end = context->showGlyphsAtPoint(glyphs, origin);
    ASSERT_TRUE(end);
    EXPECT_GT(end->x, origin.x);
    EXPECT_TRUE(isWhite(pixel(centre)));
}

TEST_F(BitmapContextTextTest, AlphaAppliesToText) {
    const Point origin{60, 30};
    context->setAlpha(0.5);
    ASSERT_TRUE(context->showGlyphsAtPoint(glyphs, origin));
    const std::vector<double> p = pixel(stemCentre(origin));
    EXPECT_NEAR(p[0], 128, 3);
}

TEST_F(BitmapContextTextTest, ShadowFallsByItsYUpOffsetAndBlurs) {
    const Point origin{40, 60};
    const Point centre = stemCentre(origin);
    context->setShadow({30, -25}, 0, {0, 0, 1, 1});
    ASSERT_TRUE(context->showGlyphsAtPoint(glyphs, origin));
    EXPECT_TRUE(isBlack(pixel(centre)));
    const std::vector<double> shadow = pixel({centre.x + 30, centre.y - 25});
    EXPECT_GT(shadow[2], 200);
    EXPECT_LT(shadow[0], 40);
    EXPECT_TRUE(isWhite(pixel({centre.x - 30, centre.y + 25})));

    // A blurred shadow bleeds beyond the glyph outline by about its blur.
    context->setFillColor({1, 1, 1, 1});
    context->clearShadow();
    context->fillRect(Rect(0, 0, kSize, kSize));
    context->setFillColor({0, 0, 0, 1});
    context->setShadow({30, 0}, 10, {0, 0, 0, 1});
    ASSERT_TRUE(context->showGlyphsAtPoint(glyphs, origin));
    const double rightOfShadow = origin.x + stem.maxX() + 30;
    const std::vector<double> soft = pixel({rightOfShadow + 3, centre.y});
    EXPECT_LT(soft[0], 245);
    EXPECT_GT(soft[0], 60);
}

TEST_F(BitmapContextTextTest, RotatedTextRunsUpwards) {
    const Point origin{150, 20};
    context->setTextMatrix(plat::AffineTransform::rotation(std::numbers::pi / 2));
    const std::vector<plat::GlyphId> two = font->glyphsForText("II");
    context->setFontSize(40);
    const auto end = context->showGlyphsAtPoint(two, origin);
    ASSERT_TRUE(end);
    const double advance = font->advancesForGlyphs(two, 40)[0];
    EXPECT_NEAR(end->x, origin.x, 1e-9);
    EXPECT_NEAR(end->y, origin.y + 2 * advance, 1e-9);
    const Rect box = font->boundingRectForGlyphs(two, 40);
    // Glyph-space (x, y) lands at (-y, x) from the origin.
    const Point inkCentre{origin.x - (box.minY() + box.maxY()) / 2, origin.y + (box.minX() + box.maxX()) / 2};
    EXPECT_TRUE(isBlack(pixel(inkCentre)));
    EXPECT_TRUE(isWhite(pixel({origin.x + (box.minX() + box.maxX()) / 2, origin.y + 10})));
}

TEST_F(BitmapContextTextTest, CharacterSpacingAndTransformMovePositions) {
    const std::vector<plat::GlyphId> three = font->glyphsForText("abc");
    const std::vector<double> advances = font->advancesForGlyphs(three, kFontSize);
    context->setCharacterSpacing(5);
    Point end;
    const std::vector<Point> positions = context->glyphPositions(three, {10, 10}, &end);
    ASSERT_EQ(positions.size(), 3u);
    EXPECT_NEAR(positions[1].x, 10 + advances[0] + 5, 1e-9);
    EXPECT_NEAR(end.x, 10 + advances[0] + advances[1] + advances[2] + 15, 1e-9);
    EXPECT_EQ(end.y, 10);
}

TEST_F(BitmapContextTextTest, WithoutAFontNothingIsDrawn) {
    context->setFont(nullptr);
    EXPECT_FALSE(context->showGlyphsAtPoint(glyphs, {50, 50}));
    context->setFont(font);
    EXPECT_TRUE(context->showGlyphsAtPoint({}, {50, 50}));
}

TEST_F(BitmapContextTextTest, TextInGreyAndCmykContexts) {
    const Point origin{60, 30};
    auto grey = BitmapContext::create(kSize, kSize, plat::ColorModel::Gray, false);
    grey->setFont(font);
    grey->setFontSize(kFontSize);
    grey->setFillColor({1, 1, 1, 1});
    ASSERT_TRUE(grey->showGlyphsAtPoint(glyphs, origin));
    const Point c = stemCentre(origin);
    plat::ImageRef out = grey->makeImage();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->bands(), 1);
    EXPECT_EQ(out->vimage().getpoint(int(c.x), kSize - 1 - int(c.y))[0], 255);
    EXPECT_EQ(out->vimage().getpoint(5, 5)[0], 0);

    auto cmyk = BitmapContext::create(kSize, kSize, plat::ColorModel::CMYK, false);
    cmyk->setFont(font);
    cmyk->setFontSize(kFontSize);
    cmyk->setFillColor({0, 0, 0, 1});
    ASSERT_TRUE(cmyk->showGlyphsAtPoint(glyphs, origin));
    out = cmyk->makeImage();
    ASSERT_TRUE(out);
    EXPECT_EQ(out->colorModel(), plat::ColorModel::CMYK);
    EXPECT_GT(out->vimage().getpoint(int(c.x), kSize - 1 - int(c.y))[3], 150);  // black ink
    EXPECT_EQ(out->vimage().getpoint(5, 5)[3], 0);  // paper
}

TEST_F(BitmapContextTextTest, OneFontServesSeveralThreadsAtOnce) {
    // Conversions run on several threads with the same shared font.
    std::vector<std::thread> threads;
    std::vector<int> inked(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                auto local = BitmapContext::create(120, 60, plat::ColorModel::RGB, true);
                local->setFont(font);
                local->setFontSize(20 + t + round);
                const std::vector<plat::GlyphId> text = font->glyphsForText("Threads");
                font->boundingRectsForGlyphs(text, 33);
                if (local->showGlyphsAtPoint(text, {5, 20})) {
                    const std::vector<std::uint8_t> rgba = local->makeImage()->copyRGBA8();
                    for (std::size_t i = 3; i < rgba.size(); i += 4) {
                        inked[t] += rgba[i] > 128 ? 1 : 0;
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int count : inked) {
        EXPECT_GT(count, 500);
    }
}

}  // namespace
