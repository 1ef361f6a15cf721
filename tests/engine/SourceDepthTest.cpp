// Sources of 16 bits and float keep their depth in every output format that
// holds it, whatever the job does to them, and come out at the nearest 8-bit
// step in the formats that hold 8 bits.

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

constexpr int kWidth = 256;
constexpr int kHeight = 8;
// Where the checks read a pixel: right of the watermarks, which sit at the left.
constexpr int kProbeX = 200;
constexpr int kProbeY = 4;

// A smooth ramp: red rises in steps of 7, far finer than one 8-bit step
// (257), green falls in steps of 11, blue and alpha are constant.
double Red(int x) { return 20000.0 + 7.0 * x; }
double Green(int x) { return 60000.0 - 11.0 * x; }
constexpr double kBlue = 30000.0;
constexpr double kAlpha = 40000.0;

struct SourceKind {
    const char* name;
    int colour;  // 1 grey, 3 RGB
    bool alpha;
    const char* extension;
    bool profile;
};

const SourceKind kSources[] = {
    {"RGBPng", 3, false, "png", false},   {"RGBAPng", 3, true, "png", false},
    {"GreyPng", 1, false, "png", false},  {"GreyAlphaPng", 1, true, "png", false},
    {"RGBTiff", 3, false, "tif", false},  {"RGBATiff", 3, true, "tif", false},
    {"GreyTiff", 1, false, "tif", false}, {"GreyAlphaTiff", 1, true, "tif", false},
    {"RGBProfilePng", 3, false, "png", true},
};

std::vector<double> SourceValues(const SourceKind& kind, int x) {
    std::vector<double> values{Red(x)};
    if (kind.colour == 3) {
        values.push_back(Green(x));
        values.push_back(kBlue);
    }
    if (kind.alpha) values.push_back(kAlpha);
    return values;
}

VImage Ramp16(const SourceKind& kind) {
    const VImage x = VImage::xyz(kWidth, kHeight).extract_band(0);
    std::vector<VImage> bands{x * 7 + 20000};
    if (kind.colour == 3) {
        bands.push_back(60000 - x * 11);
        bands.push_back(x * 0 + kBlue);
    }
    if (kind.alpha) bands.push_back(x * 0 + kAlpha);
    VImage ramp = VImage::bandjoin(bands).cast(VIPS_FORMAT_USHORT);
    ramp = ramp.copy(VImage::option()->set(
        "interpretation", kind.colour == 1 ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16));
    if (kind.profile) {
        VipsBlob* blob = VImage::profile_load("p3");
        std::size_t length = 0;
        const void* data = vips_blob_get(blob, &length);
        vips_image_set_blob_copy(ramp.get_image(), VIPS_META_ICC_NAME, data, length);
        vips_area_unref(VIPS_AREA(blob));
    }
    return ramp;
}

void WriteSource(const SourceKind& kind, const std::filesystem::path& path) {
    const VImage ramp = Ramp16(kind);
    if (std::string(kind.extension) == "png") {
        ramp.pngsave(path.c_str());
    } else {
        ramp.tiffsave(path.c_str());
    }
}

// The output as its file stores it, before any conversion to 8 bits.
VImage Stored(const std::filesystem::path& path) {
    auto source = plat::ImageSource::Open(path);
    if (!source) return VImage();
    return source->load(0, plat::DecodeOptions{}).copy_memory();
}

int Bits(const VImage& image) {
    switch (image.format()) {
    case VIPS_FORMAT_UCHAR: return 8;
    case VIPS_FORMAT_USHORT: return 16;
    case VIPS_FORMAT_FLOAT: return 32;
    default: return 0;
    }
}

std::size_t DistinctValues(const VImage& band) {
    std::size_t size = 0;
    void* memory = band.cast(VIPS_FORMAT_FLOAT).write_to_memory(&size);
    const auto* values = static_cast<const float*>(memory);
    std::set<float> distinct(values, values + size / sizeof(float));
    g_free(memory);
    return distinct.size();
}

// The pixel type of an OpenEXR file's first channel, from its header's
// channel list: 0 uint, 1 half, 2 float; -1 when not found.
constexpr int kExrFloat = 2;
int ExrChannelType(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    static const std::string kList("channels\0chlist\0", 16);
    const std::size_t at = bytes.find(kList);
    if (at == std::string::npos) return -1;
    // The attribute's size (4 bytes), then the first channel's name and type.
    const std::size_t name = at + kList.size() + 4;
    const std::size_t end = bytes.find('\0', name);
    if (end == std::string::npos || end + 5 > bytes.size()) return -1;
    return static_cast<unsigned char>(bytes[end + 1]);
}

// Of the colour bands: a ramp converted into a smaller gamut may clip in one.
std::size_t MostDistinctValues(const VImage& image) {
    std::size_t most = 0;
    for (int band = 0; band < std::min(image.bands(), 3); ++band) {
        most = std::max(most, DistinctValues(image.extract_band(band)));
    }
    return most;
}

struct OutputKind {
    std::int32_t code;
    const char* extension;
    int bits;           // as stored; 0: not read back
    bool lossless;      // at quality 0.9
    bool keepsProfile;  // the source's pixels kept with their profile
};

const OutputKind kOutputs[] = {
    {kImageTypePhotoshop, "psd", 16, true, true},
    {kImageTypeGIF, "gif", 8, false, false},
    {kImageTypeJPEG2000, "jp2", 16, false, false},
    {kImageTypeJPEG, "jpg", 8, false, true},
    {kImageTypeOpenEXR, "exr", 0, false, false},
    {kImageTypeICNS, "icns", 8, false, false},
    {kImageTypePNG, "png", 16, true, true},
    {kImageTypePDF, "pdf", 0, false, false},
    {kImageTypeTGA, "tga", 8, true, false},
    {kImageTypeTIFF, "tif", 16, true, true},
    {kImageTypeBMP, "bmp", 8, true, true},
    {kImageTypeSGI, "sgi", 16, true, false},
    {kImageTypeCMYKTIFF, "tif", 8, false, false},
    {kImageTypePICT, "pict", 8, true, false},
    {kImageTypeICO, "ico", 8, false, false},
    {kImageTypeMultiPageTIFF, "tif", 16, true, true},
};

enum class Operation { Full, Resize, TurnAndFlip, TextWatermark, ImageWatermark, Sharpen };

struct OperationKind {
    const char* name;
    Operation operation;
};

const OperationKind kOperations[] = {
    {"Full", Operation::Full},
    {"Resize", Operation::Resize},
    {"TurnAndFlip", Operation::TurnAndFlip},
    {"TextWatermark", Operation::TextWatermark},
    {"ImageWatermark", Operation::ImageWatermark},
    {"Sharpen", Operation::Sharpen},
};

void Apply(Operation operation, ImageConversion& record) {
    WatermarkOptions& w = record.watermark;
    w.editorViewSize = {550, 17.1875};
    switch (operation) {
    case Operation::Full: break;
    case Operation::Resize: record.resize.width = record.resize.height = 50; break;
    case Operation::Sharpen:
        record.resize.width = record.resize.height = 50;
        record.resize.sharpen = 1;
        break;
    case Operation::TurnAndFlip:
        record.rotationAngle = 90;
        record.flipMask = 1;
        break;
    case Operation::TextWatermark:
        record.drawTextWatermark = 1;
        w.text = "Wm";
        w.fontSize = 8;
        w.textColor = {1, 1, 1, 1};
        w.textOpacity = 0.7;
        w.textOrigin = {0, 0};
        w.textEndPoint = {40, 8};
        break;
    case Operation::ImageWatermark:
        record.drawImageWatermark = 1;
        w.image = SolidImage(40, 8, {0, 0, 255, 255}, true);
        w.imageOrigin = {0, 0};
        w.imageEndPoint = {40, 8};
        w.imageOpacity = 0.5;
        w.imageScale = 1;
        break;
    }
}

// Pixels the job leaves where they were, at their full value.
bool KeepsProbe(Operation operation) {
    return operation == Operation::Full || operation == Operation::TextWatermark ||
           operation == Operation::ImageWatermark;
}

class SourceDepthTest : public ConversionTest,
                        public ::testing::WithParamInterface<std::tuple<SourceKind, OperationKind>> {};

TEST_P(SourceDepthTest, EveryOutputKeepsWhatItCanHold) {
    const auto& [source, operationKind] = GetParam();
    const Operation operation = operationKind.operation;
    const std::filesystem::path input = dir / (std::string("ramp.") + source.extension);
    WriteSource(source, input);
    const std::vector<double> expected = SourceValues(source, kProbeX);

    for (const OutputKind& output : kOutputs) {
        SCOPED_TRACE(output.extension + std::string(" code ") + std::to_string(output.code));
        const std::filesystem::path target =
            dir / ("out-" + std::to_string(output.code) + "." + output.extension);
        ImageConversion record = SameSizeRecord(input, target, output.code);
        Apply(operation, record);
        ASSERT_EQ(ConvertImageWithOptions(&record), 1);
        ASSERT_TRUE(std::filesystem::exists(target));
        if (output.code == kImageTypeOpenEXR) {
            // 32-bit floats, not half floats that would merge neighbouring
            // steps (libvips reads them as half floats: some merge there).
            EXPECT_EQ(ExrChannelType(target), kExrFloat);
            const VImage exr = VImage::new_from_file(target.c_str());
            EXPECT_GT(MostDistinctValues(exr), 100u);
        }
        if (output.code == kImageTypePDF) {
            std::ifstream file(target, std::ios::binary);
            const std::string pdf((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            EXPECT_NE(pdf.find("/BitsPerComponent 16"), std::string::npos);
            EXPECT_EQ(pdf.find("/BitsPerComponent 8"), std::string::npos);
            if (operation == Operation::Full && !source.alpha && !source.profile) {
                // Rendered back at 72 dpi: the page is the source's size at its resolution.
                const VImage page = Stored(target);
                const double scale = double(page.width()) / kWidth;
                EXPECT_NEAR(page.getpoint(int((kProbeX + 0.5) * scale), page.height() / 2)[0],
                            std::round(expected[0] / 257.0), 1);
            }
        }
        if (output.bits == 0) continue;

        const VImage stored = Stored(target);
        ASSERT_EQ(Bits(stored), output.bits);
        if (output.code == kImageTypeICNS || output.code == kImageTypeICO) continue;  // fitted into icon sizes
        const bool deep = output.bits == 16;
        if (deep) {
            // The fine steps of the ramp are all there.
            EXPECT_GT(MostDistinctValues(stored),
                      operation == Operation::Full && output.lossless ? 255u : 100u);
        }
        // ImageMagick reads a Photoshop file's merged picture with alpha in
        // other colours than it wrote, at any depth.
        const bool plain = (!source.profile || output.keepsProfile) &&
                           !(source.alpha && output.code == kImageTypePhotoshop);
        if (!KeepsProbe(operation) || !plain) continue;
        if (source.profile) {
            EXPECT_NE(vips_image_get_typeof(stored.get_image(), VIPS_META_ICC_NAME), 0u);
        }
        if (deep && output.lossless) {
            const std::vector<double> pixel = stored.getpoint(kProbeX, kProbeY);
            // Photoshop and SGI files of grey sources may hold grey as RGB.
            ASSERT_GE(pixel.size(), expected.size());
            EXPECT_EQ(pixel[0], expected[0]);
            if (source.colour == 3) {
                EXPECT_EQ(pixel[1], expected[1]);
                EXPECT_EQ(pixel[2], expected[2]);
            }
            if (source.alpha) {
                EXPECT_EQ(pixel.back(), kAlpha);
            }
        } else if (!deep && !source.alpha && output.code != kImageTypeGIF && output.code != kImageTypeCMYKTIFF) {
            // The nearest 8-bit step: round(v / 257).
            const int tolerance = output.lossless ? 0 : 3;
            const std::vector<double> pixel = stored.getpoint(kProbeX, kProbeY);
            EXPECT_NEAR(pixel[0], std::round(expected[0] / 257.0), tolerance);
            if (source.colour == 3 && pixel.size() >= 3) {
                EXPECT_NEAR(pixel[1], std::round(expected[1] / 257.0), tolerance);
                EXPECT_NEAR(pixel[2], std::round(expected[2] / 257.0), tolerance);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceDepthTest,
                         ::testing::Combine(::testing::ValuesIn(kSources), ::testing::ValuesIn(kOperations)),
                         [](const ::testing::TestParamInfo<std::tuple<SourceKind, OperationKind>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

class DepthTest : public ConversionTest {};

TEST_F(DepthTest, AlphaOfAFlattenedFormatIsTheNearestStep) {
    // 8-bit formats with alpha get round(alpha / 257), as the colour.
    const SourceKind rgba{"RGBA", 3, true, "png", false};
    WriteSource(rgba, dir / "rgba.png");
    ImageConversion record = SameSizeRecord(dir / "rgba.png", dir / "out.tga", kImageTypeTGA);
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const std::vector<double> pixel = Stored(dir / "out.tga").getpoint(kProbeX, kProbeY);
    ASSERT_EQ(pixel.size(), 4u);
    EXPECT_EQ(pixel[0], std::round(Red(kProbeX) / 257.0));
    EXPECT_EQ(pixel[3], std::round(kAlpha / 257.0));
}

TEST_F(DepthTest, PreviewImageIsEightBit) {
    const SourceKind rgb{"RGB", 3, false, "png", false};
    WriteSource(rgb, dir / "rgb.png");
    ImageConversion record = SameSizeRecord(dir / "rgb.png", {}, kImageTypePNG);
    record.returnImage = 1;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    ASSERT_TRUE(record.resultImage);
    EXPECT_EQ(record.resultImage->bitsPerComponent(), 8);
    EXPECT_EQ(record.resultImage->vimage().getpoint(kProbeX, kProbeY)[0], std::round(Red(kProbeX) / 257.0));
}

TEST_F(DepthTest, WholeFileConversionKeepsEveryPageDeep) {
    // Two 16-bit pages, each into a PNG of its own.
    const SourceKind rgb{"RGB", 3, false, "tif", false};
    VImage page = Ramp16(rgb);
    VImage pages = VImage::arrayjoin({page, page}, VImage::option()->set("across", 1));
    pages.set("page-height", kHeight);
    pages.tiffsave((dir / "pages.tif").c_str());
    ImageConversion record = SameSizeRecord(dir / "pages.tif", dir / "pages.png", kImageTypePNG);
    ASSERT_EQ(ConvertImageFileFormat(&record), 1);
    for (const char* name : {"pages/pages.png", "pages/pages 1.png"}) {
        SCOPED_TRACE(name);
        const VImage stored = Stored(dir / name);
        ASSERT_EQ(Bits(stored), 16);
        EXPECT_EQ(stored.getpoint(kProbeX, kProbeY)[0], Red(kProbeX));
    }

    // One page into JPEG: the nearest 8-bit step.
    record = SameSizeRecord(dir / "pages.tif", dir / "page.jpg", kImageTypeJPEG);
    page.tiffsave((dir / "page.tif").c_str());
    record.sourceURL = dir / "page.tif";
    ASSERT_EQ(ConvertImageFileFormat(&record), 1);
    const VImage jpeg = Stored(dir / "page.jpg");
    ASSERT_EQ(Bits(jpeg), 8);
    EXPECT_NEAR(jpeg.getpoint(kProbeX, kProbeY)[0], std::round(Red(kProbeX) / 257.0), 3);
}

// A float ramp 0.1 .. 0.9 in grey or RGB.
VImage FloatRamp(int colour) {
    const VImage x = VImage::xyz(kWidth, kHeight).extract_band(0).cast(VIPS_FORMAT_FLOAT);
    std::vector<VImage> bands{x / 320.0 + 0.1};
    if (colour == 3) {
        bands.push_back(0.9 - x / 320.0);
        bands.push_back(x * 0 + 0.5);
    }
    return VImage::bandjoin(bands).cast(VIPS_FORMAT_FLOAT).copy(VImage::option()->set(
        "interpretation", colour == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB));
}

double FloatRed(int x) { return float(float(x) / 320.0f + 0.1f); }

class FloatSourceTest : public ConversionTest, public ::testing::WithParamInterface<int> {};

TEST_P(FloatSourceTest, StaysFloatInTiffAndIsScaledElsewhere) {
    const int colour = GetParam();
    FloatRamp(colour).tiffsave((dir / "float.tif").c_str());
    for (const OperationKind& operation : kOperations) {
        SCOPED_TRACE(operation.name);
        ImageConversion record = SameSizeRecord(dir / "float.tif", dir / "out.tif", kImageTypeTIFF);
        Apply(operation.operation, record);
        ASSERT_EQ(ConvertImageWithOptions(&record), 1);
        const VImage tiff = Stored(dir / "out.tif");
        ASSERT_EQ(Bits(tiff), 32);
        if (KeepsProbe(operation.operation)) {
            EXPECT_NEAR(tiff.getpoint(kProbeX, kProbeY)[0], FloatRed(kProbeX), 1e-6);
        }
    }

    // OpenEXR takes the floats as they are (libvips reads them back as half floats).
    ImageConversion exr = SameSizeRecord(dir / "float.tif", dir / "out.exr", kImageTypeOpenEXR);
    ASSERT_EQ(ConvertImageWithOptions(&exr), 1);
    EXPECT_EQ(ExrChannelType(dir / "out.exr"), kExrFloat);
    const double v = FloatRed(kProbeX);
    EXPECT_NEAR(VImage::new_from_file((dir / "out.exr").c_str()).getpoint(kProbeX, kProbeY)[0], v, 1e-3);

    // PNG holds 16 bits; JPEG and BMP 8: scaled from 0..1, never black.
    struct Scaled {
        std::int32_t code;
        const char* name;
        double full;
        double tolerance;
    };
    for (const Scaled& s : {Scaled{kImageTypePNG, "out.png", 65535.0, 0}, Scaled{kImageTypeJPEG, "out.jpg", 255.0, 3},
                            Scaled{kImageTypeBMP, "out.bmp", 255.0, 0}}) {
        SCOPED_TRACE(s.name);
        ImageConversion record = SameSizeRecord(dir / "float.tif", dir / s.name, s.code);
        ASSERT_EQ(ConvertImageWithOptions(&record), 1);
        EXPECT_NEAR(Stored(dir / s.name).getpoint(kProbeX, kProbeY)[0], std::round(v * s.full), s.tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Colour, FloatSourceTest, ::testing::Values(1, 3),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == 1 ? "Grey" : "RGB");
                         });

}  // namespace
