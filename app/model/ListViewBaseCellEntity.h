#pragma once
// One row of the image list: the source file, the folder it was added
// through, the facts shown in the row, the user's rotation and flip, and a
// small thumbnail loaded lazily on the shared thumbnail queue. Every property
// is safe to read and write from any thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plat {
class OperationQueue;
}

// Longest side of a thumbnail, in points.
constexpr double kThumbnailSide = 104.0;

// Thumbnail size in points for a source of `width` × `height` points: the
// longer side 104, the other in proportion and never below one point.
struct ThumbnailSize {
    double width = 0.0;
    double height = 0.0;
};
ThumbnailSize ThumbnailSizeForPoints(double width, double height);

// Thumbnail pixels: packed RGBA, top row first. Immutable once made, shared
// between the entry and the views that draw it.
struct ThumbnailImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};
using ThumbnailRef = std::shared_ptr<const ThumbnailImage>;

// Where an entry's thumbnail stands.
enum class ThumbnailState : std::uint8_t {
    None,        // never asked for
    Loading,     // queued or running
    Loaded,      // thumbnail and facts set
    NoPixels,    // the file opened but its image has no pixels: the trash picture
    Failed,      // the file could not be loaded: no spinner forever, no retry
};

// Pixels of thumbnail per point (the screen's device pixel ratio); 1 by default.
void SetThumbnailPixelRatio(double ratio);
double ThumbnailPixelRatio();

// The shared thumbnail queue: at most two loads at once, for the whole process.
plat::OperationQueue& GetThumbnailQueue();

class ListViewBaseCellImageEntity;
using ListEntityRef = std::shared_ptr<ListViewBaseCellImageEntity>;

class ListViewBaseCellEntity {
public:
    ListViewBaseCellEntity(std::filesystem::path fileURL, std::filesystem::path parentFolder);
    virtual ~ListViewBaseCellEntity() = default;

    // Entries are made only here, and always with thumbnails.
    static ListEntityRef entityForURL(const std::filesystem::path& fileURL,
                                      const std::filesystem::path& parentFolder = {});

    // The file's name: shown in the row, sorted on, shown under the image.
    std::string title() const;
    const std::filesystem::path& GetFileURL() const { return fileURL_; }
    // The folder the user added and in which the file was found; empty for a
    // file added by itself.
    const std::filesystem::path& GetParentFolder() const { return parentFolder_; }

private:
    // Set once at creation: readable without a lock.
    const std::filesystem::path fileURL_;
    const std::filesystem::path parentFolder_;
};

class ListViewBaseCellImageEntity : public ListViewBaseCellEntity,
                                    public std::enable_shared_from_this<ListViewBaseCellImageEntity> {
public:
    using ListViewBaseCellEntity::ListViewBaseCellEntity;

    // The thumbnail; null until loaded. A first call starts the load; callers
    // redraw when the thumbnail observer is told.
    ThumbnailRef GetThumbnailImage();
    // The thumbnail as it stands, without starting a load.
    ThumbnailRef thumbnailImage() const;
    ThumbnailState thumbnailState() const;
    bool imageLoading() const { return thumbnailState() == ThumbnailState::Loading; }

    // Queues one load on the thumbnail queue unless one is pending or done.
    void loadImage();
    // Loads on the calling thread (the add request's first entry).
    void loadImageDirectly();

    double GetWidth() const;
    double GetHeight() const;
    double GetResolution() const;
    std::uint64_t GetFileSize() const;
    double GetAngle() const;
    std::int64_t angle() const;
    std::int32_t GetFlip() const;
    void SetAngle(std::int64_t angle);
    void SetFlip(std::int32_t flip);

    // Called on the thread that changed the thumbnail (or its state), after
    // the change. One observer at a time; an empty function removes it.
    using ThumbnailObserver = std::function<void(const ListEntityRef&)>;
    void setThumbnailObserver(ThumbnailObserver observer);
    bool hasThumbnailObserver() const;

private:
    void finishLoad(ThumbnailState state, ThumbnailRef thumbnail);
    void notifyThumbnailChanged();

    mutable std::mutex mutex_;
    ThumbnailRef thumbnailImage_;
    ThumbnailState state_ = ThumbnailState::None;
    bool running_ = false;
    double imageHeight_ = 0.0;
    double imageWidth_ = 0.0;
    double imageResolution_ = 0.0;
    std::uint64_t fileSize_ = 0;
    std::int64_t imageAngle_ = 0;
    std::int32_t imageFlip_ = 0;
    ThumbnailObserver observer_;
};
