#include "ImageTestSupport.h"

#include "platform/ImageDestination.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"

#include <atomic>
#include <thread>

using namespace imagetest;

namespace {

plat::PropertyDict CameraMetadata() {
    plat::PropertyDict tiff, exif, gps, properties;
    tiff.set("Make", "Canon");
    tiff.set("Model", "EOS 5D");
    exif.set("DateTimeOriginal", "2021:05:06 07:08:09");
    gps.set("GPSLatitudeRef", "N");
    gps.set("GPSLatitude", "51/1 30/1 0/1");
    gps.set("GPSLongitudeRef", "W");
    gps.set("GPSLongitude", "0/1 7/1 30/1");
    properties.set(plat::prop::TIFFDictionary, tiff);
    properties.set(plat::prop::ExifDictionary, exif);
    properties.set(plat::prop::GPSDictionary, gps);
    return properties;
}

// An XMP packet that gives the picture four stars.
plat::PropertyDict RatingXmp() {
    plat::PropertyDict xmp;
    xmp.set("XMLPacket",
            "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
            "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>"
            "</rdf:RDF></x:xmpmeta>");
    return xmp;
}

void Write(const std::filesystem::path& path, const std::string& type, const plat::ImageRef& image,
           const plat::PropertyDict& properties) {
    auto destination = plat::ImageDestination::CreateWithPath(path, type);
    ASSERT_TRUE(destination);
    destination->addImage(image, properties);
    ASSERT_TRUE(destination->finalize());
}

}  // namespace

TEST(ImageMetadata, WrittenTagsAreSeenByLibvips) {
    TempFolder folder;
    Write(folder / "camera.jpg", "public.jpeg", MakeTestImage(16, 16), CameraMetadata());
    // An independent reader: libvips parses EXIF of JPEG files itself.
    vips::VImage image = vips::VImage::jpegload((folder / "camera.jpg").c_str());
    ASSERT_TRUE(vips_image_get_typeof(image.get_image(), "exif-ifd0-Make"));
    EXPECT_NE(std::string(image.get_string("exif-ifd0-Make")).find("Canon"), std::string::npos);
    EXPECT_NE(std::string(image.get_string("exif-ifd2-DateTimeOriginal")).find("2021:05:06 07:08:09"),
              std::string::npos);
    EXPECT_TRUE(vips_image_get_typeof(image.get_image(), "exif-ifd3-GPSLatitude"));

    // PNG output carries EXIF in the standard eXIf chunk.
    Write(folder / "camera.png", "public.png", MakeTestImage(16, 16), CameraMetadata());
    vips::VImage png = vips::VImage::pngload((folder / "camera.png").c_str());
    ASSERT_TRUE(vips_image_get_typeof(png.get_image(), "exif-ifd0-Make"));
    EXPECT_NE(std::string(png.get_string("exif-ifd0-Make")).find("Canon"), std::string::npos);
}

TEST(ImageMetadata, CameraDateAndPositionSurviveWhenAskedAndOnlyThen) {
    TempFolder folder;
    Write(folder / "camera.jpg", "public.jpeg", MakeTestImage(16, 16), CameraMetadata());
    auto source = plat::ImageSource::Open(folder / "camera.jpg");
    ASSERT_TRUE(source);
    const plat::PropertyDict stored = source->properties(0);
    ASSERT_TRUE(stored.dict(plat::prop::TIFFDictionary));
    EXPECT_EQ(stored.dict(plat::prop::TIFFDictionary)->string("Make"), "Canon");
    ASSERT_TRUE(stored.dict(plat::prop::GPSDictionary));
    EXPECT_EQ(stored.dict(plat::prop::GPSDictionary)->string("GPSLatitude"), "51/1 30/1 0/1");
    auto image = source->createImage(0);
    ASSERT_TRUE(image);

    const struct {
        const char* type;
        const char* name;
    } outputs[] = {{"public.jpeg", "out.jpg"}, {"public.tiff", "out.tif"}, {"public.png", "out.png"}};
    for (const auto& output : outputs) {
        // Kept: the dictionaries are copied into the destination properties.
        plat::PropertyDict keep;
        for (const char* key : {plat::prop::TIFFDictionary, plat::prop::ExifDictionary, plat::prop::GPSDictionary}) {
            if (const plat::PropertyValue* value = stored.find(key)) keep.set(key, *value);
        }
        keep.dictForUpdate(plat::prop::TIFFDictionary).set(plat::prop::TIFFCompression, 5);
        Write(folder / (std::string("kept-") + output.name), output.type, image, keep);
        auto kept = plat::ImageSource::Open(folder / (std::string("kept-") + output.name));
        ASSERT_TRUE(kept) << output.type;
        const plat::PropertyDict k = kept->properties(0);
        ASSERT_TRUE(k.dict(plat::prop::TIFFDictionary)) << output.type;
        EXPECT_EQ(k.dict(plat::prop::TIFFDictionary)->string("Make"), "Canon") << output.type;
        ASSERT_TRUE(k.dict(plat::prop::ExifDictionary)) << output.type;
        EXPECT_EQ(k.dict(plat::prop::ExifDictionary)->string("DateTimeOriginal"), "2021:05:06 07:08:09")
            << output.type;
        ASSERT_TRUE(k.dict(plat::prop::GPSDictionary)) << output.type;
        EXPECT_EQ(k.dict(plat::prop::GPSDictionary)->string("GPSLatitude"), "51/1 30/1 0/1") << output.type;
        EXPECT_EQ(k.dict(plat::prop::GPSDictionary)->string("GPSLongitudeRef"), "W") << output.type;
        // Rewriting the file for its metadata leaves the pixels intact.
        auto pixels = kept->createImage(0);
        ASSERT_TRUE(pixels) << output.type;
        EXPECT_NEAR(PixelAt(*pixels, 2, 2)[0], 255, 40) << output.type;
        EXPECT_NEAR(PixelAt(*pixels, 13, 2)[2], 255, 40) << output.type;

        // Not kept: the image that came from the camera file carries nothing over.
        Write(folder / (std::string("bare-") + output.name), output.type, image, {});
        auto bare = plat::ImageSource::Open(folder / (std::string("bare-") + output.name));
        ASSERT_TRUE(bare) << output.type;
        const plat::PropertyDict b = bare->properties(0);
        EXPECT_FALSE(b.dict(plat::prop::GPSDictionary)) << output.type;
        const plat::PropertyDict* exif = b.dict(plat::prop::ExifDictionary);
        EXPECT_FALSE(exif && exif->contains("DateTimeOriginal")) << output.type;
        const plat::PropertyDict* tiff = b.dict(plat::prop::TIFFDictionary);
        EXPECT_FALSE(tiff && tiff->contains("Make")) << output.type;
    }
}

TEST(ImageMetadata, OrientationIsWrittenAndStoredPropertiesKeepIt) {
    TempFolder folder;
    plat::PropertyDict properties;
    properties.set(plat::prop::Orientation, 6);
    Write(folder / "turned.jpg", "public.jpeg", MakeTestImage(40, 20), properties);
    auto source = plat::ImageSource::Open(folder / "turned.jpg");
    ASSERT_TRUE(source);
    const auto stored = source->properties(0);
    EXPECT_EQ(stored.integer(plat::prop::Orientation), 6);
    EXPECT_EQ(stored.integer(plat::prop::PixelWidth), 40);
    // The representation turns it upright: red (left) ends up on top.
    auto rep = plat::ImageRep::Load(source);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->pixelsWide(), 20);
    EXPECT_EQ(rep->pixelsHigh(), 40);
    EXPECT_EQ(rep->storedOrientation(), 6);
    EXPECT_EQ(rep->image()->width(), 20);
    EXPECT_NEAR(PixelAt(*rep->image(), 10, 2)[0], 255, 40);
    EXPECT_NEAR(PixelAt(*rep->image(), 10, 37)[2], 255, 40);
    EXPECT_FALSE(vips_image_get_typeof(rep->image()->vimage().get_image(), VIPS_META_ORIENTATION));
}

TEST(ImageMetadata, IptcAndXmpAreCopied) {
    TempFolder folder;
    plat::PropertyDict properties;
    plat::PropertyDict iptc;
    iptc.set("Keywords", plat::PropertyArray{plat::PropertyValue("holiday"), plat::PropertyValue("sea")});
    iptc.set("City", "Brest");
    properties.set(plat::prop::IPTCDictionary, iptc);
    properties.set(plat::prop::XMPDictionary, RatingXmp());
    Write(folder / "tagged.jpg", "public.jpeg", MakeTestImage(8, 8), properties);
    auto source = plat::ImageSource::Open(folder / "tagged.jpg");
    ASSERT_TRUE(source);
    const auto stored = source->properties(0);
    const plat::PropertyDict* readIptc = stored.dict(plat::prop::IPTCDictionary);
    ASSERT_TRUE(readIptc);
    EXPECT_EQ(readIptc->string("City"), "Brest");
    const plat::PropertyValue* keywords = readIptc->find("Keywords");
    ASSERT_TRUE(keywords && keywords->is<plat::PropertyArray>());
    EXPECT_EQ(keywords->get<plat::PropertyArray>()->size(), 2u);
    const plat::PropertyDict* readXmp = stored.dict(plat::prop::XMPDictionary);
    ASSERT_TRUE(readXmp);
    EXPECT_NE(readXmp->string("XMLPacket").value_or("").find("Rating"), std::string::npos);
}

TEST(ImageMetadata, ThreadsReadAndWriteAtOnce) {
    TempFolder folder;
    plat::PropertyDict properties = CameraMetadata();
    plat::PropertyDict xmp;
    xmp.set("XMLPacket",
            "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
            "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"2\"/>"
            "</rdf:RDF></x:xmpmeta>");
    properties.set(plat::prop::XMPDictionary, xmp);
    Write(folder / "shared.jpg", "public.jpeg", MakeTestImage(64, 48), properties);
    auto shared = plat::ImageSource::Open(folder / "shared.jpg");
    ASSERT_TRUE(shared);
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                auto rep = plat::ImageRep::Load(t % 2 ? shared : plat::ImageSource::Open(folder / "shared.jpg"));
                if (!rep) return;
                const auto path = folder / ("t" + std::to_string(t) + "-" + std::to_string(i) + ".png");
                auto destination = plat::ImageDestination::CreateWithPath(path, "public.png");
                destination->addImage(rep->image(), rep->properties());
                if (!destination->finalize()) return;
                auto back = plat::ImageSource::Open(path);
                if (!back) return;
                const plat::PropertyDict read = back->properties(0);
                const plat::PropertyDict* tiff = read.dict(plat::prop::TIFFDictionary);
                if (tiff && tiff->string("Make") == "Canon") ++good;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good.load(), 30);
}

// A JPEG or PNG file gets its metadata in its head while the pixels stream
// to disc: the same bytes as the file made whole in memory and rewritten,
// for every kind of metadata, with and without a profile and alpha, and
// on images of many bands of rows.
TEST(ImageMetadata, StreamedFilesCarryTheSameMetadataAsFilesMadeInMemory) {
    TempFolder folder;
    plat::PropertyDict everything = CameraMetadata();
    plat::PropertyDict iptc;
    iptc.set("City", "Brest");
    everything.set(plat::prop::IPTCDictionary, iptc);
    everything.set(plat::prop::XMPDictionary, RatingXmp());
    everything.set(plat::prop::Orientation, 8);
    plat::PropertyDict orientationOnly;
    orientationOnly.set(plat::prop::Orientation, 3);

    plat::ImageRef profiled = MakeTestImage(1200, 1500);
    vips::VImage withProfile = profiled->vimage().icc_transform(
        "srgb", vips::VImage::option()->set("input_profile", "srgb")->set("embedded", false));
    profiled = plat::Image::Create(withProfile.copy(vips::VImage::option()->set(
        "interpretation", VIPS_INTERPRETATION_sRGB)));
    ASSERT_TRUE(profiled);

    const plat::ImageRef grey =
        plat::Image::Create(MakeTestImage(900, 700)->vimage().colourspace(VIPS_INTERPRETATION_B_W));
    const plat::ImageRef cmyk = plat::Image::Create(profiled->vimage().icc_transform(
        "cmyk", vips::VImage::option()->set("input_profile", "srgb")->set("embedded", false)));
    ASSERT_TRUE(grey && cmyk);

    const struct {
        const char* type;
        const char* name;
        plat::ImageRef image;
    } cases[] = {{"public.jpeg", "big.jpg", MakeTestImage(1200, 1500)},
                 {"public.jpeg", "profiled.jpg", profiled},
                 {"public.jpeg", "grey.jpg", grey},
                 {"public.jpeg", "cmyk.jpg", cmyk},
                 {"public.png", "big.png", MakeTestImage(1200, 1500, true)},
                 {"public.png", "profiled.png", profiled},
                 {"public.png", "grey.png", grey}};
    for (const auto& c : cases) {
        for (const plat::PropertyDict* properties : {&everything, &orientationOnly}) {
            Write(folder / c.name, c.type, c.image, *properties);
            auto memory = plat::ImageDestination::CreateWithData(c.type);
            ASSERT_TRUE(memory);
            memory->addImage(c.image, *properties);
            ASSERT_TRUE(memory->finalize());
            const std::vector<std::uint8_t> streamed = ReadFile(folder / c.name);
            EXPECT_TRUE(streamed == memory->data()) << c.name << " " << streamed.size() << " "
                                                     << memory->data().size();
            auto source = plat::ImageSource::Open(folder / c.name);
            ASSERT_TRUE(source) << c.name;
            EXPECT_EQ(source->properties(0).integer(plat::prop::Orientation),
                      properties == &everything ? 8 : 3)
                << c.name;
        }
    }
}
