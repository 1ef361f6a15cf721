#include "platform/JpegMemory.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>

#include <jpeglib.h>

namespace plat {

namespace {

// Largest decoded buffer handed out (components × width × height).
constexpr std::size_t kMaxDecodedBytes = std::size_t(1) << 30;

// libjpeg's default error exit ends the process; this one jumps back into
// the call that failed.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

void SilentMessage(j_common_ptr) {}

// libjpeg's standard error manager with errors jumping back and messages
// kept off the console.
jpeg_error_mgr* QuietErrors(ErrorManager& errors) {
    jpeg_error_mgr* manager = jpeg_std_error(&errors.base);
    errors.base.error_exit = ErrorExit;
    errors.base.output_message = SilentMessage;
    return manager;
}

// Corrupt data draws warnings; a file that draws many (a progressive file
// repeating its scans, each a full pass over the image) would otherwise keep
// the decoder busy for as long as the file goes on.
constexpr long kMaxWarnings = 100;

void CountWarnings(j_common_ptr info, int level) {
    if (level >= 0) return;  // trace messages
    if (++info->err->num_warnings > kMaxWarnings) {
        (*info->err->error_exit)(info);
    }
}

// A source over the caller's bytes. Past the end it supplies an end-of-image
// marker, so data cut short still decodes to a complete image.
struct MemorySource {
    jpeg_source_mgr base;
    const JOCTET* data;
    std::size_t length;
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr info) {
    info->src->next_input_byte = kEndOfImage;
    info->src->bytes_in_buffer = 2;
    return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = info->src;
    const std::size_t skip = std::size_t(count);
    if (skip > src->bytes_in_buffer) {
        // Never past the end of the data.
        src->next_input_byte += src->bytes_in_buffer;
        src->bytes_in_buffer = 0;
    } else {
        src->next_input_byte += skip;
        src->bytes_in_buffer -= skip;
    }
}

}  // namespace

std::optional<JpegSamples> DecodeJpegInMemory(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* data = bytes.data();
    const std::size_t length = bytes.size();
    if (!data || length == 0) return std::nullopt;
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    ErrorManager errors;
    info.err = QuietErrors(errors);
    errors.base.emit_message = CountWarnings;
    // Locals touched after setjmp must be volatile.
    std::uint8_t* volatile buffer = nullptr;
    JSAMPLE* volatile row = nullptr;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(buffer);
        std::free(row);
        return std::nullopt;
    }
    jpeg_create_decompress(&info);
    MemorySource source;
    source.base.init_source = InitSource;
    source.base.fill_input_buffer = FillInputBuffer;
    source.base.skip_input_data = SkipInputData;
    source.base.resync_to_restart = jpeg_resync_to_restart;
    source.base.term_source = TermSource;
    source.base.next_input_byte = data;
    source.base.bytes_in_buffer = length;
    source.data = data;
    source.length = length;
    info.src = &source.base;

    jpeg_read_header(&info, TRUE);
    // Refuse an absurd size before the decoder allocates for it (a
    // progressive file keeps every coefficient in memory).
    if (std::uint64_t(info.image_width) * info.image_height * std::uint64_t(info.num_components) >
        kMaxDecodedBytes) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    jpeg_start_decompress(&info);
    const int components = info.output_components;
    if (components != 1 && components != 3 && components != 4) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    // Only trivially destructible locals live between setjmp and the end:
    // the result is built once libjpeg is done.
    const unsigned densityUnit = info.density_unit;
    const double densityX = info.X_density, densityY = info.Y_density;
    const std::size_t w = info.output_width, h = info.output_height;
    const std::size_t rowBytes = w * std::size_t(components);
    if (w == 0 || h == 0 || rowBytes / std::size_t(components) != w ||
        h > kMaxDecodedBytes / rowBytes) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    const std::size_t size = rowBytes * h;
    buffer = static_cast<std::uint8_t*>(std::malloc(size));
    row = static_cast<JSAMPLE*>(std::malloc(rowBytes));
    if (!buffer || !row) {
        jpeg_destroy_decompress(&info);
        std::free(buffer);
        std::free(row);
        return std::nullopt;
    }
    while (info.output_scanline < info.output_height) {
        const std::size_t y = info.output_scanline;
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(&info, rows, 1) != 1) break;
        std::memcpy(buffer + y * rowBytes, row, rowBytes);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::free(row);
    JpegSamples result;
    if (densityUnit == 2) {
        result.dpiX = double(float(densityX) * 254.0f / 100.0f);
        result.dpiY = double(float(densityY) * 254.0f / 100.0f);
    } else if (densityUnit == 1) {
        result.dpiX = densityX;
        result.dpiY = densityY;
    }
    result.width = int(w);
    result.height = int(h);
    result.components = components;
    result.samples.reset(buffer);
    result.size = size;
    return result;
}

JpegData EncodeJpegInMemory(int width, int height, const std::uint8_t* samples, int colorSpace, int components,
                            int quality, double dpiX, double dpiY) {
    if (!samples || width <= 0 || height <= 0 || components <= 0 || components > 4) return {};
    jpeg_compress_struct info;
    std::memset(&info, 0, sizeof info);
    ErrorManager errors;
    info.err = QuietErrors(errors);
    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        // The memory destination's buffer belongs to us once allocated.
        std::free(output);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &output, &outputSize);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = components;
    info.in_color_space = J_COLOR_SPACE(colorSpace);
    jpeg_set_defaults(&info);
    info.write_JFIF_header = TRUE;
    info.density_unit = 1;
    auto density = [](double dpi) -> UINT16 {
        if (!(dpi > 0.0) || dpi >= 4294967296.0) return 0;
        return UINT16(std::uint32_t(dpi));  // truncated to 16 bits
    };
    info.X_density = density(dpiX);
    info.Y_density = density(dpiY);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const std::size_t rowBytes = std::size_t(width) * std::size_t(components);
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[1] = {const_cast<JSAMPLE*>(samples + std::size_t(info.next_scanline) * rowBytes)};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    JpegData result;
    result.bytes.reset(output);
    result.size = outputSize;
    return result;
}

}  // namespace plat
