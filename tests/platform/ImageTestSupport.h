#pragma once
// Fixtures for the image I/O tests: a private temporary folder per test and
// small images made in code.

#include "platform/Image.h"
#include "platform/Initialize.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace imagetest {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantrell-imageio-XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        if (made) path_ = made;
    }
    ~TempFolder() {
        std::error_code error;
        if (!path_.empty()) std::filesystem::remove_all(path_, error);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    std::size_t entryCount() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(path_)) ++n;
        return n;
    }

private:
    std::filesystem::path path_;
};

// A w × h RGBA image: left half red, right half blue; with alpha the bottom
// row is fully transparent.
inline plat::ImageRef MakeTestImage(int w, int h, bool alpha = false) {
    plat::Initialize();
    const int bands = alpha ? 4 : 3;
    std::vector<std::uint8_t> pixels(std::size_t(w) * h * bands);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &pixels[(std::size_t(y) * w + x) * bands];
            const bool left = x < w / 2;
            p[0] = left ? 255 : 0;
            p[1] = 0;
            p[2] = left ? 0 : 255;
            if (alpha) p[3] = y == h - 1 ? 0 : 255;
        }
    }
    return plat::Image::FromPixels(w, h, pixels.data(), 0, alpha);
}

inline std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Every sample of a vips image, as it computes them.
inline std::vector<std::uint8_t> SamplesOf(const vips::VImage& image) {
    std::size_t size = 0;
    void* memory = image.write_to_memory(&size);
    std::vector<std::uint8_t> samples(static_cast<std::uint8_t*>(memory), static_cast<std::uint8_t*>(memory) + size);
    g_free(memory);
    return samples;
}

// RGBA of pixel (x, y) of an image, top row first.
inline std::array<int, 4> PixelAt(const plat::Image& image, int x, int y) {
    std::vector<std::uint8_t> rgba = image.copyRGBA8();
    const std::size_t i = (std::size_t(y) * image.width() + x) * 4;
    if (i + 3 >= rgba.size()) return {-1, -1, -1, -1};
    return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
}

}  // namespace imagetest
