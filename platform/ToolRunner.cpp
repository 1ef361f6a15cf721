#include "platform/ToolRunner.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace plat {

namespace {

struct ToolEntry {
    Tool tool;
    std::string_view program;
    std::string_view environmentName;
};

constexpr std::array<ToolEntry, 6> kTools{{
    {Tool::JpegOptim, "jpegoptim", "VANTRELL_TOOL_JPEGOPTIM"},
    {Tool::PngCrush, "pngcrush", "VANTRELL_TOOL_PNGCRUSH"},
    {Tool::Gifsicle, "gifsicle", "VANTRELL_TOOL_GIFSICLE"},
    {Tool::OptiPng, "optipng", "VANTRELL_TOOL_OPTIPNG"},
    {Tool::AdvPng, "advpng", "VANTRELL_TOOL_ADVPNG"},
    {Tool::JpegTran, "jpegtran", "VANTRELL_TOOL_JPEGTRAN"},
}};

const ToolEntry& EntryFor(Tool tool) {
    for (const auto& entry : kTools) {
        if (entry.tool == tool) return entry;
    }
    return kTools[0];
}

std::mutex& OverrideMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<Tool, std::string>& Overrides() {
    static std::map<Tool, std::string> overrides;
    return overrides;
}

// Owns the file actions and attributes of one spawn.
class SpawnSetup {
public:
    SpawnSetup() {
        actionsOk_ = posix_spawn_file_actions_init(&actions_) == 0;
        attrOk_ = posix_spawnattr_init(&attr_) == 0;
    }
    ~SpawnSetup() {
        if (actionsOk_) posix_spawn_file_actions_destroy(&actions_);
        if (attrOk_) posix_spawnattr_destroy(&attr_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool ok() const { return actionsOk_ && attrOk_; }
    posix_spawn_file_actions_t* actions() { return &actions_; }
    posix_spawnattr_t* attr() { return &attr_; }

private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attr_{};
    bool actionsOk_ = false;
    bool attrOk_ = false;
};

void CloseQuietly(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void Drain(int fd) {
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        break;
    }
}

}  // namespace

int ToolStatus::result() const {
    switch (kind) {
        case Kind::Exited: return value;
        case Kind::Signalled: return 128 + value;
        case Kind::FailedToStart: return -1;
    }
    return -1;
}

std::string_view ToolRunner::programName(Tool tool) { return EntryFor(tool).program; }

std::string ToolRunner::executablePath(Tool tool) {
    {
        std::lock_guard lock(OverrideMutex());
        auto found = Overrides().find(tool);
        if (found != Overrides().end()) return found->second;
    }
    const ToolEntry& entry = EntryFor(tool);
    if (const char* fromEnvironment = std::getenv(std::string(entry.environmentName).c_str());
        fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    return "/usr/bin/" + std::string(entry.program);
}

void ToolRunner::setExecutableOverride(Tool tool, std::string path) {
    std::lock_guard lock(OverrideMutex());
    if (path.empty()) {
        Overrides().erase(tool);
    } else {
        Overrides()[tool] = std::move(path);
    }
}

ToolStatus ToolRunner::run(Tool tool, const std::vector<std::string>& argv,
                           const OutputReader& reader, const Options& options) {
    return run(executablePath(tool), argv, reader, options);
}

ToolStatus ToolRunner::run(const std::string& executable, const std::vector<std::string>& argv,
                           const OutputReader& reader, const Options& options) {
    ToolStatus status;
    if (argv.empty() || executable.empty()) {
        status.value = EINVAL;
        return status;
    }

    // Everything the child gets is prepared before the spawn: between fork
    // and exec nothing may allocate.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    std::vector<char*> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        environment.push_back(*entry);
    }
    for (const auto& extra : options.extraEnvironment) {
        environment.push_back(const_cast<char*>(extra.c_str()));
    }
    environment.push_back(nullptr);

    SpawnSetup setup;
    if (!setup.ok()) {
        status.value = ENOMEM;
        return status;
    }

    int readEnd = -1;
    int writeEnd = -1;
    if (reader) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            status.value = errno;
            return status;
        }
        readEnd = fds[0];
        writeEnd = fds[1];
    }

    int rc = posix_spawn_file_actions_addopen(setup.actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (rc == 0 && reader) {
        rc = posix_spawn_file_actions_adddup2(setup.actions(), writeEnd, STDOUT_FILENO);
        if (rc == 0) rc = posix_spawn_file_actions_adddup2(setup.actions(), writeEnd, STDERR_FILENO);
    } else if (rc == 0) {
        rc = posix_spawn_file_actions_addopen(setup.actions(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (rc == 0) rc = posix_spawn_file_actions_addopen(setup.actions(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    // Descriptors another thread or library opened without close-on-exec
    // stay ours: a child holding a pipe's write end would keep its reader
    // waiting for the end of that output.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(setup.actions(), STDERR_FILENO + 1);

    // The child starts with default signal handling and an empty mask, so a
    // tool whose reader went away dies of SIGPIPE instead of hanging.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(setup.attr(), &all);
    if (rc == 0) rc = posix_spawnattr_setsigmask(setup.attr(), &none);
    if (rc == 0) rc = posix_spawnattr_setflags(setup.attr(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (rc != 0) {
        CloseQuietly(readEnd);
        CloseQuietly(writeEnd);
        status.value = rc;
        return status;
    }

    pid_t pid = 0;
    {
        std::lock_guard lock(mutex_);
        if (terminated_) {
            CloseQuietly(readEnd);
            CloseQuietly(writeEnd);
            status.value = ECANCELED;
            return status;
        }
        // Spawning under the lock means terminate() either comes before (and
        // nothing starts) or sees the child's id.
        const bool searchPath = executable.find('/') == std::string::npos;
        rc = searchPath ? posix_spawnp(&pid, executable.c_str(), setup.actions(), setup.attr(),
                                       args.data(), environment.data())
                        : posix_spawn(&pid, executable.c_str(), setup.actions(), setup.attr(),
                                      args.data(), environment.data());
        if (rc == 0) child_ = pid;
    }
    CloseQuietly(writeEnd);
    if (rc != 0) {
        CloseQuietly(readEnd);
        status.value = rc;
        return status;
    }

    if (options.lowPriority && pid > 1) {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), 10);
    }

    if (reader) {
        reader(readEnd);
        // Whatever the reader left unread is discarded so the tool can finish.
        Drain(readEnd);
        CloseQuietly(readEnd);
    }

    // Wait without reaping, so that the child's id stays valid for
    // terminate() until it is cleared under the lock.
    siginfo_t info{};
    for (;;) {
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0) break;
        if (errno != EINTR) break;
    }
    {
        std::lock_guard lock(mutex_);
        child_ = 0;
    }
    int waitStatus = 0;
    pid_t reaped = -1;
    do {
        reaped = ::waitpid(pid, &waitStatus, 0);
    } while (reaped < 0 && errno == EINTR);

    if (reaped == pid && WIFEXITED(waitStatus)) {
        status.kind = ToolStatus::Kind::Exited;
        status.value = WEXITSTATUS(waitStatus);
    } else if (reaped == pid && WIFSIGNALED(waitStatus)) {
        status.kind = ToolStatus::Kind::Signalled;
        status.value = WTERMSIG(waitStatus);
    } else {
        // Somebody else reaped the child: its outcome is unknown.
        status.kind = ToolStatus::Kind::Signalled;
        status.value = 0;
    }
    return status;
}

void ToolRunner::terminate() {
    std::lock_guard lock(mutex_);
    terminated_ = true;
    if (child_ > 0) ::kill(child_, SIGKILL);
}

bool ToolRunner::isTerminated() const {
    std::lock_guard lock(mutex_);
    return terminated_;
}

}  // namespace plat
