// JPEG 2000 files read through OpenJPEG: the pixels the encoder was given, at the file's own depth, every read.
#include "ScratchFolder.h"

#include "platform/Image.h"
#include "platform/ImageSource.h"
#include "platform/Initialize.h"
#include "platform/ToolRunner.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <fstream>
#include <string>
#include <vector>

namespace {

int Pattern(int x, int y) { return (x * 3 + y * 5 + (x * y) % 17) & 255; }

std::vector<std::uint8_t> Bytes(const vips::VImage& image) {
    std::size_t size = 0;
    auto* memory = static_cast<std::uint8_t*>(image.write_to_memory(&size));
    std::vector<std::uint8_t> bytes(memory, memory + size);
    g_free(memory);
    return bytes;
}

class Jpeg2000SourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    void SetUp() override {
        if (access("/usr/bin/opj_compress", X_OK) != 0) GTEST_SKIP() << "opj_compress (libopenjp2-tools) is missing";
    }
    // Writes a grey PGM (8 or 16 bits) and encodes it with OpenJPEG's own encoder.
    std::filesystem::path Encode(int width, int height, int maxValue, int (*pixel)(int x, int y),
                                 const std::vector<std::string>& options) {
        std::string pgm = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n" +
                          std::to_string(maxValue) + "\n";
        for (int i = 0; i < width * height; ++i) {
            if (maxValue > 255) pgm.push_back(char(pixel(i % width, i / width) >> 8));
            pgm.push_back(char(pixel(i % width, i / width) & 255));
        }
        std::ofstream(dir / "in.pgm", std::ios::binary) << pgm;
        std::vector<std::string> argv = {"opj_compress", "-i", dir / "in.pgm", "-o", dir / "out.jp2"};
        argv.insert(argv.end(), options.begin(), options.end());
        EXPECT_TRUE(plat::ToolRunner().run("/usr/bin/opj_compress", argv).succeeded());
        return dir / "out.jp2";
    }
    ScratchFolder dir;
};

}  // namespace

// Small tiles and an image area away from the canvas origin: libvips's own loader read past its buffers
// on such files and gave other pixels on every run. Subsampled (`step` 2), a sample covers 2 × 2 pixels.
TEST_F(Jpeg2000SourceTest, GreyReadsTheEncodedPixelsEveryTime) {
    const struct { int width, height, step; std::vector<std::string> options; } files[] = {
        {123, 77, 1, {"-t", "16,16", "-n", "2", "-d", "3,5"}},
        {123, 77, 1, {"-t", "16,16", "-n", "2"}},
        {123, 77, 1, {"-n", "3", "-d", "1,1"}},
        {64, 48, 2, {"-n", "2", "-s", "2,2"}},
    };
    for (const auto& f : files) {
        const auto file = Encode(f.width, f.height, 255, Pattern, f.options);
        const int width = f.width * f.step - f.step + 1, height = f.height * f.step - f.step + 1;
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE(f.options.back() + ", round " + std::to_string(round));
            vips_concurrency_set(1 + round * 2);
            const auto source = plat::ImageSource::Open(file);
            const plat::ImageRef image = source ? source->createImage(0) : nullptr;
            ASSERT_TRUE(image);
            ASSERT_EQ(std::pair(image->width(), image->height()), std::pair(width, height));
            EXPECT_EQ(image->colorModel(), plat::ColorModel::Gray);
            const std::vector<std::uint8_t> pixels = Bytes(image->vimage());
            ASSERT_EQ(pixels.size(), std::size_t(width * height));
            for (int i = 0; i < width * height; ++i) {
                ASSERT_EQ(pixels[std::size_t(i)], Pattern(i % width / f.step, i / width / f.step)) << i;
            }
        }
    }
    vips_concurrency_set(0);
}

TEST_F(Jpeg2000SourceTest, TwelveBitGreyKeepsSixteenBitDepth) {
    auto twelve = [](int x, int y) { return (x * 37 + y * 11) & 4095; };
    const auto source = plat::ImageSource::Open(Encode(40, 30, 4095, twelve, {"-n", "2", "-d", "2,2"}));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->properties(0).integer(plat::prop::Depth), 16);
    const vips::VImage image = source->load(0, plat::DecodeOptions{});
    ASSERT_EQ(image.format(), VIPS_FORMAT_USHORT);
    const std::vector<std::uint8_t> bytes = Bytes(image);
    const auto* samples = reinterpret_cast<const std::uint16_t*>(bytes.data());
    for (int i = 0; i < 40 * 30; ++i) ASSERT_EQ(samples[i], twelve(i % 40, i / 40) << 4) << i;
}

TEST_F(Jpeg2000SourceTest, DamagedFilesDoNotOpen) {
    std::ifstream in(Encode(123, 77, 255, Pattern, {"-t", "16,16", "-n", "2"}), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(dir / "cut.jp2", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    for (int round = 0; round < 3; ++round) {
        const auto source = plat::ImageSource::Open(dir / "cut.jp2");
        EXPECT_TRUE(!source || !source->createImage(0));
    }
}
