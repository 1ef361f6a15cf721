#include "pdf/JPEG2000Decoding.h"

#include "platform/codecs/Jpeg2000Codec.h"

int DecodeJPEG2000Data(std::span<const std::uint8_t> data, std::vector<std::uint8_t>* samples,
                       std::int32_t* colorModel, std::int64_t* components, std::int64_t* width,
                       std::int64_t* height) {
    const auto image = plat::codecs::Jpeg2000Image::Decode(data, kJPEG2000MaxDecodedBytes);
    if (!image) return -1;
    const plat::codecs::Jpeg2000Component first = image->component(0);
    const std::uint32_t w = first.width;
    const std::uint32_t h = first.height;
    const std::uint32_t precision = first.precision;
    const std::uint32_t count = image->componentCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        const plat::codecs::Jpeg2000Component c = image->component(i);
        if (c.width != w || c.height != h || c.precision != precision) return -1;
    }
    const std::uint64_t bytes = std::uint64_t(w) * h * count;
    if (bytes > kJPEG2000MaxDecodedBytes) return -1;

    const bool rgbSpace = image->colorSpace() == plat::codecs::Jpeg2000ColorSpace::SRGB ||
                          image->colorSpace() == plat::codecs::Jpeg2000ColorSpace::SYCC;
    std::uint32_t colour = count;
    std::uint32_t alpha = 0;
    if (rgbSpace && count == 4) {
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
        const plat::codecs::Jpeg2000Component c = image->component(k);
        const std::int64_t offset = c.isSigned ? (std::int64_t{1} << (precision - 1)) : 0;
        const std::size_t pixels = std::size_t(w) * h;
        std::uint8_t* target = out.data() + k;
        for (std::size_t p = 0; p < pixels; ++p, target += stride) {
            *target = static_cast<std::uint8_t>((std::int64_t{c.samples[p]} + offset) >> shift);
        }
    }
    *samples = std::move(out);
    *components = count;
    if (width) *width = w;
    if (height) *height = h;
    return 0;
}
