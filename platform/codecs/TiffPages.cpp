#include "platform/codecs/TiffPages.h"

#include "platform/Image.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace plat::codecs {

namespace {

// A growable memory file for TIFFClientOpen.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    toff_t position = 0;
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->position >= file->bytes.size()) return 0;
    const std::size_t n = std::min<std::size_t>(std::size_t(size), file->bytes.size() - file->position);
    std::memcpy(buffer, file->bytes.data() + file->position, n);
    file->position += n;
    return tmsize_t(n);
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0) return 0;
    const std::size_t end = std::size_t(file->position) + std::size_t(size);
    if (end > file->bytes.size()) file->bytes.resize(end);
    std::memcpy(file->bytes.data() + file->position, buffer, std::size_t(size));
    file->position = end;
    return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    toff_t base = 0;
    if (whence == SEEK_CUR) base = file->position;
    else if (whence == SEEK_END) base = file->bytes.size();
    file->position = base + offset;
    return file->position;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

bool WritePage(TIFF* tiff, const TiffPage& page) {
    const Image& image = *page.image;
    vips::VImage pixels = image.vimage();
    int colour = image.colorComponents();
    bool alpha = image.hasAlpha();
    if (alpha && !page.keepAlpha) {
        pixels = pixels.extract_band(0, vips::VImage::option()->set("n", colour));
        alpha = false;
    }
    const int samples = colour + (alpha ? 1 : 0);
    std::size_t size = 0;
    void* memory = pixels.write_to_memory(&size);
    if (!memory) return false;
    const std::size_t rowBytes = std::size_t(image.width()) * std::size_t(samples);
    bool ok = size == rowBytes * std::size_t(image.height());
    const std::uint16_t photometric = image.colorModel() == ColorModel::Gray   ? PHOTOMETRIC_MINISBLACK
                                      : image.colorModel() == ColorModel::CMYK ? PHOTOMETRIC_SEPARATED
                                                                               : PHOTOMETRIC_RGB;
    ok = ok && TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(image.width())) &&
         TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(image.height())) &&
         TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
         TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) &&
         TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric) &&
         TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
         TIFFSetField(tiff, TIFFTAG_COMPRESSION, page.lzw ? COMPRESSION_LZW : COMPRESSION_NONE) &&
         TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
         TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
         TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(page.dpiX)) &&
         TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(page.dpiY)) &&
         TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    if (ok && page.lzw) ok = TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (ok && alpha) {
        std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (ok && vips_image_get_typeof(pixels.get_image(), VIPS_META_ICC_NAME)) {
        const void* profile = nullptr;
        std::size_t length = 0;
        if (vips_image_get_blob(pixels.get_image(), VIPS_META_ICC_NAME, &profile, &length) == 0 && length) {
            TIFFSetField(tiff, TIFFTAG_ICCPROFILE, std::uint32_t(length), profile);
        }
    }
    auto* bytes = static_cast<std::uint8_t*>(memory);
    for (int y = 0; ok && y < image.height(); ++y) {
        ok = TIFFWriteScanline(tiff, bytes + std::size_t(y) * rowBytes, std::uint32_t(y), 0) == 1;
    }
    g_free(memory);
    return ok && TIFFWriteDirectory(tiff);
}

}  // namespace

std::vector<std::uint8_t> WriteTiffPages(const std::vector<TiffPage>& pages) {
    if (pages.empty()) return {};
    for (const TiffPage& page : pages) {
        if (!page.image) return {};
    }
    MemoryFile file;
    TIFF* tiff = TIFFClientOpen("memory", "w", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                MapProc, UnmapProc);
    if (!tiff) return {};
    bool ok = true;
    try {
        for (const TiffPage& page : pages) {
            if (!(ok = WritePage(tiff, page))) break;
        }
    } catch (const vips::VError&) {
        vips_error_clear();
        ok = false;
    }
    TIFFClose(tiff);
    if (!ok) return {};
    return std::move(file.bytes);
}

}  // namespace plat::codecs
