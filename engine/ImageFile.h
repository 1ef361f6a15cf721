#pragma once
// The image-file object: a small wrapper of an image source used by the input
// check and the preview (displayed size and resolution), with a save path in
// any output type and a resize.

#include "platform/ImageRef.h"
#include "platform/ImageSource.h"
#include "platform/PdfWriter.h"
#include "platform/PropertyDict.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

struct ImageFile {
    plat::ImageRef image;                                  // image 0, as stored
    std::shared_ptr<const plat::ImageSource> imageSource;  // the opened file
    std::optional<plat::PropertyDict> properties;          // properties of image 0
    double quality;                                        // 0.0 to 1.0, for saving
    std::int32_t outputType;                               // ImageTypeCode for saving
    std::filesystem::path destinationURL;                  // file to save to
    std::uint32_t orientation;                             // EXIF orientation; 0 when absent
    double saveDPI;                                        // resolution written; 0 none
};

void InitImageFile(ImageFile* file);
void InitImageFileTwin(ImageFile* file);
void ReleaseImageFile(ImageFile* file);

// 1 when an image was made from the file.
int LoadImageFile(ImageFile* file, const std::filesystem::path& url);

// Pixel size, exchanged for orientations 6 and 8; 0 without an image.
double GetImageFileWidth(const ImageFile* file);
double GetImageFileHeight(const ImageFile* file);
// Resolution as stored; 72 without an image, properties or value.
double GetImageFileDPI(const ImageFile* file);
double GetImageFileDPIHeight(const ImageFile* file);

void SetImageFileOutput(ImageFile* file, std::int32_t type, const std::filesystem::path& destination,
                        double quality);
void SetImageFileQuality(ImageFile* file, double quality);
void SetImageFileOutputType(ImageFile* file, std::int32_t type);
void SetImageFileDestination(ImageFile* file, const std::filesystem::path& destination);
void SetImageFileOrientation(ImageFile* file, std::uint32_t orientation);

// Resamples the image to the size (rounded half away from zero, at least 1)
// as RGB without alpha. 0 (image unchanged) when no bitmap of that size can
// be made.
int ResizeImageFile(ImageFile* file, double width, double height);
int ResizeImageFileByPercent(ImageFile* file, double percent);

// Writes the image in `outputType` to `destinationURL`: SGI (12) and PDF (8)
// through their own writers, everything else through the image destination.
// 1 when the file was written; a failure leaves no file.
int SaveImageFile(ImageFile* file);
plat::PropertyDict CreateImageFileDestinationProperties(const ImageFile* file);
std::string GetUTIForImageFileType(const ImageFile* file);
int SaveImageFileAsPDF(ImageFile* file);
int DrawImageFileOnPDFPage(ImageFile* file, plat::PdfWriter* context);
int SaveImageFileAsSGI(ImageFile* file);

// 1 when the WebP file's header gives its size; 0 for a missing or empty
// file or a header that cannot be parsed.
int GetWebPImageSize(ImageFile* file, const std::filesystem::path& url, int* width, int* height);
