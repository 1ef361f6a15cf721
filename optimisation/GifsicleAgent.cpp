#include "optimisation/GifsicleAgent.h"

#include "optimisation/File.h"

namespace optimisation {

void GifsicleAgent::run() {
    const WorkingFile work = prepareOutput();
    if (!work) return;
    const std::string& output = work.path;

    const std::vector<std::string> arguments{"Gifsicle",
                                             "-o",
                                             output,
                                             interlace_ ? "--interlace" : "--no-interlace",
                                             "-O3",
                                             "--careful",
                                             "--no-comments",
                                             "--no-names",
                                             "--same-delay",
                                             "--same-loopcount",
                                             "--no-warnings",
                                             "--",
                                             work.original};
    const int result = launchTask(plat::Tool::Gifsicle, arguments);
    if (isCancelled()) {
        removeWorkingFile(output);
        return;
    }
    const std::uint64_t size = File::fileByteSize(output);
    const bool taken = result == 0 && size != 0 && File::fileTypeAtPath(output) == kFileTypeGIF &&
                       work.owner->setFilePathOptimized(output, size, interlace_ ? "Gifsicle interlaced" : "Gifsicle");
    // An output the File did not take would stay behind for ever.
    if (!taken) removeWorkingFile(output);
}

}  // namespace optimisation
