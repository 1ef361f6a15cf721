#include "optimisation/KSMPngCrushAgent.h"

#include "optimisation/File.h"

namespace optimisation {

KSMPngCrushAgent::KSMPngCrushAgent(std::shared_ptr<File> file, std::int64_t /*quality*/)
    : CommandAgent(std::move(file)) {}

void KSMPngCrushAgent::run() {
    const WorkingFile work = prepareOutput();
    if (!work) return;

    std::vector<std::string> arguments{"PngCrush", "-try10"};
    if (strip_) arguments.insert(arguments.end(), {"-rem", "alla"});
    arguments.insert(arguments.end(), {"-q", "-reduce", "--", work.original, work.path});

    // pngcrush reports success also when its file came out larger; the
    // replacement takes only a valid, smaller PNG.
    finishReplacing(launchTask(plat::Tool::PngCrush, arguments), work.path, kMinimumOutputSize);
}

}  // namespace optimisation
