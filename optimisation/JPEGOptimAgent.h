#pragma once
// Recompresses a JPEG file with jpegoptim, on a working copy.

#include "optimisation/CommandAgent.h"

#include <cstdint>

namespace optimisation {

class JPEGOptimAgent : public CommandAgent {
public:
    // initWithFile:Quality:stripMetadata: quality 11 to 99 limits jpegoptim's
    // quality; 100 (the application's) keeps the recompression lossless.
    // Plain initWithFile: gives quality 0 and no stripping.
    explicit JPEGOptimAgent(std::shared_ptr<File> file, std::int64_t quality = 0, bool stripMetadata = false);

    std::string_view className() const override { return "JPEGOptimAgent"; }
    bool makesNonOptimizingModifications() const override { return maxquality_ < 100; }
    void run() override;
    bool parseLine(const std::string& line) override;

    std::int64_t maxquality() const { return maxquality_; }
    bool strip() const { return strip_; }
    std::int64_t fileSizeOptimized() const { return fileSizeOptimized_; }

private:
    std::int64_t maxquality_ = 0;
    std::int64_t fileSizeOptimized_ = 0;
    bool strip_ = false;
};

}  // namespace optimisation
