// A sweep of damaged sources over every decode road: each case gives the
// same result on every run and at every thread count, a failed run leaves no
// output and no temporary file behind, and the undamaged sources convert.
// The damaged cases once came and went between runs: each runs several
// times, with libvips's thread count changed between the runs.

#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/ImageTypes.h"
#include "platform/FileManager.h"
#include "platform/ToolRunner.h"

#include <algorithm>
#include <tiffio.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>

using namespace convtest;

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void WriteAll(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The first `fraction` of a file.
std::string Cut(const std::string& bytes, double fraction) {
    return bytes.substr(0, std::size_t(double(bytes.size()) * fraction));
}

// Every `step`th byte of [from, to) of the file inverted.
std::string Flipped(std::string bytes, double from, double to, std::size_t step = 7) {
    for (std::size_t i = std::size_t(double(bytes.size()) * from); i < std::size_t(double(bytes.size()) * to); i += step) {
        bytes[i] = char(~bytes[i]);
    }
    return bytes;
}

std::uint32_t U32BE(const std::string& bytes, std::size_t at) {
    return std::uint32_t(std::uint8_t(bytes[at])) << 24 | std::uint32_t(std::uint8_t(bytes[at + 1])) << 16 |
           std::uint32_t(std::uint8_t(bytes[at + 2])) << 8 | std::uint8_t(bytes[at + 3]);
}

// Scrambles the deflated data of the last IDAT chunk in `bytes` (a PNG, or
// an icon file of PNG members: the largest member comes last) and mends
// the chunk's CRC, so that only the inflater can tell.
std::string ScrambledPngStream(std::string bytes) {
    const std::size_t at = bytes.rfind("IDAT");
    if (at == std::string::npos || at < 4) return {};
    const std::size_t length = U32BE(bytes, at - 4);
    for (std::size_t i = at + 4 + length / 3; i < at + 4 + length / 2; ++i) bytes[i] = char(bytes[i] * 7 + 13);
    const std::uint32_t crc = Crc32(bytes, at, 4 + length);
    for (int i = 0; i < 4; ++i) bytes[at + 4 + length + std::size_t(i)] = char(crc >> (24 - 8 * i));
    return bytes;
}

// Noise that no encoder can squeeze: a cut file holds part of the rows.
plat::ImageRef Noise(int width, int height, bool alpha) {
    return MakeImage(width, height, [](int x, int y) -> RGBA {
        const unsigned v = unsigned(x * 2654435761u) ^ unsigned(y * 40503u) ^ unsigned(x * y * 69069u);
        return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(64 + (v >> 24) % 192)};
    }, alpha);
}

plat::PropertyDict Quality(double quality) {
    plat::PropertyDict properties;
    properties.set(plat::prop::LossyCompressionQuality, quality);
    return properties;
}

// A grey JPEG 2000 file with small tiles whose image area does not start at
// the canvas origin, made by OpenJPEG's own encoder.
bool WriteGreyJpeg2000(const std::filesystem::path& folder, const std::filesystem::path& out, int width, int height,
                       const std::function<std::uint8_t(int x, int y)>& pixel) {
    std::string pgm = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) pgm.push_back(char(pixel(x, y)));
    }
    const auto in = folder / "grey.pgm";
    WriteAll(in, pgm);
    plat::ToolRunner runner;
    const bool made = runner
                          .run("/usr/bin/opj_compress", {"opj_compress", "-i", in.string(), "-o", out.string(), "-t",
                                                         "16,16", "-n", "2", "-d", "3,5"})
                          .succeeded();
    std::filesystem::remove(in);
    return made;
}

std::uint8_t GreyPattern(int x, int y) { return std::uint8_t((x * 3 + y * 5 + (x * y) % 17) & 255); }

enum class Entry { OneImage, Half, Shown, WholeFile };


// A TIFF whose directories come before their pixel data, as scanners and
// cameras write them: a file cut short keeps its directories and loses
// pixels. Each page is noise, in strips or in tiles.
bool WriteTiffDirectoriesFirst(const std::filesystem::path& path, const std::vector<plat::ImageRef>& pages, bool tiled,
                               int compression) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff) return false;
    bool ok = true;
    for (const plat::ImageRef& page : pages) {
        const std::vector<std::uint8_t> rgba = RGBAOf(*page);
        const std::uint32_t w = std::uint32_t(page->width()), h = std::uint32_t(page->height());
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
        const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        if (tiled) {
            TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 32);
            TIFFSetField(tiff, TIFFTAG_TILELENGTH, 32);
        } else {
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 8);
        }
        ok = ok && TIFFCheckpointDirectory(tiff);
        if (tiled) {
            std::vector<std::uint8_t> tile(32 * 32 * 4);
            for (std::uint32_t ty = 0; ty < h; ty += 32) {
                for (std::uint32_t tx = 0; tx < w; tx += 32) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (std::uint32_t y = ty; y < std::min(h, ty + 32); ++y) {
                        for (std::uint32_t x = tx; x < std::min(w, tx + 32); ++x) {
                            std::copy_n(&rgba[(std::size_t(y) * w + x) * 4], 4, &tile[((y - ty) * 32 + (x - tx)) * 4]);
                        }
                    }
                    ok = ok && TIFFWriteTile(tiff, tile.data(), tx, ty, 0, 0) >= 0;
                }
            }
        } else {
            for (std::uint32_t y = 0; y < h; ++y) {
                ok = ok && TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(&rgba[std::size_t(y) * w * 4]), y, 0) >= 0;
            }
        }
        ok = ok && TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    return ok;
}

// An OpenEXR file whose header claims `extra` more columns than its chunks
// hold: the library leaves those pixels unwritten without a complaint.
std::string WiderExrDataWindow(std::string bytes, std::uint32_t extra) {
    static const std::string kName("dataWindow\0box2i\0", 17);
    const std::size_t at = bytes.find(kName);
    if (at == std::string::npos) return {};
    // Size (4 bytes), then xMin, yMin, xMax, yMax, little-endian.
    const std::size_t xMax = at + kName.size() + 4 + 8;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t(std::uint8_t(bytes[xMax + std::size_t(i)])) << (8 * i);
    value += extra;
    for (int i = 0; i < 4; ++i) bytes[xMax + std::size_t(i)] = char(value >> (8 * i));
    return bytes;
}

// An uncompressed OpenEXR file of noise, written by the library.
bool WriteUncompressedExr(const std::filesystem::path& path, int width, int height) {
    std::vector<Imf::Rgba> pixels(std::size_t(width) * std::size_t(height));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = Imf::Rgba(float(i % 97) / 97.0f, float(i % 13) / 13.0f, float(i % 7) / 7.0f, 0.5f);
    }
    try {
        Imf::Header header(width, height);
        header.compression() = Imf::NO_COMPRESSION;
        Imf::RgbaOutputFile file(path.c_str(), header, Imf::WRITE_RGBA);
        file.setFrameBuffer(pixels.data(), 1, std::size_t(width));
        file.writePixels(height);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

struct Road {
    const char* name;
    std::int32_t type;
    Entry entry;
};

constexpr Road kRoads[] = {
    {"JPEG", kImageTypeJPEG, Entry::OneImage},
    {"PNG", kImageTypePNG, Entry::OneImage},
    {"TIFF", kImageTypeTIFF, Entry::OneImage},
    {"PDF", kImageTypePDF, Entry::OneImage},
    {"GIF", kImageTypeGIF, Entry::OneImage},
    {"half JPEG", kImageTypeJPEG, Entry::Half},
    {"half GIF", kImageTypeGIF, Entry::Half},
    {"preview", kImageTypePNG, Entry::Shown},
    {"whole JPEG", kImageTypeJPEG, Entry::WholeFile},
    {"whole PNG", kImageTypePNG, Entry::WholeFile},
    {"whole TIFF", kImageTypeTIFF, Entry::WholeFile},
    {"whole PDF", kImageTypePDF, Entry::WholeFile},
    {"whole WebP", kImageTypeWebP, Entry::WholeFile},
};

// libvips's thread count for each run.
constexpr int kThreads[] = {1, 4, 2, 8};

// What a run gave: its result and everything it wrote (names and bytes).
struct Outcome {
    int result = 0;
    std::string written;
    bool operator==(const Outcome&) const = default;
};

std::string Listing(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::string listing;
    for (const auto& file : files) {
        listing += std::filesystem::relative(file, folder).string() + "\n";
        if (!std::filesystem::is_regular_file(file)) continue;
        std::string bytes = ReadAll(file);
        if (bytes.starts_with("%PDF")) {
            // A PDF's file identifier is made from the time of writing.
            bytes = std::regex_replace(bytes, std::regex("/ID \\[<[0-9a-f]*><[0-9a-f]*>\\]"), "/ID");
        }
        listing += bytes;
    }
    return listing;
}

void Empty(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(entry.path());
}

Outcome Convert(const std::filesystem::path& source, const Road& road, const std::filesystem::path& out) {
    const std::filesystem::path destination = out / "a.out";
    ImageConversion record = SameSizeRecord(source, road.entry == Entry::Shown ? "" : destination, road.type);
    if (road.entry == Entry::Half) {
        record.resize.width = 50;
        record.resize.height = 50;
        record.resize.keepProportions = 1;
    }
    record.returnImage = road.entry == Entry::Shown;
    Outcome outcome;
    outcome.result = road.entry == Entry::WholeFile ? ConvertImageFileFormat(&record) : ConvertImageWithOptions(&record);
    outcome.written = Listing(out);
    if (record.resultImage) {
        const std::vector<std::uint8_t> pixels = RGBAOf(*record.resultImage);
        outcome.written.append(pixels.begin(), pixels.end());
    }
    Empty(out);
    return outcome;
}

enum class Expect {
    Converts,
    Fails,
    // The first image converts, the whole file fails.
    LaterPageFails,
    // Damage that the decoder may not see (lossy data, flipped samples).
    SameEveryRun,
};

struct Case {
    std::string name;
    Expect expect;
};

class DamagedSourceSweepTest : public ConversionTest {
protected:
    void SetUp() override {
        threads_ = vips_concurrency_get();
        if (const char* tmp = std::getenv("TMPDIR")) savedTmp_ = tmp;
        // The temporary folder of this test alone, to see what is left in it.
        std::filesystem::create_directory(dir / "tmp");
        ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    }
    void TearDown() override {
        vips_concurrency_set(threads_);
        if (savedTmp_) {
            ::setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    // A fresh folder for one kind of source.
    std::filesystem::path Folder(const char* name) {
        std::filesystem::create_directory(dir / name);
        return dir / name;
    }

    // Runs every case on every road, several times.
    void Sweep(const std::filesystem::path& folder, const std::vector<Case>& cases) {
        const auto out = dir / "out";
        std::filesystem::create_directories(out);
        const std::filesystem::path temporary = plat::FileManager::temporaryDirectory();
        ASSERT_FALSE(temporary.empty());
        const std::string sources = Listing(folder);
        for (const Case& c : cases) {
            const auto source = folder / c.name;
            for (const Road& road : kRoads) {
                std::optional<Outcome> first;
                for (int threads : kThreads) {
                    vips_concurrency_set(threads);
                    const Outcome outcome = Convert(source, road, out);
                    const std::string where = c.name + " to " + road.name + " with " + std::to_string(threads) + " threads";
                    const bool whole = road.entry == Entry::WholeFile;
                    if (c.expect == Expect::Converts || (c.expect == Expect::LaterPageFails && !whole)) {
                        EXPECT_EQ(outcome.result, 1) << where;
                    }
                    if (c.expect == Expect::Fails || (c.expect == Expect::LaterPageFails && whole)) {
                        EXPECT_EQ(outcome.result, 0) << where;
                    }
                    if (outcome.result == 0) {
                        EXPECT_TRUE(outcome.written.empty()) << where;
                    }
                    if (!first) {
                        first = outcome;
                    } else {
                        EXPECT_EQ(outcome.result, first->result) << where;
                        EXPECT_TRUE(outcome.written == first->written) << where << ": other output than the first run";
                    }
                }
            }
            EXPECT_TRUE(std::filesystem::is_empty(temporary)) << c.name << " left a temporary file";
        }
        // Nothing written beside the sources either.
        EXPECT_TRUE(Listing(folder) == sources);
        vips_concurrency_set(threads_);
    }

    int threads_ = 0;
    std::optional<std::string> savedTmp_;
};

}  // namespace

TEST_F(DamagedSourceSweepTest, WebP) {
    const auto folder = Folder("webp");
    std::vector<Case> cases;
    const struct {
        const char* name;
        bool alpha;
        double quality;
    } kinds[] = {{"lossy", false, 0.8}, {"lossless", false, 1.0}, {"alpha", true, 0.8}, {"lossless-alpha", true, 1.0}};
    for (const auto& kind : kinds) {
        const std::string name = std::string(kind.name) + ".webp";
        ASSERT_TRUE(WriteImage(folder / name, Noise(320, 240, kind.alpha), "org.webmproject.webp", Quality(kind.quality)));
        const std::string bytes = ReadAll(folder / name);
        cases.push_back({name, Expect::Converts});
        for (double fraction : {0.3, 0.6, 0.9, 0.99}) {
            const std::string cut = "cut" + std::to_string(int(fraction * 10)) + "-" + name;
            WriteAll(folder / cut, Cut(bytes, fraction));
            cases.push_back({cut, Expect::Fails});
        }
        WriteAll(folder / ("flipped-" + name), Flipped(bytes, 0.4, 0.6));
        cases.push_back({"flipped-" + name, Expect::SameEveryRun});
        if (kind.alpha && kind.quality < 1.0) {
            // The alpha plane of a lossy file is a chunk of its own.
            const std::size_t alpha = bytes.find("ALPH");
            ASSERT_NE(alpha, std::string::npos);
            std::string damaged = bytes;
            for (std::size_t i = alpha + 40; i < alpha + 120 && i < damaged.size(); i += 3) damaged[i] = char(~damaged[i]);
            WriteAll(folder / ("alpha-damaged-" + name), damaged);
            cases.push_back({"alpha-damaged-" + name, Expect::SameEveryRun});
        }
    }
    Sweep(folder, cases);
}

TEST_F(DamagedSourceSweepTest, IconFileWithPngMembers) {
    const auto folder = Folder("icns");
    ASSERT_TRUE(WriteImage(folder / "icon.icns", Noise(256, 256, true), "com.apple.icns"));
    const std::string bytes = ReadAll(folder / "icon.icns");
    WriteAll(folder / "scrambled.icns", ScrambledPngStream(bytes));
    WriteAll(folder / "flipped.icns", Flipped(bytes, 0.5, 0.9));
    Sweep(folder, {{"icon.icns", Expect::Converts},
                   {"scrambled.icns", Expect::Fails},
                   {"flipped.icns", Expect::Fails}});
}

TEST_F(DamagedSourceSweepTest, TiffStripsAndTiles) {
    const auto folder = Folder("tiff");
    const plat::ImageRef noise = Noise(320, 240, true);
    ASSERT_TRUE(WriteTiffDirectoriesFirst(folder / "strips.tif", {noise, Noise(100, 80, true)}, false, COMPRESSION_NONE));
    ASSERT_TRUE(WriteTiffDirectoriesFirst(folder / "lzw.tif", {noise}, false, COMPRESSION_LZW));
    ASSERT_TRUE(WriteTiffDirectoriesFirst(folder / "tiles.tif", {noise, noise}, true, COMPRESSION_LZW));
    std::vector<Case> cases;
    for (const char* name : {"strips.tif", "lzw.tif", "tiles.tif"}) {
        cases.push_back({name, Expect::Converts});
        const std::string bytes = ReadAll(folder / name);
        // Cut in the first page's pixels, and in the last page's.
        WriteAll(folder / (std::string("cut-") + name), Cut(bytes, 0.5));
        cases.push_back({std::string("cut-") + name, Expect::Fails});
        WriteAll(folder / (std::string("cut-end-") + name), Cut(bytes, 0.97));
        cases.push_back({std::string("cut-end-") + name, std::string(name) == "lzw.tif" ? Expect::Fails : Expect::LaterPageFails});
        WriteAll(folder / (std::string("flipped-") + name), Flipped(bytes, 0.3, 0.5));
        cases.push_back({std::string("flipped-") + name, Expect::SameEveryRun});
    }
    Sweep(folder, cases);
}

TEST_F(DamagedSourceSweepTest, OpenExr) {
    const auto folder = Folder("exr");
    ASSERT_TRUE(WriteImage(folder / "image.exr", Noise(200, 150, true), "com.ilm.openexr-image"));
    const std::string bytes = ReadAll(folder / "image.exr");
    WriteAll(folder / "cut.exr", Cut(bytes, 0.7));
    WriteAll(folder / "flipped.exr", Flipped(bytes, 0.4, 0.6, 3));
    WriteAll(folder / "flipped-end.exr", Flipped(bytes, 0.9, 1.0, 5));
    ASSERT_TRUE(WriteUncompressedExr(folder / "plain.exr", 64, 50));
    WriteAll(folder / "wider.exr", WiderExrDataWindow(ReadAll(folder / "plain.exr"), 5000));
    Sweep(folder, {{"image.exr", Expect::Converts},
                   {"cut.exr", Expect::Fails},
                   {"flipped.exr", Expect::SameEveryRun},
                   {"flipped-end.exr", Expect::SameEveryRun},
                   {"plain.exr", Expect::Converts},
                   {"wider.exr", Expect::Fails}});
}

TEST_F(DamagedSourceSweepTest, GreyJpeg2000WithSmallTiles) {
    const auto folder = Folder("jp2");
    ASSERT_TRUE(WriteGreyJpeg2000(folder, folder / "grey.jp2", 123, 77, GreyPattern));
    const std::string bytes = ReadAll(folder / "grey.jp2");
    WriteAll(folder / "cut.jp2", Cut(bytes, 0.6));
    WriteAll(folder / "flipped.jp2", Flipped(bytes, 0.3, 0.7, 3));
    Sweep(folder, {{"grey.jp2", Expect::Converts}, {"cut.jp2", Expect::SameEveryRun}, {"flipped.jp2", Expect::SameEveryRun}});
}
