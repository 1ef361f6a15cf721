#include "platform/codecs/RawCodec.h"

#include "platform/Image.h"

#include <libraw/libraw.h>

#include <cstring>
#include <memory>

namespace plat::codecs {

using vips::VImage;

namespace {

bool Open(LibRaw& raw, const std::filesystem::path* path, const std::uint8_t* data, std::size_t size) {
    int status = LIBRAW_SUCCESS;
    if (path) {
        status = raw.open_file(path->c_str());
    } else {
        if (!data || size == 0) return false;
        status = raw.open_buffer(const_cast<std::uint8_t*>(data), size);
    }
    return status == LIBRAW_SUCCESS;
}

}  // namespace

bool ReadRawHeader(const std::filesystem::path* path, const std::uint8_t* data, std::size_t size,
                   int* width, int* height) {
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    if (!Open(*raw, path, data, size)) return false;
    raw->adjust_sizes_info_only();
    int w = raw->imgdata.sizes.iwidth, h = raw->imgdata.sizes.iheight;
    if (raw->imgdata.sizes.flip & 4) std::swap(w, h);
    if (w <= 0 || h <= 0) return false;
    if (width) *width = w;
    if (height) *height = h;
    return true;
}

VImage LoadRaw(const std::filesystem::path* path, const std::uint8_t* data, std::size_t size,
               bool halfSize) {
    // LibRaw's object is large; keep it off the stack.
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    if (!Open(*raw, path, data, size)) throw vips::VError("not a camera raw file LibRaw reads");
    if (!Image::sizeAllowed(raw->imgdata.sizes.width, raw->imgdata.sizes.height)) {
        throw vips::VError("raw image size out of range");
    }
    libraw_output_params_t& params = raw->imgdata.params;
    params.use_camera_wb = 1;
    params.output_bps = 8;
    params.output_color = 1;  // sRGB
    params.half_size = halfSize ? 1 : 0;
    if (raw->unpack() != LIBRAW_SUCCESS) throw vips::VError("cannot unpack raw data");
    if (raw->dcraw_process() != LIBRAW_SUCCESS) throw vips::VError("cannot process raw data");
    int error = 0;
    libraw_processed_image_t* processed = raw->dcraw_make_mem_image(&error);
    if (!processed) throw vips::VError("cannot make raw image");
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> guard(
        processed, LibRaw::dcraw_clear_mem);
    if (processed->type != LIBRAW_IMAGE_BITMAP || processed->bits != 8 ||
        (processed->colors != 3 && processed->colors != 1)) {
        throw vips::VError("unexpected raw output");
    }
    const std::size_t bytes = std::size_t(processed->width) * processed->height * processed->colors;
    if (processed->data_size < bytes) throw vips::VError("short raw output");
    // Copied: LibRaw's buffer is freed when this returns.
    void* copy = g_try_malloc(bytes);
    if (!copy) throw vips::VError("out of memory");
    std::memcpy(copy, processed->data, bytes);
    VImage image = VImage::new_from_memory_steal(copy, bytes, processed->width, processed->height,
                                                 processed->colors, VIPS_FORMAT_UCHAR);
    return image.copy(VImage::option()->set(
        "interpretation", processed->colors == 1 ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB));
}

}  // namespace plat::codecs
