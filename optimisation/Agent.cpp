#include "optimisation/Agent.h"

#include "optimisation/File.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace optimisation {

Agent::Agent(std::shared_ptr<File> file) : file_(std::move(file)) {}

Agent::~Agent() = default;

std::shared_ptr<File> Agent::file() const {
    std::lock_guard lock(fileMutex_);
    return file_;
}

void Agent::setFile(std::shared_ptr<File> file) {
    std::lock_guard lock(fileMutex_);
    file_ = std::move(file);
}

bool Agent::isRelatedTo(const File* object) const {
    std::lock_guard lock(fileMutex_);
    return object != nullptr && object == file_.get();
}

std::string Agent::description() const {
    auto delegateFile = delegate();
    char head[160];
    std::snprintf(head, sizeof head, "%.*s %X ready %d, running %d, deleg ", static_cast<int>(className().size()),
                  className().data(), static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this) & 0xFFFFFFFFu),
                  isReady() ? 1 : 0, isExecuting() ? 1 : 0);
    return head + (delegateFile ? delegateFile->description() : std::string("(null)"));
}

void Agent::main() {
    auto delegateFile = delegate();
    if (!delegateFile) {
        // An agent on a queue without its File is a programming error.
        std::fprintf(stderr, "Agent::main: assertion failed: [self delegate]\n");
        std::abort();
    }
    delegateFile->workerHasStarted(*this);
    try {
        run();
    } catch (...) {
        // Whatever went wrong, the File must hear that this agent is done, or
        // it would wait for it for ever; the original is untouched by then.
    }
    delegateFile->workerHasFinished(*this);
}

}  // namespace optimisation
