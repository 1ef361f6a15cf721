#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/Encoding.h"
#include "engine/ImageConverter.h"
#include "engine/ImageTypes.h"

#include <exiv2/exiv2.hpp>

#include <set>

using namespace convtest;

namespace {

class EncodingTest : public ConversionTest {
protected:
    // A JPEG with camera metadata: make, model, capture date, GPS and a 300 dpi
    // resolution.
    std::filesystem::path CameraJPEG(const std::string& name, int orientation = 0) {
        plat::PropertyDict properties = Resolution(300, 300);
        plat::PropertyDict tiff;
        tiff.set("Make", "Vantrell Optics");
        tiff.set("Model", "Test One");
        properties.set(plat::prop::TIFFDictionary, tiff);
        plat::PropertyDict exif;
        exif.set("DateTimeOriginal", "2024:05:06 07:08:09");
        exif.set("ExposureTime", "1/125");
        properties.set(plat::prop::ExifDictionary, exif);
        plat::PropertyDict gps;
        gps.set("GPSLatitudeRef", "N");
        gps.set("GPSLatitude", "48/1 51/1 30/1");
        properties.set(plat::prop::GPSDictionary, gps);
        if (orientation) properties.set(plat::prop::Orientation, orientation);
        const std::filesystem::path path = dir / name;
        EXPECT_TRUE(WriteImage(path, MarkedImage(120, 80, 20), "public.jpeg", properties));
        return path;
    }

    static std::set<std::string> Keys(const plat::PropertyDict& dict) {
        std::set<std::string> keys;
        for (const auto& [key, value] : dict) keys.insert(key);
        return keys;
    }
};

}  // namespace

TEST_F(EncodingTest, PropertiesWithoutMetadata) {
    ImageConverter c;
    c.outputType = kImageTypeJPEG;
    c.quality = 0.8;
    c.dpiX = c.dpiY = 300;
    const plat::PropertyDict p = CreateDestinationProperties(&c);
    EXPECT_EQ(Keys(p), (std::set<std::string>{plat::prop::DPIWidth, plat::prop::DPIHeight,
                                              plat::prop::LossyCompressionQuality}));
    EXPECT_EQ(p.number(plat::prop::DPIWidth), 300.0);
    EXPECT_EQ(p.number(plat::prop::LossyCompressionQuality), 0.8);

    c.outputType = kImageTypeMultiPageTIFF;
    c.orientation = 6;
    c.dpiX = c.dpiY = 0;
    c.preserveMetadata = 1;  // never copied for this type
    const plat::PropertyDict tiff = CreateDestinationProperties(&c);
    EXPECT_EQ(Keys(tiff), (std::set<std::string>{plat::prop::Orientation, plat::prop::TIFFDictionary}));
    EXPECT_EQ(tiff.dict(plat::prop::TIFFDictionary)->integer(plat::prop::TIFFCompression), kTIFFCompressionLZW);
    EXPECT_EQ(tiff.integer(plat::prop::Orientation), 6);

    c.outputType = kImageTypePNG;
    c.orientation = 0;
    c.preserveMetadata = 0;
    EXPECT_EQ(Keys(CreateDestinationProperties(&c)), (std::set<std::string>{plat::prop::HasAlpha}));
}

TEST_F(EncodingTest, MetadataCopyRules) {
    const std::filesystem::path source = CameraJPEG("camera.jpg");
    const plat::PropertyDict stored = Decode(source).properties;
    ASSERT_TRUE(stored.dict(plat::prop::ExifDictionary));
    ASSERT_TRUE(stored.dict(plat::prop::GPSDictionary));

    ImageConverter c;
    ASSERT_EQ(LoadConverterSource(&c, source), 1);
    c.preserveMetadata = 1;
    c.dpiX = 240;
    c.dpiY = 120;

    // TIFF: the TIFF dictionary with the output's orientation, resolution
    // (unit inch) and LZW; Exif and GPS unchanged.
    c.outputType = kImageTypeTIFF;
    plat::PropertyDict p = CreateDestinationProperties(&c);
    const plat::PropertyDict* tiff = p.dict(plat::prop::TIFFDictionary);
    ASSERT_TRUE(tiff);
    EXPECT_EQ(tiff->string("Make"), "Vantrell Optics");
    EXPECT_EQ(tiff->integer(plat::prop::TIFFOrientation), 1);
    EXPECT_EQ(tiff->number(plat::prop::TIFFXResolution), 240.0);
    EXPECT_EQ(tiff->number(plat::prop::TIFFYResolution), 120.0);
    EXPECT_EQ(tiff->integer(plat::prop::TIFFResolutionUnit), 2);
    EXPECT_EQ(tiff->integer(plat::prop::TIFFCompression), kTIFFCompressionLZW);
    EXPECT_EQ(*p.dict(plat::prop::ExifDictionary), *stored.dict(plat::prop::ExifDictionary));
    EXPECT_EQ(*p.dict(plat::prop::GPSDictionary), *stored.dict(plat::prop::GPSDictionary));
    EXPECT_EQ(p.integer(plat::prop::Orientation), 1);

    // PNG: alpha and the copies, no compression.
    c.outputType = kImageTypePNG;
    p = CreateDestinationProperties(&c);
    EXPECT_EQ(p.boolean(plat::prop::HasAlpha), true);
    EXPECT_TRUE(p.dict(plat::prop::ExifDictionary));
    EXPECT_FALSE(p.dict(plat::prop::TIFFDictionary)->contains(plat::prop::TIFFCompression));

    // JPEG 2000 never copies, whatever the flag says.
    c.outputType = kImageTypeJPEG2000;
    p = CreateDestinationProperties(&c);
    EXPECT_FALSE(p.dict(plat::prop::ExifDictionary));
    EXPECT_FALSE(p.dict(plat::prop::TIFFDictionary));

    // The orientation to write replaces the stored one.
    c.outputType = kImageTypeJPEG;
    c.orientation = 3;
    p = CreateDestinationProperties(&c);
    EXPECT_EQ(p.dict(plat::prop::TIFFDictionary)->integer(plat::prop::TIFFOrientation), 3);
    EXPECT_EQ(p.integer(plat::prop::Orientation), 3);

    // Without the flag nothing of the source is copied.
    c.preserveMetadata = 0;
    p = CreateDestinationProperties(&c);
    EXPECT_FALSE(p.dict(plat::prop::ExifDictionary));
    EXPECT_FALSE(p.dict(plat::prop::GPSDictionary));
}

TEST_F(EncodingTest, CopiedMetadataDescribesTheNewPixels) {
    const std::filesystem::path source = CameraJPEG("camera.jpg", 6);
    // Give the source a stale pixel size and an embedded thumbnail.
    {
        auto image = Exiv2::ImageFactory::open(source.string());
        image->readMetadata();
        Exiv2::ExifData& exif = image->exifData();
        exif["Exif.Photo.PixelXDimension"] = uint32_t(120);
        exif["Exif.Photo.PixelYDimension"] = uint32_t(80);
        auto thumb = MarkedImage(16, 16, 4);
        std::vector<std::uint8_t> thumbBytes;
        {
            auto destination = plat::ImageDestination::CreateWithData("public.jpeg");
            destination->addImage(thumb);
            ASSERT_TRUE(destination->finalize());
            thumbBytes = destination->data();
        }
        Exiv2::ExifThumb(exif).setJpegThumbnail(thumbBytes.data(), long(thumbBytes.size()));
        image->writeMetadata();
    }

    ImageConversion record = SameSizeRecord(source, dir / "half.jpg", kImageTypeJPEG);
    record.options.preserveMetadata = 1;
    PixelsResize(record, 0, 60, 1, true);  // upright 80 × 120 → 40 × 60
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);

    auto image = Exiv2::ImageFactory::open((dir / "half.jpg").string());
    image->readMetadata();
    const Exiv2::ExifData& exif = image->exifData();
    auto value = [&](const char* key) -> std::string {
        auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? std::string() : it->toString();
    };
    EXPECT_EQ(value("Exif.Image.Make"), "Vantrell Optics");
    EXPECT_EQ(value("Exif.Photo.DateTimeOriginal"), "2024:05:06 07:08:09");
    EXPECT_EQ(value("Exif.GPSInfo.GPSLatitudeRef"), "N");
    EXPECT_EQ(value("Exif.Photo.PixelXDimension"), "40");
    EXPECT_EQ(value("Exif.Photo.PixelYDimension"), "60");
    EXPECT_EQ(value("Exif.Image.ResolutionUnit"), "2");
    // The old thumbnail shows the old picture: it must not come along.
    EXPECT_EQ(Exiv2::ExifThumbC(exif).copy().size_, 0);
    const std::string orientation = value("Exif.Image.Orientation");
    EXPECT_TRUE(orientation.empty() || orientation == "1") << orientation;

    const Decoded d = Decode(dir / "half.jpg");
    EXPECT_EQ(d.width, 40);
    EXPECT_EQ(d.height, 60);
}

TEST_F(EncodingTest, MetadataIsDroppedWhenNotKept) {
    const std::filesystem::path source = CameraJPEG("camera.jpg");
    ImageConversion record = SameSizeRecord(source, dir / "plain.jpg", kImageTypeJPEG);
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded d = Decode(dir / "plain.jpg");
    EXPECT_FALSE(d.properties.dict(plat::prop::GPSDictionary));
    const plat::PropertyDict* tiff = d.properties.dict(plat::prop::TIFFDictionary);
    EXPECT_FALSE(tiff && tiff->contains("Make"));
    const plat::PropertyDict* exif = d.properties.dict(plat::prop::ExifDictionary);
    EXPECT_FALSE(exif && exif->contains("DateTimeOriginal"));
    // The source's resolution is kept.
    EXPECT_NEAR(d.properties.number(plat::prop::DPIWidth).value_or(0), 300, 0.5);
}

TEST_F(EncodingTest, OutputModes) {
    ImageConverter c;
    c.outputType = kImageTypePNG;
    c.returnImage = 1;
    EXPECT_EQ(WriteConverterOutput(&c, nullptr), 0);
    const plat::ImageRef image = SolidImage(8, 6, {1, 2, 3, 255});
    EXPECT_EQ(WriteConverterOutput(&c, image), 1);
    EXPECT_EQ(c.resultImage, image);

    c.returnImage = 0;
    c.keepOutputInMemory = 1;
    c.destinationURL = dir / "never.png";
    EXPECT_EQ(WriteConverterOutput(&c, image), 1);
    ASSERT_GT(c.outputData.size(), 8u);
    EXPECT_EQ(c.outputData[1], 'P');
    EXPECT_FALSE(std::filesystem::exists(dir / "never.png"));

    c.keepOutputInMemory = 0;
    const std::filesystem::path other = dir / "other.png";
    EXPECT_EQ(WriteConverterOutput(&c, image, &other), 1);
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_FALSE(std::filesystem::exists(dir / "never.png"));

    c.destinationURL = dir / "missing" / "out.png";
    EXPECT_EQ(WriteConverterOutput(&c, image), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(EncodingTest, QualityReachesTheEncoder) {
    auto noisy = MakeImage(200, 200, [](int x, int y) -> RGBA {
        return {std::uint8_t((x * 37 + y * 11) % 256), std::uint8_t((x * y) % 256), std::uint8_t((x ^ y) % 256), 255};
    });
    ASSERT_TRUE(WriteImage(dir / "noisy.png", noisy, "public.png"));
    ImageConversion low = SameSizeRecord(dir / "noisy.png", dir / "low.jpg", kImageTypeJPEG);
    low.options.quality = 0.2;
    ImageConversion high = SameSizeRecord(dir / "noisy.png", dir / "high.jpg", kImageTypeJPEG);
    high.options.quality = 0.95;
    ASSERT_EQ(ConvertImageWithOptions(&low), 1);
    ASSERT_EQ(ConvertImageWithOptions(&high), 1);
    EXPECT_LT(std::filesystem::file_size(dir / "low.jpg") * 2, std::filesystem::file_size(dir / "high.jpg"));
}

TEST_F(EncodingTest, TIFFOutputUsesLZW) {
    ASSERT_TRUE(WriteImage(dir / "src.png", SolidImage(64, 64, {10, 200, 30, 255}), "public.png"));
    ImageConversion record = SameSizeRecord(dir / "src.png", dir / "out.tif", kImageTypeTIFF);
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    // A flat 64 × 64 image compresses far below its 12 KiB of samples.
    EXPECT_LT(std::filesystem::file_size(dir / "out.tif"), 4096u);
}

TEST_F(EncodingTest, InMemoryJPEG) {
    ImageConverter c;
    c.quality = 0.9;
    c.dpiX = c.dpiY = 150;
    std::vector<std::uint8_t> samples(8 * 4 * 3, 200);
    ASSERT_EQ(EncodeJPEGWithConverter(&c, 8, 4, samples.data(), 2, 3), 1);
    ASSERT_GT(c.outputData.size(), 2u);
    EXPECT_EQ(c.outputData[0], 0xFF);
    EXPECT_EQ(c.outputData[1], 0xD8);
    auto source = plat::ImageSource::OpenData(c.outputData);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->properties(0).integer(plat::prop::PixelWidth), 8);
    EXPECT_NEAR(source->properties(0).number(plat::prop::DPIWidth).value_or(0), 150, 0.5);
    EXPECT_EQ(EncodeJPEGWithConverter(&c, 0, 4, samples.data(), 2, 3), 0);
}
