#include "app/model/PreviewScheduler.h"

PreviewScheduler::~PreviewScheduler() { cancelAll(); }

void PreviewScheduler::request(bool quiet) {
    const std::uint64_t generation = ++generation_;
    queue_.addOperation([this, generation, quiet] {
        if (generation != generation_.load()) return;  // a newer request waits behind this one
        work_(quiet);
    });
}

void PreviewScheduler::cancelAll() {
    // Also drops a request that has left the queue but not yet looked.
    ++generation_;
    queue_.cancelAllOperations();
}
