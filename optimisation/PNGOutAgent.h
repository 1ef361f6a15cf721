#pragma once
// The agent of PNGOUT, an auxiliary executable of the application. Vantrell
// ships no such executable, so in practice the agent switches itself off.

#include "optimisation/CommandAgent.h"

#include <cstdint>

namespace optimisation {

class PNGOutAgent : public CommandAgent {
public:
    // init: level 3 - "PngOutLevel", "PngOutRemoveChunks",
    // "PngOutInterruptIfTakesTooLong" from the user defaults.
    explicit PNGOutAgent(std::shared_ptr<File> file);

    std::string_view className() const override { return "PNGOutAgent"; }
    void run() override;
    bool makesNonOptimizingModifications() const override { return removechunks_; }
    bool parseLine(const std::string& line) override;

    std::int64_t level() const { return level_; }
    bool removechunks() const { return removechunks_; }
    bool interruptIfTakesTooLong() const { return interruptIfTakesTooLong_; }
    std::int64_t fileSizeOptimized() const { return fileSizeOptimized_; }

private:
    bool removechunks_ = false;
    bool interruptIfTakesTooLong_ = false;
    std::int64_t level_ = 3;
    std::int64_t fileSizeOptimized_ = 0;
};

}  // namespace optimisation
