#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/ImageTypes.h"
#include "platform/FileManager.h"

#include <exiv2/exiv2.hpp>

#include <fstream>

using namespace convtest;

// A source's EXIF thumbnail shows the old picture (before turning, cropping
// or watermarking, and whatever was cropped away): no output carries one.

namespace {

std::vector<std::uint8_t> Encode(const plat::ImageRef& image, const plat::PropertyDict& properties = {},
                                 const std::string& type = "public.jpeg") {
    auto destination = plat::ImageDestination::CreateWithData(type);
    destination->addImage(image, properties);
    EXPECT_TRUE(destination->finalize());
    return destination->data();
}

// A JPEG with a maker tag and a 16 × 16 EXIF thumbnail, in either byte order.
std::vector<std::uint8_t> JPEGWithThumbnail(Exiv2::ByteOrder order) {
    std::vector<std::uint8_t> thumbnail = Encode(MarkedImage(16, 16, 4));
    std::vector<std::uint8_t> main = Encode(SolidImage(64, 48, {90, 120, 150, 255}));
    auto image = Exiv2::ImageFactory::open(main.data(), long(main.size()));
    image->readMetadata();
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Vantrell Optics";
    Exiv2::ExifThumb(exif).setJpegThumbnail(thumbnail.data(), long(thumbnail.size()));
    image->setExifData(exif);
    image->setByteOrder(order);
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    Exiv2::DataBuf buffer = io.read(long(io.size()));
    return std::vector<std::uint8_t>(buffer.pData_, buffer.pData_ + buffer.size_);
}

std::size_t ThumbnailSize(const std::vector<std::uint8_t>& file) {
    auto image = Exiv2::ImageFactory::open(file.data(), long(file.size()));
    image->readMetadata();
    return std::size_t(Exiv2::ExifThumbC(image->exifData()).copy().size_);
}

std::string Make(const std::vector<std::uint8_t>& file) {
    auto image = Exiv2::ImageFactory::open(file.data(), long(file.size()));
    image->readMetadata();
    auto it = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Make"));
    return it == image->exifData().end() ? std::string() : it->toString();
}

std::vector<std::uint8_t> Contents(const std::filesystem::path& path) {
    return plat::FileManager::contentsOfFile(path).value_or(std::vector<std::uint8_t>{});
}

bool Save(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    return plat::FileManager::createFile(path, std::span<const std::uint8_t>(bytes));
}

class ExifThumbnailTest : public ConversionTest {};

}  // namespace

TEST_F(ExifThumbnailTest, DropsTheThumbnailInBothByteOrders) {
    int n = 0;
    for (Exiv2::ByteOrder order : {Exiv2::littleEndian, Exiv2::bigEndian}) {
        const std::string name = std::to_string(n++);
        const std::vector<std::uint8_t> jpeg = JPEGWithThumbnail(order);
        ASSERT_GT(ThumbnailSize(jpeg), 0u);
        ASSERT_TRUE(Save(dir / ("thumb" + name + ".jpg"), jpeg));

        // Converted at the same size with its metadata kept: the maker stays,
        // the thumbnail does not.
        ImageConversion record =
            SameSizeRecord(dir / ("thumb" + name + ".jpg"), dir / ("out" + name + ".jpg"), kImageTypeJPEG);
        record.options.preserveMetadata = 1;
        ASSERT_EQ(ConvertImageWithOptions(&record), 1);
        const std::vector<std::uint8_t> out = Contents(dir / ("out" + name + ".jpg"));
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(ThumbnailSize(out), 0u);
        EXPECT_EQ(Make(out), "Vantrell Optics");
        // The picture is untouched and still decodes.
        auto source = plat::ImageSource::OpenData(out);
        ASSERT_TRUE(source);
        auto image = source->createImage(0);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), 64);
        EXPECT_TRUE(Near(DecodeImage(image).at(30, 20), {90, 120, 150, 255}, 6));

        // Turned and resized, and without its metadata.
        ImageConversion turned =
            SameSizeRecord(dir / ("thumb" + name + ".jpg"), dir / ("turned" + name + ".jpg"), kImageTypeJPEG);
        turned.rotationAngle = 90;
        PixelsResize(turned, 32, 0, 0, true);
        ASSERT_EQ(ConvertImageWithOptions(&turned), 1);
        EXPECT_EQ(ThumbnailSize(Contents(dir / ("turned" + name + ".jpg"))), 0u);
    }
}

TEST_F(ExifThumbnailTest, NoFormatCarriesTheSourceThumbnail) {
    const std::vector<std::uint8_t> jpeg = JPEGWithThumbnail(Exiv2::littleEndian);
    auto source = plat::ImageSource::OpenData(jpeg);
    ASSERT_TRUE(source);
    const plat::ImageRef image = source->createImage(0);
    ASSERT_TRUE(image);
    // With the source's dictionaries asked for, and with none.
    const plat::PropertyDict kept = source->properties(0);
    for (const plat::PropertyDict& properties : {kept, plat::PropertyDict{}}) {
        for (const char* type : {"public.jpeg", "public.png", "public.tiff", "org.webmproject.webp"}) {
            const std::vector<std::uint8_t> out = Encode(image, properties, type);
            ASSERT_FALSE(out.empty()) << type;
            EXPECT_EQ(ThumbnailSize(out), 0u) << type;
        }
    }
    EXPECT_EQ(Make(Encode(image, kept)), "Vantrell Optics");
}

TEST_F(ExifThumbnailTest, LeavesOtherDataAlone) {
    // A source without a thumbnail gains none, and keeps its picture.
    const std::vector<std::uint8_t> plain = Encode(SolidImage(8, 8, {1, 2, 3, 255}));
    EXPECT_EQ(ThumbnailSize(plain), 0u);
    ASSERT_TRUE(Save(dir / "plain.jpg", plain));
    ImageConversion record = SameSizeRecord(dir / "plain.jpg", dir / "plain-out.jpg", kImageTypeJPEG);
    record.options.preserveMetadata = 1;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    EXPECT_EQ(ThumbnailSize(Contents(dir / "plain-out.jpg")), 0u);
    EXPECT_TRUE(Near(Decode(dir / "plain-out.jpg").at(4, 4), {1, 2, 3, 255}, 6));

    // Cut anywhere, a source either fails cleanly or converts without a
    // thumbnail; the source itself is never changed.
    const std::vector<std::uint8_t> full = JPEGWithThumbnail(Exiv2::littleEndian);
    for (std::size_t cut = 0; cut < std::min<std::size_t>(full.size(), 600); cut += 37) {
        const std::vector<std::uint8_t> part(full.begin(), full.begin() + std::ptrdiff_t(cut));
        const auto input = dir / ("cut" + std::to_string(cut) + ".jpg");
        const auto output = dir / ("cut-out" + std::to_string(cut) + ".jpg");
        ASSERT_TRUE(part.empty() || Save(input, part));
        ImageConversion broken = SameSizeRecord(input, output, kImageTypeJPEG);
        broken.options.preserveMetadata = 1;
        if (ConvertImageWithOptions(&broken) == 1) {
            EXPECT_EQ(ThumbnailSize(Contents(output)), 0u) << cut;
        }
        if (!part.empty()) {
            EXPECT_EQ(Contents(input), part);
        }
    }
}
