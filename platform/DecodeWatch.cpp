#include "platform/DecodeWatch.h"

#include <atomic>
#include <mutex>

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

void MarkFailed(VipsImage* image) {
    if (DecodeState* state = StateOf(image)) state->failed = true;
}

// The decode of a DecodeOnFirstRead image, made by the first read.
struct FirstRead {
    std::mutex mutex;
    VImage pending;  // the one-pass load, until it is decoded
    VImage decoded;
    bool failed = false;
};

void FreeFirstRead(void* data) { delete static_cast<FirstRead*>(data); }

// Each thread reads the decoded pixels through a region of its own.
void* StartFirstRead(VipsImage*, void*, void*) { return new VipsRegion*(nullptr); }

int StopFirstRead(void* seq, void*, void*) {
    auto* region = static_cast<VipsRegion**>(seq);
    if (*region) g_object_unref(*region);
    delete region;
    return 0;
}

int GenerateFirstRead(VipsRegion* out, void* seq, void* a, void*, gboolean*) {
    auto* read = static_cast<FirstRead*>(a);
    {
        std::lock_guard<std::mutex> lock(read->mutex);
        if (read->pending.get_image()) {
            try {
                read->decoded = DecodeCompletely(read->pending);
            } catch (const vips::VError&) {
                read->failed = true;
            }
            read->pending = VImage();
        }
    }
    if (read->failed) {
        MarkFailed(out->im);
        vips_error("vantrell", "%s", "damaged image data");
        return -1;
    }
    auto* region = static_cast<VipsRegion**>(seq);
    if (!*region) *region = vips_region_new(read->decoded.get_image());
    VipsRect need = out->valid;
    if (vips_region_prepare(*region, &need) || vips_region_region(out, *region, &need, need.left, need.top)) {
        return -1;
    }
    return 0;
}

// A new image with the header and fields of `in`, for a generate function
// to fill.
VipsImage* ImageLike(VipsImage* in) {
    VipsImage* out = vips_image_new();
    if (vips_image_pipelinev(out, VIPS_DEMAND_STYLE_ANY, in, nullptr)) {
        g_object_unref(out);
        throw vips::VError();
    }
    return out;
}

VImage Generated(VipsImage* out, VipsStartFn start, VipsGenerateFn generate, VipsStopFn stop, void* a, void* b) {
    if (vips_image_generate(out, start, generate, stop, a, b)) {
        g_object_unref(out);
        throw vips::VError();
    }
    return VImage(out);
}

}  // namespace

VImage WatchDecode(const VImage& decoded) {
    VipsImage* in = decoded.get_image();
    VipsImage* out = ImageLike(in);
    // `out` reads `in` for as long as it lives.
    g_object_ref(in);
    vips_object_local(out, in);
    // Owned by the field, which every image made from `out` shares.
    auto* state = new DecodeState;
    vips_image_set_blob(out, kField, reinterpret_cast<VipsCallbackFn>(FreeState), state, sizeof(DecodeState));
    return Generated(out, vips_start_one, Generate, vips_stop_one, in, state);
}

VImage DecodeCompletely(const VImage& watched) {
    VImage decoded;
    if (VIPS_IMAGE_SIZEOF_IMAGE(watched.get_image()) > vips_get_disc_threshold()) {
        // As libvips keeps a large decoded image: in a file deleted on close.
        decoded = VImage::new_temp_file("%s.v");
        watched.write(decoded);
    } else {
        decoded = watched.copy_memory();
    }
    if (DecodeFailed(watched)) throw vips::VError("damaged image data");
    return decoded;
}

VImage DecodeOnFirstRead(const VImage& watched) {
    // The header and the fields (the watch among them) come from the load.
    VipsImage* out = ImageLike(watched.get_image());
    auto* read = new FirstRead;
    read->pending = watched;
    // Freed with `out`, not with the images made from it: what is decoded
    // lives as long as something reads it.
    g_object_set_data_full(G_OBJECT(out), "vantrell-first-read", read, FreeFirstRead);
    return Generated(out, StartFirstRead, GenerateFirstRead, StopFirstRead, read, nullptr);
}

bool DecodeFailed(const VImage& image) {
    const DecodeState* state = StateOf(image.get_image());
    return state && state->failed.load();
}

}  // namespace plat
