#include "platform/ToolRunner.h"

#include "platform/FileDescriptor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
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

// What the child needs, prepared before it exists.
struct ChildSetup {
    const char* program;
    char* const* argv;
    char* const* environment;
    int input;   // standard input
    int output;  // standard output and standard error
    bool lowPriority;
    rlim_t addressSpaceLimit;  // 0: none
    pid_t parent;
    volatile int error;  // set by the child when it cannot exec
};

// Between vfork and exec the child shares our memory and our thread's stack:
// it makes plain system calls only, and reports a failure through `error`.
[[noreturn]] void RunChild(ChildSetup& setup) {
    // The tool ends with the thread that started it, even when the
    // application is killed: no optimiser keeps running on its own.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != setup.parent) {
        setup.error = ECHILD;
        ::_exit(127);
    }
    if (::dup2(setup.input, STDIN_FILENO) < 0 || ::dup2(setup.output, STDOUT_FILENO) < 0 ||
        ::dup2(setup.output, STDERR_FILENO) < 0) {
        setup.error = errno;
        ::_exit(127);
    }
    // Descriptors another thread or library opened without close-on-exec
    // stay ours: a child holding a pipe's write end would keep its reader
    // waiting for the end of that output.
    ::close_range(STDERR_FILENO + 1, ~0U, 0);
    // Default signal handling and an empty mask, so that a tool whose reader
    // went away dies of SIGPIPE instead of hanging.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (setup.lowPriority) ::setpriority(PRIO_PROCESS, 0, 10);
    if (setup.addressSpaceLimit != 0) {
        const struct rlimit limit {setup.addressSpaceLimit, setup.addressSpaceLimit};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            setup.error = errno;
            ::_exit(127);
        }
    }
    ::execve(setup.program, setup.argv, setup.environment);
    setup.error = errno == 0 ? ENOEXEC : errno;
    ::_exit(127);
}

// The child's id, or -1 with errno. Every signal stays blocked in this
// thread while the child borrows it, so no handler runs on the shared stack.
pid_t SpawnChild(ChildSetup& setup) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::vfork();
    if (pid == 0) RunChild(setup);
    const int spawnError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = spawnError;
    return pid;
}

// A descriptor the child can dup2 onto 0, 1 and 2 without meeting itself
// (dup2 onto the same number would keep its close-on-exec flag).
int AboveStandardDescriptors(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

// The first executable of that name in $PATH, or empty.
std::string SearchPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const auto colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty()) folder = ".";
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

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
        const std::string_view current(*entry);
        const auto replaced = [&](const std::string& extra) {
            const auto equals = extra.find('=');
            return equals != std::string::npos && current.substr(0, equals + 1) == std::string_view(extra).substr(0, equals + 1);
        };
        if (std::none_of(options.extraEnvironment.begin(), options.extraEnvironment.end(), replaced)) {
            environment.push_back(*entry);
        }
    }
    for (const auto& extra : options.extraEnvironment) {
        environment.push_back(const_cast<char*>(extra.c_str()));
    }
    environment.push_back(nullptr);

    // A search for the program happens here: the child may not allocate.
    std::string program = executable;
    if (executable.find('/') == std::string::npos) {
        program = SearchPath(executable);
        if (program.empty()) {
            status.value = ENOENT;
            return status;
        }
    }

    FileDescriptor devNull(AboveStandardDescriptors(::open("/dev/null", O_RDWR | O_CLOEXEC)));
    if (!devNull.valid()) {
        status.value = errno;
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
        writeEnd = AboveStandardDescriptors(fds[1]);
        if (writeEnd < 0) {
            status.value = errno;
            CloseQuietly(readEnd);
            return status;
        }
    }
    ChildSetup child{program.c_str(),
                     args.data(),
                     environment.data(),
                     devNull.get(),
                     reader ? writeEnd : devNull.get(),
                     options.lowPriority,
                     static_cast<rlim_t>(options.addressSpaceLimit),
                     ::getpid(),
                     0};

    pid_t pid = 0;
    int rc = 0;
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
        pid = SpawnChild(child);
        rc = pid < 0 ? errno : child.error;
        if (pid > 0 && rc != 0) {
            // The child could not exec; it has already ended.
            int ignored = 0;
            while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
            }
        } else if (pid > 0) {
            child_ = pid;
        }
    }
    CloseQuietly(writeEnd);
    if (pid < 0 || rc != 0) {
        CloseQuietly(readEnd);
        status.value = rc;
        return status;
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
