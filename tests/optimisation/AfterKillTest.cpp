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

class AfterKillTest : public OptimisationTest {
protected:
    fs::path Private() const { return plat::FileManager::temporaryDirectory(); }

    // A run of the application in a child process: killed once `killWhen`
    // holds, its tools gone by the time this returns; without it, one that
    // ends normally.
    void Run(const std::function<void()>& body, const std::function<bool(pid_t)>& killWhen = {}) {
        std::fflush(nullptr);
        const pid_t application = ::fork();
        ASSERT_GE(application, 0);
        if (application == 0) {
            body();
            killWhen ? ::_exit(0) : std::exit(0);
        }
        std::vector<pid_t> tools;
        for (int wait = 0; killWhen && wait < 60000 && Running(application) && !killWhen(application); ++wait) {
            ::usleep(1000);
        }
        if (killWhen) {
            tools = ToolsOf(application);
            ::kill(application, SIGKILL);
        }
        int status = 0;
        ::waitpid(application, &status, 0);
        EXPECT_TRUE(killWhen || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
        for (pid_t tool : tools) {
            for (int wait = 0; wait < 3000 && Running(tool); ++wait) ::usleep(10000);
            EXPECT_FALSE(Running(tool));
        }
    }

    // A later run on a file in a folder of its own, started once the file
    // clock has moved past the killed run's last change (a file changed in
    // the tick an owner started is not known to be older). It leaves only the
    // record of its folder.
    void LaterRun() {
        struct stat first{}, now{};
        WriteBytes(Path("tick"), {1});
        ::lstat(Path("tick").c_str(), &first);
        do {
            ::usleep(1000);
            WriteBytes(Path("tick"), {1});
            ::lstat(Path("tick").c_str(), &now);
        } while (now.st_ctim.tv_sec == first.st_ctim.tv_sec && now.st_ctim.tv_nsec == first.st_ctim.tv_nsec);
        fs::remove(Path("tick"));
        fs::create_directories(Path("later"));
        WriteBytes(Path("later/x.jpg"), MakeJpeg(32, 32, false));
        Run([this] { optimisation::JPEGTranAgent(std::make_shared<File>(Path("later/x.jpg").string())).run(); });
        EXPECT_EQ(RecordedFolders(), std::vector<fs::path>{Path("later")});
    }

    // The folders in the record, in order, without the owners that recorded them.
    std::vector<fs::path> RecordedFolders() const {
        std::vector<fs::path> folders;
        std::ifstream record(Private() / "vantrell-folders");
        for (std::string line; std::getline(record, line);) {
            folders.emplace_back(line.substr(line.starts_with('/') ? 0 : line.find(' ') + 1));
        }
        return folders;
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
        Run([this] { optimisation::JPEGOptimAgent(std::make_shared<File>(Path("a.jpg").string())).run(); },
            [&](pid_t) { return fs::exists(pidFile) && fs::file_size(pidFile) > 0; });
        ASSERT_TRUE(fs::exists(pidFile));
        ASSERT_EQ(LeftoverWorkingFiles().size(), 1u);  // the killed run's working copy
    }

    // A later run of this process: the killed runs' files go, the original
    // is optimised, the fresh owner file and the record of its folder stay.
    plat::ToolRunner::setExecutableOverride(plat::Tool::JpegOptim, "");
    const auto before = File::fileByteSize(Path("a.jpg").string());
    optimisation::JPEGOptimAgent(std::make_shared<File>(Path("a.jpg").string()), 100, false).run();
    EXPECT_LT(File::fileByteSize(Path("a.jpg").string()), before);
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
    EXPECT_FALSE(fs::exists(Path(".abcde12345.vantrell-tmp-a.jpg")));
    EXPECT_TRUE(fs::exists(Path(".notatoken.vantrell-tmp-a.jpg")));  // not of our naming
    EXPECT_EQ(Names(Private()), (std::vector<std::string>{"vantrell-folders", "vantrell-owner." + std::to_string(::getpid())}));

    // Files made while this process is an owner are not stale to it.
    const fs::path fresh = Private() / "Vantrell.JPEGOptimAgent.1.2.temp";
    WriteBytes(fresh, {1});
    optimisation::JPEGOptimAgent(std::make_shared<File>(Path("a.jpg").string()), 100, false).run();
    EXPECT_TRUE(fs::exists(fresh));
}

// Every agent with its real tool, killed once the tool runs.
TEST_F(AfterKillTest, KillDuringAnyAgentLeavesNothingTheNextRunKeeps) {
    fs::create_directories(Path("photos"));
    std::vector<InPlaceAgent> agents = InPlaceAgents();
    agents.push_back({"Gifsicle", "gif", [](auto file) { optimisation::GifsicleAgent(file).run(); }});
    std::vector<std::string> originals;
    for (const auto& agent : agents) {
        const std::string type = agent.extension;
        const fs::path path = Path("photos") / (std::string(agent.tool) + "." + type);
        WriteBytes(path, type == "png"   ? MakeStoredPng(512, 512)
                         : type == "jpg" ? MakeJpeg(1024, 768, true)
                                         : MakeLiteralGif(256, 256));
        const Bytes pixels = DecodePixels(path);
        Run([&] { agent.run(std::make_shared<File>(path.string())); },
            [](pid_t application) { return !ToolsOf(application).empty(); });
        LaterRun();
        EXPECT_EQ(DecodePixels(path), pixels) << agent.tool;  // optimised or not, whole
        EXPECT_EQ(Names(Private()), std::vector<std::string>{"vantrell-folders"}) << agent.tool;
        originals.push_back(path.filename().string());
        std::sort(originals.begin(), originals.end());
        EXPECT_EQ(Names(Path("photos")), originals);
    }
}

TEST_F(AfterKillTest, AdvPngWorkingFileOfKilledRunIsRemoved) {
    // Names like ours that are not: beside an original, and in the private
    // folder names that do not follow our pattern.
    fs::create_directories(Path("photos"));
    const std::vector<std::string> userFiles{"Vantrell.AdvCompAgent.1.2.temp.tmp3", "a.png", "a.png.tmp123"};
    for (const auto& name : userFiles) WriteBytes(Path("photos") / name, MakeStoredPng(256, 256));
    std::vector<std::string> lookAlikes{"Vantrell.A.1.2.temp.tmpx", "Vantrell.AdvCompAgent.zz.1.temp.tmp5",
                                        "jpegoptim-1-2.abc.tmp", "notes.temp.tmp1"};
    for (const auto& name : lookAlikes) WriteBytes(Private() / name, {1});
    const auto toolFiles = [this] {
        const auto names = Names(Private());
        return std::count_if(names.begin(), names.end(), [](const std::string& name) {
            return optimisation::IsPrivateWorkingFile(name) && name.find(".temp.tmp") != std::string::npos;
        });
    };
    Run([&] { optimisation::AdvCompAgent(std::make_shared<File>(Path("photos/a.png").string())).run(); },
        [&](pid_t) { return toolFiles() == 1; });
    ASSERT_EQ(toolFiles(), 1);
    EXPECT_TRUE(optimisation::IsPrivateWorkingFile("jpegoptim-1000-4242.Ab3xYz.tmp"));

    LaterRun();
    lookAlikes.push_back("vantrell-folders");
    EXPECT_EQ(Names(Private()), lookAlikes);
    EXPECT_EQ(Names(Path("photos")), userFiles);
}

TEST_F(AfterKillTest, FoldersOfKilledRunAreSweptByALaterRunElsewhere) {
    fs::create_directories(Path("photos"));
    WriteBytes(Path("photos/a.png"), MakeStoredPng(64, 48));
    // A run replaces a file in photos/, then is killed while it writes
    // another file there and one in the private folder.
    Run(
        [&] {
            optimisation::KSMPngCrushAgent(std::make_shared<File>(Path("photos/a.png").string())).run();
            plat::FileManager::writeAtomically(Private() / "copy", [&](const fs::path&) {
                return plat::FileManager::writeAtomically(Path("photos/b.png"), [](const fs::path& temporary) {
                    WriteBytes(temporary, {1, 2, 3});
                    return ::raise(SIGKILL) == 0;
                });
            });
        },
        [](pid_t) { return false; });
    ASSERT_EQ(Names(Path("photos")).size(), 2u);  // the half-written file beside a.png

    // The record is hostile input too: garbage, folders that are gone, a
    // path that names a file, and far more entries and bytes than it keeps.
    {
        std::ofstream record(Private() / "vantrell-folders", std::ios::app | std::ios::binary);
        record << "relative/folder\n\\q/bad escape\n/nowhere/at/all\n" << std::string("/with/nul\0x\n", 12)
               << Path("photos/a.png").string() << "\n" << std::string(5000, '/') << "a\n";
        for (int i = 0; i < 400; ++i) {
            fs::create_directories(Path("empty") / std::to_string(i));
            record << (Path("empty") / std::to_string(i)).string() << "\n";
        }
        record << std::string(300 * 1024, 'x') << "\n/not/ended";
    }
    LaterRun();
    EXPECT_EQ(Names(Path("photos")), std::vector<std::string>{"a.png"});
    EXPECT_EQ(Names(Private()), std::vector<std::string>{"vantrell-folders"});
}

// An entry of an earlier record (a folder alone) that has to stay, since a
// file there is never ours to remove, is written back so that runs after
// the next still read it.
TEST_F(AfterKillTest, AnEntryOfAnEarlierRecordThatStaysIsReadAgain) {
    fs::create_directories(Path("later"));
    fs::create_directories(Path("kept"));
    fs::create_symlink("elsewhere", Path("kept/.abcde12345.vantrell-tmp-a.jpg"));
    const auto run = [this] {
        WriteBytes(Path("later/x.jpg"), MakeJpeg(32, 32, false));
        Run([this] { optimisation::JPEGTranAgent(std::make_shared<File>(Path("later/x.jpg").string())).run(); });
    };
    run();
    std::ofstream(Private() / "vantrell-folders", std::ios::app) << Path("kept").string() << "\n/nowhere/at/all\n";
    for (int again = 0; again < 2; ++again) {
        run();
        const std::vector<fs::path> folders = RecordedFolders();
        EXPECT_NE(std::find(folders.begin(), folders.end(), Path("kept")), folders.end()) << again;
    }
}

TEST_F(AfterKillTest, NormalEndRemovesOwnerFile) {
    LaterRun();  // checks the private folder
    EXPECT_EQ(Names(Private()), std::vector<std::string>{"vantrell-folders"});
    // A forked child of a registered process ends without ending its
    // parent's registration.
    optimisation::JPEGOptimAgent(std::make_shared<File>(Path("later/x.jpg").string())).run();
    Run([] {});
    EXPECT_TRUE(fs::exists(Private() / ("vantrell-owner." + std::to_string(::getpid()))));
}

// A run that starts and ends while another works leaves the other's folder in
// the record, although nothing of ours is there at that moment; once that run
// is killed, a later run sweeps what it left there.
TEST_F(AfterKillTest, TwoRunsAtOnceBothStayRecordedUntilEachEnds) {
    fs::create_directories(Path("photos"));
    fs::create_directories(Path("second"));
    WriteBytes(Path("photos/a.png"), MakeStoredPng(64, 48));
    WriteBytes(Path("second/x.jpg"), MakeJpeg(32, 32, false));
    // The first run waits, half way through writing a file in photos/, until
    // the second run has ended, then is killed.
    Run(
        [&] {
            optimisation::KSMPngCrushAgent(std::make_shared<File>(Path("photos/a.png").string())).run();
            plat::FileManager::writeAtomically(Path("photos/b.png"), [&](const fs::path& temporary) {
                WriteBytes(temporary, {1, 2, 3});
                WriteBytes(Path("ready"), {1});
                return ::sleep(60) == 0;
            });
        },
        [&](pid_t) {
            if (!fs::exists(Path("ready"))) return false;
            EXPECT_EQ(RecordedFolders(), std::vector<fs::path>{Path("photos")});
            Run([this] { optimisation::JPEGTranAgent(std::make_shared<File>(Path("second/x.jpg").string())).run(); });
            EXPECT_EQ(RecordedFolders(), (std::vector<fs::path>{Path("photos"), Path("second")}));
            return true;
        });
    ASSERT_TRUE(fs::exists(Path("ready")));
    ASSERT_EQ(Names(Path("photos")).size(), 2u);  // the half-written file beside a.png

    LaterRun();
    EXPECT_EQ(Names(Path("photos")), std::vector<std::string>{"a.png"});
    EXPECT_EQ(Names(Private()), std::vector<std::string>{"vantrell-folders"});
}

// Only "vantrell-owner." followed by a process id is an owner file: names that
// merely start so are left where they are, locked or not.
TEST_F(AfterKillTest, OnlyOwnerFilesOfOwnersThatAreGoneAreRemoved) {
    std::fflush(nullptr);
    const pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    WriteBytes(Private() / ("vantrell-owner." + std::to_string(gone)), {});
    std::vector<std::string> lookAlikes{"vantrell-owner.",     "vantrell-owner.0123",       "vantrell-owner.12.bak",
                                        "vantrell-owner.notes", "vantrell-owner.99999999999", "vantrell-owner.-5"};
    for (const auto& name : lookAlikes) WriteBytes(Private() / name, {7});
    fs::create_directory(Private() / "vantrell-owner.77");

    LaterRun();
    lookAlikes.insert(lookAlikes.end(), {"vantrell-folders", "vantrell-owner.77"});
    std::sort(lookAlikes.begin(), lookAlikes.end());
    EXPECT_EQ(Names(Private()), lookAlikes);
}

}  // namespace
