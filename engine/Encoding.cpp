#include "engine/Encoding.h"

#include "engine/ImageTypes.h"
#include "engine/JpegMemoryCodec.h"
#include "platform/FileManager.h"
#include "platform/ImageDestination.h"
#include "platform/ImageSource.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <span>

namespace {

// The metadata dictionaries copied unchanged, in order.
constexpr const char* kCopiedDictionaries[] = {
    plat::prop::GIFDictionary, plat::prop::JFIFDictionary, plat::prop::ExifDictionary,
    plat::prop::PNGDictionary, plat::prop::IPTCDictionary, plat::prop::GPSDictionary, plat::prop::XMPDictionary,
};

// TIFF resolution unit: inch.
constexpr int kResolutionUnitInch = 2;

plat::PropertyDict SourceProperties(const ImageConverter* c) {
    // The loaded representation keeps the properties as stored.
    if (c->sourceRep && c->sourceRep->source() && c->sourceRep->source()->path() == c->sourceURL) {
        return c->sourceRep->properties();
    }
    if (c->sourceURL.empty()) return {};
    const auto source = plat::ImageSource::Open(c->sourceURL);
    return source ? source->properties(0) : plat::PropertyDict{};
}

}  // namespace

void CopySourceMetadata(const ImageConverter* c, plat::PropertyDict& properties) {
    if (!c) return;
    plat::PropertyDict source;
    try {
        source = SourceProperties(c);
    } catch (const std::exception&) {
        return;
    }
    if (source.empty()) return;

    if (const plat::PropertyDict* stored = source.dict(plat::prop::TIFFDictionary)) {
        plat::PropertyDict tiff = *stored;
        tiff.set(plat::prop::TIFFOrientation, static_cast<std::int64_t>(c->orientation ? c->orientation : 1));
        tiff.set(plat::prop::TIFFXResolution, c->dpiX);
        tiff.set(plat::prop::TIFFYResolution, c->dpiY);
        tiff.set(plat::prop::TIFFResolutionUnit, kResolutionUnitInch);
        if (c->outputType == kImageTypeTIFF || c->outputType == kImageTypeCMYKTIFF) {
            tiff.set(plat::prop::TIFFCompression, kTIFFCompressionLZW);
        }
        properties.set(plat::prop::TIFFDictionary, std::move(tiff));
    }
    for (const char* key : kCopiedDictionaries) {
        if (const plat::PropertyDict* dict = source.dict(key)) properties.set(key, *dict);
    }
}

plat::PropertyDict CreateDestinationProperties(const ImageConverter* c) {
    plat::PropertyDict properties;
    if (!c) return properties;
    if (c->preserveMetadata && TypeKeepsMetadata(c->outputType)) {
        CopySourceMetadata(c, properties);
    }
    if (c->orientation > 1 || (c->orientation == 1 && c->preserveMetadata)) {
        // Without metadata, an upright output needs no orientation tag (and
        // so no EXIF block) at all.
        properties.set(plat::prop::Orientation, static_cast<std::int64_t>(c->orientation));
    } else if (const plat::PropertyDict* tiff = properties.dict(plat::prop::TIFFDictionary)) {
        // Copied metadata states the orientation of the upright output.
        if (auto value = tiff->integer(plat::prop::TIFFOrientation)) properties.set(plat::prop::Orientation, *value);
    }
    if (TypeDeclaresAlpha(c->outputType)) properties.set(plat::prop::HasAlpha, true);
    if (c->dpiX != 0.0 || c->dpiY != 0.0) {
        properties.set(plat::prop::DPIWidth, c->dpiX);
        properties.set(plat::prop::DPIHeight, c->dpiY);
    }
    if (TypeUsesLZWCompression(c->outputType) && !properties.dict(plat::prop::TIFFDictionary)) {
        plat::PropertyDict tiff;
        tiff.set(plat::prop::TIFFCompression, kTIFFCompressionLZW);
        properties.set(plat::prop::TIFFDictionary, std::move(tiff));
    }
    if (TypeUsesLossyQuality(c->outputType)) {
        properties.set(plat::prop::LossyCompressionQuality, c->quality);
    }
    return properties;
}

int EncodeCGImageToData(ImageConverter* c, const plat::ImageRef& image, std::vector<std::uint8_t>& data) {
    if (!c || !image) return 0;
    try {
        const plat::PropertyDict properties = CreateDestinationProperties(c);
        const std::string uti = GetUTIForTypeCode(c);
        auto destination = plat::ImageDestination::CreateWithData(uti, 1);
        if (!destination) return 0;
        destination->addImage(image, properties);
        if (!destination->finalize()) return 0;
        data = destination->data();
        return data.empty() ? 0 : 1;
    } catch (const std::exception&) {
        return 0;
    }
}

int WriteConverterOutput(ImageConverter* c, const plat::ImageRef& image, const std::filesystem::path* alternativeURL) {
    if (!c) return 0;
    if (c->returnImage) {
        if (!image) return 0;
        c->resultImage = image;
        return 1;
    }
    if (c->keepOutputInMemory) {
        std::vector<std::uint8_t> data;
        if (!EncodeCGImageToData(c, image, data)) return 0;
        c->outputData = std::move(data);
        return 1;
    }
    const std::filesystem::path& target = alternativeURL ? *alternativeURL : c->destinationURL;
    if (target.empty() || !image) return 0;
    try {
        // Encoded into the file as it is written, not into memory first.
        auto destination = plat::ImageDestination::CreateWithPath(target, GetUTIForTypeCode(c), 1, c->fileAttributes);
        if (!destination) return 0;
        destination->addImage(image, CreateDestinationProperties(c));
        return destination->finalize() ? 1 : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

int EncodeJPEGWithConverter(ImageConverter* c, int width, int height, const std::uint8_t* samples, int colorSpace,
                            int components) {
    if (!c || !samples || width <= 0 || height <= 0) return 0;
    std::uint8_t* jpeg = nullptr;
    unsigned long size = 0;
    const double quality = std::isfinite(c->quality) ? std::clamp(c->quality, 0.0, 1.0) : 0.0;
    EncodeJPEGData(width, height, samples, colorSpace, components, &jpeg, &size, static_cast<int>(quality * 100.0),
                   c->dpiX, c->dpiY);
    if (!jpeg || size == 0) {
        std::free(jpeg);
        return 0;
    }
    c->outputData.assign(jpeg, jpeg + size);
    std::free(jpeg);
    return 1;
}
