#include "platform/codecs/ExrCodec.h"

#include "platform/Image.h"

#include <OpenEXR/ImfArray.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfRgbaFile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string_view>
#include <memory>
#include <mutex>
#include <vector>

namespace plat::codecs {

using vips::VImage;

namespace {

class MemoryInput : public Imf::IStream {
public:
    MemoryInput(const std::uint8_t* data, std::size_t size)
        : Imf::IStream("memory"), data_(data), size_(size) {}
    bool read(char c[], int n) override {
        if (n < 0 || position_ + std::size_t(n) > size_) {
            throw std::runtime_error("unexpected end of OpenEXR data");
        }
        std::memcpy(c, data_ + position_, std::size_t(n));
        position_ += std::size_t(n);
        return position_ < size_;
    }
    uint64_t tellg() override { return position_; }
    void seekg(uint64_t position) override {
        if (position > size_) throw std::runtime_error("seek past the end of OpenEXR data");
        position_ = std::size_t(position);
    }
    void clear() override {}

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

class MemoryOutput : public Imf::OStream {
public:
    MemoryOutput() : Imf::OStream("memory") {}
    void write(const char c[], int n) override {
        if (n <= 0) return;
        if (position_ + std::size_t(n) > bytes_.size()) bytes_.resize(position_ + std::size_t(n));
        std::memcpy(bytes_.data() + position_, c, std::size_t(n));
        position_ += std::size_t(n);
    }
    uint64_t tellp() override { return position_; }
    void seekp(uint64_t position) override { position_ = std::size_t(position); }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// The library allocates for what a header states (line offsets, tile
// buffers) before any pixel is read: refuse sides no image here can have and
// tiles beyond any writer's choice. Process-wide settings, made once.
void LimitHeaderSizes() {
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::Header::setMaxImageSize(VIPS_MAX_COORD, VIPS_MAX_COORD);
        Imf::Header::setMaxTileSize(8192, 8192);
    });
}

std::uint32_t U32LE(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// Bytes the library reads for an attribute of a fixed-size type, whatever
// size the file declares for it; 0 for the other types.
std::size_t FixedAttributeSize(std::string_view type) {
    static constexpr std::pair<std::string_view, std::size_t> kSizes[] = {
        {"box2i", 16}, {"box2f", 16}, {"chromaticities", 32}, {"compression", 1}, {"deepImageState", 1},
        {"double", 8}, {"envmap", 1}, {"float", 4}, {"int", 4}, {"keycode", 28}, {"lineOrder", 1},
        {"m33f", 36}, {"m33d", 72}, {"m44f", 64}, {"m44d", 128}, {"rational", 8}, {"tiledesc", 9},
        {"timecode", 8}, {"v2i", 8}, {"v2f", 8}, {"v2d", 16}, {"v3i", 12}, {"v3f", 12}, {"v3d", 24}};
    for (const auto& [name, bytes] : kSizes) {
        if (name == type) return bytes;
    }
    return 0;
}

// True when every attribute of the header(s), read the way the library reads
// it, lies within the data. The library allocates what an attribute states
// (its declared size, a preview's pixels, each string of a list) before
// reading it: a kilobyte file could otherwise ask for gigabytes.
bool AttributesFitData(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return false;
    const bool multipart = (U32LE(data + 4) & 0x1000) != 0;
    // A NUL-terminated name of at most 255 characters at `at`.
    auto readName = [&](std::size_t& at, std::string_view& name) {
        if (at >= size) return false;
        const void* end = std::memchr(data + at, 0, std::min<std::size_t>(size - at, 256));
        if (!end) return false;
        const std::size_t length = std::size_t(static_cast<const std::uint8_t*>(end) - (data + at));
        name = std::string_view(reinterpret_cast<const char*>(data + at), length);
        at += length + 1;
        return true;
    };
    std::size_t at = 8;
    for (;;) {
        std::string_view name, type;
        if (!readName(at, name)) return false;
        if (name.empty()) {
            // End of a header; a multi-part file ends its list of headers
            // with one more empty name.
            if (!multipart) return true;
            if (at >= size) return false;
            if (data[at] == 0) return true;
            continue;
        }
        if (!readName(at, type) || size - at < 4) return false;
        const std::uint32_t declared = U32LE(data + at);
        at += 4;
        const std::size_t left = size - at;
        if (declared > left) return false;
        std::size_t consumed = declared;
        if (const std::size_t fixed = FixedAttributeSize(type)) {
            consumed = fixed;
        } else if (type == "chlist") {
            // Channels until an empty name: name, then 16 bytes each.
            std::size_t p = at;
            for (;;) {
                std::string_view channel;
                if (!readName(p, channel)) return false;
                if (channel.empty()) break;
                if (size - p < 16) return false;
                p += 16;
            }
            consumed = p - at;
        } else if (type == "preview") {
            if (left < 8) return false;
            const std::uint64_t pixels = std::uint64_t(U32LE(data + at)) * U32LE(data + at + 4);
            if (pixels > (left - 8) / 4) return false;
            consumed = 8 + std::size_t(pixels) * 4;
        } else if (type == "stringvector") {
            // Length-prefixed strings until the declared size is used up.
            std::size_t p = at;
            while (p - at < declared) {
                if (size - p < 4) return false;
                const std::uint32_t length = U32LE(data + p);
                p += 4;
                if (length > size - p) return false;
                p += length;
            }
            consumed = p - at;
        }
        if (consumed > left) return false;
        at += consumed;
    }
}

// An uncompressed chunk holds exactly its lines' bytes. The library reads
// the lines of a shorter one from whatever its buffer held before; such a
// file (a damaged header can make one) is refused.
bool UncompressedChunksComplete(const std::uint8_t* data, std::size_t size) {
    MemoryInput input(data, size);
    Imf::InputFile file(input, 1);
    const Imf::Header& header = file.header();
    if (header.compression() != Imf::NO_COMPRESSION || header.hasTileDescription()) return true;
    const Imath::Box2i window = header.dataWindow();
    std::uint64_t lineBytes = 0;
    for (auto channel = header.channels().begin(); channel != header.channels().end(); ++channel) {
        // Subsampled channels vary from line to line: left to the library.
        if (channel.channel().xSampling != 1 || channel.channel().ySampling != 1) return true;
        lineBytes += channel.channel().type == Imf::HALF ? 2 : 4;
    }
    lineBytes *= std::uint64_t(std::int64_t(window.max.x) - window.min.x + 1);
    for (int y = window.min.y; y <= window.max.y; ++y) {
        const char* pixels = nullptr;
        int length = 0;
        file.rawPixelData(y, pixels, length);
        if (length < 0 || std::uint64_t(length) != lineBytes) return false;
    }
    return true;
}

}  // namespace

bool ReadExrHeader(const std::uint8_t* data, std::size_t size, int* width, int* height, bool* hasAlpha) {
    try {
        LimitHeaderSizes();
        if (!AttributesFitData(data, size)) return false;
        MemoryInput input(data, size);
        Imf::RgbaInputFile file(input, 1);
        const Imath::Box2i window = file.dataWindow();
        const long long w = (long long)window.max.x - window.min.x + 1;
        const long long h = (long long)window.max.y - window.min.y + 1;
        if (w <= 0 || h <= 0 || w > 0x7fffffff || h > 0x7fffffff) return false;
        if (width) *width = int(w);
        if (height) *height = int(h);
        if (hasAlpha) *hasAlpha = (file.channels() & Imf::WRITE_A) != 0;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

VImage LoadExr(const std::uint8_t* data, std::size_t size) {
    try {
        LimitHeaderSizes();
        if (!AttributesFitData(data, size)) throw vips::VError("damaged OpenEXR header");
        MemoryInput input(data, size);
        Imf::RgbaInputFile file(input, 1);
        const Imath::Box2i window = file.dataWindow();
        const long long w = (long long)window.max.x - window.min.x + 1;
        const long long h = (long long)window.max.y - window.min.y + 1;
        if (!Image::sizeAllowed(w, h)) throw vips::VError("OpenEXR image size out of range");
        // Missing chunks would come out blank: a truncated file fails here
        // as it does in every other format.
        if (!file.isComplete()) throw vips::VError("OpenEXR file is incomplete");
        if (!UncompressedChunksComplete(data, size)) throw vips::VError("OpenEXR file lacks pixels");
        const bool alpha = (file.channels() & Imf::WRITE_A) != 0;
        const int bands = alpha ? 4 : 3;
        // A few kilobytes of compressed data can stand for a huge image: read
        // it in strips and keep only 8-bit sRGB, never the whole image as
        // half or float pixels.
        const long long stripRows = std::clamp<long long>((1LL << 20) / w, 1, h);
        const std::size_t rowBytes = std::size_t(w) * std::size_t(bands);
        auto* out = static_cast<std::uint8_t*>(g_try_malloc(rowBytes * std::size_t(h)));
        if (!out) throw vips::VError("out of memory");
        VImage image = VImage::new_from_memory_steal(out, rowBytes * std::size_t(h), int(w), int(h), bands,
                                                     VIPS_FORMAT_UCHAR);
        Imf::Array2D<Imf::Rgba> strip(stripRows, w);
        std::vector<float> linear(std::size_t(stripRows) * rowBytes);
        for (long long top = 0; top < h; top += stripRows) {
            const long long rows = std::min(stripRows, h - top);
            const long long firstY = window.min.y + top;
            // The frame buffer's origin is pixel (0, 0) of the data window's
            // coordinates, usually outside the strip: unsigned arithmetic
            // keeps that address computation defined.
            const std::uintptr_t origin = reinterpret_cast<std::uintptr_t>(&strip[0][0]) -
                                          std::uintptr_t(window.min.x + firstY * w) * sizeof(Imf::Rgba);
            file.setFrameBuffer(reinterpret_cast<Imf::Rgba*>(origin), 1, std::size_t(w));
            file.readPixels(int(firstY), int(firstY + rows - 1));
            float* p = linear.data();
            auto finite = [](float v) { return std::isfinite(v) ? v : 0.0f; };
            for (long long y = 0; y < rows; ++y) {
                for (long long x = 0; x < w; ++x) {
                    const Imf::Rgba& px = strip[y][x];
                    *p++ = finite(float(px.r));
                    *p++ = finite(float(px.g));
                    *p++ = finite(float(px.b));
                    if (alpha) *p++ = std::clamp(finite(float(px.a)), 0.0f, 1.0f) * 255.0f;
                }
            }
            VImage scrgb = VImage::new_from_memory(linear.data(), std::size_t(rows) * rowBytes * sizeof(float),
                                                   int(w), int(rows), bands, VIPS_FORMAT_FLOAT)
                               .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
            VImage srgb = scrgb.colourspace(VIPS_INTERPRETATION_sRGB).cast(VIPS_FORMAT_UCHAR);
            std::size_t length = 0;
            void* converted = srgb.write_to_memory(&length);
            if (!converted || length != std::size_t(rows) * rowBytes) {
                g_free(converted);
                throw vips::VError("cannot convert OpenEXR pixels");
            }
            std::memcpy(out + std::size_t(top) * rowBytes, converted, length);
            g_free(converted);
        }
        image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        // The file holds half floats.
        image.set("bits-per-sample", 16);
        return image;
    } catch (const vips::VError&) {
        throw;
    } catch (const std::exception& error) {
        throw vips::VError(error.what());
    }
}

namespace {

// The sRGB transfer curve undone: encoded 0..1 to linear light.
float LinearFromSRGB(float v) {
    const float a = std::fabs(v);
    const float linear = a <= 0.04045f ? a / 12.92f : std::pow((a + 0.055f) / 1.055f, 2.4f);
    return v < 0.0f ? -linear : linear;
}

// 16-bit and float pixels as 32-bit float channels: no step of theirs is
// lost, as it would be in half floats. 16-bit samples are sRGB-encoded and
// made linear, as 8-bit ones are; float samples are written as they are.
std::vector<std::uint8_t> SaveDeepExr(const VImage& image) {
    const bool encoded = image.format() == VIPS_FORMAT_USHORT;
    const bool alpha = image.bands() >= 4;
    const int bands = alpha ? 4 : 3;
    VImage samples = image.extract_band(0, VImage::option()->set("n", bands));
    samples = image.format() == VIPS_FORMAT_FLOAT ? samples : (samples.cast(VIPS_FORMAT_FLOAT) / 65535.0);
    samples = samples.cast(VIPS_FORMAT_FLOAT);
    std::size_t size = 0;
    void* memory = samples.write_to_memory(&size);
    if (!memory) return {};
    const std::unique_ptr<float, decltype(&g_free)> owned(static_cast<float*>(memory), &g_free);
    float* pixels = owned.get();
    const std::size_t count = size / sizeof(float);
    const int w = image.width(), h = image.height();
    if (count != std::size_t(w) * std::size_t(h) * std::size_t(bands)) return {};
    for (std::size_t i = 0; encoded && i < count; i += std::size_t(bands)) {
        for (int b = 0; b < 3; ++b) pixels[i + std::size_t(b)] = LinearFromSRGB(pixels[i + std::size_t(b)]);
    }
    MemoryOutput output;
    Imf::Header header(w, h);
    header.compression() = Imf::ZIP_COMPRESSION;
    static const char* const kNames[] = {"R", "G", "B", "A"};
    Imf::FrameBuffer frame;
    const std::size_t pixelBytes = sizeof(float) * std::size_t(bands);
    for (int b = 0; b < bands; ++b) {
        header.channels().insert(kNames[b], Imf::Channel(Imf::FLOAT));
        frame.insert(kNames[b], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(pixels + b), pixelBytes,
                                           pixelBytes * std::size_t(w)));
    }
    {
        Imf::OutputFile file(output, header, 1);
        file.setFrameBuffer(frame);
        file.writePixels(h);
    }
    return std::move(output.bytes());
}

}  // namespace

std::vector<std::uint8_t> SaveExr(const VImage& srgbImage) {
    try {
        VImage image = srgbImage;
        if (image.bands() == 1 || image.bands() == 2) {
            VImage grey = image.extract_band(0);
            // The static vector form: grey.bandjoin({grey, grey}) takes the
            // constant overload and makes two bands.
            VImage rgb = VImage::bandjoin(std::vector<VImage>{grey, grey, grey});
            if (image.bands() == 2) rgb = rgb.bandjoin(image.extract_band(1));
            image = rgb.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        }
        if (image.format() == VIPS_FORMAT_USHORT || image.format() == VIPS_FORMAT_FLOAT) return SaveDeepExr(image);
        const bool alpha = image.bands() >= 4;
        VImage colour = image.extract_band(0, VImage::option()->set("n", 3))
                            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
                            .colourspace(VIPS_INTERPRETATION_scRGB);
        if (colour.format() != VIPS_FORMAT_FLOAT) colour = colour.cast(VIPS_FORMAT_FLOAT);
        VImage all = colour;
        if (alpha) all = colour.bandjoin((image.extract_band(3).cast(VIPS_FORMAT_FLOAT) / 255.0).cast(VIPS_FORMAT_FLOAT));
        std::size_t size = 0;
        void* memory = all.write_to_memory(&size);
        if (!memory) return {};
        const int w = image.width(), h = image.height();
        std::vector<Imf::Rgba> pixels(std::size_t(w) * std::size_t(h));
        const float* f = static_cast<const float*>(memory);
        const int bands = alpha ? 4 : 3;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = Imf::Rgba(f[i * bands], f[i * bands + 1], f[i * bands + 2],
                                  alpha ? f[i * bands + 3] : 1.0f);
        }
        g_free(memory);
        MemoryOutput output;
        Imf::Header header(w, h);
        header.compression() = Imf::ZIP_COMPRESSION;
        {
            Imf::RgbaOutputFile file(output, header, alpha ? Imf::WRITE_RGBA : Imf::WRITE_RGB, 1);
            file.setFrameBuffer(pixels.data(), 1, std::size_t(w));
            file.writePixels(h);
        }
        return std::move(output.bytes());
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace plat::codecs
