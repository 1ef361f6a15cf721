#pragma once
// Fixtures for the optimisation tests: a private folder per test (also the
// temporary and preferences folders), image files made in code, pixel
// decoding, and a fake tool that records its argument vector.

#include "platform/Initialize.h"
#include "platform/ToolRunner.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace optest {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const Bytes& bytes);
void WriteText(const fs::path& path, const std::string& text);

// An RGB PNG whose image data is stored without compression.
Bytes MakeStoredPng(int width, int height);
// A baseline JPEG with standard Huffman tables (not optimised); with `exif`
// an APP1 Exif segment carrying a camera make.
Bytes MakeJpeg(int width, int height, bool exif);
// A GIF whose LZW stream holds one literal code per pixel: valid, but far
// from the smallest.
Bytes MakeLiteralGif(int width, int height);
// Decoded pixels (8-bit, bands interleaved) with width and height in front,
// or empty when the file does not decode.
Bytes DecodePixels(const fs::path& path);
bool Contains(const Bytes& haystack, std::string_view needle);

// Names in the private temporary folder that start with "Vantrell.".
std::vector<std::string> LeftoverWorkingFiles();

// Each test gets its own folder, used as TMPDIR and XDG_CONFIG_HOME, with
// fresh user defaults and no tool overrides.
class OptimisationTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    fs::path Path(const std::string& name) const { return dir_ / name; }
    plat::UserDefaults& Defaults() { return plat::UserDefaults::standardUserDefaults(); }

    // Makes `tool` the test binary acting as a recording fake; the shell
    // `script` (may be empty) then runs with the tool's arguments as $1...
    void UseFakeTool(plat::Tool tool, const std::string& script);
    // The argument vectors of the fake's runs, argv[0] included.
    std::vector<std::vector<std::string>> FakeRuns() const;

    fs::path dir_;

private:
    std::optional<std::string> oldTmp_;
    std::optional<std::string> oldConfig_;
    std::optional<std::string> oldResources_;
};

}  // namespace optest
