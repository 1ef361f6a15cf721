#include "optimisation/JPEGOptimAgent.h"

#include "optimisation/File.h"
#include "platform/FileManager.h"

#include <sys/stat.h>

namespace optimisation {

JPEGOptimAgent::JPEGOptimAgent(std::shared_ptr<File> file, std::int64_t quality, bool stripMetadata)
    : CommandAgent(std::move(file)), maxquality_(quality), strip_(stripMetadata) {}

void JPEGOptimAgent::run() {
    auto owner = file();
    if (!owner) return;
    const std::string original = owner->filePath();
    const std::uint64_t originalSize = File::fileByteSize(original);
    if (originalSize == 0) return;

    // jpegoptim works in place, so it gets a working copy; the tool runs only
    // on a copy that is complete.
    const std::string working = tempPath();
    if (working.empty()) return;
    if (!plat::FileManager::copyItem(original, working) || File::fileByteSize(working) != originalSize ||
        ::chmod(working.c_str(), 0600) != 0) {
        removeWorkingFile(working);
        return;
    }

    std::vector<std::string> arguments{"JpegOptim"};
    if (maxquality_ >= 11 && maxquality_ <= 99) arguments.push_back("-m" + std::to_string(maxquality_));
    if (strip_) arguments.push_back("--strip-all");
    arguments.insert(arguments.end(), {"-q", "--", working});

    const int result = launchTask(plat::Tool::JpegOptim, arguments);
    if (isCancelled()) {
        removeWorkingFile(working);
        return;
    }
    fileSizeOptimized_ = 0;
    if (result == 0) {
        fileSizeOptimized_ = static_cast<std::int64_t>(File::fileByteSize(working));
        if (fileSizeOptimized_ != 0) replaceOriginalWith(working);
    }
    removeWorkingFile(working);
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
