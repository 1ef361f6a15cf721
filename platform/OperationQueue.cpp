#include "platform/OperationQueue.h"

#include <algorithm>

namespace plat {

struct OperationQueueState {
    mutable std::mutex mutex;
    std::condition_variable changed;  // an operation was added, finished, cancelled or became ready
    std::vector<std::shared_ptr<Operation>> pending;  // in the order added
    std::vector<std::shared_ptr<Operation>> running;
    int maxConcurrent = OperationQueue::DefaultMaxConcurrentOperationCount;
    bool stopping = false;

    std::size_t limit() const {
        if (maxConcurrent > 0) return static_cast<std::size_t>(maxConcurrent);
        return std::max(1u, std::thread::hardware_concurrency());
    }
};

// --- Operation ------------------------------------------------------------------

Operation::Operation(std::function<void()> work) {
    if (work) work_ = [w = std::move(work)](Operation&) { w(); };
}

Operation::Operation(std::function<void(Operation&)> work) : work_(std::move(work)) {}

Operation::~Operation() = default;

void Operation::main() {
    if (work_) work_(*this);
}

void Operation::cancel() {
    if (cancelled_.exchange(true)) return;
    // A cancelled operation is ready at once; let its queue look again.
    std::shared_ptr<OperationQueueState> queue;
    {
        std::lock_guard lock(mutex_);
        queue = queue_.lock();
    }
    if (queue) {
        std::lock_guard lock(queue->mutex);
        queue->changed.notify_all();
    }
}

bool Operation::isReady() const {
    if (isCancelled()) return true;
    std::lock_guard lock(mutex_);
    return std::all_of(dependencies_.begin(), dependencies_.end(),
                       [](const std::shared_ptr<Operation>& d) { return d->isFinished(); });
}

void Operation::addDependency(const std::shared_ptr<Operation>& other) {
    if (!other || other.get() == this || started_.load()) return;
    {
        std::lock_guard lock(mutex_);
        if (std::find(dependencies_.begin(), dependencies_.end(), other) != dependencies_.end()) return;
        dependencies_.push_back(other);
    }
    std::lock_guard lock(other->mutex_);
    other->dependents_.push_back(weak_from_this());
}

void Operation::removeDependency(const std::shared_ptr<Operation>& other) {
    {
        std::lock_guard lock(mutex_);
        dependencies_.erase(std::remove(dependencies_.begin(), dependencies_.end(), other), dependencies_.end());
    }
    std::shared_ptr<OperationQueueState> queue;
    {
        std::lock_guard lock(mutex_);
        queue = queue_.lock();
    }
    if (queue) {
        std::lock_guard lock(queue->mutex);
        queue->changed.notify_all();
    }
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
    std::lock_guard lock(mutex_);
    return dependencies_;
}

void Operation::start() {
    if (started_.exchange(true)) return;
    if (!isCancelled()) {
        executing_.store(true);
        try {
            main();
        } catch (...) {
            // A failing operation must not take its worker thread down.
        }
        executing_.store(false);
    }
    finish();
}

void Operation::finish() {
    {
        std::lock_guard lock(mutex_);
        finished_.store(true);
    }
    finishedCondition_.notify_all();
    wakeQueuesWaitingForThis();
}

void Operation::wakeQueuesWaitingForThis() {
    std::vector<std::weak_ptr<Operation>> dependents;
    {
        std::lock_guard lock(mutex_);
        dependents = dependents_;
    }
    for (const auto& weak : dependents) {
        auto dependent = weak.lock();
        if (!dependent) continue;
        std::shared_ptr<OperationQueueState> queue;
        {
            std::lock_guard lock(dependent->mutex_);
            queue = dependent->queue_.lock();
        }
        if (queue) {
            std::lock_guard lock(queue->mutex);
            queue->changed.notify_all();
        }
    }
}

void Operation::waitUntilFinished() {
    std::unique_lock lock(mutex_);
    finishedCondition_.wait(lock, [this] { return finished_.load(); });
}

// --- OperationQueue ---------------------------------------------------------------

OperationQueue::OperationQueue(int maxConcurrentOperationCount)
    : state_(std::make_shared<OperationQueueState>()) {
    state_->maxConcurrent = maxConcurrentOperationCount;
}

OperationQueue::~OperationQueue() {
    waitUntilAllOperationsAreFinished();
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    for (auto& worker : workers_) worker.join();
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    std::lock_guard lock(state_->mutex);
    state_->maxConcurrent = count;
    ensureWorkers();
    state_->changed.notify_all();
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->maxConcurrent;
}

bool OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
    if (!operation || operation->started_.load()) return false;
    {
        std::lock_guard opLock(operation->mutex_);
        if (!operation->queue_.expired()) return false;
        operation->queue_ = state_;
    }
    std::lock_guard lock(state_->mutex);
    state_->pending.push_back(operation);
    ensureWorkers();
    state_->changed.notify_all();
    return true;
}

std::shared_ptr<Operation> OperationQueue::addOperation(std::function<void()> work) {
    auto operation = Operation::make(std::move(work));
    addOperation(operation);
    return operation;
}

void OperationQueue::ensureWorkers() {
    const std::size_t wanted = std::min(state_->limit(), state_->pending.size() + state_->running.size());
    while (workers_.size() < wanted) workers_.emplace_back([this] { workerLoop(); });
}

void OperationQueue::cancelAllOperations() {
    std::vector<std::shared_ptr<Operation>> all = operations();
    for (const auto& operation : all) operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [this] { return state_->pending.empty() && state_->running.empty(); });
}

std::size_t OperationQueue::operationCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->pending.size() + state_->running.size();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
    std::lock_guard lock(state_->mutex);
    std::vector<std::shared_ptr<Operation>> all = state_->running;
    all.insert(all.end(), state_->pending.begin(), state_->pending.end());
    return all;
}

void OperationQueue::workerLoop() {
    OperationQueueState& state = *state_;
    std::unique_lock lock(state.mutex);
    for (;;) {
        if (state.stopping) return;
        // Cancelled operations are cleared first, even at the limit: they
        // only get marked finished. Then the ready one of highest priority.
        auto best = std::find_if(state.pending.begin(), state.pending.end(),
                                 [](const std::shared_ptr<Operation>& op) { return op->isCancelled(); });
        if (best == state.pending.end() && state.running.size() < state.limit()) {
            for (auto it = state.pending.begin(); it != state.pending.end(); ++it) {
                if (!(*it)->isReady()) continue;
                if (best == state.pending.end() || (*it)->queuePriority() > (*best)->queuePriority()) best = it;
            }
        }
        std::shared_ptr<Operation> next;
        if (best != state.pending.end()) {
            next = *best;
            state.pending.erase(best);
            state.running.push_back(next);
        }
        if (!next) {
            state.changed.wait(lock);
            continue;
        }
        lock.unlock();
        next->start();
        lock.lock();
        state.running.erase(std::find(state.running.begin(), state.running.end(), next));
        state.changed.notify_all();
    }
}

}  // namespace plat
