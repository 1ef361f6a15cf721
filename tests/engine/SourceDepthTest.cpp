// Sources of 16 bits and float keep their depth in every output format that holds it, whatever the job does to them, and
// come out at the nearest 8-bit step in the formats that hold 8 bits.
#include "ConverterTestSupport.h"
#include "engine/ConvertImage.h"
#include "engine/ImageTypes.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <set>

namespace {

using namespace convtest;
using vips::VImage;

constexpr int kWidth = 256, kHeight = 8;
// Where the checks read a pixel: right of the watermarks, which sit at the left.
constexpr int kProbeX = 200, kProbeY = 4;
constexpr double kAlpha = 40000.0;
const double kRed = 20000.0 + 7.0 * kProbeX;  // the source's red at the probe

struct SourceKind { const char* name; int colour; bool alpha; const char* extension; bool profile; };  // colour: 1 grey, 3 RGB

const SourceKind kSources[] = {
    {"RGBPng", 3, false, "png", false}, {"RGBAPng", 3, true, "png", false}, {"GreyPng", 1, false, "png", false},
    {"GreyAlphaPng", 1, true, "png", false}, {"RGBTiff", 3, false, "tif", false}, {"RGBATiff", 3, true, "tif", false},
    {"GreyTiff", 1, false, "tif", false}, {"GreyAlphaTiff", 1, true, "tif", false}, {"RGBProfilePng", 3, false, "png", true}};

// A smooth ramp: red rises in steps of 7, far finer than one 8-bit step (257), green falls in steps of 11, blue and alpha
// are constant.
VImage WriteSource(const SourceKind& kind, const std::filesystem::path& path) {
    const VImage x = VImage::xyz(kWidth, kHeight).extract_band(0);
    std::vector<VImage> bands{x * 7 + 20000};
    if (kind.colour == 3) bands.insert(bands.end(), {60000 - x * 11, x * 0 + 30000});
    if (kind.alpha) bands.push_back(x * 0 + kAlpha);
    VImage ramp = VImage::bandjoin(bands).cast(VIPS_FORMAT_USHORT).copy(VImage::option()->set(
        "interpretation", kind.colour == 1 ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16));
    vips::VOption* profile = kind.profile ? VImage::option()->set("profile", "p3") : nullptr;
    std::string(kind.extension) == "png" ? ramp.pngsave(path.c_str(), profile) : ramp.tiffsave(path.c_str(), profile);
    return ramp;
}

// The output as its file stores it, before any conversion to 8 bits.
VImage Stored(const std::filesystem::path& path) {
    auto source = plat::ImageSource::Open(path);
    return source ? source->load(0, plat::DecodeOptions{}).copy_memory() : VImage();
}

int Bits(const VImage& image) {
    return image.format() == VIPS_FORMAT_UCHAR ? 8 : image.format() == VIPS_FORMAT_USHORT ? 16 : image.format() == VIPS_FORMAT_FLOAT ? 32 : 0;
}

// Of the colour bands (a ramp converted into a smaller gamut may clip in one): the most distinct values.
std::size_t MostDistinctValues(const VImage& image) {
    std::size_t most = 0, size = 0;
    for (int band = 0; band < std::min(image.bands(), 3); ++band) {
        auto* values = static_cast<float*>(image.extract_band(band).cast(VIPS_FORMAT_FLOAT).write_to_memory(&size));
        most = std::max(most, std::set<float>(values, values + size / sizeof(float)).size());
        g_free(values);
    }
    return most;
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

// The pixel type of an OpenEXR file's first channel, from its header's channel list: 0 uint, 1 half, 2 float; -1 when not
// found. The list's size (4 bytes) comes first, then the first channel's name and type.
constexpr int kExrFloat = 2;
int ExrChannelType(const std::filesystem::path& path) {
    const std::string bytes = ReadAll(path);
    static const std::string kList("channels\0chlist\0", 16);
    const std::size_t at = bytes.find(kList);
    const std::size_t end = at == std::string::npos ? at : bytes.find('\0', at + kList.size() + 4);
    return end == std::string::npos || end + 5 > bytes.size() ? -1 : static_cast<unsigned char>(bytes[end + 1]);
}

// bits: as stored, 0 when not read back; lossless at quality 0.9; keepsProfile: the source's pixels kept with their profile.
struct OutputKind { std::int32_t code; const char* extension; int bits; bool lossless, keepsProfile; };

const OutputKind kOutputs[] = {
    {kImageTypePhotoshop, "psd", 16, true, true}, {kImageTypeGIF, "gif", 8, false, false}, {kImageTypeJPEG2000, "jp2", 16, false, false},
    {kImageTypeJPEG, "jpg", 8, false, true}, {kImageTypeOpenEXR, "exr", 0, false, false}, {kImageTypeICNS, "icns", 8, false, false},
    {kImageTypePNG, "png", 16, true, true}, {kImageTypePDF, "pdf", 0, false, false}, {kImageTypeTGA, "tga", 8, true, false},
    {kImageTypeTIFF, "tif", 16, true, true}, {kImageTypeBMP, "bmp", 8, true, true}, {kImageTypeSGI, "sgi", 16, true, false},
    {kImageTypeCMYKTIFF, "tif", 8, false, false}, {kImageTypePICT, "pict", 8, true, false}, {kImageTypeICO, "ico", 8, false, false},
    {kImageTypeMultiPageTIFF, "tif", 16, true, true}};

enum class Operation { Full, Resize, TurnAndFlip, TextWatermark, ImageWatermark, Sharpen };
const char* const kOperationNames[] = {"Full", "Resize", "TurnAndFlip", "TextWatermark", "ImageWatermark", "Sharpen"};

// Converts `source` into `target` of `code`, with `operation` applied.
int Convert(const std::filesystem::path& source, const std::filesystem::path& target, std::int32_t code,
            Operation operation = Operation::Full, bool wholeFile = false) {
    ImageConversion record = SameSizeRecord(source, target, code);
    WatermarkOptions& w = record.watermark;
    w.editorViewSize = {550, 17.1875};
    record.resize.sharpen = operation == Operation::Sharpen;
    if (operation == Operation::Resize || operation == Operation::Sharpen) record.resize.width = record.resize.height = 50;
    if (operation == Operation::TurnAndFlip) record.rotationAngle = 90, record.flipMask = 1;
    record.drawTextWatermark = operation == Operation::TextWatermark;
    record.drawImageWatermark = operation == Operation::ImageWatermark;
    w.text = "Wm", w.fontSize = 8, w.textColor = {1, 1, 1, 1}, w.textOpacity = 0.7, w.textOrigin = {0, 0}, w.textEndPoint = {40, 8};
    w.image = SolidImage(40, 8, {0, 0, 255, 255}, true), w.imageOrigin = {0, 0}, w.imageEndPoint = {40, 8}, w.imageOpacity = 0.5, w.imageScale = 1;
    return wholeFile ? ConvertImageFileFormat(&record) : ConvertImageWithOptions(&record);
}

// Pixels the job leaves where they were, at their full value.
bool KeepsProbe(Operation op) { return op == Operation::Full || op == Operation::TextWatermark || op == Operation::ImageWatermark; }

class SourceDepthTest : public ConversionTest,
                        public ::testing::WithParamInterface<std::tuple<SourceKind, Operation>> {};

TEST_P(SourceDepthTest, EveryOutputKeepsWhatItCanHold) {
    const auto& [source, operation] = GetParam();
    const std::filesystem::path input = dir / (std::string("ramp.") + source.extension);
    const std::vector<double> expected = WriteSource(source, input).getpoint(kProbeX, kProbeY);

    for (const OutputKind& output : kOutputs) {
        SCOPED_TRACE(output.extension + std::string(" code ") + std::to_string(output.code));
        const std::filesystem::path target = dir / ("out-" + std::to_string(output.code) + "." + output.extension);
        ASSERT_EQ(Convert(input, target, output.code, operation), 1);
        if (output.code == kImageTypeOpenEXR) {
            // 32-bit floats, not half floats that would merge neighbouring steps (libvips reads them as half floats).
            EXPECT_EQ(ExrChannelType(target), kExrFloat);
            EXPECT_GT(MostDistinctValues(VImage::new_from_file(target.c_str())), 100u);
        }
        if (output.code == kImageTypePDF) {
            const std::string pdf = ReadAll(target);
            EXPECT_NE(pdf.find("/BitsPerComponent 16"), std::string::npos);
            EXPECT_EQ(pdf.find("/BitsPerComponent 8"), std::string::npos);
            if (operation == Operation::Full && !source.alpha && !source.profile) {
                // Rendered back at 72 dpi: the page is the source's size at its resolution.
                const VImage page = Stored(target);
                const double scale = double(page.width()) / kWidth;
                EXPECT_NEAR(page.getpoint(int((kProbeX + 0.5) * scale), page.height() / 2)[0], std::round(expected[0] / 257.0), 1);
            }
        }
        if (output.bits == 0) continue;

        const VImage stored = Stored(target);
        ASSERT_EQ(Bits(stored), output.bits);
        if (output.code == kImageTypeICNS || output.code == kImageTypeICO) continue;  // fitted into icon sizes
        const bool deep = output.bits == 16;
        // The fine steps of the ramp are all there.
        if (deep) { EXPECT_GT(MostDistinctValues(stored), operation == Operation::Full && output.lossless ? 255u : 100u); }
        // ImageMagick reads a Photoshop file's merged picture with alpha in other colours than it wrote, at any depth.
        const bool plain = (!source.profile || output.keepsProfile) && !(source.alpha && output.code == kImageTypePhotoshop);
        if (!KeepsProbe(operation) || !plain) continue;
        if (source.profile) { EXPECT_NE(vips_image_get_typeof(stored.get_image(), VIPS_META_ICC_NAME), 0u); }
        const std::vector<double> pixel = stored.getpoint(kProbeX, kProbeY);
        if (deep && output.lossless) {
            // Photoshop and SGI files of grey sources may hold grey as RGB.
            ASSERT_GE(pixel.size(), expected.size());
            for (int i = 0; i < source.colour; ++i) EXPECT_EQ(pixel[i], expected[i]) << "band " << i;
            if (source.alpha) { EXPECT_EQ(pixel.back(), kAlpha); }
        } else if (!deep && !source.alpha && output.code != kImageTypeGIF && output.code != kImageTypeCMYKTIFF) {
            // The nearest 8-bit step: round(v / 257).
            for (int i = 0; i < (pixel.size() >= 3 ? source.colour : 1); ++i)
                EXPECT_NEAR(pixel[i], std::round(expected[i] / 257.0), output.lossless ? 0 : 3) << "band " << i;
        }
    }
}

// Every source kind in full; each other operation on grey and RGB, with and without alpha (PNG and TIFF sources in
// turn), and on the profiled source.
std::vector<std::tuple<SourceKind, Operation>> Pairs() {
    std::vector<std::tuple<SourceKind, Operation>> pairs;
    for (int i = 0; i < int(std::size(kSources)); ++i)
        for (int op = 0; op < int(std::size(kOperationNames)); ++op)
            if (op == 0 || kSources[i].profile || (i / 4 + op) % 2 == 0) pairs.emplace_back(kSources[i], Operation(op));
    return pairs;
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceDepthTest, ::testing::ValuesIn(Pairs()), [](const auto& info) {
    return std::string(std::get<0>(info.param).name) + "_" + kOperationNames[int(std::get<1>(info.param))];
});

using DepthTest = ConversionTest;

// Formats of 8 bits, the preview image included, get round(v / 257), for the colour and for alpha.
TEST_F(DepthTest, EightBitOutputsAndThePreviewAreTheNearestStep) {
    WriteSource({"RGBA", 3, true, "png", false}, dir / "rgba.png");
    ASSERT_EQ(Convert(dir / "rgba.png", dir / "out.tga", kImageTypeTGA), 1);
    const std::vector<double> pixel = Stored(dir / "out.tga").getpoint(kProbeX, kProbeY);
    ASSERT_EQ(pixel.size(), 4u);
    EXPECT_EQ(pixel[0], std::round(kRed / 257.0));
    EXPECT_EQ(pixel[3], std::round(kAlpha / 257.0));

    WriteSource({"RGB", 3, false, "png", false}, dir / "rgb.png");
    ImageConversion record = SameSizeRecord(dir / "rgb.png", {}, kImageTypePNG);
    record.returnImage = 1;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    ASSERT_TRUE(record.resultImage);
    EXPECT_EQ(record.resultImage->bitsPerComponent(), 8);
    EXPECT_EQ(record.resultImage->vimage().getpoint(kProbeX, kProbeY)[0], std::round(kRed / 257.0));
}

TEST_F(DepthTest, WholeFileConversionKeepsEveryPageDeep) {
    // Two 16-bit pages, each into a PNG of its own; one page into JPEG: the nearest 8-bit step.
    const VImage page = WriteSource({"RGB", 3, false, "tif", false}, dir / "page.tif");
    VImage pages = VImage::arrayjoin({page, page}, VImage::option()->set("across", 1));
    pages.set("page-height", kHeight);
    pages.tiffsave((dir / "pages.tif").c_str());
    ASSERT_EQ(Convert(dir / "pages.tif", dir / "pages.png", kImageTypePNG, Operation::Full, true), 1);
    ASSERT_EQ(Convert(dir / "page.tif", dir / "page.jpg", kImageTypeJPEG, Operation::Full, true), 1);
    for (const auto& [name, bits, red, tolerance] : {std::tuple{"pages/pages.png", 16, kRed, 0.0},
                                                     {"pages/pages 1.png", 16, kRed, 0.0},
                                                     {"page.jpg", 8, std::round(kRed / 257.0), 3.0}}) {
        SCOPED_TRACE(name);
        const VImage stored = Stored(dir / name);
        ASSERT_EQ(Bits(stored), bits);
        EXPECT_NEAR(stored.getpoint(kProbeX, kProbeY)[0], red, tolerance);
    }
}

class FloatSourceTest : public ConversionTest, public ::testing::WithParamInterface<int> {};

TEST_P(FloatSourceTest, StaysFloatInTiffAndIsScaledElsewhere) {
    // A float ramp 0.1 .. 0.9 in grey or RGB.
    const int colour = GetParam();
    const VImage x = VImage::xyz(kWidth, kHeight).extract_band(0).cast(VIPS_FORMAT_FLOAT);
    std::vector<VImage> bands{x / 320.0 + 0.1};
    if (colour == 3) bands.insert(bands.end(), {0.9 - x / 320.0, x * 0 + 0.5});
    VImage::bandjoin(bands).cast(VIPS_FORMAT_FLOAT)
        .copy(VImage::option()->set("interpretation", colour == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB))
        .tiffsave((dir / "float.tif").c_str());
    const double v = float(float(kProbeX) / 320.0f + 0.1f);

    for (int op = 0; op < int(std::size(kOperationNames)); ++op) {
        SCOPED_TRACE(kOperationNames[op]);
        ASSERT_EQ(Convert(dir / "float.tif", dir / "out.tif", kImageTypeTIFF, Operation(op)), 1);
        const VImage tiff = Stored(dir / "out.tif");
        ASSERT_EQ(Bits(tiff), 32);
        if (KeepsProbe(Operation(op))) { EXPECT_NEAR(tiff.getpoint(kProbeX, kProbeY)[0], v, 1e-6); }
    }

    // OpenEXR takes the floats as they are (libvips reads them back as half floats).
    ASSERT_EQ(Convert(dir / "float.tif", dir / "out.exr", kImageTypeOpenEXR), 1);
    EXPECT_EQ(ExrChannelType(dir / "out.exr"), kExrFloat);
    EXPECT_NEAR(VImage::new_from_file((dir / "out.exr").c_str()).getpoint(kProbeX, kProbeY)[0], v, 1e-3);

    // PNG holds 16 bits; JPEG and BMP 8: scaled from 0..1, never black.
    const std::tuple<std::int32_t, const char*, double, double> scaled[] = {
        {kImageTypePNG, "out.png", 65535.0, 0}, {kImageTypeJPEG, "out.jpg", 255.0, 3}, {kImageTypeBMP, "out.bmp", 255.0, 0}};
    for (const auto& [code, name, full, tolerance] : scaled) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Convert(dir / "float.tif", dir / name, code), 1);
        EXPECT_NEAR(Stored(dir / name).getpoint(kProbeX, kProbeY)[0], std::round(v * full), tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Colour, FloatSourceTest, ::testing::Values(1, 3),
                         [](const auto& info) { return std::string(info.param == 1 ? "Grey" : "RGB"); });

// Signed 16-bit grey or RGB samples (a ramp from -8000 up to 30250) keep their values in the formats of 16 bits, the
// negative ones at 0 as libvips's cast takes them, and come to the nearest 8-bit step elsewhere, on both roads; they
// once came out 8-bit and of one colour.
class SignedSourceTest : public ConversionTest, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(SignedSourceTest, KeepsItsValues) {
    const auto [colour, wholeFile] = GetParam();
    const VImage x = VImage::xyz(kWidth, kHeight).extract_band(0);
    std::vector<VImage> bands{x * 150 - 8000};
    if (colour == 3) bands.insert(bands.end(), {30000 - x * 100, x * 0 + 12000});
    VImage::bandjoin(bands).cast(VIPS_FORMAT_SHORT)
        .copy(VImage::option()->set("interpretation", colour == 1 ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16))
        .tiffsave((dir / "signed.tif").c_str());
    ASSERT_EQ(VImage::new_from_file((dir / "signed.tif").c_str()).format(), VIPS_FORMAT_SHORT);
    const double red = kProbeX * 150.0 - 8000.0;
    for (const auto& [code, name, bits] : {std::tuple{kImageTypeTIFF, "out.tif", 16}, {kImageTypePNG, "out.png", 16},
                                           {kImageTypeJPEG, "out.jpg", 8}}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Convert(dir / "signed.tif", dir / name, code, Operation::Full, wholeFile), 1);
        const VImage stored = Stored(dir / name);
        ASSERT_EQ(Bits(stored), bits);
        EXPECT_GT(MostDistinctValues(stored), bits == 16 ? 150u : 60u);
        const std::vector<double> pixel = stored.getpoint(kProbeX, kProbeY);
        EXPECT_NEAR(pixel[0], bits == 16 ? red : std::round(red / 257.0), bits == 16 ? 0 : 3);
        EXPECT_EQ(stored.getpoint(10, kProbeY)[0], 0.0) << "a negative sample";
        if (colour == 3) { EXPECT_NEAR(pixel[2], bits == 16 ? 12000.0 : std::round(12000.0 / 257.0), bits == 16 ? 0 : 3); }
    }
}

INSTANTIATE_TEST_SUITE_P(GreyAndRGB, SignedSourceTest, ::testing::Combine(::testing::Values(1, 3), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == 1 ? "Grey" : "RGB") +
                                    (std::get<1>(info.param) ? "_WholeFile" : "_OneImage");
                         });

}  // namespace
