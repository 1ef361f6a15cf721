#include "optimisation/OptiPNGAgent.h"

#include "optimisation/File.h"

namespace optimisation {

OptiPNGAgent::OptiPNGAgent(std::shared_ptr<File> file, std::int64_t /*quality*/) : CommandAgent(std::move(file)) {}

void OptiPNGAgent::run() {
    // OptiPNG refuses an existing output; tempPath gives a name not in use.
    const WorkingFile work = prepareOutput();
    if (!work) return;

    std::vector<std::string> arguments{"OptiPNG"};
    if (interlace_ != -1) arguments.push_back("-i" + std::to_string(interlace_));
    arguments.push_back("-o" + std::to_string(optlevel_ == 0 ? 6 : optlevel_));
    arguments.insert(arguments.end(), {"-out", work.path, "--", work.original});
    finishReplacing(launchTask(plat::Tool::OptiPng, arguments), work.path);
}

bool OptiPNGAgent::parseLine(const std::string& line) {
    if (line.size() < 21) return false;
    if (const std::int64_t size = readNumberAfter("Input file size = ", line); size != 0) {
        fileSize_ = static_cast<std::uint64_t>(size);
        if (auto owner = file()) owner->setByteSize(fileSize_);
        return false;
    }
    if (const std::int64_t size = readNumberAfter("Output file size = ", line); size != 0) {
        fileSizeOptimized_ = static_cast<std::uint64_t>(size);
        return true;
    }
    return false;
}

}  // namespace optimisation
