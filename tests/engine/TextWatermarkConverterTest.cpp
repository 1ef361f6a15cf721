#include "engine/TextWatermark.h"

#include "engine/ImageConverter.h"
#include "platform/Initialize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using plat::Rect;

// Pixels darker than the white background in a y-up box.
int inkIn(const plat::BitmapContext& context, const Rect& box) {
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

struct ConverterGuard {
    ConverterGuard() { InitImageConverter(&converter); }
    ~ConverterGuard() { ReleaseImageConverter(&converter); }
    ImageConverter converter;
};

TEST(TextWatermarkConverterTest, DrawsAtTheMappedPositionAndStoresItBack) {
    plat::Initialize();
    auto context = plat::BitmapContext::create(3000, 2000, plat::ColorModel::RGB, false);
    context->setFillColor({1, 1, 1, 1});
    context->fillRect(Rect(0, 0, 3000, 2000));
    context->setFillColor({0, 0, 0, 1});

    ConverterGuard guard;
    WatermarkOptions& part = guard.converter.watermark;
    part.text = "Vantrell";
    part.font = plat::Font::fontWithExactName("DejaVuSans");
    part.fontSize = 30;
    part.textColor = {0, 0, 0, 1};
    part.textOpacity = 1.0;
    part.editorViewSize = {550, 366.66};
    part.textOrigin = {20, 20};
    part.textEndPoint = {150, 42};
    part.shadow = 1;
    part.shadowColor = {0, 0, 0, 0.5};
    part.shadowOffsetX = 3;
    part.shadowOffsetY = -3;
    guard.converter.textWatermarkOn = 1;
    DrawConverterTextWatermark(&guard.converter, *context, 3000, 2000);

    // Nearest the low edges in the editor: anchored there, scaled to the output.
    EXPECT_NEAR(part.textOrigin.x, 20 * 3000 / 550.0, 0.01);
    EXPECT_NEAR(part.textOrigin.y, 20 * 2000 / 366.66, 0.01);
    EXPECT_EQ(part.shadowOffsetX, 16);
    EXPECT_EQ(part.shadowOffsetY, -16);
    const double size = 30 * 3000 / 550.0;
    EXPECT_GT(inkIn(*context, Rect(part.textOrigin.x, part.textOrigin.y, 4 * size, size)), 1000);
    EXPECT_EQ(inkIn(*context, Rect(part.textOrigin.x, part.textOrigin.y + 2 * size, 4 * size, size)), 0);
    EXPECT_EQ(inkIn(*context, Rect(1500, 1000, 1000, 900)), 0);

    DrawConverterTextWatermark(nullptr, *context, 3000, 2000);  // harmless
}

}  // namespace
