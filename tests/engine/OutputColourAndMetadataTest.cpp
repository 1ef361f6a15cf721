// What outputs carry besides their pixels: colours right where the profile
// cannot go along, and metadata only when asked for.

#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/ImageConverter.h"
#include "engine/ImageTypes.h"
#include "engine/WholeFileConversion.h"
#include "platform/codecs/ImageMetadata.h"

#include <exiv2/exiv2.hpp>
#include <lcms2.h>

#include <fstream>
#include <set>

using namespace convtest;

namespace {

class OutputColourAndMetadataTest : public ConversionTest {};

// A Display P3 profile made with lcms2.
std::vector<std::uint8_t> DisplayP3Profile() {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// The pixel (200, 40, 40) in the colours of `profile`.
vips::VImage TaggedRed(const std::vector<std::uint8_t>& profile) {
    vips::VImage red = (vips::VImage::black(40, 30, vips::VImage::option()->set("bands", 3)) +
                        std::vector<double>{200, 40, 40})
                           .cast(VIPS_FORMAT_UCHAR)
                           .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    vips_image_set_blob_copy(red.get_image(), VIPS_META_ICC_NAME, profile.data(), profile.size());
    return red;
}

const char* kXmp =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
    "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" "
    "xmp:Rating=\"4\" tiff:Orientation=\"6\" exif:PixelXDimension=\"64\" exif:PixelYDimension=\"48\"/>"
    "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

// A 64 × 48 JPEG stored turned (orientation 6) with EXIF, IPTC and XMP.
std::filesystem::path TaggedJpeg(const ScratchDir& dir) {
    plat::PropertyDict properties;
    plat::PropertyDict tiff, exif, iptc, xmp;
    tiff.set("Make", std::string("Vantrell Optics"));
    exif.set("DateTimeOriginal", std::string("2024:05:06 07:08:09"));
    iptc.set("Caption", std::string("A caption"));
    xmp.set("XMLPacket", std::string(kXmp));
    properties.set(plat::prop::TIFFDictionary, tiff);
    properties.set(plat::prop::ExifDictionary, exif);
    properties.set(plat::prop::IPTCDictionary, iptc);
    properties.set(plat::prop::XMPDictionary, xmp);
    properties.set(plat::prop::Orientation, std::int64_t(6));
    const auto path = dir / "tagged.jpg";
    EXPECT_TRUE(WriteImage(path, MarkedImage(64, 48, 8), "public.jpeg", properties));
    return path;
}

struct Blocks {
    std::string exif;  // EXIF tags other than a TIFF file's own layout tags
    bool iptc = false;
    std::string xmp;
};

bool LayoutTag(const Exiv2::Exifdatum& tag, bool tiff) {
    // A TIFF file states its (upright) orientation among its own fields.
    if (tiff && tag.key() == "Exif.Image.Orientation" && tag.toString() == "1") return true;
    static const std::set<std::string> layout = {
        "NewSubfileType", "ImageWidth", "ImageLength", "BitsPerSample", "Compression",
        "PhotometricInterpretation", "StripOffsets", "SamplesPerPixel", "RowsPerStrip", "StripByteCounts",
        "XResolution", "YResolution", "PlanarConfiguration", "ResolutionUnit", "Predictor", "ExtraSamples",
        "SampleFormat", "TileWidth", "TileLength", "TileOffsets", "TileByteCounts", "InterColorProfile"};
    return tag.groupName() == "Image" && layout.count(tag.tagName());
}

Blocks BlocksOf(const std::filesystem::path& path) {
    Blocks blocks;
    try {
        auto image = Exiv2::ImageFactory::open(path.string());
        image->readMetadata();
        for (const Exiv2::Exifdatum& tag : image->exifData()) {
            if (!LayoutTag(tag, image->imageType() == Exiv2::ImageType::tiff)) blocks.exif += tag.key() + " ";
        }
        blocks.iptc = !image->iptcData().empty();
        blocks.xmp = image->xmpPacket();
    } catch (const Exiv2::AnyError&) {
    }
    return blocks;
}

}  // namespace

// GIF, TGA and JPEG 2000 cannot carry the profile: their pixels are the
// source's colours in sRGB, with the metadata setting on or off. JPEG and
// PNG carry the profile with the pixels as they are.
TEST_F(OutputColourAndMetadataTest, WideGamutColoursSurviveOutputsWithoutProfiles) {
    const std::vector<std::uint8_t> profile = DisplayP3Profile();
    const vips::VImage tagged = TaggedRed(profile);
    tagged.pngsave((dir / "p3.png").c_str());
    const vips::VImage expected = tagged.icc_transform("srgb", vips::VImage::option()->set("embedded", true));
    const double red = expected.getpoint(5, 5)[0], green = expected.getpoint(5, 5)[1];
    // Visibly apart from the stored values.
    ASSERT_GT(std::abs(red - 200) + std::abs(green - 40), 12) << red << ", " << green;
    const std::pair<int, const char*> outputs[] = {{kImageTypeGIF, "out.gif"}, {kImageTypeTGA, "out.tga"},
                                                   {kImageTypeJPEG2000, "out.jp2"}, {kImageTypeJPEG, "out.jpg"},
                                                   {kImageTypePNG, "out.png"}};
    for (const auto& [type, name] : outputs) {
        for (int keep : {0, 1}) {
            ImageConversion record = SameSizeRecord(dir / "p3.png", dir / name, type);
            record.options.preserveMetadata = std::uint8_t(keep);
            record.options.quality = 1.0;
            ASSERT_EQ(ConvertImageWithOptions(&record), 1) << type;
            auto source = plat::ImageSource::Open(dir / name);
            ASSERT_TRUE(source) << type;
            auto out = source->createImage(0);
            ASSERT_TRUE(out) << type;
            vips::VImage pixels = out->vimage();
            if (vips_image_get_typeof(pixels.get_image(), VIPS_META_ICC_NAME)) {
                pixels = pixels.icc_transform("srgb", vips::VImage::option()->set("embedded", true));
            }
            const std::vector<double> p = pixels.getpoint(5, 5);
            EXPECT_NEAR(p[0], red, 6) << "type " << type << ", metadata " << keep;
            EXPECT_NEAR(p[1], green, 6) << "type " << type << ", metadata " << keep;
        }
    }
}

// With metadata off, no output carries EXIF, IPTC or XMP of any kind (no
// block made by the encoder either); with it on, XMP comes along with its
// orientation and pixel size brought in line with the output.
TEST_F(OutputColourAndMetadataTest, MetadataOnlyWhenAskedAndXmpDescribesTheOutput) {
    const std::filesystem::path source = TaggedJpeg(dir);
    ASSERT_EQ(BlocksOf(source).xmp.empty(), false);
    for (int type : {kImageTypeJPEG, kImageTypePNG, kImageTypeTIFF, kImageTypeGIF, kImageTypeJPEG2000,
                     kImageTypePhotoshop, kImageTypeBMP}) {
        ImageConversion off = SameSizeRecord(source, dir / "off", type);
        ASSERT_EQ(ConvertImageWithOptions(&off), 1) << type;
        const Blocks none = BlocksOf(dir / "off");
        EXPECT_EQ(none.exif, "") << "type " << type;
        EXPECT_FALSE(none.iptc) << "type " << type;
        EXPECT_TRUE(none.xmp.empty()) << "type " << type;
    }
    for (int type : {kImageTypeJPEG, kImageTypePNG, kImageTypeTIFF}) {
        ImageConversion on = SameSizeRecord(source, dir / "on", type);
        on.options.preserveMetadata = 1;
        PixelsResize(on, 0, 32, 1, true);  // upright 48 × 64 → 24 × 32
        ASSERT_EQ(ConvertImageWithOptions(&on), 1) << type;
        const Blocks kept = BlocksOf(dir / "on");
        EXPECT_NE(kept.exif.find("Exif.Photo.DateTimeOriginal"), std::string::npos) << "type " << type;
        Exiv2::XmpData xmp;
        ASSERT_EQ(Exiv2::XmpParser::decode(xmp, kept.xmp), 0) << "type " << type;
        auto value = [&](const char* key) {
            auto it = xmp.findKey(Exiv2::XmpKey(key));
            return it == xmp.end() ? std::string() : it->toString();
        };
        EXPECT_EQ(value("Xmp.xmp.Rating"), "4") << "type " << type;
        EXPECT_EQ(value("Xmp.tiff.Orientation"), "1") << "type " << type;
        EXPECT_EQ(value("Xmp.exif.PixelXDimension"), "24") << "type " << type;
        EXPECT_EQ(value("Xmp.exif.PixelYDimension"), "32") << "type " << type;
    }
}

// The whole-file WebP output keeps the source's EXIF, profile and XMP when
// metadata is kept, describing the upright output.
TEST_F(OutputColourAndMetadataTest, WholeFileWebPKeepsMetadata) {
    const std::filesystem::path tagged = TaggedJpeg(dir);
    const std::vector<std::uint8_t> profile = DisplayP3Profile();
    TaggedRed(profile).jpegsave((dir / "p3.jpg").c_str());
    for (const char* name : {"tagged.jpg", "p3.jpg"}) {
        ImageConverter converter;
        InitImageConverter(&converter);
        ASSERT_EQ(LoadConverterSource(&converter, dir / name), 1);
        SetConverterOutput(&converter, kImageTypeWebP, dir / "out.webp", 0.9);
        converter.preserveMetadata = 1;
        ASSERT_EQ(SaveConvertedImageFile(&converter), 1) << name;
        auto image = Exiv2::ImageFactory::open((dir / "out.webp").string());
        image->readMetadata();
        if (std::string(name) == "p3.jpg") {
            EXPECT_EQ(image->iccProfile()->size_, long(profile.size()));
            continue;
        }
        const Exiv2::ExifData& exif = image->exifData();
        auto datum = exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"));
        ASSERT_NE(datum, exif.end());
        EXPECT_EQ(datum->toString(), "2024:05:06 07:08:09");
        datum = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        EXPECT_TRUE(datum == exif.end() || datum->toString() == "1");
        EXPECT_NE(image->xmpPacket().find("Rating"), std::string::npos);
    }
}

// A PNG whose EXIF is kept in a "Raw profile type exif" text chunk, as
// exiv2 and ImageMagick store it, keeps that EXIF in every output with
// metadata, the whole-file WebP included.
TEST_F(OutputColourAndMetadataTest, PngWithRawProfileExifKeepsItInEveryOutput) {
    ASSERT_TRUE(WriteImage(dir / "raw.png", SolidImage(32, 24, {10, 120, 200, 255}), "public.png"));
    {
        auto png = Exiv2::ImageFactory::open((dir / "raw.png").string());
        png->readMetadata();
        png->exifData()["Exif.Image.Make"] = "Raw Profile Camera";
        png->exifData()["Exif.Photo.DateTimeOriginal"] = "2023:01:02 03:04:05";
        png->writeMetadata();
    }
    {
        std::ifstream in(dir / "raw.png", std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        ASSERT_NE(bytes.find("Raw profile type exif"), std::string::npos);
        ASSERT_EQ(bytes.find("eXIf"), std::string::npos);
    }
    const auto make = [](const std::filesystem::path& file) {
        auto image = Exiv2::ImageFactory::open(file.string());
        image->readMetadata();
        const auto datum = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Make"));
        return datum == image->exifData().end() ? std::string() : datum->toString();
    };
    for (const auto& [type, name] : std::vector<std::pair<std::int32_t, const char*>>{
             {kImageTypeJPEG, "out.jpg"}, {kImageTypePNG, "out.png"}, {kImageTypeTIFF, "out.tif"},
             {kImageTypeWebP, "out.webp"}}) {
        ImageConversion record;
        record.sourceURL = dir / "raw.png";
        record.destinationURL = dir / name;
        record.options.outputType = type;
        record.options.quality = 0.9;
        record.options.preserveMetadata = 1;
        ASSERT_EQ(ConvertImageFileFormat(&record), 1) << name;
        EXPECT_EQ(make(dir / name), "Raw Profile Camera") << name;
    }
}
