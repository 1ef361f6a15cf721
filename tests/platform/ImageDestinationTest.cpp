#include "ImageTestSupport.h"

#include "platform/ImageDestination.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"

#include <cmath>

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
