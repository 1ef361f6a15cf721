#include "app/model/CommandLine.h"

#include <string_view>

std::vector<std::filesystem::path> FilesFromCommandLine(int argc, const char* const* argv) {
    std::vector<std::filesystem::path> files;
    bool endOfOptionsSeen = false;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--" && !endOfOptionsSeen) {
            endOfOptionsSeen = true;
            continue;
        }
        // An empty argument names nothing.
        if (!argument.empty()) files.emplace_back(std::string(argument));
    }
    return files;
}
