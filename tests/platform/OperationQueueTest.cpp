#include "platform/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using plat::Operation;
using plat::OperationQueue;

namespace {

// A gate that operations wait on until the test opens it.
class Gate {
public:
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        condition_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        condition_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool open_ = false;
};

class Recorder {
public:
    void add(int value) {
        std::lock_guard lock(mutex_);
        values_.push_back(value);
    }
    std::vector<int> values() {
        std::lock_guard lock(mutex_);
        return values_;
    }

private:
    std::mutex mutex_;
    std::vector<int> values_;
};

}  // namespace

TEST(OperationQueue, NeverExceedsTheConcurrencyLimit) {
    OperationQueue queue(2);
    std::atomic<int> current{0}, peak{0}, done{0};
    for (int i = 0; i < 16; ++i) {
        queue.addOperation([&] {
            const int now = ++current;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            --current;
            ++done;
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done.load(), 16);
    EXPECT_LE(peak.load(), 2);
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, RunsUpToTheLimitSideBySide) {
    // Two operations that each wait for the other can only finish when both run at once.
    OperationQueue queue(2);
    Gate first, second;
    queue.addOperation([&] {
        first.open();
        second.wait();
    });
    queue.addOperation([&] {
        second.open();
        first.wait();
    });
    queue.waitUntilAllOperationsAreFinished();
    SUCCEED();
}

TEST(OperationQueue, HigherPriorityRunsFirst) {
    OperationQueue queue(1);
    Gate gate;
    Recorder order;
    queue.addOperation([&] { gate.wait(); });
    const int priorities[] = {Operation::Low, Operation::Normal, Operation::VeryHigh, Operation::High,
                              Operation::Normal, Operation::VeryLow};
    for (int i = 0; i < 6; ++i) {
        auto op = Operation::make([&order, i] { order.add(i); });
        op->setQueuePriority(priorities[i]);
        queue.addOperation(op);
    }
    gate.open();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(order.values(), (std::vector<int>{2, 3, 1, 4, 0, 5}));
}

TEST(OperationQueue, DependenciesRunFirstEvenAcrossQueues) {
    OperationQueue queue(4), other(1);
    Recorder order;
    Gate gate;
    auto a = Operation::make([&] {
        gate.wait();
        order.add(1);
    });
    auto b = Operation::make([&] { order.add(2); });
    auto c = Operation::make([&] { order.add(3); });
    b->addDependency(a);
    c->addDependency(b);
    c->setQueuePriority(Operation::VeryHigh);
    EXPECT_FALSE(b->isReady());
    queue.addOperation(c);
    queue.addOperation(b);
    other.addOperation(a);
    gate.open();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(order.values(), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(b->isReady());
    EXPECT_TRUE(c->isFinished());
}

TEST(OperationQueue, CancelledOperationsDoNotRun) {
    OperationQueue queue(1);
    Gate gate, running;
    std::atomic<bool> sawCancel{false};
    std::atomic<int> ran{0};
    auto first = Operation::make([&](Operation& self) {
        running.open();
        gate.wait();
        sawCancel = self.isCancelled();
    });
    queue.addOperation(first);
    std::vector<std::shared_ptr<Operation>> waiting;
    for (int i = 0; i < 5; ++i) {
        auto op = Operation::make([&] { ++ran; });
        waiting.push_back(op);
        queue.addOperation(op);
    }
    // One waits for an operation that is never queued: cancelling frees it too.
    auto orphan = Operation::make([&] { ++ran; });
    orphan->addDependency(Operation::make([] {}));
    queue.addOperation(orphan);

    running.wait();
    EXPECT_TRUE(first->isExecuting());
    queue.cancelAllOperations();
    gate.open();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sawCancel.load());
    EXPECT_EQ(ran.load(), 0);
    for (auto& op : waiting) {
        EXPECT_TRUE(op->isFinished());
        EXPECT_TRUE(op->isCancelled());
    }
    EXPECT_TRUE(orphan->isFinished());

    // The queue still works afterwards.
    queue.addOperation([&] { ++ran; });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 1);
}

TEST(OperationQueue, SubclassesExceptionsAndWaiting) {
    struct Counting : Operation {
        std::atomic<int>* count;
        explicit Counting(std::atomic<int>* c) : count(c) {}
        void main() override { ++*count; }
    };
    std::atomic<int> count{0};
    auto op = std::make_shared<Counting>(&count);
    {
        OperationQueue queue;
        EXPECT_TRUE(queue.addOperation(op));
        EXPECT_FALSE(queue.addOperation(op)) << "an operation joins one queue once";
        queue.addOperation([] { throw std::runtime_error("swallowed"); });
        op->waitUntilFinished();
        EXPECT_EQ(count.load(), 1);
        for (int i = 0; i < 20; ++i) queue.addOperation(std::make_shared<Counting>(&count));
    }  // the destructor waits for all
    EXPECT_EQ(count.load(), 21);

    // Run directly on the calling thread, once.
    auto direct = std::make_shared<Counting>(&count);
    direct->start();
    direct->start();
    EXPECT_EQ(count.load(), 22);
    EXPECT_TRUE(direct->isFinished());
}
