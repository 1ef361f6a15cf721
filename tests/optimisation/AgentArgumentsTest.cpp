// The exact argument vectors of every agent, recorded by a fake tool, and the
// original's fate when a tool fails or writes something unfit.

#include "OptimisationTestSupport.h"

#include "optimisation/optimisation.h"
#include "platform/FileManager.h"

#include <sys/stat.h>

namespace {

using namespace optest;
using optimisation::File;

class AgentArgumentsTest : public OptimisationTest {
protected:
    void SetUp() override {
        OptimisationTest::SetUp();
        WriteBytes(Path("in.jpg"), MakeJpeg(48, 48, true));
        WriteBytes(Path("in.png"), MakeStoredPng(24, 24));
        WriteBytes(Path("in.gif"), MakeLiteralGif(24, 24));
    }

    std::shared_ptr<File> FileFor(const std::string& name) {
        return std::make_shared<File>(Path(name).string());
    }

    // The single recorded run, with working-file paths checked and replaced
    // by "<temp>".
    std::vector<std::string> OnlyRun(const std::string& agentClass) {
        auto runs = FakeRuns();
        EXPECT_EQ(runs.size(), 1u);
        if (runs.empty()) return {};
        auto run = runs.back();
        const std::string prefix = (plat::FileManager::temporaryDirectory() / ("Vantrell." + agentClass + ".")).string();
        for (auto& arg : run) {
            if (arg.starts_with(prefix) && arg.ends_with(".temp")) arg = "<temp>";
        }
        fs::remove(dir_ / "fake-runs.log");
        return run;
    }

    std::string In(const std::string& name) const { return (dir_ / name).string(); }
};

using Args = std::vector<std::string>;

TEST_F(AgentArgumentsTest, JpegOptimQualityAndStrip) {
    UseFakeTool(plat::Tool::JpegOptim, "exit 0");
    struct Case {
        std::int64_t quality;
        bool strip;
        Args expected;
    };
    const Case cases[] = {
        {100, false, {"JpegOptim", "-q", "--", "<temp>"}},
        {99, false, {"JpegOptim", "-m99", "-q", "--", "<temp>"}},
        {11, false, {"JpegOptim", "-m11", "-q", "--", "<temp>"}},
        {10, false, {"JpegOptim", "-q", "--", "<temp>"}},
        {100, true, {"JpegOptim", "--strip-all", "-q", "--", "<temp>"}},
        {80, true, {"JpegOptim", "-m80", "--strip-all", "-q", "--", "<temp>"}},
    };
    for (const auto& c : cases) {
        optimisation::JPEGOptimAgent agent(FileFor("in.jpg"), c.quality, c.strip);
        EXPECT_EQ(agent.makesNonOptimizingModifications(), c.quality < 100);
        agent.run();
        EXPECT_EQ(OnlyRun("JPEGOptimAgent"), c.expected) << c.quality << " " << c.strip;
    }
    EXPECT_TRUE(optimisation::JPEGOptimAgent(FileFor("in.jpg")).makesNonOptimizingModifications());
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

TEST_F(AgentArgumentsTest, PngCrushInputThenOutput) {
    UseFakeTool(plat::Tool::PngCrush, "exit 0");
    optimisation::KSMPngCrushAgent agent(FileFor("in.png"), 1);
    EXPECT_FALSE(agent.makesNonOptimizingModifications());
    agent.run();
    EXPECT_EQ(OnlyRun("KSMPngCrushAgent"), (Args{"PngCrush", "-try10", "-q", "-reduce", "--", In("in.png"), "<temp>"}));

    optimisation::KSMPngCrushAgent stripping(FileFor("in.png"));
    stripping.setStrip(true);
    EXPECT_TRUE(stripping.makesNonOptimizingModifications());
    stripping.run();
    EXPECT_EQ(OnlyRun("KSMPngCrushAgent"),
              (Args{"PngCrush", "-try10", "-rem", "alla", "-q", "-reduce", "--", In("in.png"), "<temp>"}));
}

TEST_F(AgentArgumentsTest, AdvPngLevels) {
    UseFakeTool(plat::Tool::AdvPng, "exit 0");
    optimisation::AdvCompAgent agent(FileFor("in.png"), 77);
    agent.run();
    EXPECT_EQ(OnlyRun("AdvCompAgent"), (Args{"AdvPNG", "-2", "-z", "--", "<temp>"}));
    agent.setLevel(0);
    agent.run();
    EXPECT_EQ(OnlyRun("AdvCompAgent"), (Args{"AdvPNG", "-4", "-z", "--", "<temp>"}));
}

TEST_F(AgentArgumentsTest, GifsicleInterlaceChoices) {
    UseFakeTool(plat::Tool::Gifsicle, "exit 0");
    optimisation::GifsicleAgent plain(FileFor("in.gif"));
    EXPECT_FALSE(plain.interlace());
    plain.run();
    EXPECT_EQ(OnlyRun("GifsicleAgent"),
              (Args{"Gifsicle", "-o", "<temp>", "--no-interlace", "-O3", "--careful", "--no-comments", "--no-names",
                    "--same-delay", "--same-loopcount", "--no-warnings", "--", In("in.gif")}));
    optimisation::GifsicleAgent interlaced(FileFor("in.gif"));
    interlaced.setInterlace(true);
    interlaced.run();
    EXPECT_EQ(OnlyRun("GifsicleAgent"),
              (Args{"Gifsicle", "-o", "<temp>", "--interlace", "-O3", "--careful", "--no-comments", "--no-names",
                    "--same-delay", "--same-loopcount", "--no-warnings", "--", In("in.gif")}));
}

TEST_F(AgentArgumentsTest, OptiPngLevelsAndFreshOutputPath) {
    // OptiPNG refuses an output that exists: the fake fails the same way.
    UseFakeTool(plat::Tool::OptiPng,
                "while [ $# -gt 0 ]; do if [ \"$1\" = -out ] && [ -e \"$2\" ]; then exit 9; fi; shift; done\n"
                "touch '" + Path("output-was-fresh").string() + "'");
    optimisation::OptiPNGAgent agent(FileFor("in.png"), 3);
    agent.run();
    EXPECT_EQ(OnlyRun("OptiPNGAgent"), (Args{"OptiPNG", "-i0", "-o6", "-out", "<temp>", "--", In("in.png")}));
    EXPECT_TRUE(fs::exists(Path("output-was-fresh")));

    agent.setInterlace(-1);
    agent.setOptlevel(0);
    agent.run();
    EXPECT_EQ(OnlyRun("OptiPNGAgent"), (Args{"OptiPNG", "-o6", "-out", "<temp>", "--", In("in.png")}));
    agent.setInterlace(1);
    agent.setOptlevel(2);
    agent.run();
    EXPECT_EQ(OnlyRun("OptiPNGAgent"), (Args{"OptiPNG", "-i1", "-o2", "-out", "<temp>", "--", In("in.png")}));
}

TEST_F(AgentArgumentsTest, JpegTranCopyChoice) {
    UseFakeTool(plat::Tool::JpegTran, "exit 0");
    optimisation::JPEGTranAgent keep(FileFor("in.jpg"));
    EXPECT_FALSE(keep.strip());
    EXPECT_FALSE(keep.jpegrescan());
    keep.run();
    EXPECT_EQ(OnlyRun("JPEGTranAgent"),
              (Args{"jpegtran", "-copy", "all", "-optimize", "-outfile", "<temp>", In("in.jpg")}));
    optimisation::JPEGTranAgent strip(FileFor("in.jpg"), true);
    strip.run();
    EXPECT_EQ(OnlyRun("JPEGTranAgent"),
              (Args{"jpegtran", "-copy", "none", "-optimize", "-outfile", "<temp>", In("in.jpg")}));
}

TEST_F(AgentArgumentsTest, PngOutLevelAndChunksFromDefaults) {
    const fs::path tool = dir_ / "resources" / "pngout";
    WriteText(tool, "#!/bin/sh\nexit 0\n");
    ::chmod(tool.c_str(), 0755);
    Bytes large = MakeStoredPng(8, 8);
    large.resize(1048577, 0);
    WriteBytes(Path("large.png"), large);
    auto prepared = [&](const std::string& name) {
        auto file = FileFor(name);
        file->setByteSize(File::fileByteSize(Path(name).string()));
        optimisation::PNGOutAgent agent(file);
        agent.run();
        EXPECT_TRUE(agent.hasTask());
        EXPECT_EQ(file->filePathOptimized(), "");
        return agent.taskArguments();
    };

    Defaults().setInteger(plat::defaults::kPngOutLevel, 2);
    EXPECT_EQ(optimisation::PNGOutAgent(FileFor("in.png")).level(), 1);
    EXPECT_EQ(prepared("in.png"), (Args{"-k1", "-s1", "-r", "-v", In("in.png"), "-"}));
    EXPECT_EQ(prepared("large.png"), (Args{"-k1", "-s2", "-r", "-v", In("large.png"), "-"}));

    Defaults().setInteger(plat::defaults::kPngOutLevel, 3);
    EXPECT_EQ(prepared("in.png"), (Args{"-k1", "-r", "-v", In("in.png"), "-"}));
    EXPECT_EQ(prepared("large.png"), (Args{"-k1", "-s1", "-r", "-v", In("large.png"), "-"}));

    Defaults().setBool(plat::defaults::kPngOutRemoveChunks, true);
    Defaults().setBool(plat::defaults::kPngOutInterruptIfTakesTooLong, true);
    optimisation::PNGOutAgent removing(FileFor("in.png"));
    EXPECT_TRUE(removing.removechunks());
    EXPECT_TRUE(removing.interruptIfTakesTooLong());
    EXPECT_TRUE(removing.makesNonOptimizingModifications());
    EXPECT_EQ(prepared("in.png"), (Args{"-r", "-v", In("in.png"), "-"}));
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

TEST_F(AgentArgumentsTest, PngOutWithoutExecutableSwitchesItselfOff) {
    Defaults().setBool(plat::defaults::kPngOutEnabled, true);
    auto file = FileFor("in.png");
    const Bytes before = ReadBytes(Path("in.png"));
    optimisation::PNGOutAgent agent(file);
    agent.run();
    EXPECT_FALSE(agent.hasTask());
    EXPECT_EQ(file->statusText(), "PngOut failed to start");
    EXPECT_EQ(file->statusOrder(), 8);
    EXPECT_FALSE(Defaults().boolForKey(plat::defaults::kPngOutEnabled));
    EXPECT_EQ(ReadBytes(Path("in.png")), before);
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

// The fake writes `bytes` bytes starting with `signature` to the tool's output
// (the last argument, or the one after -o / -outfile), then exits with `code`.
std::string WriterScript(const std::string& signature, int bytes, int code, const std::string& outputFlag = "") {
    std::string find = outputFlag.empty()
                           ? "for a in \"$@\"; do out=\"$a\"; done\n"
                           : "while [ $# -gt 0 ]; do if [ \"$1\" = " + outputFlag + " ]; then out=\"$2\"; fi; shift; done\n";
    return find + "printf '" + signature + "' > \"$out\"\n" + "head -c " + std::to_string(bytes) +
           " /dev/zero | tr '\\0' 'z' >> \"$out\"\n" + "exit " + std::to_string(code);
}

constexpr const char* kPngSignature = "\\211PNG\\r\\n\\032\\n";  // 8 bytes

TEST_F(AgentArgumentsTest, PngCrushOutputMustBeValidSmallerAndSuccessful) {
    const Bytes before = ReadBytes(Path("in.png"));
    auto attempt = [&](const std::string& script) {
        UseFakeTool(plat::Tool::PngCrush, script);
        optimisation::KSMPngCrushAgent(FileFor("in.png")).run();
        EXPECT_TRUE(LeftoverWorkingFiles().empty());
        return ReadBytes(Path("in.png"));
    };
    // A well-formed PNG of a given size, which the fake copies to its output.
    auto copying = [&](std::size_t size) {
        const Bytes stored = MakeStoredPng(1, 1);
        const std::size_t data = size - 33 - 12 - 12;
        Bytes png(size, 'z');
        std::copy(stored.begin(), stored.begin() + 33, png.begin());  // signature and IHDR
        const std::uint8_t idat[8] = {0, 0, 0, static_cast<std::uint8_t>(data), 'I', 'D', 'A', 'T'};
        std::copy(std::begin(idat), std::end(idat), png.begin() + 33);
        std::copy(stored.end() - 12, stored.end(), png.end() - 12);  // IEND
        WriteBytes(Path("sized.png"), png);
    };
    const std::string copyScript = "for a in \"$@\"; do out=\"$a\"; done; cp '" + Path("sized.png").string() + "' \"$out\"";
    copying(70);
    EXPECT_EQ(attempt(copyScript), before);
    EXPECT_EQ(attempt(WriterScript(kPngSignature, 300, 1)), before);                 // tool failed
    EXPECT_EQ(attempt(WriterScript(kPngSignature, before.size() + 10, 0)), before);  // larger
    EXPECT_EQ(attempt(WriterScript(kPngSignature, before.size() - 8, 0)), before);   // same size
    EXPECT_EQ(attempt(WriterScript(kPngSignature, 300, 0)), before);                 // no chunks
    EXPECT_EQ(attempt(WriterScript("GIF89a", 300, 0)), before);                      // not a PNG
    EXPECT_EQ(attempt("kill -9 $$"), before);

    ::chmod(Path("in.png").c_str(), 0604);
    copying(71);
    const Bytes replaced = attempt(copyScript);
    EXPECT_EQ(replaced.size(), 71u);
    struct stat st{};
    ASSERT_EQ(::stat(Path("in.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);  // the original's permissions
}

TEST_F(AgentArgumentsTest, OutputOfTheOriginalsKindReplacesIt) {
    // An original that is no image may take an output that is none either;
    // an image takes only its own kind (see the PNG and JPEG cases).
    WriteText(Path("plain.dat"), std::string(3000, 'p'));
    UseFakeTool(plat::Tool::OptiPng, WriterScript("", 200, 0, "-out"));
    optimisation::OptiPNGAgent(FileFor("plain.dat")).run();
    EXPECT_EQ(ReadBytes(Path("plain.dat")), Bytes(200, 'z'));
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

TEST_F(AgentArgumentsTest, JpegOptimResultMustBeCompleteJpegAndSmaller) {
    const Bytes before = ReadBytes(Path("in.jpg"));
    auto attempt = [&](const std::string& script) {
        UseFakeTool(plat::Tool::JpegOptim, script);
        optimisation::JPEGOptimAgent(FileFor("in.jpg"), 100, false).run();
        EXPECT_TRUE(LeftoverWorkingFiles().empty());
        return ReadBytes(Path("in.jpg"));
    };
    EXPECT_EQ(attempt("for a in \"$@\"; do out=\"$a\"; done; : > \"$out\""), before);  // emptied
    EXPECT_EQ(attempt("for a in \"$@\"; do out=\"$a\"; done; echo text > \"$out\""), before);
    EXPECT_EQ(attempt("for a in \"$@\"; do out=\"$a\"; done; rm \"$out\""), before);
    EXPECT_EQ(attempt(WriterScript("\\377\\330\\377", 100, 3)), before);

    // The tool sees a complete working copy of the original.
    EXPECT_EQ(attempt("for a in \"$@\"; do out=\"$a\"; done; cp \"$out\" '" + Path("seen.jpg").string() + "'"), before);
    EXPECT_EQ(ReadBytes(Path("seen.jpg")), before);
}

TEST_F(AgentArgumentsTest, JpegTranReplacesOnlyAfterSuccessWithSmallerOutput) {
    const Bytes before = ReadBytes(Path("in.jpg"));
    auto attempt = [&](const std::string& script) {
        UseFakeTool(plat::Tool::JpegTran, script);
        optimisation::JPEGTranAgent(FileFor("in.jpg")).run();
        EXPECT_TRUE(LeftoverWorkingFiles().empty());
        return ReadBytes(Path("in.jpg"));
    };
    EXPECT_EQ(attempt("exit 1"), before);                                    // no output at all
    EXPECT_EQ(attempt(WriterScript("\\377\\330\\377", 100, 2, "-outfile")), before);  // partial, failed
    EXPECT_EQ(attempt(WriterScript("", 0, 0, "-outfile")), before);                   // empty
    EXPECT_EQ(attempt(WriterScript("\\377\\330\\377", before.size(), 0, "-outfile")), before);
    EXPECT_EQ(attempt(WriterScript("\\377\\330\\377", 100, 0, "-outfile")).size(), 103u);
}

TEST_F(AgentArgumentsTest, GifsicleOutputNotTakenIsDeleted) {
    auto file = FileFor("in.gif");
    UseFakeTool(plat::Tool::Gifsicle, WriterScript("GIF89a", 100, 1, "-o"));
    optimisation::GifsicleAgent(file).run();
    EXPECT_EQ(file->filePathOptimized(), "");
    EXPECT_TRUE(LeftoverWorkingFiles().empty());

    UseFakeTool(plat::Tool::Gifsicle, WriterScript("GIF89a", 100, 0, "-o"));
    optimisation::GifsicleAgent(file).run();
    EXPECT_EQ(file->byteSizeOptimized(), 106u);
    EXPECT_EQ(file->bestToolName(), "Gifsicle");
    EXPECT_EQ(LeftoverWorkingFiles().size(), 1u);  // the pending result

    // A larger second result is not taken and goes away.
    UseFakeTool(plat::Tool::Gifsicle, WriterScript("GIF89a", 200, 0, "-o"));
    optimisation::GifsicleAgent interlaced(file);
    interlaced.setInterlace(true);
    interlaced.run();
    EXPECT_EQ(file->bestToolName(), "Gifsicle");
    EXPECT_EQ(LeftoverWorkingFiles().size(), 1u);

    UseFakeTool(plat::Tool::Gifsicle, WriterScript("GIF89a", 50, 0, "-o"));
    interlaced.run();
    EXPECT_EQ(file->bestToolName(), "Gifsicle interlaced");
    EXPECT_EQ(file->byteSizeOptimized(), 56u);
    EXPECT_EQ(LeftoverWorkingFiles().size(), 1u);
    file->cleanup();
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

}  // namespace
