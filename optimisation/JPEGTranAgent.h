#pragma once
// Optimises a JPEG file's Huffman tables with jpegtran into a working output.

#include "optimisation/CommandAgent.h"

namespace optimisation {

class JPEGTranAgent : public CommandAgent {
public:
    // initWithFile:stripMetadata: (plain initWithFile: keeps the metadata).
    explicit JPEGTranAgent(std::shared_ptr<File> file, bool stripMetadata = false);

    std::string_view className() const override { return "JPEGTranAgent"; }
    void run() override;
    bool parseLine(const std::string& line) override;

    bool strip() const { return strip_; }
    bool jpegrescan() const { return jpegrescan_; }

private:
    bool strip_ = false;
    bool jpegrescan_ = false;
};

}  // namespace optimisation
