#include "pdf/JPEG2000Decoding.h"

#include "PdfTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pdftest;

namespace {

// Encodes planar raw samples (one component after another; 16-bit
// big-endian above 8 bits) losslessly with OpenJPEG's own encoder.
std::vector<std::uint8_t> EncodeRaw(const TempFolder& dir, const std::vector<std::uint8_t>& planar, int w, int h,
                                    int comps, int bits, bool sign, const std::string& extension) {
    const auto raw = dir.path() / "in.raw";
    const auto out = dir.path() / ("out." + extension);
    WriteFile(raw, Bytes(planar));
    const std::string format = std::to_string(w) + "," + std::to_string(h) + "," + std::to_string(comps) + "," +
                               std::to_string(bits) + "," + (sign ? "s" : "u");
    if (!RunTool({"opj_compress", "-i", raw.string(), "-o", out.string(), "-F", format, "-n", "1"})) return {};
    return ReadFile(out);
}

// Planar test samples: component c of pixel p is (p * 7 + c * 50) & 255.
std::vector<std::uint8_t> Planar(int pixels, int comps) {
    std::vector<std::uint8_t> v;
    for (int c = 0; c < comps; ++c)
        for (int p = 0; p < pixels; ++p) v.push_back(static_cast<std::uint8_t>((p * 7 + c * 50) & 255));
    return v;
}

class JPEG2000 : public testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("opj_compress")) GTEST_SKIP() << "opj_compress (libopenjp2-tools) is missing";
    }
    TempFolder dir;
};

struct Layout {
    int comps;
    const char* extension;
    std::int32_t model;
};

TEST_F(JPEG2000, InterleavesEveryComponentCountAndReportsItsModel) {
    const int w = 5, h = 3;
    for (const Layout& l : {Layout{1, "j2k", 1}, Layout{2, "jp2", 1}, Layout{3, "jp2", 2}, Layout{3, "j2k", 2},
                            Layout{4, "j2k", 3}, Layout{5, "jp2", 3}}) {
        const auto encoded = EncodeRaw(dir, Planar(w * h, l.comps), w, h, l.comps, 8, false, l.extension);
        ASSERT_FALSE(encoded.empty()) << l.comps;
        std::vector<std::uint8_t> samples;
        std::int32_t model = 0;
        std::int64_t comps = 0, width = 0, height = 0;
        ASSERT_EQ(DecodeJPEG2000Data(encoded, &samples, &model, &comps, &width, &height), 0) << l.comps;
        EXPECT_EQ(comps, l.comps);
        EXPECT_EQ(model, l.model) << l.comps << " components";
        EXPECT_EQ(width, w);
        EXPECT_EQ(height, h);
        ASSERT_EQ(samples.size(), std::size_t(w * h * l.comps));
        for (int p = 0; p < w * h; ++p)
            for (int c = 0; c < l.comps; ++c)
                ASSERT_EQ(samples[std::size_t(p * l.comps + c)], (p * 7 + c * 50) & 255) << p << "," << c;
    }
}

TEST_F(JPEG2000, SignedTwelveBitSamplesAreOffsetAndShifted) {
    // Samples -2048, -1, 0, 2047 as 16-bit big-endian two's complement.
    const std::vector<std::uint8_t> planar = {0xF8, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x07, 0xFF};
    const auto encoded = EncodeRaw(dir, planar, 4, 1, 1, 12, true, "j2k");
    ASSERT_FALSE(encoded.empty());
    std::vector<std::uint8_t> samples;
    std::int32_t model = 2;  // a caller's model stays
    std::int64_t comps = 0;
    ASSERT_EQ(DecodeJPEG2000Data(encoded, &samples, &model, &comps), 0);
    EXPECT_EQ(model, 2);
    EXPECT_EQ(samples, (std::vector<std::uint8_t>{0, 127, 128, 255}));
}

TEST_F(JPEG2000, SixComponentsAndBrokenDataFail) {
    const auto six = EncodeRaw(dir, Planar(4, 6), 2, 2, 6, 8, false, "j2k");
    ASSERT_FALSE(six.empty());
    std::vector<std::uint8_t> samples;
    std::int32_t model = 0;
    std::int64_t comps = 0;
    EXPECT_EQ(DecodeJPEG2000Data(six, &samples, &model, &comps), -1);
    EXPECT_TRUE(samples.empty());

    const std::vector<std::uint8_t> oneByte = {0xFF};
    EXPECT_EQ(DecodeJPEG2000Data(oneByte, &samples, &model, &comps), -1);
    const std::vector<std::uint8_t> garbage(200, 0x4F);
    EXPECT_EQ(DecodeJPEG2000Data(garbage, &samples, &model, &comps), -1);

    const auto good = EncodeRaw(dir, Planar(64 * 64, 3), 64, 64, 3, 8, false, "jp2");
    ASSERT_FALSE(good.empty());
    for (std::size_t cut : {std::size_t{12}, good.size() / 3, good.size() - 10}) {
        std::vector<std::uint8_t> truncated(good.begin(), good.begin() + std::ptrdiff_t(cut));
        samples.clear();
        const int result = DecodeJPEG2000Data(truncated, &samples, &model, &comps);
        if (result == 0) {
            EXPECT_EQ(samples.size(), 64u * 64u * 3u);
        }
    }
}

}  // namespace
