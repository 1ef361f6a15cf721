#pragma once
// Runs an optimiser tool as a child process with an argument vector: no shell,
// no inherited descriptors but the three standard ones, a status that tells an
// exit, a signal and a failed start apart, and a stop that kills the child.
// A child never outlives the thread that started it: it gets SIGKILL when that
// thread or the whole application ends, a kill -9 included.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace plat {

// The optimiser tools Vantrell runs, each a Debian executable.
enum class Tool { JpegOptim, PngCrush, Gifsicle, OptiPng, AdvPng, JpegTran };

// How a child process ended.
struct ToolStatus {
    enum class Kind {
        Exited,         // value is the exit code
        Signalled,      // value is the signal number
        FailedToStart,  // value is the errno of the failed start
    };
    Kind kind = Kind::FailedToStart;
    int value = 0;

    bool succeeded() const { return kind == Kind::Exited && value == 0; }
    // A main()-style result: the exit code, 128 + the signal of a killed
    // child, -1 when the tool did not start. Only 0 means success.
    int result() const;
};

struct ToolRunOptions {
    // "NAME=value" entries added to the process's own environment, in place
    // of an entry of the same name.
    std::vector<std::string> extraEnvironment;
    // Runs the child at scheduling priority 10.
    bool lowPriority = false;
    // Bytes of address space the child may map (RLIMIT_AS); 0: no limit of
    // our own. A child beyond it fails to allocate instead of taking the
    // machine's memory.
    std::uint64_t addressSpaceLimit = 0;
};

class ToolRunner {
public:
    // Receives the read end of the pipe that carries the child's standard
    // output and standard error. The runner drains and closes it afterwards.
    using OutputReader = std::function<void(int fd)>;

    using Options = ToolRunOptions;

    // The Debian program name of a tool ("jpegoptim", "pngcrush", ...).
    static std::string_view programName(Tool tool);
    // The executable to run for a tool: the override set here, else the
    // environment variable VANTRELL_TOOL_<PROGRAM NAME IN CAPITALS>
    // (VANTRELL_TOOL_JPEGOPTIM), else /usr/bin/<program name>.
    static std::string executablePath(Tool tool);
    // Replaces a tool's executable for this process; an empty path removes
    // the override.
    static void setExecutableOverride(Tool tool, std::string path);

    ToolRunner() = default;
    ToolRunner(const ToolRunner&) = delete;
    ToolRunner& operator=(const ToolRunner&) = delete;

    // Runs the tool and waits for it. argv[0] is passed as given (it only
    // names the program); the executable comes from executablePath. Without a
    // reader the child's output goes to /dev/null. Standard input is
    // /dev/null in every case.
    ToolStatus run(Tool tool, const std::vector<std::string>& argv,
                   const OutputReader& reader = {}, const Options& options = {});
    ToolStatus run(const std::string& executable, const std::vector<std::string>& argv,
                   const OutputReader& reader = {}, const Options& options = {});

    // Kills the running child, if any, and makes every later run fail
    // without starting (FailedToStart with ECANCELED). Callable from any
    // thread.
    void terminate();
    bool isTerminated() const;

private:
    mutable std::mutex mutex_;
    pid_t child_ = 0;  // running and not yet reaped
    bool terminated_ = false;
};

}  // namespace plat
