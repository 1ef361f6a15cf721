#include "platform/BitmapContextSupport.h"

#include <cstring>
#include <vector>

namespace plat {

vips::VImage StraightRGBAFromCairo(cairo_surface_t* surface) {
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    if (data == nullptr || width <= 0 || height <= 0) {
        throw vips::VError("empty drawing layer");
    }
    const std::size_t size = std::size_t(width) * height * 4;
    auto* out = static_cast<std::uint8_t*>(g_try_malloc(size));
    if (out == nullptr) {
        throw vips::VError("out of memory for a drawing layer");
    }
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + std::size_t(stride) * y);
        std::uint8_t* o = out + std::size_t(width) * 4 * y;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = row[x];
            const std::uint32_t a = p >> 24;
            std::uint32_t r = (p >> 16) & 0xff;
            std::uint32_t g = (p >> 8) & 0xff;
            std::uint32_t b = p & 0xff;
            if (a != 0 && a != 255) {
                r = (r * 255 + a / 2) / a;
                g = (g * 255 + a / 2) / a;
                b = (b * 255 + a / 2) / a;
            }
            o[4 * x + 0] = static_cast<std::uint8_t>(r > 255 ? 255 : r);
            o[4 * x + 1] = static_cast<std::uint8_t>(g > 255 ? 255 : g);
            o[4 * x + 2] = static_cast<std::uint8_t>(b > 255 ? 255 : b);
            o[4 * x + 3] = static_cast<std::uint8_t>(a);
        }
    }
    vips::VImage image =
        vips::VImage::new_from_memory_steal(out, size, width, height, 4, VIPS_FORMAT_UCHAR);
    return image.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

void WritePremultipliedARGB32(const std::uint8_t* rgba, int width, int height, std::uint8_t* out,
                              std::size_t stride) {
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rgba + std::size_t(width) * 4 * y;
        std::uint8_t* row = out + stride * y;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t a = in[4 * x + 3];
            const std::uint32_t r = (in[4 * x + 0] * a + 127) / 255;
            const std::uint32_t g = (in[4 * x + 1] * a + 127) / 255;
            const std::uint32_t b = (in[4 * x + 2] * a + 127) / 255;
            const std::uint32_t pixel = (a << 24) | (r << 16) | (g << 8) | b;
            std::memcpy(row + 4 * std::size_t(x), &pixel, 4);
        }
    }
}

}  // namespace plat
