#include "engine/ImageConverter.h"

#include "common/KSMUtil.h"
#include "engine/Geometry.h"
#include "engine/ImageTypes.h"
#include "engine/WebPCodec.h"
#include "platform/FileManager.h"
#include "platform/PdfDocument.h"

#include <webp/decode.h>

#include <algorithm>
#include <cctype>
#include <exception>

namespace {

bool HasWebPExtension(const std::filesystem::path& url) {
    std::string extension = url.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension == ".webp";
}

std::filesystem::path NewTemporaryTIFFPath() {
    std::filesystem::path path = GetTemporaryURL();
    if (path.empty()) return {};
    path += ".tif";
    return path;
}

// Decodes a WebP file that the image reader refused into a temporary TIFF and
// makes that the converter's source.
bool LoadWebPThroughTIFF(ImageConverter* c, const std::filesystem::path& url,
                         const std::function<plat::ImageRep::Options(const plat::PropertyDict&)>& plan) {
    const auto bytes = plat::FileManager::contentsOfFile(url);
    if (!bytes || bytes->empty()) return false;
    const std::filesystem::path temporary = NewTemporaryTIFFPath();
    if (temporary.empty()) return false;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return false;
    if (DecodeWebPToTIFFFile(bytes->data(), bytes->size(), &config, temporary.c_str()) != 0) return false;
    if (!plat::FileManager::fileExists(temporary)) return false;
    // From here on the converter owns the file, whatever happens next.
    c->sourceURL = temporary;
    c->deleteSourceOnRelease = 1;
    c->sourceImage = plat::ImageSource::Open(temporary);
    if (!c->sourceImage) return false;
    c->sourceRep = plat::ImageRep::Load(c->sourceImage, 0,
                                        plan ? plan(c->sourceImage->properties(0)) : plat::ImageRep::Options{});
    return c->sourceRep.has_value();
}

void ClearFields(ImageConverter* c) {
    c->quality = 0.0;
    c->outputType = 0;
    c->orientation = 0;
    c->colorMode = 0;
    c->dpiX = c->dpiY = 0.0;
    c->fixedDPI = 0.0;
    c->fitWidth = c->fitHeight = 0.0;
    c->firstPage = c->lastPage = 0;
    c->pageRangeMode = 0;
    c->sourceURL.clear();
    c->destinationURL.clear();
    c->pdfImageRep.reset();
    c->password.clear();
    c->outputBaseName.clear();
    c->numberFromFirstPage = c->overwriteExisting = c->useSourceDPI = 0;
    c->progress = ProgressCallbackInfo{};
    c->textWatermarkOn = c->preserveMetadata = c->keepOutputInMemory = 0;
    c->imageWatermarkOn = c->deleteSourceOnRelease = c->returnImage = 0;
    c->rotationAngle = 0;
    c->flipMask = 0;
    c->watermark = WatermarkOptions{};
    c->fileAttributes.reset();
    c->pageBatchSucceeded = 1;
}

}  // namespace

ImageConverter::~ImageConverter() { ReleaseImageConverter(this); }

// --- Life cycle --------------------------------------------------------------

void InitImageConverter(ImageConverter* converter) {
    if (!converter) return;
    ReleaseImageConverter(converter);
    ClearFields(converter);
}

void ResetImageConverter(ImageConverter* converter) { InitImageConverter(converter); }

void ReleaseImageConverter(ImageConverter* c) {
    if (!c) return;
    c->sourceRep.reset();
    c->sourceImage.reset();
    c->pdfDocument.reset();
    c->outputData.clear();
    c->outputData.shrink_to_fit();
    if (c->deleteSourceOnRelease && !c->sourceURL.empty()) {
        plat::FileManager::removeItem(c->sourceURL);
        c->sourceURL.clear();
    }
    c->deleteSourceOnRelease = 0;
    c->resultImage.reset();
}

void DestroyImageConverter(ImageConverter* converter) { ReleaseImageConverter(converter); }

// --- Loading -------------------------------------------------------------------

namespace {

using DecodePlan = std::function<plat::ImageRep::Options(const plat::PropertyDict&)>;

plat::ImageRep::Options PlanFor(const DecodePlan& plan, const std::shared_ptr<const plat::ImageSource>& source) {
    return plan ? plan(source->properties(0)) : plat::ImageRep::Options{};
}

int LoadSource(ImageConverter* c, const std::filesystem::path& url, const DecodePlan& plan) {
    if (!c || url.empty()) return 0;
    try {
        c->sourceRep.reset();
        c->sourceImage = plat::ImageSource::Open(url);
        c->sourceURL = url;
        if (c->sourceImage) c->sourceRep = plat::ImageRep::Load(c->sourceImage, 0, PlanFor(plan, c->sourceImage));
        if (c->sourceImage && c->sourceRep) return 1;
        c->sourceImage.reset();
        if (HasWebPExtension(url) && LoadWebPThroughTIFF(c, url, plan)) return 1;
    } catch (const std::exception&) {
    }
    c->sourceRep.reset();
    c->sourceImage.reset();
    return 0;
}

}  // namespace

int LoadConverterSource(ImageConverter* converter, const std::filesystem::path& url) {
    return LoadSource(converter, url, nullptr);
}

int LoadConverterSourceWithPlan(ImageConverter* converter, const std::filesystem::path& url,
                                const std::function<plat::ImageRep::Options(const plat::PropertyDict&)>& plan) {
    return LoadSource(converter, url, plan);
}

int ReloadConverterSourceRep(ImageConverter* c, const plat::ImageRep::Options& options) {
    if (!c || !c->sourceImage) return 0;
    try {
        auto rep = plat::ImageRep::Load(c->sourceImage, 0, options);
        if (!rep) return 0;
        c->sourceRep = std::move(rep);
        return 1;
    } catch (const std::exception&) {
        return 0;
    }
}

int LoadConverterPDFImageRep(ImageConverter* c, const std::filesystem::path& url) {
    if (!c || url.empty()) return 0;
    try {
        std::shared_ptr<plat::PdfDocument> document = plat::PdfDocument::Open(url.string());
        if (!document) return 0;
        c->pdfImageRep = std::move(document);
        c->sourceURL = url;
        return 1;
    } catch (const std::exception&) {
        return 0;
    }
}

int OpenConverterPDFDocument(ImageConverter* c, const std::filesystem::path& url) {
    if (!c || url.empty()) return 0;
    try {
        std::shared_ptr<plat::PdfDocument> document = plat::PdfDocument::Open(url.string());
        if (!document) return 0;
        c->pdfDocument = std::move(document);
        c->sourceURL = url;
        return 1;
    } catch (const std::exception&) {
        return 0;
    }
}

// --- Setters --------------------------------------------------------------------

void SetConverterOutput(ImageConverter* c, std::int32_t type, const std::filesystem::path& destination,
                        double quality) {
    c->outputType = type;
    c->destinationURL = destination;
    c->quality = quality;
}

void SetConverterQuality(ImageConverter* c, double quality) { c->quality = quality; }
void SetConverterOutputType(ImageConverter* c, std::int32_t type) { c->outputType = type; }
void SetConverterDestination(ImageConverter* c, const std::filesystem::path& destination) {
    c->destinationURL = destination;
}
void SetConverterOrientation(ImageConverter* c, std::uint32_t orientation) { c->orientation = orientation; }

void SetConverterOrientationFromAngle(ImageConverter* c, std::int64_t angle) {
    c->orientation = GetOrientationForAngle(angle, c->orientation);
}

void SetConverterColorMode(ImageConverter* c, std::int32_t colorMode) { c->colorMode = colorMode; }

void SetConverterDPI(ImageConverter* c, std::int64_t first, std::int64_t second) {
    c->dpiY = static_cast<double>(first);
    c->dpiX = static_cast<double>(second);
}

void SetConverterPassword(ImageConverter* c, const std::string& password) { c->password = password; }

void SetConverterPageRange(ImageConverter* c, std::int64_t first, std::int64_t last, std::int32_t mode) {
    c->firstPage = first;
    c->lastPage = last;
    c->pageRangeMode = mode;
}

void SetConverterOutputName(ImageConverter* c, const std::string& baseName, std::uint8_t numberFromFirstPage,
                            std::uint8_t overwriteExisting) {
    c->outputBaseName = baseName;
    c->numberFromFirstPage = numberFromFirstPage;
    c->overwriteExisting = overwriteExisting;
}

void SetConverterProgressTarget(ImageConverter* c, std::shared_ptr<ProgressTarget> target,
                                ProgressSelector selector) {
    c->progress.target = std::move(target);
    c->progress.selector = selector;
}

void SetConverterUseSourceDPI(ImageConverter* c, std::uint8_t flag) { c->useSourceDPI = flag; }

void SetWatermarkOptions(ImageConverter* c, const WatermarkOptions& options, WatermarkPart part) {
    WatermarkOptions& w = c->watermark;
    if (part == kWatermarkText) {
        w.text = options.text;
        w.textOrigin = options.textOrigin;
        w.editorViewSize = options.editorViewSize;
        w.font = options.font;
        w.fontSize = options.fontSize;
        w.drawingMode = options.drawingMode;
        w.textColor = options.textColor;
        w.strokeWidth = options.strokeWidth;
        w.textOpacity = options.textOpacity;
        w.characterSpacing = options.characterSpacing;
        w.rotation = options.rotation;
        w.shadow = options.shadow;
        w.shadowColor = options.shadowColor;
        w.shadowBlur = options.shadowBlur;
        w.shadowOffsetX = options.shadowOffsetX;
        w.shadowOffsetY = options.shadowOffsetY;
        w.textEndPoint = options.textEndPoint;
        c->textWatermarkOn = 1;
    } else {
        w.imageOrigin = options.imageOrigin;
        w.imageEndPoint = options.imageEndPoint;
        w.image = options.image;
        w.imageOpacity = options.imageOpacity;
        w.imageScale = options.imageScale;
        w.editorViewSize = options.editorViewSize;
        c->imageWatermarkOn = 1;
    }
}

// --- Queries --------------------------------------------------------------------

double GetConverterPixelsWide(const ImageConverter* c) {
    return c && c->sourceRep ? static_cast<double>(c->sourceRep->pixelsWide()) : 0.0;
}

double GetConverterPixelsHigh(const ImageConverter* c) {
    return c && c->sourceRep ? static_cast<double>(c->sourceRep->pixelsHigh()) : 0.0;
}

double GetConverterRepWidthPoints(const ImageConverter* c) {
    return c && c->sourceRep ? c->sourceRep->widthInPoints() : 0.0;
}

double GetConverterRepHeightPoints(const ImageConverter* c) {
    return c && c->sourceRep ? c->sourceRep->heightInPoints() : 0.0;
}

plat::Size GetConverterRepSize(const ImageConverter* c) {
    return {GetConverterRepWidthPoints(c), GetConverterRepHeightPoints(c)};
}

double GetConverterSourceDPIX(const ImageConverter* c) {
    const double points = GetConverterRepWidthPoints(c);
    return points > 0.0 ? GetConverterPixelsWide(c) / points * 72.0 : 72.0;
}

double GetConverterSourceDPIY(const ImageConverter* c) {
    const double points = GetConverterRepHeightPoints(c);
    return points > 0.0 ? GetConverterPixelsHigh(c) / points * 72.0 : 72.0;
}

int ConverterRepHasAlpha(const ImageConverter* c) { return c && c->sourceRep && c->sourceRep->hasAlpha() ? 1 : 0; }

std::int32_t GetConverterSourceTypeCode(const ImageConverter* c) {
    return c ? GetImageTypeCodeForURL(c->sourceURL) : 0;
}

std::int32_t GetSourceTypeCodeFromImageSource(const ImageConverter* c) {
    if (!c || c->sourceURL.empty()) return 0;
    const auto source = plat::ImageSource::Open(c->sourceURL);
    return source ? GetImageTypeCodeForUTI(source->typeIdentifier(), false) : 0;
}

std::string GetUTIForTypeCode(const ImageConverter* c) { return GetOutputUTIForTypeCode(c ? c->outputType : 0); }

int IsConverterPDFEncrypted(const ImageConverter* c) {
    return c && c->pdfDocument && c->pdfDocument->IsEncrypted() ? 1 : 0;
}

int UnlockConverterPDF(ImageConverter* c) {
    if (!c || !c->pdfDocument || c->password.empty()) return 0;
    try {
        return c->pdfDocument->Unlock(c->password) ? 1 : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

int IsConverterPDFLocked(ImageConverter* c) {
    // A document protected only by an owner password opens without one: it
    // is encrypted but readable, so not locked.
    if (!c || !c->pdfDocument || !c->pdfDocument->IsLocked()) return 0;
    return UnlockConverterPDF(c) ? 0 : 1;
}
