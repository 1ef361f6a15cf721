#include "optimisation/KSMPngCrushAgent.h"

#include "optimisation/File.h"

namespace optimisation {

KSMPngCrushAgent::KSMPngCrushAgent(std::shared_ptr<File> file, std::int64_t /*quality*/)
    : CommandAgent(std::move(file)) {}

void KSMPngCrushAgent::run() {
    auto owner = file();
    if (!owner) return;
    const std::string original = owner->filePath();
    if (original.empty()) return;
    const std::string output = tempPath();
    if (output.empty()) return;

    std::vector<std::string> arguments{"PngCrush", "-try10"};
    if (strip_) arguments.insert(arguments.end(), {"-rem", "alla"});
    arguments.insert(arguments.end(), {"-q", "-reduce", "--", original, output});

    const int result = launchTask(plat::Tool::PngCrush, arguments);
    if (!isCancelled() && result == 0) {
        // pngcrush reports success also when its file came out larger; the
        // replacement takes only a valid, smaller PNG.
        replaceOriginalWith(output, kMinimumOutputSize);
    }
    removeWorkingFile(output);
}

}  // namespace optimisation
