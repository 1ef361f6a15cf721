// After the application is killed in the middle of an optimisation: its tool
// ends with it, and a later run removes the working files it and its tool
// left, in the private folder and beside the originals, wherever it works
// itself. A run that ends normally leaves nothing behind.

#include "OptimisationTestSupport.h"

#include "optimisation/StaleWorkingFiles.h"
#include "optimisation/optimisation.h"
#include "platform/FileManager.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace optest;
using optimisation::File;

bool Running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    return static_cast<bool>(stat >> id >> name >> state) && state != "Z" && state != "X";
}

// The processes the threads of `pid` started: the tools it runs.
std::vector<pid_t> ToolsOf(pid_t pid) {
    std::vector<pid_t> tools;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream children(task.path() / "children");
        for (pid_t child = 0; children >> child;) tools.push_back(child);
    }
    return tools;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// advpng's working files, "<our working name>.tmp<number>".
long ToolFilesIn(const fs::path& folder) {
    const auto names = Names(folder);
    return std::count_if(names.begin(), names.end(), [](const std::string& name) {
        return optimisation::IsPrivateWorkingFile(name) && name.find(".temp.tmp") != std::string::npos;
    });
}

class AfterKillTest : public OptimisationTest {
protected:
    fs::path Private() const { return plat::FileManager::temporaryDirectory(); }

    // What the private folder holds after a later run that ended normally:
    // the record of the one folder that run worked in, nothing else.
    void ExpectOnlyLaterRunRecorded(const std::string& context) {
        EXPECT_EQ(Names(Private()), std::vector<std::string>{"vantrell-folders"}) << context;
        std::ifstream record(Private() / "vantrell-folders");
        std::string all((std::istreambuf_iterator<char>(record)), std::istreambuf_iterator<char>());
        EXPECT_EQ(all, Path("later").string() + "\n") << context;
    }

    // A run of the application in a child process, killed once `ready` holds;
    // its tools are gone when this returns.
    void RunKilled(const std::function<void()>& body, const std::function<bool(pid_t)>& ready) {
        std::fflush(nullptr);
        const pid_t application = ::fork();
        ASSERT_GE(application, 0);
        if (application == 0) {
            body();
            ::_exit(0);
        }
        // Until it is ready to be killed, or it has ended by itself.
        for (int wait = 0; wait < 6000 && Running(application) && !ready(application); ++wait) ::usleep(1000);
        const std::vector<pid_t> tools = ToolsOf(application);
        ::kill(application, SIGKILL);
        ::waitpid(application, nullptr, 0);
        for (pid_t tool : tools) {
            for (int wait = 0; wait < 3000 && Running(tool); ++wait) ::usleep(10000);
            EXPECT_FALSE(Running(tool));
        }
    }

    // A later run of the application in a child process that ends normally.
    void RunToNormalEnd(const std::function<void()>& body) {
        std::fflush(nullptr);
        const pid_t application = ::fork();
        ASSERT_GE(application, 0);
        if (application == 0) {
            body();
            std::exit(0);
        }
        int status = 0;
        ::waitpid(application, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    // The later run works on a file of its own in a folder of its own. It
    // starts once the file clock has moved on from the killed run's last
    // change: files changed in the same tick as an owner's start are not
    // known to be older.
    void LaterRun() {
        const fs::path probe = Path("tick");
        struct stat last{};
        struct stat now{};
        for (const auto& entry : fs::directory_iterator(Private())) {
            struct stat st{};
            if (::lstat(entry.path().c_str(), &st) == 0 && st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec >
                                                                last.st_ctim.tv_sec * 1000000000LL + last.st_ctim.tv_nsec) {
                last = st;
            }
        }
        do {
            WriteBytes(probe, {1});
            ::lstat(probe.c_str(), &now);
        } while (now.st_ctim.tv_sec == last.st_ctim.tv_sec && now.st_ctim.tv_nsec == last.st_ctim.tv_nsec &&
                 ::usleep(1000) == 0);
        fs::remove(probe);
        fs::create_directories(Path("later"));
        WriteBytes(Path("later/x.jpg"), MakeJpeg(32, 32, false));
        RunToNormalEnd([this] { optimisation::JPEGOptimAgent(std::make_shared<File>(Path("later/x.jpg").string())).run(); });
    }
};

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

// Every agent with its real tool, killed while the tool works on a file.
struct KilledAgent {
    const char* name;
    const char* file;
    std::function<Bytes()> make;
    std::function<void(std::shared_ptr<File>)> run;
};

const std::vector<KilledAgent>& KilledAgents() {
    static const std::vector<KilledAgent> agents{
        {"AdvPNG", "a.png", [] { return MakeStoredPng(512, 512); },
         [](auto file) {
             optimisation::AdvCompAgent agent(file);
             agent.setLevel(4);
             agent.run();
         }},
        {"PngCrush", "b.png", [] { return MakeStoredPng(512, 512); },
         [](auto file) { optimisation::KSMPngCrushAgent(file).run(); }},
        {"OptiPNG", "c.png", [] { return MakeStoredPng(512, 512); },
         [](auto file) { optimisation::OptiPNGAgent(file).run(); }},
        {"JpegOptim", "d.jpg", [] { return MakeJpeg(1024, 768, true); },
         [](auto file) { optimisation::JPEGOptimAgent(file, 100, false).run(); }},
        {"jpegtran", "e.jpg", [] { return MakeJpeg(1024, 768, true); },
         [](auto file) { optimisation::JPEGTranAgent(file).run(); }},
        {"Gifsicle", "f.gif", [] { return MakeLiteralGif(256, 256); },
         [](auto file) { optimisation::GifsicleAgent(file).run(); }},
    };
    return agents;
}

TEST_F(AfterKillTest, KillDuringAnyAgentLeavesNothingTheNextRunKeeps) {
    fs::create_directories(Path("photos"));
    for (const auto& agent : KilledAgents()) {
        const fs::path path = Path("photos") / agent.file;
        WriteBytes(path, agent.make());
        const Bytes pixels = DecodePixels(path);
        RunKilled([&] { agent.run(std::make_shared<File>(path.string())); },
                  [](pid_t application) { return !ToolsOf(application).empty(); });
        LaterRun();
        // The original is whole (optimised or not), and nothing else is left.
        EXPECT_EQ(DecodePixels(path), pixels) << agent.name;
        ExpectOnlyLaterRunRecorded(agent.name);
    }
    std::vector<std::string> originals;
    for (const auto& agent : KilledAgents()) originals.push_back(agent.file);
    std::sort(originals.begin(), originals.end());
    EXPECT_EQ(Names(Path("photos")), originals);
    EXPECT_EQ(Names(Path("later")), std::vector<std::string>{"x.jpg"});
}

TEST_F(AfterKillTest, AdvPngWorkingFileOfKilledRunIsRemoved) {
    // Names like ours that we did not make: a user's files beside an
    // original, and names in the private folder that are not our pattern.
    fs::create_directories(Path("photos"));
    const std::vector<std::string> userFiles{"a.png", "a.png.tmp123", "Vantrell.AdvCompAgent.1.2.temp.tmp3"};
    for (const auto& name : userFiles) WriteBytes(Path("photos") / name, MakeStoredPng(256, 256));
    const std::vector<std::string> lookAlikes{"Vantrell.AdvCompAgent.zz.1.temp.tmp5",
                                              "Vantrell.AdvCompAgent.1.2.temp.tmpx", "notes.temp.tmp1",
                                              "jpegoptim-1-2.abc.tmp"};
    for (const auto& name : lookAlikes) WriteBytes(Private() / name, {1});

    const KilledAgent& advpng = KilledAgents().front();
    RunKilled([&] { advpng.run(std::make_shared<File>(Path("photos/a.png").string())); },
              [this](pid_t) { return ToolFilesIn(Private()) == 1; });
    ASSERT_EQ(ToolFilesIn(Private()), 1);
    EXPECT_TRUE(optimisation::IsPrivateWorkingFile("jpegoptim-1000-4242.Ab3xYz.tmp"));
    EXPECT_FALSE(optimisation::IsPrivateWorkingFile("jpegoptim-1-2.abc.tmp"));

    LaterRun();
    std::vector<std::string> kept = lookAlikes;
    kept.push_back("vantrell-folders");
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(Names(Private()), kept);
    std::vector<std::string> users = userFiles;
    std::sort(users.begin(), users.end());
    EXPECT_EQ(Names(Path("photos")), users);
}

TEST_F(AfterKillTest, FoldersOfKilledRunAreSweptByALaterRunElsewhere) {
    fs::create_directories(Path("photos"));
    WriteBytes(Path("photos/a.png"), MakeStoredPng(64, 48));
    // A run replaces a file in photos/, then is killed while it writes
    // another file there.
    RunKilled(
        [&] {
            optimisation::KSMPngCrushAgent(std::make_shared<File>(Path("photos/a.png").string())).run();
            plat::FileManager::writeAtomically(Path("photos/b.png"), [](const fs::path& temporary) {
                WriteBytes(temporary, {1, 2, 3});
                ::raise(SIGKILL);
                return true;
            });
        },
        [](pid_t) { return false; });
    ASSERT_EQ(Names(Path("photos")).size(), 2u);  // the half-written file beside a.png

    // The record is hostile input too: garbage, folders that are gone, a
    // path that names a file, and far more entries and bytes than it keeps.
    {
        std::ofstream record(Private() / "vantrell-folders", std::ios::app | std::ios::binary);
        record << "relative/folder\n" << "\\q/bad escape\n" << "/nowhere/at/all\n" << std::string("/with/nul\0x\n", 12)
               << Path("photos/a.png").string() << "\n" << std::string(5000, '/') << "a\n";
        for (int i = 0; i < 400; ++i) {
            fs::create_directories(Path("empty") / std::to_string(i));
            record << (Path("empty") / std::to_string(i)).string() << "\n";
        }
        record << std::string(300 * 1024, 'x') << "\n/not/ended";
    }
    LaterRun();
    EXPECT_EQ(Names(Path("photos")), std::vector<std::string>{"a.png"});
    ExpectOnlyLaterRunRecorded("hostile record");
}

TEST_F(AfterKillTest, NormalEndRemovesOwnerFile) {
    WriteBytes(Path("a.jpg"), MakeJpeg(64, 48, false));
    RunToNormalEnd([this] { optimisation::JPEGOptimAgent(std::make_shared<File>(Path("a.jpg").string())).run(); });
    EXPECT_EQ(Names(Private()), std::vector<std::string>{"vantrell-folders"});

    // A child of a registered process that ends does not end its parent's
    // registration.
    optimisation::JPEGOptimAgent(std::make_shared<File>(Path("a.jpg").string())).run();
    const std::string owner = "vantrell-owner." + std::to_string(::getpid());
    ASSERT_TRUE(fs::exists(Private() / owner));
    RunToNormalEnd([] {});
    EXPECT_TRUE(fs::exists(Private() / owner));
}

}  // namespace
