// Damaged sources over every decode road: each case gives the same result on every run and at every thread count (the
// damaged cases once came and went between runs), a failed run leaves no output and no temporary file behind, and the
// undamaged sources convert.
#include "ConverterTestSupport.h"
#include "../platform/ScratchFolder.h"
#include "engine/ConvertImage.h"
#include "engine/ImageTypes.h"
#include "platform/FileManager.h"
#include "platform/ToolRunner.h"

#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <tiffio.h>
#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex>
#include <set>

using namespace convtest;

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string Cut(const std::string& bytes, double fraction) { return bytes.substr(0, std::size_t(double(bytes.size()) * fraction)); }

// Every `step`th byte of [from, to) of the file inverted.
std::string Flipped(std::string bytes, double from, double to, std::size_t step = 7) {
    for (auto i = std::size_t(double(bytes.size()) * from); i < std::size_t(double(bytes.size()) * to); i += step) bytes[i] = char(~bytes[i]);
    return bytes;
}

// Noise that no encoder can squeeze: a cut file holds part of the rows.
plat::ImageRef Noise(int width, int height, bool alpha) {
    return MakeImage(width, height, [](int x, int y) -> RGBA {
        const unsigned v = unsigned(x * 2654435761u) ^ unsigned(y * 40503u) ^ unsigned(x * y * 69069u);
        return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(64 + (v >> 24) % 192)};
    }, alpha);
}

// A TIFF of noise pages whose directories come before their pixel data, as
// scanners write them (a cut file keeps its directories), in strips or 32 × 32 tiles.
bool WriteTiffDirectoriesFirst(const std::filesystem::path& path, const std::vector<plat::ImageRef>& pages, bool tiled,
                               int compression) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    bool ok = tiff;
    for (const plat::ImageRef& page : tiff ? pages : std::vector<plat::ImageRef>{}) {
        std::vector<std::uint8_t> rgba = RGBAOf(*page);
        const auto w = std::uint32_t(page->width()), h = std::uint32_t(page->height());
        const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        for (const auto& [tag, value] : std::initializer_list<std::pair<ttag_t, unsigned>>{
                 {TIFFTAG_IMAGEWIDTH, w}, {TIFFTAG_IMAGELENGTH, h}, {TIFFTAG_BITSPERSAMPLE, 8}, {TIFFTAG_SAMPLESPERPIXEL, 4},
                 {TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG}, {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB},
                 {TIFFTAG_COMPRESSION, unsigned(compression)}, {TIFFTAG_SUBFILETYPE, FILETYPE_PAGE},
                 {tiled ? TIFFTAG_TILEWIDTH : TIFFTAG_ROWSPERSTRIP, tiled ? 32u : 8u}, {TIFFTAG_TILELENGTH, tiled ? 32u : 0u}}) {
            if (value) TIFFSetField(tiff, tag, value);
        }
        ok = ok && TIFFCheckpointDirectory(tiff);
        for (std::uint32_t ty = 0; ty < h; ty += tiled ? 32 : 1) {
            for (std::uint32_t tx = 0; tiled && tx < w; tx += 32) {
                std::vector<std::uint8_t> tile(32 * 32 * 4, 0);
                for (std::uint32_t y = ty; y < std::min(h, ty + 32); ++y)
                    std::copy_n(&rgba[(std::size_t(y) * w + tx) * 4], std::min(w - tx, 32u) * 4, &tile[(y - ty) * 32 * 4]);
                ok = ok && TIFFWriteTile(tiff, tile.data(), tx, ty, 0, 0) >= 0;
            }
            if (!tiled) ok = ok && TIFFWriteScanline(tiff, &rgba[std::size_t(ty) * w * 4], ty, 0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(tiff);
    }
    if (tiff) TIFFClose(tiff);
    return ok;
}

// How a source is read: the first image (at its size, or halved), the preview image, or every image of the file.
enum class Entry { OneImage, Half, Shown, WholeFile };
constexpr struct Road { const char* name; std::int32_t type; Entry entry; } kRoads[] = {
    {"JPEG", kImageTypeJPEG, Entry::OneImage}, {"PNG", kImageTypePNG, Entry::OneImage}, {"TIFF", kImageTypeTIFF, Entry::OneImage},
    {"PDF", kImageTypePDF, Entry::OneImage}, {"GIF", kImageTypeGIF, Entry::OneImage}, {"half JPEG", kImageTypeJPEG, Entry::Half},
    {"preview", kImageTypePNG, Entry::Shown}, {"whole JPEG", kImageTypeJPEG, Entry::WholeFile},
    {"whole PNG", kImageTypePNG, Entry::WholeFile}, {"whole TIFF", kImageTypeTIFF, Entry::WholeFile},
    {"whole PDF", kImageTypePDF, Entry::WholeFile}, {"whole WebP", kImageTypeWebP, Entry::WholeFile}};

// Every file in `folder` with its bytes, the time-made identifier of a PDF left out.
std::string Listing(const std::filesystem::path& folder) {
    const std::set<std::filesystem::path> files(std::filesystem::recursive_directory_iterator(folder), {});
    std::string listing;
    for (const auto& file : files) {
        listing += std::filesystem::relative(file, folder).string() + "\n";
        const std::string bytes = std::filesystem::is_regular_file(file) ? ReadAll(file) : std::string();
        listing += bytes.starts_with("%PDF") ? std::regex_replace(bytes, std::regex("/ID \\[<[0-9a-f]*><[0-9a-f]*>\\]"), "/ID")
                                             : bytes;
    }
    return listing;
}

// A run's result and everything it wrote, a preview image's pixels included.
std::pair<int, std::string> Convert(const std::filesystem::path& source, const Road& road, const std::filesystem::path& out) {
    ImageConversion record = SameSizeRecord(source, road.entry == Entry::Shown ? "" : out / "a.out", road.type);
    if (road.entry == Entry::Half) record.resize.width = record.resize.height = 50, record.resize.keepProportions = 1;
    record.returnImage = road.entry == Entry::Shown;
    const int result = road.entry == Entry::WholeFile ? ConvertImageFileFormat(&record) : ConvertImageWithOptions(&record);
    std::string written = Listing(out);
    const std::vector<std::uint8_t> pixels = record.resultImage ? RGBAOf(*record.resultImage) : std::vector<std::uint8_t>();
    written.append(pixels.begin(), pixels.end());
    for (const auto& entry : std::filesystem::directory_iterator(out)) std::filesystem::remove_all(entry.path());
    return {result, written};
}

// LaterPageFails: the first image converts, the whole file fails. SameEveryRun: damage the decoder may not see.
enum class Expect { Converts, Fails, LaterPageFails, SameEveryRun };
struct Case { std::string name, bytes; Expect expect; };

class DamagedSourceSweepTest : public ConversionTest {
protected:
    void SetUp() override { for (const char* folder : {"tmp", "sources", "out"}) std::filesystem::create_directories(dir / folder); }
    void TearDown() override { vips_concurrency_set(threads_); }

    // Runs every case on each road (every road by default), `rounds` times at each thread count.
    void Sweep(const std::vector<Case>& cases, const std::vector<Road>& roads = {std::begin(kRoads), std::end(kRoads)},
               int rounds = 1) {
        const auto folder = dir / "sources";
        for (const Case& c : cases) {
            ASSERT_FALSE(c.bytes.empty()) << c.name;
            std::ofstream(folder / c.name, std::ios::binary) << c.bytes;
        }
        const std::filesystem::path temporary = plat::FileManager::temporaryDirectory();
        ASSERT_FALSE(temporary.empty());
        const std::string sources = Listing(folder);
        for (const Case& c : cases) {
            for (const Road& road : roads) {
                std::optional<std::pair<int, std::string>> first;
                for (int turn = 0; turn < 4 * rounds; ++turn) {
                    const int threads = std::array{1, 4, 2, 8}[std::size_t(turn % 4)];
                    SCOPED_TRACE(c.name + " to " + road.name + " with " + std::to_string(threads) + " threads, round " +
                                 std::to_string(turn / 4 + 1));
                    vips_concurrency_set(threads);
                    const auto run = Convert(folder / c.name, road, dir / "out");
                    const bool converts = c.expect == Expect::Converts || (c.expect == Expect::LaterPageFails && road.entry != Entry::WholeFile);
                    EXPECT_TRUE(c.expect == Expect::SameEveryRun || run.first == converts) << run.first;
                    EXPECT_TRUE(run.first != 0 || run.second.empty()) << "a failed run wrote something";
                    EXPECT_TRUE(!first || run == *first) << "other result or output than the first run";
                    first = first.value_or(run);
                }
            }
            EXPECT_TRUE(std::filesystem::is_empty(temporary)) << c.name << " left a temporary file";
        }
        EXPECT_TRUE(Listing(folder) == sources) << "something written beside the sources";
    }

    const int threads_ = vips_concurrency_get();
    ScopedEnvironment tmp_{"TMPDIR", (dir / "tmp").c_str()};
};

}  // namespace

// Lossy, lossless and lossy-with-alpha WebP files of `width` × `height` noise, whole, cut and scrambled.
std::vector<Case> WebPCases(const std::filesystem::path& dir, int width, int height) {
    std::vector<Case> cases;
    for (const bool alpha : {false, true}) {
        for (const double quality : {0.8, 1.0}) {
            const std::string name = std::string(quality < 1.0 ? "lossy" : "lossless") + (alpha ? "-alpha" : "") + ".webp";
            plat::PropertyDict properties;
            properties.set(plat::prop::LossyCompressionQuality, quality);
            EXPECT_TRUE(WriteImage(dir / name, Noise(width, height, alpha), "org.webmproject.webp", properties));
            const std::string bytes = ReadAll(dir / name);
            cases.insert(cases.end(), {{name, bytes, Expect::Converts}, {"cut-" + name, Cut(bytes, 0.5), Expect::Fails},
                                       {"cut-end-" + name, Cut(bytes, 0.99), Expect::Fails},
                                       {"flipped-" + name, Flipped(bytes, 0.4, 0.6), Expect::SameEveryRun}});
            if (alpha && quality < 1.0) {  // the alpha plane of a lossy file is a chunk of its own
                const std::size_t at = bytes.find("ALPH");
                EXPECT_NE(at, std::string::npos);
                std::string damaged = bytes;
                for (std::size_t i = at + 40; i < at + 120 && i < damaged.size(); i += 3) damaged[i] = char(~damaged[i]);
                cases.push_back({"alpha-damaged-" + name, damaged, Expect::SameEveryRun});
            }
        }
    }
    return cases;
}

TEST_F(DamagedSourceSweepTest, WebP) { Sweep(WebPCases(dir / "", 320, 240)); }

// Photo-sized files decode on several threads at once; damaged ones once came out blank in some runs. Three rounds of
// every thread count, on the roads that read the whole picture, a shrunk one and the preview.
TEST_F(DamagedSourceSweepTest, PhotoSizedWebPOverAndOver) {
    const auto road = [](std::string_view name) { return *std::find_if(std::begin(kRoads), std::end(kRoads), [&](const Road& r) { return r.name == name; }); };
    Sweep(WebPCases(dir / "", 800, 600), {road("half JPEG"), road("preview"), road("whole WebP")}, 3);
}

TEST_F(DamagedSourceSweepTest, IconFileWithPngMembers) {
    ASSERT_TRUE(WriteImage(dir / "icon.icns", Noise(256, 256, true), "com.apple.icns"));
    const std::string bytes = ReadAll(dir / "icon.icns");
    // The deflated data of the last (largest) PNG member scrambled, its CRC mended: only the inflater can tell.
    std::string scrambled = bytes;
    const std::size_t at = bytes.rfind("IDAT");
    ASSERT_TRUE(at != std::string::npos && at >= 4);
    std::size_t length = 0;
    for (std::size_t i = at - 4; i < at; ++i) length = length << 8 | std::uint8_t(bytes[i]);
    for (std::size_t i = at + 4 + length / 3; i < at + 4 + length / 2; ++i) scrambled[i] = char(bytes[i] * 7 + 13);
    const std::uint32_t crc = Crc32(scrambled, at, 4 + length);
    for (int i = 0; i < 4; ++i) scrambled[at + 4 + length + std::size_t(i)] = char(crc >> (24 - 8 * i));
    Sweep({{"icon.icns", bytes, Expect::Converts},
           {"scrambled.icns", scrambled, Expect::Fails},
           {"flipped.icns", Flipped(bytes, 0.5, 0.9), Expect::Fails}});
}

TEST_F(DamagedSourceSweepTest, TiffStripsAndTiles) {
    const plat::ImageRef noise = Noise(320, 240, true);
    const struct { std::string name; std::vector<plat::ImageRef> pages; bool tiled; int compression; } files[] = {
        {"strips.tif", {noise, Noise(100, 80, true)}, false, COMPRESSION_NONE},
        {"lzw.tif", {noise}, false, COMPRESSION_LZW}, {"tiles.tif", {noise, noise}, true, COMPRESSION_LZW}};
    std::vector<Case> cases;
    for (const auto& file : files) {
        ASSERT_TRUE(WriteTiffDirectoriesFirst(dir / file.name, file.pages, file.tiled, file.compression));
        const std::string bytes = ReadAll(dir / file.name);
        // Cut in the first page's pixels, and in the last page's.
        cases.insert(cases.end(), {{file.name, bytes, Expect::Converts}, {"cut-" + file.name, Cut(bytes, 0.5), Expect::Fails},
                                   {"cut-end-" + file.name, Cut(bytes, 0.97), file.pages.size() > 1 ? Expect::LaterPageFails : Expect::Fails},
                                   {"flipped-" + file.name, Flipped(bytes, 0.3, 0.5), Expect::SameEveryRun}});
    }
    Sweep(cases);
}

TEST_F(DamagedSourceSweepTest, OpenExr) {
    ASSERT_TRUE(WriteImage(dir / "image.exr", Noise(200, 150, true), "com.ilm.openexr-image"));
    const std::string bytes = ReadAll(dir / "image.exr");
    // An uncompressed file, and a copy whose data window claims 5000 more columns than its chunks hold: the library
    // leaves them unwritten silently.
    std::vector<Imf::Rgba> pixels(64 * 50);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = Imf::Rgba(float(i % 97) / 97, float(i % 13) / 13, float(i % 7) / 7, 0.5f);
    Imf::Header header(64, 50);
    header.compression() = Imf::NO_COMPRESSION;
    {
        Imf::RgbaOutputFile file((dir / "plain.exr").c_str(), header, Imf::WRITE_RGBA);
        file.setFrameBuffer(pixels.data(), 1, 64);
        file.writePixels(50);
    }
    const std::string plain = ReadAll(dir / "plain.exr");
    static const std::string kName("dataWindow\0box2i\0", 17);
    const std::size_t xMax = plain.find(kName) + kName.size() + 4 + 8;  // size, xMin, yMin, then xMax
    ASSERT_LT(xMax, plain.size());
    std::string wider = plain;
    std::uint32_t value = 0;
    std::memcpy(&value, &wider[xMax], 4);
    std::memcpy(&wider[xMax], &(value += 5000), 4);
    Sweep({{"image.exr", bytes, Expect::Converts},
           {"cut.exr", Cut(bytes, 0.7), Expect::Fails},
           {"flipped.exr", Flipped(bytes, 0.4, 0.6, 3), Expect::SameEveryRun},
           {"flipped-end.exr", Flipped(bytes, 0.9, 1.0, 5), Expect::SameEveryRun},
           {"plain.exr", plain, Expect::Converts},
           {"wider.exr", wider, Expect::Fails}});
}

TEST_F(DamagedSourceSweepTest, GreyJpeg2000WithSmallTiles) {
    // 16 × 16 tiles, the image area away from the canvas origin, made by OpenJPEG's encoder.
    std::string pgm = "P5\n123 77\n255\n";
    for (int i = 0; i < 123 * 77; ++i) pgm.push_back(char((i % 123 * 3 + i / 123 * 5 + (i % 123 * (i / 123)) % 17) & 255));
    std::ofstream(dir / "grey.pgm", std::ios::binary) << pgm;
    ASSERT_TRUE(plat::ToolRunner().run("/usr/bin/opj_compress", {"opj_compress", "-i", (dir / "grey.pgm").string(), "-o",
                                                                 (dir / "grey.jp2").string(), "-t", "16,16", "-n", "2", "-d", "3,5"})
                    .succeeded());
    const std::string bytes = ReadAll(dir / "grey.jp2");
    Sweep({{"grey.jp2", bytes, Expect::Converts},
           {"cut.jp2", Cut(bytes, 0.6), Expect::SameEveryRun},
           {"flipped.jp2", Flipped(bytes, 0.3, 0.7, 3), Expect::SameEveryRun}});
}
