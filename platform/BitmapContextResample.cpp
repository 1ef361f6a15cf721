#include "platform/BitmapContextResample.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <memory>
#include <new>
#include <vector>

namespace plat {

using vips::VImage;

namespace {

constexpr double kLobes = 3.0;
// Input rows fetched per request: enough to amortise the request, few enough
// that a wide image or a large reduction does not hold many rows at once.
constexpr std::size_t kChunkBytes = std::size_t(4) << 20;
// Output rows computed together: each input row is resampled horizontally
// once for all of them.
constexpr int kMaxStripRows = 64;

double Lanczos3(double x) {
    x = std::fabs(x);
    if (x < 1e-12) return 1.0;
    if (x >= kLobes) return 0.0;
    const double px = M_PI * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// For each output position along one axis, the contiguous run of input
// positions it reads and their normalised weights. Positions beyond the
// edges repeat the edge pixel, their weight folded onto it.
struct Axis {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<std::size_t> offset;
    std::vector<float> weights;

    int last(int o) const { return first[std::size_t(o)] + count[std::size_t(o)] - 1; }
};

Axis MakeAxis(int in, int out) {
    Axis axis;
    axis.first.resize(std::size_t(out));
    axis.count.resize(std::size_t(out));
    axis.offset.resize(std::size_t(out));
    const double scale = double(out) / in;
    // Reducing widens the filter so every input pixel contributes.
    const double stretch = scale < 1.0 ? 1.0 / scale : 1.0;
    const double support = kLobes * stretch;
    std::vector<double> w;
    for (int o = 0; o < out; ++o) {
        // Pixel centres line up: output o covers input [o / scale, (o + 1) / scale).
        const double centre = (o + 0.5) / scale - 0.5;
        const int lo = int(std::floor(centre - support)) + 1;
        const int hi = int(std::ceil(centre + support)) - 1;
        int clo = std::clamp(lo, 0, in - 1);
        int chi = std::clamp(hi, 0, in - 1);
        w.assign(std::size_t(chi - clo + 1), 0.0);
        double sum = 0.0;
        for (int i = lo; i <= hi; ++i) {
            const double k = Lanczos3((i - centre) / stretch);
            w[std::size_t(std::clamp(i, 0, in - 1) - clo)] += k;
            sum += k;
        }
        if (std::fabs(sum) < 1e-9) {
            std::fill(w.begin(), w.end(), 0.0);
            w[std::size_t(std::clamp(int(std::lround(centre)), clo, chi) - clo)] = 1.0;
            sum = 1.0;
        }
        // Zero taps at the ends (at whole-pixel distances when not scaling)
        // cost time and add nothing.
        std::size_t begin = 0, end = w.size();
        while (end - begin > 1 && std::fabs(w[begin] / sum) < 1e-7) ++begin;
        while (end - begin > 1 && std::fabs(w[end - 1] / sum) < 1e-7) --end;
        axis.first[std::size_t(o)] = clo + int(begin);
        axis.count[std::size_t(o)] = int(end - begin);
        axis.offset[std::size_t(o)] = axis.weights.size();
        for (std::size_t i = begin; i < end; ++i) axis.weights.push_back(float(w[i] / sum));
    }
    return axis;
}

// Input rows fetched per claim in the one-pass mode: small, so that the
// worker threads share the horizontal pass evenly.
constexpr std::size_t kClaimBytes = std::size_t(1) << 20;
constexpr int kMaxClaimRows = 32;
// Released row buffers kept for reuse.
constexpr std::size_t kMaxSpareRows = 16;

// A one-pass (sequential) source gives each row once, in order: a worker
// that asked for rows its neighbour had already passed would fail with "out
// of order read". In that mode the input is read here, in order, in claims
// of a few rows; the worker that fetched a claim resamples its rows
// horizontally (full output width), and the rows stay until every output
// row that reads them is done. Each input row is thus read and resampled
// once, whatever the reduction and however the threads are scheduled.
//
// Rows are shared: a strip holds a reference to each row it reads, so a row
// dropped from the table (a consumer that asks for overlapping areas counts
// some output rows twice and lets rows go early) lives until its last reader
// is done. Only a row nobody holds is recycled.
struct OrderedInput {
    std::mutex mutex;
    std::condition_variable changed;
    bool failed = false;
    int nextClaim = 0;    // first input row not yet claimed
    int nextFetch = 0;    // first input row not yet fetched: claims fetch in order
    int released = 0;     // rows below this are gone
    int lowestPending = 0;                  // first output row not yet done
    std::vector<std::shared_ptr<std::vector<float>>> rows;  // by input row: resampled horizontally
    std::vector<std::uint8_t> ready;
    std::vector<int> doneWidth;  // by output row: columns finished
    std::vector<int> firstFrom;  // by output row y: lowest input row any row from y on reads
    std::vector<std::shared_ptr<std::vector<float>>> spare;
};

struct Resampler {
    VipsImage* in = nullptr;  // a reference of our own
    int bands = 0;
    int inWidth = 0, inHeight = 0, outWidth = 0, outHeight = 0;
    Axis h, v;
    std::unique_ptr<OrderedInput> ordered;  // null when the input allows any order

    ~Resampler() {
        if (in) g_object_unref(in);
    }
};

// Per worker thread: its input region and scratch rows, reused from strip to strip.
struct Sequence {
    VipsRegion* region = nullptr;
    std::vector<float> premultiplied;  // one input row: colour × alpha, alpha
    std::vector<float> row;            // that row resampled horizontally
    std::vector<float> sums;           // the output strip being accumulated
    std::vector<std::shared_ptr<const std::vector<float>>> held;  // shared rows the strip reads
};

void* StartSequence(VipsImage*, void* a, void*) {
    auto* sequence = new (std::nothrow) Sequence;
    if (!sequence) return nullptr;
    sequence->region = vips_region_new(static_cast<VipsImage*>(a));
    if (!sequence->region) {
        delete sequence;
        return nullptr;
    }
    return sequence;
}

int StopSequence(void* seq, void*, void*) {
    auto* sequence = static_cast<Sequence*>(seq);
    g_object_unref(sequence->region);
    delete sequence;
    return 0;
}

// Four floats in one SIMD register (GCC and Clang vector extension).
typedef float Float4 __attribute__((vector_size(16)));

Float4 Load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store4(float* p, Float4 v) { std::memcpy(p, &v, sizeof v); }

template <int B>
void Premultiply(const std::uint8_t* p, int n, int bands, float* out) {
    if constexpr (B == 4) {
        for (int i = 0; i < n; ++i, p += 4, out += 4) {
            const float a = p[3];
            const Float4 v{float(p[0]), float(p[1]), float(p[2]), 1.0f};
            Store4(out, v * a);
        }
        return;
    }
    const int colour = (B > 0 ? B : bands) - 1;
    const int stride = B > 0 ? B : bands;
    for (int i = 0; i < n; ++i, p += stride, out += stride) {
        const float a = p[colour];
        for (int b = 0; b < colour; ++b) out[b] = float(p[b]) * a;
        out[colour] = a;
    }
}

template <int B>
void Horizontal(const float* in, const Axis& h, int left, int width, int xlo, int bands, float* out) {
    const int stride = B > 0 ? B : bands;
    for (int x = 0; x < width; ++x, out += stride) {
        const std::size_t o = std::size_t(left + x);
        const float* w = &h.weights[h.offset[o]];
        const float* p = in + std::size_t(h.first[o] - xlo) * std::size_t(stride);
        const int n = h.count[o];
        if constexpr (B == 4) {
            Float4 sum{};
            for (int k = 0; k < n; ++k, p += 4) sum += w[k] * Load4(p);
            Store4(out, sum);
        } else if constexpr (B > 0) {
            float s[B] = {};
            for (int k = 0; k < n; ++k, p += B) {
                for (int b = 0; b < B; ++b) s[b] += w[k] * p[b];
            }
            for (int b = 0; b < B; ++b) out[b] = s[b];
        } else {
            for (int b = 0; b < stride; ++b) out[b] = 0.0f;
            for (int k = 0; k < n; ++k, p += stride) {
                for (int b = 0; b < stride; ++b) out[b] += w[k] * p[b];
            }
        }
    }
}

void Accumulate(const float* row, float weight, std::size_t n, float* sums) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) Store4(sums + i, Load4(sums + i) + weight * Load4(row + i));
    for (; i < n; ++i) sums[i] += weight * row[i];
}

// Back to 8-bit straight colour: colour sums divided by the alpha sum.
void Finish(const float* sums, int width, int bands, std::uint8_t* out) {
    const int colour = bands - 1;
    for (int x = 0; x < width; ++x, sums += bands, out += bands) {
        const float a = sums[colour];
        const float alpha = std::clamp(a, 0.0f, 255.0f);
        const int rounded = int(alpha + 0.5f);
        out[colour] = std::uint8_t(rounded);
        if (rounded == 0) {
            for (int b = 0; b < colour; ++b) out[b] = 0;
            continue;
        }
        const float inverse = 1.0f / a;
        for (int b = 0; b < colour; ++b) {
            out[b] = std::uint8_t(int(std::clamp(sums[b] * inverse, 0.0f, 255.0f) + 0.5f));
        }
    }
}

// Fills rows `o` of the output region.
template <int B>
int GenerateStrip(VipsRegion* outRegion, const VipsRect& o, Sequence* s, const Resampler* r) {
    const int bands = r->bands;
    const Axis& h = r->h;
    const Axis& v = r->v;
    // Runs move forward with the output position, but not strictly: a
    // trimmed run can start after its neighbour's.
    int xlo = h.first[std::size_t(o.left)], xhi = h.last(o.left);
    for (int x = o.left + 1; x < o.left + o.width; ++x) {
        xlo = std::min(xlo, h.first[std::size_t(x)]);
        xhi = std::max(xhi, h.last(x));
    }
    int ylo = v.first[std::size_t(o.top)], yhi = v.last(o.top);
    for (int y = o.top + 1; y < o.top + o.height; ++y) {
        ylo = std::min(ylo, v.first[std::size_t(y)]);
        yhi = std::max(yhi, v.last(y));
    }
    const int span = xhi - xlo + 1;
    const std::size_t outRow = std::size_t(o.width) * std::size_t(bands);

    s->premultiplied.resize(std::size_t(span) * std::size_t(bands));
    s->row.resize(outRow);
    s->sums.assign(outRow * std::size_t(o.height), 0.0f);

    const std::size_t rowBytes = std::size_t(span) * std::size_t(bands);
    const int chunk = int(std::clamp<std::size_t>(kChunkBytes / rowBytes, 1, std::size_t(yhi - ylo + 1)));
    for (int cy = ylo; cy <= yhi; cy += chunk) {
        VipsRect need{xlo, cy, span, std::min(chunk, yhi - cy + 1)};
        if (vips_region_prepare(s->region, &need)) return -1;
        for (int iy = cy; iy < cy + need.height; ++iy) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(VIPS_REGION_ADDR(s->region, xlo, iy));
            Premultiply<B>(p, span, bands, s->premultiplied.data());
            Horizontal<B>(s->premultiplied.data(), h, o.left, o.width, xlo, bands, s->row.data());
            for (int y = o.top; y < o.top + o.height; ++y) {
                if (iy < v.first[std::size_t(y)] || iy > v.last(y)) continue;
                const float weight = v.weights[v.offset[std::size_t(y)] + std::size_t(iy - v.first[std::size_t(y)])];
                Accumulate(s->row.data(), weight, outRow, &s->sums[std::size_t(y - o.top) * outRow]);
            }
        }
    }
    for (int y = 0; y < o.height; ++y) {
        auto* q = reinterpret_cast<std::uint8_t*>(VIPS_REGION_ADDR(outRegion, o.left, o.top + y));
        Finish(&s->sums[std::size_t(y) * outRow], o.width, bands, q);
    }
    return 0;
}

// Fetches input rows [first, first + count) in claim order, then resamples
// them horizontally and hands them to the shared rows.
template <int B>
int FetchClaim(int first, int count, Sequence* s, const Resampler* r) {
    OrderedInput& o = *r->ordered;
    {
        std::unique_lock<std::mutex> lock(o.mutex);
        o.changed.wait(lock, [&] { return o.nextFetch == first || o.failed; });
        if (o.failed) return -1;
    }
    VipsRect need{0, first, r->inWidth, count};
    const int status = vips_region_prepare(s->region, &need);
    {
        std::lock_guard<std::mutex> lock(o.mutex);
        o.nextFetch = first + count;
        if (status) o.failed = true;
    }
    o.changed.notify_all();
    if (status) return -1;

    const std::size_t rowFloats = std::size_t(r->outWidth) * std::size_t(r->bands);
    s->premultiplied.resize(std::size_t(r->inWidth) * std::size_t(r->bands));
    std::vector<std::shared_ptr<std::vector<float>>> done(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::shared_ptr<std::vector<float>>& row = done[std::size_t(i)];
        {
            std::lock_guard<std::mutex> lock(o.mutex);
            if (!o.spare.empty()) {
                row = std::move(o.spare.back());
                o.spare.pop_back();
            }
        }
        if (!row) row = std::make_shared<std::vector<float>>();
        row->resize(rowFloats);
        const auto* p = reinterpret_cast<const std::uint8_t*>(VIPS_REGION_ADDR(s->region, 0, first + i));
        Premultiply<B>(p, r->inWidth, r->bands, s->premultiplied.data());
        Horizontal<B>(s->premultiplied.data(), r->h, 0, r->outWidth, 0, r->bands, row->data());
    }
    {
        std::lock_guard<std::mutex> lock(o.mutex);
        for (int i = 0; i < count; ++i) {
            const std::size_t row = std::size_t(first + i);
            o.ready[row] = 1;
            // A row no output row still needs (between the runs of a trimmed axis).
            if (first + i < o.released) continue;
            o.rows[row] = std::move(done[std::size_t(i)]);
        }
    }
    o.changed.notify_all();
    return 0;
}

// Marks output rows done and releases the input rows no pending row reads.
void FinishRows(const VipsRect& strip, const Resampler* r) {
    OrderedInput& o = *r->ordered;
    std::lock_guard<std::mutex> lock(o.mutex);
    for (int y = strip.top; y < strip.top + strip.height; ++y) o.doneWidth[std::size_t(y)] += strip.width;
    while (o.lowestPending < r->outHeight && o.doneWidth[std::size_t(o.lowestPending)] >= r->outWidth) {
        ++o.lowestPending;
    }
    const int keep = o.lowestPending < r->outHeight ? o.firstFrom[std::size_t(o.lowestPending)] : r->inHeight;
    for (; o.released < keep; ++o.released) {
        std::shared_ptr<std::vector<float>> row = std::move(o.rows[std::size_t(o.released)]);
        // References are only taken under the lock: a row no strip holds now
        // stays unheld and may be refilled.
        if (row && row.use_count() == 1 && o.spare.size() < kMaxSpareRows) o.spare.push_back(std::move(row));
    }
}

// Fills rows `strip` of the output region from the shared rows, fetching
// claims while the rows it needs are not all there.
template <int B>
int GenerateOrderedStrip(VipsRegion* outRegion, const VipsRect& strip, Sequence* s, const Resampler* r) {
    OrderedInput& o = *r->ordered;
    const Axis& v = r->v;
    int ylo = v.first[std::size_t(strip.top)], yhi = v.last(strip.top);
    for (int y = strip.top + 1; y < strip.top + strip.height; ++y) {
        ylo = std::min(ylo, v.first[std::size_t(y)]);
        yhi = std::max(yhi, v.last(y));
    }
    std::vector<std::shared_ptr<const std::vector<float>>>& held = s->held;
    for (;;) {
        int claim = -1, claimRows = 0;
        {
            std::unique_lock<std::mutex> lock(o.mutex);
            if (o.failed) return -1;
            if (ylo < o.released) {
                // Asked again for rows already passed: read them directly.
                lock.unlock();
                return GenerateStrip<B>(outRegion, strip, s, r);
            }
            bool all = true;
            for (int iy = ylo; iy <= yhi && all; ++iy) all = o.ready[std::size_t(iy)] != 0;
            if (all) {
                held.assign(o.rows.begin() + ylo, o.rows.begin() + yhi + 1);
                break;
            }
            if (o.nextClaim < r->inHeight) {
                const std::size_t rowBytes = std::size_t(r->inWidth) * std::size_t(r->bands);
                claim = o.nextClaim;
                claimRows = int(std::clamp<std::size_t>(kClaimBytes / rowBytes, 1, kMaxClaimRows));
                claimRows = std::min(claimRows, r->inHeight - claim);
                o.nextClaim += claimRows;
            } else {
                o.changed.wait(lock);
                continue;
            }
        }
        if (FetchClaim<B>(claim, claimRows, s, r)) return -1;
    }

    const std::size_t offset = std::size_t(strip.left) * std::size_t(r->bands);
    const std::size_t width = std::size_t(strip.width) * std::size_t(r->bands);
    s->sums.assign(width, 0.0f);
    for (int y = strip.top; y < strip.top + strip.height; ++y) {
        std::fill(s->sums.begin(), s->sums.end(), 0.0f);
        const std::size_t first = std::size_t(v.first[std::size_t(y)]);
        const float* weights = &v.weights[v.offset[std::size_t(y)]];
        for (int k = 0; k < v.count[std::size_t(y)]; ++k) {
            Accumulate(held[first + std::size_t(k) - std::size_t(ylo)]->data() + offset, weights[k], width,
                       s->sums.data());
        }
        auto* q = reinterpret_cast<std::uint8_t*>(VIPS_REGION_ADDR(outRegion, strip.left, y));
        Finish(s->sums.data(), strip.width, r->bands, q);
    }
    FinishRows(strip, r);
    // Dropped outside the lock: the last reader of a row frees it.
    held.clear();
    return 0;
}

template <int B>
int GenerateBands(VipsRegion* outRegion, Sequence* s, const Resampler* r) {
    // However tall the request, the sums held at once stay a few strips.
    const VipsRect& all = outRegion->valid;
    for (int top = all.top; top < all.top + all.height; top += kMaxStripRows) {
        const VipsRect strip{all.left, top, all.width, std::min(kMaxStripRows, all.top + all.height - top)};
        const int status = r->ordered ? GenerateOrderedStrip<B>(outRegion, strip, s, r)
                                      : GenerateStrip<B>(outRegion, strip, s, r);
        if (status) return -1;
    }
    return 0;
}

int Generate(VipsRegion* outRegion, void* seq, void*, void* b, gboolean*) {
    auto* s = static_cast<Sequence*>(seq);
    const auto* r = static_cast<const Resampler*>(b);
    try {
        switch (r->bands) {
        case 2: return GenerateBands<2>(outRegion, s, r);
        case 4: return GenerateBands<4>(outRegion, s, r);
        default: return GenerateBands<0>(outRegion, s, r);
        }
    } catch (const std::bad_alloc&) {
        vips_error("resize", "out of memory");
        return -1;
    }
}

void FreeResampler(VipsImage*, gpointer data) { delete static_cast<Resampler*>(data); }

}  // namespace

VImage ResizeAlphaWeighted(const VImage& image, int width, int height) {
    VipsImage* in = image.get_image();
    if (image.format() != VIPS_FORMAT_UCHAR || image.bands() < 2 || width <= 0 || height <= 0) {
        throw vips::VError("alpha-weighted resize needs an 8-bit image with alpha");
    }
    if (vips_image_pio_input(in)) throw vips::VError();
    auto* resampler = new Resampler;
    g_object_ref(in);
    resampler->in = in;
    resampler->bands = image.bands();
    resampler->inWidth = image.width();
    resampler->inHeight = image.height();
    resampler->outWidth = width;
    resampler->outHeight = height;
    try {
        resampler->h = MakeAxis(image.width(), width);
        resampler->v = MakeAxis(image.height(), height);
        if (vips_image_get_typeof(in, VIPS_META_SEQUENTIAL)) {
            auto ordered = std::make_unique<OrderedInput>();
            ordered->rows.resize(std::size_t(image.height()));
            ordered->ready.assign(std::size_t(image.height()), 0);
            ordered->doneWidth.assign(std::size_t(height), 0);
            ordered->firstFrom.resize(std::size_t(height));
            int lowest = image.height();
            for (int y = height - 1; y >= 0; --y) {
                lowest = std::min(lowest, resampler->v.first[std::size_t(y)]);
                ordered->firstFrom[std::size_t(y)] = lowest;
            }
            resampler->ordered = std::move(ordered);
        }
    } catch (...) {
        delete resampler;
        throw;
    }
    VipsImage* out = vips_image_new();
    // Wide strips: each one reuses its horizontally resampled input rows
    // for all its output rows.
    if (vips_image_pipelinev(out, VIPS_DEMAND_STYLE_FATSTRIP, in, nullptr)) {
        g_object_unref(out);
        delete resampler;
        throw vips::VError();
    }
    out->Xsize = width;
    out->Ysize = height;
    g_signal_connect(out, "close", G_CALLBACK(FreeResampler), resampler);
    if (vips_image_generate(out, StartSequence, Generate, StopSequence, in, resampler)) {
        g_object_unref(out);
        throw vips::VError();
    }
    return VImage(out);
}

}  // namespace plat
