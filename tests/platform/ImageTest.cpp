#include "platform/Image.h"
#include "platform/Initialize.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

vips::VImage greyRamp(bool withAlpha) {
    // 2×1 grey pixels 10 and 200; alpha 50 and 250 when asked.
    static const unsigned char grey[] = {10, 200};
    static const unsigned char alpha[] = {50, 250};
    vips::VImage image = vips::VImage::new_from_memory(const_cast<unsigned char*>(grey), 2, 2, 1, 1,
                                                       VIPS_FORMAT_UCHAR);
    if (withAlpha) {
        image = image.bandjoin(vips::VImage::new_from_memory(const_cast<unsigned char*>(alpha), 2, 2, 1, 1,
                                                             VIPS_FORMAT_UCHAR));
    }
    return image.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
}

}  // namespace

TEST(ImageTest, GreyPixelsBecomeRGBAWithEveryChannelInPlace) {
    plat::Initialize();
    const plat::ImageRef opaque = plat::Image::Create(greyRamp(false));
    ASSERT_TRUE(opaque);
    EXPECT_EQ(opaque->copyRGBA8(), (std::vector<std::uint8_t>{10, 10, 10, 255, 200, 200, 200, 255}));

    const plat::ImageRef translucent = plat::Image::Create(greyRamp(true));
    ASSERT_TRUE(translucent);
    ASSERT_TRUE(translucent->hasAlpha());
    EXPECT_EQ(translucent->copyRGBA8(), (std::vector<std::uint8_t>{10, 10, 10, 50, 200, 200, 200, 250}));
}
