#include "platform/ImageDestination.h"

#include "platform/DecodeWatch.h"
#include "platform/FileDescriptor.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/PdfWriter.h"
#include "platform/TiffWriter.h"
#include "platform/codecs/ExrCodec.h"
#include "platform/codecs/IcnsCodec.h"
#include "platform/codecs/ImageMetadata.h"
#include "platform/codecs/MagickCodec.h"
#include "platform/codecs/PngWriter.h"
#include "platform/codecs/TiffPages.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

#include <unistd.h>

namespace plat {

using vips::VImage;

namespace {

enum class Encoder { None, JPEG, PNG, TIFF, GIF, JPEG2000, WebP, OpenEXR, ICNS, PDF, Magick };

struct Format {
    Encoder encoder;
    const char* magickCoder;  // for Encoder::Magick
    bool multiImage;
};

Format FormatFor(const std::string& type) {
    if (type == "public.jpeg") return {Encoder::JPEG, "", false};
    if (type == "public.png") return {Encoder::PNG, "", false};
    if (type == "public.tiff") return {Encoder::TIFF, "", true};
    if (type == "com.compuserve.gif") return {Encoder::GIF, "", true};
    if (type == "public.jpeg-2000") return {Encoder::JPEG2000, "", false};
    if (type == "org.webmproject.webp") return {Encoder::WebP, "", false};
    if (type == "com.ilm.openexr-image") return {Encoder::OpenEXR, "", false};
    if (type == "com.apple.icns") return {Encoder::ICNS, "", false};
    if (type == "com.adobe.pdf") return {Encoder::PDF, "", true};
    if (type == "com.microsoft.bmp") return {Encoder::Magick, "BMP", false};
    if (type == "com.adobe.photoshop-image") return {Encoder::Magick, "PSD", false};
    if (type == "com.truevision.tga-image") return {Encoder::Magick, "TGA", false};
    if (type == "com.microsoft.ico") return {Encoder::Magick, "ICO", false};
    if (type == "com.apple.pict") return {Encoder::Magick, "PICT", false};
    if (type == "com.sgi.sgi-image") return {Encoder::Magick, "SGI", false};
    return {Encoder::None, "", false};
}

std::vector<std::uint8_t> TakeBlob(VipsBlob* blob) {
    std::vector<std::uint8_t> out;
    if (!blob) return out;
    std::size_t length = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(vips_blob_get(blob, &length));
    if (bytes && length) out.assign(bytes, bytes + length);
    vips_area_unref(VIPS_AREA(blob));
    return out;
}

using Head = std::vector<std::uint8_t>;
// Where a file's head (what comes before its pixel data) ends in the bytes
// held so far: 0 while it is not all there.
using HeadEnd = std::function<std::size_t(const Head& held)>;

// Where an encoder's bytes go: into memory, straight on through `write` (a
// file being written), or into the open file `descriptor` for encoders that
// seek back while they write; never through a buffer of the whole file.
struct Output {
    std::vector<std::uint8_t>* bytes = nullptr;
    const FileManager::ByteWriter* write = nullptr;
    int descriptor = -1;
    // Applied to the file's head before it goes out (the JFIF header of a
    // JPEG); `headEnd` says where the head ends, by default after its
    // first kHeadLength bytes.
    std::function<void(Head& head)> fixHead;
    HeadEnd headEnd;
    // Writes the metadata asked for into the head of a file that streams
    // (JPEG, PNG); unset where there is none to write.
    std::function<void(Head& head)> addMetadata;
};

constexpr std::size_t kHeadLength = 32;

// Passes bytes on to `write`, holding back the file's head until it is
// complete and `fix` has rewritten it.
class HeadedWriter {
public:
    HeadedWriter(const FileManager::ByteWriter& write, std::function<void(Head&)> fix, HeadEnd end)
        : write_(write), fix_(std::move(fix)), end_(std::move(end)), done_(!fix_) {}

    bool operator()(const void* data, std::size_t size) {
        if (failed_) return false;
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        if (!done_) {
            held_.insert(held_.end(), bytes, bytes + size);
            const std::size_t end = end_ ? end_(held_) : held_.size() >= kHeadLength ? kHeadLength : 0;
            if (end == 0) return true;
            Head rest(held_.begin() + std::ptrdiff_t(std::min(end, held_.size())), held_.end());
            held_.resize(std::min(end, held_.size()));
            if (!finish()) return false;
            return rest.empty() || pass(rest.data(), rest.size());
        }
        return pass(bytes, size);
    }

    // Sends what is still held (a file shorter than its head).
    bool finish() {
        if (done_) return !failed_;
        done_ = true;
        fix_(held_);
        const bool ok = held_.empty() || pass(held_.data(), held_.size());
        held_ = {};
        return ok;
    }

    bool failed() const { return failed_; }

private:
    bool pass(const void* data, std::size_t size) {
        if (!write_(data, size)) failed_ = true;
        return !failed_;
    }

    const FileManager::ByteWriter& write_;
    std::function<void(Head&)> fix_;
    HeadEnd end_;
    bool done_;
    bool failed_ = false;
    Head held_;
};

// A libvips target that hands what a saver writes to Output::write, its
// head held back until Output::fixHead has seen it.
class StreamTarget {
public:
    explicit StreamTarget(const Output& output)
        : writer_(*output.write, output.fixHead, output.headEnd),
          target_(VIPS_TARGET(vips_target_custom_new()), vips::STEAL) {
        g_signal_connect(target_.get_target(), "write", G_CALLBACK(&StreamTarget::OnWrite), this);
        g_signal_connect(target_.get_target(), "end", G_CALLBACK(&StreamTarget::OnEnd), this);
    }

    const vips::VTarget& target() const { return target_; }
    bool failed() const { return writer_.failed(); }

private:
    static gint64 OnWrite(VipsTargetCustom*, const void* data, gint64 length, StreamTarget* self) {
        return length >= 0 && self->writer_(data, std::size_t(length)) ? length : -1;
    }
    static int OnEnd(VipsTargetCustom*, StreamTarget* self) { return self->writer_.finish() ? 0 : -1; }

    HeadedWriter writer_;
    vips::VTarget target_;
};

// The end of a JPEG's head: after its start-of-scan segment, where the
// entropy-coded data begins. A stream that is no JPEG ends its head at
// once.
std::size_t JpegHeadEnd(const Head& held) {
    if (held.size() < 2) return 0;
    if (held[0] != 0xFF || held[1] != 0xD8) return held.size();
    std::size_t at = 2;
    while (at + 4 <= held.size()) {
        if (held[at] != 0xFF) return held.size();
        const std::uint8_t marker = held[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        const std::size_t length = std::size_t(held[at + 2]) << 8 | held[at + 3];
        if (length < 2) return held.size();
        if (marker == 0xDA) return at + 2 + length <= held.size() ? at + 2 + length : 0;
        at += 2 + length;
    }
    return 0;
}

// The end of a PNG's head: where its first IDAT chunk begins.
std::size_t PngHeadEnd(const Head& held) {
    if (held.size() < 8) return 0;
    std::size_t at = 8;
    while (at + 8 <= held.size()) {
        if (std::memcmp(&held[at + 4], "IDAT", 4) == 0) return at;
        const std::size_t length = std::size_t(held[at]) << 24 | std::size_t(held[at + 1]) << 16 |
                                   std::size_t(held[at + 2]) << 8 | held[at + 3];
        if (length > 0x7FFFFFFFu) return held.size();
        at += 12 + length;
    }
    return 0;
}

// A libvips target over an open file, for savers that seek back and read
// what they wrote (libtiff, OpenJPEG). The bytes of a failed write are
// dropped and the failure kept for afterwards: OpenJPEG behind libvips
// retries a write that reports failure for ever.
class DescriptorTarget {
public:
    explicit DescriptorTarget(int descriptor)
        : descriptor_(descriptor), target_(VIPS_TARGET(vips_target_custom_new()), vips::STEAL) {
        g_signal_connect(target_.get_target(), "write", G_CALLBACK(&DescriptorTarget::OnWrite), this);
        g_signal_connect(target_.get_target(), "read", G_CALLBACK(&DescriptorTarget::OnRead), this);
        g_signal_connect(target_.get_target(), "seek", G_CALLBACK(&DescriptorTarget::OnSeek), this);
    }

    const vips::VTarget& target() const { return target_; }
    bool failed() const { return failed_; }

private:
    static gint64 OnWrite(VipsTargetCustom*, const void* data, gint64 length, DescriptorTarget* self) {
        if (length < 0) return -1;
        if (!self->failed_ && WriteAll(self->descriptor_, data, std::size_t(length)) != 0) self->failed_ = true;
        return length;
    }
    static gint64 OnRead(VipsTargetCustom*, void* data, gint64 length, DescriptorTarget* self) {
        if (length < 0) return -1;
        ssize_t got;
        do {
            got = ::read(self->descriptor_, data, std::size_t(length));
        } while (got < 0 && errno == EINTR);
        return got;
    }
    static gint64 OnSeek(VipsTargetCustom*, gint64 offset, int whence, DescriptorTarget* self) {
        return ::lseek(self->descriptor_, off_t(offset), whence);
    }

    int descriptor_;
    vips::VTarget target_;
    bool failed_ = false;
};

// Runs the saver `ToTarget` into the output's file or stream, or `ToBuffer`
// into its bytes. A failed write fails the save.
template <auto ToTarget, auto ToBuffer>
void Save(const VImage& image, vips::VOption* options, const Output& out) {
    if (out.descriptor >= 0) {
        DescriptorTarget file(out.descriptor);
        (image.*ToTarget)(file.target(), options);
        if (file.failed()) throw vips::VError("write failed");
        return;
    }
    if (!out.write) {
        *out.bytes = TakeBlob((image.*ToBuffer)(options));
        return;
    }
    StreamTarget stream(out);
    (image.*ToTarget)(stream.target(), options);
    if (stream.failed()) throw vips::VError("write failed");
}

// Metadata the loader left on the image never leaks into the output: only
// what the properties ask for is written. The ICC profile stays. The EXIF
// thumbnail goes too: libvips would write it back into every EXIF block it
// makes, and it shows the source's picture, not this one.
VImage WithoutMetadata(const VImage& image) {
    VImage copy = image.copy();
    gchar** fields = vips_image_get_fields(copy.get_image());
    for (gchar** field = fields; field && *field; ++field) {
        const std::string name = *field;
        if (name == VIPS_META_ICC_NAME) continue;
        if (name == VIPS_META_EXIF_NAME || name == VIPS_META_XMP_NAME || name == VIPS_META_IPTC_NAME ||
            name == VIPS_META_PHOTOSHOP_NAME || name == VIPS_META_ORIENTATION || name == "jpeg-thumbnail-data" ||
            name.rfind("exif-", 0) == 0 || name.rfind("png-comment", 0) == 0 ||
            name.rfind("magick-", 0) == 0 || name == VIPS_META_IMAGEDESCRIPTION ||
            name == VIPS_META_RESOLUTION_UNIT || name == "gif-comment" || name == "gif-palette" ||
            name == "palette-bit-depth" || name == "bits-per-sample" || name == "heif-primary") {
            copy.remove(name.c_str());
        }
    }
    g_strfreev(fields);
    return copy;
}

// 8-bit pixels, alpha flattened onto white.
VImage FlattenOnWhite(const Image& image) {
    const VImage v = EightBitSamples(image.vimage());
    if (!image.hasAlpha()) return v;
    VImage flat = v.flatten(VImage::option()->set(
        "background", std::vector<double>(std::size_t(image.colorComponents()),
                                          image.colorModel() == ColorModel::CMYK ? 0.0 : 255.0)));
    flat = flat.cast(VIPS_FORMAT_UCHAR);
    VipsInterpretation interpretation = image.colorModel() == ColorModel::Gray ? VIPS_INTERPRETATION_B_W
                                        : image.colorModel() == ColorModel::CMYK ? VIPS_INTERPRETATION_CMYK
                                                                                  : VIPS_INTERPRETATION_sRGB;
    return flat.copy(VImage::option()->set("interpretation", interpretation));
}

VImage DropAlpha(const Image& image) {
    const VImage& v = image.vimage();
    if (!image.hasAlpha()) return v;
    return v.extract_band(0, VImage::option()->set("n", image.colorComponents()));
}

// An sRGB (or grey) version for formats without CMYK.
VImage WithoutCMYK(const Image& image) {
    if (image.colorModel() != ColorModel::CMYK) return image.vimage();
    VImage rgb = image.vimage().colourspace(VIPS_INTERPRETATION_sRGB);
    if (rgb.format() != VIPS_FORMAT_UCHAR) rgb = rgb.cast(VIPS_FORMAT_UCHAR);
    return rgb;
}

// For formats that cannot carry an ICC profile: RGB pixels tagged with one
// (Adobe RGB, Display P3) converted to sRGB, so that colours do not shift
// when the profile is left behind. A profile that cannot be used leaves the
// pixels as they are. 16-bit and float pixels come out as 16 bits.
VImage InSRGBWithoutProfile(const VImage& image) {
    if (!vips_image_get_typeof(image.get_image(), VIPS_META_ICC_NAME) || image.bands() < 3 ||
        image.interpretation() == VIPS_INTERPRETATION_CMYK) {
        return image;
    }
    try {
        const bool deep = image.format() != VIPS_FORMAT_UCHAR;
        const VipsBandFormat format = deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR;
        VImage srgb = AtMostSixteenBitSamples(image).icc_transform(
            "srgb", VImage::option()->set("embedded", true)->set("depth", deep ? 16 : 8));
        if (srgb.format() != format) srgb = srgb.cast(format);
        srgb = srgb.copy(VImage::option()->set(
            "interpretation", deep ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB));
        srgb.remove(VIPS_META_ICC_NAME);
        return srgb;
    } catch (const vips::VError&) {
        vips_error_clear();
        return image;
    }
}

struct Settings {
    double quality = 0.85;
    double dpiX = 72.0, dpiY = 72.0;
    bool keepAlpha = true;
    int orientation = 0;
    bool lzw = true;
};

Settings SettingsFrom(const PropertyDict& properties) {
    Settings s;
    if (auto q = properties.number(prop::LossyCompressionQuality)) {
        if (std::isfinite(*q)) s.quality = std::clamp(*q, 0.0, 1.0);
    }
    auto x = properties.number(prop::DPIWidth), y = properties.number(prop::DPIHeight);
    if (x && std::isfinite(*x) && *x > 0.0) s.dpiX = *x;
    if (y && std::isfinite(*y) && *y > 0.0) s.dpiY = *y;
    if (x && !y && s.dpiX > 0.0) s.dpiY = s.dpiX;
    if (auto alpha = properties.boolean(prop::HasAlpha)) s.keepAlpha = *alpha;
    if (auto o = properties.integer(prop::Orientation)) {
        if (*o >= 1 && *o <= 8) s.orientation = int(*o);
    }
    if (const PropertyDict* tiff = properties.dict(prop::TIFFDictionary)) {
        if (auto c = tiff->integer(prop::TIFFCompression)) s.lzw = *c != 1;
    }
    return s;
}

VImage WithResolution(VImage image, const Settings& s) {
    return image.copy(VImage::option()->set("xres", s.dpiX / 25.4)->set("yres", s.dpiY / 25.4));
}

void PutU32(std::uint8_t* p, std::uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (bigEndian ? 24 - 8 * i : 8 * i));
}

// ImageMagick's writers behind libvips leave the resolution out; the header
// fields are set here.
void StampResolution(std::vector<std::uint8_t>& bytes, const std::string& coder, const Settings& s) {
    if (coder == "BMP") {
        // BITMAPINFOHEADER and later: pixels per metre at offsets 38 and 42.
        if (bytes.size() < 46 || bytes[0] != 'B' || bytes[1] != 'M') return;
        const std::uint32_t dib = std::uint32_t(bytes[14]) | std::uint32_t(bytes[15]) << 8 |
                                  std::uint32_t(bytes[16]) << 16 | std::uint32_t(bytes[17]) << 24;
        if (dib < 40) return;
        PutU32(&bytes[38], std::uint32_t(std::lround(s.dpiX / 0.0254)), false);
        PutU32(&bytes[42], std::uint32_t(std::lround(s.dpiY / 0.0254)), false);
    } else if (coder == "PSD") {
        // Image resource 0x03ED (ResolutionInfo): fixed-point dpi with unit 1 (inch).
        static const std::uint8_t marker[] = {'8', 'B', 'I', 'M', 0x03, 0xED};
        auto at = std::search(bytes.begin(), bytes.end(), std::begin(marker), std::end(marker));
        if (at == bytes.end()) return;
        const std::size_t start = std::size_t(at - bytes.begin()) + 6;
        const std::size_t nameLength = start < bytes.size() ? bytes[start] : 0;
        std::size_t data = start + ((nameLength + 2) & ~std::size_t(1)) + 4;
        if (data + 16 > bytes.size()) return;
        auto fixed = [](double dpi) { return std::uint32_t(std::lround(std::min(dpi, 30000.0) * 65536.0)); };
        PutU32(&bytes[data], fixed(s.dpiX), true);
        bytes[data + 4] = 0, bytes[data + 5] = 1, bytes[data + 6] = 0, bytes[data + 7] = 1;
        PutU32(&bytes[data + 8], fixed(s.dpiY), true);
        bytes[data + 12] = 0, bytes[data + 13] = 1, bytes[data + 14] = 0, bytes[data + 15] = 1;
    }
}

// libvips writes the resolution only into its EXIF block when it writes one;
// readers that look at the JFIF header alone need it there too.
void EnsureJfifDensity(std::vector<std::uint8_t>& jpeg, const Settings& s) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return;
    auto density = [](double dpi) { return std::uint16_t(std::clamp(std::lround(dpi), 1L, 65535L)); };
    const std::uint16_t x = density(s.dpiX), y = density(s.dpiY);
    if (jpeg[2] == 0xFF && jpeg[3] == 0xE0 && jpeg.size() >= 18 && std::memcmp(&jpeg[6], "JFIF", 5) == 0) {
        jpeg[13] = 1;
        jpeg[14] = std::uint8_t(x >> 8), jpeg[15] = std::uint8_t(x);
        jpeg[16] = std::uint8_t(y >> 8), jpeg[17] = std::uint8_t(y);
        return;
    }
    const std::uint8_t app0[] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x01,
                                 std::uint8_t(x >> 8), std::uint8_t(x), std::uint8_t(y >> 8), std::uint8_t(y),
                                 0x00, 0x00};
    jpeg.insert(jpeg.begin() + 2, std::begin(app0), std::end(app0));
}

std::vector<std::uint8_t> ProfileOf(const VImage& image) {
    if (!vips_image_get_typeof(image.get_image(), VIPS_META_ICC_NAME)) return {};
    const void* data = nullptr;
    std::size_t length = 0;
    if (vips_image_get_blob(image.get_image(), VIPS_META_ICC_NAME, &data, &length) || !data) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + length);
}

// Puts `profile` into a JPEG's first bytes as APP2 "ICC_PROFILE" segments,
// after its JFIF header.
void InsertJpegProfile(std::vector<std::uint8_t>& jpeg, const std::vector<std::uint8_t>& profile) {
    constexpr std::size_t kChunk = 65519;  // a segment's 65533 bytes less the tag and numbering
    if (profile.empty() || jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return;
    const std::size_t chunks = (profile.size() + kChunk - 1) / kChunk;
    if (chunks > 255) return;
    std::size_t at = 2;
    if (jpeg[2] == 0xFF && jpeg[3] == 0xE0 && jpeg.size() >= 6) {
        const std::size_t length = std::size_t(jpeg[4]) << 8 | jpeg[5];
        if (at + 2 + length <= jpeg.size()) at += 2 + length;
    }
    std::vector<std::uint8_t> segments;
    segments.reserve(profile.size() + chunks * 18);
    for (std::size_t i = 0; i < chunks; ++i) {
        const std::size_t begin = i * kChunk, length = std::min(kChunk, profile.size() - begin);
        const std::size_t segment = 2 + 12 + 2 + length;
        const std::uint8_t head[] = {0xFF, 0xE2, std::uint8_t(segment >> 8), std::uint8_t(segment)};
        segments.insert(segments.end(), std::begin(head), std::end(head));
        static const char kTag[] = "ICC_PROFILE";  // with its NUL
        segments.insert(segments.end(), kTag, kTag + sizeof kTag);
        segments.push_back(std::uint8_t(i + 1));
        segments.push_back(std::uint8_t(chunks));
        segments.insert(segments.end(), profile.begin() + std::ptrdiff_t(begin),
                        profile.begin() + std::ptrdiff_t(begin + length));
    }
    jpeg.insert(jpeg.begin() + std::ptrdiff_t(at), segments.begin(), segments.end());
}

int QualityPercent(double quality) { return std::clamp(int(std::lround(quality * 100.0)), 1, 100); }

// The quality option of the lossy savers; 1.0 asks for lossless.
vips::VOption* QualityOptions(const Settings& s) {
    auto options = VImage::option()->set("Q", QualityPercent(s.quality));
    if (s.quality >= 1.0) options->set("lossless", true);
    return options;
}

// sRGB (or grey) pixels, without alpha unless the properties keep it.
VImage WithoutCMYKOrUnwantedAlpha(const Image& image, const Settings& s) {
    VImage base = WithoutCMYK(image);
    if (!s.keepAlpha && vips_image_hasalpha(base.get_image())) {
        base = base.extract_band(0, VImage::option()->set("n", base.bands() - 1));
    }
    return base;
}

// How a format reaches its file: written in order (Stream), into the open
// temporary file since libtiff and OpenJPEG seek back while they write
// (File), or encoded in memory first.
enum class Sink { Memory, Stream, File };

Sink SinkFor(Encoder encoder) {
    switch (encoder) {
    case Encoder::JPEG:
    case Encoder::PNG:
    case Encoder::GIF:
    case Encoder::WebP: return Sink::Stream;
    case Encoder::TIFF:
    case Encoder::JPEG2000: return Sink::File;
    default: return Sink::Memory;
    }
}

// Formats whose metadata sits in the head, before the pixel data: it is
// written there while the rest streams.
bool StreamsMetadata(Encoder encoder) { return encoder == Encoder::JPEG || encoder == Encoder::PNG; }

// Writes the metadata into a JPEG's or PNG's head: exiv2 rewrites a file
// made of the head and an end (EOI, IEND), which is then taken off again.
// Metadata that cannot be written leaves the head as it was; it does not
// cost the user the image.
void AddMetadataToHead(Head& head, Encoder encoder, const codecs::MetadataWrite& request) {
    static const std::uint8_t kJpegEnd[] = {0xFF, 0xD9};
    static const std::uint8_t kPngEnd[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    const std::span<const std::uint8_t> end =
        encoder == Encoder::JPEG ? std::span<const std::uint8_t>(kJpegEnd) : std::span<const std::uint8_t>(kPngEnd);
    Head file = head;
    file.insert(file.end(), end.begin(), end.end());
    if (!codecs::WriteMetadata(file, request) || file.size() < end.size() ||
        !std::equal(end.begin(), end.end(), file.end() - std::ptrdiff_t(end.size()))) {
        return;
    }
    file.resize(file.size() - end.size());
    head = std::move(file);
}

// Encodes one image into `out`. False when no bytes came out.
bool EncodeOne(Encoder encoder, const char* coder, const Image& image, const Settings& s, const Output& out) {
    switch (encoder) {
    case Encoder::JPEG: {
        VImage pixels = WithResolution(WithoutMetadata(FlattenOnWhite(image)), s);
        // libvips makes an EXIF block of its own for every JPEG (resolution,
        // orientation, colour space "Uncalibrated"): it saves without any
        // metadata, and the profile goes in here. Metadata asked for is
        // written through exiv2.
        const std::vector<std::uint8_t> profile = ProfileOf(pixels);
        const bool cmyk = image.colorModel() == ColorModel::CMYK;
        Output jpeg = out;
        jpeg.fixHead = [&s, &profile, cmyk, &out](std::vector<std::uint8_t>& head) {
            if (!cmyk) EnsureJfifDensity(head, s);
            InsertJpegProfile(head, profile);
            if (out.addMetadata) out.addMetadata(head);
        };
        // Metadata goes in among the segments before the scan.
        if (out.addMetadata) jpeg.headEnd = JpegHeadEnd;
        Save<&VImage::jpegsave_target, &VImage::jpegsave_buffer>(
            pixels, VImage::option()->set("Q", QualityPercent(s.quality))->set("strip", true), jpeg);
        if (!out.write && out.bytes) jpeg.fixHead(*out.bytes);
        return true;
    }
    case Encoder::PNG: {
        // At most 16 bits: float samples become 16-bit.
        VImage base = AtMostSixteenBitSamples(WithoutCMYKOrUnwantedAlpha(image, s));
        VImage pixels = WithResolution(WithoutMetadata(base), s);
        // Adaptive row filters, as libpng chooses them by default: without
        // them photographic PNGs come out about twice as large. Our writer
        // filters and deflates on every core, so they cost no time.
        if (codecs::CanWritePng(pixels)) {
            if (out.write) {
                HeadedWriter write(*out.write, out.addMetadata, PngHeadEnd);
                codecs::WritePng(pixels, std::ref(write));
                if (!write.finish()) throw vips::VError("write failed");
            } else {
                out.bytes->clear();
                codecs::WritePng(pixels, [&out](const void* data, std::size_t size) {
                    const auto* bytes = static_cast<const std::uint8_t*>(data);
                    out.bytes->insert(out.bytes->end(), bytes, bytes + size);
                    return true;
                });
            }
            return true;
        }
        Output png = out;
        png.fixHead = out.addMetadata;
        png.headEnd = PngHeadEnd;
        Save<&VImage::pngsave_target, &VImage::pngsave_buffer>(
            pixels, VImage::option()->set("compression", 6)->set("filter", VIPS_FOREIGN_PNG_FILTER_ALL), png);
        return true;
    }
    case Encoder::TIFF: {
        VImage base = s.keepAlpha ? image.vimage() : DropAlpha(image);
        VImage pixels = WithResolution(WithoutMetadata(base), s);
        auto options = VImage::option()
                           ->set("compression", s.lzw ? VIPS_FOREIGN_TIFF_COMPRESSION_LZW
                                                      : VIPS_FOREIGN_TIFF_COMPRESSION_NONE)
                           ->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH);
        if (s.lzw) {
            options->set("predictor", pixels.format() == VIPS_FORMAT_FLOAT ? VIPS_FOREIGN_TIFF_PREDICTOR_FLOAT
                                                                         : VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL);
        }
        Save<&VImage::tiffsave_target, &VImage::tiffsave_buffer>(pixels, options, out);
        return true;
    }
    case Encoder::GIF: {
        VImage base = EightBitSamples(InSRGBWithoutProfile(WithoutCMYKOrUnwantedAlpha(image, s)));
        Save<&VImage::gifsave_target, &VImage::gifsave_buffer>(WithoutMetadata(base), nullptr, out);
        return true;
    }
    case Encoder::JPEG2000: {
        // Up to 16 bits per sample.
        VImage base = AtMostSixteenBitSamples(WithoutCMYKOrUnwantedAlpha(image, s));
        VImage pixels = WithoutMetadata(InSRGBWithoutProfile(base));
        Save<&VImage::jp2ksave_target, &VImage::jp2ksave_buffer>(pixels, QualityOptions(s), out);
        return true;
    }
    case Encoder::WebP: {
        VImage base = EightBitSamples(WithoutCMYKOrUnwantedAlpha(image, s));
        Save<&VImage::webpsave_target, &VImage::webpsave_buffer>(WithoutMetadata(base), QualityOptions(s), out);
        return true;
    }
    case Encoder::OpenEXR: {
        VImage base = InSRGBWithoutProfile(WithoutCMYKOrUnwantedAlpha(image, s));
        *out.bytes = codecs::SaveExr(base);
        return true;
    }
    case Encoder::ICNS:
        *out.bytes = codecs::SaveIcns(EightBitSamples(InSRGBWithoutProfile(WithoutCMYK(image))));
        return true;
    case Encoder::Magick: {
        const std::string name = coder;
        // ImageMagick keeps the profile in BMP and Photoshop files only.
        VImage base = name == "BMP" || name == "PSD" ? WithoutCMYK(image) : InSRGBWithoutProfile(WithoutCMYK(image));
        // Photoshop and SGI files hold 16-bit samples; the others 8 bits.
        base = name == "PSD" || name == "SGI" ? AtMostSixteenBitSamples(base) : EightBitSamples(base);
        const bool alphaAllowed = name != "PICT";
        if (vips_image_hasalpha(base.get_image()) && (!alphaAllowed || !s.keepAlpha)) {
            const int colour = base.bands() - 1;
            const double white = base.format() == VIPS_FORMAT_USHORT ? 65535.0 : 255.0;
            const VipsInterpretation interpretation = base.interpretation();
            base = base.flatten(VImage::option()->set("background", std::vector<double>(std::size_t(colour), white)))
                       .cast(base.format())
                       .copy(VImage::option()->set("interpretation", interpretation));
        }
        if (name == "ICO" && std::max(base.width(), base.height()) > 256) {
            // Icon entries hold at most 256 × 256 pixels.
            base = base.thumbnail_image(256, VImage::option()->set("height", 256));
        }
        *out.bytes = codecs::SaveWithMagick(WithResolution(WithoutMetadata(base), s), coder);
        StampResolution(*out.bytes, name, s);
        return true;
    }
    case Encoder::PDF:
    case Encoder::None:
        break;
    }
    return false;
}

}  // namespace

bool ImageDestination::CanWrite(const std::string& typeIdentifier) {
    return FormatFor(typeIdentifier).encoder != Encoder::None;
}

std::unique_ptr<ImageDestination> ImageDestination::CreateWithData(const std::string& typeIdentifier,
                                                                   std::size_t count) {
    if (count == 0 || !CanWrite(typeIdentifier)) return nullptr;
    std::unique_ptr<ImageDestination> destination(new ImageDestination());
    destination->type_ = typeIdentifier;
    destination->count_ = count;
    return destination;
}

std::unique_ptr<ImageDestination> ImageDestination::CreateWithPath(
    const std::filesystem::path& path, const std::string& typeIdentifier, std::size_t count,
    const std::optional<FileAttributes>& attributes) {
    if (path.empty()) return nullptr;
    auto destination = CreateWithData(typeIdentifier, count);
    if (!destination) return nullptr;
    destination->path_ = path;
    destination->attributes_ = attributes;
    return destination;
}

void ImageDestination::addImage(const ImageRef& image, const PropertyDict& properties) {
    if (!image || images_.size() >= count_ || finalized_) {
        failed_ = true;
        return;
    }
    images_.emplace_back(image, properties);
}

std::vector<codecs::TiffPage> ImageDestination::tiffPages() const {
    std::vector<codecs::TiffPage> pages;
    for (const auto& [image, properties] : images_) {
        const Settings s = SettingsFrom(properties);
        pages.push_back({image, s.dpiX, s.dpiY, s.lzw, s.keepAlpha});
    }
    return pages;
}

bool ImageDestination::encode() {
    const Format format = FormatFor(type_);
    if (format.encoder == Encoder::PDF) {
        PdfWriter writer;
        if (auto title = fileProperties_.string("Title")) writer.setTitle(*title);
        if (auto creator = fileProperties_.string("Creator")) writer.setCreator(*creator);
        for (const auto& [image, properties] : images_) {
            const Settings s = SettingsFrom(properties);
            if (!writer.addImagePage(image, s.dpiX, s.dpiY)) return false;
        }
        data_ = writer.data();
        return !data_.empty();
    }

    if (images_.size() > 1 && format.encoder == Encoder::TIFF) {
        // Pages may differ in size and colour model.
        data_ = codecs::WriteTiffPages(tiffPages());
        return !data_.empty();
    }
    if (images_.size() > 1) {
        if (!format.multiImage) return false;
        // Pages and frames of one size go into one vips image, stacked.
        const Image& first = *images_.front().first;
        std::vector<VImage> pages;
        for (const auto& [image, properties] : images_) {
            if (image->width() != first.width() || image->height() != first.height() ||
                image->bands() != first.bands() || image->colorModel() != first.colorModel()) {
                return false;
            }
            pages.push_back(WithoutMetadata(EightBitSamples(InSRGBWithoutProfile(image->vimage()))));
        }
        const Settings s = SettingsFrom(images_.front().second);
        VImage stacked = VImage::arrayjoin(pages, VImage::option()->set("across", 1));
        stacked = WithResolution(stacked, s);
        stacked.set("page-height", first.height());
        data_ = TakeBlob(stacked.gifsave_buffer());
        return !data_.empty();
    }

    return encodeSingle(nullptr, -1);
}

codecs::MetadataWrite ImageDestination::metadataRequest() const {
    const auto& [image, properties] = images_.front();
    const Settings s = SettingsFrom(properties);
    codecs::MetadataWrite request;
    request.properties = &properties;
    request.orientation = s.orientation;
    request.dpiX = s.dpiX;
    request.dpiY = s.dpiY;
    request.pixelWidth = image->width();
    request.pixelHeight = image->height();
    return request;
}

bool ImageDestination::encodeSingle(const FileManager::ByteWriter* write, int descriptor) {
    const Format format = FormatFor(type_);
    const auto& [image, properties] = images_.front();
    Output out;
    out.bytes = &data_;
    out.write = write;
    out.descriptor = descriptor;
    if (write && StreamsMetadata(format.encoder)) {
        const codecs::MetadataWrite request = metadataRequest();
        if (codecs::HasMetadataToWrite(request) && codecs::CanWriteMetadata(type_)) {
            out.addMetadata = [request, encoder = format.encoder](Head& head) {
                AddMetadataToHead(head, encoder, request);
            };
        }
    }
    if (!EncodeOne(format.encoder, format.magickCoder, *image, SettingsFrom(properties), out)) return false;
    if (write || descriptor >= 0) return true;
    if (data_.empty()) return false;
    const codecs::MetadataWrite request = metadataRequest();
    if (codecs::HasMetadataToWrite(request) && codecs::CanWriteMetadata(type_)) {
        // Metadata that cannot be written does not cost the user the image.
        codecs::WriteMetadata(data_, request);
    }
    return true;
}

bool ImageDestination::writesToFile() const {
    if (!path_) return false;
    const Encoder encoder = FormatFor(type_).encoder;
    if (images_.size() > 1) return encoder == Encoder::TIFF;  // pages written one by one
    if (SinkFor(encoder) == Sink::Memory) return false;
    if (StreamsMetadata(encoder)) return true;
    // exiv2 rewrites the whole file to add metadata: such files (TIFF, JPEG
    // 2000) stay in memory.
    const codecs::MetadataWrite request = metadataRequest();
    return !(codecs::HasMetadataToWrite(request) && codecs::CanWriteMetadata(type_));
}

bool ImageDestination::writeFile() {
    if (images_.size() > 1) {
        auto writer = TiffWriter::CreateBeside(*path_);
        // Without a commit the writer removes its temporary file.
        return writer && codecs::WriteTiffPages(*writer, tiffPages()) && !decodeFailed() &&
               writer->commit(attributes_);
    }
    if (SinkFor(FormatFor(type_).encoder) == Sink::File) {
        return FileManager::createFileWithDescriptor(
            *path_, [this](int descriptor) { return encodeSingle(nullptr, descriptor) && !decodeFailed(); },
            attributes_);
    }
    return FileManager::createFile(
        *path_,
        [this](const FileManager::ByteWriter& write) { return encodeSingle(&write, -1) && !decodeFailed(); },
        attributes_);
}

bool ImageDestination::decodeFailed() const {
    // Pixels whose decode failed are no picture, whatever the encoder made of them.
    return std::any_of(images_.begin(), images_.end(),
                       [](const auto& entry) { return DecodeFailed(entry.first->vimage()); });
}

bool ImageDestination::finalize() {
    if (finalized_) return false;
    finalized_ = true;
    if (failed_ || images_.empty()) return false;
    bool ok = false;
    try {
        if (writesToFile()) {
            // Encoded straight into the temporary file beside the target.
            ok = writeFile();
            vips_error_clear();
            return ok;
        }
        ok = encode() && !decodeFailed();
    } catch (const std::exception&) {
        ok = false;
    }
    vips_error_clear();
    if (!ok) {
        data_.clear();
        return false;
    }
    if (path_) {
        return FileManager::createFile(*path_, std::span<const std::uint8_t>(data_), attributes_);
    }
    return true;
}

}  // namespace plat
