#pragma once
// The preview's request queue: one serial queue on which only the newest
// request of a burst is carried out. Each request takes the next generation
// number; a request that finds a newer generation when it starts is dropped.
// Unlike a count of waiting requests, a generation cannot be left stale by
// cancelled requests, so closing and reopening the preview never stops it.

#include "platform/OperationQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>

class PreviewScheduler {
public:
    // The work of one request (quiet: without the busy indicator), run on
    // the queue's thread.
    using Work = std::function<void(bool quiet)>;

    explicit PreviewScheduler(Work work) : work_(std::move(work)) {}
    ~PreviewScheduler();
    PreviewScheduler(const PreviewScheduler&) = delete;
    PreviewScheduler& operator=(const PreviewScheduler&) = delete;

    // ConvertImageForPreview: queues one request.
    void request(bool quiet);
    // Drops every request not yet started; a running one finishes.
    void cancelAll();
    // No request queued or running.
    bool isIdle() const { return queue_.operationCount() == 0; }
    void waitUntilIdle() { queue_.waitUntilAllOperationsAreFinished(); }
    std::uint64_t generation() const { return generation_.load(); }

private:
    Work work_;
    std::atomic<std::uint64_t> generation_{0};
    plat::OperationQueue queue_{1};  // last member: its destructor waits for the work
};
