#include "engine/WebPEncoder.h"

#include <cstring>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/Initialize.h"
#include "platform/PdfTestSupport.h"

using vantrell_test::FolderEntries;
using vantrell_test::TempFolder;

namespace {

plat::ImageRef MakeImage(int width, int height, bool alpha) {
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(static_cast<std::uint8_t>(x * 255 / width));
            pixels.push_back(static_cast<std::uint8_t>(y * 255 / height));
            pixels.push_back(static_cast<std::uint8_t>((x + y) & 0xff));
            if (alpha) {
                pixels.push_back(static_cast<std::uint8_t>(x < width / 2 ? 255 : 64));
            }
        }
    }
    return plat::Image::FromPixels(width, height, pixels.data(), 0, alpha);
}

// The four-character tags of the top-level chunks of a WebP file.
std::vector<std::string> Chunks(const std::vector<std::uint8_t>& webp) {
    std::vector<std::string> tags;
    std::size_t pos = 12;
    while (pos + 8 <= webp.size()) {
        tags.emplace_back(reinterpret_cast<const char*>(webp.data() + pos), 4);
        std::uint32_t size = 0;
        std::memcpy(&size, webp.data() + pos + 4, 4);
        pos += 8 + size + (size & 1);
    }
    return tags;
}

WebPConfig ConfigForQuality(double quality) {
    WebPConfig config;
    EXPECT_EQ(InitWebPOutputConfig(&config), 1);
    SetWebPOutputQuality(&config, quality);
    return config;
}

class WebPEncodeTest : public ::testing::Test {
protected:
    void SetUp() override { plat::Initialize(); }
};

}  // namespace

TEST_F(WebPEncodeTest, QualityRules) {
    WebPConfig config;
    ASSERT_EQ(InitWebPOutputConfig(&config), 1);
    EXPECT_FLOAT_EQ(config.quality, 75.0f);
    EXPECT_EQ(config.lossless, 0);

    WebPConfig lossless = ConfigForQuality(1.0);
    EXPECT_EQ(lossless.lossless, 1);
    EXPECT_EQ(lossless.alpha_compression, 1);

    WebPConfig lossy = ConfigForQuality(0.8);
    EXPECT_EQ(lossy.lossless, 0);
    EXPECT_FLOAT_EQ(lossy.quality, 80.0f);
    EXPECT_EQ(lossy.alpha_quality, 80);
    // Truncated, not rounded.
    EXPECT_EQ(ConfigForQuality(0.337).alpha_quality, 33);
}

TEST_F(WebPEncodeTest, LosslessKeepsEveryPixelWithAndWithoutAlpha) {
    for (bool alpha : {false, true}) {
        plat::ImageRef image = MakeImage(23, 17, alpha);
        ASSERT_TRUE(image);
        std::vector<std::uint8_t> webp;
        ASSERT_EQ(EncodeImageToWebPData(*image, ConfigForQuality(1.0), nullptr, 0, webp), 0);
        EXPECT_EQ(Chunks(webp), std::vector<std::string>{"VP8L"});

        WebPBitstreamFeatures features;
        ASSERT_EQ(WebPGetFeatures(webp.data(), webp.size(), &features), VP8_STATUS_OK);
        EXPECT_EQ(features.has_alpha != 0, alpha);
        EXPECT_EQ(features.format, 2);  // lossless

        int w = 0, h = 0;
        std::uint8_t* decoded = WebPDecodeRGBA(webp.data(), webp.size(), &w, &h);
        ASSERT_NE(decoded, nullptr);
        ASSERT_EQ(w, 23);
        ASSERT_EQ(h, 17);
        const std::vector<std::uint8_t> expected = image->copyRGBA8();
        EXPECT_EQ(0, std::memcmp(decoded, expected.data(), expected.size())) << "alpha " << alpha;
        WebPFree(decoded);
    }
}

TEST_F(WebPEncodeTest, LossyWithAndWithoutAlpha) {
    std::vector<std::uint8_t> opaque;
    ASSERT_EQ(EncodeImageToWebPData(*MakeImage(40, 30, false), ConfigForQuality(0.8), nullptr, 0, opaque), 0);
    EXPECT_EQ(Chunks(opaque), std::vector<std::string>{"VP8 "});

    std::vector<std::uint8_t> withAlpha;
    ASSERT_EQ(EncodeImageToWebPData(*MakeImage(40, 30, true), ConfigForQuality(0.8), nullptr, 0, withAlpha), 0);
    EXPECT_EQ(Chunks(withAlpha), (std::vector<std::string>{"VP8X", "ALPH", "VP8 "}));
    int w = 0, h = 0;
    std::uint8_t* decoded = WebPDecodeRGBA(withAlpha.data(), withAlpha.size(), &w, &h);
    ASSERT_NE(decoded, nullptr);
    // Alpha survives lossy coding closely: left half opaque, right half 64.
    EXPECT_GT(decoded[(10 * 40 + 5) * 4 + 3], 240);
    EXPECT_NEAR(decoded[(10 * 40 + 35) * 4 + 3], 64, 8);
    WebPFree(decoded);

    // Lower quality gives a smaller file.
    std::vector<std::uint8_t> low;
    ASSERT_EQ(EncodeImageToWebPData(*MakeImage(40, 30, false), ConfigForQuality(0.1), nullptr, 0, low), 0);
    EXPECT_LT(low.size(), opaque.size());
}

TEST_F(WebPEncodeTest, MetadataChunksFollowTheMask) {
    WebPMetadata metadata;
    metadata.exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0};  // odd length: padded
    metadata.icc = {1, 2, 3, 4};
    metadata.xmp = {'<', 'x', '/', '>'};
    for (bool lossless : {false, true}) {
        std::vector<std::uint8_t> webp;
        ASSERT_EQ(EncodeImageToWebPData(*MakeImage(8, 8, false), ConfigForQuality(lossless ? 1.0 : 0.5), &metadata,
                                        kWebPMetadataExif, webp),
                  0);
        EXPECT_EQ(Chunks(webp), (std::vector<std::string>{"VP8X", lossless ? "VP8L" : "VP8 ", "EXIF"}));
        std::uint32_t riffSize = 0;
        std::memcpy(&riffSize, webp.data() + 4, 4);
        EXPECT_EQ(riffSize + 8, webp.size());
        EXPECT_EQ(webp[20] & 0x08, 0x08);  // EXIF flag
        // Still a valid file.
        int w = 0, h = 0;
        ASSERT_TRUE(WebPGetInfo(webp.data(), webp.size(), &w, &h));
        EXPECT_EQ(w, 8);
    }
    std::vector<std::uint8_t> all;
    ASSERT_EQ(EncodeImageToWebPData(*MakeImage(8, 8, true), ConfigForQuality(1.0), &metadata, 7, all), 0);
    EXPECT_EQ(Chunks(all), (std::vector<std::string>{"VP8X", "ICCP", "VP8L", "EXIF", "XMP "}));
    EXPECT_EQ(all[20], 0x08 | 0x20 | 0x04 | 0x10);  // with the alpha flag of the lossless stream
    int w = 0, h = 0;
    EXPECT_TRUE(WebPGetInfo(all.data(), all.size(), &w, &h));

    std::vector<std::uint8_t> none;
    ASSERT_EQ(EncodeImageToWebPData(*MakeImage(8, 8, false), ConfigForQuality(1.0), &metadata, 0, none), 0);
    EXPECT_EQ(Chunks(none), std::vector<std::string>{"VP8L"});
}

TEST_F(WebPEncodeTest, InvalidConfigurationIsRejected) {
    WebPConfig config = ConfigForQuality(0.5);
    config.quality = 500.0f;
    std::vector<std::uint8_t> webp;
    EXPECT_EQ(EncodeImageToWebPData(*MakeImage(8, 8, false), config, nullptr, 0, webp), kWebPErrorInvalidConfig);
}

namespace {

// Writes a small test image with vips: PNG keeps alpha, JPEG gets an EXIF block.
void WriteWithVips(const plat::Image& image, const std::filesystem::path& path) {
    vips::VImage out = image.vimage().copy();
    if (path.extension() == ".jpg") {
        out.set("exif-ifd0-Make", "Vantrell Test Camera (Vantrell Test Camera, ASCII, 22 components, 22 bytes)");
        out.set("exif-ifd0-Orientation", "1 (Top-left, Short, 1 components, 2 bytes)");
    }
    out.write_to_file(path.c_str());
}

}  // namespace

TEST_F(WebPEncodeTest, EncodesFilesWithAlphaAndExif) {
    TempFolder tmp;
    plat::ImageRef withAlpha = MakeImage(16, 12, true);
    WriteWithVips(*withAlpha, tmp / "in.png");
    ASSERT_EQ(EncodeFileToWebP(tmp / "in.png", tmp / "out.webp", ConfigForQuality(1.0), kWebPMetadataExif), 0);
    auto bytes = plat::FileManager::contentsOfFile(tmp / "out.webp");
    ASSERT_TRUE(bytes);
    int w = 0, h = 0;
    std::uint8_t* decoded = WebPDecodeRGBA(bytes->data(), bytes->size(), &w, &h);
    ASSERT_NE(decoded, nullptr);
    const auto expected = withAlpha->copyRGBA8();
    EXPECT_EQ(0, std::memcmp(decoded, expected.data(), expected.size()));
    WebPFree(decoded);

    WriteWithVips(*MakeImage(16, 12, false), tmp / "in.jpg");
    ASSERT_EQ(EncodeFileToWebP(tmp / "in.jpg", tmp / "photo.webp", ConfigForQuality(0.8), kWebPMetadataExif), 0);
    bytes = plat::FileManager::contentsOfFile(tmp / "photo.webp");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(Chunks(*bytes), (std::vector<std::string>{"VP8X", "VP8 ", "EXIF"}));
    // The EXIF chunk holds a bare TIFF structure.
    const std::string text(bytes->begin(), bytes->end());
    const std::size_t exif = text.find("EXIF");
    ASSERT_NE(exif, std::string::npos);
    const std::string order = text.substr(exif + 8, 2);
    EXPECT_TRUE(order == "II" || order == "MM") << order;
    EXPECT_NE(text.find("Vantrell Test Camera"), std::string::npos);

    ASSERT_EQ(EncodeFileToWebP(tmp / "in.jpg", tmp / "bare.webp", ConfigForQuality(0.8), 0), 0);
    bytes = plat::FileManager::contentsOfFile(tmp / "bare.webp");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(Chunks(*bytes), std::vector<std::string>{"VP8 "});
}

TEST_F(WebPEncodeTest, FailuresLeaveNoFile) {
    TempFolder tmp;
    WriteWithVips(*MakeImage(8, 8, false), tmp / "in.png");
    WriteWithVips(*MakeImage(8, 8, false), tmp / "in.gif");
    { std::ofstream(tmp / "junk.png") << "not an image"; }
    { std::ofstream(tmp / "keep.webp") << "old"; }
    const auto before = FolderEntries(tmp.path());

    EXPECT_EQ(EncodeFileToWebP(tmp / "missing.png", tmp / "a.webp", ConfigForQuality(0.5), 1), kWebPErrorReadInput);
    EXPECT_EQ(EncodeFileToWebP(tmp / "junk.png", tmp / "a.webp", ConfigForQuality(0.5), 1), kWebPErrorReadInput);
    EXPECT_EQ(EncodeFileToWebP(tmp / "in.gif", tmp / "a.webp", ConfigForQuality(0.5), 1), kWebPErrorReadInput);
    EXPECT_EQ(EncodeFileToWebP(tmp / "in.png", tmp / "no-folder" / "a.webp", ConfigForQuality(0.5), 1),
              kWebPErrorOpenOutput);
    // A folder where the file should go.
    EXPECT_EQ(EncodeFileToWebP(tmp / "in.png", tmp.path(), ConfigForQuality(0.5), 1), kWebPErrorOpenOutput);
    // Wider than WebP allows: read, then refused by the encoder, unless the
    // output could not be opened anyway.
    WriteWithVips(*MakeImage(16400, 1, false), tmp / "wide.png");
    EXPECT_EQ(EncodeFileToWebP(tmp / "wide.png", tmp / "a.webp", ConfigForQuality(0.5), 1), kWebPErrorEncode);
    EXPECT_EQ(EncodeFileToWebP(tmp / "wide.png", tmp / "no-folder" / "a.webp", ConfigForQuality(0.5), 1),
              kWebPErrorOpenOutput);
    std::filesystem::remove(tmp / "wide.png");
    WebPConfig bad = ConfigForQuality(0.5);
    bad.method = 42;
    EXPECT_EQ(EncodeFileToWebP(tmp / "in.png", tmp / "keep.webp", bad, 1), kWebPErrorInvalidConfig);
    EXPECT_EQ(FolderEntries(tmp.path()), before);
    std::ifstream kept(tmp / "keep.webp");
    std::string contents;
    kept >> contents;
    EXPECT_EQ(contents, "old");
}
