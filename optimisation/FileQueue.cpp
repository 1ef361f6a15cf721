// The queue path of File: inspect the file, pick its agents from the user
// defaults, chain them on the CPU queue, save the best result on the file
// queue.

#include "optimisation/AdvCompAgent.h"
#include "optimisation/File.h"
#include "optimisation/FileCondition.h"
#include "optimisation/GifsicleAgent.h"
#include "optimisation/JPEGOptimAgent.h"
#include "optimisation/JPEGTranAgent.h"
#include "optimisation/KSMPngCrushAgent.h"
#include "optimisation/OptiPNGAgent.h"
#include "optimisation/PNGOutAgent.h"
#include "platform/OperationQueue.h"
#include "platform/UserDefaults.h"

#include <thread>

namespace optimisation {

namespace {

int ConcurrencyLimit(const plat::OperationQueue& queue) {
    const int limit = queue.maxConcurrentOperationCount();
    if (limit > 0) return limit;
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : static_cast<int>(processors);
}

}  // namespace

void File::enqueueWorkersInCPUQueue(plat::OperationQueue& cpuQueue, plat::OperationQueue& fileIOQueue) {
    auto self = shared_from_this();
    {
        std::lock_guard lock(mutex_);
        fileIOQueue_ = &fileIOQueue;
        setStatusLocked("wait", 0, std::string(status::kWaitingInQueue));
        ++workersActive_;
        workers_.clear();
        workers_.reserve(10);
    }
    plat::OperationQueue* cpu = &cpuQueue;
    auto inspection = plat::Operation::make([self, cpu] { self->doEnqueueWorkersInCPUQueue(*cpu); });
    if (cpuQueue.operationCount() < static_cast<std::size_t>(ConcurrencyLimit(cpuQueue))) {
        inspection->setQueuePriority(plat::Operation::High);
    }
    addWorker(inspection);
    fileIOQueue.addOperation(inspection);
}

void File::doEnqueueWorkersInCPUQueue(plat::OperationQueue& cpuQueue) {
    std::string path;
    {
        std::lock_guard lock(mutex_);
        setStatusLocked("progress", 3, std::string(status::kInspectingFile));
        if (workersActive_ > 0) --workersActive_;
        byteSize_ = 0;
        byteSizeOptimized_ = 0;
        path = filePath_;
    }

    const FileInspection inspection = InspectFileCondition(path);
    if (inspection.condition == FileCondition::Unreadable ||
        (inspection.size == 0 && inspection.condition != FileCondition::NotRegular)) {
        setStatus("err", 8, std::string(status::kCannotMap));
        return;
    }
    setByteSize(inspection.size);
    const int type = inspection.type;
    // A file no tool may be given ends here with the reason; a type that no
    // agent handles says so first.
    if (inspection.condition != FileCondition::Fine &&
        (type != kFileTypeUnknown || inspection.condition == FileCondition::NotRegular)) {
        const ConditionStatus shown = StatusForCondition(inspection.condition);
        noteProblem(shown.key, shown.order, shown.text);
        cleanup();
        return;
    }

    auto self = shared_from_this();
    auto& defaults = plat::UserDefaults::standardUserDefaults();
    std::vector<std::shared_ptr<Agent>> first;   // modify beyond optimising: one after another
    std::vector<std::shared_ptr<Agent>> second;  // lossless: side by side, after the first list
    auto sort = [&](const std::shared_ptr<Agent>& agent) {
        (agent->makesNonOptimizingModifications() ? first : second).push_back(agent);
    };

    if (type == kFileTypeGIF) {
        if (defaults.boolForKey(plat::defaults::kGifsicleEnabled)) {
            auto plain = std::make_shared<GifsicleAgent>(self);
            auto interlaced = std::make_shared<GifsicleAgent>(self);
            interlaced->setInterlace(true);
            second.push_back(plain);
            second.push_back(interlaced);
        }
    } else if (type == kFileTypeJPEG) {
        if (defaults.boolForKey(plat::defaults::kJpegOptimEnabled)) sort(std::make_shared<JPEGOptimAgent>(self));
        if (defaults.boolForKey(plat::defaults::kJpegTranEnabled)) {
            second.push_back(std::make_shared<JPEGTranAgent>(self));
        }
    } else if (type == kFileTypePNG) {
        bool crushFirst = false;
        if (defaults.boolForKey(plat::defaults::kPngCrushEnabled)) {
            auto crush = std::make_shared<KSMPngCrushAgent>(self);
            crushFirst = crush->makesNonOptimizingModifications();
            sort(crush);
        }
        if (defaults.boolForKey(plat::defaults::kOptiPngEnabled)) sort(std::make_shared<OptiPNGAgent>(self));
        if (defaults.boolForKey(plat::defaults::kPngOutEnabled)) {
            auto pngout = std::make_shared<PNGOutAgent>(self);
            if (crushFirst) {
                second.push_back(pngout);
            } else {
                sort(pngout);
            }
        }
        if (defaults.boolForKey(plat::defaults::kAdvPngEnabled)) sort(std::make_shared<AdvCompAgent>(self));
    } else {
        setStatus("err", 8, std::string(status::kWrongType));
        cleanup();
        return;
    }

    for (std::size_t i = 0; i < first.size(); ++i) {
        if (i == 0) {
            first[i]->setQueuePriority(plat::Operation::Low);
        } else {
            first[i]->addDependency(first[i - 1]);
        }
    }
    if (!first.empty()) {
        for (const auto& agent : second) agent->addDependency(first.back());
    }

    // Bookkeeping and status come before the agents reach the queue: an
    // agent that finished at once would otherwise have its final status
    // overwritten by "Waiting to be optimized".
    bool none = false;
    {
        std::lock_guard lock(mutex_);
        workersTotal_ += first.size() + second.size();
        for (const auto& agent : first) workers_.push_back(agent);
        for (const auto& agent : second) workers_.push_back(agent);
        none = workersTotal_ == 0;
        if (!none) setStatusLocked("wait", 1, std::string(status::kWaitingToBeOptimized));
    }
    if (none) {
        setStatus("err", 8, std::string(status::kToolsDisabled));
        cleanup();
        return;
    }
    for (const auto& agent : first) cpuQueue.addOperation(agent);
    for (const auto& agent : second) cpuQueue.addOperation(agent);
}

}  // namespace optimisation
