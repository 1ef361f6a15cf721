#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace plat {

class OperationQueue;
struct OperationQueueState;

// A unit of work for an OperationQueue. Either give it a function or derive
// from it and override main(). Operations are shared: the queue keeps one
// alive until it has finished.
class Operation : public std::enable_shared_from_this<Operation> {
public:
    enum Priority : int { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };

    Operation() = default;
    explicit Operation(std::function<void()> work);
    // The work receives its operation, to look at isCancelled() as it goes.
    explicit Operation(std::function<void(Operation&)> work);
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    static std::shared_ptr<Operation> make(std::function<void()> work) {
        return std::make_shared<Operation>(std::move(work));
    }
    static std::shared_ptr<Operation> make(std::function<void(Operation&)> work) {
        return std::make_shared<Operation>(std::move(work));
    }

    // Sets the flag that main() sees. An operation cancelled before it starts
    // never runs main(); it counts as finished once its queue reaches it
    // (without waiting for its dependencies).
    virtual void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    bool isExecuting() const { return executing_.load(); }
    bool isFinished() const { return finished_.load(); }
    // Cancelled, or every dependency finished.
    bool isReady() const;

    // This operation starts only after `other` has finished. Dependencies may
    // sit in other queues. Adding one after the operation started has no effect.
    void addDependency(const std::shared_ptr<Operation>& other);
    void removeDependency(const std::shared_ptr<Operation>& other);
    std::vector<std::shared_ptr<Operation>> dependencies() const;

    void setQueuePriority(int priority) { priority_.store(priority); }
    int queuePriority() const { return priority_.load(); }

    // Runs the operation on the calling thread: main() unless cancelled, then
    // finished. Each operation starts once; later calls do nothing.
    void start();
    // Blocks until the operation has finished.
    void waitUntilFinished();

protected:
    // The work. The default runs the function given at construction.
    virtual void main();

private:
    friend class OperationQueue;
    void finish();
    void wakeQueuesWaitingForThis();

    std::function<void(Operation&)> work_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> started_{false};
    std::atomic<int> priority_{Normal};

    mutable std::mutex mutex_;
    std::condition_variable finishedCondition_;
    std::vector<std::shared_ptr<Operation>> dependencies_;
    std::vector<std::weak_ptr<Operation>> dependents_;
    std::weak_ptr<OperationQueueState> queue_;
};

// Runs operations on worker threads: at most maxConcurrentOperationCount at
// once, ready operations of higher priority first, in the order added among
// equals. The destructor waits for every operation added to finish.
class OperationQueue {
public:
    // -1: as many as the machine has processors.
    static constexpr int DefaultMaxConcurrentOperationCount = -1;

    explicit OperationQueue(int maxConcurrentOperationCount = DefaultMaxConcurrentOperationCount);
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;

    // False when the operation is null, already in a queue, or started.
    bool addOperation(const std::shared_ptr<Operation>& operation);
    std::shared_ptr<Operation> addOperation(std::function<void()> work);

    // Cancels every operation waiting or running in the queue.
    void cancelAllOperations();
    void waitUntilAllOperationsAreFinished();
    // Operations added and not yet finished.
    std::size_t operationCount() const;
    std::vector<std::shared_ptr<Operation>> operations() const;

private:
    void workerLoop();
    void ensureWorkers();  // queue lock held

    std::shared_ptr<OperationQueueState> state_;
    std::vector<std::thread> workers_;
};

}  // namespace plat
