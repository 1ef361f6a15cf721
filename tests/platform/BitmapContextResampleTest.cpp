#include "platform/BitmapContextResample.h"
#include "platform/Initialize.h"
#include "ImageTestSupport.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <tuple>
#include <vector>

namespace {

using vips::VImage;
using imagetest::SamplesOf;

class ResampleTest : public ::testing::Test {
protected:
    void SetUp() override { plat::Initialize(); }
};

VImage FromBytes(std::vector<std::uint8_t>& bytes, int width, int height, int bands) {
    return VImage::new_from_memory(bytes.data(), bytes.size(), width, height, bands, VIPS_FORMAT_UCHAR);
}

// A smooth RGBA pattern with alpha varying across it.
std::vector<std::uint8_t> Pattern(int width, int height) {
    std::vector<std::uint8_t> rgba(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgba[(std::size_t(y) * width + x) * 4];
            p[0] = std::uint8_t(x * 255 / (width - 1));
            p[1] = std::uint8_t(y * 255 / (height - 1));
            p[2] = std::uint8_t((x + y) % 256);
            p[3] = std::uint8_t(20 + (x * 7 + y * 3) % 236);
        }
    }
    return rgba;
}

// The same resampling done the slow way: premultiplied floats through libvips.
VImage FloatReference(const VImage& image, int width, int height) {
    return image.premultiply()
        .resize(double(width) / image.width(), VImage::option()
                                                   ->set("vscale", double(height) / image.height())
                                                   ->set("kernel", VIPS_KERNEL_LANCZOS3))
        .unpremultiply()
        .round(VIPS_OPERATION_ROUND_RINT)
        .cast(VIPS_FORMAT_UCHAR);
}

TEST_F(ResampleTest, ReductionsMatchPremultipliedFloatResampling) {
    std::vector<std::uint8_t> rgba = Pattern(301, 203);
    const VImage source = FromBytes(rgba, 301, 203, 4);
    for (auto [w, h] : {std::pair{150, 101}, {200, 77}, {301, 100}, {97, 203}}) {
        const VImage ours = plat::ResizeAlphaWeighted(source, w, h);
        ASSERT_EQ(ours.width(), w);
        ASSERT_EQ(ours.height(), h);
        ASSERT_EQ(ours.bands(), 4);
        ASSERT_EQ(ours.format(), VIPS_FORMAT_UCHAR);
        const VImage reference = FloatReference(source, w, h);
        // Kernels sampled a little differently: a level or two apart at the
        // pattern's hard edges, the same elsewhere.
        const VImage difference = (ours.cast(VIPS_FORMAT_INT) - reference.cast(VIPS_FORMAT_INT)).abs();
        EXPECT_LE(difference.max(), 2.0) << w << "x" << h;
        EXPECT_LT(difference.avg(), 0.05) << w << "x" << h;
    }
}

TEST_F(ResampleTest, TransparentPixelsLendNoColour) {
    // Left half opaque red, right half fully transparent green: no pixel of
    // the result may turn green or dark, only more transparent.
    const int w = 64, h = 16;
    std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &rgba[(std::size_t(y) * w + x) * 4];
            if (x < w / 2) p[0] = 255, p[3] = 255;
            else p[1] = 255;
        }
    }
    const std::vector<std::uint8_t> out = SamplesOf(plat::ResizeAlphaWeighted(FromBytes(rgba, w, h, 4), 21, 5));
    bool sawPartial = false;
    for (std::size_t i = 0; i < out.size(); i += 4) {
        if (out[i + 3] == 0) {
            EXPECT_EQ(out[i] + out[i + 1] + out[i + 2], 0);  // fully transparent is black
            continue;
        }
        sawPartial = sawPartial || out[i + 3] < 250;
        EXPECT_EQ(out[i], 255) << "pixel " << i / 4;
        EXPECT_EQ(out[i + 1], 0) << "pixel " << i / 4;
        EXPECT_EQ(out[i + 2], 0) << "pixel " << i / 4;
    }
    EXPECT_TRUE(sawPartial);
}

TEST_F(ResampleTest, FlatColourStaysExactAtAnySize) {
    for (int bands : {2, 4, 5}) {
        std::vector<std::uint8_t> pixels(std::size_t(13) * 9 * bands);
        for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint8_t(40 + 30 * (i % bands));
        const VImage source = FromBytes(pixels, 13, 9, bands);
        for (auto [w, h] : {std::pair{1, 1}, {4, 3}, {13, 9}, {40, 7}, {301, 211}}) {
            const std::vector<std::uint8_t> out = SamplesOf(plat::ResizeAlphaWeighted(source, w, h));
            ASSERT_EQ(out.size(), std::size_t(w) * h * bands);
            for (std::size_t i = 0; i < out.size(); ++i) {
                ASSERT_EQ(out[i], pixels[i % bands]) << bands << " bands, " << w << "x" << h << " at " << i;
            }
        }
    }
}

TEST_F(ResampleTest, SameSizeKeepsThePixels) {
    std::vector<std::uint8_t> rgba = Pattern(31, 17);
    const std::vector<std::uint8_t> out = SamplesOf(plat::ResizeAlphaWeighted(FromBytes(rgba, 31, 17, 4), 31, 17));
    ASSERT_EQ(out.size(), rgba.size());
    for (std::size_t i = 0; i < out.size(); i += 4) {
        // Colour goes through alpha and back: exact to rounding.
        EXPECT_EQ(out[i + 3], rgba[i + 3]);
        for (int b = 0; b < 3; ++b) EXPECT_NEAR(out[i + b], rgba[i + b], 1) << i / 4;
    }
}

TEST_F(ResampleTest, OneTallRequestGivesTheSameRowsAsStrips) {
    std::vector<std::uint8_t> rgba = Pattern(120, 500);
    const VImage resized = plat::ResizeAlphaWeighted(FromBytes(rgba, 120, 500, 4), 70, 290);
    const std::vector<std::uint8_t> strips = SamplesOf(resized);
    VipsRegion* region = vips_region_new(resized.get_image());
    ASSERT_NE(region, nullptr);
    VipsRect all{0, 0, 70, 290};
    ASSERT_EQ(vips_region_prepare(region, &all), 0);
    for (int y = 0; y < 290; ++y) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(VIPS_REGION_ADDR(region, 0, y));
        ASSERT_TRUE(std::equal(row, row + 70 * 4, strips.begin() + std::ptrdiff_t(y) * 70 * 4)) << "row " << y;
    }
    g_object_unref(region);
}

TEST_F(ResampleTest, StreamsASequentiallyLoadedSourceAndFailsCleanlyOnATruncatedOne) {
    ScratchFolder folder;
    const int w = 900, h = 700;
    std::vector<std::uint8_t> rgba = Pattern(w, h);
    const auto png = folder / "source.png";
    FromBytes(rgba, w, h, 4).pngsave(png.c_str());
    const auto sequential = [](const std::filesystem::path& path) {
        return VImage::new_from_file(path.c_str(), VImage::option()
                                                       ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                                       ->set("fail_on", VIPS_FAIL_ON_TRUNCATED));
    };
    // Written once, top to bottom, as an encoder does; a large reduction too.
    for (auto [ow, oh] : {std::pair{450, 350}, {611, 699}, {9, 7}}) {
        const auto out = folder / "out.png";
        ASSERT_NO_THROW(plat::ResizeAlphaWeighted(sequential(png), ow, oh).pngsave(out.c_str())) << ow;
        EXPECT_EQ(VImage::new_from_file(out.c_str()).width(), ow);
    }

    std::vector<char> bytes(std::filesystem::file_size(png));
    std::ifstream(png, std::ios::binary).read(bytes.data(), std::streamsize(bytes.size()));
    const auto cut = folder / "cut.png";
    std::ofstream(cut, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size() / 2));
    EXPECT_THROW(plat::ResizeAlphaWeighted(sequential(cut), 450, 350).pngsave((folder / "bad.png").c_str()),
                 vips::VError);
    vips_error_clear();
}

// Large reductions of a one-pass source: every worker thread reads rows that
// its neighbours read too, and none may ask the decoder for rows it has
// already passed. The fault came and went with thread timing: repeated.
TEST_F(ResampleTest, LargeReductionsOfAOnePassSourceSucceedEveryTime) {
    ScratchFolder folder;
    for (auto [w, h, bands] : {std::tuple{1000, 3000, 4}, {3000, 1200, 2}}) {
        std::vector<std::uint8_t> rgba = Pattern(w, h);
        const auto png = folder / "big.png";
        FromBytes(rgba, w, h, 4).extract_band(4 - bands, VImage::option()->set("n", bands)).pngsave(png.c_str());
        for (auto [ow, oh] : {std::pair{320, 240}, {40, 9}, {1, 1}}) {
            for (int run = 0; run < 3; ++run) {
                const VImage source = VImage::new_from_file(
                    png.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)->set("fail_on", VIPS_FAIL_ON_ERROR));
                const auto out = folder / "small.png";
                ASSERT_NO_THROW(plat::ResizeAlphaWeighted(source, ow, oh).pngsave(out.c_str()))
                    << w << "x" << h << " to " << ow << "x" << oh << ", run " << run << ": " << vips_error_buffer();
            }
        }
    }
}

TEST_F(ResampleTest, RefusesImagesWithoutAlphaOrOf16Bits) {
    std::vector<std::uint8_t> grey(16, 9);
    EXPECT_THROW(plat::ResizeAlphaWeighted(FromBytes(grey, 4, 4, 1), 2, 2), vips::VError);
    EXPECT_THROW(plat::ResizeAlphaWeighted(FromBytes(grey, 2, 2, 4).cast(VIPS_FORMAT_USHORT), 1, 1), vips::VError);
    EXPECT_THROW(plat::ResizeAlphaWeighted(FromBytes(grey, 2, 2, 4), 0, 1), vips::VError);
    vips_error_clear();
}

// Worker threads share the horizontally resampled rows of a one-pass source;
// readers that overlap (a blur asks for rows around its own) must never see a
// row another thread has just released. The fault came and went with thread
// timing: repeated on many threads.
TEST_F(ResampleTest, SharedRowsOutliveEveryReader) {
    ScratchFolder folder;
    std::vector<std::uint8_t> rgba = Pattern(256, 256);
    const auto webp = folder / "logo.webp";
    FromBytes(rgba, 256, 256, 4).webpsave(webp.c_str(), VImage::option()->set("lossless", true));
    const int threads = vips_concurrency_get();
    vips_concurrency_set(16);
    for (auto [ow, oh] : {std::pair{100, 100}, {300, 180}}) {
        const VImage memory = VImage::new_from_file(webp.c_str()).copy_memory();
        const std::vector<std::uint8_t> expected = SamplesOf(plat::ResizeAlphaWeighted(memory, ow, oh).gaussblur(1.5));
        for (int run = 0; run < 60; ++run) {
            const VImage source = VImage::new_from_file(webp.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
            std::vector<std::uint8_t> got;
            ASSERT_NO_THROW(got = SamplesOf(plat::ResizeAlphaWeighted(source, ow, oh).gaussblur(1.5)))
                << ow << "x" << oh << ", run " << run << ": " << vips_error_buffer();
            ASSERT_EQ(got, expected) << ow << "x" << oh << ", run " << run;
        }
    }
    vips_concurrency_set(threads);
}

}  // namespace
