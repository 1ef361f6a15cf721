#include "platform/TypeIdentifier.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <fstream>
#include <utility>

namespace plat {

namespace {

struct ExtensionType {
    std::string_view extension;
    std::string_view type;
};

constexpr ExtensionType kExtensions[] = {
    // images
    {"jpg", "public.jpeg"}, {"jpeg", "public.jpeg"}, {"jpe", "public.jpeg"}, {"jfif", "public.jpeg"},
    {"tif", "public.tiff"}, {"tiff", "public.tiff"},
    {"png", "public.png"},
    {"gif", "com.compuserve.gif"},
    {"jp2", "public.jpeg-2000"}, {"j2k", "public.jpeg-2000"}, {"jpf", "public.jpeg-2000"},
    {"jpx", "public.jpeg-2000"}, {"jpm", "public.jpeg-2000"}, {"j2c", "public.jpeg-2000"},
    {"bmp", "com.microsoft.bmp"}, {"dib", "com.microsoft.bmp"},
    {"psd", "com.adobe.photoshop-image"},
    {"exr", "com.ilm.openexr-image"},
    {"tga", "com.truevision.tga-image"}, {"targa", "com.truevision.tga-image"},
    {"icns", "com.apple.icns"},
    {"sgi", "com.sgi.sgi-image"}, {"rgb", "com.sgi.sgi-image"}, {"rgba", "com.sgi.sgi-image"},
    {"bw", "com.sgi.sgi-image"},
    {"pict", "com.apple.pict"}, {"pct", "com.apple.pict"}, {"pic", "com.apple.pict"},
    {"pntg", "com.apple.macpaint-image"}, {"mac", "com.apple.macpaint-image"},
    {"xbm", "public.xbitmap-image"},
    {"qtif", "com.apple.quicktime-image"}, {"qti", "com.apple.quicktime-image"},
    {"fax", "public.fax"}, {"g3", "public.fax"},
    {"fpx", "com.kodak.flashpix.image"},
    {"ai", "com.adobe.illustrator.ai-image"},
    {"ico", "com.microsoft.ico"},
    {"webp", "org.webmproject.webp"},
    {"heic", "public.heic"}, {"heif", "public.heif"}, {"hif", "public.heif"},
    {"avif", "public.avif"}, {"jxl", "public.jpeg-xl"},
    {"svg", "public.svg-image"},
    // camera raw
    {"cr2", "public.camera-raw-image"}, {"cr3", "public.camera-raw-image"}, {"crw", "public.camera-raw-image"},
    {"nef", "public.camera-raw-image"}, {"nrw", "public.camera-raw-image"}, {"arw", "public.camera-raw-image"},
    {"srf", "public.camera-raw-image"}, {"sr2", "public.camera-raw-image"}, {"dng", "public.camera-raw-image"},
    {"orf", "public.camera-raw-image"}, {"raf", "public.camera-raw-image"}, {"rw2", "public.camera-raw-image"},
    {"rwl", "public.camera-raw-image"}, {"pef", "public.camera-raw-image"}, {"srw", "public.camera-raw-image"},
    {"x3f", "public.camera-raw-image"}, {"3fr", "public.camera-raw-image"}, {"fff", "public.camera-raw-image"},
    {"mef", "public.camera-raw-image"}, {"mos", "public.camera-raw-image"}, {"erf", "public.camera-raw-image"},
    {"kdc", "public.camera-raw-image"}, {"dcr", "public.camera-raw-image"}, {"mrw", "public.camera-raw-image"},
    {"iiq", "public.camera-raw-image"}, {"raw", "public.camera-raw-image"},
    // documents
    {"pdf", "com.adobe.pdf"},
    {"rtf", "public.rtf"}, {"rtfd", "com.apple.rtfd"},
    {"html", "public.html"}, {"htm", "public.html"},
    {"txt", "public.plain-text"}, {"text", "public.plain-text"},
    {"log", "com.apple.log"}, {"crash", "com.apple.crashreport"}, {"panic", "com.apple.panicreport"},
    {"hang", "com.apple.hangreport"}, {"spin", "com.apple.spinreport"}, {"aslquery", "com.apple.aslquery"},
    {"webarchive", "com.apple.webarchive"},
    {"odt", "org.oasis-open.opendocument.text"}, {"ott", "org.oasis-open.opendocument.text-template"},
    {"sxw", "org.openoffice.text"}, {"stw", "org.openoffice.text-template"},
    {"docx", "org.openxmlformats.wordprocessingml.document"},
    {"doc", "com.microsoft.word.doc"},
};

// Direct parents of each identifier; everything also ends in public.data.
struct Parent {
    std::string_view type;
    std::string_view parent;
};

constexpr Parent kParents[] = {
    {"public.jpeg", "public.image"}, {"public.tiff", "public.image"}, {"public.png", "public.image"},
    {"com.compuserve.gif", "public.image"}, {"public.jpeg-2000", "public.image"},
    {"com.microsoft.bmp", "public.image"}, {"com.adobe.photoshop-image", "public.image"},
    {"com.ilm.openexr-image", "public.image"}, {"com.truevision.tga-image", "public.image"},
    {"com.apple.icns", "public.image"}, {"com.sgi.sgi-image", "public.image"},
    {"com.apple.pict", "public.image"}, {"com.apple.macpaint-image", "public.image"},
    {"public.xbitmap-image", "public.image"}, {"com.apple.quicktime-image", "public.image"},
    {"public.fax", "public.image"}, {"com.kodak.flashpix.image", "public.image"},
    {"com.adobe.illustrator.ai-image", "public.image"}, {"com.microsoft.ico", "public.image"},
    {"org.webmproject.webp", "public.image"}, {"public.avif", "public.image"}, {"public.jpeg-xl", "public.image"}, {"public.heic", "public.heif"}, {"public.heif", "public.image"},
    {"public.svg-image", "public.image"}, {"public.camera-raw-image", "public.image"},
    {"public.image", "public.data"}, {"public.image", "public.content"},
    {"com.adobe.pdf", "public.data"}, {"com.adobe.pdf", "public.composite-content"},
    {"public.composite-content", "public.content"},
    {"public.rtf", "public.text"}, {"com.apple.rtfd", "public.composite-content"},
    {"public.html", "public.text"}, {"public.plain-text", "public.text"},
    {"com.apple.traditional-mac-plain-text", "public.text"},
    {"com.apple.log", "public.plain-text"}, {"com.apple.crashreport", "com.apple.log"},
    {"com.apple.panicreport", "com.apple.log"}, {"com.apple.hangreport", "com.apple.log"},
    {"com.apple.spinreport", "com.apple.log"}, {"com.apple.aslquery", "public.text"},
    {"com.apple.webarchive", "public.data"}, {"com.apple.webarchive", "public.composite-content"},
    {"org.oasis-open.opendocument.text", "public.data"},
    {"org.oasis-open.opendocument.text", "public.composite-content"},
    {"org.oasis-open.opendocument.text-template", "org.oasis-open.opendocument.text"},
    {"org.openoffice.text", "public.data"}, {"org.openoffice.text", "public.composite-content"},
    {"org.openoffice.text-template", "org.openoffice.text"},
    {"org.openxmlformats.wordprocessingml.document", "public.data"},
    {"org.openxmlformats.wordprocessingml.document", "public.composite-content"},
    {"com.microsoft.word.wordml", "public.xml"}, {"public.xml", "public.text"},
    {"com.microsoft.word.doc", "public.data"}, {"com.microsoft.word.doc", "public.composite-content"},
    {"public.text", "public.data"}, {"public.text", "public.content"},
};

bool startsWith(const std::uint8_t* p, std::size_t size, std::string_view prefix, std::size_t offset = 0) {
    return size >= offset + prefix.size() && std::memcmp(p + offset, prefix.data(), prefix.size()) == 0;
}

std::string_view trimmedStart(std::string_view text) {
    // A byte-order mark and white space may precede markup.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

std::string sniff(const std::uint8_t* p, std::size_t n) {
    if (n < 2) return {};
    const std::string_view text(reinterpret_cast<const char*>(p), n);

    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) return "public.jpeg";
    if (startsWith(p, n, "\x89PNG\r\n\x1a\n")) return "public.png";
    if (startsWith(p, n, "GIF87a") || startsWith(p, n, "GIF89a")) return "com.compuserve.gif";
    if (startsWith(p, n, std::string_view("\x00\x00\x00\x0CjP  \r\n\x87\n", 12)) ||
        startsWith(p, n, "\xFF\x4F\xFF\x51")) {
        return "public.jpeg-2000";
    }
    if (startsWith(p, n, "II*") || startsWith(p, n, std::string_view("MM\x00*", 4)) ||
        startsWith(p, n, "II+") || startsWith(p, n, std::string_view("MM\x00+", 4))) {
        if (n >= 10 && p[8] == 'C' && p[9] == 'R') return "public.camera-raw-image";  // Canon CR2
        return "public.tiff";
    }
    if (startsWith(p, n, "IIRO") || startsWith(p, n, "IIRS") || startsWith(p, n, std::string_view("IIU\x00", 4)) ||
        startsWith(p, n, "FUJIFILMCCD-RAW") || startsWith(p, n, std::string_view("\x00MRM", 4))) {
        return "public.camera-raw-image";
    }
    if (startsWith(p, n, "8BPS")) return "com.adobe.photoshop-image";
    if (startsWith(p, n, "\x76\x2F\x31\x01")) return "com.ilm.openexr-image";
    if (startsWith(p, n, "icns")) return "com.apple.icns";
    if (n >= 14 && p[0] == 'B' && p[1] == 'M') return "com.microsoft.bmp";
    if (n >= 6 && p[0] == 0x01 && p[1] == 0xDA && p[2] <= 1 && p[3] >= 1 && p[3] <= 2) return "com.sgi.sgi-image";
    if (startsWith(p, n, "RIFF") && startsWith(p, n, "WEBP", 8)) return "org.webmproject.webp";
    if (n >= 6 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0 && (p[4] | p[5]) != 0) return "com.microsoft.ico";
    if (startsWith(p, n, "idsc", 4)) return "com.apple.quicktime-image";
    if (startsWith(p, n, "\xFF\x0A") || startsWith(p, n, std::string_view("\0\0\0\x0CJXL \r\n\x87\n", 12))) {
        return "public.jpeg-xl";
    }
    if (startsWith(p, n, "ftyp", 4)) {
        if (startsWith(p, n, "avif", 8) || startsWith(p, n, "avis", 8)) return "public.avif";
        if (startsWith(p, n, "heic", 8) || startsWith(p, n, "heix", 8)) return "public.heic";
        if (startsWith(p, n, "mif1", 8) || startsWith(p, n, "msf1", 8)) return "public.heif";
    }
    // PDF readers accept the header anywhere in the first kilobyte.
    if (text.substr(0, 1024).find("%PDF-") != std::string_view::npos) return "com.adobe.pdf";
    // PICT: a 512-byte header, size and frame, then the version opcode.
    if (n >= 526 && ((p[522] == 0x00 && p[523] == 0x11 && p[524] == 0x02 && p[525] == 0xFF) ||
                     (p[522] == 0x11 && p[523] == 0x01))) {
        return "com.apple.pict";
    }
    if (startsWith(p, n, "PK\x03\x04")) {
        const std::string_view head = text.substr(0, 4096);
        if (head.find("mimetypeapplication/vnd.oasis.opendocument.text-template") != std::string_view::npos) {
            return "org.oasis-open.opendocument.text-template";
        }
        if (head.find("mimetypeapplication/vnd.oasis.opendocument.text") != std::string_view::npos) {
            return "org.oasis-open.opendocument.text";
        }
        if (head.find("word/") != std::string_view::npos) return "org.openxmlformats.wordprocessingml.document";
        return {};
    }
    const std::string_view markup = trimmedStart(text);
    if (markup.substr(0, 5) == "{\\rtf") return "public.rtf";
    if (startsWithNoCase(markup, "<!doctype html") || startsWithNoCase(markup, "<html")) return "public.html";
    if (markup.substr(0, 5) == "<?xml" &&
        markup.substr(0, 512).find("progid=\"Word.Document\"") != std::string_view::npos) {
        return "com.microsoft.word.wordml";
    }
    if (markup.substr(0, 8) == "#define " && markup.substr(0, 256).find("_width") != std::string_view::npos) {
        return "public.xbitmap-image";
    }
    // TGA has no leading signature; version 2 files end with one.
    if (n >= 26 && std::memcmp(p + n - 18, "TRUEVISION-XFILE.", 17) == 0) return "com.truevision.tga-image";
    return {};
}

}  // namespace

std::string TypeIdentifier::forExtension(std::string_view extension) {
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    if (extension.empty() || extension.size() > 16) return {};
    std::string lower(extension);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& entry : kExtensions) {
        if (entry.extension == lower) return std::string(entry.type);
    }
    return {};
}

std::string TypeIdentifier::forPath(const std::filesystem::path& path) {
    return forExtension(path.extension().string());
}

std::string TypeIdentifier::forData(const void* data, std::size_t size) {
    if (!data) return {};
    return sniff(static_cast<const std::uint8_t*>(data), size);
}

std::string TypeIdentifier::forFileContents(const std::filesystem::path& path) {
    // Only regular files are read: a FIFO or device would block or never end.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return forPath(path);
    std::ifstream in(path, std::ios::binary);
    if (in) {
        std::array<char, 4096> head{};
        in.read(head.data(), head.size());
        const auto got = static_cast<std::size_t>(in.gcount());
        std::string type = forData(head.data(), got);
        if (type.empty() && got > 0) {
            // Signatures at the end (TGA) need the file's tail.
            in.clear();
            in.seekg(-26, std::ios::end);
            std::array<char, 26> tail{};
            if (in.read(tail.data(), tail.size()) &&
                std::memcmp(tail.data() + 8, "TRUEVISION-XFILE.", 17) == 0) {
                type = "com.truevision.tga-image";
            }
        }
        if (!type.empty()) return type;
    }
    return forPath(path);
}

bool TypeIdentifier::conformsTo(std::string_view type, std::string_view parent) {
    if (type.empty() || parent.empty()) return false;
    if (type == parent) return true;
    // The graph is shallow and acyclic; a depth guard keeps a mistake finite.
    std::array<std::string_view, 64> stack{};
    std::size_t top = 0;
    stack[top++] = type;
    int steps = 0;
    while (top > 0 && ++steps < 256) {
        const std::string_view current = stack[--top];
        for (const auto& edge : kParents) {
            if (edge.type != current) continue;
            if (edge.parent == parent) return true;
            if (top < stack.size()) stack[top++] = edge.parent;
        }
    }
    return false;
}

}  // namespace plat
