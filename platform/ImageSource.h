#pragma once

#include "platform/ImageRef.h"
#include "platform/PropertyDict.h"
#include "platform/codecs/ImageFormat.h"
#include "platform/codecs/TiffDirectories.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <vips/vips8>

namespace plat {

// How an image is decoded.
struct DecodeOptions {
    // Decode scaled down by up to this factor (1, 2, 4 or 8) where the format
    // allows it cheaply (JPEG's DCT scaling, WebP); other formats decode at
    // full size. Check the result's size.
    int shrink = 1;
    // Decode lazily, top to bottom, in one pass: least memory, but the image
    // can then be read only once, in order.
    bool sequential = false;
};

// An opened image file or block of bytes: its type, the number of images in
// it, each image as stored and its properties as stored (the orientation tag
// included; nothing is turned upright here — see ImageRep).
//
// The type comes from the data's signature; only formats without one (TGA,
// MacPaint, fax, camera raw) are recognised by the name's extension. Files
// that are not images (CSV, matrices, scripts) never open. Safe to share
// between threads once opened.
class ImageSource {
public:
    // Null when the file is missing, empty or not an image Vantrell reads.
    static std::shared_ptr<const ImageSource> Open(const std::filesystem::path& path);
    // `nameHint` supplies an extension for formats without a signature.
    static std::shared_ptr<const ImageSource> OpenData(std::span<const std::uint8_t> bytes,
                                                       const std::string& nameHint = "");

    // Uniform type identifier: "public.jpeg", "public.tiff", ...
    const std::string& typeIdentifier() const { return type_; }
    codecs::ImageFormat format() const { return format_; }
    std::size_t count() const { return count_; }
    // The file this source reads, empty for bytes.
    const std::filesystem::path& path() const { return path_; }

    // Properties of image `index` as stored (see PropertyDict keys): pixel
    // size, DPI only when the file states it, orientation, alpha, colour
    // model, depth and the metadata dictionaries. Empty on failure.
    PropertyDict properties(std::size_t index = 0) const;
    // Image `index` as stored. Null on failure (broken data, too large).
    ImageRef createImage(std::size_t index = 0, const DecodeOptions& options = {}) const;

    // The decoded libvips image as the loader gives it (any depth and colour
    // space). Throws vips::VError; lazy unless the format forbids it. Without
    // `sequential` the first read decodes the whole image (in memory, or a
    // temporary file when large) and a damaged one fails every read.
    vips::VImage load(std::size_t index, const DecodeOptions& options) const;

    ~ImageSource();
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;

private:
    ImageSource() = default;
    bool initialise();
    vips::VSource makeSource() const;
    // The whole file or bytes (for the codecs that decode from memory).
    std::span<const std::uint8_t> bytes() const;
    // Keeps bytes() alive for images that may outlive this source.
    std::shared_ptr<const void> bytesOwner() const;
    std::size_t countImages() const;
    // The directory chain of a TIFF file or bytes, walked on first use.
    const codecs::TiffDirectoryChain* tiffChain() const;
    // A view of page `index` of a TIFF alone (see codecs::OneTiffPageSource);
    // none when the directory chain does not reach it.
    std::optional<vips::VSource> pageSource(std::size_t index) const;
    vips::VImage decodeWhole(std::size_t index, int shrink) const;
    PropertyDict readProperties(std::size_t index) const;
    // The metadata dictionaries (EXIF, TIFF, GPS, IPTC…) of the file or bytes.
    void readMetadata(PropertyDict& properties) const;
    bool rawHeader(int* width, int* height) const;

    std::filesystem::path path_;
    VipsBlob* blob_ = nullptr;                      // bytes of OpenData
    std::shared_ptr<const std::vector<std::uint8_t>> fileBytes_;  // whole file, for in-memory codecs
    // Formats decoded whole by their codec (ImageMagick, OpenEXR, ICNS, JPEG 2000, raw)
    // are decoded once per image and kept.
    mutable std::mutex decodedMutex_;
    mutable std::map<std::pair<std::size_t, int>, vips::VImage> decoded_;
    // Properties read once per image (the metadata read costs a file parse).
    mutable std::mutex propertiesMutex_;
    mutable std::map<std::size_t, PropertyDict> properties_;
    // A TIFF's page directories, walked once when a later page is first read.
    mutable std::once_flag tiffChainOnce_;
    mutable std::optional<codecs::TiffDirectoryChain> tiffChain_;
    std::vector<std::uint8_t> head_;                // start of the data, for probes
    codecs::ImageFormat format_ = codecs::ImageFormat::Unknown;
    std::string type_;
    std::size_t count_ = 0;
};

}  // namespace plat
