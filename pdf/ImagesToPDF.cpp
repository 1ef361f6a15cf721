#include "pdf/ImagesToPDF.h"

#include "common/KSMUtil.h"
#include "engine/ImageTypes.h"
#include "engine/RenderingResize.h"
#include "platform/ImageRep.h"
#include "platform/ImageSource.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <utility>

void InitPDFMaker(PDFMaker* maker) {
    if (!maker) return;
    ResetImageConverter(&maker->converter);
    maker->converter.outputType = kImageTypePDF;
}

void ReleasePDFMaker(PDFMaker* maker) {
    if (!maker) return;
    maker->destination.clear();
    ReleaseImageConverter(&maker->converter);
}

void ReleasePDFMakerTwin(PDFMaker* maker) { ReleasePDFMaker(maker); }

void SetPDFMakerOptions(PDFMaker* maker, const ImagesToPDFOptions& options) {
    if (!maker) return;
    maker->files = options.files;
    maker->destination = options.destination;
    maker->progress = options.progress;
    maker->quality = options.quality;
    maker->imageType = options.imageType;
    maker->colorMode = options.colorMode;
    maker->pageSizeMode = options.pageSizeMode;
    maker->paperWidth = options.paperWidth;
    maker->paperHeight = options.paperHeight;
    maker->marginLeft = options.marginLeft;
    maker->marginRight = options.marginRight;
    maker->marginTop = options.marginTop;
    maker->marginBottom = options.marginBottom;
    maker->orientation = options.orientation;
    maker->scalePercent = options.scalePercent;
    maker->maxResolution = options.maxResolution;
    maker->writeOptions = options.writeOptions;
}

namespace {

std::uint64_t WholePoints(double value) {
    // Paper sizes arrive as doubles from the other tools; nonsense means none.
    if (!std::isfinite(value) || value <= 0.0 || value > 1.0e7) return 0;
    return static_cast<std::uint64_t>(value);
}

}  // namespace

void SetPDFMakerLayout(PDFMaker* maker, double quality, std::int32_t imageType, std::int32_t colorMode,
                       std::int32_t pageSizeMode, double paperWidth, double paperHeight, double marginLeft,
                       double marginRight, double marginTop, double marginBottom, std::int64_t orientation,
                       std::int64_t scalePercent, std::int64_t maxResolution,
                       const plat::PdfWriteOptions& writeOptions) {
    if (!maker) return;
    maker->files.clear();
    maker->destination.clear();
    maker->quality = quality;
    maker->imageType = imageType;
    maker->colorMode = colorMode;
    maker->pageSizeMode = pageSizeMode;
    maker->paperWidth = WholePoints(paperWidth);
    maker->paperHeight = WholePoints(paperHeight);
    maker->marginLeft = marginLeft;
    maker->marginRight = marginRight;
    maker->marginTop = marginTop;
    maker->marginBottom = marginBottom;
    maker->orientation = orientation;
    maker->scalePercent = scalePercent;
    maker->maxResolution = maxResolution;
    maker->writeOptions = writeOptions;
}

void SetPDFMakerProgressTarget(PDFMaker* maker, std::shared_ptr<ProgressTarget> target, ProgressSelector selector) {
    if (!maker) return;
    maker->progress.target = std::move(target);
    maker->progress.selector = selector;
}

namespace {

// Paper and content area of a page on fixed paper; nullopt on a page the
// size of its image. A content area with no room fails the page.
struct PageLayout {
    plat::PdfPageFrame frame;
};

bool MakePageLayout(const PDFMaker* m, std::optional<PageLayout>& layout) {
    layout.reset();
    if (m->pageSizeMode == 0) return true;
    double width = static_cast<double>(m->paperWidth);
    double height = static_cast<double>(m->paperHeight);
    if (m->orientation == 1) std::swap(width, height);
    const double areaWidth = width - m->marginLeft - m->marginRight;
    const double areaHeight = height - m->marginTop - m->marginBottom;
    if (!(width > 0.0 && height > 0.0 && areaWidth > 0.0 && areaHeight > 0.0) || !std::isfinite(areaWidth) ||
        !std::isfinite(areaHeight)) {
        return false;
    }
    PageLayout value;
    value.frame.paperWidth = width;
    value.frame.paperHeight = height;
    value.frame.contentArea = {m->marginLeft, m->marginBottom, areaWidth, areaHeight};
    layout = value;
    return true;
}

// The scale in percent the image is drawn at; sets the converter's fixed
// resolution when the image would exceed the resolution limit.
double ChooseImageScale(const PDFMaker* m, ImageConverter* converter, const std::optional<PageLayout>& layout) {
    if (m->maxResolution > 0) {
        double resolutionX = GetConverterSourceDPIX(converter);
        double resolutionY = GetConverterSourceDPIY(converter);
        if (m->pageSizeMode == 1 && layout) {
            resolutionX = GetConverterPixelsWide(converter) / layout->frame.contentArea.width * 72.0;
            resolutionY = GetConverterPixelsHigh(converter) / layout->frame.contentArea.height * 72.0;
        }
        const float limit = static_cast<float>(m->maxResolution);
        if (resolutionX > limit || resolutionY > limit) {
            converter->fixedDPI = limit;
            return limit * 100.0 / std::max(resolutionX, resolutionY);
        }
    }
    return static_cast<double>(m->scalePercent);
}

bool IsOddQuarterTurn(std::uint32_t orientation) { return orientation >= 5 && orientation <= 8; }

// Adds the encoded image as a page. JPEG data that needs no turning is
// embedded as it is; anything else is decoded upright and embedded as pixels.
bool InsertEncodedImage(plat::PdfWriter* document, std::size_t index, const std::vector<std::uint8_t>& data,
                        const ImageConverter& converter, const plat::PdfPageFrame* frame) {
    auto source = plat::ImageSource::OpenData(std::span<const std::uint8_t>(data));
    if (!source) return false;
    auto rep = plat::ImageRep::Load(source);
    if (!rep || !rep->image()) return false;
    double dpiX = converter.dpiX, dpiY = converter.dpiY;
    if (IsOddQuarterTurn(converter.orientation)) std::swap(dpiX, dpiY);
    if (rep->hasStatedDPI() || !(dpiX > 0.0 && dpiY > 0.0)) {
        dpiX = rep->dpiX();
        dpiY = rep->dpiY();
    }
    const bool upright = rep->storedOrientation() <= 1;
    if (upright && source->typeIdentifier() == "public.jpeg" && rep->colorModel() != plat::ColorModel::CMYK) {
        const int components = rep->colorModel() == plat::ColorModel::Gray ? 1 : 3;
        if (document->insertJpegPage(index, std::span<const std::uint8_t>(data), rep->pixelsWide(),
                                     rep->pixelsHigh(), components, dpiX, dpiY, frame)) {
            return true;
        }
    }
    return document->insertImagePage(index, rep->image(), dpiX, dpiY, frame);
}

}  // namespace

int DrawImageOnPDFPage(PDFMaker* maker, const std::filesystem::path& imageURL, plat::PdfWriter* document,
                       std::size_t index, double angleNumber) {
    if (!maker || !document || imageURL.empty()) return 0;
    std::optional<PageLayout> layout;
    if (!MakePageLayout(maker, layout)) return 0;
    const plat::PdfPageFrame* frame = layout ? &layout->frame : nullptr;
    const std::int64_t angle = GetPDFInputAngle(angleNumber);
    try {
        ImageConverter converter;
        InitImageConverter(&converter);
        bool rendered = false;
        if (LoadConverterSource(&converter, imageURL)) {
            SetConverterOutput(&converter, maker->imageType, {}, maker->quality);
            SetConverterColorMode(&converter, maker->colorMode);
            converter.keepOutputInMemory = 1;
            if (layout) {
                converter.fitWidth = layout->frame.contentArea.width;
                converter.fitHeight = layout->frame.contentArea.height;
            }
            SetConverterOrientationFromAngle(&converter, angle);
            ImageResizeOptions resize;
            resize.keepProportions = 1;
            resize.applySize = 1;
            resize.width = ChooseImageScale(maker, &converter, layout);
            resize.unit = 1;
            rendered = ComputeTargetSizeAndRender(&converter, resize) && !converter.outputData.empty();
        }
        if (rendered && InsertEncodedImage(document, index, converter.outputData, converter, frame)) {
            return 1;
        }
        // The platform may still read what the converter could not render.
        auto rep = plat::ImageRep::Load(imageURL);
        if (!rep || !rep->image()) return 0;
        return document->insertImagePage(index, rep->image(), rep->dpiX(), rep->dpiY(), frame) ? 1 : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

int MakePDFPerImage(PDFMaker* maker) {
    if (!maker) return 0;
    int result = 1;
    const bool finished = ForEachPDFInput(maker->files, maker->progress, [&](const PDFInputFile& entry) {
        plat::PdfWriter document;
        result = DrawImageOnPDFPage(maker, entry.filePath, &document, 0, entry.angle);
        if (!result) return;
        const std::filesystem::path output = GetUniqueFileURLForFile(maker->destination, entry.filePath, "pdf", false);
        result = output.empty() ? 0 : WritePDFWithOptions(document, output, maker->writeOptions);
    });
    return finished ? result : 0;
}

int MakeCombinedPDF(PDFMaker* maker) {
    if (!maker) return 0;
    plat::PdfWriter document;
    std::size_t index = 0;
    const bool finished = ForEachPDFInput(maker->files, maker->progress, [&](const PDFInputFile& entry) {
        if (DrawImageOnPDFPage(maker, entry.filePath, &document, index, entry.angle)) ++index;
    });
    // A cancelled job leaves no document behind.
    if (!finished) return 0;
    return WriteFinishedPDF(document, maker->destination, maker->writeOptions, maker->progress);
}

int ConvertImagesToPDF(const ImagesToPDFOptions* options) {
    if (!options) return 0;
    PDFMaker maker;
    InitPDFMaker(&maker);
    SetPDFMakerOptions(&maker, *options);
    SetPDFMakerProgressTarget(&maker, options->progress.target, options->progress.selector);
    int result = 0;
    try {
        result = options->combine ? MakeCombinedPDF(&maker) : MakePDFPerImage(&maker);
    } catch (const std::exception&) {
        result = 0;
    }
    ReleasePDFMaker(&maker);
    return result;
}
