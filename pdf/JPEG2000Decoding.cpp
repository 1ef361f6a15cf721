#include "pdf/JPEG2000Decoding.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// OpenJPEG reads the bytes through these callbacks, straight from memory.
struct MemoryReader {
    std::span<const std::uint8_t> data;
    std::size_t position = 0;
};

OPJ_SIZE_T ReadBytes(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* reader = static_cast<MemoryReader*>(user);
    if (reader->position >= reader->data.size()) return static_cast<OPJ_SIZE_T>(-1);
    const std::size_t n = std::min<std::size_t>(size, reader->data.size() - reader->position);
    std::memcpy(buffer, reader->data.data() + reader->position, n);
    reader->position += n;
    return n;
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user) {
    auto* reader = static_cast<MemoryReader*>(user);
    if (count < 0) {
        const auto back = static_cast<std::size_t>(-count);
        if (back > reader->position) return -1;
        reader->position -= back;
        return count;
    }
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), reader->data.size() - reader->position);
    reader->position += n;
    return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL SeekBytes(OPJ_OFF_T position, void* user) {
    auto* reader = static_cast<MemoryReader*>(user);
    if (position < 0 || static_cast<std::uint64_t>(position) > reader->data.size()) return OPJ_FALSE;
    reader->position = static_cast<std::size_t>(position);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

constexpr std::uint32_t kMaxComponents = 5;

}  // namespace

int DecodeJPEG2000Data(std::span<const std::uint8_t> data, std::vector<std::uint8_t>* samples,
                       std::int32_t* colorModel, std::int64_t* components, std::int64_t* width,
                       std::int64_t* height) {
    if (data.size() < 2) return -1;
    const bool codestream = data[0] == 0xFF && data[1] == 0x4F;
    std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    if (!codec) return -1;
    opj_set_error_handler(codec.get(), Quiet, nullptr);
    opj_set_warning_handler(codec.get(), Quiet, nullptr);
    opj_set_info_handler(codec.get(), Quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) return -1;

    MemoryReader reader{data, 0};
    std::unique_ptr<opj_stream_t, StreamDeleter> stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    if (!stream) return -1;
    opj_stream_set_user_data(stream.get(), &reader, nullptr);
    opj_stream_set_user_data_length(stream.get(), data.size());
    opj_stream_set_read_function(stream.get(), ReadBytes);
    opj_stream_set_skip_function(stream.get(), SkipBytes);
    opj_stream_set_seek_function(stream.get(), SeekBytes);

    opj_image_t* header = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &header)) {
        opj_image_destroy(header);
        return -1;
    }
    std::unique_ptr<opj_image_t, ImageDeleter> image(header);
    // The header's promise is checked before anything is decoded: six or more
    // components have no colour model here, and the size must stay sane.
    if (image->numcomps == 0 || image->numcomps > kMaxComponents || image->x1 <= image->x0 || image->y1 <= image->y0) {
        return -1;
    }
    const std::uint64_t area = std::uint64_t(image->x1 - image->x0) * std::uint64_t(image->y1 - image->y0);
    if (area > kJPEG2000MaxDecodedBytes / image->numcomps) return -1;
    if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get())) {
        return -1;
    }

    const opj_image_comp_t& first = image->comps[0];
    const std::uint32_t w = first.w;
    const std::uint32_t h = first.h;
    const std::uint32_t precision = first.prec;
    if (w == 0 || h == 0 || precision == 0 || precision > 31) return -1;
    for (std::uint32_t i = 0; i < image->numcomps; ++i) {
        const opj_image_comp_t& c = image->comps[i];
        if (c.w != w || c.h != h || c.prec != precision || !c.data) return -1;
    }
    const std::uint32_t count = image->numcomps;
    const std::uint64_t bytes = std::uint64_t(w) * h * count;
    if (bytes > kJPEG2000MaxDecodedBytes) return -1;

    std::uint32_t colour = count;
    std::uint32_t alpha = 0;
    if ((image->color_space == OPJ_CLRSPC_SRGB || image->color_space == OPJ_CLRSPC_SYCC) && count == 4) {
        colour = 3;
        alpha = 1;
    } else if (count == 2) {
        colour = 1;
        alpha = 1;
    } else if (count == 5) {
        colour = 4;
        alpha = 1;
    }
    if (*colorModel == 0) {
        *colorModel = colour == 1 ? 1 : colour == 3 ? 2 : 3;
    }

    std::vector<std::uint8_t> out(static_cast<std::size_t>(bytes));
    const std::uint32_t stride = colour + alpha;
    const int shift = precision > 8 ? static_cast<int>(precision - 8) : 0;
    for (std::uint32_t k = 0; k < stride; ++k) {
        const opj_image_comp_t& c = image->comps[k];
        const std::int64_t offset = c.sgnd ? (std::int64_t{1} << (precision - 1)) : 0;
        const std::size_t pixels = std::size_t(w) * h;
        std::uint8_t* target = out.data() + k;
        for (std::size_t p = 0; p < pixels; ++p, target += stride) {
            *target = static_cast<std::uint8_t>((std::int64_t{c.data[p]} + offset) >> shift);
        }
    }
    *samples = std::move(out);
    *components = count;
    if (width) *width = w;
    if (height) *height = h;
    return 0;
}
