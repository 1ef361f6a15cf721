#pragma once
// The engine's per-job object: the loaded source, the output settings, the
// watermark settings and the result of one conversion. It lives on the stack
// of the engine call that uses it and is released on every path (its
// destructor calls ReleaseImageConverter).

#include "engine/ImageConversion.h"
#include "platform/AffineTransform.h"
#include "platform/FileAttributes.h"
#include "platform/ImageRef.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"
#include "platform/PropertyDict.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat {
class PdfDocument;
}

// Which part of the watermark options SetWatermarkOptions copies.
enum WatermarkPart : std::int32_t {
    kWatermarkText = 0,
    kWatermarkImage = 1,
};

struct ImageConverter {
    ImageConverter() = default;
    ~ImageConverter();
    ImageConverter(const ImageConverter&) = delete;
    ImageConverter& operator=(const ImageConverter&) = delete;

    double quality = 0.0;            // 0.0 to 1.0
    std::int32_t outputType = 0;     // ImageTypeCode; 0 resolved from the source when rendering
    std::uint32_t orientation = 0;   // EXIF orientation to write (1, 3, 6, 8); 0 none
    std::int32_t colorMode = 0;      // 0 as source, 1 RGB, 2 CMYK, 3 gray
    double dpiX = 0.0;
    double dpiY = 0.0;
    double fixedDPI = 0.0;           // images-to-PDF: replaces both resolutions after drawing
    double fitWidth = 0.0;           // images-to-PDF: page box that fixes the resolution
    double fitHeight = 0.0;
    std::int64_t firstPage = 0;
    std::int64_t lastPage = 0;
    std::int32_t pageRangeMode = 0;  // 1 one page, 2 range, else all

    // The opened source file (all its images) and the upright pixel source.
    std::shared_ptr<const plat::ImageSource> sourceImage;
    std::filesystem::path sourceURL;       // the source, or the temporary TIFF of a WebP source
    std::filesystem::path destinationURL;
    std::optional<plat::ImageRep> sourceRep;
    std::shared_ptr<plat::PdfDocument> pdfImageRep;  // PDF tools only
    std::string password;
    std::string outputBaseName;
    std::uint8_t numberFromFirstPage = 0;
    std::uint8_t overwriteExisting = 0;
    std::uint8_t useSourceDPI = 0;
    ProgressCallbackInfo progress;

    std::uint8_t textWatermarkOn = 0;
    std::uint8_t preserveMetadata = 0;
    std::uint8_t keepOutputInMemory = 0;   // images-to-PDF: keep the bytes in outputData
    std::uint8_t imageWatermarkOn = 0;
    std::uint8_t deleteSourceOnRelease = 0;
    std::uint8_t returnImage = 0;
    std::uint8_t pageBatchSucceeded = 1;
    std::int64_t rotationAngle = 0;        // degrees, multiple of 90
    std::int32_t flipMask = 0;             // bit 0 horizontal, bit 1 vertical

    // Text part (text … textEndPoint, editorViewSize) and image part
    // (imageOrigin, imageEndPoint, image, imageOpacity, imageScale).
    WatermarkOptions watermark;

    std::vector<std::uint8_t> outputData;  // encoded output kept in memory
    std::optional<plat::FileAttributes> fileAttributes;
    plat::ImageRef resultImage;            // rendered image in returnImage mode
    std::shared_ptr<plat::PdfDocument> pdfDocument;
};

// --- Life cycle --------------------------------------------------------------

// Sets every field to zero or empty and pageBatchSucceeded to 1. Whatever the
// converter held is released first.
void InitImageConverter(ImageConverter* converter);
void ResetImageConverter(ImageConverter* converter);
// Releases the source, the PDF document, the output data and the result
// image; removes the temporary source file that the converter made.
void ReleaseImageConverter(ImageConverter* converter);
void DestroyImageConverter(ImageConverter* converter);

// --- Loading -------------------------------------------------------------------

// Opens the file and its first image, turned upright. A WebP file that the
// image reader refuses is decoded through a temporary TIFF. 1 or 0.
int LoadConverterSource(ImageConverter* converter, const std::filesystem::path& url);
// The same, with decode options chosen from the stored properties of the
// file's first image (pixel size, orientation, resolution) before decoding.
int LoadConverterSourceWithPlan(
    ImageConverter* converter, const std::filesystem::path& url,
    const std::function<plat::ImageRep::Options(const plat::PropertyDict& stored)>& plan);
// Loads the pixel source again with decode options (shrink-on-load, one-pass
// decoding). The upright full size stays the same. 1 or 0.
int ReloadConverterSourceRep(ImageConverter* converter, const plat::ImageRep::Options& options);
int LoadConverterPDFImageRep(ImageConverter* converter, const std::filesystem::path& url);
int OpenConverterPDFDocument(ImageConverter* converter, const std::filesystem::path& url);

// --- Setters --------------------------------------------------------------------

void SetConverterOutput(ImageConverter* converter, std::int32_t type, const std::filesystem::path& destination,
                        double quality);
void SetConverterQuality(ImageConverter* converter, double quality);
void SetConverterOutputType(ImageConverter* converter, std::int32_t type);
void SetConverterDestination(ImageConverter* converter, const std::filesystem::path& destination);
void SetConverterOrientation(ImageConverter* converter, std::uint32_t orientation);
// 0/360 → 1, 90/-270 → 6, ±180 → 3, 270/-90 → 8; other angles change nothing.
void SetConverterOrientationFromAngle(ImageConverter* converter, std::int64_t angle);
void SetConverterColorMode(ImageConverter* converter, std::int32_t colorMode);
// The first value goes to dpiY, the second to dpiX.
void SetConverterDPI(ImageConverter* converter, std::int64_t first, std::int64_t second);
void SetConverterPassword(ImageConverter* converter, const std::string& password);
void SetConverterPageRange(ImageConverter* converter, std::int64_t first, std::int64_t last, std::int32_t mode);
void SetConverterOutputName(ImageConverter* converter, const std::string& baseName, std::uint8_t numberFromFirstPage,
                            std::uint8_t overwriteExisting);
void SetConverterProgressTarget(ImageConverter* converter, std::shared_ptr<ProgressTarget> target,
                                ProgressSelector selector);
void SetConverterUseSourceDPI(ImageConverter* converter, std::uint8_t flag);
// Copies the text part (and the editor view size) or the image part (and the
// editor view size), and switches that watermark on.
void SetWatermarkOptions(ImageConverter* converter, const WatermarkOptions& options, WatermarkPart part);

// --- Queries (0 without a source) -------------------------------------------------

double GetConverterPixelsWide(const ImageConverter* converter);
double GetConverterPixelsHigh(const ImageConverter* converter);
double GetConverterRepWidthPoints(const ImageConverter* converter);
double GetConverterRepHeightPoints(const ImageConverter* converter);
plat::Size GetConverterRepSize(const ImageConverter* converter);
// Pixels / points × 72; 72 without a source.
double GetConverterSourceDPIX(const ImageConverter* converter);
double GetConverterSourceDPIY(const ImageConverter* converter);
int ConverterRepHasAlpha(const ImageConverter* converter);
// The source's type code by its name (short list).
std::int32_t GetConverterSourceTypeCode(const ImageConverter* converter);
// The source's type code by its contents (long list); 0 when it does not open.
std::int32_t GetSourceTypeCodeFromImageSource(const ImageConverter* converter);
// The type identifier the output is encoded with.
std::string GetUTIForTypeCode(const ImageConverter* converter);

int IsConverterPDFEncrypted(const ImageConverter* converter);
// 0 without a document or password, else whether the password unlocks it.
int UnlockConverterPDF(ImageConverter* converter);
// 1 when the document cannot be read without a password and the
// converter's password does not unlock it.
int IsConverterPDFLocked(ImageConverter* converter);
