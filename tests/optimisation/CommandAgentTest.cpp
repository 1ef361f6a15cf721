#include "OptimisationTestSupport.h"

#include "optimisation/optimisation.h"
#include "platform/FileManager.h"

#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace optest;
using optimisation::CommandAgent;
using optimisation::File;

class LineCollector : public CommandAgent {
public:
    using CommandAgent::CommandAgent;
    bool parseLine(const std::string& line) override {
        lines.push_back(line);
        return line == "STOP";
    }
    std::vector<std::string> lines;
};

std::vector<std::string> ParseThroughPipe(const std::string& output) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        ::write(fds[1], output.data(), output.size());
        ::close(fds[1]);
    });
    LineCollector collector(nullptr);
    collector.parseLinesFromHandle(fds[0]);
    writer.join();
    ::close(fds[0]);
    return collector.lines;
}

using CommandAgentTest = OptimisationTest;

TEST_F(CommandAgentTest, TempPathNamesFollowTheFormatAndCount) {
    auto file = std::make_shared<File>(Path("x.jpg").string());
    optimisation::JPEGOptimAgent agent(file);
    const std::string first = agent.tempPath();
    const std::string second = agent.tempPath();

    const fs::path folder = plat::FileManager::temporaryDirectory();
    EXPECT_EQ(folder, dir_ / "tmp" / ("vantrell-" + std::to_string(::getuid())));
    EXPECT_EQ(fs::path(first).parent_path(), folder);
    // "Vantrell.JPEGOptimAgent.<hash>.<counter>.temp", both in lower-case hex.
    auto fields = [](const std::string& path) -> std::pair<std::string, std::string> {
        const std::string name = fs::path(path).filename().string();
        const std::string head = "Vantrell.JPEGOptimAgent.";
        const std::string tail = ".temp";
        EXPECT_TRUE(name.starts_with(head) && name.ends_with(tail)) << name;
        if (!name.starts_with(head) || !name.ends_with(tail)) return {};
        const std::string middle = name.substr(head.size(), name.size() - head.size() - tail.size());
        const auto dot = middle.find('.');
        EXPECT_NE(dot, std::string::npos) << name;
        if (dot == std::string::npos) return {};
        std::pair<std::string, std::string> result{middle.substr(0, dot), middle.substr(dot + 1)};
        for (const auto& field : {result.first, result.second}) {
            EXPECT_FALSE(field.empty()) << name;
            EXPECT_EQ(field.find_first_not_of("0123456789abcdef"), std::string::npos) << name;
        }
        return result;
    };
    const auto a = fields(first);
    const auto b = fields(second);
    ASSERT_FALSE(a.second.empty());
    ASSERT_FALSE(b.second.empty());
    const auto hash = static_cast<unsigned>(
        (reinterpret_cast<std::uintptr_t>(file.get()) ^ reinterpret_cast<std::uintptr_t>(&agent)) & 0xFFFFFFFFu);
    char expectedHash[16];
    std::snprintf(expectedHash, sizeof expectedHash, "%x", hash);
    EXPECT_EQ(a.first, expectedHash);
    EXPECT_EQ(b.first, expectedHash);
    EXPECT_EQ(std::stoul(b.second, nullptr, 16), std::stoul(a.second, nullptr, 16) + 1);
    EXPECT_FALSE(fs::exists(first));  // nothing is created

    // A name already taken is skipped.
    const unsigned next = static_cast<unsigned>(std::stoul(b.second, nullptr, 16)) + 1;
    char taken[128];
    std::snprintf(taken, sizeof taken, "Vantrell.JPEGOptimAgent.%s.%x.temp", expectedHash, next);
    WriteText(folder / taken, "someone else's");
    const std::string third = agent.tempPath();
    EXPECT_NE(fs::path(third).filename().string(), taken);
    EXPECT_FALSE(fs::exists(third));
}

TEST_F(CommandAgentTest, ReadNumberAfterMarker) {
    EXPECT_EQ(CommandAgent::readNumberAfter(" --> ", "a.jpg 2000 --> 1500 bytes"), 1500);
    EXPECT_EQ(CommandAgent::readNumberAfter(" --> ", "a.jpg 2000 --> "), 0);
    EXPECT_EQ(CommandAgent::readNumberAfter(" --> ", "a.jpg 2000 -> 1500"), 0);
    EXPECT_EQ(CommandAgent::readNumberAfter(" --> ", "a --> x 5"), 0);
    EXPECT_EQ(CommandAgent::readNumberAfter("In:", "In:   -42 left"), -42);
    EXPECT_EQ(CommandAgent::readNumberAfter("= ", "a = 1 b = 2"), 1);  // first occurrence
    EXPECT_EQ(CommandAgent::readNumberAfter("= ", "a = 99999999999"), 2147483647);
    EXPECT_EQ(CommandAgent::readNumberAfter("", "12"), 0);
}

TEST_F(CommandAgentTest, OutputLinesEndAtCrOrLfAndUnfinishedLineIsDropped) {
    EXPECT_EQ(ParseThroughPipe("first\rsecond\nlast"), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(ParseThroughPipe("a\r\nb\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(ParseThroughPipe("one\nSTOP\nnever\n"), (std::vector<std::string>{"one", "STOP"}));
    EXPECT_TRUE(ParseThroughPipe("").empty());

    // A full buffer ends the line, taking the byte that found it full.
    auto lines = ParseThroughPipe(std::string(5000, 'a') + "\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 4095u);
    EXPECT_EQ(lines[1].size(), 5000u - 4096u);
}

TEST_F(CommandAgentTest, ToolParsersReadTheirReportLines) {
    auto file = std::make_shared<File>();
    optimisation::JPEGOptimAgent jpegoptim(file);
    EXPECT_FALSE(jpegoptim.parseLine("a.jpg 64x64 24bit N Exif  [OK] "));
    EXPECT_TRUE(jpegoptim.parseLine("a.jpg 64x64 24bit N Exif  [OK] 2000 --> 1500 bytes (25.00%), optimized."));
    EXPECT_EQ(file->byteSize(), 2000u);
    EXPECT_EQ(jpegoptim.fileSizeOptimized(), 1500);

    auto advFile = std::make_shared<File>();
    optimisation::AdvCompAgent adv(advFile);
    EXPECT_EQ(adv.level(), 2);
    EXPECT_FALSE(adv.parseLine("advancecomp vnone by Andrea Mazzoleni"));
    EXPECT_FALSE(adv.parseLine("  12420 bytes"));
    EXPECT_TRUE(adv.parseLine("       12420         361   2% /tmp/adv.png"));
    EXPECT_EQ(advFile->byteSize(), 12420u);
    EXPECT_EQ(adv.fileSizeOptimized(), 361);

    auto optiFile = std::make_shared<File>();
    optimisation::OptiPNGAgent opti(optiFile);
    EXPECT_EQ(opti.optlevel(), 6);
    EXPECT_EQ(opti.interlace(), 0);
    EXPECT_FALSE(opti.parseLine("Input file size = 9"));  // shorter than 21
    EXPECT_FALSE(opti.parseLine("Input file size = 12420 bytes"));
    EXPECT_EQ(opti.fileSize(), 12420u);
    EXPECT_EQ(optiFile->byteSize(), 12420u);
    EXPECT_FALSE(opti.parseLine("64x64 pixels, 3x8 bits/pixel, RGB"));
    EXPECT_TRUE(opti.parseLine("Output file size = 309 bytes (12111 bytes = 97.51% decrease)"));
    EXPECT_EQ(opti.fileSizeOptimized(), 309u);

    optimisation::JPEGTranAgent jpegtran(file);
    EXPECT_FALSE(jpegtran.parseLine("Start of Image"));
    EXPECT_TRUE(jpegtran.parseLine("  End Of Image"));

    auto outFile = std::make_shared<File>();
    optimisation::PNGOutAgent pngout(outFile);
    EXPECT_FALSE(pngout.parseLine(" In:   5000 bytes"));
    EXPECT_EQ(outFile->byteSize(), 5000u);
    EXPECT_FALSE(pngout.parseLine("Out:   3000 bytes"));
    EXPECT_EQ(pngout.fileSizeOptimized(), 3000);
    EXPECT_FALSE(pngout.parseLine(" In:"));  // too short
    EXPECT_FALSE(pngout.parseLine(" 50% done"));
    EXPECT_TRUE(pngout.parseLine("Took 0.2 seconds"));
    EXPECT_FALSE(pngout.parseLine("Chg: something"));
}

TEST_F(CommandAgentTest, LaunchTaskPassesEveryArgumentAsUtf8AndReturnsResult) {
    UseFakeTool(plat::Tool::JpegOptim, "exit 5");
    auto file = std::make_shared<File>();
    CommandAgent agent(file);
    const std::vector<std::string> arguments{"JpegOptim", "-a", "b c", "ünï", "--", "", "x;y", "$(z)"};
    EXPECT_EQ(agent.launchTask(plat::Tool::JpegOptim, arguments), 5);
    auto runs = FakeRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], arguments);
    EXPECT_EQ(agent.launchTask(plat::Tool::JpegOptim, {}), -1);

    // A descriptor of ours opened without close-on-exec stays ours.
    const int opened = ::open(Path("leak").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(opened, 0);
    const int leaked = ::dup2(opened, 57);  // dup2 drops close-on-exec
    ::close(opened);
    ASSERT_EQ(leaked, 57);
    UseFakeTool(plat::Tool::JpegOptim, "[ -e /proc/$$/fd/57 ] && exit 7; exit 0");
    EXPECT_EQ(agent.launchTask(plat::Tool::JpegOptim, {"JpegOptim"}), 0);
    ::close(leaked);

    plat::ToolRunner::setExecutableOverride(plat::Tool::JpegOptim, (dir_ / "nothing-here").string());
    EXPECT_EQ(agent.launchTask(plat::Tool::JpegOptim, {"JpegOptim"}), -1);
}

TEST_F(CommandAgentTest, MissingAuxiliaryExecutableSwitchesToolOff) {
    Defaults().setBool(plat::defaults::kPngOutEnabled, true);
    auto file = std::make_shared<File>(Path("a.png").string());
    CommandAgent agent(file);
    EXPECT_EQ(agent.executablePathForKey("PngOut", "pngout"), "");
    EXPECT_FALSE(Defaults().boolForKey(plat::defaults::kPngOutEnabled));

    Defaults().setBool(plat::defaults::kPngOutEnabled, true);
    EXPECT_FALSE(agent.taskForKey("PngOut", "pngout", {"-v"}));
    EXPECT_FALSE(agent.hasTask());
    EXPECT_EQ(file->statusImage(), "err");
    EXPECT_EQ(file->statusOrder(), 8);
    EXPECT_EQ(file->statusText(), "PngOut failed to start");
    EXPECT_FALSE(Defaults().boolForKey(plat::defaults::kPngOutEnabled));
    EXPECT_EQ(agent.launchTask(), -1);

    // Present but not executable counts as missing.
    WriteText(dir_ / "resources" / "pngout", "#!/bin/sh\n");
    ::chmod((dir_ / "resources" / "pngout").c_str(), 0644);
    EXPECT_EQ(agent.executablePathForKey("PngOut", "pngout"), "");
}

TEST_F(CommandAgentTest, PreparedChildRunsWithItsOutputParsedLineByLine) {
    const fs::path tool = dir_ / "resources" / "pngout";
    WriteText(tool, "#!/bin/sh\necho \"$NSUnbufferedIO $*\" > '" + Path("seen").string() +
                        "'\nprintf ' In:   5000 bytes\\n 50%%\\rOut:   3000 bytes\\nTook 1s\\nafter\\n'\n");
    ::chmod(tool.c_str(), 0755);
    auto file = std::make_shared<File>();
    optimisation::PNGOutAgent agent(file);
    ASSERT_TRUE(agent.taskForKey("PngOut", "pngout", {"-k1", "-r", "in.png", "-"}));
    EXPECT_EQ(agent.taskArguments(), (std::vector<std::string>{"-k1", "-r", "in.png", "-"}));
    EXPECT_EQ(agent.launchTask(), 0);
    EXPECT_EQ(file->byteSize(), 5000u);
    EXPECT_EQ(agent.fileSizeOptimized(), 3000);
    EXPECT_EQ(ReadBytes(Path("seen")), Bytes(std::string_view("YES -k1 -r in.png -\n").begin(),
                                             std::string_view("YES -k1 -r in.png -\n").end()));
}

TEST_F(CommandAgentTest, CancelStopsTheRunningToolAndLeavesOriginal) {
    const fs::path marker = Path("started");
    UseFakeTool(plat::Tool::JpegOptim, "touch '" + marker.string() + "'; exec sleep 600");
    WriteBytes(Path("a.jpg"), MakeJpeg(32, 32, false));
    const Bytes before = ReadBytes(Path("a.jpg"));
    auto file = std::make_shared<File>(Path("a.jpg").string());
    auto agent = std::make_shared<optimisation::JPEGOptimAgent>(file, 100, false);
    std::thread runner([&] { agent->run(); });
    while (!fs::exists(marker)) std::this_thread::yield();
    agent->cancel();
    runner.join();
    EXPECT_TRUE(agent->isCancelled());
    EXPECT_EQ(ReadBytes(Path("a.jpg")), before);
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

}  // namespace
