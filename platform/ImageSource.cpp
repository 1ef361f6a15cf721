#include "platform/ImageSource.h"

#include "platform/DecodeWatch.h"
#include "platform/Image.h"
#include "platform/Initialize.h"
#include "platform/codecs/ExrCodec.h"
#include "platform/codecs/IcnsCodec.h"
#include "platform/codecs/Jpeg2000Codec.h"
#include "platform/codecs/ImageMetadata.h"
#include "platform/codecs/MagickCodec.h"
#include "platform/codecs/RawCodec.h"
#include "platform/codecs/ResolutionProbe.h"
#include "platform/codecs/WebPDecoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace plat {

using codecs::ImageFormat;
using vips::VImage;

namespace {

// Largest file read whole into memory for the in-memory codecs. Icon files
// hold a few small images: one far larger is no icon file.
constexpr std::uint64_t kMaxInMemoryFile = std::uint64_t(1) << 31;
constexpr std::uint64_t kMaxIcnsFile = std::uint64_t(256) << 20;
// Bytes kept from the start of the data for signatures and header probes.
constexpr std::size_t kHeadLength = 65536;

std::string LowerExtension(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

class Descriptor {
public:
    explicit Descriptor(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool ReadAt(int fd, std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) {
    out.resize(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out.data() + done, length - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        done += std::size_t(n);
    }
    out.resize(done);
    return true;
}

int BitsOf(const VImage& image) {
    if (vips_image_get_typeof(image.get_image(), "bits-per-sample")) {
        return image.get_int("bits-per-sample");
    }
    switch (image.format()) {
    case VIPS_FORMAT_UCHAR:
    case VIPS_FORMAT_CHAR: return 8;
    case VIPS_FORMAT_USHORT:
    case VIPS_FORMAT_SHORT: return 16;
    case VIPS_FORMAT_UINT:
    case VIPS_FORMAT_INT:
    case VIPS_FORMAT_FLOAT: return 32;
    case VIPS_FORMAT_DOUBLE: return 64;
    default: return 8;
    }
}

const char* ColorModelName(const VImage& image) {
    switch (vips_image_guess_interpretation(image.get_image())) {
    case VIPS_INTERPRETATION_B_W:
    case VIPS_INTERPRETATION_GREY16: return "Gray";
    case VIPS_INTERPRETATION_CMYK: return "CMYK";
    case VIPS_INTERPRETATION_LAB:
    case VIPS_INTERPRETATION_LABQ:
    case VIPS_INTERPRETATION_LABS: return "Lab";
    case VIPS_INTERPRETATION_MULTIBAND: return image.bands() < 3 ? "Gray" : "RGB";
    default: return "RGB";
    }
}

bool HasField(const VImage& image, const char* name) {
    return vips_image_get_typeof(image.get_image(), name) != 0;
}

}  // namespace

ImageSource::~ImageSource() {
    if (blob_) vips_area_unref(VIPS_AREA(blob_));
}

std::shared_ptr<const ImageSource> ImageSource::Open(const std::filesystem::path& path) {
    std::shared_ptr<ImageSource> source(new ImageSource());
    source->path_ = path;
    Descriptor fd(path);
    if (fd.get() < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return nullptr;
    if (!ReadAt(fd.get(), 0, kHeadLength, source->head_)) return nullptr;
    source->format_ = codecs::Sniff(source->head_.data(), source->head_.size(), LowerExtension(path));
    if (source->format_ == ImageFormat::OpenEXR || source->format_ == ImageFormat::ICNS ||
        source->format_ == ImageFormat::JPEG2000 || source->format_ == ImageFormat::WebP) {
        const std::uint64_t limit = source->format_ == ImageFormat::ICNS ? kMaxIcnsFile : kMaxInMemoryFile;
        if (std::uint64_t(info.st_size) > limit) return nullptr;
        auto whole = std::make_shared<std::vector<std::uint8_t>>();
        if (!ReadAt(fd.get(), 0, std::size_t(info.st_size), *whole)) return nullptr;
        source->fileBytes_ = std::move(whole);
    }
    if (!source->initialise()) return nullptr;
    return source;
}

std::shared_ptr<const ImageSource> ImageSource::OpenData(std::span<const std::uint8_t> bytes,
                                                         const std::string& nameHint) {
    if (bytes.empty()) return nullptr;
    std::shared_ptr<ImageSource> source(new ImageSource());
    source->blob_ = vips_blob_copy(bytes.data(), bytes.size());
    if (!source->blob_) return nullptr;
    const std::size_t headLength = std::min(bytes.size(), kHeadLength);
    source->head_.assign(bytes.begin(), bytes.begin() + std::ptrdiff_t(headLength));
    source->format_ = codecs::Sniff(source->head_.data(), source->head_.size(),
                                    LowerExtension(std::filesystem::path(nameHint)));
    if (!source->initialise()) return nullptr;
    return source;
}

std::span<const std::uint8_t> ImageSource::bytes() const {
    if (blob_) {
        std::size_t length = 0;
        const void* data = vips_blob_get(blob_, &length);
        return {static_cast<const std::uint8_t*>(data), length};
    }
    if (!fileBytes_) return {};
    return {fileBytes_->data(), fileBytes_->size()};
}

std::shared_ptr<const void> ImageSource::bytesOwner() const {
    if (blob_) {
        vips_area_copy(VIPS_AREA(blob_));
        return std::shared_ptr<const void>(blob_, [](const void* blob) {
            vips_area_unref(VIPS_AREA(const_cast<void*>(blob)));
        });
    }
    return fileBytes_;
}

bool ImageSource::initialise() {
    if (format_ == ImageFormat::Unknown) return false;
    type_ = codecs::TypeIdentifierFor(format_);
    try {
        count_ = countImages();
        if (count_ == 0) return false;
        // The header of the first image must be readable and of a sane size.
        int width = 0, height = 0;
        if (format_ == ImageFormat::CameraRaw) {
            if (!rawHeader(&width, &height)) return false;
        } else {
            VImage first = load(0, DecodeOptions{1, true});
            width = first.width();
            height = first.height();
        }
        if (!Image::sizeAllowed(width, height)) return false;
    } catch (const vips::VError&) {
        vips_error_clear();
        return false;
    }
    return true;
}

vips::VSource ImageSource::makeSource() const {
    if (blob_) return vips::VSource::new_from_blob(blob_);
    Descriptor fd(path_);
    if (fd.get() < 0) throw vips::VError("cannot open image file");
    // vips keeps its own duplicate of the descriptor.
    return vips::VSource::new_from_descriptor(fd.get());
}

const codecs::TiffDirectoryChain* ImageSource::tiffChain() const {
    std::call_once(tiffChainOnce_, [this] {
        if (blob_) {
            const auto data = bytes();
            tiffChain_ = codecs::ReadTiffDirectoryChain(
                [data](std::uint64_t offset, void* buffer, std::size_t size) {
                    if (offset > data.size() || data.size() - offset < size) return false;
                    std::memcpy(buffer, data.data() + offset, size);
                    return true;
                },
                data.size());
            return;
        }
        Descriptor fd(path_);
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return;
        std::vector<std::uint8_t> read;
        tiffChain_ = codecs::ReadTiffDirectoryChain(
            [&](std::uint64_t offset, void* buffer, std::size_t size) {
                if (!ReadAt(fd.get(), offset, size, read) || read.size() != size) return false;
                std::memcpy(buffer, read.data(), size);
                return true;
            },
            std::uint64_t(st.st_size));
    });
    return tiffChain_ ? &*tiffChain_ : nullptr;
}

std::optional<vips::VSource> ImageSource::pageSource(std::size_t index) const {
    tiffChain();
    if (!tiffChain_ || index >= tiffChain_->offsets.size()) return std::nullopt;
    if (blob_) return codecs::OneTiffPageSource(*tiffChain_, index, codecs::TiffBytes{-1, bytes(), 0});
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        throw vips::VError("cannot open image file");
    }
    return codecs::OneTiffPageSource(*tiffChain_, index, codecs::TiffBytes{fd, {}, std::uint64_t(st.st_size)});
}

std::size_t ImageSource::countImages() const {
    switch (format_) {
    case ImageFormat::TIFF:
    case ImageFormat::GIF:
    case ImageFormat::WebP:
    case ImageFormat::HEIF:
    case ImageFormat::AVIF: {
        VImage header = load(0, DecodeOptions{1, true});
        if (HasField(header, "n-pages")) {
            const int pages = header.get_int("n-pages");
            return pages > 0 ? std::size_t(pages) : 1;
        }
        return 1;
    }
    case ImageFormat::ICNS: {
        auto data = bytes();
        return std::size_t(codecs::CountIcnsImages(data.data(), data.size()));
    }
    case ImageFormat::ICO: {
        // Let ImageMagick decide what it can read; the directory says how many.
        const std::size_t count = head_.size() >= 6 ? std::size_t(head_[4] | head_[5] << 8) : 0;
        return std::max<std::size_t>(1, count);
    }
    default:
        return 1;
    }
}

VImage ImageSource::load(std::size_t index, const DecodeOptions& options) const {
    if (index >= std::max<std::size_t>(count_, 1)) throw vips::VError("no such image");
    // Decoders run in one pass; random access is served from a complete
    // decode made on first read (see DecodeOnFirstRead).
    const VipsAccess access = VIPS_ACCESS_SEQUENTIAL;
    // Any decode error fails the read: a damaged stream must never come out
    // as a blank or partly blank picture (libvips's default lets the
    // decoders patch over errors and only warns).
    // The GIF decoder reports broken frame data only as a warning.
    const VipsFailOn failOn = format_ == ImageFormat::GIF ? VIPS_FAIL_ON_WARNING : VIPS_FAIL_ON_ERROR;
    auto common = [&]() { return VImage::option()->set("access", access)->set("fail_on", failOn); };
    const int page = int(index);
    int shrink = options.shrink;
    if (shrink != 2 && shrink != 4 && shrink != 8) shrink = 1;
    if (shrink > 1 && (format_ == ImageFormat::JPEG || format_ == ImageFormat::WebP)) {
        // libvips sizes a shrunk image by whole divisions: a side shorter
        // than the factor would come out empty, which its JPEG loader does
        // not survive (the process aborts) and its WebP loader refuses.
        const PropertyDict stored = properties(index);
        const std::int64_t width = stored.integer(prop::PixelWidth).value_or(0);
        const std::int64_t height = stored.integer(prop::PixelHeight).value_or(0);
        while (shrink > 1 && (width < shrink || height < shrink)) shrink /= 2;
    }
    VImage image;
    switch (format_) {
    case ImageFormat::JPEG:
        image = VImage::jpegload_source(makeSource(), common()->set("shrink", shrink));
        break;
    case ImageFormat::PNG:
        image = VImage::pngload_source(makeSource(), common());
        break;
    case ImageFormat::GIF:
        image = VImage::gifload_source(makeSource(), common()->set("page", page)->set("n", 1));
        break;
    case ImageFormat::TIFF:
        if (auto one = index > 0 ? pageSource(index) : std::nullopt) {
            image = VImage::tiffload_source(*one, common()->set("page", 0)->set("n", 1));
        } else {
            image = VImage::tiffload_source(makeSource(), common()->set("page", page)->set("n", 1));
        }
        if (image.interpretation() == VIPS_INTERPRETATION_scRGB) {
            // Float RGB samples run 0..1, as grey ones do: their values are
            // kept, or scaled to the steps of integer samples, not taken as
            // linear light.
            image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        }
        break;
    case ImageFormat::WebP: {
        // libvips reads the header and metadata; libwebp decodes the pixels
        // (see LoadWebP for why).
        const auto data = bytes();
        const VImage header = VImage::webpload_source(
            vips::VSource(vips_source_new_from_memory(data.data(), data.size())), common()->set("page", page)->set("n", 1));
        image = codecs::LoadWebP(data, bytesOwner(), page, shrink, header);
        break;
    }
    case ImageFormat::HEIF:
    case ImageFormat::AVIF:
        // libheif turns the picture upright itself (its transform boxes).
        RequireVipsModule("heif", "heifload_source");
        image = VImage::heifload_source(makeSource(), common()->set("page", page)->set("n", 1));
        break;
    case ImageFormat::JPEGXL:
        RequireVipsModule("jxl", "jxlload_source");
        image = VImage::jxlload_source(makeSource(), common());
        break;
    case ImageFormat::PDF:
    case ImageFormat::Illustrator:
        RequireVipsModule("poppler", "pdfload_source");
        image = VImage::pdfload_source(makeSource(), common()->set("page", 0)->set("n", 1));
        break;
    default:
        image = decodeWhole(index, format_ == ImageFormat::CameraRaw && shrink >= 2 ? 2 : 1);
        break;
    }
    if (format_ != ImageFormat::OpenEXR && format_ != ImageFormat::ICNS && format_ != ImageFormat::CameraRaw &&
        format_ != ImageFormat::JPEG2000 && !*codecs::MagickCoderFor(format_)) {
        // A streaming decoder: its failures are noted on the way out.
        image = WatchDecode(image);
        // The WebP decoder serves its pixels at random already.
        if (!options.sequential && format_ != ImageFormat::WebP) image = DecodeOnFirstRead(image);
    }
    if (!Image::sizeAllowed(image.width(), image.height())) {
        throw vips::VError("image size out of range");
    }
    return image;
}

bool ImageSource::rawHeader(int* width, int* height) const {
    auto data = bytes();
    return codecs::ReadRawHeader(blob_ ? nullptr : &path_, data.data(), data.size(), width, height);
}

VImage ImageSource::decodeWhole(std::size_t index, int shrink) const {
    const auto key = std::make_pair(index, shrink);
    std::lock_guard<std::mutex> lock(decodedMutex_);
    if (auto it = decoded_.find(key); it != decoded_.end()) return it->second;
    const std::filesystem::path* path = blob_ ? nullptr : &path_;
    auto data = bytes();
    VImage image;
    switch (format_) {
    case ImageFormat::OpenEXR:
        image = codecs::LoadExr(data.data(), data.size());
        break;
    case ImageFormat::ICNS:
        image = codecs::LoadIcns(data.data(), data.size(), int(index));
        break;
    case ImageFormat::JPEG2000:
        // OpenJPEG directly: libvips's loader reads past its buffers for
        // images that do not start at the canvas origin or have subsampled
        // grey, and its pixels then change from run to run.
        image = codecs::LoadJpeg2000(data.data(), data.size());
        break;
    case ImageFormat::CameraRaw:
        image = codecs::LoadRaw(path, data.data(), data.size(), shrink >= 2);
        break;
    default: {
        const char* coder = codecs::MagickCoderFor(format_);
        if (!*coder) throw vips::VError("unsupported image format");
        image = codecs::LoadWithMagick(path, data.data(), data.size(), coder, int(index));
        break;
    }
    }
    decoded_.emplace(key, image);
    return image;
}

ImageRef ImageSource::createImage(std::size_t index, const DecodeOptions& options) const {
    try {
        VImage image = load(index, options);
        if (!options.sequential) {
            // Decode now, so broken data fails here and not in a later step.
            image = image.copy_memory();
            if (DecodeFailed(image)) return nullptr;
        }
        return Image::Create(std::move(image));
    } catch (const vips::VError&) {
        vips_error_clear();
        return nullptr;
    }
}

PropertyDict ImageSource::properties(std::size_t index) const {
    {
        std::lock_guard<std::mutex> lock(propertiesMutex_);
        if (auto it = properties_.find(index); it != properties_.end()) return it->second;
    }
    PropertyDict properties = readProperties(index);
    if (!properties.empty()) {
        std::lock_guard<std::mutex> lock(propertiesMutex_);
        properties_.emplace(index, properties);
    }
    return properties;
}

PropertyDict ImageSource::readProperties(std::size_t index) const {
    PropertyDict properties;
    if (format_ == ImageFormat::CameraRaw) {
        // Decoding a raw file takes long; its header has what is needed.
        int width = 0, height = 0;
        if (index != 0 || !rawHeader(&width, &height)) return properties;
        properties.set(prop::PixelWidth, width);
        properties.set(prop::PixelHeight, height);
        properties.set(prop::HasAlpha, false);
        properties.set(prop::ColorModel, "RGB");
        properties.set(prop::Depth, 16);
        readMetadata(properties);
        return properties;
    }
    VImage header;
    try {
        header = load(index, DecodeOptions{1, true});
    } catch (const vips::VError&) {
        vips_error_clear();
        return properties;
    }
    properties.set(prop::PixelWidth, header.width());
    properties.set(prop::PixelHeight, header.height());
    properties.set(prop::HasAlpha, vips_image_hasalpha(header.get_image()) != 0);
    properties.set(prop::ColorModel, ColorModelName(header));
    properties.set(prop::Depth, BitsOf(header));
    if (HasField(header, VIPS_META_ORIENTATION)) {
        const int orientation = header.get_int(VIPS_META_ORIENTATION);
        if (orientation >= 1 && orientation <= 8) properties.set(prop::Orientation, orientation);
    }

    // Resolution, only as the file states it.
    double dpiX = 0.0, dpiY = 0.0;
    switch (format_) {
    case ImageFormat::JPEG: {
        if (auto jfif = codecs::ProbeJfif(head_.data(), head_.size())) {
            PropertyDict dict;
            dict.set("DensityUnit", jfif->unit);
            dict.set("XDensity", jfif->x);
            dict.set("YDensity", jfif->y);
            properties.set(prop::JFIFDictionary, std::move(dict));
        }
        [[fallthrough]];
    }
    case ImageFormat::HEIF:
    case ImageFormat::AVIF:
    case ImageFormat::JPEGXL:
    case ImageFormat::TIFF:
        // vips names a unit only when the JFIF header, the EXIF data or the
        // TIFF tags give a physical resolution.
        if (HasField(header, VIPS_META_RESOLUTION_UNIT)) {
            dpiX = header.xres() * 25.4;
            dpiY = header.yres() * 25.4;
        }
        break;
    case ImageFormat::PNG: {
        PropertyDict dict;
        if (auto phys = codecs::ProbePngPhys(head_.data(), head_.size())) {
            dpiX = phys->dpiX();
            dpiY = phys->dpiY();
            dict.set("XPixelsPerMeter", phys->unit == 3 ? phys->x : 0.0);
            dict.set("YPixelsPerMeter", phys->unit == 3 ? phys->y : 0.0);
        }
        if (HasField(header, "interlaced")) dict.set("InterlaceType", header.get_int("interlaced"));
        if (!dict.empty()) properties.set(prop::PNGDictionary, std::move(dict));
        break;
    }
    case ImageFormat::GIF: {
        PropertyDict dict;
        if (HasField(header, "loop")) dict.set("LoopCount", header.get_int("loop"));
        if (HasField(header, "delay")) {
            std::vector<int> delays = header.get_array_int("delay");
            if (std::size_t(index) < delays.size()) dict.set("DelayTime", delays[index] / 1000.0);
        }
        if (!dict.empty()) properties.set(prop::GIFDictionary, std::move(dict));
        break;
    }
    case ImageFormat::PDF:
    case ImageFormat::Illustrator:
    case ImageFormat::ICNS:
        dpiX = dpiY = 72.0;
        break;
    case ImageFormat::BMP:
    case ImageFormat::Photoshop:
    case ImageFormat::TGA:
    case ImageFormat::ICO:
    case ImageFormat::PICT:
    case ImageFormat::SGI:
        // ImageMagick leaves 0 (or vips's 1 pixel/mm) when the file has none.
        if (header.xres() > 0.0 && std::fabs(header.xres() - 1.0) > 1e-9) {
            dpiX = header.xres() * 25.4;
            dpiY = header.yres() * 25.4;
        }
        break;
    default:
        break;
    }
    if (dpiX > 0.0 && dpiY > 0.0 && std::isfinite(dpiX) && std::isfinite(dpiY)) {
        properties.set(prop::DPIWidth, std::round(dpiX * 1000.0) / 1000.0);
        properties.set(prop::DPIHeight, std::round(dpiY * 1000.0) / 1000.0);
    }

    if (index == 0) readMetadata(properties);
    return properties;
}

void ImageSource::readMetadata(PropertyDict& properties) const {
    if (format_ == ImageFormat::TIFF && !blob_ && count_ > 1) {
        // exiv2 would copy the pixels of the later pages it walks through.
        Descriptor fd(path_);
        struct stat st {};
        const codecs::TiffDirectoryChain* chain = tiffChain();
        if (chain && fd.get() >= 0 && ::fstat(fd.get(), &st) == 0) {
            if (auto first = codecs::FirstTiffPageMapping::Map(fd.get(), std::uint64_t(st.st_size), *chain)) {
                codecs::ReadMetadata(first->bytes().data(), first->bytes().size(), properties);
                return;
            }
        }
    }
    if (blob_) {
        auto data = bytes();
        codecs::ReadMetadata(data.data(), data.size(), properties);
    } else {
        codecs::ReadMetadata(path_, properties);
    }
}

}  // namespace plat
