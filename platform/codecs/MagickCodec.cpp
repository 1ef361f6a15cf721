#include "platform/codecs/MagickCodec.h"

#include "platform/FileManager.h"
#include "platform/Initialize.h"

#include <fcntl.h>
#include <unistd.h>

#include <Magick++.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

namespace plat::codecs {

using vips::VImage;

namespace {

// A link to the file (or a copy of the bytes) under a plain name in the
// private temporary folder; removed when this goes out of scope.
class PlainNamedFile {
public:
    PlainNamedFile(const std::filesystem::path* path, const std::uint8_t* data, std::size_t size) {
        const std::filesystem::path folder = FileManager::temporaryDirectory();
        if (folder.empty()) return;
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        for (int attempt = 0; attempt < 8 && path_.empty(); ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, "magick-%d-%u-%08x", int(getpid()), counter++,
                          unsigned(random()));
            const std::filesystem::path candidate = folder / name;
            if (path) {
                std::error_code error;
                const std::filesystem::path target = std::filesystem::absolute(*path, error);
                if (error) return;
                std::filesystem::create_symlink(target, candidate, error);
                if (!error) path_ = candidate;
            } else {
                const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                if (fd < 0) continue;
                path_ = candidate;
                std::size_t done = 0;
                while (done < size) {
                    const ssize_t n = ::write(fd, data + done, size - done);
                    if (n <= 0) break;
                    done += std::size_t(n);
                }
                ::close(fd);
                if (done != size) {
                    ::unlink(path_.c_str());
                    path_.clear();
                    return;
                }
            }
        }
    }
    ~PlainNamedFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    PlainNamedFile(const PlainNamedFile&) = delete;
    PlainNamedFile& operator=(const PlainNamedFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Photoshop colour modes whose pixels libvips's ImageMagick loader cannot
// always take: a CMYK (4) or multichannel (7) file with more channels than
// inks, alpha for instance, ends the process in one of its assertions.
bool IsInkPhotoshop(const std::filesystem::path& staged) {
    const int fd = ::open(staged.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    std::uint8_t header[26] = {};
    const ssize_t n = ::pread(fd, header, sizeof header, 0);
    ::close(fd);
    if (n != ssize_t(sizeof header) || std::memcmp(header, "8BPS", 4) != 0) return false;
    const unsigned mode = unsigned(header[24]) << 8 | header[25];
    return mode == 4 || mode == 7;
}

// Decodes the composite picture of a CMYK or multichannel Photoshop file
// with Magick++ itself: 8-bit CMYK, with alpha when the file has it.
VImage LoadInkPhotoshop(const std::filesystem::path& staged) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { Magick::InitializeMagick(nullptr); });
    try {
        Magick::Image picture;
        picture.quiet(true);
        picture.subImage(0);
        picture.subRange(1);
        picture.read("PSD:" + staged.string());
        if (picture.colorSpace() != MagickCore::CMYKColorspace) picture.colorSpace(MagickCore::CMYKColorspace);
        const int width = int(picture.columns()), height = int(picture.rows());
        if (width <= 0 || height <= 0) throw vips::VError("empty Photoshop image");
        const bool alpha = picture.matte();
        const int bands = alpha ? 5 : 4;
        std::vector<std::uint8_t> pixels(std::size_t(width) * std::size_t(height) * std::size_t(bands));
        picture.write(0, 0, std::size_t(width), std::size_t(height), alpha ? "CMYKA" : "CMYK", MagickCore::CharPixel,
                      pixels.data());
        VipsImage* copied =
            vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height, bands, VIPS_FORMAT_UCHAR);
        if (!copied) throw vips::VError();
        VImage image = VImage(copied).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK));
        const Magick::Blob profile = picture.iccColorProfile();
        if (profile.length() > 0) {
            vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, profile.data(), profile.length());
        }
        const double dpiX = picture.xResolution(), dpiY = picture.yResolution();
        if (picture.resolutionUnits() == MagickCore::PixelsPerInchResolution && dpiX > 0 && dpiY > 0) {
            image = image.copy(VImage::option()->set("xres", dpiX / 25.4)->set("yres", dpiY / 25.4));
        }
        return image;
    } catch (const Magick::Exception& error) {
        throw vips::VError(error.what());
    }
}

}  // namespace

VImage LoadWithMagick(const std::filesystem::path* path, const std::uint8_t* data, std::size_t size,
                      const char* coder, int page) {
    if (!coder || !*coder) throw vips::VError("no ImageMagick coder");
    PlainNamedFile file(path, data, size);
    if (file.path().empty()) throw vips::VError("cannot stage file for ImageMagick");
    if (std::strcmp(coder, "PSD") == 0 && IsInkPhotoshop(file.path())) return LoadInkPhotoshop(file.path());
    const std::string spec = std::string(coder) + ":" + file.path().string();
    RequireVipsModule("magick", "magickload");
    VImage image = VImage::magickload(spec.c_str(), VImage::option()
                                                        ->set("page", page)
                                                        ->set("n", 1)
                                                        ->set("fail_on", VIPS_FAIL_ON_ERROR));
    // ImageMagick has decoded everything already; keep it before the link goes.
    return image.copy_memory();
}

int CountWithMagick(const std::filesystem::path* path, const std::uint8_t* data, std::size_t size,
                    const char* coder) {
    try {
        PlainNamedFile file(path, data, size);
        if (file.path().empty()) return 1;
        const std::string spec = std::string(coder) + ":" + file.path().string();
        RequireVipsModule("magick", "magickload");
        VImage image = VImage::magickload(spec.c_str(), VImage::option()->set("n", 1));
        if (vips_image_get_typeof(image.get_image(), "n-pages")) {
            const int pages = image.get_int("n-pages");
            return pages > 0 ? pages : 1;
        }
    } catch (const vips::VError&) {
    }
    return 1;
}

std::vector<std::uint8_t> SaveWithMagick(const VImage& image, const char* coder) {
    std::vector<std::uint8_t> result;
    VipsBlob* blob = nullptr;
    RequireVipsModule("magick", "magicksave_buffer");
    try {
        blob = image.magicksave_buffer(VImage::option()->set("format", coder));
    } catch (const vips::VError&) {
        return result;
    }
    if (blob) {
        std::size_t length = 0;
        const void* bytes = vips_blob_get(blob, &length);
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        if (p && length > 0) result.assign(p, p + length);
        vips_area_unref(VIPS_AREA(blob));
    }
    return result;
}

}  // namespace plat::codecs
