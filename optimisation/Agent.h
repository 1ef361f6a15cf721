#pragma once
// The base of every optimisation agent: an operation that works on one File.

#include "platform/OperationQueue.h"

#include <memory>
#include <string>
#include <string_view>

namespace optimisation {

class File;

class Agent : public plat::Operation {
public:
    // initWithFile:
    explicit Agent(std::shared_ptr<File> file);
    ~Agent() override;

    // The class name as the agents' texts and working-file names use it.
    virtual std::string_view className() const { return "Agent"; }

    std::shared_ptr<File> file() const;
    void setFile(std::shared_ptr<File> file);
    // The File is the delegate: it hears workerHasStarted / workerHasFinished.
    std::shared_ptr<File> delegate() const { return file(); }
    bool isRelatedTo(const File* object) const;

    // The work, in the calling thread. The application calls it directly;
    // the queue path runs it through main().
    virtual void run() {}
    // Whether the agent changes the file beyond lossless recompression.
    virtual bool makesNonOptimizingModifications() const { return false; }

    std::string description() const;

    // The operation's body on a queue: tells the File that this agent
    // started, runs it and, whatever happened, that it finished.
    void main() override;

private:
    mutable std::mutex fileMutex_;
    std::shared_ptr<File> file_;
};

}  // namespace optimisation
