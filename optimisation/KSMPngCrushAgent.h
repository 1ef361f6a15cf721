#pragma once
// Recompresses a PNG file with pngcrush into a working output.

#include "optimisation/CommandAgent.h"

#include <cstdint>

namespace optimisation {

class KSMPngCrushAgent : public CommandAgent {
public:
    // init / initWithFile:Quality: the quality is ignored; nothing is stripped.
    explicit KSMPngCrushAgent(std::shared_ptr<File> file, std::int64_t quality = 1);

    std::string_view className() const override { return "KSMPngCrushAgent"; }
    void run() override;
    bool makesNonOptimizingModifications() const override { return strip_; }

    bool strip() const { return strip_; }
    // Removes all ancillary chunks ("-rem alla").
    void setStrip(bool strip) { strip_ = strip; }

    // Fewer bytes than this from pngcrush count as no valid output.
    static constexpr std::uint64_t kMinimumOutputSize = 71;

private:
    bool strip_ = false;
};

}  // namespace optimisation
