// Hostile files found by fuzzing the image sources: each must be refused
// cleanly, without allocating for what the file only claims.

#include "ImageTestSupport.h"

#include "platform/ImageDestination.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"
#include "platform/PropertyList.h"

#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfPreviewImage.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <OpenEXR/ImfStringVectorAttribute.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace imagetest;

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutU32BE(Bytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = std::uint8_t(value >> 24);
    bytes[at + 1] = std::uint8_t(value >> 16);
    bytes[at + 2] = std::uint8_t(value >> 8);
    bytes[at + 3] = std::uint8_t(value);
}

Bytes EncodePng(int width, int height) {
    auto destination = plat::ImageDestination::CreateWithData("public.png");
    destination->addImage(MakeTestImage(width, height, true));
    EXPECT_TRUE(destination->finalize());
    return destination->data();
}

// A PNG whose header claims width × height, checksum intact.
Bytes PngClaiming(std::uint32_t width, std::uint32_t height) {
    Bytes png = EncodePng(8, 8);
    PutU32BE(png, 16, width);
    PutU32BE(png, 20, height);
    PutU32BE(png, 29, std::uint32_t(crc32(0, &png[12], 17)));
    return png;
}

Bytes IcnsWith(const Bytes& member) {
    Bytes icns = {'i', 'c', 'n', 's', 0, 0, 0, 0, 'i', 'c', '0', '7', 0, 0, 0, 0};
    icns.insert(icns.end(), member.begin(), member.end());
    PutU32BE(icns, 4, std::uint32_t(icns.size()));
    PutU32BE(icns, 12, std::uint32_t(member.size() + 8));
    return icns;
}

// An OpenEXR file in memory: width × height pixels at (left, top) of the
// data window, red above the middle row and blue below, DWAB-compressed (a
// flat image of millions of pixels takes a few kilobytes).
class ExrMemory : public Imf::OStream {
public:
    ExrMemory() : Imf::OStream("memory") {}
    void write(const char c[], int n) override {
        if (position_ + std::size_t(n) > bytes.size()) bytes.resize(position_ + std::size_t(n));
        std::memcpy(bytes.data() + position_, c, std::size_t(n));
        position_ += std::size_t(n);
    }
    uint64_t tellp() override { return position_; }
    void seekp(uint64_t position) override { position_ = std::size_t(position); }
    Bytes bytes;

private:
    std::size_t position_ = 0;
};

Bytes FlatExr(int left, int top, int width, int height, bool extraAttributes = false) {
    const Imath::Box2i window(Imath::V2i(left, top), Imath::V2i(left + width - 1, top + height - 1));
    Imf::Header header(window, window);
    header.compression() = Imf::DWAB_COMPRESSION;
    if (extraAttributes) {
        // Attributes of every way the library reads them: fixed sizes,
        // strings, lists of strings, a preview image.
        Imf::addOwner(header, "someone");
        Imf::addChromaticities(header, Imf::Chromaticities());
        Imf::addFramesPerSecond(header, Imf::Rational(24, 1));
        Imf::addWorldToCamera(header, Imath::M44f());
        Imf::addMultiView(header, Imf::StringVector{"left", "right"});
        Imf::PreviewImage preview(3, 2);
        header.setPreviewImage(preview);
    }
    ExrMemory memory;
    {
        Imf::RgbaOutputFile file(memory, header, Imf::WRITE_RGBA, 1);
        std::vector<Imf::Rgba> row(static_cast<std::size_t>(width));
        for (int y = 0; y < height; ++y) {
            const bool upper = y < height / 2;
            std::fill(row.begin(), row.end(), Imf::Rgba(upper ? 1.0f : 0.0f, 0.0f, upper ? 0.0f : 1.0f, 1.0f));
            file.setFrameBuffer(row.data() - left - std::ptrdiff_t(top + y) * width, 1, std::size_t(width));
            file.writePixels(1);
        }
    }
    return memory.bytes;
}

}  // namespace

TEST(HostileImageInput, SmallOpenExrOfManyPixelsDecodesInStrips) {
    // A few kilobytes standing for 4 million pixels: decoded strip by strip
    // into 8-bit pixels, rows in order, wherever the data window lies.
    plat::Initialize();
    for (const auto& origin : {std::pair{0, 0}, std::pair{-7, 13}}) {
        const Bytes exr = FlatExr(origin.first, origin.second, 2048, 2048);
        ASSERT_LT(exr.size(), 200000u);
        auto source = plat::ImageSource::OpenData(exr, "x.exr");
        ASSERT_TRUE(source);
        EXPECT_EQ(source->properties(0).integer(plat::prop::Depth), 16);
        auto image = source->createImage(0);
        ASSERT_TRUE(image);
        ASSERT_EQ(image->width(), 2048);
        ASSERT_EQ(image->height(), 2048);
        for (int y : {0, 700, 1023}) {
            const auto p = PixelAt(*image, 100, y);
            EXPECT_GT(p[0], 240) << y;
            EXPECT_LT(p[2], 15) << y;
        }
        for (int y : {1024, 1600, 2047}) {
            const auto p = PixelAt(*image, 2000, y);
            EXPECT_LT(p[0], 15) << y;
            EXPECT_GT(p[2], 240) << y;
            EXPECT_EQ(p[3], 255);
        }
    }
}

TEST(HostileImageInput, OpenExrAttributeClaimingGigabytesIsRefused) {
    // The library allocates an attribute's stated size before reading it.
    plat::Initialize();
    const Bytes good = FlatExr(0, 0, 16, 8, true);
    auto source = plat::ImageSource::OpenData(good, "x.exr");
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->createImage(0));
    for (std::uint32_t stated : {0x70000000u, 0xFFFFFFF0u, 100000u}) {
        Bytes hostile(good.begin(), good.begin() + 8);
        const char attribute[] = "junk\0opaque";
        hostile.insert(hostile.end(), attribute, attribute + sizeof attribute);
        for (int i = 0; i < 4; ++i) hostile.push_back(std::uint8_t(stated >> (8 * i)));
        hostile.insert(hostile.end(), good.begin() + 8, good.end());
        EXPECT_FALSE(plat::ImageSource::OpenData(hostile, "x.exr")) << stated;
    }
}

TEST(HostileImageInput, IcnsMemberClaimingAHugeSizeIsRefused) {
    // The member's PNG header claims 100000 × 100000 pixels (40 GB decoded).
    plat::Initialize();
    TempFolder folder;
    const Bytes icns = IcnsWith(PngClaiming(100000, 100000));
    EXPECT_FALSE(plat::ImageSource::OpenData(icns, "x.icns"));
    WriteFile(folder / "huge.icns", icns);
    EXPECT_FALSE(plat::ImageSource::Open(folder / "huge.icns"));
    EXPECT_FALSE(plat::ImageRep::Load(folder / "huge.icns"));

    // A sane member in a file that goes on for 300 MB (sparse): an icon file
    // that size is not read into memory.
    WriteFile(folder / "long.icns", IcnsWith(EncodePng(16, 16)));
    ASSERT_TRUE(plat::ImageSource::Open(folder / "long.icns"));
    ASSERT_EQ(::truncate((folder / "long.icns").c_str(), 300LL << 20), 0);
    EXPECT_FALSE(plat::ImageSource::Open(folder / "long.icns"));

    // The same container with a sane member still opens.
    auto sane = plat::ImageSource::OpenData(IcnsWith(EncodePng(16, 16)), "x.icns");
    ASSERT_TRUE(sane);
    auto image = sane->createImage(0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 16);
}

TEST(HostileImageInput, ShrinkOnLoadOfSidesShorterThanTheFactor) {
    // libvips's JPEG loader aborts the process when a shrunk side would be
    // empty: a 1 × 200 strip loaded at an eighth must come out whole.
    plat::Initialize();
    TempFolder folder;
    for (const char* type : {"public.jpeg", "org.webmproject.webp"}) {
        for (const auto& size : {std::pair{1, 200}, std::pair{200, 3}, std::pair{5, 9}}) {
            auto destination = plat::ImageDestination::CreateWithData(type);
            destination->addImage(MakeTestImage(size.first, size.second));
            ASSERT_TRUE(destination->finalize()) << type;
            auto source = plat::ImageSource::OpenData(destination->data());
            ASSERT_TRUE(source) << type;
            for (int shrink : {2, 4, 8}) {
                auto image = source->createImage(0, plat::DecodeOptions{shrink, false});
                ASSERT_TRUE(image) << type << " " << size.first << "x" << size.second << " /" << shrink;
                EXPECT_GE(image->width(), 1);
                EXPECT_LE(image->width(), size.first);
                auto rep = plat::ImageRep::Load(source, 0, plat::ImageRepOptions{shrink, true});
                ASSERT_TRUE(rep);
                EXPECT_EQ(rep->pixelsWide(), size.first);
                EXPECT_EQ(rep->pixelsHigh(), size.second);
            }
        }
    }
    const std::string name = (folder / "strip.jpg").string();
    auto destination = plat::ImageDestination::CreateWithPath(name, "public.jpeg");
    destination->addImage(MakeTestImage(2, 1000));
    ASSERT_TRUE(destination->finalize());
    auto thumbnail = plat::ImageRep::LoadThumbnail(name, 64);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->image()->height(), 64);
}

TEST(HostileImageInput, NamedPipeIsNoImageAndDoesNotBlock) {
    // Opening a FIFO for reading waits for a writer: a pipe among the files
    // of a list must be passed over at once.
    plat::Initialize();
    TempFolder folder;
    const auto pipe = folder / "photo.jpg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(plat::ImageSource::Open(pipe));
    EXPECT_FALSE(plat::ImageRep::Load(pipe));
    EXPECT_FALSE(plat::ImageRep::LoadThumbnail(pipe, 64));
}

TEST(HostilePropertyList, BinaryStringHoldingANulIsRefused) {
    // A one-object binary list: the UTF-16 string "a?b", its middle
    // character varied. libplist's copying getter asserts on a NUL (ending
    // the process).
    auto list = [](std::uint8_t middle) {
        Bytes bytes = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x63, 0, 'a', 0, middle, 0, 'b', 0x08};
        const std::uint8_t trailer[32] = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1,
                                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15};
        bytes.insert(bytes.end(), std::begin(trailer), std::end(trailer));
        return bytes;
    };
    const Bytes plain = list(' ');
    auto value = plat::PropertyList::fromData(plain.data(), plain.size());
    ASSERT_TRUE(value);
    EXPECT_EQ(value->asString(), "a b");
    const Bytes hostile = list(0);
    EXPECT_FALSE(plat::PropertyList::fromData(hostile.data(), hostile.size()));

    // The same string as a dictionary key: {"a\0b": 1}.
    Bytes keyed = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xD1, 1, 2, 0x63, 0, 'a', 0, 0, 0, 'b', 0x10, 1,
                   0x08, 0x0B, 0x12};
    const std::uint8_t trailer[32] = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 3,
                                      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20};
    keyed.insert(keyed.end(), std::begin(trailer), std::end(trailer));
    EXPECT_FALSE(plat::PropertyList::fromData(keyed.data(), keyed.size()));
    keyed[15] = ' ';
    auto withKey = plat::PropertyList::fromData(keyed.data(), keyed.size());
    ASSERT_TRUE(withKey);
    ASSERT_TRUE(withKey->find("a b"));

    // XML text never holds a NUL; libplist kept it in the key.
    const std::string xml = std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a") + '\0' +
                            "b</key><string>x</string></dict></plist>";
    EXPECT_FALSE(plat::PropertyList::fromData(xml));
}
