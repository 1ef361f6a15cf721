#include "platform/ImageRep.h"

#include "platform/DecodeWatch.h"

#include <algorithm>
#include <cmath>

namespace plat {

using vips::VImage;

VImage ApplyOrientation(const VImage& image, int orientation) {
    VImage out = image;
    switch (orientation) {
    case 2: out = image.flip(VIPS_DIRECTION_HORIZONTAL); break;
    case 3: out = image.rot(VIPS_ANGLE_D180); break;
    case 4: out = image.flip(VIPS_DIRECTION_VERTICAL); break;
    case 5: out = image.rot(VIPS_ANGLE_D90).flip(VIPS_DIRECTION_HORIZONTAL); break;
    case 6: out = image.rot(VIPS_ANGLE_D90); break;
    case 7: out = image.rot(VIPS_ANGLE_D90).flip(VIPS_DIRECTION_VERTICAL); break;
    case 8: out = image.rot(VIPS_ANGLE_D270); break;
    default: break;
    }
    if (vips_image_get_typeof(out.get_image(), VIPS_META_ORIENTATION)) {
        // A copy, so the loader's image keeps its own fields.
        out = out.copy();
        out.remove(VIPS_META_ORIENTATION);
    }
    return out;
}

std::optional<ImageRep> ImageRep::Load(const std::shared_ptr<const ImageSource>& source,
                                       std::size_t index, const Options& options) {
    if (!source || index >= source->count()) return std::nullopt;
    ImageRep rep;
    rep.source_ = source;
    rep.type_ = source->typeIdentifier();
    rep.properties_ = source->properties(index);
    if (rep.properties_.empty()) return std::nullopt;
    const int orientation = int(rep.properties_.integer(prop::Orientation).value_or(1));
    rep.orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
    const bool turned = rep.orientation_ >= 5;
    const int storedWide = int(rep.properties_.integer(prop::PixelWidth).value_or(0));
    const int storedHigh = int(rep.properties_.integer(prop::PixelHeight).value_or(0));
    rep.pixelsWide_ = turned ? storedHigh : storedWide;
    rep.pixelsHigh_ = turned ? storedWide : storedHigh;
    rep.bitsPerComponent_ = int(rep.properties_.integer(prop::Depth).value_or(8));
    auto dpiX = rep.properties_.number(prop::DPIWidth);
    auto dpiY = rep.properties_.number(prop::DPIHeight);
    if (dpiX && dpiY && *dpiX > 0.0 && *dpiY > 0.0) {
        rep.statedDPI_ = true;
        rep.dpiX_ = turned ? *dpiY : *dpiX;
        rep.dpiY_ = turned ? *dpiX : *dpiY;
    }

    // Flips along rows work in one pass; turns need random access.
    DecodeOptions decode;
    decode.shrink = options.shrink;
    decode.sequential = options.sequential && rep.orientation_ <= 2;
    try {
        VImage image = source->load(index, decode);
        if (!decode.sequential && !options.lazy) {
            image = image.copy_memory();
            if (DecodeFailed(image)) return std::nullopt;
        }
        image = ApplyOrientation(image, rep.orientation_);
        rep.image_ = Image::Create(std::move(image), options.keepDepth);
    } catch (const vips::VError&) {
        vips_error_clear();
        return std::nullopt;
    }
    if (!rep.image_ || rep.pixelsWide_ <= 0 || rep.pixelsHigh_ <= 0) return std::nullopt;
    if (options.shrink <= 1) {
        // Formats that decode already upright (camera raw) report their own size.
        rep.pixelsWide_ = rep.image_->width();
        rep.pixelsHigh_ = rep.image_->height();
    }
    return rep;
}

std::optional<ImageRep> ImageRep::Load(const std::filesystem::path& path, const Options& options) {
    return Load(ImageSource::Open(path), 0, options);
}

std::optional<ImageRep> ImageRep::LoadThumbnail(const std::filesystem::path& path, int maxPixelSize) {
    auto source = ImageSource::Open(path);
    if (!source || maxPixelSize <= 0) return std::nullopt;
    const PropertyDict stored = source->properties(0);
    const double longer = double(std::max(stored.integer(prop::PixelWidth).value_or(0),
                                          stored.integer(prop::PixelHeight).value_or(0)));
    if (longer <= 0.0) return std::nullopt;
    int shrink = 1;
    while (shrink < 8 && longer / (shrink * 2) >= maxPixelSize) shrink *= 2;
    auto rep = Load(source, 0, Options{shrink, false});
    if (!rep) return std::nullopt;
    const ImageRef& image = rep->image();
    const double side = double(std::max(image->width(), image->height()));
    if (side > maxPixelSize) {
        try {
            VImage small = image->vimage().thumbnail_image(
                maxPixelSize, VImage::option()->set("height", maxPixelSize)->set("size", VIPS_SIZE_DOWN));
            small = small.copy_memory();
            if (DecodeFailed(small)) return std::nullopt;
            rep->image_ = Image::Create(std::move(small));
        } catch (const vips::VError&) {
            vips_error_clear();
            return std::nullopt;
        }
    }
    return rep;
}

}  // namespace plat
