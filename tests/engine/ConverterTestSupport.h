#pragma once
// Fixtures for the conversion tests: a private scratch folder per test, small
// images made in code and written with the libraries' encoders, and reading
// results back.

#include "engine/ImageConversion.h"
#include "platform/Image.h"
#include "platform/ImageDestination.h"
#include "platform/ImageSource.h"
#include "platform/Initialize.h"
#include "platform/PropertyDict.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace convtest {

using RGBA = std::array<std::uint8_t, 4>;

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantrell-conv-XXXXXX").string();
        if (char* made = ::mkdtemp(pattern.data())) path_ = made;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Names of everything in the folder.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    std::filesystem::path path_;
};

// The CRC of a PNG chunk over bytes [from, from + length).
inline std::uint32_t Crc32(const std::string& bytes, std::size_t from, std::size_t length) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = from; i < from + length; ++i) {
        crc ^= std::uint8_t(bytes[i]);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline plat::ImageRef MakeImage(int width, int height, const std::function<RGBA(int x, int y)>& pixel,
                                bool alpha = false) {
    const int channels = alpha ? 4 : 3;
    std::vector<std::uint8_t> bytes(std::size_t(width) * height * channels);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const RGBA p = pixel(x, y);
            std::copy(p.begin(), p.begin() + channels, bytes.begin() + (std::size_t(y) * width + x) * channels);
        }
    }
    return plat::Image::FromPixels(width, height, bytes.data(), 0, alpha);
}

inline plat::ImageRef SolidImage(int width, int height, RGBA colour, bool alpha = false) {
    return MakeImage(width, height, [&](int, int) { return colour; }, alpha);
}

// A red square in the top left corner (rows from the top) of a grey image.
inline plat::ImageRef MarkedImage(int width, int height, int mark) {
    return MakeImage(width, height, [&](int x, int y) -> RGBA {
        if (x < mark && y < mark) return {255, 0, 0, 255};
        return {128, 128, 128, 255};
    });
}

inline bool WriteImage(const std::filesystem::path& path, const plat::ImageRef& image, const std::string& uti,
                       const plat::PropertyDict& properties = {}) {
    auto destination = plat::ImageDestination::CreateWithPath(path, uti, 1);
    if (!destination) return false;
    destination->addImage(image, properties);
    return destination->finalize();
}

inline plat::PropertyDict Resolution(double dpiX, double dpiY) {
    plat::PropertyDict properties;
    properties.set(plat::prop::DPIWidth, dpiX);
    properties.set(plat::prop::DPIHeight, dpiY);
    return properties;
}

// The file's first image as stored, decoded.
struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // packed RGBA, top row first
    plat::PropertyDict properties;
    std::string type;

    RGBA at(int x, int y) const {
        const std::size_t i = (std::size_t(y) * width + x) * 4;
        return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
    }
};

// Packed sRGB RGBA of an image, alpha 255 when it has none.
inline std::vector<std::uint8_t> RGBAOf(const plat::Image& image) {
    vips::VImage v = image.vimage();
    if (image.colorModel() == plat::ColorModel::Gray) {
        const vips::VImage grey = v.extract_band(0);
        vips::VImage rgb = vips::VImage::bandjoin(std::vector<vips::VImage>{grey, grey, grey});
        if (image.hasAlpha()) rgb = rgb.bandjoin(v.extract_band(1));
        v = rgb;
    } else if (image.colorModel() == plat::ColorModel::CMYK) {
        v = v.colourspace(VIPS_INTERPRETATION_sRGB).cast(VIPS_FORMAT_UCHAR);
    }
    if (v.bands() == 3) v = v.bandjoin_const({255.0});
    std::size_t size = 0;
    void* memory = v.write_to_memory(&size);
    std::vector<std::uint8_t> bytes(static_cast<std::uint8_t*>(memory), static_cast<std::uint8_t*>(memory) + size);
    g_free(memory);
    return bytes;
}

inline Decoded Decode(const std::filesystem::path& path) {
    Decoded d;
    auto source = plat::ImageSource::Open(path);
    if (!source) return d;
    auto image = source->createImage(0);
    if (!image) return d;
    d.width = image->width();
    d.height = image->height();
    d.rgba = RGBAOf(*image);
    d.properties = source->properties(0);
    d.type = source->typeIdentifier();
    return d;
}

inline Decoded DecodeImage(const plat::ImageRef& image) {
    Decoded d;
    if (!image) return d;
    d.width = image->width();
    d.height = image->height();
    d.rgba = RGBAOf(*image);
    return d;
}

inline bool Near(const RGBA& a, const RGBA& b, int tolerance) {
    for (int i = 0; i < 4; ++i) {
        if (std::abs(int(a[i]) - int(b[i])) > tolerance) return false;
    }
    return true;
}

// A record that converts `source` to `destination` at the same size.
inline ImageConversion SameSizeRecord(const std::filesystem::path& source, const std::filesystem::path& destination,
                                      std::int32_t outputType) {
    ImageConversion record;
    record.sourceURL = source;
    record.destinationURL = destination;
    record.options.outputType = outputType;
    record.options.quality = 0.9;
    record.resize.width = 100;
    record.resize.height = 100;
    record.resize.unit = 1;
    record.resize.scaleOption = 2;
    record.resize.applySize = 1;
    return record;
}

inline void PixelsResize(ImageConversion& record, double width, double height, int option, bool proportional) {
    record.resize.width = width;
    record.resize.height = height;
    record.resize.unit = 2;
    record.resize.scaleOption = option;
    record.resize.keepProportions = proportional ? 1 : 0;
    record.resize.upsample = 1;
}

class ConversionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    ScratchDir dir;
};

}  // namespace convtest
