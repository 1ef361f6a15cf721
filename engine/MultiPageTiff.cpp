#include "engine/MultiPageTiff.h"

#include <cstdarg>
#include <cstring>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include "platform/FileManager.h"

int WriteTIFFPage(TIFF* tiff, int width, int height, const std::uint8_t* pixels, plat::ColorModel model,
                  bool alpha, double dpiX, double dpiY, int pageIndex, int pageCount) {
    if (!tiff || !pixels || width <= 0 || height <= 0) {
        return 0;
    }
    int samples = 3;
    int photometric = PHOTOMETRIC_RGB;
    switch (model) {
        case plat::ColorModel::CMYK:
            samples = 4;
            photometric = PHOTOMETRIC_SEPARATED;
            alpha = false;
            break;
        case plat::ColorModel::Gray:
            samples = 1;
            photometric = PHOTOMETRIC_MINISBLACK;
            alpha = false;
            break;
        case plat::ColorModel::RGB:
            samples = alpha ? 4 : 3;
            break;
    }
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(dpiX)) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(dpiY)) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW) == 1;
    if (alpha) {
        // The samples are straight, not premultiplied.
        const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        ok = ok && TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra) == 1;
    }
    ok = ok && TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(pageIndex),
                            static_cast<std::uint16_t>(pageCount)) == 1;
    ok = ok && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0)) == 1;
    if (!ok) {
        return 0;
    }
    const std::size_t stride = static_cast<std::size_t>(width) * static_cast<std::size_t>(samples);
    // libtiff may encode in place, so each row goes through a scratch copy.
    std::vector<std::uint8_t> row(stride);
    for (std::uint32_t y = 0; y < h; ++y) {
        std::memcpy(row.data(), pixels + stride * y, stride);
        if (TIFFWriteScanline(tiff, row.data(), y, 0) != 1) {
            return 0;
        }
    }
    return TIFFWriteDirectory(tiff) == 1 ? 1 : 0;
}

namespace {

int QuietTiffHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

bool SyncFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

MultiPageTiffFile::~MultiPageTiffFile() { Discard(); }

int MultiPageTiffFile::Open(const std::filesystem::path& destination) {
    Discard();
    destination_ = destination;
    temporary_ = plat::FileManager::temporaryPathBeside(destination);
    if (temporary_.empty()) {
        return 0;
    }
    // Failures surface as results; keep libtiff's messages for this file
    // off the console without touching the process-wide handlers.
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options) {
        TIFFOpenOptionsSetErrorHandlerExtR(options, QuietTiffHandler, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, QuietTiffHandler, nullptr);
        tiff_ = TIFFOpenExt(temporary_.c_str(), "w", options);
        TIFFOpenOptionsFree(options);
    }
    if (!tiff_) {
        std::error_code ec;
        std::filesystem::remove(temporary_, ec);
        temporary_.clear();
        return 0;
    }
    pages_ = 0;
    return 1;
}

void MultiPageTiffFile::Discard() {
    if (tiff_) {
        TIFFClose(tiff_);
        tiff_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::error_code ec;
        std::filesystem::remove(temporary_, ec);
        temporary_.clear();
    }
    pages_ = 0;
}

int MultiPageTiffFile::Commit(const std::optional<plat::FileAttributes>& attributes) {
    if (!tiff_ || pages_ == 0) {
        Discard();
        return 0;
    }
    // TIFFClose flushes; a short write shows up as a failed flush.
    const bool flushed = TIFFFlush(tiff_) == 1;
    TIFFClose(tiff_);
    tiff_ = nullptr;
    std::error_code ec;
    if (!flushed || !SyncFile(temporary_)) {
        Discard();
        return 0;
    }
    std::filesystem::rename(temporary_, destination_, ec);
    if (ec) {
        Discard();
        return 0;
    }
    temporary_.clear();
    if (attributes) {
        plat::FileManager::setAttributes(destination_, *attributes);
    }
    return 1;
}
