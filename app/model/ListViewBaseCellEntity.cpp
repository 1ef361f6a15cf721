#include "app/model/ListViewBaseCellEntity.h"

#include "app/model/PixelImage.h"

#include "engine/ImageConverter.h"
#include "platform/BitmapContext.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/OperationQueue.h"
#include "platform/PropertyDict.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>

namespace {

std::atomic<double> gThumbnailPixelRatio{1.0};

// Decoders shrink JPEG and WebP by powers of two while loading: decode at the
// smallest factor that still gives at least the thumbnail's pixels, so a
// 24-megapixel photo never sits whole in memory for its thumbnail.
plat::ImageRep::Options ThumbnailDecodePlan(const plat::PropertyDict& stored) {
    return ShrinkOnLoadOptions(stored, std::ceil(kThumbnailSide * ThumbnailPixelRatio()));
}

// Draws the whole image scaled into a new bitmap of the thumbnail's pixels.
ThumbnailRef DrawThumbnail(const plat::Image& image, ThumbnailSize size) {
    const double ratio = ThumbnailPixelRatio();
    const int width = std::max(1, int(std::lround(size.width * ratio)));
    const int height = std::max(1, int(std::lround(size.height * ratio)));
    auto context = plat::BitmapContext::create(width, height, plat::ColorModel::RGB, true);
    if (!context || !context->drawImage(image, plat::Rect{{0.0, 0.0}, {double(width), double(height)}})) {
        return nullptr;
    }
    return PixelImageFromContext(*context);
}

}  // namespace

ThumbnailSize ThumbnailSizeForPoints(double width, double height) {
    if (!(width > 0.0) || !(height > 0.0)) return {};
    const double r = width / height;
    // A very thin image still gets a visible line of at least one point.
    if (r > 1.0) return {kThumbnailSide, std::max(1.0, kThumbnailSide / r)};
    return {std::max(1.0, kThumbnailSide * r), kThumbnailSide};
}

void SetThumbnailPixelRatio(double ratio) {
    gThumbnailPixelRatio.store(std::clamp(std::isfinite(ratio) ? ratio : 1.0, 1.0, 4.0));
}

double ThumbnailPixelRatio() { return gThumbnailPixelRatio.load(); }

plat::OperationQueue& GetThumbnailQueue() {
    static plat::OperationQueue* queue = new plat::OperationQueue(2);
    return *queue;
}

// --- ListViewBaseCellEntity ----------------------------------------------------

ListViewBaseCellEntity::ListViewBaseCellEntity(std::filesystem::path fileURL, std::filesystem::path parentFolder)
    : fileURL_(std::move(fileURL)), parentFolder_(std::move(parentFolder)) {}

ListEntityRef ListViewBaseCellEntity::entityForURL(const std::filesystem::path& fileURL,
                                                   const std::filesystem::path& parentFolder) {
    return std::make_shared<ListViewBaseCellImageEntity>(fileURL, parentFolder);
}

std::string ListViewBaseCellEntity::title() const { return fileURL_.filename().string(); }

// --- ListViewBaseCellImageEntity ------------------------------------------------

ThumbnailRef ListViewBaseCellImageEntity::GetThumbnailImage() {
    ThumbnailRef thumbnail = thumbnailImage();
    if (!thumbnail) loadImage();
    return thumbnail;
}

ThumbnailRef ListViewBaseCellImageEntity::thumbnailImage() const {
    std::lock_guard lock(mutex_);
    return thumbnailImage_;
}

ThumbnailState ListViewBaseCellImageEntity::thumbnailState() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void ListViewBaseCellImageEntity::loadImage() {
    {
        std::lock_guard lock(mutex_);
        if (state_ != ThumbnailState::None) return;
        state_ = ThumbnailState::Loading;
    }
    // The operation keeps the entry alive until it has run, even when the
    // row is removed meanwhile.
    auto entry = shared_from_this();
    auto operation = plat::Operation::make([entry](plat::Operation& self) {
        if (self.isCancelled()) return;
        entry->loadImageDirectly();
    });
    if (!GetThumbnailQueue().addOperation(operation)) {
        std::lock_guard lock(mutex_);
        state_ = ThumbnailState::None;
    }
}

void ListViewBaseCellImageEntity::loadImageDirectly() {
    {
        std::lock_guard lock(mutex_);
        // One load per entry: a queued load and the add request's direct
        // load never decode the same file twice.
        if (running_ || state_ == ThumbnailState::Loaded || state_ == ThumbnailState::NoPixels) return;
        running_ = true;
        state_ = ThumbnailState::Loading;
    }
    ImageConverter converter;
    InitImageConverter(&converter);
    try {
        if (!LoadConverterSourceWithPlan(&converter, GetFileURL(), ThumbnailDecodePlan)) {
            finishLoad(ThumbnailState::Failed, nullptr);
            return;
        }
        const double high = GetConverterPixelsHigh(&converter);
        const double wide = GetConverterPixelsWide(&converter);
        if (!converter.sourceImage || !converter.sourceRep || high <= 0.0 || wide <= 0.0) {
            finishLoad(ThumbnailState::NoPixels, nullptr);
            return;
        }
        const double resolution = std::round(GetConverterSourceDPIX(&converter));
        const std::uint64_t fileSize = plat::FileManager::fileSize(GetFileURL()).value_or(0);
        const ThumbnailSize size =
            ThumbnailSizeForPoints(GetConverterRepWidthPoints(&converter), GetConverterRepHeightPoints(&converter));
        ThumbnailRef thumbnail = DrawThumbnail(*converter.sourceRep->image(), size);
        DestroyImageConverter(&converter);
        {
            std::lock_guard lock(mutex_);
            imageHeight_ = high;
            imageWidth_ = wide;
            imageResolution_ = resolution;
            fileSize_ = fileSize;
        }
        // Broken pixel data only shows when the pixels are drawn.
        const ThumbnailState state = thumbnail ? ThumbnailState::Loaded : ThumbnailState::Failed;
        finishLoad(state, std::move(thumbnail));
    } catch (const std::exception&) {
        DestroyImageConverter(&converter);
        finishLoad(ThumbnailState::Failed, nullptr);
    }
}

void ListViewBaseCellImageEntity::finishLoad(ThumbnailState state, ThumbnailRef thumbnail) {
    {
        std::lock_guard lock(mutex_);
        thumbnailImage_ = std::move(thumbnail);
        state_ = state;
        running_ = false;
    }
    notifyThumbnailChanged();
}

void ListViewBaseCellImageEntity::notifyThumbnailChanged() {
    ThumbnailObserver observer;
    {
        std::lock_guard lock(mutex_);
        observer = observer_;
    }
    if (observer) observer(shared_from_this());
}

void ListViewBaseCellImageEntity::setThumbnailObserver(ThumbnailObserver observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

bool ListViewBaseCellImageEntity::hasThumbnailObserver() const {
    std::lock_guard lock(mutex_);
    return bool(observer_);
}

double ListViewBaseCellImageEntity::GetWidth() const {
    std::lock_guard lock(mutex_);
    return imageWidth_;
}

double ListViewBaseCellImageEntity::GetHeight() const {
    std::lock_guard lock(mutex_);
    return imageHeight_;
}

double ListViewBaseCellImageEntity::GetResolution() const {
    std::lock_guard lock(mutex_);
    return imageResolution_;
}

std::uint64_t ListViewBaseCellImageEntity::GetFileSize() const {
    std::lock_guard lock(mutex_);
    return fileSize_;
}

double ListViewBaseCellImageEntity::GetAngle() const { return double(angle()); }

std::int64_t ListViewBaseCellImageEntity::angle() const {
    std::lock_guard lock(mutex_);
    return imageAngle_;
}

std::int32_t ListViewBaseCellImageEntity::GetFlip() const {
    std::lock_guard lock(mutex_);
    return imageFlip_;
}

void ListViewBaseCellImageEntity::SetAngle(std::int64_t angle) {
    std::lock_guard lock(mutex_);
    imageAngle_ = angle;
}

void ListViewBaseCellImageEntity::SetFlip(std::int32_t flip) {
    std::lock_guard lock(mutex_);
    imageFlip_ = flip;
}
