#include "optimisation/JPEGOptimAgent.h"

#include "optimisation/File.h"

namespace optimisation {

JPEGOptimAgent::JPEGOptimAgent(std::shared_ptr<File> file, std::int64_t quality, bool stripMetadata)
    : CommandAgent(std::move(file)), maxquality_(quality), strip_(stripMetadata) {}

void JPEGOptimAgent::run() {
    // jpegoptim works in place, so it gets a working copy.
    const WorkingFile work = prepareWorkingCopy();
    if (!work) return;

    std::vector<std::string> arguments{"JpegOptim"};
    if (maxquality_ >= 11 && maxquality_ <= 99) arguments.push_back("-m" + std::to_string(maxquality_));
    if (strip_) arguments.push_back("--strip-all");
    arguments.insert(arguments.end(), {"-q", "--", work.path});

    const int result = launchTask(plat::Tool::JpegOptim, arguments);
    if (!isCancelled()) {
        fileSizeOptimized_ = result == 0 ? static_cast<std::int64_t>(File::fileByteSize(work.path)) : 0;
    }
    // An emptied working copy is never taken.
    finishReplacing(result, work.path);
}

bool JPEGOptimAgent::parseLine(const std::string& line) {
    if (const std::int64_t before = readNumberAfter(" [OK] ", line); before != 0) {
        if (auto owner = file()) owner->setByteSize(static_cast<std::uint64_t>(before));
    }
    if (const std::int64_t after = readNumberAfter(" --> ", line); after != 0) {
        fileSizeOptimized_ = after;
        return true;
    }
    return false;
}

}  // namespace optimisation
