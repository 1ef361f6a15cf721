#include "platform/DecodeWatch.h"

#include <atomic>

namespace plat {

using vips::VImage;

namespace {

constexpr const char* kField = "vantrell-decode-state";

struct DecodeState {
    std::atomic<bool> failed{false};
};

int FreeState(void* data, void*) {
    delete static_cast<DecodeState*>(data);
    return 0;
}

DecodeState* StateOf(VipsImage* image) {
    if (vips_image_get_typeof(image, kField) != VIPS_TYPE_BLOB) return nullptr;
    const void* data = nullptr;
    std::size_t length = 0;
    if (vips_image_get_blob(image, kField, &data, &length) || length != sizeof(DecodeState)) return nullptr;
    return static_cast<DecodeState*>(const_cast<void*>(data));
}

int Generate(VipsRegion* out, void* seq, void*, void* b, gboolean*) {
    auto* in = static_cast<VipsRegion*>(seq);
    VipsRect need = out->valid;
    if (vips_region_prepare(in, &need) || vips_region_region(out, in, &need, need.left, need.top)) {
        static_cast<DecodeState*>(b)->failed = true;
        return -1;
    }
    return 0;
}

}  // namespace

VImage WatchDecode(const VImage& decoded) {
    VipsImage* in = decoded.get_image();
    VipsImage* out = vips_image_new();
    if (vips_image_pipelinev(out, VIPS_DEMAND_STYLE_ANY, in, nullptr)) {
        g_object_unref(out);
        throw vips::VError();
    }
    // `out` reads `in` for as long as it lives.
    g_object_ref(in);
    vips_object_local(out, in);
    // Owned by the field, which every image made from `out` shares.
    auto* state = new DecodeState;
    vips_image_set_blob(out, kField, reinterpret_cast<VipsCallbackFn>(FreeState), state, sizeof(DecodeState));
    if (vips_image_generate(out, vips_start_one, Generate, vips_stop_one, in, state)) {
        g_object_unref(out);
        throw vips::VError();
    }
    return VImage(out);
}

bool DecodeFailed(const VImage& image) {
    const DecodeState* state = StateOf(image.get_image());
    return state && state->failed.load();
}

}  // namespace plat
