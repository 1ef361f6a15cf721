#pragma once

#include "platform/Image.h"
#include "platform/ImageSource.h"
#include "platform/PropertyDict.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace plat {

struct ImageRepOptions {
    // See DecodeOptions::shrink: JPEG and WebP decode up to this factor
    // smaller. pixelsWide()/pixelsHigh() stay the full size.
    int shrink = 1;
    // One-pass lazy decode (see DecodeOptions). Ignored when turning the
    // image upright needs random access.
    bool sequential = false;
    // A decode that is not one-pass also stays lazy: the pixels are decoded
    // when first read (once, by the loader) instead of copied into memory
    // during Load, so broken data fails at that read. For callers that read
    // the pixels while the source is still open and can report the failure
    // then.
    bool lazy = false;
    // Keeps 16-bit and float grey and RGB samples (see Image); otherwise the
    // pixels are 8 bits.
    bool keepDepth = false;
};

// One image of a source, turned upright by its EXIF orientation: the pixel
// source of a conversion. Sizes, resolution and pixels are all upright; the
// properties stay as stored (the orientation tag included) for metadata
// copying.
class ImageRep {
public:
    using Options = ImageRepOptions;

    static std::optional<ImageRep> Load(const std::shared_ptr<const ImageSource>& source,
                                        std::size_t index = 0, const Options& options = {});
    static std::optional<ImageRep> Load(const std::filesystem::path& path, const Options& options = {});
    // Loads a scaled-down copy whose longer side is at most `maxPixelSize`
    // (cheap for JPEG through DCT scaling), upright.
    static std::optional<ImageRep> LoadThumbnail(const std::filesystem::path& path, int maxPixelSize);

    // Upright full pixel size of the image in the file.
    int pixelsWide() const { return pixelsWide_; }
    int pixelsHigh() const { return pixelsHigh_; }
    // Upright resolution; 72 when the file states none.
    double dpiX() const { return dpiX_; }
    double dpiY() const { return dpiY_; }
    bool hasStatedDPI() const { return statedDPI_; }
    // Size in points (1/72 inch): pixels / dpi × 72.
    double widthInPoints() const { return pixelsWide_ / dpiX_ * 72.0; }
    double heightInPoints() const { return pixelsHigh_ / dpiY_ * 72.0; }

    bool hasAlpha() const { return image_->hasAlpha(); }
    ColorModel colorModel() const { return image_->colorModel(); }
    // Bits per component as stored in the file.
    int bitsPerComponent() const { return bitsPerComponent_; }
    // The EXIF orientation that was applied (1 when none).
    int storedOrientation() const { return orientation_; }

    // Upright pixels; smaller than pixelsWide() × pixelsHigh() when decoded
    // with shrink.
    const ImageRef& image() const { return image_; }
    const PropertyDict& properties() const { return properties_; }
    const std::string& typeIdentifier() const { return type_; }
    const std::shared_ptr<const ImageSource>& source() const { return source_; }

private:
    ImageRep() = default;

    std::shared_ptr<const ImageSource> source_;
    ImageRef image_;
    PropertyDict properties_;
    std::string type_;
    int pixelsWide_ = 0, pixelsHigh_ = 0;
    double dpiX_ = 72.0, dpiY_ = 72.0;
    bool statedDPI_ = false;
    int bitsPerComponent_ = 8;
    int orientation_ = 1;
};

// Turns an image stored with EXIF orientation `orientation` (1..8) upright.
vips::VImage ApplyOrientation(const vips::VImage& image, int orientation);

}  // namespace plat
