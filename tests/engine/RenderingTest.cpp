#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/ImageConverter.h"
#include "engine/ImageTypes.h"
#include "engine/Rendering.h"

#include <cmath>
#include <tuple>

using namespace convtest;

namespace {

class RenderingTest : public ConversionTest {};

enum Corner { TopLeft, TopRight, BottomLeft, BottomRight };

bool IsRed(const RGBA& p) { return p[0] > 200 && p[1] < 60 && p[2] < 60; }

// Writes `image` through vips (for colour models the platform encoders do not
// make from plain pixels).
void VipsSave(const vips::VImage& image, const std::filesystem::path& path) {
    image.write_to_file(path.c_str());
}

}  // namespace

TEST_F(RenderingTest, EightOrientationsMoveTheMarkedCorner) {
    ASSERT_TRUE(WriteImage(dir / "mark.png", MarkedImage(40, 30, 10), "public.png"));
    const std::vector<std::tuple<std::int64_t, std::int32_t, Corner>> cases = {
        {0, 0, TopLeft},     {0, 1, TopRight},    {0, 2, BottomLeft},  {0, 3, BottomRight},
        {180, 0, BottomRight}, {180, 1, BottomLeft}, {180, 2, TopRight}, {180, 3, TopLeft},
        {90, 0, BottomLeft}, {-90, 0, TopRight},  {270, 0, TopRight},  {-270, 0, BottomLeft},
        {90, 1, BottomRight}, {90, 2, TopLeft},   {-90, 1, TopLeft},   {-90, 2, BottomRight},
    };
    int n = 0;
    for (const auto& [angle, flip, corner] : cases) {
        const std::filesystem::path out = dir / ("out" + std::to_string(n++) + ".png");
        ImageConversion record = SameSizeRecord(dir / "mark.png", out, kImageTypePNG);
        record.rotationAngle = angle;
        record.flipMask = flip;
        ASSERT_EQ(ConvertImageWithOptions(&record), 1) << angle << "/" << flip;
        const Decoded d = Decode(out);
        const bool odd = (angle / 90) % 2 != 0;
        ASSERT_EQ(d.width, odd ? 30 : 40);
        ASSERT_EQ(d.height, odd ? 40 : 30);
        const int l = 3, r = d.width - 4, t = 3, b = d.height - 4;
        const std::vector<std::pair<Corner, RGBA>> seen = {
            {TopLeft, d.at(l, t)}, {TopRight, d.at(r, t)}, {BottomLeft, d.at(l, b)}, {BottomRight, d.at(r, b)}};
        for (const auto& [where, pixel] : seen) {
            EXPECT_EQ(IsRed(pixel), where == corner) << "angle " << angle << " flip " << flip << " corner " << where;
        }
    }
}

TEST_F(RenderingTest, OddQuarterTurnsSwapTheResolution) {
    ASSERT_TRUE(WriteImage(dir / "src.tif", SolidImage(40, 20, {10, 20, 30, 255}), "public.tiff",
                           Resolution(300, 150)));
    ImageConversion record = SameSizeRecord(dir / "src.tif", dir / "turned.tif", kImageTypeTIFF);
    record.rotationAngle = 90;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "turned.tif");
    EXPECT_EQ(d.width, 20);
    EXPECT_EQ(d.height, 40);
    EXPECT_NEAR(d.properties.number(plat::prop::DPIWidth).value_or(0), 150, 0.5);
    EXPECT_NEAR(d.properties.number(plat::prop::DPIHeight).value_or(0), 300, 0.5);

    record.rotationAngle = 180;
    record.destinationURL = dir / "half.tif";
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded h = Decode(dir / "half.tif");
    EXPECT_NEAR(h.properties.number(plat::prop::DPIWidth).value_or(0), 300, 0.5);
    EXPECT_NEAR(h.properties.number(plat::prop::DPIHeight).value_or(0), 150, 0.5);
}

TEST_F(RenderingTest, ImageWatermarkIsPlacedFromTheEditor) {
    ASSERT_TRUE(WriteImage(dir / "white.png", SolidImage(1100, 550, {255, 255, 255, 255}), "public.png"));
    ImageConversion record = SameSizeRecord(dir / "white.png", dir / "marked.png", kImageTypePNG);
    record.drawImageWatermark = 1;
    record.watermark.image = SolidImage(100, 50, {0, 0, 255, 255});
    record.watermark.editorViewSize = {550, 275};
    record.watermark.imageScale = 1.0;
    record.watermark.imageOpacity = 1.0;
    // Near the lower left corner: 10 points in, so 20 pixels at twice the size.
    record.watermark.imageOrigin = {10, 10};
    record.watermark.imageEndPoint = {110, 60};
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    Decoded d = Decode(dir / "marked.png");
    ASSERT_EQ(d.width, 1100);
    // y-up 20..120 is rows 430..529; x 20..219.
    EXPECT_TRUE(Near(d.at(25, 525), {0, 0, 255, 255}, 2));
    EXPECT_TRUE(Near(d.at(214, 435), {0, 0, 255, 255}, 2));
    EXPECT_TRUE(Near(d.at(15, 480), {255, 255, 255, 255}, 2));
    EXPECT_TRUE(Near(d.at(225, 480), {255, 255, 255, 255}, 2));
    EXPECT_TRUE(Near(d.at(120, 425), {255, 255, 255, 255}, 2));
    EXPECT_TRUE(Near(d.at(120, 535), {255, 255, 255, 255}, 2));

    // Near the upper right corner, half opaque and half the size (the editor
    // rectangle is the scaled image: 50 × 25 points).
    record.destinationURL = dir / "faint.png";
    record.watermark.imageOrigin = {480, 240};
    record.watermark.imageEndPoint = {530, 265};
    record.watermark.imageOpacity = 0.5;
    record.watermark.imageScale = 0.5;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    d = Decode(dir / "faint.png");
    // Right margin 20 points = 40 pixels, top margin 20 pixels, 100 × 50
    // large: x 960..1059, rows 20..69.
    EXPECT_TRUE(Near(d.at(1010, 45), {128, 128, 255, 255}, 3));
    EXPECT_TRUE(Near(d.at(1065, 45), {255, 255, 255, 255}, 2));
    EXPECT_TRUE(Near(d.at(955, 45), {255, 255, 255, 255}, 2));
    EXPECT_TRUE(Near(d.at(1010, 75), {255, 255, 255, 255}, 2));
    EXPECT_TRUE(Near(d.at(1010, 15), {255, 255, 255, 255}, 2));
}

TEST_F(RenderingTest, LargeWatermarkImagesAreFittedToTheEditorCanvas) {
    ASSERT_TRUE(WriteImage(dir / "white.png", SolidImage(1100, 550, {255, 255, 255, 255}), "public.png"));
    ImageConversion record = SameSizeRecord(dir / "white.png", dir / "big.png", kImageTypePNG);
    record.drawImageWatermark = 1;
    record.watermark.image = SolidImage(2000, 1000, {0, 0, 0, 255});  // fitted to 550 × 275
    record.watermark.editorViewSize = {550, 275};
    record.watermark.imageScale = 0.1;
    record.watermark.imageOpacity = 1.0;
    record.watermark.imageOrigin = {0, 0};
    record.watermark.imageEndPoint = {55, 27.5};
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "big.png");
    // 550 × 0.1 × 2 = 110 wide, 55 high, at the lower left.
    EXPECT_TRUE(Near(d.at(105, 549 - 50), {0, 0, 0, 255}, 2));
    EXPECT_TRUE(Near(d.at(115, 549 - 50), {255, 255, 255, 255}, 2));
    EXPECT_TRUE(Near(d.at(50, 549 - 60), {255, 255, 255, 255}, 2));
}

TEST_F(RenderingTest, SharpeningSteepensAnEdge) {
    auto edge = MakeImage(64, 16, [](int x, int) -> RGBA {
        const int v = x < 30 ? 80 : x > 33 ? 170 : 80 + (x - 29) * 18;
        return {std::uint8_t(v), std::uint8_t(v), std::uint8_t(v), 255};
    });
    ASSERT_TRUE(WriteImage(dir / "edge.png", edge, "public.png"));
    ImageConversion plain = SameSizeRecord(dir / "edge.png", dir / "plain.png", kImageTypePNG);
    ASSERT_EQ(ConvertImageWithOptions(&plain), 1);
    ImageConversion sharp = SameSizeRecord(dir / "edge.png", dir / "sharp.png", kImageTypePNG);
    sharp.resize.sharpen = 1;
    ASSERT_EQ(ConvertImageWithOptions(&sharp), 1);

    const Decoded a = Decode(dir / "plain.png");
    const Decoded b = Decode(dir / "sharp.png");
    ASSERT_EQ(a.width, 64);
    ASSERT_EQ(b.width, 64);
    auto variation = [](const Decoded& d) {
        int total = 0;
        for (int x = 1; x < d.width; ++x) total += std::abs(int(d.at(x, 8)[0]) - int(d.at(x - 1, 8)[0]));
        return total;
    };
    EXPECT_GT(variation(b), variation(a) + 10);
    // Dark side darker, light side lighter next to the edge; flat parts stay.
    EXPECT_LT(b.at(29, 8)[0], a.at(29, 8)[0]);
    EXPECT_GT(b.at(34, 8)[0], a.at(34, 8)[0]);
    EXPECT_NEAR(b.at(5, 8)[0], 80, 2);
    EXPECT_NEAR(b.at(60, 8)[0], 170, 2);
}

TEST_F(RenderingTest, CMYKTIFFOutput) {
    ASSERT_TRUE(WriteImage(dir / "src.png", SolidImage(30, 20, {200, 40, 40, 255}), "public.png"));
    ImageConversion record = SameSizeRecord(dir / "src.png", dir / "print.tif", kImageTypeCMYKTIFF);
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "print.tif");
    EXPECT_EQ(d.type, "public.tiff");
    EXPECT_EQ(d.properties.string(plat::prop::ColorModel).value_or(""), "CMYK");
    EXPECT_EQ(d.width, 30);
    // Still the same red, once back in RGB.
    EXPECT_TRUE(Near(d.at(15, 10), {200, 40, 40, 255}, 40));
}

TEST_F(RenderingTest, CMYKSourceWithAlphaKeepsItOnlyInTIFF) {
    // CMYK with alpha: a transparent 8 × 8 square in the top left corner.
    const vips::VImage xy = vips::VImage::xyz(24, 16);
    const vips::VImage alpha = (xy.extract_band(0) >= 8) | (xy.extract_band(1) >= 8);
    const vips::VImage ink = vips::VImage::black(24, 16, vips::VImage::option()->set("bands", 4))
                                 .new_from_image(std::vector<double>{0, 200, 200, 0})
                                 .cast(VIPS_FORMAT_UCHAR);
    const vips::VImage holed = ink.bandjoin(alpha.cast(VIPS_FORMAT_UCHAR))
                                   .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK));
    VipsSave(holed, dir / "cmyka.tif");

    ImageConversion tiff = SameSizeRecord(dir / "cmyka.tif", dir / "out.tif", kImageTypeTIFF);
    ASSERT_EQ(ConvertImageWithOptions(&tiff), 1);
    Decoded d = Decode(dir / "out.tif");
    EXPECT_EQ(d.properties.string(plat::prop::ColorModel).value_or(""), "CMYK");
    EXPECT_TRUE(d.properties.boolean(plat::prop::HasAlpha).value_or(false));
    EXPECT_EQ(d.at(2, 2)[3], 0);
    EXPECT_EQ(d.at(20, 12)[3], 255);

    ImageConversion png = SameSizeRecord(dir / "cmyka.tif", dir / "out.png", kImageTypePNG);
    ASSERT_EQ(ConvertImageWithOptions(&png), 1);
    d = Decode(dir / "out.png");
    EXPECT_EQ(d.properties.string(plat::prop::ColorModel).value_or(""), "RGB");
    EXPECT_EQ(d.at(2, 2)[3], 0);
}

TEST_F(RenderingTest, ColourModelRules) {
    ImageConverter c;
    c.outputType = kImageTypeJPEG;
    EXPECT_EQ(ChooseRenderColorModel(&c, plat::ColorModel::Gray, false), plat::ColorModel::Gray);
    EXPECT_EQ(ChooseRenderColorModel(&c, plat::ColorModel::Gray, true), plat::ColorModel::Gray);
    EXPECT_EQ(ChooseRenderColorModel(&c, plat::ColorModel::CMYK, true), plat::ColorModel::RGB);
    EXPECT_EQ(c.colorMode, 1);
    c.colorMode = 0;
    c.outputType = kImageTypeTIFF;
    EXPECT_EQ(ChooseRenderColorModel(&c, plat::ColorModel::CMYK, true), plat::ColorModel::CMYK);
    c.outputType = kImageTypeCMYKTIFF;
    EXPECT_EQ(ChooseRenderColorModel(&c, plat::ColorModel::RGB, true), plat::ColorModel::CMYK);
    c.outputType = kImageTypePNG;
    c.colorMode = 3;
    EXPECT_EQ(ChooseRenderColorModel(&c, plat::ColorModel::RGB, false), plat::ColorModel::Gray);
    c.colorMode = 2;
    EXPECT_EQ(ChooseRenderColorModel(&c, plat::ColorModel::RGB, false), plat::ColorModel::CMYK);
    EXPECT_EQ(c.colorMode, 2);
}

TEST_F(RenderingTest, GreySourceKeepsItsTransparency) {
    // Grey with alpha, its left half transparent.
    const vips::VImage alpha = (vips::VImage::xyz(20, 20).extract_band(0) >= 10).cast(VIPS_FORMAT_UCHAR);
    const vips::VImage grey = (vips::VImage::black(20, 20) + 90)
                                  .cast(VIPS_FORMAT_UCHAR)
                                  .bandjoin(alpha)
                                  .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
    VipsSave(grey, dir / "grey.png");
    ImageConversion record = SameSizeRecord(dir / "grey.png", dir / "out.png", kImageTypePNG);
    record.rotationAngle = 180;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "out.png");
    EXPECT_EQ(d.properties.string(plat::prop::ColorModel).value_or(""), "Gray");
    EXPECT_TRUE(d.properties.boolean(plat::prop::HasAlpha).value_or(false));
    // Turned half-way: the transparent half is now on the right.
    EXPECT_EQ(d.at(15, 5)[3], 0);
    EXPECT_EQ(d.at(4, 5)[3], 255);
    EXPECT_NEAR(d.at(4, 5)[0], 90, 1);
}

TEST_F(RenderingTest, LabSourceFallsBackToRGB) {
    const vips::VImage lab = vips::VImage::black(16, 12, vips::VImage::option()->set("bands", 3))
                                 .new_from_image(std::vector<double>{50, 40, 20})
                                 .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_LAB));
    VipsSave(lab, dir / "lab.tif");
    ImageConversion record = SameSizeRecord(dir / "lab.tif", dir / "out.jpg", kImageTypeJPEG);
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "out.jpg");
    EXPECT_EQ(d.width, 16);
    EXPECT_EQ(d.properties.string(plat::prop::ColorModel).value_or(""), "RGB");
    const RGBA p = d.at(8, 6);
    EXPECT_GT(p[0], p[2]);  // a warm colour
}

TEST_F(RenderingTest, CoverAndCropKeepsTheCentre) {
    auto thirds = MakeImage(400, 300, [](int x, int) -> RGBA {
        if (x < 100) return {255, 0, 0, 255};
        if (x >= 300) return {0, 0, 255, 255};
        return {0, 255, 0, 255};
    });
    ASSERT_TRUE(WriteImage(dir / "thirds.png", thirds, "public.png"));
    ImageConversion record = SameSizeRecord(dir / "thirds.png", dir / "square.png", kImageTypePNG);
    PixelsResize(record, 150, 150, 6, true);
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "square.png");
    ASSERT_EQ(d.width, 150);
    ASSERT_EQ(d.height, 150);
    // Drawn 200 × 150 and cropped 25 on each side: 25 red, 100 green, 25 blue.
    EXPECT_TRUE(Near(d.at(10, 75), {255, 0, 0, 255}, 10));
    EXPECT_TRUE(Near(d.at(75, 75), {0, 255, 0, 255}, 10));
    EXPECT_TRUE(Near(d.at(140, 75), {0, 0, 255, 255}, 10));
}

TEST_F(RenderingTest, KeepingThePixelsChangesOnlyTheResolution) {
    ASSERT_TRUE(WriteImage(dir / "src.png", MarkedImage(300, 200, 10), "public.png"));
    ImageConversion record = SameSizeRecord(dir / "src.png", dir / "out.png", kImageTypePNG);
    record.resize.applySize = 0;
    record.resize.unit = 3;  // inches
    record.resize.width = 1;
    record.resize.height = 0;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "out.png");
    EXPECT_EQ(d.width, 300);
    EXPECT_EQ(d.height, 200);
    EXPECT_NEAR(d.properties.number(plat::prop::DPIWidth).value_or(0), 300, 1);
    EXPECT_TRUE(IsRed(d.at(2, 2)));
}

TEST_F(RenderingTest, PageBoxFixesTheResolution) {
    ASSERT_TRUE(WriteImage(dir / "src.png", SolidImage(200, 100, {1, 2, 3, 255}), "public.png"));
    ImageConverter c;
    ASSERT_EQ(LoadConverterSource(&c, dir / "src.png"), 1);
    c.returnImage = 1;
    c.outputType = kImageTypePNG;
    c.fitWidth = 100;
    c.fitHeight = 100;
    ASSERT_EQ(RenderConvertedImage(&c, c.sourceRep->image(), 200, 100, false, plat::Rect(0, 0, 200, 100)), 1);
    EXPECT_DOUBLE_EQ(c.dpiX, 144.0);
    EXPECT_DOUBLE_EQ(c.dpiY, 144.0);
    c.fixedDPI = 96;
    ASSERT_EQ(RenderConvertedImage(&c, c.sourceRep->image(), 200, 100, false, plat::Rect(0, 0, 200, 100)), 1);
    EXPECT_DOUBLE_EQ(c.dpiX, 96.0);
    EXPECT_EQ(RenderConvertedImage(&c, c.sourceRep->image(), 0, 100, false, plat::Rect(0, 0, 200, 100)), 0);
}

TEST_F(RenderingTest, TextWatermarkIsDrawnWhereTheEditorPlacedIt) {
    ASSERT_TRUE(WriteImage(dir / "white.png", SolidImage(1100, 550, {255, 255, 255, 255}), "public.png"));
    ImageConversion record = SameSizeRecord(dir / "white.png", dir / "text.png", kImageTypePNG);
    record.drawTextWatermark = 1;
    WatermarkOptions& w = record.watermark;
    w.text = "HHHH";
    w.fontSize = 20;
    w.textColor = {0, 0, 0, 1};
    w.textOpacity = 1.0;
    w.editorViewSize = {275, 550};  // the editor shows the turned picture
    w.textOrigin = {10, 10};
    w.textEndPoint = {100, 40};
    record.rotationAngle = 90;  // the text stays upright in the turned output
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "text.png");
    ASSERT_EQ(d.width, 550);
    ASSERT_EQ(d.height, 1100);
    // Scale 1100 / 550 = 2: the baseline starts 20 pixels in from the lower
    // left corner of the upright output.
    int inside = 0, outside = 0;
    for (int y = 0; y < d.height; ++y) {
        for (int x = 0; x < d.width; ++x) {
            if (d.at(x, y)[0] > 128) continue;
            const bool near = x >= 15 && x < 300 && y >= d.height - 120 && y < d.height - 15;
            (near ? inside : outside)++;
        }
    }
    EXPECT_GT(inside, 200);
    EXPECT_EQ(outside, 0);
}

TEST_F(RenderingTest, ImageMaskFollowsTheTransformAndTheAlpha) {
    // Opaque left half, transparent right half.
    const plat::ImageRef half =
        MakeImage(8, 4, [](int x, int) -> RGBA { return {10, 20, 30, std::uint8_t(x < 4 ? 255 : 0)}; }, true);
    const plat::Rect all(0, 0, 8, 4);
    plat::ImageRef mask = CreateImageMaskFromImage(plat::AffineTransform(), half, 8, 4, all);
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->colorModel(), plat::ColorModel::Gray);
    EXPECT_FALSE(mask->hasAlpha());
    Decoded d = DecodeImage(mask);
    EXPECT_EQ(d.at(1, 1)[0], 255);
    EXPECT_EQ(d.at(6, 1)[0], 0);

    // Mirrored left-right, the opaque half moves right.
    mask = CreateImageMaskFromImage(plat::AffineTransform{-1, 0, 0, 1, 8, 0}, half, 8, 4, all);
    d = DecodeImage(mask);
    EXPECT_EQ(d.at(1, 1)[0], 0);
    EXPECT_EQ(d.at(6, 1)[0], 255);
    EXPECT_FALSE(CreateImageMaskFromImage(plat::AffineTransform(), nullptr, 8, 4, all));

    ASSERT_TRUE(WriteImage(dir / "src.png", half, "public.png"));
    const auto rep = GetBitmapImageRep(plat::ImageSource::Open(dir / "src.png"));
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->pixelsWide(), 8);
    EXPECT_TRUE(rep->hasAlpha());
    EXPECT_FALSE(GetBitmapImageRep(nullptr));
}

TEST_F(RenderingTest, AlphaAndPaletteSourcesBecomeRGBJpeg) {
    // Opaque red left half, transparent right half.
    const plat::ImageRef half = MakeImage(
        16, 8, [](int x, int) -> RGBA { return {230, 20, 20, std::uint8_t(x < 8 ? 255 : 0)}; }, true);
    ASSERT_TRUE(WriteImage(dir / "alpha.png", half, "public.png"));
    // A palette PNG of the same red and blue.
    const plat::ImageRef two = MakeImage(16, 8, [](int x, int) -> RGBA {
        return x < 8 ? RGBA{230, 20, 20, 255} : RGBA{20, 20, 230, 255};
    });
    two->vimage().write_to_file((dir / "palette.png").c_str(), vips::VImage::option()->set("palette", true));

    for (const char* name : {"alpha.png", "palette.png"}) {
        ImageConversion record = SameSizeRecord(dir / name, dir / "out.jpg", kImageTypeJPEG);
        ASSERT_EQ(ConvertImageWithOptions(&record), 1) << name;
        const Decoded d = Decode(dir / "out.jpg");
        EXPECT_EQ(d.properties.string(plat::prop::ColorModel).value_or(""), "RGB") << name;
        EXPECT_FALSE(d.properties.boolean(plat::prop::HasAlpha).value_or(false)) << name;
        EXPECT_TRUE(IsRed(d.at(3, 4))) << name;
    }
    EXPECT_TRUE(Near(Decode(dir / "out.jpg").at(12, 4), {20, 20, 230, 255}, 30));
}
