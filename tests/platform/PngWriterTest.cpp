#include "ImageTestSupport.h"

#include "platform/codecs/PngWriter.h"

#include <png.h>
#include <zlib.h>

#include <functional>
#include <stdexcept>
#include <thread>

namespace {

using vips::VImage;
using imagetest::SamplesOf;

std::vector<std::uint8_t> Encode(const VImage& image) {
    std::vector<std::uint8_t> png;
    plat::codecs::WritePng(image, [&png](const void* data, std::size_t size) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        png.insert(png.end(), bytes, bytes + size);
        return true;
    });
    return png;
}

// The image libpng reads back from the written file.
VImage Decode(const std::vector<std::uint8_t>& png) {
    return VImage::new_from_buffer(png.data(), png.size(), "").copy_memory();
}

// Seeded noise over a smooth ramp: rows that each filter suits somewhere.
VImage Pixels(int width, int height, int bands, bool sixteen) {
    plat::Initialize();
    VImage ramp = VImage::xyz(width, height)[0] * (255.0 / std::max(1, width - 1));
    VImage noise = VImage::gaussnoise(width, height, VImage::option()->set("seed", 3)->set("sigma", 20));
    std::vector<VImage> planes;
    for (int b = 0; b < bands; ++b) planes.push_back(b % 2 ? ramp : (ramp + noise - 128));
    VImage out = VImage::bandjoin(planes);
    const bool colour = bands >= 3;
    if (sixteen) {
        return (out * 257).cast(VIPS_FORMAT_USHORT).copy(VImage::option()->set(
            "interpretation", colour ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_GREY16));
    }
    return out.cast(VIPS_FORMAT_UCHAR).copy(
        VImage::option()->set("interpretation", colour ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_B_W));
}

// The IDAT chunks of a PNG, joined: one zlib stream.
std::vector<std::uint8_t> ImageData(const std::vector<std::uint8_t>& png) {
    std::vector<std::uint8_t> data;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length = std::size_t(png[at]) << 24 | std::size_t(png[at + 1]) << 16 |
                                   std::size_t(png[at + 2]) << 8 | png[at + 3];
        if (std::memcmp(&png[at + 4], "IDAT", 4) == 0) {
            data.insert(data.end(), png.begin() + std::ptrdiff_t(at + 8), png.begin() + std::ptrdiff_t(at + 8 + length));
        }
        at += 12 + length;
    }
    return data;
}

struct Layout { const char* name; int width, height, bands; bool sixteen; };

class PngWriterLayouts : public ::testing::TestWithParam<Layout> {};

}  // namespace

// The file libpng reads back holds the same samples, whatever the layout, in one band or many joined ones.
TEST_P(PngWriterLayouts, DecodesToTheSameSamples) {
    const Layout& c = GetParam();
    const VImage image = Pixels(c.width, c.height, c.bands, c.sixteen);
    ASSERT_TRUE(plat::codecs::CanWritePng(image));
    const VImage back = Decode(Encode(image));
    EXPECT_EQ(std::tuple(back.width(), back.height(), back.bands(), back.format()),
              std::tuple(c.width, c.height, c.bands, c.sixteen ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR));
    EXPECT_EQ(SamplesOf(back), SamplesOf(image));
}

INSTANTIATE_TEST_SUITE_P(PngWriter, PngWriterLayouts,
                         ::testing::Values(Layout{"Grey", 300, 200, 1, false}, Layout{"GreyAlpha", 300, 200, 2, false},
                                           Layout{"Rgb", 300, 200, 3, false}, Layout{"Rgba", 300, 200, 4, false},
                                           Layout{"Rgb16", 300, 200, 3, true}, Layout{"Grey16", 300, 200, 1, true},
                                           Layout{"OnePixel", 1, 1, 3, false},
                                           // Many bands of a few rows, and bands of one row each.
                                           Layout{"Tall", 7, 60000, 4, false},
                                           Layout{"ManyBands", 1500, 1000, 4, true},
                                           Layout{"WideRows", 200000, 12, 3, false}),
                         [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

TEST(PngWriter, KeepsResolutionAndProfile) {
    VImage image = Pixels(64, 32, 3, false).icc_transform(
        "srgb", VImage::option()->set("input_profile", "srgb")->set("embedded", false));
    image = image.copy(VImage::option()->set("xres", 300 / 25.4)->set("yres", 150 / 25.4));
    ASSERT_TRUE(vips_image_get_typeof(image.get_image(), VIPS_META_ICC_NAME));
    const VImage back = Decode(Encode(image));
    EXPECT_NEAR(back.xres() * 25.4, 300.0, 0.1);
    EXPECT_NEAR(back.yres() * 25.4, 150.0, 0.1);
    EXPECT_TRUE(vips_image_get_typeof(back.get_image(), VIPS_META_ICC_NAME));
}

// Layouts libvips's own saver converts first are left to it.
TEST(PngWriter, TakesOnlyPlainLayouts) {
    const VImage rgb = Pixels(8, 8, 3, false);
    EXPECT_FALSE(plat::codecs::CanWritePng(rgb.cast(VIPS_FORMAT_FLOAT)));
    EXPECT_FALSE(plat::codecs::CanWritePng(rgb.colourspace(VIPS_INTERPRETATION_CMYK)));
    EXPECT_FALSE(plat::codecs::CanWritePng(rgb.colourspace(VIPS_INTERPRETATION_LAB)));
    EXPECT_FALSE(plat::codecs::CanWritePng(rgb.bandjoin({rgb})));
}

// A write that fails at any point, or pixels that cannot be computed, end in an exception, never a hang or
// a crash (bands may still be deflating).
TEST(PngWriter, FailuresThrow) {
    const VImage image = Pixels(1500, 1000, 4, false);
    for (int failAt : {1, 3, 8, 20}) {
        int writes = 0;
        const auto write = [&](const void*, std::size_t) { return ++writes < failAt; };
        EXPECT_THROW(plat::codecs::WritePng(image, write), vips::VError) << failAt;
    }
    // Pixels whose computation fails: an image cut from a truncated file.
    const std::vector<std::uint8_t> whole = Encode(image);
    const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() / 2));
    const VImage broken =
        VImage::new_from_buffer(cut.data(), cut.size(), "", VImage::option()->set("fail_on", VIPS_FAIL_ON_TRUNCATED));
    EXPECT_THROW(Encode(broken), vips::VError);
}

// Images written side by side share the deflating threads: each file holds its own rows, every round.
TEST(PngWriter, ImagesWrittenAtOnceEachKeepTheirRows) {
    const Layout layouts[] = {{"Rgb", 1500, 900, 3, false}, {"Grey16", 900, 1500, 1, true},
                              {"Rgba", 2000, 700, 4, false}, {"Tall", 5, 40000, 3, false}};
    std::vector<VImage> images;
    std::vector<std::vector<std::uint8_t>> samples;
    for (const Layout& l : layouts) {
        images.push_back(Pixels(l.width, l.height, l.bands, l.sixteen));
        samples.push_back(SamplesOf(images.back()));
    }
    for (int round = 0; round < 3; ++round) {
        std::vector<std::vector<std::uint8_t>> files(images.size());
        std::vector<std::thread> writers;
        for (std::size_t i = 0; i < images.size(); ++i) writers.emplace_back([&, i] { files[i] = Encode(images[i]); });
        for (std::thread& writer : writers) writer.join();
        for (std::size_t i = 0; i < images.size(); ++i) {
            EXPECT_EQ(SamplesOf(Decode(files[i])), samples[i]) << layouts[i].name << " round " << round;
        }
    }
}

// Rows that repeat the one above (the white of a page) skip the filter search: runs of every length,
// across the joins of bands, at the top and the bottom, and whole images of them read back the same.
TEST(PngWriter, RepeatedRowsBetweenOthersDecodeToTheSameSamples) {
    plat::Initialize();
    constexpr int kWidth = 1500;  // about 230 rows to a band
    // Runs of rows, repeated or not; the repeated rows' red (green and blue are 40).
    const struct Case { const char* name; std::vector<std::pair<int, bool>> runs; std::uint8_t ground = 250; } cases[] = {
        {"AllPlain", {{3000, true}}},
        {"PlainThenNoise", {{7, true}, {1, false}, {8, true}, {2, false}, {9, true}, {400, false}, {2500, true}}},
        {"NoiseThenPlain", {{1, false}, {600, true}, {3, false}, {1, true}, {5, false}, {231, true}, {1, false}}},
        // Repeated rows of zeros are their own filtered form.
        {"BlackBetweenNoise", {{2, false}, {300, true}, {1, false}, {2, true}}, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> pixels;
        std::uint32_t seed = 7;
        for (const auto& [rows, plain] : c.runs) {
            for (int r = 0; r < rows; ++r) {
                for (int i = 0; i < kWidth * 3; ++i) {
                    seed = seed * 1664525u + 1013904223u;
                    pixels.push_back(plain ? std::uint8_t(i % 3 == 0 ? c.ground : c.ground ? 40 : 0)
                                          : std::uint8_t(seed >> 24));
                }
            }
        }
        const int height = int(pixels.size() / (kWidth * 3));
        const VImage image = VImage::new_from_memory(pixels.data(), pixels.size(), kWidth, height, 3, VIPS_FORMAT_UCHAR)
                                 .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        const VImage back = Decode(Encode(image));
        EXPECT_EQ(back.height(), height) << c.name;
        EXPECT_EQ(SamplesOf(back), pixels) << c.name;
    }
}

// What libpng writes for ImageMagick's PNG files: its adaptive filters and zlib's level 7 with the filtered
// strategy, over 8-bit RGB pixels.
std::vector<std::uint8_t> LibpngEncode(const VImage& image) {
    std::vector<std::uint8_t> out;
    std::size_t size = 0;
    auto* pixels = static_cast<std::uint8_t*>(image.write_to_memory(&size));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info && !setjmp(png_jmpbuf(png))) {
        png_set_write_fn(
            png, &out,
            [](png_structp p, png_bytep data, png_size_t length) {
                auto* file = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
                file->insert(file->end(), data, data + length);
            },
            nullptr);
        png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 7);
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
        png_write_info(png, info);
        for (int y = 0; y < image.height(); ++y) png_write_row(png, pixels + std::size_t(y) * std::size_t(image.width()) * 3);
        png_write_end(png, info);
    } else {
        out.clear();
    }
    png_destroy_write_struct(&png, &info);
    g_free(pixels);
    return out;
}

// The pixel data deflates to no more than libpng makes of the same pixels with its adaptive filters and
// zlib's level 7, filtered strategy (what ImageMagick writes): grainy photographs, the same enlarged smooth,
// a photograph reduced onto a page, and drawings with text.
TEST(PngWriter, DeflatesNoLargerThanLibpngsStrongestUsualSetting) {
    plat::Initialize();
    const VImage grain = Pixels(1200, 900, 3, false);
    const VImage smooth = Pixels(300, 225, 3, false).resize(4.0, VImage::option()->set("kernel", VIPS_KERNEL_LINEAR));
    // Texture over smooth gradients and hard-edged shapes, averaged down by three as a page renderer does.
    const VImage texture = VImage::gaussnoise(2400, 1800, VImage::option()->set("seed", 5)->set("sigma", 12)).gaussblur(2.5);
    const VImage x = VImage::xyz(2400, 1800)[0], y = VImage::xyz(2400, 1800)[1];
    const VImage shapes = (((x / 150).cast(VIPS_FORMAT_INT) + (y / 110).cast(VIPS_FORMAT_INT)) % 5) * 30;
    const VImage reduced = VImage::bandjoin({shapes + x / 19 + texture, shapes * 0.5 + y / 13 + texture, 200 - shapes + texture * 0.5})
                               .shrink(3, 3)
                               .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    VImage drawing =
        (VImage::black(1600, 1200, VImage::option()->set("bands", 3)) + 255).cast(VIPS_FORMAT_UCHAR).copy_memory();
    for (int i = 0; i < 40; ++i) {
        drawing.draw_rect({double(i * 6 % 255), 40.0, 200.0}, (i * 97) % 1500, (i * 53) % 1100, 90, 12,
                          VImage::option()->set("fill", true));
        drawing.draw_line({0.0, 0.0, 0.0}, 0, i * 30, 1599, 1199 - i * 20);
    }
    drawing = drawing.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    const std::pair<const char*, VImage> cases[] = {
        {"grain", grain}, {"smooth", smooth}, {"reduced", reduced}, {"drawing", drawing}};
    for (const auto& [name, image] : cases) {
        const VImage pixels = image.cast(VIPS_FORMAT_UCHAR).copy_memory();
        const std::size_t reference = ImageData(LibpngEncode(pixels)).size();
        ASSERT_GT(reference, 0u) << name;
        EXPECT_LE(ImageData(Encode(pixels)).size(), reference) << name;
    }
}
