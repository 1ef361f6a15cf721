#include "ImageTestSupport.h"

#include "platform/FileManager.h"
#include "platform/ImageDestination.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"
#include "platform/codecs/MagickCodec.h"
#include "platform/codecs/TiffDirectories.h"

#include <cstring>
#include <random>

#include <unistd.h>

#include <tiffio.h>
#include <zlib.h>

using namespace imagetest;

namespace {

std::vector<std::uint8_t> Encode(const std::string& type, const plat::ImageRef& image,
                                 const plat::PropertyDict& properties = {}) {
    auto destination = plat::ImageDestination::CreateWithData(type);
    EXPECT_TRUE(destination) << type;
    if (!destination) return {};
    destination->addImage(image, properties);
    EXPECT_TRUE(destination->finalize()) << type;
    return destination->data();
}

// A MacPaint document: 512-byte header, then 720 PackBits rows of 72 bytes,
// each row one run (upper half black, lower half white).
std::vector<std::uint8_t> MacPaintFile() {
    std::vector<std::uint8_t> bytes(512, 0);
    for (int row = 0; row < 720; ++row) {
        bytes.push_back(0xB9);  // repeat the next byte 72 times
        bytes.push_back(row < 360 ? 0xFF : 0x00);
    }
    return bytes;
}

// Staging files of this process (others may run tests at the same time).
std::size_t StagingFilesLeft() {
    const std::string prefix = "magick-" + std::to_string(::getpid()) + "-";
    std::size_t n = 0;
    const auto folder = plat::FileManager::temporaryDirectory();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) ++n;
    }
    return n;
}

}  // namespace

TEST(ImageSource, ReadsFormatsThroughImageMagickWithTheirTypes) {
    TempFolder folder;
    auto image = MakeTestImage(12, 10);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* type;
    };
    const std::vector<Case> cases = {
        {"a.bmp", Encode("com.microsoft.bmp", image), "com.microsoft.bmp"},
        {"a.psd", Encode("com.adobe.photoshop-image", image), "com.adobe.photoshop-image"},
        {"a.tga", Encode("com.truevision.tga-image", image), "com.truevision.tga-image"},
        {"a.ico", Encode("com.microsoft.ico", image), "com.microsoft.ico"},
        {"a.pict", Encode("com.apple.pict", image), "com.apple.pict"},
        {"a.sgi", Encode("com.sgi.sgi-image", image), "com.sgi.sgi-image"},
        {"a.xbm", plat::codecs::SaveWithMagick(image->vimage(), "XBM"), "public.xbitmap-image"},
        {"a.mac", MacPaintFile(), "com.apple.macpaint-image"},
        {"a.fax", plat::codecs::SaveWithMagick(image->vimage().colourspace(VIPS_INTERPRETATION_B_W), "FAX"),
         "public.fax"},
        {"a.webp", Encode("org.webmproject.webp", image), "org.webmproject.webp"},
        {"a.exr", Encode("com.ilm.openexr-image", image), "com.ilm.openexr-image"},
        {"a.jp2", Encode("public.jpeg-2000", image), "public.jpeg-2000"},
        {"a.gif", Encode("com.compuserve.gif", image), "com.compuserve.gif"},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.bytes.empty()) << c.name;
        WriteFile(folder / c.name, c.bytes);
        auto source = plat::ImageSource::Open(folder / c.name);
        ASSERT_TRUE(source) << c.name;
        EXPECT_EQ(source->typeIdentifier(), c.type);
        auto decoded = source->createImage(0);
        ASSERT_TRUE(decoded) << c.name;
        // MacPaint pages are always 576 × 720; the others keep the size.
        if (std::string(c.name) != "a.mac" && std::string(c.name) != "a.fax") {
            EXPECT_EQ(decoded->width(), 12) << c.name;
            EXPECT_EQ(decoded->height(), 10) << c.name;
        }
        // The same bytes open from memory too (with a name hint where the
        // format has no signature).
        auto fromData = plat::ImageSource::OpenData(c.bytes, c.name);
        ASSERT_TRUE(fromData) << c.name;
        EXPECT_TRUE(fromData->createImage(0)) << c.name;
    }
    EXPECT_EQ(StagingFilesLeft(), 0u);
}

TEST(ImageSource, ResolutionOnlyWhenStated) {
    TempFolder folder;
    auto image = MakeTestImage(8, 8);
    // libvips's own JPEG writer with no density stated (unit 0).
    VipsBlob* blob = image->vimage().jpegsave_buffer(vips::VImage::option()->set("strip", true));
    std::size_t length = 0;
    const auto* p = static_cast<const std::uint8_t*>(vips_blob_get(blob, &length));
    std::vector<std::uint8_t> jpeg(p, p + length);
    vips_area_unref(VIPS_AREA(blob));
    ASSERT_NE(jpeg[3], 0xE0);  // no JFIF header at all
    WriteFile(folder / "nodpi.jpg", jpeg);
    auto source = plat::ImageSource::Open(folder / "nodpi.jpg");
    ASSERT_TRUE(source);
    const auto props = source->properties(0);
    EXPECT_FALSE(props.contains(plat::prop::DPIWidth));
    EXPECT_FALSE(props.dict(plat::prop::JFIFDictionary));

    // A JFIF header whose unit is 0 states an aspect ratio, not a resolution.
    std::vector<std::uint8_t> withJfif = jpeg;
    const std::uint8_t app0[] = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    withJfif.insert(withJfif.begin() + 2, std::begin(app0), std::end(app0));
    WriteFile(folder / "aspect.jpg", withJfif);
    auto aspect = plat::ImageSource::Open(folder / "aspect.jpg");
    ASSERT_TRUE(aspect);
    const auto aspectProps = aspect->properties(0);
    EXPECT_FALSE(aspectProps.contains(plat::prop::DPIWidth));
    ASSERT_TRUE(aspectProps.dict(plat::prop::JFIFDictionary));
    EXPECT_EQ(aspectProps.dict(plat::prop::JFIFDictionary)->integer("DensityUnit"), 0);
    auto rep = plat::ImageRep::Load(source);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->dpiX(), 72.0);
    EXPECT_FALSE(rep->hasStatedDPI());
    EXPECT_DOUBLE_EQ(rep->widthInPoints(), 8.0);

    WriteFile(folder / "plain.tga", Encode("com.truevision.tga-image", image));
    auto tga = plat::ImageSource::Open(folder / "plain.tga");
    ASSERT_TRUE(tga);
    EXPECT_FALSE(tga->properties(0).contains(plat::prop::DPIWidth));

    plat::PropertyDict at300;
    at300.set(plat::prop::DPIWidth, 300.0);
    at300.set(plat::prop::DPIHeight, 150.0);
    WriteFile(folder / "dpi.tif", Encode("public.tiff", image, at300));
    auto stated = plat::ImageRep::Load(folder / "dpi.tif");
    ASSERT_TRUE(stated);
    EXPECT_NEAR(stated->dpiX(), 300.0, 0.01);
    EXPECT_NEAR(stated->dpiY(), 150.0, 0.01);
    EXPECT_NEAR(stated->widthInPoints(), 8 / 300.0 * 72.0, 1e-6);
}

TEST(ImageSource, BracketsInNamesAreJustNames) {
    TempFolder folder;
    const auto bytes = Encode("public.jpeg", MakeTestImage(20, 10));
    for (const char* name : {"photo[shrink=2].jpg", "a[0].bmp", "x.png[page=1]"}) {
        const std::string n = name;
        const std::vector<std::uint8_t> data =
            n.find(".bmp") != std::string::npos ? Encode("com.microsoft.bmp", MakeTestImage(20, 10)) : bytes;
        WriteFile(folder / name, data);
        auto rep = plat::ImageRep::Load(folder / name);
        ASSERT_TRUE(rep) << name;
        EXPECT_EQ(rep->pixelsWide(), 20) << name;
        EXPECT_EQ(rep->image()->width(), 20) << name;
    }
    // No file of the plain name exists: the suffix is never stripped.
    EXPECT_FALSE(plat::ImageSource::Open(folder / "photo.jpg"));
}

TEST(ImageSource, ShrinkOnLoadAndThumbnails) {
    TempFolder folder;
    WriteFile(folder / "big.jpg", Encode("public.jpeg", MakeTestImage(400, 200)));
    auto source = plat::ImageSource::Open(folder / "big.jpg");
    ASSERT_TRUE(source);
    auto rep = plat::ImageRep::Load(source, 0, plat::ImageRep::Options{4, true});
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->pixelsWide(), 400);
    EXPECT_EQ(rep->image()->width(), 100);
    EXPECT_EQ(rep->image()->height(), 50);
    EXPECT_NEAR(PixelAt(*rep->image(), 10, 10)[0], 255, 30);

    auto thumb = plat::ImageRep::LoadThumbnail(folder / "big.jpg", 64);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->image()->width(), 64);
    EXPECT_EQ(thumb->image()->height(), 32);
    EXPECT_EQ(thumb->pixelsWide(), 400);

    // Formats without DCT scaling decode at full size.
    WriteFile(folder / "big.png", Encode("public.png", MakeTestImage(400, 200)));
    auto png = plat::ImageRep::Load(folder / "big.png", plat::ImageRep::Options{4, false});
    ASSERT_TRUE(png);
    EXPECT_EQ(png->image()->width(), 400);
}

TEST(ImageSource, NonImagesNeverOpen) {
    TempFolder folder;
    WriteFile(folder / "table.csv", {'1', ',', '2', '\n', '3', ',', '4', '\n'});
    const std::string matrix = "2 2\n1 2\n3 4\n";
    WriteFile(folder / "m.mat", std::vector<std::uint8_t>(matrix.begin(), matrix.end()));
    const std::string script = "push graphic-context\nviewbox 0 0 10 10\npop graphic-context\n";
    WriteFile(folder / "x.mvg", std::vector<std::uint8_t>(script.begin(), script.end()));
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4\" height=\"4\"/>";
    WriteFile(folder / "x.svg", std::vector<std::uint8_t>(svg.begin(), svg.end()));
    for (const char* name : {"table.csv", "m.mat", "x.mvg", "x.svg"}) {
        EXPECT_FALSE(plat::ImageSource::Open(folder / name)) << name;
    }
    EXPECT_FALSE(plat::ImageSource::Open(folder.path()));  // a folder
}

TEST(ImageSource, BrokenInputFailsCleanly) {
    TempFolder folder;
    auto image = MakeTestImage(64, 48, true);
    std::mt19937 random(1234);
    std::vector<std::uint8_t> noise(5000);
    for (auto& b : noise) b = std::uint8_t(random());
    const struct {
        const char* type;
        const char* name;
    } formats[] = {{"public.jpeg", "t.jpg"},
                   {"public.png", "t.png"},
                   {"public.tiff", "t.tif"},
                   {"com.compuserve.gif", "t.gif"},
                   {"public.jpeg-2000", "t.jp2"},
                   {"com.ilm.openexr-image", "t.exr"},
                   {"com.apple.icns", "t.icns"},
                   {"com.microsoft.bmp", "t.bmp"},
                   {"com.adobe.photoshop-image", "t.psd"},
                   {"com.truevision.tga-image", "t.tga"},
                   {"com.microsoft.ico", "t.ico"},
                   {"com.sgi.sgi-image", "t.sgi"},
                   {"org.webmproject.webp", "t.webp"},
                   {"com.adobe.pdf", "t.pdf"}};
    for (const auto& f : formats) {
        const auto whole = Encode(f.type, image);
        ASSERT_FALSE(whole.empty()) << f.type;
        // Truncated after the signature, and cut in half.
        for (std::size_t keep : {std::size_t(16), whole.size() / 2}) {
            const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(keep));
            WriteFile(folder / f.name, cut);
            auto source = plat::ImageSource::Open(folder / f.name);
            if (source) {
                // Opening may succeed on an intact header; decoding must not crash.
                auto decoded = source->createImage(0);
                (void)source->properties(0);
                (void)plat::ImageRep::Load(source);
                if (decoded) {
                    EXPECT_GT(decoded->width(), 0);
                }
            }
        }
        // The signature followed by noise.
        std::vector<std::uint8_t> fake(whole.begin(), whole.begin() + 8);
        fake.insert(fake.end(), noise.begin(), noise.end());
        WriteFile(folder / f.name, fake);
        if (auto source = plat::ImageSource::Open(folder / f.name)) {
            (void)source->createImage(0);
        }
    }
    WriteFile(folder / "empty.jpg", {});
    EXPECT_FALSE(plat::ImageSource::Open(folder / "empty.jpg"));
    EXPECT_FALSE(plat::ImageSource::OpenData({}));
    WriteFile(folder / "noise.jpg", noise);
    EXPECT_FALSE(plat::ImageSource::Open(folder / "noise.jpg"));
    EXPECT_FALSE(plat::ImageSource::Open(folder / "missing.png"));
    // A PNG named .jpg opens by its signature.
    WriteFile(folder / "wrong.jpg", Encode("public.png", image));
    auto wrong = plat::ImageSource::Open(folder / "wrong.jpg");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->typeIdentifier(), "public.png");
    EXPECT_EQ(StagingFilesLeft(), 0u);
}

TEST(ImageSource, CorruptedBytesNeverCrash) {
    TempFolder folder;
    auto image = MakeTestImage(40, 30, true);
    std::mt19937 random(99);
    const struct {
        const char* type;
        const char* name;
    } formats[] = {{"public.jpeg", "c.jpg"},       {"public.png", "c.png"},
                   {"public.tiff", "c.tif"},       {"com.compuserve.gif", "c.gif"},
                   {"com.ilm.openexr-image", "c.exr"}, {"com.apple.icns", "c.icns"},
                   {"com.microsoft.bmp", "c.bmp"}, {"com.sgi.sgi-image", "c.sgi"},
                   {"org.webmproject.webp", "c.webp"}};
    for (const auto& f : formats) {
        const auto whole = Encode(f.type, image);
        ASSERT_GT(whole.size(), 64u);
        for (int round = 0; round < 12; ++round) {
            std::vector<std::uint8_t> bytes = whole;
            // Flip a few bytes past the signature.
            for (int i = 0; i < 6; ++i) {
                const std::size_t at = 8 + random() % (bytes.size() - 8);
                bytes[at] = std::uint8_t(random());
            }
            auto source = plat::ImageSource::OpenData(bytes, f.name);
            if (!source) continue;
            (void)source->properties(0);
            if (auto decoded = source->createImage(0)) {
                EXPECT_TRUE(plat::Image::sizeAllowed(decoded->width(), decoded->height()));
                (void)decoded->copyRGBA8();
            }
        }
    }
}

TEST(ImageSource, TruncatedJpegFailsToDecode) {
    TempFolder folder;
    const auto whole = Encode("public.jpeg", MakeTestImage(256, 256));
    const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() * 3 / 4));
    WriteFile(folder / "cut.jpg", cut);
    auto source = plat::ImageSource::Open(folder / "cut.jpg");
    ASSERT_TRUE(source);  // the header is intact
    EXPECT_FALSE(source->createImage(0));
    EXPECT_FALSE(plat::ImageRep::Load(source));
}

TEST(ImageSource, HugeDeclaredSizesAreRefused) {
    TempFolder folder;
    // A PNG header claiming 100000 × 100000 pixels.
    auto png = Encode("public.png", MakeTestImage(2, 2));
    auto put = [&](std::size_t at, std::uint32_t v) {
        png[at] = std::uint8_t(v >> 24);
        png[at + 1] = std::uint8_t(v >> 16);
        png[at + 2] = std::uint8_t(v >> 8);
        png[at + 3] = std::uint8_t(v);
    };
    put(16, 100000);
    put(20, 100000);
    put(29, std::uint32_t(crc32(0, &png[12], 17)));  // keep the IHDR checksum valid
    WriteFile(folder / "huge.png", png);
    EXPECT_FALSE(plat::ImageSource::Open(folder / "huge.png"));
}

TEST(ImageSource, CameraRawThroughLibRaw) {
    TempFolder folder;
    // A linear DNG written with libtiff: left half red, right half blue.
    const auto path = folder / "shot.dng";
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    const int w = 64, h = 32;
    static const std::uint8_t version[4] = {1, 4, 0, 0};
    static const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    static const float neutral[3] = {1, 1, 1};
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, 34892);  // linear raw
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, h);
    TIFFSetField(tiff, TIFFTAG_MAKE, "Vantrell");
    TIFFSetField(tiff, TIFFTAG_MODEL, "Test");
    TIFFSetField(tiff, TIFFTAG_DNGVERSION, version);
    TIFFSetField(tiff, TIFFTAG_UNIQUECAMERAMODEL, "Vantrell Test");
    TIFFSetField(tiff, TIFFTAG_COLORMATRIX1, 9, identity);
    TIFFSetField(tiff, TIFFTAG_CALIBRATIONILLUMINANT1, 21);
    TIFFSetField(tiff, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    std::vector<std::uint16_t> row(std::size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            row[std::size_t(x) * 3] = x < w / 2 ? 60000 : 0;
            row[std::size_t(x) * 3 + 1] = 0;
            row[std::size_t(x) * 3 + 2] = x < w / 2 ? 0 : 60000;
        }
        TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), 0);
    }
    TIFFClose(tiff);

    auto source = plat::ImageSource::Open(path);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->typeIdentifier(), "public.camera-raw-image");
    const auto props = source->properties(0);
    EXPECT_EQ(props.integer(plat::prop::PixelWidth), w);
    ASSERT_TRUE(props.dict(plat::prop::TIFFDictionary));
    EXPECT_EQ(props.dict(plat::prop::TIFFDictionary)->string("Make"), "Vantrell");
    auto rep = plat::ImageRep::Load(source);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->pixelsWide(), w);
    EXPECT_EQ(rep->pixelsHigh(), h);
    EXPECT_GT(PixelAt(*rep->image(), 4, 4)[0], 200);
    EXPECT_GT(PixelAt(*rep->image(), 60, 4)[2], 200);

    // The same file under a TIFF name is a TIFF.
    std::filesystem::copy_file(path, folder / "shot.tif");
    auto asTiff = plat::ImageSource::Open(folder / "shot.tif");
    ASSERT_TRUE(asTiff);
    EXPECT_EQ(asTiff->typeIdentifier(), "public.tiff");
}

namespace {

// A CMYK Photoshop file written by ImageMagick from `colour`, as users get
// them from its tools and from other applications.
std::filesystem::path PhotoshopFile(const TempFolder& folder, const std::string& name, const std::string& colour,
                                    const std::string& options) {
    const auto path = folder / name;
    const std::string command = "convert -size 300x200 'xc:" + colour + "' -colorspace CMYK " + options + " psd:'" +
                                path.string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return path;
}

}  // namespace

// libvips's ImageMagick loader ended the process on CMYK Photoshop files
// with alpha; they are decoded another way, as CMYK with alpha.
TEST(ImageSource, CmykPhotoshopFilesWithAlphaDecode) {
    TempFolder folder;
    struct Case {
        const char* name;
        const char* colour;
        const char* options;
        int alpha;  // -1: none
    };
    const Case cases[] = {{"deep.psd", "red", "-alpha set", 255},
                          {"half.psd", "rgba(255,0,0,0.5)", "-depth 8", 128},
                          {"plain.psd", "red", "-depth 8", -1}};
    for (const Case& c : cases) {
        const auto path = PhotoshopFile(folder, c.name, c.colour, c.options);
        for (int round = 0; round < 2; ++round) {
            auto source = plat::ImageSource::Open(path);
            ASSERT_TRUE(source) << c.name;
            auto image = source->createImage(0);
            ASSERT_TRUE(image) << c.name;
            EXPECT_EQ(image->width(), 300);
            EXPECT_EQ(image->height(), 200);
            EXPECT_EQ(image->colorModel(), plat::ColorModel::CMYK) << c.name;
            EXPECT_EQ(image->hasAlpha(), c.alpha >= 0) << c.name;
            const auto rgba = image->copyRGBA8();
            ASSERT_EQ(rgba.size(), 300u * 200u * 4u);
            EXPECT_GT(rgba[0], 200) << c.name;
            EXPECT_LT(rgba[1], 80) << c.name;
            EXPECT_LT(rgba[2], 80) << c.name;
            if (c.alpha >= 0) {
                EXPECT_NEAR(rgba[3], c.alpha, 1) << c.name;
            }
        }
    }
    // A broken one fails cleanly.
    const auto whole = PhotoshopFile(folder, "whole.psd", "red", "-alpha set -compress none");
    std::vector<std::uint8_t> cut(std::filesystem::file_size(whole) / 2);
    std::ifstream(whole, std::ios::binary).read(reinterpret_cast<char*>(cut.data()), std::streamsize(cut.size()));
    WriteFile(folder / "cut.psd", cut);
    auto source = plat::ImageSource::Open(folder / "cut.psd");
    if (source) {
        EXPECT_FALSE(source->createImage(0));
    }
}

TEST(ImageSource, TiffDirectoryChainsAreWalkedSafely) {
    // Header, then directories of one entry each (classic little-endian).
    auto classic = [](std::vector<std::uint32_t> nextOffsets) {
        std::vector<std::uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
        for (std::uint32_t next : nextOffsets) {
            const std::uint8_t entry[12] = {0x00, 0x01, 4, 0, 1, 0, 0, 0, 1, 0, 0, 0};
            bytes.push_back(1);
            bytes.push_back(0);
            bytes.insert(bytes.end(), std::begin(entry), std::end(entry));
            for (int i = 0; i < 4; ++i) bytes.push_back(std::uint8_t(next >> (8 * i)));
        }
        return bytes;
    };
    auto walk = [](const std::vector<std::uint8_t>& bytes) {
        return plat::codecs::ReadTiffDirectoryChain(
            [&bytes](std::uint64_t offset, void* buffer, std::size_t size) {
                if (offset > bytes.size() || bytes.size() - offset < size) return false;
                std::memcpy(buffer, bytes.data() + offset, size);
                return true;
            },
            bytes.size());
    };
    // Each directory is 18 bytes: 8, 26, 44.
    auto chain = walk(classic({26, 44, 0}));
    ASSERT_TRUE(chain);
    EXPECT_EQ(chain->offsets, (std::vector<std::uint64_t>{8, 26, 44}));
    // A loop back to an earlier directory ends the walk.
    chain = walk(classic({26, 8}));
    ASSERT_TRUE(chain);
    EXPECT_EQ(chain->offsets.size(), 2u);
    // A directory past the end, or one whose entries run past it, is not a page.
    chain = walk(classic({26, 4000}));
    ASSERT_TRUE(chain);
    EXPECT_EQ(chain->offsets.size(), 2u);
    std::vector<std::uint8_t> cut = classic({0});
    cut[8] = 0xFF;
    chain = walk(cut);
    ASSERT_TRUE(chain);
    EXPECT_TRUE(chain->offsets.empty());
    // Not a TIFF at all.
    EXPECT_FALSE(walk({'I', 'I', 43, 0}));
    EXPECT_FALSE(walk({'X', 'Y', 42, 0, 8, 0, 0, 0}));
}

TEST(ImageSource, AManyPageTiffKeepsTheFirstPagesMetadataAndEachPagesPixels) {
    TempFolder folder;
    const auto path = folder / "pages.tif";
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    for (int page = 0; page < 5; ++page) {
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 8u);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 4u);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_MAKE, page == 0 ? "First Camera" : "Later Camera");
        std::vector<std::uint8_t> row(8, std::uint8_t(40 * page + 10));
        for (std::uint32_t y = 0; y < 4; ++y) TIFFWriteScanline(tiff, row.data(), y, 0);
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    for (int run = 0; run < 2; ++run) {
        auto source = plat::ImageSource::Open(path);
        ASSERT_TRUE(source);
        ASSERT_EQ(source->count(), 5u);
        const plat::PropertyDict first = source->properties(0);
        ASSERT_TRUE(first.dict(plat::prop::TIFFDictionary));
        EXPECT_EQ(first.dict(plat::prop::TIFFDictionary)->string("Make"), "First Camera");
        // Later pages, in any order, each with its own pixels.
        for (std::size_t page : {4u, 1u, 3u, 2u, 0u}) {
            auto image = source->createImage(page);
            ASSERT_TRUE(image) << page;
            EXPECT_EQ(image->copyRGBA8()[0], 40 * page + 10) << page;
        }
    }
}
