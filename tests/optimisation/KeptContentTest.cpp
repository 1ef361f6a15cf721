// What the real optimisers would drop stays: the frames of an animated PNG,
// a PNG's ancillary chunks when nothing is to be stripped, and the further
// images or trailing data of a JPEG.

#include "OptimisationTestSupport.h"

#include "optimisation/PngMetadata.h"
#include "optimisation/optimisation.h"

namespace {

using namespace optest;
using optimisation::File;

class KeptContentTest : public OptimisationTest {
protected:
    std::shared_ptr<File> FileFor(const std::string& name) { return std::make_shared<File>(Path(name).string()); }
};

TEST_F(KeptContentTest, AnimatedPngIsLeftAsItIs) {
    const Bytes apng = MakeApng(48, 32);
    for (const auto& tool : InPlaceAgents("png")) {
        WriteBytes(Path("anim.png"), apng);
        auto file = FileFor("anim.png");
        tool.run(file);
        EXPECT_EQ(ReadBytes(Path("anim.png")), apng) << tool.tool;
        EXPECT_EQ(file->statusText(), "Animated PNG left as it is") << tool.tool;
        EXPECT_EQ(file->statusImage(), "noopt");
    }
    auto queued = RunQueue(Path("anim.png"));
    EXPECT_EQ(ReadBytes(Path("anim.png")), apng);
    EXPECT_EQ(queued->statusText(), "Animated PNG left as it is");
    EXPECT_EQ(queued->workersTotal(), 0u);
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

TEST_F(KeptContentTest, PngMetadataSurvivesEveryPngTool) {
    const Bytes original = MakeStoredPngWith(64, 48, MetadataChunks());
    WriteBytes(Path("meta.png"), original);
    const Bytes pixels = DecodePixels(Path("meta.png"));
    ASSERT_FALSE(pixels.empty());
    for (const auto& tool : InPlaceAgents("png")) {
        WriteBytes(Path("meta.png"), original);
        auto file = FileFor("meta.png");
        tool.run(file);
        const Bytes result = ReadBytes(Path("meta.png"));
        EXPECT_LT(result.size(), original.size()) << tool.tool;
        EXPECT_EQ(DecodePixels(Path("meta.png")), pixels) << tool.tool;
        const auto types = PngChunkTypes(result);
        for (const auto& chunk : MetadataChunks()) {
            EXPECT_NE(std::find(types.begin(), types.end(), chunk.type), types.end()) << tool.tool << " " << chunk.type;
        }
        EXPECT_EQ(PngChunkData(result, "eXIf"), PngChunkData(original, "eXIf")) << tool.tool;
        EXPECT_EQ(PngChunkData(result, "tEXt"), PngChunkData(original, "tEXt")) << tool.tool;
        // Colour chunks before the image data, the late ones after it.
        const auto at = [&](const char* type) { return std::find(types.begin(), types.end(), type) - types.begin(); };
        EXPECT_LT(at("iCCP"), at("IDAT")) << tool.tool;
        EXPECT_GT(at("vaNt"), at("IDAT")) << tool.tool;
        EXPECT_EQ(file->statusText(), std::string("Optimized successfully with ") + tool.tool);
        EXPECT_EQ(file->byteSize(), original.size());
        EXPECT_EQ(file->byteSizeOptimized(), result.size());
    }
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

TEST_F(KeptContentTest, StrippingPngCrushStillRemovesMetadata) {
    WriteBytes(Path("strip.png"), MakeStoredPngWith(64, 48, MetadataChunks()));
    optimisation::KSMPngCrushAgent agent(FileFor("strip.png"));
    agent.setStrip(true);
    agent.run();
    const auto types = PngChunkTypes(ReadBytes(Path("strip.png")));
    for (const char* gone : {"tEXt", "iTXt", "eXIf", "tIME"}) {
        EXPECT_EQ(std::find(types.begin(), types.end(), gone), types.end()) << gone;
    }
}

TEST_F(KeptContentTest, CarryOverPutsChunksWhereTheFormatWantsThem) {
    // A palette image with transparency, a profile, a caption after the data.
    Bytes palette{0, 0, 0, 255, 255, 255};
    auto paletted = [&](std::uint8_t colourType, const std::vector<ExtraChunk>& chunks) {
        Bytes png = MakeStoredPngWith(8, 8, chunks);
        png[25] = colourType;  // IHDR colour type (its CRC is not looked at)
        return png;
    };
    const Bytes original = paletted(3, {{"iCCP", {'p', 0, 0, 1, 2}, false},
                                        {"PLTE", palette, false},
                                        {"tRNS", {0, 128}, false},
                                        {"tEXt", {'k', 0, 'v'}, true}});
    const Bytes bare = paletted(3, {{"PLTE", palette, false}});

    struct Case {
        const char* what;
        Bytes result;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {"all dropped", bare, {"IHDR", "iCCP", "PLTE", "tRNS", "IDAT", "tEXt", "IEND"}},
        {"profile kept", paletted(3, {{"iCCP", {'p', 0, 0, 9}, false}, {"PLTE", palette, false}}),
         {"IHDR", "iCCP", "PLTE", "tRNS", "IDAT", "tEXt", "IEND"}},
        // Another colour type without the transparency: it cannot be put
        // back in the old format's terms, and the result is refused as it is.
        {"reduced", paletted(2, {}), {}},
    };
    for (const auto& c : cases) {
        Bytes result = c.result;
        EXPECT_EQ(optimisation::CarryOverAncillaryChunks(original, result), !c.expected.empty()) << c.what;
        EXPECT_EQ(PngChunkTypes(result), c.expected.empty() ? PngChunkTypes(c.result) : c.expected) << c.what;
    }
    // A background in a reordered palette is named by its new index; one
    // whose colour left the palette cannot be named, and the result is refused.
    const Bytes withBackground = paletted(3, {{"PLTE", palette, false}, {"bKGD", {1}, false}});
    Bytes reordered = paletted(3, {{"PLTE", {255, 255, 255, 0, 0, 0}, false}});
    ASSERT_TRUE(optimisation::CarryOverAncillaryChunks(withBackground, reordered));
    EXPECT_EQ(PngChunkData(reordered, "bKGD"), Bytes{0});
    EXPECT_EQ(PngChunkTypes(reordered), (std::vector<std::string>{"IHDR", "PLTE", "bKGD", "IDAT", "IEND"}));
    Bytes shortened = paletted(3, {{"PLTE", {0, 0, 0}, false}});
    EXPECT_FALSE(optimisation::CarryOverAncillaryChunks(withBackground, shortened));
    EXPECT_EQ(PngChunkData(shortened, "bKGD"), std::nullopt);

    // An 8-bit RGB image reduced to a palette: the background is found by its
    // colour, the significant bits hold for the palette's samples.
    const Bytes rgb = MakeStoredPngWith(8, 8, {{"sBIT", {5, 6, 5}, false}, {"bKGD", {0, 10, 0, 20, 0, 30}, false}});
    Bytes reduced = paletted(3, {{"PLTE", {1, 2, 3, 10, 20, 30}, false}});
    ASSERT_TRUE(optimisation::CarryOverAncillaryChunks(rgb, reduced));
    EXPECT_EQ(PngChunkTypes(reduced), (std::vector<std::string>{"IHDR", "sBIT", "PLTE", "bKGD", "IDAT", "IEND"}));
    EXPECT_EQ(PngChunkData(reduced, "bKGD"), Bytes{1});
    EXPECT_EQ(PngChunkData(reduced, "sBIT"), (Bytes{5, 6, 5}));
    Bytes elsewhere = paletted(3, {{"PLTE", {1, 2, 3}, false}});
    EXPECT_FALSE(optimisation::CarryOverAncillaryChunks(rgb, elsewhere));

    // A second caption with another keyword is not taken for the first.
    Bytes other = bare;
    const Bytes otherText = PngChunk("tEXt", {'o', 0, 'v'});
    other.insert(other.end() - 12, otherText.begin(), otherText.end());
    ASSERT_TRUE(optimisation::CarryOverAncillaryChunks(original, other));
    const auto otherTypes = PngChunkTypes(other);
    EXPECT_EQ(std::count(otherTypes.begin(), otherTypes.end(), "tEXt"), 2);
    // Broken files are refused and the result stays as it was.
    Bytes truncated(bare.begin(), bare.end() - 6);
    const Bytes kept = truncated;
    EXPECT_FALSE(optimisation::CarryOverAncillaryChunks(original, truncated));
    EXPECT_EQ(truncated, kept);
    Bytes fine = bare;
    EXPECT_FALSE(optimisation::CarryOverAncillaryChunks(Bytes(original.begin(), original.begin() + 40), fine));
}

// A 64 x 48 image of `colourType` (0 grey, 3 palette) at 4 bits, stored
// uncompressed, with the chunks given before the image data.
Bytes FourBitPng(std::uint8_t colourType, const std::vector<std::pair<std::string, Bytes>>& chunks) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto append = [&png](const Bytes& chunk) { png.insert(png.end(), chunk.begin(), chunk.end()); };
    append(PngChunk("IHDR", {0, 0, 0, 64, 0, 0, 0, 48, 4, colourType, 0, 0, 0}));
    for (const auto& [type, data] : chunks) append(PngChunk(type, data));
    Bytes raw;
    for (int y = 0; y < 48; ++y) {
        raw.push_back(0);
        for (int x = 0; x < 32; ++x) raw.push_back(static_cast<std::uint8_t>(((x + y) % 16) << 4 | (x * 3 + y) % 16));
    }
    append(PngChunk("IDAT", Deflate(raw, 0)));
    append(PngChunk("IEND", {}));
    return png;
}

TEST_F(KeptContentTest, PaletteChunksSurviveAdvPngDepthChange) {
    Bytes palette;
    for (int i = 0; i < 16; ++i) palette.insert(palette.end(), {std::uint8_t(i * 16), std::uint8_t(255 - i * 16), 40});
    const Bytes significant{5, 6, 5};
    const Bytes histogram(32, 1);
    const Bytes original = FourBitPng(3, {{"sBIT", significant}, {"PLTE", palette}, {"hIST", histogram}});
    WriteBytes(Path("p.png"), original);
    const Bytes pixels = DecodePixels(Path("p.png"));
    optimisation::AdvCompAgent(FileFor("p.png")).run();
    const Bytes result = ReadBytes(Path("p.png"));
    ASSERT_LT(result.size(), original.size());
    ASSERT_EQ(PngChunkData(result, "IHDR")->at(8), 8);  // the tool made it 8-bit
    EXPECT_EQ(PngChunkData(result, "PLTE"), palette);
    EXPECT_EQ(PngChunkData(result, "sBIT"), significant);
    EXPECT_EQ(PngChunkData(result, "hIST"), histogram);
    EXPECT_EQ(PngChunkTypes(result), (std::vector<std::string>{"IHDR", "sBIT", "PLTE", "hIST", "IDAT", "IEND"}));
    EXPECT_EQ(DecodePixels(Path("p.png")), pixels);

    // Where their meaning does not survive (a histogram of another palette,
    // the significant bits of grey samples that were 4-bit), the result is
    // refused and stays as it was.
    Bytes otherPalette = palette;
    otherPalette[0] ^= 0xFF;
    for (auto [from, to] : {std::pair{original, FourBitPng(3, {{"PLTE", otherPalette}})},
                            {FourBitPng(0, {{"sBIT", {3}}}), FourBitPng(0, {})}}) {
        to[24] = 8;  // IHDR bit depth (its CRC is not looked at)
        const Bytes before = to;
        EXPECT_FALSE(optimisation::CarryOverAncillaryChunks(from, to));
        EXPECT_EQ(to, before);
    }
}

// The tools shorten a palette whose background no pixel uses and drop the
// background with it; in a chain each tool starts from the one before. The
// result, on either road and whether the tools run side by side or one
// after another, names the original's background colour.
TEST_F(KeptContentTest, PaletteBackgroundSurvivesEveryRoadAndChain) {
    const struct { const char* what; int width, height, levels; std::vector<int> cpus; } cases[] = {
        {"480 x 360, 30 colours", 480, 360, 4, {1, 2, 3, 1}},
        {"400 x 300, 8 colours (a 4-bit palette fits)", 400, 300, 2, {1, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes original = MakePlasmaPalettePng(c.width, c.height, c.levels);
        const auto background = PngBackgroundColour(original);
        ASSERT_TRUE(background);
        WriteBytes(Path("plasma.png"), original);
        const Bytes pixels = DecodePixels(Path("plasma.png"));
        ASSERT_FALSE(pixels.empty());
        // A single tool may find nothing it can take; a chain always does.
        const auto check = [&](const std::string& road, bool smaller) {
            const Bytes result = ReadBytes(Path("plasma.png"));
            EXPECT_LE(result.size() + (smaller ? 1 : 0), original.size()) << road;
            EXPECT_EQ(PngBackgroundColour(result), background) << road;
            EXPECT_EQ(DecodePixels(Path("plasma.png")), pixels) << road;
        };
        for (const auto& tool : InPlaceAgents("png")) {
            WriteBytes(Path("plasma.png"), original);
            tool.run(FileFor("plasma.png"));
            check(tool.tool, false);
        }
        for (const int cpu : c.cpus) {
            WriteBytes(Path("plasma.png"), original);
            RunQueue(Path("plasma.png"), cpu);
            check("chain at " + std::to_string(cpu) + " processors", true);
        }
    }
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

TEST_F(KeptContentTest, JpegWithMoreThanOneImageIsLeftAsItIs) {
    Bytes video = MakeJpeg(48, 32, true);
    const std::string boxes("\0\0\0\x0C" "ftypmp42" "\0\0\0\x08" "mdat", 20);  // the start of an MP4
    video.insert(video.end(), boxes.begin(), boxes.end());
    struct Case {
        const char* what;
        Bytes jpeg;
    };
    const std::vector<Case> cases{
        {"multi-picture file", MakeTwoImageJpeg(true)},
        {"appended gain map", MakeTwoImageJpeg(false)},
        {"MPF index only", [] {
             Bytes jpeg = MakeTwoImageJpeg(true);
             jpeg.resize(jpeg.size() - MakeJpeg(24, 16, false).size());
             return jpeg;
         }()},
        {"appended video", video},
        {"progressive with an appended image", [] {
             Bytes jpeg = MakeJpeg(48, 32, true, true);
             const Bytes second = MakeJpeg(24, 16, false, true);
             jpeg.insert(jpeg.end(), second.begin(), second.end());
             return jpeg;
         }()},
    };
    for (const auto& c : cases) {
        for (const auto& agent : InPlaceAgents("jpg")) {
            WriteBytes(Path("two.jpg"), c.jpeg);
            auto file = FileFor("two.jpg");
            agent.run(file);
            EXPECT_EQ(ReadBytes(Path("two.jpg")), c.jpeg) << c.what << " " << agent.tool;
            EXPECT_EQ(file->statusText(), "JPEG with more than one image left as it is") << c.what;
        }
    }
    WriteBytes(Path("two.jpg"), MakeTwoImageJpeg(true));
    EXPECT_EQ(RunQueue(Path("two.jpg"))->statusText(), "JPEG with more than one image left as it is");

    // Padding after the image is no image: the file is optimised.
    for (bool progressive : {false, true}) {
        Bytes padded = MakeJpeg(48, 32, true, progressive);
        padded.insert(padded.end(), 64, 0);
        WriteBytes(Path("padded.jpg"), padded);
        auto file = FileFor("padded.jpg");
        optimisation::JPEGOptimAgent(file, 100, false).run();
        EXPECT_LT(File::fileByteSize(Path("padded.jpg").string()), padded.size()) << progressive;
        EXPECT_EQ(file->statusText(), "Optimized successfully with JpegOptim") << progressive;
    }
    EXPECT_TRUE(LeftoverWorkingFiles().empty());
}

}  // namespace
