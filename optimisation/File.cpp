#include "optimisation/File.h"

#include "optimisation/Agent.h"
#include "platform/FileDescriptor.h"
#include "platform/FileManager.h"
#include "platform/OperationQueue.h"
#include "platform/UserDefaults.h"

#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace optimisation {

namespace fs = std::filesystem;

namespace status {
std::string format(std::string_view text, std::string_view argument) {
    std::string result(text);
    if (auto at = result.find("%@"); at != std::string::npos) result.replace(at, 2, argument);
    return result;
}
}  // namespace status

namespace {

// The files that jobs of a queue optimised: a later job of the same file in
// that queue, inspected before the first one saved, finds the file already
// smaller than its own result and reports what happened to it instead.
struct Outcome {
    const plat::OperationQueue* queue = nullptr;
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t size = 0;
    std::string toolName;
};

struct Outcomes {
    std::mutex mutex;
    std::deque<Outcome> recent;  // newest last
};

// Duplicates are queued close together; older outcomes give way.
constexpr std::size_t kOutcomesKept = 4096;

Outcomes& TheOutcomes() {
    static Outcomes* outcomes = new Outcomes;  // outlives every static destructor
    return *outcomes;
}

}  // namespace

void File::rememberOutcome(const std::string& target, std::string_view toolName) {
    const plat::OperationQueue* queue = fileIOQueue();
    struct stat st{};
    if (queue == nullptr || ::stat(target.c_str(), &st) != 0) return;
    Outcomes& outcomes = TheOutcomes();
    std::lock_guard lock(outcomes.mutex);
    std::erase_if(outcomes.recent, [&](const Outcome& outcome) {
        return outcome.queue == queue && outcome.device == st.st_dev && outcome.inode == st.st_ino;
    });
    if (outcomes.recent.size() >= kOutcomesKept) outcomes.recent.pop_front();
    outcomes.recent.push_back(
        Outcome{queue, st.st_dev, st.st_ino, static_cast<std::uint64_t>(st.st_size), std::string(toolName)});
}

bool File::adoptEarlierOutcomeLocked() {
    struct stat st{};
    if (fileIOQueue_ == nullptr || filePath_.empty() || ::stat(filePath_.c_str(), &st) != 0) return false;
    std::optional<Outcome> found;
    {
        Outcomes& outcomes = TheOutcomes();
        std::lock_guard lock(outcomes.mutex);
        for (const auto& outcome : outcomes.recent) {
            if (outcome.queue == fileIOQueue_ && outcome.device == st.st_dev && outcome.inode == st.st_ino &&
                outcome.size == static_cast<std::uint64_t>(st.st_size)) {
                found = outcome;
            }
        }
    }
    if (!found) return false;
    removeOldFilePathOptimized();
    bestToolName_ = found->toolName;
    setByteSizeOptimized(found->size);
    done_ = true;
    setStatusLocked("ok", 7, status::format(status::kOptimizedWith, bestToolName_));
    return true;
}

File::File() = default;

File::File(const std::string& filePath) {
    setFilePath(filePath);
    setByteSizeOptimized(fileByteSize(filePath));
}

File::~File() = default;

std::shared_ptr<File> File::copy() const {
    auto copied = std::make_shared<File>();
    copied->setByteSize(byteSize());
    copied->setByteSizeOptimized(byteSizeOptimized());
    copied->setFilePath(filePath());
    return copied;
}

std::string File::description() const {
    std::lock_guard lock(mutex_);
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, " %llu/%llu (workers active %llu, finished %llu, total %llu)",
                  static_cast<unsigned long long>(byteSize_), static_cast<unsigned long long>(byteSizeOptimized_),
                  static_cast<unsigned long long>(workersActive_), static_cast<unsigned long long>(workersFinished_),
                  static_cast<unsigned long long>(workersTotal_));
    return filePath_ + numbers;
}

std::uint64_t File::fileByteSize(const std::string& path) {
    if (path.empty()) return 0;
    return plat::FileManager::fileSize(path).value_or(0);
}

int File::fileType(std::span<const std::uint8_t> data) {
    static constexpr std::uint8_t kPng[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A};
    static constexpr std::uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
    static constexpr std::uint8_t kGif[] = {'G', 'I', 'F', '8'};
    auto startsWith = [&](std::span<const std::uint8_t> pattern) {
        return data.size() >= pattern.size() && std::equal(pattern.begin(), pattern.end(), data.begin());
    };
    if (startsWith(kPng)) return kFileTypePNG;
    if (startsWith(kJpeg)) return kFileTypeJPEG;
    if (startsWith(kGif)) return kFileTypeGIF;
    return kFileTypeUnknown;
}

int File::fileTypeAtPath(const std::string& path) {
    // Regular files only: a FIFO under a file's name must not block the check.
    const auto head = plat::FileManager::leadingBytesOfFile(path, 8);
    if (!head || head->empty()) return kFileTypeUnknown;
    return fileType(std::span<const std::uint8_t>(*head));
}

std::string File::filePath() const {
    std::lock_guard lock(mutex_);
    return filePath_;
}

void File::setFilePath(const std::string& filePath) {
    std::lock_guard lock(mutex_);
    if (filePath == filePath_) return;
    filePath_ = filePath;
    displayName_ = filePath.empty() ? std::string() : fs::path(filePath).filename().string();
}

std::string File::displayName() const {
    std::lock_guard lock(mutex_);
    return displayName_;
}

std::string File::fileName() const {
    std::lock_guard lock(mutex_);
    return displayName_.empty() ? filePath_ : displayName_;
}

std::uint64_t File::byteSize() const {
    std::lock_guard lock(mutex_);
    return byteSize_;
}

std::uint64_t File::byteSizeOptimized() const {
    std::lock_guard lock(mutex_);
    return byteSizeOptimized_;
}

void File::setByteSize(std::uint64_t size) {
    std::lock_guard lock(mutex_);
    if (byteSize_ != 0 || size < 11) return;
    byteSize_ = size;
    if (byteSizeOptimized_ == 0 || byteSizeOptimized_ > size) setByteSizeOptimized(size);
}

void File::setByteSizeOptimized(std::uint64_t size) {
    std::lock_guard lock(mutex_);
    if (size < 31) return;
    if (byteSizeOptimized_ != 0 && size >= byteSizeOptimized_) return;
    byteSizeOptimized_ = size;
    setPercentOptimized(0);
}

double File::percentOptimized() const {
    std::lock_guard lock(mutex_);
    if (byteSizeOptimized_ == 0 || byteSize_ == 0) return 0.0;
    double percent = 100.0 - static_cast<double>(byteSizeOptimized_) * 100.0 / static_cast<double>(byteSize_);
    return percent < 0.0 ? 0.0 : percent;
}

bool File::isOptimized() const {
    std::lock_guard lock(mutex_);
    return byteSizeOptimized_ < byteSize_;
}

bool File::isLarge() const { return byteSize() > 1048576; }
bool File::isSmall() const { return byteSize() < 2048; }
bool File::isCameraPhoto() const { return static_cast<double>(byteSize()) > 1048576.0 * 1.3; }

bool File::isDone() const {
    std::lock_guard lock(mutex_);
    return done_;
}

double File::percentDone() const {
    std::lock_guard lock(mutex_);
    return percentDone_;
}

void File::setPercentDone(double percent) {
    std::lock_guard lock(mutex_);
    percentDone_ = percent;
}

std::string File::bestToolName() const {
    std::lock_guard lock(mutex_);
    return bestToolName_;
}

std::string File::filePathOptimized() const {
    std::lock_guard lock(mutex_);
    return filePathOptimized_;
}

bool File::setFilePathOptimized(const std::string& path, std::uint64_t size, const std::string& toolName) {
    std::lock_guard lock(mutex_);
    if (size >= byteSizeOptimized_) return false;
    removeOldFilePathOptimized();
    filePathOptimized_ = path;
    bestToolName_ = toolName;
    setByteSizeOptimized(size);
    return true;
}

void File::removeOldFilePathOptimized() {
    std::lock_guard lock(mutex_);
    if (!filePathOptimized_.empty()) {
        std::error_code ignored;
        fs::remove(filePathOptimized_, ignored);
    }
    filePathOptimized_.clear();
}

bool File::saveResult() {
    try {
        std::string pending;
        std::uint64_t expectedSize = 0;
        {
            std::lock_guard lock(mutex_);
            pending = filePathOptimized_;
            expectedSize = byteSizeOptimized_;
        }
        if (pending.empty() || filePath().empty()) return false;
        // Written in place, a result under 35 bytes is refused.
        const bool preservePermissions =
            plat::UserDefaults::standardUserDefaults().boolForKey(plat::defaults::kPreservePermissions);
        if (replaceFileWith(pending, preservePermissions ? 35 : 1, expectedSize, bestToolName()) !=
            Replacement::Replaced) {
            return false;
        }
        removeOldFilePathOptimized();
        return true;
    } catch (...) {
        return false;
    }
}

void File::saveResultAndUpdateStatus() {
    const bool saved = saveResult();
    std::lock_guard lock(mutex_);
    if (saved) {
        done_ = true;
        setStatusLocked("ok", 7, status::format(status::kOptimizedWith, bestToolName_));
    } else if (!adoptEarlierOutcomeLocked()) {
        setStatusLocked("err", 9, std::string(status::kCouldNotSave));
    }
}

void File::setStatus(std::string_view key, std::int64_t order, const std::string& text) {
    std::lock_guard lock(mutex_);
    setStatusLocked(key, order, text);
}

void File::setStatusLocked(std::string_view key, std::int64_t order, const std::string& text) {
    if (text == statusText_ && !statusImage_.empty()) return;
    statusOrder_ = order;
    statusText_ = text;
    statusImage_ = std::string(key);
}

std::string File::statusImage() const {
    std::lock_guard lock(mutex_);
    return statusImage_;
}

std::string File::statusText() const {
    std::lock_guard lock(mutex_);
    return statusText_;
}

std::int64_t File::statusOrder() const {
    std::lock_guard lock(mutex_);
    return statusOrder_;
}

void File::workerHasStarted(const Agent& agent) {
    std::lock_guard lock(mutex_);
    ++workersActive_;
    std::string name(agent.className());
    for (auto at = name.find("Agent"); at != std::string::npos; at = name.find("Agent")) name.erase(at, 5);
    setStatusLocked("progress", 4, status::format(status::kStarted, name));
}

void File::workerHasFinished(const Agent&) {
    std::shared_ptr<plat::Operation> save;
    plat::OperationQueue* queue = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (workersActive_ > 0) --workersActive_;
        ++workersFinished_;
        if (workersActive_ != 0) return;
        if (workersFinished_ != workersTotal_ && byteSize_ != 0 && byteSizeOptimized_ != 0) {
            setStatusLocked("wait", 2, std::string(status::kWaitingToStartMore));
        } else if (settleLocked()) {
            // The operation keeps this File alive until it has saved.
            std::shared_ptr<File> self = weak_from_this().lock();
            File* target = this;
            save = plat::Operation::make([self, target] { target->saveResultAndUpdateStatus(); });
            addWorker(save);
            if (self) queue = fileIOQueue_;
        }
    }
    // Outside the lock: saving takes the replacement lock, which agents hold
    // while they ask this File for its path.
    if (!save) return;
    if (queue != nullptr) {
        queue->addOperation(save);
    } else {
        // Agents run by hand, outside the queue path: save right here.
        save->start();
    }
}

bool File::settleLocked() {
    if (byteSize_ == 0 || byteSizeOptimized_ == 0) {
        if (problem_) {
            setStatusLocked(problem_->key, problem_->order, problem_->text);
        } else {
            setStatusLocked("err", 8, std::string(status::kSizeIsZero));
        }
        return false;
    }
    if (byteSize_ > byteSizeOptimized_ && !filePathOptimized_.empty()) return true;
    if (replacedInPlace_) {
        done_ = true;
        setStatusLocked("ok", 7, status::format(status::kOptimizedWith, bestToolName_));
    } else if (problem_) {
        setStatusLocked(problem_->key, problem_->order, problem_->text);
    } else if (!adoptEarlierOutcomeLocked()) {
        done_ = true;
        setStatusLocked("noopt", 5, std::string(status::kCannotBeOptimized));
    }
    return false;
}

void File::noteReplacement(std::uint64_t originalSize, std::uint64_t newSize, const std::string& toolName) {
    std::lock_guard lock(mutex_);
    setByteSize(originalSize);
    if (newSize < byteSizeOptimized_ || byteSizeOptimized_ == 0) {
        bestToolName_ = toolName;
        setByteSizeOptimized(newSize);
    }
    replacedInPlace_ = true;
}

void File::noteProblem(std::string_view key, std::int64_t order, std::string_view text) {
    std::lock_guard lock(mutex_);
    problem_ = Problem{std::string(key), order, std::string(text)};
    setStatusLocked(key, order, std::string(text));
}

void File::settleAfterRun() {
    std::lock_guard lock(mutex_);
    if (fileIOQueue_ != nullptr || workersTotal_ != 0) return;
    settleLocked();
}

bool File::isBusy() const {
    std::lock_guard lock(mutex_);
    return workersActive_ != 0 || workersTotal_ != workersFinished_;
}

std::uint64_t File::workersActive() const {
    std::lock_guard lock(mutex_);
    return workersActive_;
}

std::uint64_t File::workersFinished() const {
    std::lock_guard lock(mutex_);
    return workersFinished_;
}

plat::OperationQueue* File::fileIOQueue() const {
    std::lock_guard lock(mutex_);
    return fileIOQueue_;
}

std::uint64_t File::workersTotal() const {
    std::lock_guard lock(mutex_);
    return workersTotal_;
}

std::vector<std::shared_ptr<plat::Operation>> File::workers() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<plat::Operation>> alive;
    for (const auto& worker : workers_) {
        if (auto operation = worker.lock()) alive.push_back(std::move(operation));
    }
    return alive;
}

void File::addWorker(const std::shared_ptr<plat::Operation>& operation) {
    std::lock_guard lock(mutex_);
    workers_.push_back(operation);
}

void File::cleanup() {
    std::lock_guard lock(mutex_);
    for (const auto& worker : workers_) {
        if (auto operation = worker.lock()) operation->cancel();
    }
    workers_.clear();
    removeOldFilePathOptimized();
    filePath_.clear();
    displayName_.clear();
}

}  // namespace optimisation
