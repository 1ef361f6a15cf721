#include "engine/PdfPages.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <webp/encode.h>

#include "common/KSMUtil.h"
#include "engine/Encoding.h"
#include "engine/ImageConverter.h"
#include "engine/Geometry.h"
#include "engine/ImageTypes.h"
#include "engine/MultiPageTiff.h"
#include "engine/OutputBatch.h"
#include "engine/PdfPagesLayout.h"
#include "engine/WebPEncoder.h"
#include "engine/WholeFileConversion.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/OperationQueue.h"
#include "platform/PdfDocument.h"

namespace {

// libjpeg's colour space value for CMYK samples.
constexpr int kJpegColorSpaceCMYK = 4;

// Workers clear the flag concurrently; the converter keeps it as a plain byte.
void MarkPageFailed(ImageConverter* converter) {
    std::atomic_ref<std::uint8_t>(converter->pageBatchSucceeded).store(0);
}

bool BatchStillSucceeding(ImageConverter* converter) {
    return std::atomic_ref<std::uint8_t>(converter->pageBatchSucceeded).load() != 0;
}

// poppler documents are not shared between threads: each worker takes a
// document of its own from here and gives it back for the next page.
class PdfDocumentPool {
public:
    explicit PdfDocumentPool(const plat::PdfDocument& origin) : origin_(origin) {}

    std::unique_ptr<plat::PdfDocument> Take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                auto document = std::move(free_.back());
                free_.pop_back();
                return document;
            }
        }
        return origin_.Reopen();
    }

    void Give(std::unique_ptr<plat::PdfDocument> document) {
        if (document) {
            std::lock_guard<std::mutex> lock(mutex_);
            free_.push_back(std::move(document));
        }
    }

private:
    const plat::PdfDocument& origin_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<plat::PdfDocument>> free_;
};

// Progress reports reach the target one after another, off the workers, in
// the order they were sent.
class ProgressReporter {
public:
    explicit ProgressReporter(const ProgressCallbackInfo& info) : info_(info), queue_(1) {}
    ~ProgressReporter() { queue_.waitUntilAllOperationsAreFinished(); }

    void Report(std::int64_t value) {
        if (!info_.target || !info_.selector) {
            return;
        }
        ProgressCallbackInfo info = info_;
        queue_.addOperation([info, value] {
            try {
                info.report(value);
            } catch (...) {
                // A failing observer must not take the batch down.
            }
        });
    }

private:
    ProgressCallbackInfo info_;
    plat::OperationQueue queue_;
};

std::int64_t DisplayNumber(const ImageConverter* converter, std::int64_t page) {
    return converter->numberFromFirstPage ? page + converter->firstPage - 1 : page;
}

// The visible box of a page in points, turned by its rotation. False for a
// page without one.
bool VisiblePageSize(const plat::PdfPageInfo& info, double& width, double& height) {
    const plat::PdfBox& box = info.cropBox.IsEmpty() ? info.mediaBox : info.cropBox;
    if (box.IsEmpty()) {
        return false;
    }
    width = box.width;
    height = box.height;
    if ((info.rotation / 90) % 2 != 0) {
        std::swap(width, height);
    }
    return true;
}

// The roads that need the whole page in one buffer: CMYK JPEG on old
// systems, which encode it themselves, and pages of a multi-page TIFF.
bool NeedsPageBitmap(const ImageConverter* converter, plat::PdfPixelFormat format, const MultiPageTiffFile* tiff) {
    return (converter->outputType == kImageTypeMultiPageTIFF && tiff) ||
           (format == plat::PdfPixelFormat::Cmyk && converter->outputType == kImageTypeJPEG &&
            CompareSystemVersion(10, 7, 0) < 0);
}

bool WritePageBitmap(ImageConverter* converter, const plat::PdfPageBitmap& bitmap, MultiPageTiffFile* tiff,
                     int pageIndex, int pageCount, const std::filesystem::path& destination) {
    if (converter->outputType == kImageTypeMultiPageTIFF && tiff) {
        plat::ColorModel model = plat::ColorModel::RGB;
        if (bitmap.format == plat::PdfPixelFormat::Cmyk) {
            model = plat::ColorModel::CMYK;
        } else if (bitmap.format == plat::PdfPixelFormat::Gray) {
            model = plat::ColorModel::Gray;
        }
        if (!WriteTIFFPage(tiff->Handle(), bitmap.width, bitmap.height, bitmap.pixels.data(), model, false,
                           converter->dpiX, converter->dpiY, pageIndex, pageCount)) {
            return false;
        }
        tiff->CountPage();
        return true;
    }
    // Old systems encode CMYK JPEG themselves. A private converter keeps
    // the shared one untouched by concurrent pages.
    ImageConverter local;
    InitImageConverter(&local);
    local.quality = converter->quality;
    local.dpiX = converter->dpiX;
    local.dpiY = converter->dpiY;
    if (!EncodeJPEGWithConverter(&local, bitmap.width, bitmap.height, bitmap.pixels.data(), kJpegColorSpaceCMYK,
                                 4)) {
        return false;
    }
    return plat::FileManager::createFile(destination, std::span<const std::uint8_t>(local.outputData),
                                         converter->fileAttributes);
}

// Everywhere else the page is an image rendered band by band as the encoder
// reads it.
bool WritePageImage(ImageConverter* converter, const plat::ImageRef& image, const std::filesystem::path& destination) {
    if (converter->outputType == kImageTypeWebP) {
        WebPConfig config;
        if (!InitWebPOutputConfig(&config)) {
            return false;
        }
        SetWebPOutputQuality(&config, converter->quality);
        return WriteImageAsWebP(*image, destination, config, converter->fileAttributes) == 0;
    }
    return WriteConverterOutput(converter, image, &destination) == 1;
}

// Pixels of pages in flight, bounded: a worker waits before rendering until
// its page fits. A high resolution then runs fewer pages side by side
// instead of multiplying the memory by the number of cores.
class PixelBudget {
public:
    explicit PixelBudget(double pixels) : free_(pixels), total_(pixels) {}

    // Takes `pixels` (at most the whole budget, so that a huge page still
    // runs alone) and returns what was taken.
    double Take(double pixels) {
        pixels = std::min(pixels, total_);
        std::unique_lock<std::mutex> lock(mutex_);
        available_.wait(lock, [&] { return free_ >= pixels; });
        free_ -= pixels;
        return pixels;
    }
    void Give(double pixels) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            free_ += pixels;
        }
        available_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable available_;
    double free_;
    const double total_;
};

// About 400 MB of 8-bit RGB.
constexpr double kPagePixelBudget = 128.0 * 1024.0 * 1024.0;

// A page rendered in one band holds its bitmap and, while poppler draws a
// picture over it, the picture scaled to its size on the page: counted as
// one and a half pages (at 600 dpi, three A4 photo pages side by side held
// three and a half times the memory of one libvips process a page, two of
// them less than two and a half, at about the same speed).
constexpr double kOneBandPages = 1.5;

// A page rendered in bands holds two of them (one read, the next drawn)
// and, while poppler draws a picture into a band, the picture's rows scaled
// to the band: counted as three bands.
constexpr double kBandsHeld = 3.0;

// The pixels a page holds while it is written: the above where the encoder
// streams, the whole page where it takes the image whole.
double PixelsHeldBy(const ImageConverter* converter, bool bitmap, int bandRows, double width, double height) {
    const std::int32_t type = converter->outputType;
    const bool streams = !bitmap && (type == kImageTypePNG || type == kImageTypeJPEG);
    if (!streams) return width * height;
    return bandRows < height ? kBandsHeld * bandRows * width : kOneBandPages * width * height;
}

}  // namespace

std::string GetConverterOutputExtension(const ImageConverter* converter) {
    return GetImageExtensionForType(converter ? converter->outputType : 0);
}

plat::Point GetPageWatermarkPosition(const ImageConverter* converter, double pageWidth, double pageHeight,
                                     float* scale, plat::Point first, plat::Point opposite) {
    const float s = static_cast<float>(std::max(pageWidth, pageHeight) / kEditorCanvasSide);
    if (scale) {
        *scale = s;
    }
    const KSMSize view = converter ? converter->watermark.editorViewSize : KSMSize{};
    return GetWatermarkPosition(first, opposite, pageWidth, pageHeight, view.width, view.height, s, s);
}

namespace {

void RenderPage(ImageConverter* converter, const plat::PdfDocument& document, std::int64_t pageNumber,
                int applyResize, MultiPageTiffFile* tiff, int pageIndex, int pageCount,
                const ImageResizeOptions& resize, const std::filesystem::path& destination, double scale,
                ProgressReporter& reporter, PixelBudget* budget = nullptr) {
    if (!converter || !BatchStillSucceeding(converter) || converter->progress.isCancelled()) {
        return;
    }
    try {
        reporter.Report(DisplayNumber(converter, pageNumber));
        plat::PdfPageInfo info;
        if (pageNumber < 1 || pageNumber > document.GetPageCount()) {
            MarkPageFailed(converter);
            return;
        }
        if (!document.GetPageInfo(static_cast<int>(pageNumber), info)) {
            return;  // counted by the page tree, but not in it: nothing to show
        }
        double boxWidth = 0.0;
        double boxHeight = 0.0;
        if (!VisiblePageSize(info, boxWidth, boxHeight)) {
            return;  // nothing to show on this page
        }
        PdfPageResize request;
        request.apply = applyResize != 0;
        request.width = resize.width;
        request.height = resize.height;
        request.unit = resize.unit;
        const double s = ComputePdfPageScale(scale, boxWidth, boxHeight, request);
        const double w = std::nearbyint(s * boxWidth);
        const double h = std::nearbyint(s * boxHeight);
        if (!(w >= 1.0) || !(h >= 1.0) || w > kMaxCanvasSide || h > kMaxCanvasSide ||
            !plat::Image::sizeAllowed(static_cast<std::int64_t>(w), static_cast<std::int64_t>(h))) {
            MarkPageFailed(converter);
            return;
        }
        plat::PdfPixelFormat format = plat::PdfPixelFormat::Rgb;
        if (converter->outputType == kImageTypeCMYKTIFF || converter->colorMode == 2) {
            format = plat::PdfPixelFormat::Cmyk;
        } else if (converter->colorMode == 3) {
            format = plat::PdfPixelFormat::Gray;
        }
        const bool whole = NeedsPageBitmap(converter, format, tiff);
        // The banded image is made first (nothing is drawn yet): its bands
        // tell what the page will hold.
        int bandRows = static_cast<int>(h);
        const plat::ImageRef image =
            whole ? nullptr
                  : document.RenderPageImage(static_cast<int>(pageNumber), s, static_cast<int>(w),
                                             static_cast<int>(h), format, &bandRows);
        const double held = budget ? budget->Take(PixelsHeldBy(converter, whole, bandRows, w, h)) : 0.0;
        struct Release {
            PixelBudget* budget;
            double pixels;
            ~Release() {
                if (budget) budget->Give(pixels);
            }
        } release{budget, held};
        bool written = false;
        if (whole) {
            plat::PdfPageBitmap bitmap;
            written = document.RenderPage(static_cast<int>(pageNumber), s, static_cast<int>(w), static_cast<int>(h),
                                          format, bitmap) &&
                      !converter->progress.isCancelled() &&
                      WritePageBitmap(converter, bitmap, tiff, pageIndex, pageCount, destination);
        } else {
            written = image && !converter->progress.isCancelled() && WritePageImage(converter, image, destination);
        }
        if (!written) {
            MarkPageFailed(converter);
        }
    } catch (const std::exception&) {
        MarkPageFailed(converter);
    }
}

}  // namespace

void RenderPDFPage(ImageConverter* converter, const plat::PdfDocument& document, std::int64_t pageNumber,
                   int applyResize, MultiPageTiffFile* tiff, int pageIndex, int pageCount,
                   const ImageResizeOptions& resize, const std::filesystem::path& destination, double scale) {
    if (!converter) {
        return;
    }
    ProgressReporter reporter(converter->progress);
    RenderPage(converter, document, pageNumber, applyResize, tiff, pageIndex, pageCount, resize, destination, scale,
               reporter);
}

void RenderPDFPage(ImageConverter* converter, std::int64_t pageNumber, int applyResize, MultiPageTiffFile* tiff,
                   int pageIndex, int pageCount, const ImageResizeOptions& resize,
                   const std::filesystem::path& destination, double scale) {
    if (!converter) {
        return;
    }
    if (!converter->pdfDocument) {
        MarkPageFailed(converter);
        return;
    }
    RenderPDFPage(converter, *converter->pdfDocument, pageNumber, applyResize, tiff, pageIndex, pageCount, resize,
                  destination, scale);
}

int RenderPDFPagesBatch(ImageConverter* converter, int applyResize, const ImageResizeOptions& resize) {
    if (!converter || !converter->pdfDocument || converter->pdfDocument->IsLocked()) {
        return 0;
    }
    const plat::PdfDocument& document = *converter->pdfDocument;
    const std::int64_t pageCount = document.GetPageCount();
    const PdfPageRange range =
        ComputePdfPageRange(converter->pageRangeMode, converter->firstPage, converter->lastPage, pageCount);
    const double scale = NormalisePdfPageResolution(converter->dpiX, converter->dpiY);
    if (range.IsEmpty()) {
        return converter->pageBatchSucceeded;
    }
    const std::string baseName = converter->outputBaseName.empty() ? converter->sourceURL.stem().string()
                                                                   : converter->outputBaseName;
    const std::int64_t jobPages = range.Count();
    if (jobPages == 1 && converter->outputType == kImageTypeMultiPageTIFF) {
        converter->outputType = kImageTypeTIFF;
    }
    const bool multiPageTiff = converter->outputType == kImageTypeMultiPageTIFF;
    const std::string extension = GetConverterOutputExtension(converter);
    const bool numbered = pageCount >= 2 && !multiPageTiff;

    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    // Pages side by side: half the cores and one. Each page renders its
    // next band while the encoder takes the current one, and the encoders
    // share one thread a core: more pages mostly hold more bands (at 600
    // dpi, one fewer than the cores held a third more memory to save 3% of
    // the time).
    const int concurrency = static_cast<int>(processors / 2 + 1);
    const bool inline_ = multiPageTiff || jobPages == 1 || concurrency == 1;

    ProgressReporter reporter(converter->progress);
    MultiPageTiffFile tiff;
    // Page files appear together once every page is written; a failed run
    // leaves none, and the files it would have replaced as they were.
    OutputBatch pages;
    PdfDocumentPool pool(document);
    PixelBudget budget(kPagePixelBudget);
    {
        // Declared after the pool and the TIFF so that it drains first.
        plat::OperationQueue queue(concurrency);
        std::int64_t index = 0;
        for (std::int64_t page = range.first; page <= range.last; ++page, ++index) {
            if (converter->progress.isCancelled()) {
                break;
            }
            const std::string name =
                FormatPdfPageName(baseName, DisplayNumber(converter, page), pageCount, numbered);
            std::filesystem::path destination;
            if (converter->overwriteExisting) {
                // The write replaces the old file in one step; removing it
                // first would lose it should the page fail.
                destination = converter->destinationURL / (extension.empty() ? name : name + "." + extension);
            } else {
                destination = GetUniqueFileURL(converter->destinationURL, name, extension, false);
            }
            if (!multiPageTiff) {
                destination = pages.Stage(destination, converter->overwriteExisting != 0);
            }
            if (destination.empty()) {
                MarkPageFailed(converter);
                break;
            }
            if (inline_) {
                if (multiPageTiff && index == 0 && !tiff.Open(destination)) {
                    MarkPageFailed(converter);
                    break;
                }
                RenderPage(converter, document, page, applyResize, multiPageTiff ? &tiff : nullptr,
                           static_cast<int>(index), static_cast<int>(jobPages), resize, destination, scale, reporter);
                continue;
            }
            auto operation = plat::Operation::make([converter, &pool, &reporter, &budget, page, applyResize, resize,
                                                    destination, scale, index, jobPages] {
                std::unique_ptr<plat::PdfDocument> own = pool.Take();
                if (!own) {
                    MarkPageFailed(converter);
                    return;
                }
                RenderPage(converter, *own, page, applyResize, nullptr, static_cast<int>(index),
                           static_cast<int>(jobPages), resize, destination, scale, reporter, &budget);
                pool.Give(std::move(own));
            });
            queue.addOperation(operation);
        }
        queue.waitUntilAllOperationsAreFinished();
    }
    if (multiPageTiff && tiff.IsOpen()) {
        if (!BatchStillSucceeding(converter)) {
            tiff.Discard();
        } else if (tiff.PagesWritten() > 0 && !tiff.Commit(converter->fileAttributes)) {
            MarkPageFailed(converter);
        }
    }
    if (BatchStillSucceeding(converter) && !pages.Commit()) {
        MarkPageFailed(converter);
    }
    return BatchStillSucceeding(converter) ? 1 : 0;
}

int ConvertPDFPagesToImages(ImageConversion* record) {
    if (!record || record->sourceURL.empty() || record->destinationURL.empty()) {
        return 0;
    }
    try {
        ImageConverter converter;
        InitImageConverter(&converter);
        SetConverterPassword(&converter, record->options.password);
        if (!OpenConverterPDFDocument(&converter, record->sourceURL)) {
            return 0;
        }
        // Only a document that needs its password for reading asks for it;
        // one whose owner password merely limits permissions opens as it is.
        if (converter.pdfDocument->IsLocked() && !UnlockConverterPDF(&converter)) {
            return 0;
        }
        SetConverterOutputName(&converter, record->outputBaseName, record->numberFromFirstPage,
                               record->overwriteExisting);
        SetConverterPageRange(&converter, record->options.firstPage, record->options.lastPage,
                              record->options.pageRangeMode);
        SetConverterProgressTarget(&converter, record->progress.target, record->progress.selector);
        SetConverterOutput(&converter, record->options.outputType, record->destinationURL, record->options.quality);
        SetConverterDPI(&converter, record->options.outputDPI, record->options.outputDPI);
        SetConverterColorMode(&converter, record->options.colorMode);
        return RenderPDFPagesBatch(&converter, record->applyResize, record->resize);
    } catch (...) {
        return 0;
    }
}

int ConvertPDFToImageFiles(ImageConverter* converter) {
    if (!converter || !converter->pdfImageRep || converter->pdfImageRep->IsLocked()) {
        return 0;
    }
    try {
        const plat::PdfDocument& document = *converter->pdfImageRep;
        const std::string baseName = converter->sourceURL.stem().string();
        const int pageCount = document.GetPageCount();
        const std::filesystem::path folder = converter->destinationURL;
        const std::string extension = GetConverterOutputExtension(converter);
        // Every page or none: a page that fails ends the run and takes back
        // the pages written before it.
        OutputBatch pages;
        int result = 0;
        for (int i = 0; i < pageCount; ++i) {
            char number[16];
            std::snprintf(number, sizeof number, "-%03d", i + 1);
            std::string name = baseName + number;
            if (!extension.empty()) {
                name += "." + extension;
            }
            const std::filesystem::path staged = pages.Stage(folder / name, true);
            if (staged.empty()) {
                result = 0;
                break;
            }
            SetConverterDestination(converter, staged);
            // The page at twice its size in points: 144 dots per inch.
            auto load = [&document, i](std::size_t) -> std::optional<WholeFileRepresentation> {
                plat::PdfPageInfo info;
                double width = 0.0;
                double height = 0.0;
                if (!document.GetPageInfo(i + 1, info) || !VisiblePageSize(info, width, height)) {
                    return std::nullopt;
                }
                const double w = std::nearbyint(width * 2.0);
                const double h = std::nearbyint(height * 2.0);
                if (!(w >= 1.0) || !(h >= 1.0) || w > kMaxCanvasSide || h > kMaxCanvasSide) {
                    return std::nullopt;
                }
                WholeFileRepresentation rep;
                rep.image = document.RenderPageImage(i + 1, 2.0, static_cast<int>(w), static_cast<int>(h),
                                                     plat::PdfPixelFormat::Rgb);
                rep.widthInPoints = width;
                rep.heightInPoints = height;
                if (!rep.image) {
                    return std::nullopt;
                }
                return rep;
            };
            result = SaveConvertedRepresentations(converter, 1, load);
            converter->sourceRep.reset();
            if (!result) {
                break;
            }
        }
        SetConverterDestination(converter, folder);
        return result && pages.Commit() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
