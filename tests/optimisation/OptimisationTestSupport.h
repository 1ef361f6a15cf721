#pragma once
// Fixtures for the optimisation tests: a folder per test, images made in
// code, pixel decoding, and a fake tool that records its argument vector.

#include "platform/Initialize.h"
#include "platform/ToolRunner.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace optimisation {
class File;
}  // namespace optimisation

namespace optest {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const Bytes& bytes);
void WriteText(const fs::path& path, const std::string& text);

// An RGB PNG whose image data is stored without compression.
Bytes MakeStoredPng(int width, int height);
// A baseline JPEG with standard Huffman tables (not optimised); with `exif`
// an APP1 Exif segment carrying a camera make; with `progressive` in
// several scans.
Bytes MakeJpeg(int width, int height, bool exif, bool progressive = false);
// A GIF whose LZW stream holds one literal code per pixel: far from smallest.
Bytes MakeLiteralGif(int width, int height);
// zlib-compressed data at that level (0: stored).
Bytes Deflate(const Bytes& raw, int level);
// One PNG chunk with its length and CRC.
Bytes PngChunk(const std::string& type, const Bytes& data);
struct ExtraChunk {
    std::string type;
    Bytes data;
    bool afterImageData = false;
};
// MakeStoredPng with further chunks before or after the image data.
Bytes MakeStoredPngWith(int width, int height, const std::vector<ExtraChunk>& chunks);
// The chunks a PNG's optimiser output must keep: an sRGB ICC profile, gAMA,
// pHYs, a tEXt caption, an iTXt, an eXIf block, and after the image data a
// tIME and a private safe-to-copy chunk.
std::vector<ExtraChunk> MetadataChunks();
// An animated PNG (acTL, fcTL, IDAT, fcTL, fdAT) with stored image data.
Bytes MakeApng(int width, int height);
// The type of every chunk of a PNG, in order; empty when it does not parse.
std::vector<std::string> PngChunkTypes(const Bytes& png);
// The data of the first chunk of that type, or nothing.
std::optional<Bytes> PngChunkData(const Bytes& png, const std::string& type);
// An interlaced palette PNG of a plasma with `levels` steps per band (at
// most 6 for a palette of its own), as libvips writes it quickly, with a
// background (bKGD) that no pixel uses appended to its palette, as image
// editors add one.
Bytes MakePlasmaPalettePng(int width, int height, int levels);
// The colour a palette PNG's bKGD names; nothing when there is none or it
// names no palette entry.
std::optional<Bytes> PngBackgroundColour(const Bytes& png);
// A baseline JPEG followed by a second one, with an MPF index in the first
// when `mpf` (as cameras and gain-map JPEGs write).
Bytes MakeTwoImageJpeg(bool mpf);

// Decoded pixels (8-bit, bands interleaved) with width and height in front,
// or empty when the file does not decode.
Bytes DecodePixels(const fs::path& path);
bool Contains(const Bytes& haystack, std::string_view needle);

// Every agent that replaces the file itself, with the file type it works on.
struct InPlaceAgent {
    const char* tool;  // the name in "Optimized successfully with %@"
    const char* extension;
    std::function<void(std::shared_ptr<optimisation::File>)> run;
};
const std::vector<InPlaceAgent>& InPlaceAgents();
// Those of them that work on `extension` files.
std::vector<InPlaceAgent> InPlaceAgents(std::string_view extension);

// Names in the private temporary folder that start with "Vantrell.".
std::vector<std::string> LeftoverWorkingFiles();
// The sorted names in a folder.
std::vector<std::string> Names(const fs::path& folder);

inline constexpr plat::Tool kOverridableTools[] = {plat::Tool::JpegOptim, plat::Tool::PngCrush,
                                                   plat::Tool::Gifsicle,  plat::Tool::OptiPng,
                                                   plat::Tool::AdvPng,    plat::Tool::JpegTran};

// Each test gets its own folder (TMPDIR, XDG_CONFIG_HOME), fresh user
// defaults and no tool overrides.
class OptimisationTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    fs::path Path(const std::string& name) const { return dir_ / name; }
    plat::UserDefaults& Defaults() { return plat::UserDefaults::standardUserDefaults(); }
    // The queue path for the file at `path` with every PNG and JPEG tool on,
    // `processors` of them at once.
    std::shared_ptr<optimisation::File> RunQueue(const fs::path& path, int processors = 2);

    // Makes `tool` the test binary acting as a recording fake; the shell
    // `script` (may be empty) then runs with the tool's arguments as $1...
    void UseFakeTool(plat::Tool tool, const std::string& script);
    // Runs `body` in a child process as the user "nobody" when the tests run
    // as the superuser (who may write anything), else in this process; its
    // result. The test folder is opened to that user first. With `groups`
    // those are the user's further groups.
    bool AsOrdinaryUser(const std::function<bool()>& body, const std::vector<gid_t>& groups = {});
    // The argument vectors of the fake's runs, argv[0] included.
    std::vector<std::vector<std::string>> FakeRuns() const;

    fs::path dir_;

private:
    std::optional<std::string> oldEnv_[3];  // TMPDIR, XDG_CONFIG_HOME, VANTRELL_RESOURCES
};

}  // namespace optest
