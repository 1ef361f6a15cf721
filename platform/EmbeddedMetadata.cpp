#include "platform/EmbeddedMetadata.h"

#include "platform/ImageSource.h"
#include "platform/codecs/ImageMetadata.h"

#include <vips/vips8>

#include <cstring>

namespace plat {

namespace {

std::vector<std::uint8_t> BlobOf(const vips::VImage& image, const char* field) {
    if (image.get_typeof(field) == 0) {
        return {};
    }
    std::size_t length = 0;
    const auto* data = static_cast<const std::uint8_t*>(image.get_blob(field, &length));
    return data ? std::vector<std::uint8_t>(data, data + length) : std::vector<std::uint8_t>{};
}

}  // namespace

EmbeddedMetadata ReadEmbeddedMetadata(const ImageSource& source, std::size_t index) {
    // Only the header is read: the loaders are lazy.
    const vips::VImage image = source.load(index, DecodeOptions{1, true});
    EmbeddedMetadata metadata;
    metadata.exif = BlobOf(image, VIPS_META_EXIF_NAME);
    // JPEG keeps the APP1 signature in front of the TIFF structure.
    static const std::uint8_t kExifSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (metadata.exif.size() >= 6 && std::memcmp(metadata.exif.data(), kExifSignature, 6) == 0) {
        metadata.exif.erase(metadata.exif.begin(), metadata.exif.begin() + 6);
    }
    if (metadata.exif.empty() && source.format() == codecs::ImageFormat::PNG && !source.path().empty()) {
        // libvips reads a PNG's eXIf chunk only; exiv2 also finds the EXIF
        // of the "Raw profile type exif" text that exiv2 and ImageMagick write.
        metadata.exif = codecs::ReadExifBlock(source.path());
    }
    metadata.icc = BlobOf(image, VIPS_META_ICC_NAME);
    metadata.xmp = BlobOf(image, VIPS_META_XMP_NAME);
    return metadata;
}

}  // namespace plat
