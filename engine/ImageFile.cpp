#include "engine/ImageFile.h"

#include "engine/ImageTypes.h"
#include "engine/SgiWriter.h"
#include "engine/WebPCodec.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/ImageDestination.h"
#include "platform/ImageRep.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <vector>

namespace {

double DisplayedWidth(const ImageFile* file) {
    if (!file || !file->image) return 0.0;
    const bool turned = file->orientation == 6 || file->orientation == 8;
    return turned ? file->image->height() : file->image->width();
}

double DisplayedHeight(const ImageFile* file) {
    if (!file || !file->image) return 0.0;
    const bool turned = file->orientation == 6 || file->orientation == 8;
    return turned ? file->image->width() : file->image->height();
}

// The image turned upright, for writers that cannot record an orientation.
plat::ImageRef UprightImage(const ImageFile* file) {
    if (!file->image) return nullptr;
    if (file->orientation < 2 || file->orientation > 8) return file->image;
    try {
        return plat::Image::Create(plat::ApplyOrientation(file->image->vimage(), int(file->orientation)));
    } catch (const vips::VError&) {
        vips_error_clear();
        return nullptr;
    }
}

}  // namespace

void InitImageFile(ImageFile* file) {
    if (!file) return;
    file->image = nullptr;
    file->imageSource = nullptr;
    file->properties.reset();
    file->quality = 0.0;
    file->outputType = kImageTypeJPEG;
    file->destinationURL.clear();
    file->orientation = 0;
    file->saveDPI = 0.0;
}

void InitImageFileTwin(ImageFile* file) { InitImageFile(file); }

void ReleaseImageFile(ImageFile* file) {
    if (!file) return;
    file->imageSource = nullptr;
    file->image = nullptr;
    file->properties.reset();
}

int LoadImageFile(ImageFile* file, const std::filesystem::path& url) {
    if (!file) return 0;
    // A reused object answers for the new file only.
    ReleaseImageFile(file);
    file->orientation = 0;
    try {
        file->imageSource = plat::ImageSource::Open(url);
        if (!file->imageSource) return 0;
        // Lazy: the pixels are decoded only when a resize or save needs them.
        file->image = plat::Image::Create(file->imageSource->load(0, plat::DecodeOptions{}));
        file->properties = file->imageSource->properties(0);
        if (auto orientation = file->properties->integer(plat::prop::Orientation)) {
            file->orientation = std::uint32_t(*orientation);
        }
    } catch (const std::exception&) {
        vips_error_clear();
        file->image = nullptr;
    }
    return file->image ? 1 : 0;
}

double GetImageFileWidth(const ImageFile* file) { return DisplayedWidth(file); }
double GetImageFileHeight(const ImageFile* file) { return DisplayedHeight(file); }

double GetImageFileDPI(const ImageFile* file) {
    if (!file || !file->image || !file->properties) return 72.0;
    return file->properties->number(plat::prop::DPIWidth).value_or(72.0);
}

double GetImageFileDPIHeight(const ImageFile* file) {
    if (!file || !file->properties) return 72.0;
    return file->properties->number(plat::prop::DPIHeight).value_or(72.0);
}

void SetImageFileOutput(ImageFile* file, std::int32_t type, const std::filesystem::path& destination,
                        double quality) {
    if (!file) return;
    file->outputType = type;
    file->destinationURL = destination;
    file->quality = quality;
}

void SetImageFileQuality(ImageFile* file, double quality) {
    if (file) file->quality = quality;
}

void SetImageFileOutputType(ImageFile* file, std::int32_t type) {
    if (file) file->outputType = type;
}

void SetImageFileDestination(ImageFile* file, const std::filesystem::path& destination) {
    if (file) file->destinationURL = destination;
}

void SetImageFileOrientation(ImageFile* file, std::uint32_t orientation) {
    if (file) file->orientation = orientation;
}

int ResizeImageFile(ImageFile* file, double width, double height) {
    if (!file || !file->image) return 0;
    if (!std::isfinite(width) || !std::isfinite(height)) return 0;
    const double w = std::max(1.0, std::round(width));
    const double h = std::max(1.0, std::round(height));
    if (!plat::Image::sizeAllowed(std::int64_t(w), std::int64_t(h))) return 0;
    try {
        // An RGB bitmap without alpha: transparency over black.
        vips::VImage rgba = file->image->toSRGBA();
        vips::VImage rgb = rgba.flatten(vips::VImage::option()->set("background", std::vector<double>{0, 0, 0}))
                               .cast(VIPS_FORMAT_UCHAR)
                               .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        vips::VImage resized = rgb.thumbnail_image(int(w), vips::VImage::option()
                                                               ->set("height", int(h))
                                                               ->set("size", VIPS_SIZE_FORCE));
        plat::ImageRef image = plat::Image::Create(resized.copy_memory());
        if (!image) return 0;
        file->image = std::move(image);
        return 1;
    } catch (const std::exception&) {
        vips_error_clear();
        return 0;
    }
}

int ResizeImageFileByPercent(ImageFile* file, double percent) {
    if (!file || !file->image) return 0;
    return ResizeImageFile(file, file->image->width() * percent / 100.0,
                           file->image->height() * percent / 100.0);
}

plat::PropertyDict CreateImageFileDestinationProperties(const ImageFile* file) {
    plat::PropertyDict properties;
    if (!file) return properties;
    if (file->orientation != 0) properties.set(plat::prop::Orientation, std::int64_t(file->orientation));
    if (TypeDeclaresAlpha(file->outputType)) properties.set(plat::prop::HasAlpha, true);
    if (file->saveDPI != 0.0) {
        properties.set(plat::prop::DPIWidth, file->saveDPI);
        properties.set(plat::prop::DPIHeight, file->saveDPI);
    }
    if (TypeUsesLZWCompression(file->outputType)) {
        // LZW for every TIFF: CCITT schemes hold bilevel images only.
        plat::PropertyDict tiff;
        tiff.set(plat::prop::TIFFCompression, kTIFFCompressionLZW);
        properties.set(plat::prop::TIFFDictionary, std::move(tiff));
    }
    if (TypeUsesLossyQuality(file->outputType)) {
        properties.set(plat::prop::LossyCompressionQuality, file->quality);
    }
    return properties;
}

std::string GetUTIForImageFileType(const ImageFile* file) {
    return GetOutputUTIForTypeCode(file ? file->outputType : kImageTypeJPEG);
}

int SaveImageFile(ImageFile* file) {
    if (!file) return 0;
    if (file->outputType == kImageTypeSGI) return SaveImageFileAsSGI(file);
    if (file->outputType == kImageTypePDF) return SaveImageFileAsPDF(file);
    if (!file->image || file->destinationURL.empty()) return 0;
    try {
        plat::ImageRef image = file->image;
        if (file->outputType == kImageTypeCMYKTIFF && image->colorModel() != plat::ColorModel::CMYK) {
            image = plat::Image::Create(image->vimage().colourspace(VIPS_INTERPRETATION_CMYK));
        }
        auto destination = plat::ImageDestination::CreateWithPath(file->destinationURL,
                                                                  GetUTIForImageFileType(file));
        if (!destination) return 0;
        destination->addImage(image, CreateImageFileDestinationProperties(file));
        return destination->finalize() ? 1 : 0;
    } catch (const std::exception&) {
        vips_error_clear();
        return 0;
    }
}

int DrawImageFileOnPDFPage(ImageFile* file, plat::PdfWriter* context) {
    if (!file || !file->image || !context) return 0;
    // The page box uses the displayed size, so the pixels go in upright.
    plat::ImageRef image = UprightImage(file);
    if (!image) return 0;
    return context->addImagePage(image, GetImageFileDPI(file), GetImageFileDPIHeight(file)) ? 1 : 0;
}

int SaveImageFileAsPDF(ImageFile* file) {
    if (!file || file->destinationURL.empty()) return 0;
    plat::PdfWriter writer;
    writer.setTitle("PDF File");
    writer.setCreator("Vantrell");
    if (!DrawImageFileOnPDFPage(file, &writer)) return 0;
    return writer.write(file->destinationURL) ? 1 : 0;
}

int SaveImageFileAsSGI(ImageFile* file) {
    if (!file || file->destinationURL.empty()) return 0;
    // SGI has no orientation tag: write the pixels upright.
    plat::ImageRef image = UprightImage(file);
    SGIBitmap bitmap;
    if (!CreateSGIBitmapFromImage(&bitmap, image)) return 0;
    const int result = WriteSGIFile(&bitmap, file->destinationURL);
    ReleaseSGIBitmap(&bitmap);
    return result;
}

int GetWebPImageSize(ImageFile* /*file*/, const std::filesystem::path& url, int* width, int* height) {
    // The size stands in the first chunk headers: a prefix of the file is
    // enough, and a huge file is not read into memory for it.
    constexpr std::size_t kHeaderBytes = 65536;
    const auto bytes = plat::FileManager::leadingBytesOfFile(url, kHeaderBytes);
    if (!bytes || bytes->empty()) return 0;
    return GetWebPDimensions(bytes->data(), bytes->size(), width, height) == 0 ? 1 : 0;
}
