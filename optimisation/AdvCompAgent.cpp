#include "optimisation/AdvCompAgent.h"

#include "optimisation/File.h"

#include <cctype>
#include <cstdlib>

namespace optimisation {

AdvCompAgent::AdvCompAgent(std::shared_ptr<File> file, std::int64_t /*quality*/) : CommandAgent(std::move(file)) {}

void AdvCompAgent::run() {
    // advpng rewrites the file it is given: it gets a working copy.
    const WorkingFile work = prepareWorkingCopy();
    if (!work) return;
    const std::vector<std::string> arguments{"AdvPNG", "-" + std::to_string(level_ == 0 ? 4 : level_), "-z", "--",
                                             work.path};
    finishReplacing(launchTask(plat::Tool::AdvPng, arguments), work.path);
}

bool AdvCompAgent::parseLine(const std::string& line) {
    // advpng's report line: "<size before> <size after> <percent> <name>".
    const char* cursor = line.c_str();
    auto readInteger = [&cursor](std::int64_t& value) {
        while (std::isspace(static_cast<unsigned char>(*cursor))) ++cursor;
        const char* start = cursor;
        if (*cursor == '-' || *cursor == '+') ++cursor;
        if (!std::isdigit(static_cast<unsigned char>(*cursor))) return false;
        char* end = nullptr;
        value = std::strtoll(start, &end, 10);
        cursor = end;
        return true;
    };
    std::int64_t before = 0;
    std::int64_t after = 0;
    if (!readInteger(before) || !readInteger(after)) return false;
    if (auto owner = file(); owner && before > 0) owner->setByteSize(static_cast<std::uint64_t>(before));
    fileSizeOptimized_ = after;
    return true;
}

}  // namespace optimisation
