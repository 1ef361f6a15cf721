#include "platform/codecs/ImageFormat.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace plat::codecs {

namespace {

bool StartsWith(const std::uint8_t* head, std::size_t length, std::size_t offset, const char* magic,
                std::size_t magicLength) {
    return length >= offset + magicLength && std::memcmp(head + offset, magic, magicLength) == 0;
}

template <std::size_t N>
bool StartsWith(const std::uint8_t* head, std::size_t length, const char (&magic)[N],
                std::size_t offset = 0) {
    return StartsWith(head, length, offset, magic, N - 1);
}

unsigned U16LE(const std::uint8_t* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }
std::uint32_t U32LE(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

bool OneOf(std::string_view extension, std::initializer_list<std::string_view> list) {
    return std::find(list.begin(), list.end(), extension) != list.end();
}

bool IsRawExtension(std::string_view e) {
    return OneOf(e, {"cr2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "dng", "orf", "pef",
                     "rw2", "raf", "3fr", "erf", "kdc", "dcr", "mef", "mos", "mrw", "srw", "x3f",
                     "raw", "rwl", "iiq", "k25", "fff"});
}

bool PlausibleBMP(const std::uint8_t* h, std::size_t n) {
    if (!StartsWith(h, n, "BM") || n < 18) return false;
    const std::uint32_t dib = U32LE(h + 14);
    return dib == 12 || dib == 16 || dib == 40 || dib == 52 || dib == 56 || dib == 64 ||
           dib == 108 || dib == 124;
}

bool PlausibleICO(const std::uint8_t* h, std::size_t n) {
    if (n < 22 || U16LE(h) != 0 || U16LE(h + 2) != 1) return false;
    const unsigned count = U16LE(h + 4);
    // First directory entry: reserved byte 0, planes 0 or 1.
    return count > 0 && h[9] == 0 && U16LE(h + 10) <= 1;
}

bool PlausibleTGA(const std::uint8_t* h, std::size_t n) {
    if (n < 18) return false;
    const unsigned colourMapType = h[1], imageType = h[2], depth = h[16];
    if (colourMapType > 1) return false;
    const bool typeOk = imageType == 1 || imageType == 2 || imageType == 3 || imageType == 9 ||
                        imageType == 10 || imageType == 11;
    const bool depthOk = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
    return typeOk && depthOk && U16LE(h + 12) > 0 && U16LE(h + 14) > 0;
}

bool PlausibleSGI(const std::uint8_t* h, std::size_t n) {
    if (n < 12 || h[0] != 0x01 || h[1] != 0xDA) return false;
    const unsigned storage = h[2], bpc = h[3], dimension = unsigned(h[4]) << 8 | h[5];
    return storage <= 1 && (bpc == 1 || bpc == 2) && dimension >= 1 && dimension <= 3;
}

bool IsPICT(const std::uint8_t* h, std::size_t n) {
    // Version 2 opcode after the 512-byte file header and the 10-byte frame.
    static const char v2[] = {0x00, 0x11, 0x02, char(0xFF)};
    static const char v1[] = {0x11, 0x01};
    return StartsWith(h, n, 522, v2, 4) || StartsWith(h, n, 522, v1, 2);
}

bool IsXBM(const std::uint8_t* h, std::size_t n) {
    std::string_view text(reinterpret_cast<const char*>(h), std::min<std::size_t>(n, 512));
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return false;
    text = text.substr(start);
    return text.rfind("#define", 0) == 0 && text.find("_width") != std::string_view::npos;
}

}  // namespace

ImageFormat Sniff(const std::uint8_t* h, std::size_t n, std::string_view extension) {
    if (!h || n < 2) return ImageFormat::Unknown;
    if (StartsWith(h, n, "\xFF\xD8\xFF")) return ImageFormat::JPEG;
    if (StartsWith(h, n, "\x89PNG\r\n\x1A\n")) return ImageFormat::PNG;
    if (StartsWith(h, n, "GIF87a") || StartsWith(h, n, "GIF89a")) return ImageFormat::GIF;
    if (StartsWith(h, n, "II*\0") || StartsWith(h, n, "MM\0*") || StartsWith(h, n, "II+\0") ||
        StartsWith(h, n, "MM\0+")) {
        // Most camera raw files are TIFF containers; their names tell them apart.
        if (IsRawExtension(extension) || StartsWith(h, n, "CR", 8)) return ImageFormat::CameraRaw;
        return ImageFormat::TIFF;
    }
    if (StartsWith(h, n, "\0\0\0\x0CjP  \r\n\x87\n") || StartsWith(h, n, "\xFF\x4F\xFF\x51")) {
        return ImageFormat::JPEG2000;
    }
    if (StartsWith(h, n, "RIFF") && StartsWith(h, n, "WEBP", 8)) return ImageFormat::WebP;
    if (StartsWith(h, n, "%PDF-")) {
        return extension == "ai" ? ImageFormat::Illustrator : ImageFormat::PDF;
    }
    if (StartsWith(h, n, "v/1\x01")) return ImageFormat::OpenEXR;
    if (StartsWith(h, n, "icns")) return ImageFormat::ICNS;
    if (StartsWith(h, n, "8BPS\0\x01") || StartsWith(h, n, "8BPS\0\x02")) return ImageFormat::Photoshop;
    if (PlausibleBMP(h, n)) return ImageFormat::BMP;
    if (PlausibleSGI(h, n)) return ImageFormat::SGI;
    if (PlausibleICO(h, n)) return ImageFormat::ICO;
    if (IsPICT(h, n)) return ImageFormat::PICT;
    if (IsXBM(h, n)) return ImageFormat::XBitmap;
    // Raw formats with signatures of their own.
    if (StartsWith(h, n, "FUJIFILMCCD-RAW") || StartsWith(h, n, "IIU\0") ||
        StartsWith(h, n, "IIRO") || StartsWith(h, n, "IIRS") || StartsWith(h, n, "FOVb") ||
        StartsWith(h, n, "HEAPCCDR", 6) || StartsWith(h, n, "\0MRM") ||
        (StartsWith(h, n, "ftypcrx ", 4))) {
        return ImageFormat::CameraRaw;
    }
    // HEIF family: an ISO media box "ftyp" whose brands name a still image.
    if (StartsWith(h, n, "ftyp", 4) && n >= 12) {
        const std::string_view major(reinterpret_cast<const char*>(h + 8), 4);
        if (major == "avif" || major == "avis") return ImageFormat::AVIF;
        if (major == "heic" || major == "heix" || major == "hevc" || major == "hevx" || major == "heim" ||
            major == "heis") {
            return ImageFormat::HEIF;
        }
        if (major == "mif1" || major == "msf1") {
            // Compatible brands after the minor version: AV1 or HEVC inside.
            std::uint32_t box = std::uint32_t(h[0]) << 24 | std::uint32_t(h[1]) << 16 | std::uint32_t(h[2]) << 8 | h[3];
            box = std::min<std::uint32_t>(box, std::uint32_t(std::min<std::size_t>(n, 256)));
            for (std::size_t at = 16; at + 4 <= box; at += 4) {
                const std::string_view brand(reinterpret_cast<const char*>(h + at), 4);
                if (brand == "avif") return ImageFormat::AVIF;
            }
            return ImageFormat::HEIF;
        }
    }
    if (StartsWith(h, n, "\xFF\x0A") || StartsWith(h, n, "\0\0\0\x0CJXL \r\n\x87\n")) return ImageFormat::JPEGXL;
    // Formats without a signature: the name decides, with a sanity check.
    if (OneOf(extension, {"tga", "icb", "vda", "vst"}) && PlausibleTGA(h, n)) return ImageFormat::TGA;
    if (OneOf(extension, {"pict", "pct", "pic"}) && n > 522) return ImageFormat::PICT;
    if (OneOf(extension, {"mac", "pntg", "pnt"}) && n > 512) return ImageFormat::MacPaint;
    if (OneOf(extension, {"fax", "g3"}) && n > 2) return ImageFormat::Fax;
    if (IsRawExtension(extension) && n > 64) return ImageFormat::CameraRaw;
    return ImageFormat::Unknown;
}

std::string TypeIdentifierFor(ImageFormat format) {
    switch (format) {
    case ImageFormat::JPEG: return "public.jpeg";
    case ImageFormat::PNG: return "public.png";
    case ImageFormat::GIF: return "com.compuserve.gif";
    case ImageFormat::TIFF: return "public.tiff";
    case ImageFormat::JPEG2000: return "public.jpeg-2000";
    case ImageFormat::WebP: return "org.webmproject.webp";
    case ImageFormat::PDF: return "com.adobe.pdf";
    case ImageFormat::Illustrator: return "com.adobe.illustrator.ai-image";
    case ImageFormat::OpenEXR: return "com.ilm.openexr-image";
    case ImageFormat::ICNS: return "com.apple.icns";
    case ImageFormat::BMP: return "com.microsoft.bmp";
    case ImageFormat::Photoshop: return "com.adobe.photoshop-image";
    case ImageFormat::TGA: return "com.truevision.tga-image";
    case ImageFormat::ICO: return "com.microsoft.ico";
    case ImageFormat::PICT: return "com.apple.pict";
    case ImageFormat::SGI: return "com.sgi.sgi-image";
    case ImageFormat::XBitmap: return "public.xbitmap-image";
    case ImageFormat::MacPaint: return "com.apple.macpaint-image";
    case ImageFormat::Fax: return "public.fax";
    case ImageFormat::CameraRaw: return "public.camera-raw-image";
    case ImageFormat::HEIF: return "public.heic";
    case ImageFormat::AVIF: return "public.avif";
    case ImageFormat::JPEGXL: return "public.jpeg-xl";
    case ImageFormat::Unknown: break;
    }
    return "";
}

const char* MagickCoderFor(ImageFormat format) {
    switch (format) {
    case ImageFormat::BMP: return "BMP";
    case ImageFormat::Photoshop: return "PSD";
    case ImageFormat::TGA: return "TGA";
    case ImageFormat::ICO: return "ICO";
    case ImageFormat::PICT: return "PICT";
    case ImageFormat::SGI: return "SGI";
    case ImageFormat::XBitmap: return "XBM";
    case ImageFormat::MacPaint: return "MAC";
    case ImageFormat::Fax: return "FAX";
    default: return "";
    }
}

}  // namespace plat::codecs
