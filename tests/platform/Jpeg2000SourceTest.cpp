// JPEG 2000 files read through OpenJPEG: the pixels the encoder was given,
// at the file's own depth, the same on every read.

#include "ScratchFolder.h"

#include "platform/Image.h"
#include "platform/ImageSource.h"
#include "platform/Initialize.h"
#include "platform/ToolRunner.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

// Writes a PGM (8 or 16 bits) and encodes it with OpenJPEG's own encoder.
bool EncodeGrey(const ScratchFolder& dir, const std::string& name, int width, int height, int maxValue,
                const std::function<int(int x, int y)>& pixel, const std::vector<std::string>& options) {
    std::string pgm = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n" +
                      std::to_string(maxValue) + "\n";
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int v = pixel(x, y);
            if (maxValue > 255) pgm.push_back(char(v >> 8));
            pgm.push_back(char(v & 255));
        }
    }
    const auto in = dir / (name + ".pgm");
    std::ofstream(in, std::ios::binary) << pgm;
    std::vector<std::string> argv = {"opj_compress", "-i", in.string(), "-o", (dir / name).string()};
    argv.insert(argv.end(), options.begin(), options.end());
    plat::ToolRunner runner;
    return runner.run("/usr/bin/opj_compress", argv).succeeded();
}

std::vector<std::uint8_t> Pixels(const vips::VImage& image) {
    std::size_t size = 0;
    void* memory = image.write_to_memory(&size);
    std::vector<std::uint8_t> bytes(static_cast<std::uint8_t*>(memory), static_cast<std::uint8_t*>(memory) + size);
    g_free(memory);
    return bytes;
}

int Pattern(int x, int y) { return (x * 3 + y * 5 + (x * y) % 17) & 255; }

class Jpeg2000SourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    void SetUp() override {
        if (access("/usr/bin/opj_compress", X_OK) != 0) GTEST_SKIP() << "opj_compress (libopenjp2-tools) is missing";
    }
    ScratchFolder dir;
};

}  // namespace

// Small tiles and an image area away from the canvas origin: libvips's own
// loader read past its buffers on such files and gave other pixels on every
// run.
TEST_F(Jpeg2000SourceTest, GreyWithSmallTilesOffTheOriginReadsTheSamePixelsEveryTime) {
    for (const auto& options : std::vector<std::vector<std::string>>{
             {"-t", "16,16", "-n", "2", "-d", "3,5"}, {"-t", "16,16", "-n", "2"}, {"-n", "3", "-d", "1,1"}}) {
        ASSERT_TRUE(EncodeGrey(dir, "grey.jp2", 123, 77, 255, Pattern, options));
        for (int round = 0; round < 4; ++round) {
            vips_concurrency_set(1 + round * 2);
            const auto source = plat::ImageSource::Open(dir / "grey.jp2");
            ASSERT_TRUE(source);
            const plat::ImageRef image = source->createImage(0);
            ASSERT_TRUE(image);
            ASSERT_EQ(image->width(), 123);
            ASSERT_EQ(image->height(), 77);
            EXPECT_EQ(image->colorModel(), plat::ColorModel::Gray);
            const std::vector<std::uint8_t> pixels = Pixels(image->vimage());
            ASSERT_EQ(pixels.size(), std::size_t(123 * 77));
            for (int y = 0; y < 77; ++y) {
                for (int x = 0; x < 123; ++x) {
                    ASSERT_EQ(pixels[std::size_t(y * 123 + x)], Pattern(x, y)) << x << "," << y << " " << options[1];
                }
            }
        }
    }
    vips_concurrency_set(0);
}

TEST_F(Jpeg2000SourceTest, TwelveBitGreyKeepsSixteenBitDepth) {
    auto twelve = [](int x, int y) { return (x * 37 + y * 11) & 4095; };
    ASSERT_TRUE(EncodeGrey(dir, "deep.jp2", 40, 30, 4095, twelve, {"-n", "2", "-d", "2,2"}));
    const auto source = plat::ImageSource::Open(dir / "deep.jp2");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->properties(0).integer(plat::prop::Depth), 16);
    const vips::VImage image = source->load(0, plat::DecodeOptions{});
    ASSERT_EQ(image.format(), VIPS_FORMAT_USHORT);
    const std::vector<std::uint8_t> bytes = Pixels(image);
    const auto* samples = reinterpret_cast<const std::uint16_t*>(bytes.data());
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) ASSERT_EQ(samples[y * 40 + x], twelve(x, y) << 4) << x << "," << y;
    }
}

TEST_F(Jpeg2000SourceTest, SubsampledGreyCoversEveryPixel) {
    // One sample for each 2 × 2 pixels: each sample covers its four pixels.
    auto block = [](int x, int y) { return ((x / 2) * 9 + (y / 2) * 21) & 255; };
    ASSERT_TRUE(EncodeGrey(dir, "half.jp2", 64, 48, 255, block, {"-n", "2", "-s", "2,2"}));
    const auto source = plat::ImageSource::Open(dir / "half.jp2");
    ASSERT_TRUE(source);
    const plat::ImageRef first = source->createImage(0);
    ASSERT_TRUE(first);
    const std::vector<std::uint8_t> pixels = Pixels(first->vimage());
    ASSERT_EQ(pixels.size(), std::size_t(first->width() * first->height()));
    for (int round = 0; round < 3; ++round) {
        const auto again = plat::ImageSource::Open(dir / "half.jp2");
        ASSERT_TRUE(again);
        EXPECT_EQ(Pixels(again->createImage(0)->vimage()), pixels);
    }
}

TEST_F(Jpeg2000SourceTest, DamagedFilesDoNotOpen) {
    ASSERT_TRUE(EncodeGrey(dir, "grey.jp2", 123, 77, 255, Pattern, {"-t", "16,16", "-n", "2"}));
    std::ifstream in(dir / "grey.jp2", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(dir / "cut.jp2", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    for (int round = 0; round < 3; ++round) {
        const auto source = plat::ImageSource::Open(dir / "cut.jp2");
        EXPECT_TRUE(!source || !source->createImage(0));
    }
}
