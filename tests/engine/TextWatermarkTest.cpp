#include "engine/TextWatermark.h"

#include "platform/Initialize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

using plat::BitmapContext;
using plat::Point;
using plat::Rect;

class TextWatermarkTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::Initialize();
        font = plat::Font::fontWithExactName("DejaVuSans");
        ASSERT_TRUE(font);
    }

    static std::unique_ptr<BitmapContext> whiteCanvas(int width, int height) {
        auto context = BitmapContext::create(width, height, plat::ColorModel::RGB, false);
        context->setFillColor({1, 1, 1, 1});
        context->fillRect(Rect(0, 0, width, height));
        context->setFillColor({0, 0, 0, 1});  // back to the default
        return context;
    }

    // Number of pixels darker than the white background in a y-up box.
    static int inkIn(const BitmapContext& context, const Rect& box) {
        plat::ImageRef image = context.makeImage();
        const std::vector<std::uint8_t> rgba = image->copyRGBA8();
        int count = 0;
        for (int y = std::max(0, int(box.minY())); y < std::min(context.height(), int(box.maxY())); ++y) {
            for (int x = std::max(0, int(box.minX())); x < std::min(context.width(), int(box.maxX())); ++x) {
                const std::uint8_t* p = &rgba[(std::size_t(context.height() - 1 - y) * context.width() + x) * 4];
                count += (p[0] < 200 || p[1] < 200 || p[2] < 200) ? 1 : 0;
            }
        }
        return count;
    }

    WatermarkOptions textPart() const {
        WatermarkOptions part;
        part.text = "Vantrell";
        part.font = font;
        part.fontSize = 30;
        part.textColor = {0, 0, 0, 1};
        part.textOpacity = 1.0;
        part.strokeWidth = 1;
        part.editorViewSize = {550, 366.66};
        part.textOrigin = {20, 20};
        part.textEndPoint = {150, 42};
        return part;
    }

    plat::FontRef font;
};

TEST_F(TextWatermarkTest, ScalesEditorValuesToTheOutput) {
    WatermarkOptions part = textPart();
    part.fontSize = 24;
    part.strokeWidth = 2;
    part.shadowBlur = 3;
    part.shadowOffsetX = 3;
    part.shadowOffsetY = -3;
    part.characterSpacing = -2;
    const float s = 3000.0f / 550.0f;
    const TextWatermarkStyle style = GetTextWatermarkStyle(part, s);
    EXPECT_NEAR(style.fontSize, 130.909, 1e-3);
    EXPECT_NEAR(style.strokeWidth, 10.909, 1e-3);
    EXPECT_NEAR(style.shadowBlur, 16.364, 1e-3);
    EXPECT_NEAR(style.characterSpacing, -10.909, 1e-3);
    EXPECT_EQ(style.shadowOffset.x, 16);   // truncated
    EXPECT_EQ(style.shadowOffset.y, -16);  // towards zero
}

TEST_F(TextWatermarkTest, LayoutMatchesWhatIsDrawn) {
    TextWatermarkStyle style;
    style.font = font;
    style.fontSize = 40;
    style.characterSpacing = 3;
    style.rotation = 30;
    auto context = whiteCanvas(400, 300);
    const TextWatermarkLayout layout = LayoutTextWatermark("Hello", style, {50, 60});
    const TextWatermarkLayout drawn = DrawTextWatermarkText(*context, "Hello", style, {50, 60});
    ASSERT_EQ(layout.glyphs.size(), 5u);
    ASSERT_EQ(layout.positions.size(), 5u);
    EXPECT_NEAR(drawn.endPoint.x, layout.endPoint.x, 1e-4);
    EXPECT_NEAR(drawn.endPoint.y, layout.endPoint.y, 1e-4);
    const std::vector<double> advances = font->advancesForGlyphs(layout.glyphs, 40);
    double run = 0;
    for (double a : advances) run += a + 3;
    const double angle = 30 * std::numbers::pi / 180;
    EXPECT_NEAR(layout.endPoint.x, 50 + run * std::cos(angle), 1e-3);
    EXPECT_NEAR(layout.endPoint.y, 60 + run * std::sin(angle), 1e-3);
    EXPECT_EQ(layout.glyphBounds, font->boundingRectForGlyphs(layout.glyphs, 40));
    // The graphics state is left as it was.
    EXPECT_TRUE(context->textMatrix().isIdentity());
    EXPECT_EQ(context->alpha(), 1.0);
}

TEST_F(TextWatermarkTest, RotationNinetyRunsUpwards) {
    TextWatermarkStyle style;
    style.font = font;
    style.fontSize = 30;
    style.rotation = 90;
    auto context = whiteCanvas(200, 300);
    const TextWatermarkLayout layout = DrawTextWatermarkText(*context, "HI", style, {100, 20});
    EXPECT_NEAR(layout.endPoint.x, 100, 1e-3);
    EXPECT_GT(layout.endPoint.y, 40);
    EXPECT_GT(inkIn(*context, Rect(70, 20, 30, layout.endPoint.y - 20)), 50);
    EXPECT_EQ(inkIn(*context, Rect(101, 0, 99, 300)), 0);
}

TEST_F(TextWatermarkTest, EmptyTextDrawsNothing) {
    TextWatermarkStyle style;
    style.font = font;
    style.fontSize = 30;
    auto context = whiteCanvas(100, 100);
    const TextWatermarkLayout layout = DrawTextWatermarkText(*context, "", style, {10, 10});
    EXPECT_EQ(layout.endPoint, (Point{10, 10}));
    EXPECT_TRUE(layout.glyphBounds.isEmpty());
    EXPECT_EQ(inkIn(*context, Rect(0, 0, 100, 100)), 0);
}

TEST_F(TextWatermarkTest, MissingOrUnknownFontStillDraws) {
    TextWatermarkStyle style;
    style.fontSize = 30;
    auto context = whiteCanvas(200, 100);
    const TextWatermarkLayout layout = DrawTextWatermarkText(*context, "Text", style, {10, 30});
    ASSERT_TRUE(layout.font);
    EXPECT_GT(inkIn(*context, Rect(0, 0, 200, 100)), 50);

    style.font = plat::Font::fontWithName("NoSuchFont-Regular");
    auto other = whiteCanvas(200, 100);
    DrawTextWatermarkText(*other, "Text", style, {10, 30});
    EXPECT_GT(inkIn(*other, Rect(0, 0, 200, 100)), 50);
}

TEST_F(TextWatermarkTest, OneGlyphPerCharacterOutsideTheBasicPlane) {
    TextWatermarkStyle style;
    style.font = font;
    style.fontSize = 30;
    const TextWatermarkLayout layout =
        LayoutTextWatermark("A\xF0\x9F\x98\x80" "B", style, {0, 0});
    ASSERT_EQ(layout.glyphs.size(), 3u);
    EXPECT_NE(layout.glyphs[1], 0u);
    const double expected = font->advancesForGlyphs(layout.glyphs, 30)[0] +
                            font->advancesForGlyphs(layout.glyphs, 30)[1];
    EXPECT_NEAR(layout.positions[2].x, expected, 1e-9);
}

TEST_F(TextWatermarkTest, StrokeModesUseTheTextColourForTheOutline) {
    TextWatermarkStyle style;
    style.font = font;
    style.fontSize = 120;
    style.drawingMode = 2;
    style.textColor = {1, 0, 0, 1};
    style.strokeWidth = 3;
    auto context = whiteCanvas(200, 200);
    DrawTextWatermarkText(*context, "I", style, {60, 30});
    const Rect stem = font->boundingRectForGlyphs(font->glyphsForText("I"), 120);
    plat::ImageRef image = context->makeImage();
    const int cx = int(60 + (stem.minX() + stem.maxX()) / 2);
    const int cy = 199 - int(30 + (stem.minY() + stem.maxY()) / 2);
    const std::vector<double> centre = image->vimage().getpoint(cx, cy);
    EXPECT_LT(centre[0], 10);  // filled with the context's fill colour, black
    const std::vector<double> edge = image->vimage().getpoint(int(60 + stem.minX()), cy);
    EXPECT_GT(edge[0], 200);
    EXPECT_LT(edge[1], 80);
}

TEST_F(TextWatermarkTest, DrawsIntoAPlainPremultipliedBuffer) {
    TextWatermarkStyle style;
    style.font = font;
    style.fontSize = 20;
    style.textColor = {0, 0, 1, 1};
    style.opacity = 0.5;
    std::vector<std::uint32_t> buffer(100 * 50, 0xffffffff);
    TextWatermarkLayout layout;
    // Canvas points at twice the size, as the editor scales its view.
    ASSERT_TRUE(DrawTextWatermarkIntoBuffer(reinterpret_cast<std::uint8_t*>(buffer.data()), 100, 50, 400,
                                            plat::AffineTransform::scale(2, 2), "Hi", style, {5, 5}, &layout));
    EXPECT_EQ(layout.glyphs.size(), 2u);
    int inked = 0;
    std::uint32_t maxAlpha = 0;
    for (std::uint32_t p : buffer) {
        const std::uint32_t a = p >> 24;
        maxAlpha = std::max(maxAlpha, a);
        if (a > 0) {
            ++inked;
            EXPECT_EQ((p >> 16) & 0xff, 0u);  // no red, premultiplied blue ≤ alpha
            EXPECT_LE(p & 0xff, a);
        }
    }
    EXPECT_GT(inked, 50);
    EXPECT_NEAR(static_cast<int>(maxAlpha), 128, 2);
    EXPECT_EQ(buffer[0], 0u);  // cleared
    EXPECT_FALSE(DrawTextWatermarkIntoBuffer(nullptr, 100, 50, 400, {}, "Hi", style, {5, 5}));
}

}  // namespace
