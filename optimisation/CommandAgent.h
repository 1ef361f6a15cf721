#pragma once
// What every tool-running agent shares: running an optimiser tool with an
// argument vector, naming working files, and, for a tool that is a separate
// executable of the application, preparing it and reading its output lines.

#include "optimisation/Agent.h"
#include "platform/ToolRunner.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace optimisation {

class CommandAgent : public Agent {
public:
    using Agent::Agent;

    std::string_view className() const override { return "CommandAgent"; }

    // launchTask:arguments: runs the tool with the argument vector (element 0
    // names the program) in the calling thread, waits, and returns its
    // main()-style result: 0 for success; a tool killed by a signal gives
    // 128 + the signal, one that could not start -1.
    int launchTask(plat::Tool tool, const std::vector<std::string>& arguments);

    // A fresh path "Vantrell.<class>.<hash>.<counter>.temp" in the private
    // temporary folder; nothing is created. Names already taken are skipped.
    // Empty when there is no temporary folder.
    std::string tempPath();

    // Stops a running tool, then cancels the operation.
    void cancel() override;

    // The child process of an auxiliary executable of the application.
    void taskWithPath(const std::string& path, const std::vector<std::string>& arguments);
    // Launches the prepared child (at priority 10 with "RunLowPriority"),
    // feeds its output lines to parseLine and waits; its result as above,
    // -1 without a prepared child.
    int launchTask();
    // The executable of that name among the application's resources;
    // without it the tool is switched off ("<key>Enabled" = NO) and the
    // result is empty.
    std::string executablePathForKey(std::string_view key, std::string_view bundleName);
    // Prepares the child; without the executable the File shows
    // "<key> failed to start" and the result is false.
    bool taskForKey(std::string_view key, std::string_view bundleName, const std::vector<std::string>& arguments);
    bool hasTask() const { return task_.has_value(); }
    // The prepared child's arguments (without the program), empty without one.
    std::vector<std::string> taskArguments() const;

    // Reads one line of the tool's output; true stops the reading.
    virtual bool parseLine(const std::string& line);
    void parseLinesFromHandle(int fd);
    // readNumberAfter:inLine: the decimal int after the first occurrence of
    // the marker; 0 when the marker is absent or no number follows it.
    static std::int64_t readNumberAfter(std::string_view marker, std::string_view line);

protected:
    // The File being worked on, its path and a working-file path for the tool.
    struct WorkingFile {
        std::shared_ptr<File> owner;
        std::string original;
        std::string path;
        explicit operator bool() const { return owner != nullptr && !original.empty() && !path.empty(); }
    };
    // A fresh path for the tool's output; nothing is created there. Empty
    // without a File, its path or a temporary folder, and when the file may
    // not be given to a tool (not a regular file, not writable, an animated
    // PNG, a JPEG with more than one image), which the File's status then
    // tells.
    WorkingFile prepareOutput();
    // For a tool that rewrites the file it is given: a complete private copy
    // of the original. Empty when the copy could not be made whole.
    WorkingFile prepareWorkingCopy();
    // After the tool: unless the agent was cancelled, a successful tool's
    // output replaces the original (replaceOriginalWith); the working file is
    // deleted in every case, and outside the queue path the File's status
    // tells the outcome.
    void finishReplacing(int result, const std::string& workingPath, std::uint64_t minimumSize = 1);

    // Puts the tool's output at `resultPath` in place of the File's file by
    // File::replaceFileWith, after putting back the PNG chunks the tool
    // dropped unless the agent strips them on purpose. A replacement is
    // recorded on the File with the tool's name; a failed write leaves
    // "Optimized file could not be saved". Returns whether it replaced the
    // file; the output is left where it is.
    bool replaceOriginalWith(const std::string& resultPath, std::uint64_t minimumSize = 1);
    // Deletes a working file, if there is one.
    static void removeWorkingFile(const std::string& path);

private:
    struct Task {
        std::string path;
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
    };
    std::optional<Task> task_;
    plat::ToolRunner runner_;
    std::string toolName_;  // argv[0] of the last tool run
};

}  // namespace optimisation
