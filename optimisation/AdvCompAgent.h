#pragma once
// Recompresses a PNG file with advpng, on a working copy.

#include "optimisation/CommandAgent.h"

#include <cstdint>

namespace optimisation {

class AdvCompAgent : public CommandAgent {
public:
    // init / initWithFile:Quality: level 2; the quality is ignored.
    explicit AdvCompAgent(std::shared_ptr<File> file, std::int64_t quality = 0);

    std::string_view className() const override { return "AdvCompAgent"; }
    void run() override;
    bool parseLine(const std::string& line) override;

    std::int64_t level() const { return level_; }
    void setLevel(std::int64_t level) { level_ = level; }
    std::int64_t fileSizeOptimized() const { return fileSizeOptimized_; }

private:
    std::int64_t level_ = 2;
    std::int64_t fileSizeOptimized_ = 0;
};

}  // namespace optimisation
