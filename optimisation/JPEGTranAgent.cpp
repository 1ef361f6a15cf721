#include "optimisation/JPEGTranAgent.h"

#include "optimisation/File.h"

namespace optimisation {

JPEGTranAgent::JPEGTranAgent(std::shared_ptr<File> file, bool stripMetadata)
    : CommandAgent(std::move(file)), strip_(stripMetadata) {}

void JPEGTranAgent::run() {
    const WorkingFile work = prepareOutput();
    if (!work) return;
    const std::vector<std::string> arguments{"jpegtran",  "-copy",    strip_ ? "none" : "all",
                                             "-optimize", "-outfile", work.path,
                                             work.original};
    // A failed jpegtran may leave no output or a partial one: only a
    // successful run's output, not empty and smaller, replaces the original.
    finishReplacing(launchTask(plat::Tool::JpegTran, arguments), work.path);
}

bool JPEGTranAgent::parseLine(const std::string& line) { return line.find("End Of Image") != std::string::npos; }

}  // namespace optimisation
