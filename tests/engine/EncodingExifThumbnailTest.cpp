#include "ConverterTestSupport.h"

#include "engine/EncodingExifThumbnail.h"

#include <exiv2/exiv2.hpp>

using namespace convtest;

namespace {

std::vector<std::uint8_t> Encode(const plat::ImageRef& image, const plat::PropertyDict& properties = {}) {
    auto destination = plat::ImageDestination::CreateWithData("public.jpeg");
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

std::size_t ThumbnailSize(const std::vector<std::uint8_t>& jpeg) {
    auto image = Exiv2::ImageFactory::open(jpeg.data(), long(jpeg.size()));
    image->readMetadata();
    return std::size_t(Exiv2::ExifThumbC(image->exifData()).copy().size_);
}

std::string Make(const std::vector<std::uint8_t>& jpeg) {
    auto image = Exiv2::ImageFactory::open(jpeg.data(), long(jpeg.size()));
    image->readMetadata();
    auto it = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Make"));
    return it == image->exifData().end() ? std::string() : it->toString();
}

class EncodingExifThumbnailTest : public ConversionTest {};

}  // namespace

TEST_F(EncodingExifThumbnailTest, DropsTheThumbnailInBothByteOrders) {
    for (Exiv2::ByteOrder order : {Exiv2::littleEndian, Exiv2::bigEndian}) {
        std::vector<std::uint8_t> jpeg = JPEGWithThumbnail(order);
        ASSERT_GT(ThumbnailSize(jpeg), 0u);
        const std::size_t size = jpeg.size();
        EXPECT_TRUE(DropJPEGExifThumbnail(jpeg));
        EXPECT_EQ(jpeg.size(), size);
        EXPECT_EQ(ThumbnailSize(jpeg), 0u);
        EXPECT_EQ(Make(jpeg), "Vantrell Optics");
        // The picture is untouched and still decodes.
        auto source = plat::ImageSource::OpenData(jpeg);
        ASSERT_TRUE(source);
        auto image = source->createImage(0);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), 64);
        EXPECT_TRUE(Near(DecodeImage(image).at(30, 20), {90, 120, 150, 255}, 6));
        EXPECT_FALSE(DropJPEGExifThumbnail(jpeg));  // nothing left to drop
    }
}

TEST_F(EncodingExifThumbnailTest, LeavesOtherDataAlone) {
    std::vector<std::uint8_t> plain = Encode(SolidImage(8, 8, {1, 2, 3, 255}));
    const std::vector<std::uint8_t> before = plain;
    EXPECT_FALSE(DropJPEGExifThumbnail(plain));
    EXPECT_EQ(plain, before);

    std::vector<std::uint8_t> empty;
    EXPECT_FALSE(DropJPEGExifThumbnail(empty));
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    EXPECT_FALSE(DropJPEGExifThumbnail(png));

    // Cut anywhere, broken data is never read out of bounds nor changed wrongly.
    const std::vector<std::uint8_t> full = JPEGWithThumbnail(Exiv2::littleEndian);
    for (std::size_t cut = 0; cut < std::min<std::size_t>(full.size(), 600); cut += 7) {
        std::vector<std::uint8_t> part(full.begin(), full.begin() + std::ptrdiff_t(cut));
        DropJPEGExifThumbnail(part);
        EXPECT_EQ(part.size(), cut);
    }
    // A segment length running past the end.
    std::vector<std::uint8_t> liar = {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f', 0, 0};
    EXPECT_FALSE(DropJPEGExifThumbnail(liar));
}
