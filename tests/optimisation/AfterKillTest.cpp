// After the application is killed in the middle of an optimisation: its tool
// ends with it, and a later run removes the working files it left.

#include "OptimisationTestSupport.h"

#include "optimisation/optimisation.h"
#include "platform/FileManager.h"

#include <csignal>
#include <fstream>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace optest;
using optimisation::File;

class AfterKillTest : public OptimisationTest {};

bool Running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    return static_cast<bool>(stat >> id >> name >> state) && state != "Z" && state != "X";
}

TEST_F(AfterKillTest, ToolEndsAndLaterRunRemovesStaleWorkingFiles) {
    WriteBytes(Path("a.jpg"), MakeJpeg(64, 48, true));
    // A replacement interrupted beside the original, and one of another
    // file's name that is not ours to judge by name alone but stale as well.
    WriteBytes(Path(".abcde12345.vantrell-tmp-a.jpg"), MakeJpeg(8, 8, false));
    WriteBytes(Path(".notatoken.vantrell-tmp-a.jpg"), {1, 2, 3});
    const fs::path pidFile = Path("tool.pid");
    UseFakeTool(plat::Tool::JpegOptim, "echo $$ > '" + pidFile.string() + "'\nexec sleep 300");

    // Twice: the second run already removes what the first one left.
    for (int attempt = 0; attempt < 2; ++attempt) {
        fs::remove(pidFile);
        std::fflush(nullptr);
        const pid_t application = ::fork();
        ASSERT_GE(application, 0);
        if (application == 0) {
            optimisation::JPEGOptimAgent(std::make_shared<File>(Path("a.jpg").string()), 100, false).run();
            ::_exit(0);
        }
        pid_t tool = 0;
        for (int wait = 0; wait < 3000 && tool == 0; ++wait) {
            std::ifstream in(pidFile);
            if (!(in >> tool)) tool = 0;
            if (tool == 0) ::usleep(10000);
        }
        ASSERT_GT(tool, 0);
        ::kill(application, SIGKILL);
        ::waitpid(application, nullptr, 0);
        for (int wait = 0; wait < 3000 && Running(tool); ++wait) ::usleep(10000);
        EXPECT_FALSE(Running(tool));
        if (Running(tool)) ::kill(tool, SIGKILL);
        ASSERT_EQ(LeftoverWorkingFiles().size(), 1u);  // the killed run's working copy
    }

    // A later run of this process: the killed runs' files go, the original
    // is optimised, the fresh owner file and the record of its folder stay.
    plat::ToolRunner::setExecutableOverride(plat::Tool::JpegOptim, "");
    const auto before = File::fileByteSize(Path("a.jpg").string());
    auto file = std::make_shared<File>(Path("a.jpg").string());
    optimisation::JPEGOptimAgent(file, 100, false).run();
    EXPECT_LT(File::fileByteSize(Path("a.jpg").string()), before);
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
    EXPECT_FALSE(fs::exists(Path(".abcde12345.vantrell-tmp-a.jpg")));
    EXPECT_TRUE(fs::exists(Path(".notatoken.vantrell-tmp-a.jpg")));  // not of our naming
    std::vector<std::string> owners;
    for (const auto& entry : fs::directory_iterator(plat::FileManager::temporaryDirectory())) {
        owners.push_back(entry.path().filename().string());
    }
    std::sort(owners.begin(), owners.end());
    EXPECT_EQ(owners, (std::vector<std::string>{"vantrell-folders", "vantrell-owner." + std::to_string(::getpid())}));

    // Files made while this process is an owner are not stale to it.
    const fs::path fresh = plat::FileManager::temporaryDirectory() / "Vantrell.JPEGOptimAgent.1.2.temp";
    WriteBytes(fresh, {1});
    optimisation::JPEGOptimAgent(std::make_shared<File>(Path("a.jpg").string()), 100, false).run();
    EXPECT_TRUE(fs::exists(fresh));
}

}  // namespace
