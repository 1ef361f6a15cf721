#include "optimisation/PNGOutAgent.h"

#include "optimisation/File.h"
#include "platform/FileManager.h"
#include "platform/UserDefaults.h"

namespace optimisation {

PNGOutAgent::PNGOutAgent(std::shared_ptr<File> file) : CommandAgent(std::move(file)) {
    auto& defaults = plat::UserDefaults::standardUserDefaults();
    level_ = 3 - defaults.integerForKey(plat::defaults::kPngOutLevel);
    removechunks_ = defaults.boolForKey(plat::defaults::kPngOutRemoveChunks);
    interruptIfTakesTooLong_ = defaults.boolForKey(plat::defaults::kPngOutInterruptIfTakesTooLong);
}

void PNGOutAgent::run() {
    const WorkingFile work = prepareOutput();
    if (!work) return;
    const std::string& output = work.path;
    std::int64_t level = level_;
    if (work.owner->isLarge() && level < 2) ++level;

    std::vector<std::string> arguments;
    if (!removechunks_) arguments.push_back("-k1");
    if (level != 0) arguments.push_back("-s" + std::to_string(level));
    arguments.insert(arguments.end(), {"-r", "-v", work.original, "-"});

    // Without the executable this has switched the tool off and left
    // "PngOut failed to start" on the File.
    if (!taskForKey("PngOut", "pngout", arguments)) return;

    // The prepared child is not launched (its output would go to standard
    // output, mixed with its report), so no size is known and nothing is
    // handed over; the working file is not left behind.
    if (!plat::FileManager::createFile(output, std::string_view())) return;
    if (isCancelled() || fileSizeOptimized_ == 0 ||
        !work.owner->setFilePathOptimized(output, static_cast<std::uint64_t>(fileSizeOptimized_), "PNGOUT")) {
        removeWorkingFile(output);
    }
}

bool PNGOutAgent::parseLine(const std::string& line) {
    if (line.size() >= 5 && line.starts_with(" In:")) {
        if (const std::int64_t size = readNumberAfter(" In:", line); size != 0) {
            if (auto owner = file()) owner->setByteSize(static_cast<std::uint64_t>(size));
        }
        return false;
    }
    if (line.size() >= 5 && line.starts_with("Out:")) {
        if (const std::int64_t size = readNumberAfter("Out:", line); size != 0) fileSizeOptimized_ = size;
        return false;
    }
    if (line.size() >= 3 && line[2] == '%') return false;
    return line.starts_with("Took");
}

}  // namespace optimisation
