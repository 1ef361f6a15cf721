#pragma once

#include "platform/FileAttributes.h"
#include "platform/FileManager.h"
#include "platform/ImageRef.h"
#include "platform/PropertyDict.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat {
namespace codecs {
struct MetadataWrite;
struct TiffPage;
}

// Encodes one or more images in a format named by its type identifier
// ("public.jpeg", "public.tiff", ...), into memory or into a file.
//
// Properties of each image (PropertyDict keys):
//   LossyCompressionQuality  0.0..1.0 for JPEG, JPEG 2000 and WebP (default 0.85;
//                            1.0 makes JPEG 2000 and WebP lossless)
//   DPIWidth, DPIHeight      written where the format holds a resolution
//                            (JFIF, pHYs, TIFF with unit inch, BMP, PSD, PDF page
//                            size); 72 when absent
//   Orientation              EXIF orientation written into the metadata
//   HasAlpha                 false drops alpha; otherwise alpha is kept where
//                            the format holds it (JPEG and PICT are flattened
//                            onto white)
//   {TIFF} Compression       TIFF compression: 1 none, otherwise LZW
//   {TIFF} {Exif} {GPS} {IPTC} {XMP}  metadata written through exiv2 into
//                            JPEG, PNG, TIFF, PSD and JPEG 2000 output
// CMYK images are written as CMYK where the format allows (JPEG, TIFF, PDF)
// and converted to sRGB elsewhere.
//
// Several images go into one file for TIFF (pages of any size), GIF (frames
// of one size) and PDF (one page each); other formats take one image. ICNS
// and ICO output is fitted into their largest icon size (1024 and 256).
// finalize() encodes; a file is written in one atomic step and only when
// everything succeeded. One JPEG, PNG, GIF, WebP, TIFF or JPEG 2000 image,
// and TIFF pages, are encoded straight into the temporary file, with no copy
// of the whole file in memory; the metadata of a JPEG or PNG goes into its
// head on the way. A TIFF or JPEG 2000 image with metadata to add is made in
// memory first (exiv2 rewrites the whole file).
class ImageDestination {
public:
    // Null when the type cannot be written or `count` is 0.
    static std::unique_ptr<ImageDestination> CreateWithData(const std::string& typeIdentifier,
                                                            std::size_t count = 1);
    static std::unique_ptr<ImageDestination> CreateWithPath(
        const std::filesystem::path& path, const std::string& typeIdentifier, std::size_t count = 1,
        const std::optional<FileAttributes>& attributes = std::nullopt);

    static bool CanWrite(const std::string& typeIdentifier);

    // Ignored (and finalize() fails) beyond `count` images or for a null image.
    void addImage(const ImageRef& image, const PropertyDict& properties = {});
    // Properties for the whole file (PDF title and creator: "Title", "Creator").
    void setFileProperties(const PropertyDict& properties) { fileProperties_ = properties; }

    // Encodes the images. True when every image was encoded and, for a path,
    // the file was written.
    bool finalize();

    // The encoded bytes after finalize(); empty when they went straight to
    // the file.
    const std::vector<std::uint8_t>& data() const { return data_; }
    const std::string& typeIdentifier() const { return type_; }

private:
    ImageDestination() = default;
    bool encode();
    bool decodeFailed() const;
    bool encodeSingle(const FileManager::ByteWriter* write, int descriptor);
    bool writesToFile() const;
    bool writeFile();
    std::vector<codecs::TiffPage> tiffPages() const;
    codecs::MetadataWrite metadataRequest() const;

    std::string type_;
    std::size_t count_ = 1;
    std::optional<std::filesystem::path> path_;
    std::optional<FileAttributes> attributes_;
    std::vector<std::pair<ImageRef, PropertyDict>> images_;
    PropertyDict fileProperties_;
    std::vector<std::uint8_t> data_;
    bool failed_ = false;
    bool finalized_ = false;
};

}  // namespace plat
