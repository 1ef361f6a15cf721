#include "engine/WholeFileConversion.h"

#include <cmath>
#include <exception>
#include <system_error>
#include <utility>

#include <webp/encode.h>

#include "common/KSMUtil.h"
#include "engine/Encoding.h"
#include "engine/ImageConverter.h"
#include "engine/ImageTypes.h"
#include "engine/OutputBatch.h"
#include "engine/WebPEncoder.h"
#include "platform/EmbeddedMetadata.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/ImageDestination.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"
#include "platform/PdfWriter.h"
#include "platform/codecs/ImageMetadata.h"

namespace {

// Dots per inch of `pixels` spread over `points`; a size of no points counts
// as 72 dpi.
double ResolutionOf(double pixels, double points) {
    if (!(points > 0.0) || !std::isfinite(points) || !(pixels > 0.0)) {
        return 72.0;
    }
    const double dpi = pixels / (points / 72.0);
    return std::isfinite(dpi) && dpi > 0.0 ? dpi : 72.0;
}

void ApplySourceResolution(ImageConverter* converter, const WholeFileRepresentation& rep) {
    converter->dpiX = ResolutionOf(rep.image->width(), rep.widthInPoints);
    converter->dpiY = ResolutionOf(rep.image->height(), rep.heightInPoints);
}

// CMYK TIFF output is CMYK on every road, as it is from the renderer; this
// road draws nothing, so the pixels are converted here. Null when they
// cannot be.
plat::ImageRef InOutputColorModel(const ImageConverter* converter, plat::ImageRef image) {
    if (converter->outputType != kImageTypeCMYKTIFF || !image || image->colorModel() == plat::ColorModel::CMYK) {
        return image;
    }
    try {
        return plat::Image::Create(image->vimage().colourspace(VIPS_INTERPRETATION_CMYK));
    } catch (const std::exception&) {
        vips_error_clear();
        return nullptr;
    }
}

// The types the bitmap writer encodes by itself in the whole-file road.
bool WritesThroughBitmapRep(std::int32_t type) {
    return type == kImageTypeGIF || type == kImageTypeJPEG || type == kImageTypePNG || type == kImageTypeTIFF ||
           type == kImageTypeCMYKTIFF;
}

// The bitmap writer's own properties: its compression or quality and the
// image's resolution, nothing else.
plat::PropertyDict BitmapRepProperties(const ImageConverter* converter) {
    plat::PropertyDict properties;
    properties.set(plat::prop::DPIWidth, converter->dpiX);
    properties.set(plat::prop::DPIHeight, converter->dpiY);
    if (const auto bitmap = CreateBitmapRepProperties(converter->outputType, converter->quality)) {
        if (bitmap->compressionMethod) {
            properties.dictForUpdate(plat::prop::TIFFDictionary)
                .set(plat::prop::TIFFCompression, static_cast<std::int64_t>(*bitmap->compressionMethod));
        }
        if (bitmap->compressionFactor) {
            properties.set(plat::prop::LossyCompressionQuality, *bitmap->compressionFactor);
        }
    }
    return properties;
}

bool EncodeAsBitmapRep(const ImageConverter* converter, const plat::ImageRef& image, std::vector<std::uint8_t>& data) {
    auto destination = plat::ImageDestination::CreateWithData(GetOutputUTIForTypeCode(converter->outputType));
    if (!destination) {
        return false;
    }
    destination->addImage(image, BitmapRepProperties(converter));
    if (!destination->finalize() || destination->data().empty()) {
        return false;
    }
    data = destination->data();
    return true;
}

bool WriteThroughBitmapRep(ImageConverter* converter, const plat::ImageRef& image,
                           const std::filesystem::path& target) {
    auto destination = plat::ImageDestination::CreateWithPath(
        target, GetOutputUTIForTypeCode(converter->outputType), 1, converter->fileAttributes);
    if (!destination) {
        return false;
    }
    destination->addImage(image, BitmapRepProperties(converter));
    return destination->finalize();
}

bool WriteAsWebP(ImageConverter* converter, const plat::ImageRef& image, const std::filesystem::path& target) {
    WebPConfig config;
    if (!InitWebPOutputConfig(&config)) {
        return false;
    }
    SetWebPOutputQuality(&config, converter->quality);
    if (!converter->preserveMetadata || !converter->sourceImage) {
        return WriteImageAsWebP(*image, target, config, converter->fileAttributes) == 0;
    }
    // The source's EXIF, profile and XMP, as the other formats keep them;
    // pixels with the profile stay in its colours.
    const plat::EmbeddedMetadata blocks = plat::ReadEmbeddedMetadata(*converter->sourceImage, 0);
    WebPMetadata metadata;
    metadata.exif = plat::codecs::ExifForOutput(blocks.exif, image->width(), image->height());
    const std::string xmp = plat::codecs::XmpForOutput(std::string(blocks.xmp.begin(), blocks.xmp.end()), 1,
                                                       image->width(), image->height());
    metadata.xmp.assign(xmp.begin(), xmp.end());
    plat::ImageRef pixels = image;
    const bool profiled = vips_image_get_typeof(image->vimage().get_image(), VIPS_META_ICC_NAME) != 0;
    if (profiled && !blocks.icc.empty() && image->colorModel() == plat::ColorModel::RGB) {
        metadata.icc = blocks.icc;
        vips::VImage untagged = image->vimage().copy();
        untagged.remove(VIPS_META_ICC_NAME);
        pixels = plat::Image::Create(untagged);
        if (!pixels) {
            return false;
        }
    }
    std::vector<std::uint8_t> data;
    const int mask = kWebPMetadataExif | kWebPMetadataIcc | kWebPMetadataXmp;
    return EncodeImageToWebPData(*pixels, config, &metadata, mask, data) == 0 &&
           plat::FileManager::createFile(target, data.data(), data.size(), converter->fileAttributes);
}

// Hands out the image of the representation being written: first the one
// loaded, then a fresh load for each further attempt (an image decoded in
// one pass is read only once).
using FreshImage = std::function<plat::ImageRef()>;

// The encoder, and when it refuses the image, once more with the image as
// it comes back from a TIFF round trip.
bool WriteThroughEncoder(ImageConverter* converter, const FreshImage& fresh, const std::filesystem::path& target) {
    if (WriteConverterOutput(converter, fresh(), &target) == 1) {
        return true;
    }
    const plat::ImageRef image = fresh();
    if (!image) {
        return false;
    }
    const std::int32_t type = converter->outputType;
    converter->outputType = kImageTypeTIFF;
    std::vector<std::uint8_t> tiff;
    const int encoded = EncodeCGImageToData(converter, image, tiff);
    converter->outputType = type;
    plat::ImageRef decoded;
    if (!encoded || !DecodeCGImageFromData(converter, tiff, &decoded)) {
        return false;
    }
    return WriteConverterOutput(converter, decoded, &target) == 1;
}

bool WriteRepresentation(ImageConverter* converter, const FreshImage& fresh, const std::filesystem::path& target) {
    if (WritesThroughBitmapRep(converter->outputType) && converter->useSourceDPI && !converter->preserveMetadata &&
        WriteThroughBitmapRep(converter, fresh(), target)) {
        return true;
    }
    if (converter->outputType == kImageTypeWebP) {
        const plat::ImageRef image = fresh();
        return image && WriteAsWebP(converter, image, target);
    }
    return WriteThroughEncoder(converter, fresh, target);
}

}  // namespace

std::size_t GetSourceRepresentationCount(const plat::ImageSource& source) {
    switch (source.format()) {
        case plat::codecs::ImageFormat::GIF:
        case plat::codecs::ImageFormat::WebP:  // decoded as one picture, like a GIF
        case plat::codecs::ImageFormat::PDF:
        case plat::codecs::ImageFormat::Illustrator:
            return source.count() > 0 ? 1 : 0;
        default:
            return source.count();
    }
}

int SaveConvertedRepresentations(
    ImageConverter* converter, std::size_t count,
    const std::function<std::optional<WholeFileRepresentation>(std::size_t index)>& load) {
    if (!converter || count == 0 || converter->destinationURL.empty()) {
        return 0;
    }
    try {
        const std::filesystem::path destination = converter->destinationURL;
        const std::string baseName = destination.stem().string();
        std::string extension = destination.extension().string();
        if (!extension.empty()) {
            extension.erase(0, 1);
        }
        const bool several = count >= 2;
        const bool onePdf = several && converter->outputType == kImageTypePDF;
        // A failed run leaves nothing of itself behind.
        OutputBatch outputs;
        if (several && !onePdf && !outputs.MakeFolder(destination.parent_path() / baseName)) {
            return 0;
        }
        const std::filesystem::path folder = destination.parent_path() / baseName;
        long nextNumber = 0;
        plat::PdfWriter pdf;
        // One representation at a time, and nothing of it kept once written:
        // memory stays flat however many there are. The first failure ends
        // the run.
        for (std::size_t index = 0; index < count; ++index) {
            std::optional<WholeFileRepresentation> rep = load(index);
            if (!rep || !rep->image) {
                return 0;
            }
            if (converter->useSourceDPI) {
                ApplySourceResolution(converter, *rep);
            }
            auto prepared = [converter](plat::ImageRef image) { return InOutputColorModel(converter, std::move(image)); };
            if (onePdf) {
                // Pages in order; the document is written once, complete, at the end.
                const plat::ImageRef image = prepared(std::move(rep->image));
                if (!image || !pdf.addImagePage(image, converter->dpiX, converter->dpiY)) {
                    return 0;
                }
                continue;
            }
            const std::filesystem::path target =
                several ? outputs.Stage(GetNextUniqueFileURL(folder, baseName, extension, nextNumber), false)
                        : destination;
            if (target.empty()) {
                return 0;
            }
            bool first = true;
            const FreshImage fresh = [&]() -> plat::ImageRef {
                if (std::exchange(first, false)) {
                    return prepared(std::move(rep->image));
                }
                std::optional<WholeFileRepresentation> again = load(index);
                return again && again->image ? prepared(std::move(again->image)) : nullptr;
            };
            if (!WriteRepresentation(converter, fresh, target)) {
                return 0;
            }
        }
        if (onePdf && !pdf.write(destination, converter->fileAttributes)) {
            return 0;
        }
        return several && !onePdf && !outputs.Commit() ? 0 : 1;
    } catch (const std::exception&) {
        return 0;
    }
}

int SaveConvertedImageFile(ImageConverter* converter) {
    if (!converter || !converter->sourceImage) {
        return 0;
    }
    const std::shared_ptr<const plat::ImageSource> source = converter->sourceImage;
    const std::size_t count = GetSourceRepresentationCount(*source);
    // Each image is decoded in one pass as it is written, except into a PDF,
    // whose writer reads colour and alpha apart.
    plat::ImageRep::Options options;
    options.sequential = !(count >= 2 && converter->outputType == kImageTypePDF);
    options.lazy = !options.sequential;
    // 16-bit and float images stay so in the formats that hold them.
    options.keepDepth = TypeKeepsDepth(converter->outputType) == 1;
    return SaveConvertedRepresentations(
        converter, count, [&source, options](std::size_t index) -> std::optional<WholeFileRepresentation> {
            std::optional<plat::ImageRep> rep = plat::ImageRep::Load(source, index, options);
            if (!rep || !rep->image()) {
                return std::nullopt;
            }
            WholeFileRepresentation out;
            out.image = rep->image();
            out.widthInPoints = rep->widthInPoints();
            out.heightInPoints = rep->heightInPoints();
            return out;
        });
}

int DecodeCGImageFromData(ImageConverter*, std::span<const std::uint8_t> data, plat::ImageRef* image) {
    if (!image || data.empty()) {
        return 0;
    }
    try {
        const auto source = plat::ImageSource::OpenData(data);
        if (!source) {
            return 0;
        }
        *image = source->createImage(0);
        return *image ? 1 : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

const plat::ImageRep* GetConverterBitmapRep(ImageConverter* converter) {
    if (!converter) {
        return nullptr;
    }
    if (!converter->sourceRep && converter->sourceImage) {
        try {
            converter->sourceRep = plat::ImageRep::Load(converter->sourceImage, 0);
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    return converter->sourceRep ? &*converter->sourceRep : nullptr;
}

int EncodeWithBitmapImageRep(ImageConverter* converter, std::vector<std::uint8_t>& data) {
    const plat::ImageRep* rep = GetConverterBitmapRep(converter);
    if (!rep || !rep->image()) {
        return 0;
    }
    try {
        if (converter->useSourceDPI) {
            converter->dpiX = ResolutionOf(rep->pixelsWide(), rep->widthInPoints());
            converter->dpiY = ResolutionOf(rep->pixelsHigh(), rep->heightInPoints());
        }
        data.clear();
        const plat::ImageRef image = InOutputColorModel(converter, rep->image());
        if (!image) {
            return 0;
        }
        if (TypeSupportedByBitmapImageRep(converter->outputType) && converter->useSourceDPI) {
            return EncodeAsBitmapRep(converter, image, data) ? 1 : 0;
        }
        return EncodeCGImageToData(converter, image, data) && !data.empty() ? 1 : 0;
    } catch (const std::exception&) {
        return 0;
    }
}
