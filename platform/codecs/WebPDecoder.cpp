#include "platform/codecs/WebPDecoder.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <mutex>
#include <new>

namespace plat::codecs {

using vips::VImage;

namespace {

struct WebPPixels {
    std::span<const std::uint8_t> data;
    std::shared_ptr<const void> owner;
    int page = 0;
    int width = 0, height = 0, bands = 3;
    bool animated = false;
    bool scaled = false;

    std::mutex mutex;
    bool decoded = false;
    bool failed = false;
    std::unique_ptr<std::uint8_t[]> pixels;  // rows of width × bands bytes
};

bool DecodeStill(WebPPixels& p) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return false;
    config.options.use_threads = 1;
    if (p.scaled) {
        config.options.use_scaling = 1;
        config.options.scaled_width = p.width;
        config.options.scaled_height = p.height;
    }
    config.output.colorspace = p.bands == 4 ? MODE_RGBA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = p.pixels.get();
    config.output.u.RGBA.stride = p.width * p.bands;
    config.output.u.RGBA.size = std::size_t(p.width) * std::size_t(p.height) * std::size_t(p.bands);
    const VP8StatusCode status = WebPDecode(p.data.data(), p.data.size(), &config);
    WebPFreeDecBuffer(&config.output);
    return status == VP8_STATUS_OK;
}

// Frame `page` of an animation on its canvas, the frames before it blended
// in as the animation shows them.
bool DecodeFrame(WebPPixels& p) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return false;
    options.color_mode = MODE_RGBA;
    const WebPData data{p.data.data(), p.data.size()};
    std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> decoder(WebPAnimDecoderNew(&data, &options),
                                                                                 WebPAnimDecoderDelete);
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info) || int(info.canvas_width) != p.width ||
        int(info.canvas_height) != p.height) {
        return false;
    }
    std::uint8_t* canvas = nullptr;
    for (int frame = 0; frame <= p.page; ++frame) {
        int timestamp = 0;
        if (!WebPAnimDecoderHasMoreFrames(decoder.get()) ||
            !WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp)) {
            return false;
        }
    }
    const std::size_t count = std::size_t(p.width) * std::size_t(p.height);
    if (p.bands == 4) {
        std::memcpy(p.pixels.get(), canvas, count * 4);
    } else {
        for (std::size_t i = 0; i < count; ++i) std::memcpy(&p.pixels[i * 3], &canvas[i * 4], 3);
    }
    return true;
}

int Generate(VipsRegion* out, void*, void* a, void*, gboolean*) {
    auto* p = static_cast<WebPPixels*>(a);
    {
        std::lock_guard<std::mutex> lock(p->mutex);
        if (!p->decoded) {
            p->decoded = true;
            p->pixels.reset(new (std::nothrow)
                                std::uint8_t[std::size_t(p->width) * std::size_t(p->height) * std::size_t(p->bands)]);
            p->failed = !p->pixels || !(p->animated ? DecodeFrame(*p) : DecodeStill(*p));
            if (p->failed) p->pixels.reset();
        }
    }
    if (p->failed) {
        vips_error("webpload", "%s", "damaged WebP data");
        return -1;
    }
    const VipsRect& r = out->valid;
    const std::size_t line = std::size_t(r.width) * std::size_t(p->bands);
    for (int y = r.top; y < r.top + r.height; ++y) {
        std::memcpy(VIPS_REGION_ADDR(out, r.left, y),
                    &p->pixels[(std::size_t(y) * std::size_t(p->width) + std::size_t(r.left)) * std::size_t(p->bands)],
                    line);
    }
    return 0;
}

void FreePixels(void* data) { delete static_cast<WebPPixels*>(data); }

}  // namespace

VImage LoadWebP(std::span<const std::uint8_t> data, std::shared_ptr<const void> owner, int page, int shrink,
                const VImage& header) {
    WebPBitstreamFeatures features;
    if (data.empty() || WebPGetFeatures(data.data(), data.size(), &features) != VP8_STATUS_OK) {
        throw vips::VError("damaged WebP header");
    }
    if (header.bands() != 3 && header.bands() != 4) throw vips::VError("unexpected WebP bands");
    auto pixels = std::make_unique<WebPPixels>();
    pixels->data = data;
    pixels->owner = std::move(owner);
    pixels->page = page;
    pixels->bands = header.bands();
    pixels->animated = features.has_animation;
    pixels->width = features.width;
    pixels->height = features.height;
    if (!pixels->animated && (shrink == 2 || shrink == 4 || shrink == 8) && features.width >= shrink &&
        features.height >= shrink) {
        pixels->width = (features.width + shrink - 1) / shrink;
        pixels->height = (features.height + shrink - 1) / shrink;
        pixels->scaled = true;
    }
    if (pixels->animated ? page < 0 : page != 0) throw vips::VError("no such WebP frame");

    // The metadata and the other fields of the header, the size ours.
    VipsImage* out = vips_image_new();
    if (vips_image_pipelinev(out, VIPS_DEMAND_STYLE_THINSTRIP, header.get_image(), nullptr)) {
        g_object_unref(out);
        throw vips::VError();
    }
    vips_image_init_fields(out, pixels->width, pixels->height, pixels->bands, VIPS_FORMAT_UCHAR, VIPS_CODING_NONE,
                           VIPS_INTERPRETATION_sRGB, header.xres(), header.yres());
    if (vips_image_get_typeof(out, VIPS_META_PAGE_HEIGHT)) vips_image_set_int(out, VIPS_META_PAGE_HEIGHT, pixels->height);
    WebPPixels* state = pixels.release();
    g_object_set_data_full(G_OBJECT(out), "vantrell-webp-pixels", state, FreePixels);
    if (vips_image_generate(out, nullptr, Generate, nullptr, state, nullptr)) {
        g_object_unref(out);
        throw vips::VError();
    }
    return VImage(out);
}

}  // namespace plat::codecs
