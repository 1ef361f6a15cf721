// The agents with the real Debian optimisers on images made here: smaller
// files, identical pixels, never a larger file, nothing left behind.

#include "OptimisationTestSupport.h"

#include "optimisation/optimisation.h"

#include <sys/stat.h>

namespace {

using namespace optest;
using optimisation::File;

class RealToolsTest : public OptimisationTest {
protected:
    std::shared_ptr<File> FileFor(const std::string& name) {
        return std::make_shared<File>(Path(name).string());
    }

    template <class AgentType, class... Extra>
    void Run(const std::string& name, Extra... extra) {
        AgentType agent(FileFor(name), extra...);
        agent.run();
        EXPECT_TRUE(LeftoverWorkingFiles().empty());
    }
};

TEST_F(RealToolsTest, PngCrushShrinksStoredPngWithIdenticalPixels) {
    WriteBytes(Path("a.png"), MakeStoredPng(64, 48));
    ::chmod(Path("a.png").c_str(), 0640);
    const Bytes pixels = DecodePixels(Path("a.png"));
    ASSERT_FALSE(pixels.empty());
    const auto before = File::fileByteSize(Path("a.png").string());

    Run<optimisation::KSMPngCrushAgent>("a.png", std::int64_t{1});
    const auto after = File::fileByteSize(Path("a.png").string());
    EXPECT_LT(after, before);
    EXPECT_EQ(DecodePixels(Path("a.png")), pixels);
    struct stat st{};
    ASSERT_EQ(::stat(Path("a.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Already optimal: the file stays byte for byte as it is.
    const Bytes optimal = ReadBytes(Path("a.png"));
    Run<optimisation::KSMPngCrushAgent>("a.png", std::int64_t{1});
    EXPECT_EQ(ReadBytes(Path("a.png")), optimal);
}

TEST_F(RealToolsTest, JpegOptimKeepsOrStripsExif) {
    WriteBytes(Path("keep.jpg"), MakeJpeg(64, 64, true));
    WriteBytes(Path("strip.jpg"), MakeJpeg(64, 64, true));
    const Bytes pixels = DecodePixels(Path("keep.jpg"));
    ASSERT_FALSE(pixels.empty());
    const auto before = File::fileByteSize(Path("keep.jpg").string());

    Run<optimisation::JPEGOptimAgent>("keep.jpg", std::int64_t{100}, false);
    const Bytes kept = ReadBytes(Path("keep.jpg"));
    EXPECT_LT(kept.size(), before);
    EXPECT_TRUE(Contains(kept, std::string_view("Exif\0\0", 6)));
    EXPECT_TRUE(Contains(kept, "Vantrel"));
    EXPECT_EQ(DecodePixels(Path("keep.jpg")), pixels);

    Run<optimisation::JPEGOptimAgent>("strip.jpg", std::int64_t{100}, true);
    const Bytes stripped = ReadBytes(Path("strip.jpg"));
    EXPECT_LT(stripped.size(), kept.size());
    EXPECT_FALSE(Contains(stripped, "Exif"));
    EXPECT_FALSE(Contains(stripped, "Vantrel"));
    EXPECT_EQ(DecodePixels(Path("strip.jpg")), pixels);

    // Nothing more to gain: unchanged.
    Run<optimisation::JPEGOptimAgent>("keep.jpg", std::int64_t{100}, false);
    EXPECT_EQ(ReadBytes(Path("keep.jpg")), kept);
}

TEST_F(RealToolsTest, NonJpegWithJpegNameIsLeftAlone) {
    WriteText(Path("fake.jpg"), std::string(5000, 'x'));
    const Bytes before = ReadBytes(Path("fake.jpg"));
    Run<optimisation::JPEGOptimAgent>("fake.jpg", std::int64_t{100}, false);
    EXPECT_EQ(ReadBytes(Path("fake.jpg")), before);
    Run<optimisation::JPEGTranAgent>("fake.jpg");
    EXPECT_EQ(ReadBytes(Path("fake.jpg")), before);

    // A truncated JPEG is not made worse: jpegoptim may store what it
    // decodes (the missing part as flat blocks, as any decoder shows it).
    Bytes truncated = MakeJpeg(64, 64, false);
    truncated.resize(truncated.size() / 2);
    WriteBytes(Path("cut.jpg"), truncated);
    const Bytes cutPixels = DecodePixels(Path("cut.jpg"));
    Run<optimisation::JPEGOptimAgent>("cut.jpg", std::int64_t{100}, false);
    Run<optimisation::JPEGTranAgent>("cut.jpg");
    Run<optimisation::KSMPngCrushAgent>("cut.jpg");
    EXPECT_LE(File::fileByteSize(Path("cut.jpg").string()), truncated.size());
    EXPECT_EQ(DecodePixels(Path("cut.jpg")), cutPixels);
}

TEST_F(RealToolsTest, PngToolsShrinkAndNeverGrow) {
    for (int tool = 0; tool < 2; ++tool) {
        const std::string name = tool == 0 ? "opti.png" : "adv.png";
        WriteBytes(Path(name), MakeStoredPng(64, 48));
        const Bytes pixels = DecodePixels(Path(name));
        const auto before = File::fileByteSize(Path(name).string());
        for (int round = 0; round < 2; ++round) {
            const auto previous = File::fileByteSize(Path(name).string());
            if (tool == 0) {
                Run<optimisation::OptiPNGAgent>(name);
            } else {
                Run<optimisation::AdvCompAgent>(name);
            }
            EXPECT_LE(File::fileByteSize(Path(name).string()), previous) << name;
            EXPECT_EQ(DecodePixels(Path(name)), pixels) << name;
        }
        EXPECT_LT(File::fileByteSize(Path(name).string()), before) << name;
    }
}

TEST_F(RealToolsTest, JpegTranShrinksWithIdenticalPixels) {
    WriteBytes(Path("a.jpg"), MakeJpeg(64, 64, true));
    const Bytes pixels = DecodePixels(Path("a.jpg"));
    const auto before = File::fileByteSize(Path("a.jpg").string());
    Run<optimisation::JPEGTranAgent>("a.jpg");
    const Bytes once = ReadBytes(Path("a.jpg"));
    EXPECT_LT(once.size(), before);
    EXPECT_TRUE(Contains(once, "Vantrel"));  // -copy all
    EXPECT_EQ(DecodePixels(Path("a.jpg")), pixels);
    Run<optimisation::JPEGTranAgent>("a.jpg");
    EXPECT_LE(File::fileByteSize(Path("a.jpg").string()), once.size());
}

TEST_F(RealToolsTest, GifsicleResultIsSavedThroughTheFile) {
    WriteBytes(Path("a.gif"), MakeLiteralGif(64, 48));
    const Bytes pixels = DecodePixels(Path("a.gif"));
    ASSERT_FALSE(pixels.empty());
    const auto before = File::fileByteSize(Path("a.gif").string());
    auto file = FileFor("a.gif");
    file->setByteSize(before);
    optimisation::GifsicleAgent plain(file);
    plain.run();
    optimisation::GifsicleAgent interlaced(file);
    interlaced.setInterlace(true);
    interlaced.run();
    ASSERT_NE(file->filePathOptimized(), "");
    EXPECT_LT(file->byteSizeOptimized(), before);
    EXPECT_EQ(LeftoverWorkingFiles().size(), 1u);  // only the better of the two
    ASSERT_TRUE(file->saveResult());
    EXPECT_EQ(File::fileByteSize(Path("a.gif").string()), file->byteSizeOptimized());
    EXPECT_EQ(DecodePixels(Path("a.gif")), pixels);
    EXPECT_TRUE(LeftoverWorkingFiles().empty());

    // Run again on the optimised file: never a larger result.
    const auto optimised = File::fileByteSize(Path("a.gif").string());
    auto again = FileFor("a.gif");
    optimisation::GifsicleAgent(again).run();
    EXPECT_LE(again->byteSizeOptimized(), optimised);
    again->cleanup();
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

}  // namespace
