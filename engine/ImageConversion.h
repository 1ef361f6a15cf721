#pragma once
// The record of one conversion: filled by the application, read by every
// engine entry point. It owns its values (strings, paths, shared immutable
// fonts and images), so a copy can be handed to a worker thread safely.

#include "platform/Color.h"
#include "platform/FileAttributes.h"
#include "platform/FontRef.h"
#include "platform/ImageRef.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

struct KSMPoint {
    double x = 0.0;
    double y = 0.0;

    friend bool operator==(const KSMPoint&, const KSMPoint&) = default;
};

struct KSMSize {
    double width = 0.0;
    double height = 0.0;

    friend bool operator==(const KSMSize&, const KSMSize&) = default;
};

// Output resolution, type, colour, quality and the PDF source settings.
struct ImageConversionOptions {
    std::int64_t outputDPI = 0;    // whole-file and PDF entries; 0: the source's resolution
    std::int32_t reserved = 0;
    std::int32_t outputType = 0;   // ImageTypeCode; 0 keeps the source's type
    std::int32_t colorMode = 0;    // 0 as the source, 1 RGB, 2 CMYK, 3 gray
    double quality = 0.0;          // 0.0 to 1.0 for lossy output
    std::string password;          // of a protected PDF source
    std::int32_t pageRangeMode = 0;  // 1 one page, 2 a range, else all pages
    std::int64_t firstPage = 0;    // counted from 1
    std::int64_t lastPage = 0;     // counted from 1
    std::uint8_t preserveMetadata = 0;
};

// Resize settings; sizes are in `unit`.
struct ImageResizeOptions {
    std::uint8_t keepProportions = 0;
    std::uint8_t applySize = 0;    // 1: resample; else express the size as a new resolution
    std::uint8_t upsample = 0;     // allow output larger than the source
    std::uint8_t sharpen = 0;
    std::int64_t dpi = 0;          // 0 or less: the source's resolution
    double width = 0.0;            // 0 for a free side
    double height = 0.0;           // 0 for a free side
    std::int32_t unit = 0;         // 1 percent, 2 pixels, 3 inches, 4 cm, 5 mm, 6 points; other: inches
    std::int32_t scaleOption = 0;  // fitting rule 0 to 6
};

// Text and image watermark. Positions and sizes are points of the watermark
// editor's view at placement (`editorViewSize`).
struct WatermarkOptions {
    std::string text;
    KSMPoint textOrigin;           // first corner of the text rectangle
    KSMSize editorViewSize;        // shared by text and image
    plat::FontRef font;
    std::int64_t fontSize = 0;
    std::int32_t drawingMode = 0;  // 0 fill, 1 stroke, 2 fill and stroke
    plat::Color textColor;
    std::int64_t strokeWidth = 0;
    double textOpacity = 0.0;
    double characterSpacing = 0.0;
    std::int64_t rotation = 0;     // degrees, counter-clockwise
    std::int8_t shadow = 0;
    plat::Color shadowColor;
    std::int64_t shadowBlur = 0;
    std::int64_t shadowOffsetX = 0;
    std::int64_t shadowOffsetY = 0;
    KSMPoint textEndPoint;         // opposite corner of the text rectangle
    KSMPoint imageOrigin;          // first corner of the image rectangle
    KSMPoint imageEndPoint;        // opposite corner of the image rectangle
    plat::ImageRef image;
    double imageOpacity = 0.0;
    double imageScale = 0.0;
};

// The receiver of the PDF entry points' progress reports, which also answers
// whether the job was cancelled.
class ProgressTarget {
public:
    virtual ~ProgressTarget() = default;
    // A progress code (3 before each input file, 6 before the document is
    // written, 7 after it) or a page's display number.
    virtual void reportProgress(std::int64_t value) = 0;
    virtual bool isConversionCancelled() { return false; }
};

// The method of the target that receives progress reports.
using ProgressSelector = void (ProgressTarget::*)(std::int64_t);

struct ProgressCallbackInfo {
    std::shared_ptr<ProgressTarget> target;
    ProgressSelector selector = nullptr;

    // Sends the selector to the target when both are set.
    void report(std::int64_t value) const {
        if (target && selector) ((*target).*selector)(value);
    }
    bool isCancelled() const { return target && target->isConversionCancelled(); }
};

struct ImageConversion {
    std::uint8_t applyResize = 0;          // PDF page renderer's resize switch
    std::uint8_t drawTextWatermark = 0;
    std::uint8_t drawImageWatermark = 0;
    std::uint8_t numberFromFirstPage = 0;  // PDF jobs
    std::uint8_t overwriteExisting = 0;    // PDF jobs
    std::uint8_t returnImage = 0;          // 1: render only, into resultImage
    std::int64_t rotationAngle = 0;        // 0, ±90, ±180, ±270
    std::int32_t flipMask = 0;             // 1 horizontal, 2 vertical
    ImageConversionOptions options;
    ImageResizeOptions resize;
    WatermarkOptions watermark;
    ProgressCallbackInfo progress;
    std::filesystem::path sourceURL;       // empty: none
    std::filesystem::path destinationURL;  // a file, or a folder for PDF entries; empty: none
    std::string outputBaseName;            // PDF jobs
    std::optional<plat::FileAttributes> fileAttributes;  // applied to the created output
    plat::ImageRef resultImage;            // out, returnImage mode only
};
