#include "../platform/ImageTestSupport.h"

#include "engine/SgiWriter.h"
#include "platform/ImageSource.h"

using namespace imagetest;

namespace {

unsigned U16(const std::vector<std::uint8_t>& b, std::size_t at) { return unsigned(b[at]) << 8 | b[at + 1]; }

}  // namespace

TEST(SgiWriter, OnePixelFileHasHeaderAndFourPlanes) {
    TempFolder folder;
    const std::uint8_t rgba[4] = {10, 20, 30, 255};
    auto image = plat::Image::FromPixels(1, 1, rgba);
    SGIBitmap bitmap;
    ASSERT_EQ(CreateSGIBitmapFromImage(&bitmap, image), 1);
    EXPECT_EQ(GetSGIBitmapWidth(&bitmap), 1u);
    EXPECT_EQ(GetSGIBitmapHeight(&bitmap), 1u);
    ASSERT_EQ(WriteSGIFile(&bitmap, folder / "one.sgi"), 1);
    ReleaseSGIBitmap(&bitmap);
    EXPECT_EQ(GetSGIBitmapPixels(&bitmap), nullptr);

    const auto bytes = ReadFile(folder / "one.sgi");
    ASSERT_EQ(bytes.size(), 516u);
    EXPECT_EQ(U16(bytes, 0), 474u);
    EXPECT_EQ(bytes[2], 0);  // verbatim
    EXPECT_EQ(bytes[3], 1);  // one byte per sample
    EXPECT_EQ(U16(bytes, 4), 3u);
    EXPECT_EQ(U16(bytes, 6), 1u);
    EXPECT_EQ(U16(bytes, 8), 1u);
    EXPECT_EQ(U16(bytes, 10), 4u);
    EXPECT_EQ(bytes[19], 255);  // maximum pixel value
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[24])), "No Name");
    for (std::size_t i = 32; i < 512; ++i) ASSERT_EQ(bytes[i], 0) << "header byte " << i;
    EXPECT_EQ(bytes[512], 10);
    EXPECT_EQ(bytes[513], 20);
    EXPECT_EQ(bytes[514], 30);
    EXPECT_EQ(bytes[515], 255);
}

TEST(SgiWriter, TwoByTwoIsPlanarBottomRowFirstAndReadable) {
    TempFolder folder;
    // Top row: red, green; bottom row: blue, white.
    const std::uint8_t rgba[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    auto image = plat::Image::FromPixels(2, 2, rgba);
    SGIBitmap bitmap;
    ASSERT_EQ(CreateSGIBitmapFromImage(&bitmap, image), 1);
    ASSERT_EQ(WriteSGIFile(&bitmap, folder / "four.sgi"), 1);
    ReleaseSGIBitmap(&bitmap);
    const auto bytes = ReadFile(folder / "four.sgi");
    ASSERT_EQ(bytes.size(), 512u + 16u);
    const std::vector<std::uint8_t> data(bytes.begin() + 512, bytes.end());
    const std::vector<std::uint8_t> expected = {
        0, 255, 255, 0,      // red plane: bottom row (blue, white), then top row (red, green)
        0, 255, 0, 255,      // green plane
        255, 255, 0, 0,      // blue plane
        255, 255, 255, 255,  // alpha plane
    };
    EXPECT_EQ(data, expected);

    // Another reader (ImageMagick) sees the same picture.
    auto source = plat::ImageSource::Open(folder / "four.sgi");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->typeIdentifier(), "com.sgi.sgi-image");
    auto back = source->createImage(0);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->width(), 2);
    ASSERT_EQ(back->height(), 2);
    EXPECT_EQ(PixelAt(*back, 0, 0), (std::array<int, 4>{255, 0, 0, 255}));
    EXPECT_EQ(PixelAt(*back, 1, 0), (std::array<int, 4>{0, 255, 0, 255}));
    EXPECT_EQ(PixelAt(*back, 0, 1), (std::array<int, 4>{0, 0, 255, 255}));
    EXPECT_EQ(PixelAt(*back, 1, 1), (std::array<int, 4>{255, 255, 255, 255}));
}

TEST(SgiWriter, RefusesWhatTheHeaderCannotHold) {
    TempFolder folder;
    SGIBitmap bitmap;
    InitSGIBitmap(&bitmap);
    EXPECT_EQ(FillSGIBitmapFromImage(&bitmap, nullptr), 0);
    EXPECT_EQ(WriteSGIFile(&bitmap, folder / "empty.sgi"), 0);

    // A buffer claiming 70000 pixels per row is never written truncated.
    std::vector<std::uint8_t> pixels(70000u * 4u, 255);
    bitmap.pixels = pixels.data();
    bitmap.width = 70000;
    bitmap.height = 1;
    bitmap.bytesPerRow = 70000 * 4;
    bitmap.channels = 4;
    EXPECT_EQ(WriteSGIFile(&bitmap, folder / "wide.sgi"), 0);
    bitmap.pixels = nullptr;

    // Nor is such an image taken into a buffer in the first place.
    std::vector<std::uint8_t> rgba(70000u * 4u, 200);
    auto wide = plat::Image::FromPixels(70000, 1, rgba.data());
    ASSERT_TRUE(wide);
    EXPECT_EQ(CreateSGIBitmapFromImage(&bitmap, wide), 0);
    EXPECT_EQ(GetSGIBitmapPixels(&bitmap), nullptr);
    EXPECT_EQ(folder.entryCount(), 0u);
}

TEST(SgiWriter, ByteHelpers) {
    EXPECT_EQ(SwapBytes16(0x1234), 0x3412);
    EXPECT_EQ(SwapBytes32(0x12345678u), 0x78563412u);
    std::uint8_t b[4] = {};
    PutBigEndian32(b, 0x01020304u);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[3], 4);
    PutBigEndian16(b, 0xABCD);
    EXPECT_EQ(b[0], 0xAB);
    EXPECT_EQ(b[1], 0xCD);
    PutByte(b + 2, 7);
    EXPECT_EQ(b[2], 7);
}
