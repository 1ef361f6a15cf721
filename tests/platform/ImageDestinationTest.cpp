#include "ImageTestSupport.h"

#include "platform/ImageDestination.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"

#include <sys/resource.h>

#include <cmath>
#include <functional>

using namespace imagetest;

namespace {

struct RoundTrip {
    const char* type;
    bool keepsAlpha;
    bool keepsDPI;
    int tolerance;  // per colour component
};

std::shared_ptr<const plat::ImageSource> WriteAndOpen(const TempFolder& folder, const std::string& name,
                                                      const std::string& type, const plat::ImageRef& image,
                                                      const plat::PropertyDict& properties) {
    auto destination = plat::ImageDestination::CreateWithPath(folder / name, type);
    EXPECT_TRUE(destination) << type;
    if (!destination) return nullptr;
    destination->addImage(image, properties);
    EXPECT_TRUE(destination->finalize()) << type;
    return plat::ImageSource::Open(folder / name);
}

}  // namespace

class ImageDestinationRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ImageDestinationRoundTrip, KeepsSizeColoursResolutionAndAlpha) {
    const RoundTrip& c = GetParam();
    TempFolder folder;
    auto image = MakeTestImage(32, 16, true);
    ASSERT_TRUE(image);
    plat::PropertyDict properties;
    properties.set(plat::prop::DPIWidth, 300.0);
    properties.set(plat::prop::DPIHeight, 300.0);
    properties.set(plat::prop::LossyCompressionQuality, 0.95);
    // Formats without a signature are known by their extension.
    const std::string name = std::string(c.type) == "com.truevision.tga-image" ? "out.tga" : "out";
    auto source = WriteAndOpen(folder, name, c.type, image, properties);
    ASSERT_TRUE(source) << c.type;
    EXPECT_EQ(source->typeIdentifier(), c.type);
    plat::PropertyDict read = source->properties(0);
    EXPECT_EQ(read.integer(plat::prop::PixelWidth), 32) << c.type;
    EXPECT_EQ(read.integer(plat::prop::PixelHeight), 16) << c.type;
    if (c.keepsDPI) {
        EXPECT_NEAR(read.number(plat::prop::DPIWidth).value_or(0), 300.0, 0.5) << c.type;
        EXPECT_NEAR(read.number(plat::prop::DPIHeight).value_or(0), 300.0, 0.5) << c.type;
    }
    if (std::string(c.type) == "public.jpeg") {
        // Stated in the JFIF header too, in dots per inch.
        const plat::PropertyDict* jfif = read.dict(plat::prop::JFIFDictionary);
        ASSERT_TRUE(jfif);
        EXPECT_EQ(jfif->integer("DensityUnit"), 1);
        EXPECT_EQ(jfif->integer("XDensity"), 300);
    }
    auto back = source->createImage(0);
    ASSERT_TRUE(back) << c.type;
    auto red = PixelAt(*back, 2, 2), blue = PixelAt(*back, 29, 2);
    EXPECT_NEAR(red[0], 255, c.tolerance) << c.type;
    EXPECT_NEAR(red[2], 0, c.tolerance) << c.type;
    EXPECT_NEAR(blue[0], 0, c.tolerance) << c.type;
    EXPECT_NEAR(blue[2], 255, c.tolerance) << c.type;
    if (c.keepsAlpha) {
        EXPECT_TRUE(back->hasAlpha()) << c.type;
        EXPECT_LE(PixelAt(*back, 2, 15)[3], 10) << c.type;
        EXPECT_EQ(PixelAt(*back, 2, 2)[3], 255) << c.type;
    } else {
        EXPECT_EQ(PixelAt(*back, 2, 15)[3], 255) << c.type;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ImageDestinationRoundTrip,
    ::testing::Values(RoundTrip{"public.jpeg", false, true, 40}, RoundTrip{"public.png", true, true, 0},
                      RoundTrip{"public.tiff", true, true, 0}, RoundTrip{"com.compuserve.gif", true, false, 8},
                      RoundTrip{"public.jpeg-2000", true, false, 40},
                      RoundTrip{"com.ilm.openexr-image", true, false, 2},
                      RoundTrip{"com.adobe.photoshop-image", true, true, 0},
                      RoundTrip{"com.truevision.tga-image", true, false, 0},
                      RoundTrip{"com.microsoft.bmp", true, true, 0},
                      RoundTrip{"com.sgi.sgi-image", true, false, 0},
                      RoundTrip{"com.apple.pict", false, false, 0},
                      RoundTrip{"com.microsoft.ico", true, false, 0},
                      RoundTrip{"org.webmproject.webp", true, false, 30}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) {
        std::string name = info.param.type;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return name;
    });

TEST(ImageDestination, UnwritableTypesFailWithoutFile) {
    TempFolder folder;
    for (const char* type : {"com.adobe.illustrator.ai-image", "com.apple.macpaint-image", "public.fax",
                             "public.camera-raw-image", "", "public.csv"}) {
        EXPECT_FALSE(plat::ImageDestination::CanWrite(type)) << type;
        EXPECT_FALSE(plat::ImageDestination::CreateWithPath(folder / "x", type)) << type;
    }
    EXPECT_EQ(folder.entryCount(), 0u);
}

TEST(ImageDestination, NoImageMeansNoFile) {
    TempFolder folder;
    auto destination = plat::ImageDestination::CreateWithPath(folder / "empty.png", "public.png");
    ASSERT_TRUE(destination);
    destination->addImage(nullptr);
    EXPECT_FALSE(destination->finalize());
    EXPECT_EQ(folder.entryCount(), 0u);
}

TEST(ImageDestination, IcnsHoldsSquareIconsWithAlpha) {
    TempFolder folder;
    auto destination = plat::ImageDestination::CreateWithPath(folder / "icon.icns", "com.apple.icns");
    ASSERT_TRUE(destination);
    destination->addImage(MakeTestImage(70, 64, true));
    ASSERT_TRUE(destination->finalize());
    auto source = plat::ImageSource::Open(folder / "icon.icns");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->typeIdentifier(), "com.apple.icns");
    EXPECT_EQ(source->count(), 3u);  // 64, 32 and 16
    auto largest = source->createImage(0);
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->width(), 64);
    EXPECT_EQ(largest->height(), 64);
    EXPECT_TRUE(largest->hasAlpha());
    EXPECT_NEAR(PixelAt(*largest, 5, 30)[0], 255, 4);
    EXPECT_NEAR(PixelAt(*largest, 60, 30)[2], 255, 4);
    EXPECT_EQ(source->createImage(2)->width(), 16);
}

TEST(ImageDestination, PdfPageSizeFollowsResolution) {
    TempFolder folder;
    auto destination = plat::ImageDestination::CreateWithPath(folder / "pages.pdf", "com.adobe.pdf", 2);
    ASSERT_TRUE(destination);
    plat::PropertyDict at144;
    at144.set(plat::prop::DPIWidth, 144.0);
    at144.set(plat::prop::DPIHeight, 144.0);
    destination->addImage(MakeTestImage(288, 144, true), at144);
    destination->addImage(MakeTestImage(10, 20));
    ASSERT_TRUE(destination->finalize());
    const auto bytes = ReadFile(folder / "pages.pdf");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("%PDF-", 0), 0u);
    EXPECT_NE(text.find("/SMask"), std::string::npos);
    // The first page shows 288 × 144 pixels at 144 dpi: 144 × 72 points.
    auto source = plat::ImageSource::Open(folder / "pages.pdf");
    ASSERT_TRUE(source);
    auto props = source->properties(0);
    EXPECT_EQ(props.integer(plat::prop::PixelWidth), 144);
    EXPECT_EQ(props.integer(plat::prop::PixelHeight), 72);
    auto page = source->createImage(0);
    ASSERT_TRUE(page);
    EXPECT_NEAR(PixelAt(*page, 10, 10)[0], 255, 10);
    EXPECT_NEAR(PixelAt(*page, 130, 10)[2], 255, 10);
}

TEST(ImageDestination, CmykTiffStaysCmyk) {
    TempFolder folder;
    auto rgb = MakeTestImage(16, 8);
    auto cmyk = plat::Image::Create(rgb->vimage().colourspace(VIPS_INTERPRETATION_CMYK));
    ASSERT_EQ(cmyk->colorModel(), plat::ColorModel::CMYK);
    auto destination = plat::ImageDestination::CreateWithPath(folder / "cmyk.tif", "public.tiff");
    destination->addImage(cmyk);
    ASSERT_TRUE(destination->finalize());
    auto source = plat::ImageSource::Open(folder / "cmyk.tif");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->properties(0).string(plat::prop::ColorModel), "CMYK");
    auto back = source->createImage(0);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->colorModel(), plat::ColorModel::CMYK);
    EXPECT_NEAR(PixelAt(*back, 1, 1)[0], 240, 40);  // red again once converted
}

TEST(ImageDestination, SeveralPagesOnlyWhereTheFormatHoldsThem) {
    TempFolder folder;
    auto tiff = plat::ImageDestination::CreateWithPath(folder / "pages.tif", "public.tiff", 3);
    plat::PropertyDict at200;
    at200.set(plat::prop::DPIWidth, 200.0);
    at200.set(plat::prop::DPIHeight, 200.0);
    tiff->addImage(MakeTestImage(8, 6), at200);
    tiff->addImage(MakeTestImage(20, 30, true));
    tiff->addImage(plat::Image::Create(MakeTestImage(5, 4)->vimage().colourspace(VIPS_INTERPRETATION_CMYK)));
    ASSERT_TRUE(tiff->finalize());
    auto source = plat::ImageSource::Open(folder / "pages.tif");
    ASSERT_TRUE(source);
    ASSERT_EQ(source->count(), 3u);
    EXPECT_NEAR(source->properties(0).number(plat::prop::DPIWidth).value_or(0), 200.0, 0.01);
    auto second = source->createImage(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->width(), 20);
    EXPECT_EQ(second->height(), 30);
    EXPECT_TRUE(second->hasAlpha());
    EXPECT_NEAR(PixelAt(*second, 15, 3)[2], 255, 1);
    auto third = source->createImage(2);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->colorModel(), plat::ColorModel::CMYK);
    EXPECT_EQ(third->height(), 4);

    auto png = plat::ImageDestination::CreateWithPath(folder / "two.png", "public.png", 2);
    png->addImage(MakeTestImage(8, 6));
    png->addImage(MakeTestImage(8, 6));
    EXPECT_FALSE(png->finalize());
    // More images than announced: nothing is written.
    auto one = plat::ImageDestination::CreateWithPath(folder / "one.jpg", "public.jpeg", 1);
    one->addImage(MakeTestImage(8, 6));
    one->addImage(MakeTestImage(8, 6));
    EXPECT_FALSE(one->finalize());
    EXPECT_EQ(folder.entryCount(), 1u);
}

TEST(ImageDestination, ReplacesAnExistingFileAndKeepsItOnFailure) {
    TempFolder folder;
    const auto path = folder / "photo.png";
    WriteFile(path, {'o', 'l', 'd'});
    auto failing = plat::ImageDestination::CreateWithPath(path, "public.png");
    failing->addImage(nullptr);
    EXPECT_FALSE(failing->finalize());
    EXPECT_EQ(ReadFile(path).size(), 3u);
    auto ok = plat::ImageDestination::CreateWithPath(path, "public.png");
    ok->addImage(MakeTestImage(4, 4));
    EXPECT_TRUE(ok->finalize());
    EXPECT_GT(ReadFile(path).size(), 3u);
    EXPECT_EQ(folder.entryCount(), 1u);
}

TEST(ImageDestination, DataDestinationHoldsTheBytes) {
    auto destination = plat::ImageDestination::CreateWithData("public.jpeg");
    destination->addImage(MakeTestImage(4, 4));
    ASSERT_TRUE(destination->finalize());
    ASSERT_GT(destination->data().size(), 4u);
    EXPECT_EQ(destination->data()[0], 0xFF);
    EXPECT_EQ(destination->data()[1], 0xD8);
}

TEST(Image, RgbPixelsInAnotherProfileComeOutAsSRGB) {
    auto image = MakeTestImage(8, 8);
    // The same red expressed in Display P3, with the profile attached.
    vips::VImage p3 = image->vimage().icc_transform("p3", vips::VImage::option()->set("input_profile", "srgb"));
    auto wide = plat::Image::Create(p3);
    ASSERT_TRUE(wide);
    const auto stored = wide->vimage().extract_area(1, 1, 1, 1).getpoint(0, 0);
    EXPECT_LT(stored[0], 250);  // P3 red is not 255
    const auto px = PixelAt(*wide, 1, 1);
    EXPECT_NEAR(px[0], 255, 3);
    EXPECT_NEAR(px[1], 0, 3);
    EXPECT_NEAR(px[2], 0, 3);
}

namespace {

// Seeded noise: LZW and JPEG 2000 cannot shrink it much.
plat::ImageRef Noise(int w, int h) {
    plat::Initialize();
    vips::VImage grey =
        (vips::VImage::gaussnoise(w, h, vips::VImage::option()->set("seed", 7)) * 2).cast(VIPS_FORMAT_UCHAR);
    return plat::Image::Create(grey.bandjoin({grey.rot180(), grey.flip(VIPS_DIRECTION_HORIZONTAL)})
                                   .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB)));
}

struct SeekingCase {
    const char* name;
    const char* type;
    std::function<vips::VImage()> pixels;
    bool sameSamples;  // the file holds the source's samples unchanged
};

vips::VImage Rgb() { return MakeTestImage(40, 24)->vimage(); }

// The savers that seek back (libtiff, OpenJPEG) write into the temporary
// file themselves; the result is what they make in memory.
class SeekingSaverStreams : public ::testing::TestWithParam<SeekingCase> {};

}  // namespace

TEST_P(SeekingSaverStreams, FileHoldsWhatMemoryHolds) {
    const SeekingCase& c = GetParam();
    TempFolder folder;
    auto image = plat::Image::Create(c.pixels());
    ASSERT_TRUE(image);
    plat::PropertyDict properties;
    properties.set(plat::prop::LossyCompressionQuality, 1.0);  // lossless JPEG 2000
    const auto path = folder / "out";
    auto file = plat::ImageDestination::CreateWithPath(path, c.type);
    file->addImage(image, properties);
    ASSERT_TRUE(file->finalize());
    EXPECT_TRUE(file->data().empty()) << "written straight to the file";
    auto memory = plat::ImageDestination::CreateWithData(c.type);
    memory->addImage(image, properties);
    ASSERT_TRUE(memory->finalize());

    const vips::VImage fromFile = vips::VImage::new_from_file(path.c_str());
    const vips::VImage fromMemory =
        vips::VImage::new_from_buffer(memory->data().data(), memory->data().size(), "");
    EXPECT_EQ(fromFile.width(), 40);
    EXPECT_EQ(fromFile.bands(), fromMemory.bands());
    EXPECT_EQ(fromFile.format(), fromMemory.format());
    EXPECT_EQ(fromFile.interpretation(), fromMemory.interpretation());
    const std::vector<std::uint8_t> samples = SamplesOf(fromFile);  // jp2kload decodes an image once only
    EXPECT_EQ(samples, SamplesOf(fromMemory));
    if (c.sameSamples) {
        EXPECT_EQ(samples, SamplesOf(image->vimage()));
    }
    EXPECT_EQ(folder.entryCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    TiffAndJpeg2000, SeekingSaverStreams,
    ::testing::Values(
        SeekingCase{"TiffRgb", "public.tiff", Rgb, true},
        SeekingCase{"TiffAlpha", "public.tiff", [] { return MakeTestImage(40, 24, true)->vimage(); }, true},
        SeekingCase{"TiffGrey", "public.tiff", [] { return Rgb().colourspace(VIPS_INTERPRETATION_B_W); }, true},
        SeekingCase{"Tiff16Bit", "public.tiff", [] { return Rgb().colourspace(VIPS_INTERPRETATION_RGB16); }, true},
        SeekingCase{"TiffCmyk", "public.tiff", [] { return Rgb().colourspace(VIPS_INTERPRETATION_CMYK); }, true},
        SeekingCase{"Jp2Rgb", "public.jpeg-2000", Rgb, true},
        SeekingCase{"Jp2Alpha", "public.jpeg-2000", [] { return MakeTestImage(40, 24, true)->vimage(); }, true},
        SeekingCase{"Jp2Grey", "public.jpeg-2000", [] { return Rgb().colourspace(VIPS_INTERPRETATION_B_W); },
                    true},
        SeekingCase{"Jp216Bit", "public.jpeg-2000",
                    [] { return Rgb().colourspace(VIPS_INTERPRETATION_RGB16); }, true},
        // JPEG 2000 holds no CMYK: sRGB, in the file as in memory.
        SeekingCase{"Jp2FromCmyk", "public.jpeg-2000",
                    [] { return Rgb().colourspace(VIPS_INTERPRETATION_CMYK); }, false}),
    [](const ::testing::TestParamInfo<SeekingCase>& info) { return std::string(info.param.name); });

// A write that fails part-way (a full disc, here a file-size limit) leaves
// the old file as it was and no temporary file, for every road to a file.
TEST(ImageDestination, FailedWriteLeavesTheOldFile) {
    TempFolder folder;
    const auto noise = Noise(400, 300);
    struct rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const std::pair<const char*, std::size_t> cases[] = {
        {"public.tiff", 1}, {"public.tiff", 3}, {"public.jpeg-2000", 1}, {"public.png", 1}};
    for (const auto& [type, count] : cases) {
        const auto path = folder / "old";
        WriteFile(path, {'o', 'l', 'd'});
        auto destination = plat::ImageDestination::CreateWithPath(path, type, count);
        for (std::size_t i = 0; i < count; ++i) destination->addImage(noise);
        struct rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = destination->finalize();
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_FALSE(written) << type << " x" << count;
        EXPECT_EQ(ReadFile(path).size(), 3u) << type << " x" << count;
        EXPECT_EQ(folder.entryCount(), 1u) << type << " x" << count;
    }
}
