#pragma once
// The optimisation job of one file: its path, sizes before and after, a
// pending optimised result, the status shown for it and the bookkeeping of
// the agents working on it.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plat {
class Operation;
class OperationQueue;
}  // namespace plat

namespace optimisation {

class Agent;

// File types told by the first bytes (File::fileType).
enum FileType : int { kFileTypeUnknown = 0, kFileTypePNG = 1, kFileTypeJPEG = 2, kFileTypeGIF = 3 };

// Status texts. They double as the keys of the string table, where a key
// without a translation shows itself.
namespace status {
inline constexpr std::string_view kWaitingInQueue = "Waiting in queue";
inline constexpr std::string_view kWaitingToBeOptimized = "Waiting to be optimized";
inline constexpr std::string_view kWaitingToStartMore = "Waiting to start more optimizations";
inline constexpr std::string_view kInspectingFile = "Inspecting file";
inline constexpr std::string_view kStarted = "Started %@";
inline constexpr std::string_view kCannotBeOptimized = "File cannot be optimized any further";
inline constexpr std::string_view kOptimizedWith = "Optimized successfully with %@";
inline constexpr std::string_view kSizeIsZero = "Size of optimized file is 0";
inline constexpr std::string_view kCannotMap = "Can't map file into memory";
inline constexpr std::string_view kWrongType = "File is neither PNG, GIF nor JPEG";
inline constexpr std::string_view kToolsDisabled = "All neccessary tools have been disabled in Preferences";
inline constexpr std::string_view kFailedToStart = "%@ failed to start";
inline constexpr std::string_view kCouldNotSave = "Optimized file could not be saved";
// Files the tools must not touch, or would damage.
inline constexpr std::string_view kNotRegularFile = "File is not a regular file";
inline constexpr std::string_view kNotWritable = "File is not writable";
inline constexpr std::string_view kAnimationKept = "Animated PNG left as it is";
inline constexpr std::string_view kMoreImagesKept = "JPEG with more than one image left as it is";

// Replaces the first "%@" of a text with the argument.
std::string format(std::string_view text, std::string_view argument);
}  // namespace status

class File : public std::enable_shared_from_this<File> {
public:
    File();
    // initWithFilePath: sets the path, then offers the file's current size
    // as the optimised size. byteSize stays 0 until somebody sets it.
    explicit File(const std::string& filePath);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // copyWithZone: a new File whose sizes pass the same rules as any other.
    std::shared_ptr<File> copy() const;
    std::string description() const;

    // The size of the item at the path; 0 when it cannot be read.
    static std::uint64_t fileByteSize(const std::string& path);
    // 1 PNG, 2 JPEG, 3 GIF, 0 anything else (short data included).
    static int fileType(std::span<const std::uint8_t> data);
    // fileType of the first bytes of the file at the path.
    static int fileTypeAtPath(const std::string& path);

    std::string filePath() const;
    void setFilePath(const std::string& filePath);
    std::string displayName() const;
    std::string fileName() const;

    std::uint64_t byteSize() const;
    std::uint64_t byteSizeOptimized() const;
    void setByteSize(std::uint64_t size);
    void setByteSizeOptimized(std::uint64_t size);
    double percentOptimized() const;
    // Stores nothing: called after each new optimised size so that observers
    // of percentOptimized see a change.
    void setPercentOptimized(double) {}
    bool isOptimized() const;
    bool isLarge() const;
    bool isSmall() const;
    bool isCameraPhoto() const;
    bool isDone() const;

    double percentDone() const;
    void setPercentDone(double percent);

    std::string bestToolName() const;
    std::string filePathOptimized() const;
    // Takes the result only when it is smaller than the best so far; returns
    // whether it was taken (an output not taken is the caller's to delete).
    bool setFilePathOptimized(const std::string& path, std::uint64_t size, const std::string& toolName);
    void removeOldFilePathOptimized();
    bool saveResult();
    void saveResultAndUpdateStatus();

    // How a replacement of the file at filePath ended.
    enum class Replacement { Replaced, NotTaken, Failed };
    // Puts the bytes of `resultPath` in place of the file at filePath, under
    // the replacement lock, by the rules every road shares: a symbolic link
    // stays and its target is replaced; only a regular file the user may
    // change, and only by a result of at least `minimumSize` bytes (exactly
    // `expectedSize` when that is not 0), of the file's type and smaller than
    // what is there now; "BackupFiles" keeps the first original beside it as
    // "<name>~"; with "PreservePermissions", a file with more than one link or
    // a file owned by someone else the bytes are written over the file itself
    // (its old bytes put back should that fail), otherwise a copy beside it,
    // carrying its extended attributes and group, is renamed over it.
    // On the queue path the replacement is recorded with `toolName`, so that
    // other jobs of the queue for the same file report it (see
    // adoptEarlierOutcomeLocked).
    Replacement replaceFileWith(const std::string& resultPath, std::uint64_t minimumSize,
                                std::uint64_t expectedSize = 0, std::string_view toolName = {});

    // An agent replaced the file itself: the sizes before and after and the
    // tool. The final status reports it.
    void noteReplacement(std::uint64_t originalSize, std::uint64_t newSize, const std::string& toolName);
    // An agent met a problem (a file left alone, a failed write): shown now
    // and, unless the file was optimised after all, as the final status.
    void noteProblem(std::string_view key, std::int64_t order, std::string_view text);
    // After an agent's run outside the queue path: the final status (the
    // queue path settles it when its last agent finishes).
    void settleAfterRun();

    void setStatus(std::string_view key, std::int64_t order, const std::string& text);
    // The name of the status image: "wait", "progress", "err", "ok", "noopt".
    std::string statusImage() const;
    std::string statusText() const;
    std::int64_t statusOrder() const;

    void workerHasStarted(const Agent& agent);
    void workerHasFinished(const Agent& agent);
    bool isBusy() const;
    std::uint64_t workersActive() const;
    std::uint64_t workersFinished() const;
    std::uint64_t workersTotal() const;
    // The operations queued for this file and still alive (queue path).
    std::vector<std::shared_ptr<plat::Operation>> workers() const;

    // The queue path. The File must be owned by a std::shared_ptr.
    void enqueueWorkersInCPUQueue(plat::OperationQueue& cpuQueue, plat::OperationQueue& fileIOQueue);
    void doEnqueueWorkersInCPUQueue(plat::OperationQueue& cpuQueue);
    // The queue the result is saved on (not owned); null off the queue path.
    plat::OperationQueue* fileIOQueue() const;

    void cleanup();

    // Held by whoever replaces the file at filePath, so that agents working
    // side by side replace it one at a time and compare against what is
    // there now.
    std::mutex& replacementMutex() const { return replacementMutex_; }

private:
    // The final status once every agent is done; true when a pending result
    // remains to be saved.
    bool settleLocked();
    bool replaceInPlace(const std::string& target, const std::string& resultPath, std::uint64_t size);
    bool replaceByRename(const std::string& target, const std::string& resultPath, std::uint64_t size);
    void addWorker(const std::shared_ptr<plat::Operation>& operation);
    void setStatusLocked(std::string_view key, std::int64_t order, const std::string& text);
    // On the queue path: records that this job left the file `target` as it
    // is now, by the tool named.
    void rememberOutcome(const std::string& target, std::string_view toolName);
    // When an earlier job of this queue left the file at filePath as it is
    // now (same inode and size): this job reports that outcome and drops its
    // pending result. False otherwise.
    bool adoptEarlierOutcomeLocked();

    mutable std::recursive_mutex mutex_;
    mutable std::mutex replacementMutex_;
    std::string filePath_;
    std::string displayName_;
    std::uint64_t byteSize_ = 0;
    std::uint64_t byteSizeOptimized_ = 0;
    std::string bestToolName_;
    double percentDone_ = 0.0;
    std::string filePathOptimized_;
    std::string statusImage_;
    std::string statusText_;
    std::int64_t statusOrder_ = 0;
    // Weak: the queues own the operations, which own this File while they
    // wait; holding them strongly here would keep both alive for ever.
    std::vector<std::weak_ptr<plat::Operation>> workers_;
    std::uint64_t workersActive_ = 0;
    std::uint64_t workersFinished_ = 0;
    std::uint64_t workersTotal_ = 0;
    plat::OperationQueue* fileIOQueue_ = nullptr;
    bool done_ = false;
    bool replacedInPlace_ = false;  // an agent replaced the file itself
    bool backedUp_ = false;         // the first original is kept as "<name>~"
    struct Problem {
        std::string key;
        std::int64_t order = 0;
        std::string text;
    };
    std::optional<Problem> problem_;
};

}  // namespace optimisation
