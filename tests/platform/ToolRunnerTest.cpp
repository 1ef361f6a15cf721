#include "platform/ToolRunner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class ToolRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "toolrunner-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        for (auto tool : {plat::Tool::JpegOptim, plat::Tool::PngCrush}) {
            plat::ToolRunner::setExecutableOverride(tool, "");
        }
    }

    std::string Script(const std::string& name, const std::string& body) {
        fs::path path = dir_ / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
        return path.string();
    }

    static std::string ReadAll(int fd) {
        std::string text;
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return text;
            }
        }
    }

    fs::path dir_;
};

TEST_F(ToolRunnerTest, ReportsExitCodeSignalAndFailedStartApart) {
    plat::ToolRunner runner;
    auto exited = runner.run(Script("exit3", "exit 3"), {"Tool"});
    EXPECT_EQ(exited.kind, plat::ToolStatus::Kind::Exited);
    EXPECT_EQ(exited.value, 3);
    EXPECT_EQ(exited.result(), 3);
    EXPECT_FALSE(exited.succeeded());

    auto ok = runner.run(Script("ok", "exit 0"), {"Tool"});
    EXPECT_TRUE(ok.succeeded());
    EXPECT_EQ(ok.result(), 0);

    auto killed = runner.run(Script("killed", "kill -9 $$"), {"Tool"});
    EXPECT_EQ(killed.kind, plat::ToolStatus::Kind::Signalled);
    EXPECT_EQ(killed.value, SIGKILL);
    EXPECT_EQ(killed.result(), 128 + SIGKILL);

    auto missing = runner.run((dir_ / "no-such-tool").string(), {"Tool"});
    EXPECT_EQ(missing.kind, plat::ToolStatus::Kind::FailedToStart);
    EXPECT_EQ(missing.value, ENOENT);
    EXPECT_EQ(missing.result(), -1);

    std::string notExecutable = Script("plain", "exit 0");
    ::chmod(notExecutable.c_str(), 0644);
    auto refused = runner.run(notExecutable, {"Tool"});
    EXPECT_EQ(refused.kind, plat::ToolStatus::Kind::FailedToStart);
    EXPECT_EQ(refused.value, EACCES);

    EXPECT_EQ(runner.run(Script("empty", "exit 0"), {}).kind, plat::ToolStatus::Kind::FailedToStart);
}

TEST_F(ToolRunnerTest, PassesArgumentVectorUnchangedWithoutShell) {
    // sh -c names its script's $0 after the argument that follows, which here
    // is argv[1]; argv[0] is checked through /proc of the child itself.
    std::string output;
    plat::ToolRunner runner;
    auto status = runner.run(
        "/bin/sh",
        {"JpegOptim", "-c", "printf '%s|' \"$0\" \"$1\"; tr '\\0' '#' < /proc/$$/cmdline",
         "a b;$(touch x)", "ünïcødé"},
        [&](int fd) { output = ReadAll(fd); });
    ASSERT_TRUE(status.succeeded());
    EXPECT_EQ(output,
              "a b;$(touch x)|ünïcødé|JpegOptim#-c#printf '%s|' \"$0\" \"$1\"; tr '\\0' '#' < "
              "/proc/$$/cmdline#a b;$(touch x)#ünïcødé#");
    EXPECT_FALSE(fs::exists(dir_ / "x"));
}

TEST_F(ToolRunnerTest, OutputGoesToPipeOnlyWithReaderAndStdinIsEmpty) {
    plat::ToolRunner runner;
    // Far more than a pipe holds: without a reader it must go to /dev/null.
    std::string noisy = Script("noisy", "head -c 1000000 /dev/zero; head -c 1000000 /dev/zero >&2; exit 0");
    EXPECT_TRUE(runner.run(noisy, {"Noisy"}).succeeded());

    // A reader that stops early does not make the tool fail or hang.
    std::string first;
    auto status = runner.run(Script("lines", "echo first; head -c 1000000 /dev/zero; echo err >&2; exit 0"),
                             {"Lines"}, [&](int fd) {
                                 char c = 0;
                                 while (::read(fd, &c, 1) == 1 && c != '\n') first.push_back(c);
                             });
    EXPECT_TRUE(status.succeeded());
    EXPECT_EQ(first, "first");

    std::string both;
    runner.run(Script("both", "echo out; echo err >&2; cat; echo end"), {"Both"},
               [&](int fd) { both = ReadAll(fd); });
    EXPECT_EQ(both, "out\nerr\nend\n");
}

TEST_F(ToolRunnerTest, ExtraEnvironmentAndLowPriority) {
    plat::ToolRunner runner;
    std::string text;
    plat::ToolRunOptions options;
    options.extraEnvironment = {"NSUnbufferedIO=YES"};
    options.lowPriority = true;
    // The megabyte blocks the child on the pipe until the reader runs, which
    // is after the priority was lowered.
    runner.run(Script("env", "head -c 1000000 /dev/zero; echo; echo \"$NSUnbufferedIO\"; "
                             "awk '{print $19}' /proc/$$/stat"),
               {"Env"}, [&](int fd) { text = ReadAll(fd); }, options);
    auto tail = text.substr(text.rfind('\n', text.size() - 2) + 1);
    auto middle = text.substr(0, text.size() - tail.size() - 1);
    middle = middle.substr(middle.rfind('\n') + 1);
    EXPECT_EQ(middle, "YES");
    EXPECT_EQ(tail, std::to_string(std::max(10, ::getpriority(PRIO_PROCESS, 0))) + "\n");
}

TEST_F(ToolRunnerTest, AddressSpaceLimitAndReplacedEnvironment) {
    ::setenv("VANTRELL_RUNNER_PROBE", "parent", 1);
    plat::ToolRunner runner;
    std::string text;
    plat::ToolRunOptions options;
    options.extraEnvironment = {"VANTRELL_RUNNER_PROBE=child"};
    options.addressSpaceLimit = std::uint64_t(512) << 20;
    runner.run(Script("limits", "ulimit -v; env | grep -c '^VANTRELL_RUNNER_PROBE='; echo \"$VANTRELL_RUNNER_PROBE\""),
               {"Limits"}, [&](int fd) { text = ReadAll(fd); }, options);
    ::unsetenv("VANTRELL_RUNNER_PROBE");
    EXPECT_EQ(text, "524288\n1\nchild\n");
}

TEST_F(ToolRunnerTest, TerminateKillsRunningChildAndPreventsLaterStarts) {
    plat::ToolRunner runner;
    auto status = runner.run(Script("sleeper", "echo started; exec sleep 600"), {"Sleeper"}, [&](int fd) {
        char c = 0;
        while (::read(fd, &c, 1) == 1 && c != '\n') {
        }
        std::thread([&] { runner.terminate(); }).join();
    });
    EXPECT_EQ(status.kind, plat::ToolStatus::Kind::Signalled);
    EXPECT_EQ(status.value, SIGKILL);
    EXPECT_TRUE(runner.isTerminated());

    std::string marker = (dir_ / "ran").string();
    auto later = runner.run(Script("marker", "touch '" + marker + "'"), {"Marker"});
    EXPECT_EQ(later.kind, plat::ToolStatus::Kind::FailedToStart);
    EXPECT_EQ(later.value, ECANCELED);
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(ToolRunnerTest, ExecutableTableOverridesAndEnvironment) {
    EXPECT_EQ(plat::ToolRunner::executablePath(plat::Tool::JpegOptim), "/usr/bin/jpegoptim");
    EXPECT_EQ(plat::ToolRunner::executablePath(plat::Tool::Gifsicle), "/usr/bin/gifsicle");
    EXPECT_EQ(plat::ToolRunner::executablePath(plat::Tool::OptiPng), "/usr/bin/optipng");
    EXPECT_EQ(plat::ToolRunner::executablePath(plat::Tool::AdvPng), "/usr/bin/advpng");
    EXPECT_EQ(plat::ToolRunner::executablePath(plat::Tool::JpegTran), "/usr/bin/jpegtran");
    EXPECT_EQ(plat::ToolRunner::programName(plat::Tool::PngCrush), "pngcrush");

    ::setenv("VANTRELL_TOOL_PNGCRUSH", "/opt/fake/pngcrush", 1);
    EXPECT_EQ(plat::ToolRunner::executablePath(plat::Tool::PngCrush), "/opt/fake/pngcrush");
    plat::ToolRunner::setExecutableOverride(plat::Tool::PngCrush, "/elsewhere/crush");
    EXPECT_EQ(plat::ToolRunner::executablePath(plat::Tool::PngCrush), "/elsewhere/crush");
    plat::ToolRunner::setExecutableOverride(plat::Tool::PngCrush, "");
    EXPECT_EQ(plat::ToolRunner::executablePath(plat::Tool::PngCrush), "/opt/fake/pngcrush");
    ::unsetenv("VANTRELL_TOOL_PNGCRUSH");
    EXPECT_EQ(plat::ToolRunner::executablePath(plat::Tool::PngCrush), "/usr/bin/pngcrush");

    plat::ToolRunner::setExecutableOverride(plat::Tool::JpegOptim, Script("fake", "exit 7"));
    plat::ToolRunner runner;
    EXPECT_EQ(runner.run(plat::Tool::JpegOptim, {"JpegOptim"}).result(), 7);
}

// A tool must not outlive the application, even one killed with SIGKILL.
TEST_F(ToolRunnerTest, ChildEndsWithTheProcessThatStartedIt) {
    const std::string pidFile = (dir_ / "tool.pid").string();
    const std::string tool = Script("sleeper", "echo $$ > '" + pidFile + "'\nexec sleep 300");
    const pid_t application = ::fork();
    ASSERT_GE(application, 0);
    if (application == 0) {
        plat::ToolRunner runner;
        runner.run(tool, {"Sleeper"});
        ::_exit(0);
    }
    pid_t toolPid = 0;
    for (int wait = 0; wait < 3000 && toolPid == 0; ++wait) {
        std::ifstream in(pidFile);
        if (!(in >> toolPid)) toolPid = 0;
        if (toolPid == 0) ::usleep(10000);
    }
    ASSERT_GT(toolPid, 0);
    ::kill(application, SIGKILL);
    ::waitpid(application, nullptr, 0);
    // Gone, or a zombie that nobody has reaped yet.
    auto running = [toolPid] {
        std::ifstream stat("/proc/" + std::to_string(toolPid) + "/stat");
        std::string pid, name, state;
        return static_cast<bool>(stat >> pid >> name >> state) && state != "Z" && state != "X";
    };
    for (int wait = 0; wait < 3000 && running(); ++wait) ::usleep(10000);
    EXPECT_FALSE(running());
    if (running()) ::kill(toolPid, SIGKILL);
}

TEST_F(ToolRunnerTest, ProgramNameIsSearchedInPath) {
    plat::ToolRunner runner;
    EXPECT_EQ(runner.run("sh", {"Shell", "-c", "exit 4"}).result(), 4);
    auto missing = runner.run("no-such-vantrell-tool", {"Missing"});
    EXPECT_EQ(missing.kind, plat::ToolStatus::Kind::FailedToStart);
    EXPECT_EQ(missing.value, ENOENT);
}

}  // namespace
