// How a resize conversion decodes its source (one pass, lazily, shrunk) and
// what the alpha-weighted resize gives end to end.

#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/ImageConverter.h"
#include "engine/ImageTypes.h"
#include "engine/RenderingResize.h"
#include "platform/ImageRep.h"

#include <fstream>

using namespace convtest;

namespace {

class RenderingDecodeTest : public ConversionTest {};

plat::PropertyDict Stored(int width, int height) {
    plat::PropertyDict stored;
    stored.set(plat::prop::PixelWidth, std::int64_t(width));
    stored.set(plat::prop::PixelHeight, std::int64_t(height));
    return stored;
}

ImageConversion HalfSize(const std::filesystem::path& in, const std::filesystem::path& out, int type) {
    ImageConversion record;
    record.sourceURL = in;
    record.destinationURL = out;
    record.options.outputType = type;
    record.options.quality = 0.8;
    record.resize.keepProportions = 1;
    record.resize.applySize = 1;
    record.resize.width = 50;
    record.resize.height = 50;
    record.resize.unit = 1;  // percent
    record.resize.scaleOption = 2;
    return record;
}

void Truncate(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::ifstream in(from, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(to, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
}

// Overwrites the middle third of the file; its end chunk stays in place.
void Damage(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::ifstream in(from, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::fill(bytes.begin() + std::ptrdiff_t(bytes.size() / 3), bytes.begin() + std::ptrdiff_t(2 * bytes.size() / 3), '\x55');
    std::ofstream(to, std::ios::binary) << bytes;
}

// A noisy image: PNG cannot compress it, so half the file holds half the rows.
plat::ImageRef Noise(int width, int height) {
    return MakeImage(width, height, [](int x, int y) -> RGBA {
        const unsigned v = unsigned(x * 2654435761u) ^ unsigned(y * 40503u);
        return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), 255};
    });
}

}  // namespace

TEST_F(RenderingDecodeTest, PlanIsOnePassForReadOnceEncodersAndLazyUnlessTheImageIsHandedBack) {
    ImageConverter c;
    InitImageConverter(&c);
    c.sourceURL = dir / "a.png";
    const ImageResizeOptions keep;  // nothing resized

    c.outputType = kImageTypePNG;
    plat::ImageRep::Options plan = PlanSourceDecode(&c, keep, Stored(40, 30));
    EXPECT_TRUE(plan.sequential);
    EXPECT_TRUE(plan.lazy);

    c.outputType = kImageTypeGIF;  // encoded from memory: random access
    plan = PlanSourceDecode(&c, keep, Stored(40, 30));
    EXPECT_FALSE(plan.sequential);
    EXPECT_TRUE(plan.lazy);

    c.outputType = kImageTypePNG;
    c.returnImage = 1;  // the pixels outlive the conversion
    plan = PlanSourceDecode(&c, keep, Stored(40, 30));
    EXPECT_FALSE(plan.sequential);
    EXPECT_FALSE(plan.lazy);
}

TEST_F(RenderingDecodeTest, LazyLoadDecodesOnFirstReadWithTheSamePixels) {
    ASSERT_TRUE(WriteImage(dir / "good.png", Noise(64, 48), "public.png"));
    auto eager = plat::ImageRep::Load(dir / "good.png");
    auto lazy = plat::ImageRep::Load(dir / "good.png", plat::ImageRep::Options{1, false, true});
    ASSERT_TRUE(eager && lazy);
    EXPECT_EQ(RGBAOf(*lazy->image()), RGBAOf(*eager->image()));

    // Damaged pixel data: refused during an eager load, when read after a
    // lazy one. (A file cut short is refused by both at once.)
    ASSERT_TRUE(WriteImage(dir / "big.png", Noise(400, 300), "public.png"));
    Truncate(dir / "big.png", dir / "cut.png");
    EXPECT_FALSE(plat::ImageRep::Load(dir / "cut.png", plat::ImageRep::Options{1, false, true}));
    Damage(dir / "big.png", dir / "damaged.png");
    EXPECT_FALSE(plat::ImageRep::Load(dir / "damaged.png"));
    auto damaged = plat::ImageRep::Load(dir / "damaged.png", plat::ImageRep::Options{1, false, true});
    ASSERT_TRUE(damaged);
    EXPECT_THROW((void)damaged->image()->vimage().avg(), vips::VError);
    vips_error_clear();
}

TEST_F(RenderingDecodeTest, BrokenSourceFoundWhileEncodingFailsAndWritesNothing) {
    ASSERT_TRUE(WriteImage(dir / "big.png", Noise(400, 300), "public.png"));
    Damage(dir / "big.png", dir / "cut.png");
    // GIF output reads the source at random, from a lazy load: the damage
    // is met while encoding.
    ImageConversion record = HalfSize(dir / "cut.png", dir / "out.gif", kImageTypeGIF);
    EXPECT_EQ(ConvertImageWithOptions(&record), 0);
    // Nothing left behind beside the two sources.
    EXPECT_EQ(dir.entries().size(), 2u);
}

TEST_F(RenderingDecodeTest, HalvingATransparentPngKeepsEdgeColoursClean) {
    // Opaque blue on the left, fully transparent white on the right: the
    // border pixels turn partly transparent but stay pure blue, never a
    // whitened or darkened blend.
    const int w = 300, h = 120;
    ASSERT_TRUE(WriteImage(dir / "edge.png", MakeImage(w, h, [&](int x, int) -> RGBA {
                               return x < w / 2 ? RGBA{0, 0, 255, 255} : RGBA{255, 255, 255, 0};
                           }, true),
                           "public.png"));
    ImageConversion record = HalfSize(dir / "edge.png", dir / "half.png", kImageTypePNG);
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded out = Decode(dir / "half.png");
    ASSERT_EQ(out.width, w / 2);
    ASSERT_EQ(out.height, h / 2);
    int partial = 0;
    for (int x = 0; x < out.width; ++x) {
        const RGBA p = out.at(x, out.height / 2);
        if (p[3] == 0) continue;
        partial += p[3] < 255;
        EXPECT_EQ(p[0], 0) << x;
        EXPECT_EQ(p[1], 0) << x;
        EXPECT_EQ(p[2], 255) << x;
    }
    EXPECT_GT(partial, 0);
}

TEST_F(RenderingDecodeTest, PngCutShortFailsOnEveryDecodePathAndOneWithTrailingBytesConverts) {
    ASSERT_TRUE(WriteImage(dir / "big.png", Noise(400, 300), "public.png"));
    Truncate(dir / "big.png", dir / "cut.png");
    // PNG output decodes in one pass, GIF output lazily at random, and the
    // handed-back image eagerly: each must see the damage.
    for (int round = 0; round < 4; ++round) {
        ImageConversion png = HalfSize(dir / "cut.png", dir / "out.png", kImageTypePNG);
        EXPECT_EQ(ConvertImageWithOptions(&png), 0);
        ImageConversion gif = HalfSize(dir / "cut.png", dir / "out.gif", kImageTypeGIF);
        EXPECT_EQ(ConvertImageWithOptions(&gif), 0);
        ImageConversion shown = HalfSize(dir / "cut.png", {}, kImageTypePNG);
        shown.returnImage = 1;
        EXPECT_EQ(ConvertImageWithOptions(&shown), 0);
        EXPECT_EQ(dir.entries().size(), 2u);
    }
    // Bytes after the end chunk are harmless.
    {
        std::ofstream(dir / "big.png", std::ios::binary | std::ios::app) << std::string(1000, 'x');
    }
    ImageConversion record = HalfSize(dir / "big.png", dir / "half.png", kImageTypePNG);
    EXPECT_EQ(ConvertImageWithOptions(&record), 1);
}
