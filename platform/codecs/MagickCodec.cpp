#include "platform/codecs/MagickCodec.h"

#include "platform/FileManager.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
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

}  // namespace

VImage LoadWithMagick(const std::filesystem::path* path, const std::uint8_t* data, std::size_t size,
                      const char* coder, int page) {
    if (!coder || !*coder) throw vips::VError("no ImageMagick coder");
    PlainNamedFile file(path, data, size);
    if (file.path().empty()) throw vips::VError("cannot stage file for ImageMagick");
    const std::string spec = std::string(coder) + ":" + file.path().string();
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
