#include "optimisation/JPEGTranAgent.h"

#include "optimisation/File.h"

namespace optimisation {

JPEGTranAgent::JPEGTranAgent(std::shared_ptr<File> file, bool stripMetadata)
    : CommandAgent(std::move(file)), strip_(stripMetadata) {}

void JPEGTranAgent::run() {
    auto owner = file();
    if (!owner) return;
    const std::string original = owner->filePath();
    if (original.empty()) return;
    const std::string output = tempPath();
    if (output.empty()) return;

    const std::vector<std::string> arguments{"jpegtran", "-copy",    strip_ ? "none" : "all", "-optimize",
                                             "-outfile", output,     original};
    const int result = launchTask(plat::Tool::JpegTran, arguments);
    // A failed jpegtran may leave no output or a partial one: only a
    // successful run's output, not empty and smaller, replaces the original.
    if (!isCancelled() && result == 0) replaceOriginalWith(output);
    removeWorkingFile(output);
}

bool JPEGTranAgent::parseLine(const std::string& line) { return line.find("End Of Image") != std::string::npos; }

}  // namespace optimisation
