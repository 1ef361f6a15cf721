#pragma once
// Recompresses a PNG file with OptiPNG into a working output.

#include "optimisation/CommandAgent.h"

#include <cstdint>

namespace optimisation {

class OptiPNGAgent : public CommandAgent {
public:
    // init / initWithFile:Quality: level 6, no interlacing; the quality is
    // ignored.
    explicit OptiPNGAgent(std::shared_ptr<File> file, std::int64_t quality = 0);

    std::string_view className() const override { return "OptiPNGAgent"; }
    void run() override;
    bool parseLine(const std::string& line) override;

    std::int64_t optlevel() const { return optlevel_; }
    void setOptlevel(std::int64_t level) { optlevel_ = level; }
    // 0 or 1 for OptiPNG's -i; -1 leaves the choice to OptiPNG.
    std::int64_t interlace() const { return interlace_; }
    void setInterlace(std::int64_t interlace) { interlace_ = interlace; }
    std::int64_t idatSize() const { return idatSize_; }
    std::uint64_t fileSize() const { return fileSize_; }
    std::uint64_t fileSizeOptimized() const { return fileSizeOptimized_; }

private:
    std::int64_t optlevel_ = 6;
    std::int64_t interlace_ = 0;
    std::int64_t idatSize_ = 0;
    std::uint64_t fileSize_ = 0;
    std::uint64_t fileSizeOptimized_ = 0;
};

}  // namespace optimisation
