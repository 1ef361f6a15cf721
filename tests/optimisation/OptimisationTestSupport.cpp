#include "OptimisationTestSupport.h"

#include "optimisation/optimisation.h"
#include "platform/FileManager.h"
#include "platform/OperationQueue.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <jpeglib.h>
#include <lcms2.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips8>
#include <zlib.h>

namespace optest {

namespace {

constexpr const char* kFakeLogVariable = "VANTRELL_FAKE_TOOL_LOG";
constexpr const char* kFakeScriptVariable = "VANTRELL_FAKE_TOOL_SCRIPT";

// The test's own folders and the variables that point there.
constexpr struct {
    const char* variable;
    const char* sub;
} kFolders[] = {{"TMPDIR", "tmp"}, {"XDG_CONFIG_HOME", "config"}, {"VANTRELL_RESOURCES", "resources"}};

// When this test binary is started as a fake tool, it records its argument
// vector (argv[0] included, which a shell script cannot see) and hands the
// arguments to the test's script. This runs before main.
const bool kActsAsFakeTool = [] {
    const char* log = std::getenv(kFakeLogVariable);
    if (log == nullptr || *log == '\0') return false;
    std::vector<std::string> args;
    {
        // Closed before the script runs, which would otherwise inherit it.
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
    }
    if (FILE* out = std::fopen(log, "a")) {
        for (const auto& arg : args) {
            std::fputs(arg.c_str(), out);
            std::fputc('\x1f', out);
        }
        std::fputc('\n', out);
        std::fclose(out);
    }
    const char* script = std::getenv(kFakeScriptVariable);
    if (script != nullptr && *script != '\0') {
        std::vector<char*> argv{const_cast<char*>("sh"), const_cast<char*>(script)};
        for (std::size_t i = 1; i < args.size(); ++i) argv.push_back(args[i].data());
        argv.push_back(nullptr);
        ::execv("/bin/sh", argv.data());
        ::_exit(127);
    }
    ::_exit(0);
}();

void PutU32(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    PutU32(out, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutU32(out, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

std::uint8_t Sample(int x, int y, int band) {
    return static_cast<std::uint8_t>((x * 8 + band * 40 + (y / 4) * 16) & 0xF0);
}

}  // namespace

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool Contains(const Bytes& haystack, std::string_view needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

Bytes PngChunk(const std::string& type, const Bytes& data) {
    Bytes out;
    PutChunk(out, type.c_str(), data);
    return out;
}

Bytes MakeStoredPng(int width, int height) { return MakeStoredPngWith(width, height, {}); }

Bytes Deflate(const Bytes& raw, int level) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(size);
    compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), level);
    packed.resize(size);
    return packed;
}

namespace {

// Image data of one frame, deflate-stored so that every tool can shrink it.
Bytes StoredImageData(int width, int height, int shift) {
    Bytes raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            for (int band = 0; band < 3; ++band) raw.push_back(Sample(x + shift, y, band));
        }
    }
    return Deflate(raw, 0);
}

Bytes PngHeader(int width, int height) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutU32(header, static_cast<std::uint32_t>(width));
    PutU32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    PutChunk(png, "IHDR", header);
    return png;
}

}  // namespace

Bytes MakeStoredPngWith(int width, int height, const std::vector<ExtraChunk>& chunks) {
    Bytes png = PngHeader(width, height);
    for (const auto& chunk : chunks) {
        if (!chunk.afterImageData) PutChunk(png, chunk.type.c_str(), chunk.data);
    }
    PutChunk(png, "IDAT", StoredImageData(width, height, 0));
    for (const auto& chunk : chunks) {
        if (chunk.afterImageData) PutChunk(png, chunk.type.c_str(), chunk.data);
    }
    PutChunk(png, "IEND", {});
    return png;
}

std::vector<ExtraChunk> MetadataChunks() {
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsUInt32Number profileSize = 0;
    cmsSaveProfileToMem(profile, nullptr, &profileSize);
    Bytes icc(profileSize);
    cmsSaveProfileToMem(profile, icc.data(), &profileSize);
    cmsCloseProfile(profile);
    Bytes iccp{'s', 'R', 'G', 'B', 0, 0};
    const Bytes packed = Deflate(icc, 9);
    iccp.insert(iccp.end(), packed.begin(), packed.end());

    const std::string caption("Title\0Harbour at dawn", 21);
    const std::string itxt = std::string("Author\0\0\0en\0\0", 13) + "Vantrell Tester";
    const Bytes exif{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0};
    const Bytes gama{0, 0, 0xB1, 0x8F};                            // 45455
    const Bytes phys{0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1};       // 2835 per metre both ways
    return {
        {"iCCP", iccp, false},
        {"gAMA", gama, false},
        {"pHYs", phys, false},
        {"tEXt", Bytes(caption.begin(), caption.end()), false},
        {"iTXt", Bytes(itxt.begin(), itxt.end()), false},
        {"eXIf", exif, false},
        {"tIME", {0x07, 0xEA, 12, 7, 10, 30, 0}, true},
        {"vaNt", {'k', 'e', 'e', 'p'}, true},
    };
}

Bytes MakeApng(int width, int height) {
    Bytes png = PngHeader(width, height);
    PutChunk(png, "acTL", {0, 0, 0, 2, 0, 0, 0, 0});  // 2 frames, played for ever
    auto frameControl = [&](std::uint32_t sequence) {
        Bytes fctl;
        for (auto v : {sequence, std::uint32_t(width), std::uint32_t(height), 0u, 0u}) PutU32(fctl, v);
        fctl.insert(fctl.end(), {0, 1, 0, 10, 0, 0});  // 1/10 s, no dispose, source
        PutChunk(png, "fcTL", fctl);
    };
    frameControl(0);
    PutChunk(png, "IDAT", StoredImageData(width, height, 0));
    frameControl(1);
    Bytes fdat{0, 0, 0, 2};  // sequence number
    const Bytes second = StoredImageData(width, height, 8);
    fdat.insert(fdat.end(), second.begin(), second.end());
    PutChunk(png, "fdAT", fdat);
    PutChunk(png, "IEND", {});
    return png;
}

namespace {

// Every chunk's type and data, in order; nothing when the file does not parse.
std::optional<std::vector<std::pair<std::string, Bytes>>> PngChunks(const Bytes& png) {
    if (png.size() < 8) return std::nullopt;
    std::vector<std::pair<std::string, Bytes>> chunks;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = (std::uint32_t(png[at]) << 24) | (std::uint32_t(png[at + 1]) << 16) |
                                     (std::uint32_t(png[at + 2]) << 8) | png[at + 3];
        if (length > png.size() - at - 12) return std::nullopt;
        const auto data = png.begin() + static_cast<std::ptrdiff_t>(at + 8);
        chunks.emplace_back(std::string(data - 4, data), Bytes(data, data + length));
        at += length + 12;
    }
    return chunks;
}

}  // namespace

std::vector<std::string> PngChunkTypes(const Bytes& png) {
    std::vector<std::string> types;
    for (const auto& chunk : PngChunks(png).value_or(std::vector<std::pair<std::string, Bytes>>{})) {
        types.push_back(chunk.first);
    }
    return types;
}

std::optional<Bytes> PngChunkData(const Bytes& png, const std::string& wanted) {
    for (const auto& [type, data] : PngChunks(png).value_or(std::vector<std::pair<std::string, Bytes>>{})) {
        if (type == wanted) return data;
    }
    return std::nullopt;
}

Bytes MakePlasmaPalettePng(int width, int height, int levels) {
    Bytes rgb(std::size_t(width) * std::size_t(height) * 3);
    const int step = 256 / levels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double v = std::sin(x / 37.0) + std::sin(y / 23.0) + std::sin((x + y) / 51.0) +
                             std::sin(std::hypot(x - width / 2.0, y - height / 2.0) / 29.0);
            std::uint8_t* pixel = &rgb[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3];
            for (int band = 0; band < 3; ++band) {
                const double sample = 127.5 + 127.5 * std::sin(v * 3.14159 + band * 2.094);
                pixel[band] = std::uint8_t(int(sample) / step * step);
            }
        }
    }
    const vips::VImage image =
        vips::VImage::new_from_memory(rgb.data(), rgb.size(), width, height, 3, VIPS_FORMAT_UCHAR);
    void* buffer = nullptr;
    std::size_t size = 0;
    image.write_to_buffer(
        ".png", &buffer, &size,
        vips::VImage::option()->set("palette", true)->set("interlace", true)->set("compression", 1)->set("effort", 1));
    const Bytes saved(static_cast<std::uint8_t*>(buffer), static_cast<std::uint8_t*>(buffer) + size);
    g_free(buffer);
    // The same file with the background colour appended to the palette and
    // named by bKGD.
    Bytes png(saved.begin(), saved.begin() + 8);
    for (auto [type, data] : PngChunks(saved).value_or(std::vector<std::pair<std::string, Bytes>>{})) {
        if (type == "PLTE") {
            const auto background = std::uint8_t(data.size() / 3);
            data.insert(data.end(), {250, 250, 251});
            PutChunk(png, "PLTE", data);
            PutChunk(png, "bKGD", {background});
        } else if (type != "bKGD") {
            PutChunk(png, type.c_str(), data);
        }
    }
    return png;
}

std::optional<Bytes> PngBackgroundColour(const Bytes& png) {
    const auto background = PngChunkData(png, "bKGD");
    const auto palette = PngChunkData(png, "PLTE");
    if (!background || !palette || background->size() != 1) return std::nullopt;
    const std::size_t at = std::size_t(background->front()) * 3;
    if (at + 3 > palette->size()) return std::nullopt;
    return Bytes(palette->begin() + std::ptrdiff_t(at), palette->begin() + std::ptrdiff_t(at + 3));
}

Bytes MakeTwoImageJpeg(bool mpf) {
    Bytes first = MakeJpeg(48, 32, true);
    if (mpf) {
        // APP2 "MPF" with a big-endian TIFF header and an empty index.
        const Bytes segment{0xFF, 0xE2, 0, 16, 'M', 'P', 'F', 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0};
        first.insert(first.begin() + 2, segment.begin(), segment.end());
    }
    const Bytes second = MakeJpeg(24, 16, false);
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes MakeJpeg(int width, int height, bool exif, bool progressive) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.optimize_coding = FALSE;
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    if (exif) {
        static const unsigned char kExif[] = {
            'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8,                  // TIFF header
            0, 1,                                                                   // one entry
            0x01, 0x0F, 0, 2, 0, 0, 0, 8, 0, 0, 0, 26,                              // Make, ASCII, 8 at 26
            0, 0, 0, 0,                                                             // no next IFD
            'V', 'a', 'n', 't', 'r', 'e', 'l', 0};
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, kExif, sizeof kExif);
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            for (int band = 0; band < 3; ++band) row[static_cast<std::size_t>(x * 3 + band)] = Sample(x, y, band);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

Bytes MakeLiteralGif(int width, int height) {
    const auto w = [](int v, int shift) { return static_cast<std::uint8_t>(v >> shift); };
    Bytes gif{'G', 'I', 'F', '8', '9', 'a', w(width, 0), w(width, 8), w(height, 0), w(height, 8), 0xF7, 0, 0};
    for (int i = 0; i < 256; ++i) gif.insert(gif.end(), {w(i, 0), w(255 - i, 0), 128});
    gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, w(width, 0), w(width, 8), w(height, 0), w(height, 8), 0});
    gif.push_back(8);  // LZW minimum code size

    // 9-bit codes only: a clear code before the table would need 10 bits.
    Bytes stream;
    std::uint32_t bits = 0;
    int bitCount = 0;
    auto emit = [&](int code) {
        bits |= static_cast<std::uint32_t>(code) << bitCount;
        bitCount += 9;
        while (bitCount >= 8) {
            stream.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
            bitCount -= 8;
        }
    };
    int sinceClear = 0;
    emit(256);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (sinceClear == 200) {
                emit(256);
                sinceClear = 0;
            }
            emit(((x / 8) * 16 + (y / 8) * 3) & 0xFF);
            ++sinceClear;
        }
    }
    emit(257);
    if (bitCount > 0) stream.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    for (std::size_t at = 0; at < stream.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, stream.size() - at);
        gif.push_back(static_cast<std::uint8_t>(n));
        gif.insert(gif.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
                   stream.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    gif.push_back(0);
    gif.push_back(0x3B);
    return gif;
}

Bytes DecodePixels(const fs::path& path) {
    plat::Initialize();
    try {
        auto image = vips::VImage::new_from_file(path.c_str()).cast(VIPS_FORMAT_UCHAR);
        if (image.bands() == 4) image = image.extract_band(0, vips::VImage::option()->set("n", 3));
        std::size_t size = 0;
        void* memory = image.write_to_memory(&size);
        Bytes out;
        PutU32(out, static_cast<std::uint32_t>(image.width()));
        PutU32(out, static_cast<std::uint32_t>(image.height()));
        out.insert(out.end(), static_cast<std::uint8_t*>(memory), static_cast<std::uint8_t*>(memory) + size);
        g_free(memory);
        return out;
    } catch (const vips::VError&) {
        vips_error_clear();
        return {};
    }
}

const std::vector<InPlaceAgent>& InPlaceAgents() {
    static const std::vector<InPlaceAgent> agents{
        {"PngCrush", "png", [](auto file) { optimisation::KSMPngCrushAgent(file).run(); }},
        {"OptiPNG", "png", [](auto file) { optimisation::OptiPNGAgent(file).run(); }},
        {"AdvPNG", "png", [](auto file) { optimisation::AdvCompAgent(file).run(); }},
        {"JpegOptim", "jpg", [](auto file) { optimisation::JPEGOptimAgent(file, 100, false).run(); }},
        {"jpegtran", "jpg", [](auto file) { optimisation::JPEGTranAgent(file).run(); }},
    };
    return agents;
}

std::vector<InPlaceAgent> InPlaceAgents(std::string_view extension) {
    std::vector<InPlaceAgent> agents;
    for (const auto& agent : InPlaceAgents()) {
        if (agent.extension == extension) agents.push_back(agent);
    }
    return agents;
}

std::vector<std::string> LeftoverWorkingFiles() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(plat::FileManager::temporaryDirectory(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("Vantrell.")) names.push_back(name);
    }
    return names;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::shared_ptr<optimisation::File> OptimisationTest::RunQueue(const fs::path& path, int processors) {
    for (auto key : {plat::defaults::kPngCrushEnabled, plat::defaults::kOptiPngEnabled, plat::defaults::kAdvPngEnabled,
                     plat::defaults::kJpegOptimEnabled, plat::defaults::kJpegTranEnabled}) {
        Defaults().setBool(key, true);
    }
    auto file = std::make_shared<optimisation::File>(path.string());
    plat::OperationQueue cpu(processors);
    plat::OperationQueue io(1);
    file->enqueueWorkersInCPUQueue(cpu, io);
    for (int round = 0; round < 3; ++round) {
        io.waitUntilAllOperationsAreFinished();
        cpu.waitUntilAllOperationsAreFinished();
    }
    return file;
}

void OptimisationTest::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "optimisation-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    for (std::size_t i = 0; i < std::size(kFolders); ++i) {
        fs::create_directories(dir_ / kFolders[i].sub);
        if (const char* value = std::getenv(kFolders[i].variable)) oldEnv_[i] = value;
        ::setenv(kFolders[i].variable, (dir_ / kFolders[i].sub).c_str(), 1);
    }
    plat::UserDefaults::resetStandardUserDefaults();
}

void OptimisationTest::TearDown() {
    for (auto tool : kOverridableTools) plat::ToolRunner::setExecutableOverride(tool, "");
    ::unsetenv(kFakeLogVariable);
    ::unsetenv(kFakeScriptVariable);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    for (std::size_t i = 0; i < std::size(kFolders); ++i) {
        oldEnv_[i] ? ::setenv(kFolders[i].variable, oldEnv_[i]->c_str(), 1) : ::unsetenv(kFolders[i].variable);
    }
    plat::UserDefaults::resetStandardUserDefaults();
}

void OptimisationTest::UseFakeTool(plat::Tool tool, const std::string& script) {
    ::setenv(kFakeLogVariable, (dir_ / "fake-runs.log").c_str(), 1);
    WriteText(dir_ / "fake-script.sh", script + "\n");
    script.empty() ? ::unsetenv(kFakeScriptVariable)
                   : ::setenv(kFakeScriptVariable, (dir_ / "fake-script.sh").c_str(), 1);
    plat::ToolRunner::setExecutableOverride(tool, fs::read_symlink("/proc/self/exe").string());
}

bool OptimisationTest::AsOrdinaryUser(const std::function<bool()>& body, const std::vector<gid_t>& groups) {
    if (::geteuid() != 0) return body();
    constexpr uid_t kNobody = 65534;
    std::error_code ignored;
    for (const auto& path : {dir_, dir_ / "tmp", dir_ / "config"}) ::chmod(path.c_str(), 0777);
    fs::remove_all(dir_ / "tmp" / ("vantrell-" + std::to_string(kNobody)), ignored);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        const bool ok = (groups.empty() || ::setgroups(groups.size(), groups.data()) == 0) && ::setgid(kNobody) == 0 &&
                        ::setuid(kNobody) == 0 && body();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::vector<std::string>> OptimisationTest::FakeRuns() const {
    std::vector<std::vector<std::string>> runs;
    std::ifstream in(dir_ / "fake-runs.log");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        auto& args = runs.emplace_back();
        for (std::string arg; std::getline(fields, arg, '\x1f');) args.push_back(arg);
    }
    return runs;
}

}  // namespace optest
