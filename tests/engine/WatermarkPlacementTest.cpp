// Watermarks anywhere on a large photo: every placement, rotation and shadow
// converts, into each format whose encoder reads the source once, in order.
#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/ImageTypes.h"
#include "platform/Font.h"

#include <vips/vips8>

using namespace convtest;

namespace {

constexpr int kWidth = 4000, kHeight = 3000;
constexpr double kEditorWidth = 550.0;  // the editor canvas of a 4:3 photo: 550 points on the longer side

enum class Mark { Text, OutlinedTurnedTextWithShadow, Logo, OpaqueLogo };

struct Placement { const char* name; double x, y; };  // lower left corner in the editor, y up

// Near the top, where the watermark's rows come long before the photo's last rows, and at the centre.
const Placement kPlacements[] = {{"TopLeft", 10, 360}, {"TopRight", 420, 370}, {"Centre", 215, 190}};

class WatermarkPlacementTest : public ConversionTest {
protected:
    static void SetUpTestSuite() {
        ConversionTest::SetUpTestSuite();
        photo_ = new ScratchDir;
        // Photo-like content, so the JPEG source is decoded in full rows.
        ASSERT_TRUE(WriteImage(*photo_ / "photo.jpg", MakeImage(kWidth, kHeight, [](int x, int y) -> RGBA {
            return {std::uint8_t(x * 255 / kWidth), std::uint8_t(y * 255 / kHeight), std::uint8_t((x ^ y) & 0xff), 255};
        }), "public.jpeg"));
    }
    static void TearDownTestSuite() { delete photo_; }

    // Converts the source with `mark` at `at` into `name`; the result code.
    int Convert(Mark mark, const Placement& at, std::int32_t type, const std::string& name, const char* source = "photo.jpg") {
        ImageConversion r = SameSizeRecord(*photo_ / source, dir / name, type);
        WatermarkOptions& w = r.watermark;
        w.editorViewSize = {kEditorWidth, kEditorWidth * kHeight / kWidth};
        const bool opaque = mark == Mark::OpaqueLogo;
        if (mark == Mark::Logo || opaque) {
            r.drawImageWatermark = 1;
            w.image = MakeImage(120, 80, [&](int x, int y) -> RGBA { return {200, 30, 30, std::uint8_t(opaque ? 255 : (x + y) % 256)}; }, !opaque);
            w.imageOpacity = opaque ? 1.0 : 0.6, w.imageScale = 1.0, w.imageOrigin = {at.x, at.y}, w.imageEndPoint = {at.x + 120, at.y + 40};
        } else {
            r.drawTextWatermark = 1;
            w.text = "Vantrell", w.font = plat::Font::fontWithExactName("DejaVuSans"), w.fontSize = 28, w.textColor = {1, 1, 1, 1};
            w.textOpacity = 0.8, w.textOrigin = {at.x, at.y}, w.textEndPoint = {at.x + 110, at.y + 34};
            if (mark == Mark::OutlinedTurnedTextWithShadow) {
                w.drawingMode = 2, w.strokeWidth = 2, w.rotation = 30, w.shadow = 1, w.shadowColor = {0, 0, 0, 0.6};
                w.shadowBlur = 4, w.shadowOffsetX = 3, w.shadowOffsetY = -3;
            }
        }
        return ConvertImageWithOptions(&r);
    }

    // Every mark at every placement into every format: full size, at `format`.
    void EveryPlacement(const char* source, std::initializer_list<std::int32_t> types,
                        std::initializer_list<Mark> marks, VipsBandFormat format) {
        for (std::int32_t type : types) for (Mark mark : marks) for (const Placement& at : kPlacements) {
            const std::string name = std::to_string(int(mark)) + "-" + at.name + "." +
                                     (type == kImageTypeJPEG ? "jpg" : type == kImageTypePNG ? "png" : "tif");
            SCOPED_TRACE(name);
            ASSERT_EQ(Convert(mark, at, type, name, source), 1);
            const vips::VImage out = vips::VImage::new_from_file((dir / name).c_str());
            EXPECT_EQ(std::tuple(out.width(), out.height(), out.format()), std::tuple(kWidth, kHeight, format));
        }
    }

    static inline ScratchDir* photo_ = nullptr;
};

TEST_F(WatermarkPlacementTest, EveryPlacementConvertsIntoEveryFormat) {
    EveryPlacement("photo.jpg", {kImageTypeJPEG, kImageTypePNG, kImageTypeTIFF},
                   {Mark::Text, Mark::OutlinedTurnedTextWithShadow, Mark::Logo}, VIPS_FORMAT_UCHAR);
}

// A 16-bit photo keeps its depth through the watermark, wherever it sits, and is read once, in order, as an 8-bit one is.
TEST_F(WatermarkPlacementTest, DeepPhotosTakeWatermarksAnywhere) {
    vips::VImage::xyz(kWidth, kHeight)
        .linear({65535.0 / kWidth, 65535.0 / kHeight}, {0.0, 0.0})
        .bandjoin_const({30000.0})
        .cast(VIPS_FORMAT_USHORT)
        .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16))
        .pngsave((*photo_ / "deep.png").c_str(), vips::VImage::option()->set("bitdepth", 16)->set("compression", 1));
    EveryPlacement("deep.png", {kImageTypePNG, kImageTypeTIFF}, {Mark::OutlinedTurnedTextWithShadow, Mark::Logo},
                   VIPS_FORMAT_USHORT);
}

TEST_F(WatermarkPlacementTest, UpperWatermarkLandsWhereItWasPlaced) {
    ASSERT_EQ(Convert(Mark::OpaqueLogo, kPlacements[0], kImageTypePNG, "upper.png"), 1);
    const Decoded d = Decode(dir / "upper.png");
    ASSERT_EQ(d.width, kWidth);
    // Editor scale 4000 / 550: the logo's lower left corner, (10, 360) in the editor, is at (73, 2618) y up: near the top.
    const double s = kWidth / kEditorWidth;
    const int x = int(10 * s) + 20;
    EXPECT_TRUE(Near(d.at(x, kHeight - int(360 * s) - 20), {200, 30, 30, 255}, 4));
    EXPECT_FALSE(Near(d.at(x, kHeight - 40), {200, 30, 30, 255}, 40));
}

}  // namespace
