// Watermarks anywhere on a large photo: every placement, rotation and shadow
// converts, into each format whose encoder reads the source once, in order.
#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/ImageTypes.h"
#include "platform/Font.h"

#include <vips/vips8>

#include <string>

using namespace convtest;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
// The editor canvas of a 4:3 photo: 550 points on the longer side.
constexpr double kEditorWidth = 550.0;
constexpr double kEditorHeight = 412.5;

enum class Mark { Text, OutlinedTurnedTextWithShadow, Logo, OpaqueLogo };

struct Placement {
    const char* name;
    double x, y;  // lower left corner in the editor, y up
};

// Near the top, where the watermark's rows come long before the photo's last
// rows, and at the centre.
const Placement kPlacements[] = {{"TopLeft", 10, 360}, {"TopRight", 420, 370}, {"Centre", 215, 190}};

class WatermarkPlacementTest : public ConversionTest {
protected:
    static void SetUpTestSuite() {
        ConversionTest::SetUpTestSuite();
        photo_ = new ScratchDir;
        // Photo-like content, so the JPEG source is decoded in full rows.
        ASSERT_TRUE(WriteImage(*photo_ / "photo.jpg", MakeImage(kWidth, kHeight, [](int x, int y) -> RGBA {
                                   return {std::uint8_t(x * 255 / kWidth), std::uint8_t(y * 255 / kHeight),
                                           std::uint8_t((x ^ y) & 0xff), 255};
                               }),
                               "public.jpeg"));
    }
    static void TearDownTestSuite() {
        delete photo_;
        photo_ = nullptr;
    }

    ImageConversion Record(Mark mark, const Placement& at, std::int32_t type, const std::string& name,
                           const char* source = "photo.jpg") {
        ImageConversion r = SameSizeRecord(*photo_ / source, dir / name, type);
        WatermarkOptions& w = r.watermark;
        w.editorViewSize = {kEditorWidth, kEditorHeight};
        if (mark == Mark::Logo || mark == Mark::OpaqueLogo) {
            r.drawImageWatermark = 1;
            const bool opaque = mark == Mark::OpaqueLogo;
            w.image = MakeImage(120, 80, [&](int x, int y) -> RGBA {
                return {200, 30, 30, std::uint8_t(opaque ? 255 : (x + y) % 256)};
            }, !opaque);
            w.imageOpacity = opaque ? 1.0 : 0.6;
            w.imageScale = 1.0;
            w.imageOrigin = {at.x, at.y};
            w.imageEndPoint = {at.x + 120, at.y + 40};
            return r;
        }
        r.drawTextWatermark = 1;
        w.text = "Vantrell";
        w.font = plat::Font::fontWithExactName("DejaVuSans");
        w.fontSize = 28;
        w.textColor = {1, 1, 1, 1};
        w.textOpacity = 0.8;
        w.textOrigin = {at.x, at.y};
        w.textEndPoint = {at.x + 110, at.y + 34};
        if (mark == Mark::OutlinedTurnedTextWithShadow) {
            w.drawingMode = 2;
            w.strokeWidth = 2;
            w.rotation = 30;
            w.shadow = 1;
            w.shadowColor = {0, 0, 0, 0.6};
            w.shadowBlur = 4;
            w.shadowOffsetX = 3;
            w.shadowOffsetY = -3;
        }
        return r;
    }

    static ScratchDir* photo_;
};

ScratchDir* WatermarkPlacementTest::photo_ = nullptr;

TEST_F(WatermarkPlacementTest, EveryPlacementConvertsIntoEveryFormat) {
    const struct {
        std::int32_t type;
        const char* extension;
    } formats[] = {{kImageTypeJPEG, "jpg"}, {kImageTypePNG, "png"}, {kImageTypeTIFF, "tif"}};
    const struct {
        Mark mark;
        const char* name;
    } marks[] = {{Mark::Text, "text"},
                 {Mark::OutlinedTurnedTextWithShadow, "shadowed"},
                 {Mark::Logo, "logo"}};
    for (const auto& format : formats) {
        for (const auto& mark : marks) {
            for (const Placement& at : kPlacements) {
                const std::string name = std::string(mark.name) + "-" + at.name + "." + format.extension;
                ImageConversion record = Record(mark.mark, at, format.type, name);
                ASSERT_EQ(ConvertImageWithOptions(&record), 1) << name;
                const Decoded d = Decode(dir / name);
                ASSERT_EQ(d.width, kWidth) << name;
                ASSERT_EQ(d.height, kHeight) << name;
            }
        }
    }
}

// A 16-bit photo keeps its depth through the watermark, wherever it sits,
// and is read once, in order, as an 8-bit one is.
TEST_F(WatermarkPlacementTest, DeepPhotosTakeWatermarksAnywhere) {
    const vips::VImage ramp = vips::VImage::xyz(kWidth, kHeight)
                                  .linear({65535.0 / kWidth, 65535.0 / kHeight}, {0.0, 0.0})
                                  .bandjoin_const({30000.0})
                                  .cast(VIPS_FORMAT_USHORT)
                                  .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    ramp.pngsave((*photo_ / "deep.png").c_str(), vips::VImage::option()->set("bitdepth", 16)->set("compression", 1));
    for (const Placement& at : kPlacements) {
        for (Mark mark : {Mark::OutlinedTurnedTextWithShadow, Mark::Logo}) {
            for (std::int32_t type : {kImageTypePNG, kImageTypeTIFF}) {
                const std::string name = std::string("deep-") + at.name + (type == kImageTypePNG ? ".png" : ".tif");
                ImageConversion record = Record(mark, at, type, name, "deep.png");
                ASSERT_EQ(ConvertImageWithOptions(&record), 1) << name;
                const vips::VImage out = vips::VImage::new_from_file((dir / name).c_str());
                EXPECT_EQ(out.width(), kWidth) << name;
                EXPECT_EQ(out.format(), VIPS_FORMAT_USHORT) << name;
            }
        }
    }
}

TEST_F(WatermarkPlacementTest, UpperWatermarkLandsWhereItWasPlaced) {
    ImageConversion record = Record(Mark::OpaqueLogo, kPlacements[0], kImageTypePNG, "upper.png");
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "upper.png");
    ASSERT_EQ(d.width, kWidth);
    // Editor scale 4000 / 550: the logo's lower left corner, (10, 360) in the
    // editor, is at (73, 2618) y up, so its pixels are near the top.
    const double s = kWidth / kEditorWidth;
    const int x = int(10 * s) + 20;
    const int row = kHeight - int(360 * s) - 20;
    EXPECT_TRUE(Near(d.at(x, row), {200, 30, 30, 255}, 4));
    EXPECT_FALSE(Near(d.at(x, kHeight - 40), {200, 30, 30, 255}, 40));
}

}  // namespace
