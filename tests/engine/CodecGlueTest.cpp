#include "../platform/ImageTestSupport.h"

#include "engine/JpegMemoryCodec.h"
#include "engine/WebPCodec.h"
#include "platform/ImageSource.h"

#include <tiffio.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <cstdlib>

using namespace imagetest;

namespace {

std::vector<std::uint8_t> EncodeTestJpeg(int w, int h, double dpi, int quality = 90) {
    std::vector<std::uint8_t> rgb(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &rgb[(std::size_t(y) * w + x) * 3];
            p[0] = x < w / 2 ? 250 : 5;
            p[1] = 5;
            p[2] = x < w / 2 ? 5 : 250;
        }
    }
    std::uint8_t* jpeg = nullptr;
    unsigned long size = 0;
    EncodeJPEGData(w, h, rgb.data(), 2 /* JCS_RGB */, 3, &jpeg, &size, quality, dpi, dpi);
    std::vector<std::uint8_t> out(jpeg, jpeg + size);
    std::free(jpeg);
    return out;
}

std::vector<std::uint8_t> EncodeTestWebP(int w, int h, bool alpha) {
    std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4, 0);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = 200;
        rgba[i + 1] = 100;
        rgba[i + 2] = 50;
        rgba[i + 3] = alpha ? 128 : 255;
    }
    std::uint8_t* out = nullptr;
    const std::size_t size = alpha ? WebPEncodeLosslessRGBA(rgba.data(), w, h, w * 4, &out)
                                   : WebPEncodeLosslessRGB(std::vector<std::uint8_t>(std::size_t(w) * h * 3, 77).data(),
                                                           w, h, w * 3, &out);
    std::vector<std::uint8_t> bytes(out, out + size);
    WebPFree(out);
    return bytes;
}

}  // namespace

TEST(JpegMemoryCodec, EncodesAndDecodesWithResolution) {
    const auto jpeg = EncodeTestJpeg(40, 20, 300.0);
    ASSERT_GT(jpeg.size(), 100u);
    int colour = 0, w = 0, h = 0;
    double dpiX = 0, dpiY = 0;
    std::uint8_t* samples = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(DecodeJPEGData(jpeg.data(), jpeg.size(), &colour, nullptr, &samples, &size, &w, &h, &dpiX, &dpiY), 0);
    EXPECT_EQ(colour, 2);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 20);
    EXPECT_EQ(size, 40u * 20u * 3u);
    EXPECT_DOUBLE_EQ(dpiX, 300.0);
    EXPECT_DOUBLE_EQ(dpiY, 300.0);
    EXPECT_NEAR(samples[0], 250, 12);
    EXPECT_NEAR(samples[(39) * 3 + 2], 250, 12);
    std::free(samples);
}

TEST(JpegMemoryCodec, DotsPerCentimetreBecomeDotsPerInch) {
    auto jpeg = EncodeTestJpeg(8, 8, 72.0);
    // JFIF APP0: units at offset 13, densities at 14 and 16.
    ASSERT_EQ(jpeg[3], 0xE0);
    jpeg[13] = 2;
    jpeg[14] = 0;
    jpeg[15] = 118;
    jpeg[16] = 0;
    jpeg[17] = 118;
    int colour = 0, w = 0, h = 0;
    double dpiX = -1, dpiY = -1;
    std::uint8_t* samples = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(DecodeJPEGData(jpeg.data(), jpeg.size(), &colour, nullptr, &samples, &size, &w, &h, &dpiX, &dpiY), 0);
    EXPECT_NEAR(dpiX, 299.72, 0.001);
    EXPECT_NEAR(dpiY, 299.72, 0.001);
    std::free(samples);

    // Without a unit the caller's values stay.
    jpeg[13] = 0;
    dpiX = dpiY = -1;
    ASSERT_EQ(DecodeJPEGData(jpeg.data(), jpeg.size(), &colour, nullptr, &samples, &size, &w, &h, &dpiX, &dpiY), 0);
    EXPECT_EQ(dpiX, -1);
    std::free(samples);
}

TEST(JpegMemoryCodec, TruncatedDataDecodesToFullSize) {
    const auto jpeg = EncodeTestJpeg(256, 256, 72.0);
    // Cut halfway through the entropy-coded data after the scan header.
    std::size_t scan = 0;
    for (std::size_t i = 2; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
            scan = i;
            break;
        }
    }
    ASSERT_GT(scan, 0u);
    const std::size_t keep = scan + 20 + (jpeg.size() - scan - 20) / 2;
    const std::vector<std::uint8_t> cut(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(keep));
    int colour = 0, w = 0, h = 0;
    std::uint8_t* samples = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(DecodeJPEGData(cut.data(), cut.size(), &colour, nullptr, &samples, &size, &w, &h, nullptr, nullptr), 0);
    EXPECT_EQ(w, 256);
    EXPECT_EQ(h, 256);
    EXPECT_EQ(size, 256u * 256u * 3u);
    std::free(samples);
}

TEST(JpegMemoryCodec, BadInputFailsWithoutEndingTheProcess) {
    int colour = 0, w = 0, h = 0;
    std::uint8_t* samples = nullptr;
    std::size_t size = 0;
    const std::vector<std::uint8_t> garbage = {0x00, 0x01, 0x02, 0x03, 0xFF, 0xD8};
    EXPECT_EQ(DecodeJPEGData(garbage.data(), garbage.size(), &colour, nullptr, &samples, &size, &w, &h, nullptr, nullptr), 1);
    EXPECT_EQ(samples, nullptr);
    const std::vector<std::uint8_t> headerOnly = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_EQ(DecodeJPEGData(headerOnly.data(), headerOnly.size(), &colour, nullptr, &samples, &size, &w, &h, nullptr, nullptr), 1);
    EXPECT_EQ(DecodeJPEGData(nullptr, 0, &colour, nullptr, &samples, &size, &w, &h, nullptr, nullptr), 1);

    // A colour space that does not match the component count is a library
    // error: no output, and the process goes on.
    std::vector<std::uint8_t> rgb(4 * 4 * 3, 128);
    std::uint8_t* jpeg = reinterpret_cast<std::uint8_t*>(1);
    unsigned long jpegSize = 99;
    EncodeJPEGData(4, 4, rgb.data(), 2 /* JCS_RGB */, 1, &jpeg, &jpegSize, 80, 72, 72);
    EXPECT_EQ(jpeg, nullptr);
    EXPECT_EQ(jpegSize, 0u);
    EncodeJPEGData(0, 4, rgb.data(), 2, 3, &jpeg, &jpegSize, 80, 72, 72);
    EXPECT_EQ(jpegSize, 0u);
}

TEST(WebPCodec, DecodesToTiffWithAndWithoutAlpha) {
    plat::Initialize();
    TempFolder folder;
    for (bool alpha : {true, false}) {
        const auto webp = EncodeTestWebP(12, 7, alpha);
        int w = 0, h = 0;
        ASSERT_EQ(GetWebPDimensions(webp.data(), webp.size(), &w, &h), 0);
        EXPECT_EQ(w, 12);
        EXPECT_EQ(h, 7);
        WebPDecoderConfig config;
        ASSERT_TRUE(WebPInitDecoderConfig(&config));
        const auto path = folder / (alpha ? "alpha.tif" : "plain.tif");
        ASSERT_EQ(DecodeWebPToTIFFFile(webp.data(), webp.size(), &config, path.c_str()), 0);
        auto source = plat::ImageSource::Open(path);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->typeIdentifier(), "public.tiff");
        auto image = source->createImage(0);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), 12);
        EXPECT_EQ(image->height(), 7);
        EXPECT_EQ(image->hasAlpha(), alpha);
        TIFF* tiff = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tiff, nullptr);
        std::uint16_t samplesPerPixel = 0, compression = 0, extraCount = 0;
        std::uint16_t* extra = nullptr;
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        EXPECT_EQ(samplesPerPixel, alpha ? 4 : 3);
        EXPECT_EQ(compression, COMPRESSION_NONE);
        if (alpha) {
            ASSERT_EQ(TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra), 1);
            ASSERT_EQ(extraCount, 1);
            EXPECT_EQ(extra[0], EXTRASAMPLE_ASSOCALPHA);
            std::vector<std::uint8_t> row(std::size_t(TIFFScanlineSize(tiff)));
            ASSERT_EQ(TIFFReadScanline(tiff, row.data(), 0, 0), 1);
            EXPECT_NEAR(row[0], 200 * 128 / 255, 2);  // red premultiplied
            EXPECT_EQ(row[3], 128);
        }
        TIFFClose(tiff);
        if (alpha) {
            // Stored premultiplied; the reader takes it back to straight alpha.
            const auto px = PixelAt(*image, 3, 3);
            EXPECT_NEAR(px[0], 200, 3);
            EXPECT_NEAR(px[3], 128, 1);
        } else {
            EXPECT_EQ(PixelAt(*image, 3, 3)[0], 77);
        }
    }
    EXPECT_EQ(folder.entryCount(), 2u);
}

TEST(WebPCodec, DecodesIntoTheCallersBuffer) {
    const auto webp = EncodeTestWebP(5, 3, true);
    WebPDecoderConfig config;
    ASSERT_TRUE(WebPInitDecoderConfig(&config));
    ASSERT_EQ(DecodeWebPData(webp.data(), webp.size(), &config), 0);
    ASSERT_NE(config.output.u.RGBA.rgba, nullptr);
    EXPECT_EQ(config.output.width, 5);
    EXPECT_EQ(config.output.u.RGBA.rgba[0], 200);
    EXPECT_EQ(config.output.u.RGBA.rgba[3], 128);
    WebPFreeDecBuffer(&config.output);
}

TEST(WebPCodec, BytesThatAreNotWebPGiveHeaderErrorAndNoFile) {
    TempFolder folder;
    const std::vector<std::uint8_t> junk = {'R', 'I', 'F', 'F', 1, 2, 3, 4, 'J', 'U', 'N', 'K'};
    int w = -5, h = -5;
    EXPECT_EQ(GetWebPDimensions(junk.data(), junk.size(), &w, &h), kWebPHeaderError);
    EXPECT_EQ(GetWebPDimensions(nullptr, 0, &w, &h), kWebPHeaderError);
    WebPDecoderConfig config;
    ASSERT_TRUE(WebPInitDecoderConfig(&config));
    const auto path = folder / "junk.tif";
    EXPECT_EQ(DecodeWebPToTIFFFile(junk.data(), junk.size(), &config, path.c_str()), kWebPHeaderError);
    EXPECT_EQ(folder.entryCount(), 0u);

    // A valid header over truncated data: no file, result 0.
    auto webp = EncodeTestWebP(64, 64, true);
    webp.resize(40);
    ASSERT_TRUE(WebPInitDecoderConfig(&config));
    EXPECT_EQ(DecodeWebPToTIFFFile(webp.data(), webp.size(), &config, path.c_str()), 0);
    EXPECT_EQ(folder.entryCount(), 0u);
}
