#include "platform/codecs/PngWriter.h"

#include "platform/codecs/DeflateStream.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plat::codecs {

namespace {

// Raw bytes of one band: at least 1 MiB, so that its buffers come from and
// go back to the system (see Initialize) instead of staying in the arenas of
// the threads that deflate them.
constexpr std::size_t kBandBytes = 1 << 20;
// How a band is deflated. Most rows (drawings, text, the smooth rows of a
// photograph enlarged on a page) go to libdeflate's level 6, which finds
// more matches than zlib's level 7 (what ImageMagick uses with libpng's
// filters) in a quarter of zlib's level 6 time. Two kinds of rows do
// better otherwise:
// - rows of a grainy photograph hold few matches worth their cost: any
//   match search there makes the file larger than Huffman codes alone,
//   which are also the fastest;
// - sparse rows of line art (thin lines crossing a plain ground), where
//   zlib's level 7 with the filtered strategy finds the cheaper matches.
// - rows of a photograph reduced onto the page, where short matches cost
//   more than the literals they stand for: libdeflate's lazy search takes
//   them, zlib's filtered strategy drops them, and wins by a few percent
//   even at its quick level 4.
// Two samples, a third and two thirds down the band, deflated both ways,
// tell which the band is. Samples that libdeflate takes to less than this
// share of their size may be line art, the others grainy.
constexpr double kSparse = 0.05;
// Samples libdeflate leaves larger than this share may be photographs:
// they are also deflated with zlib's filtered strategy at level 4, which
// the band gets when that gains kFilteredGain on libdeflate.
constexpr double kPhotoLike = 0.08;
constexpr double kFilteredGain = 0.01;
constexpr int kLevel = 6;
constexpr int kZlibLevel = 7;
constexpr int kFilteredLevel = 4;
constexpr std::size_t kWindow = 32768;  // deflate's window: the dictionary a band starts with
constexpr std::size_t kSample = 16 * 1024;

using Writer = std::function<bool(const void* data, std::size_t size)>;

void PutU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24), p[1] = std::uint8_t(v >> 16), p[2] = std::uint8_t(v >> 8), p[3] = std::uint8_t(v);
}

bool WriteChunk(const Writer& write, const char type[4], const std::uint8_t* data, std::size_t size) {
    if (size > 0x7FFFFFFFu) return false;
    std::uint8_t head[8];
    PutU32(head, std::uint32_t(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, head + 4, 4);
    if (size) crc = crc32_z(crc, data, size);
    std::uint8_t tail[4];
    PutU32(tail, std::uint32_t(crc));
    return write(head, 8) && (size == 0 || write(data, size)) && write(tail, 4);
}

// The bits a row's bytes take under a code fitted to them, less a constant
// of the row's length: -sum(h log2 h) over the count h of each byte value.
// Rows scored so come out a third of a percent smaller than libpng's
// smallest-sum measure on pages and photographs, and up to two percent on
// photographs reduced onto a page. Every other byte is counted, which
// chooses as well at half the cost, into four tables in turn, so that a run
// of one value does not wait on its own count.
double Entropy(const std::uint8_t* bytes, std::size_t n) {
    static const std::vector<float> table = [] {
        std::vector<float> t(1 << 13);
        for (std::size_t h = 1; h < t.size(); ++h) t[h] = float(double(h) * std::log2(double(h)));
        return t;
    }();
    std::uint32_t counts[4][256] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        ++counts[0][bytes[i]];
        ++counts[1][bytes[i + 2]];
        ++counts[2][bytes[i + 4]];
        ++counts[3][bytes[i + 6]];
    }
    for (; i < n; i += 2) ++counts[0][bytes[i]];
    double sum = 0;
    for (int v = 0; v < 256; ++v) {
        const std::uint32_t h = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
        sum += h < table.size() ? double(table[h]) : double(h) * std::log2(double(h));
    }
    return -sum;
}

std::uint8_t Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return std::uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Filters one row into out[0] (the filter type) and out[1..], choosing the
// filter whose bytes have the least entropy (the first such on a tie).
// `prev` is null for the first row. Each filter runs over the whole row in a
// loop of its own, without branches, so that the compiler turns it into
// vector code: choosing the filter was most of the encoder's time when it
// was tried byte by byte.
void FilterRow(const std::uint8_t* row, const std::uint8_t* prev, std::size_t n, std::size_t bpp,
               std::uint8_t* out, std::vector<std::uint8_t>& scratch) {
    if (prev && std::memcmp(row, prev, n) == 0) {
        // A repeated row (the plain ground of a page or drawing): "up" makes
        // it all zeros, which no other filter beats, unless the row is all
        // zeros already and "none" comes first.
        const bool zero = n == 0 || (row[0] == 0 && std::memcmp(row, row + 1, n - 1) == 0);
        out[0] = zero ? 0 : 2;
        std::memset(out + 1, 0, n);
        return;
    }
    scratch.resize(5 * n);
    std::uint8_t* const sub = scratch.data();
    std::uint8_t* const up = sub + n;
    std::uint8_t* const avg = up + n;
    std::uint8_t* const paeth = avg + n;
    if (!prev) {
        std::uint8_t* zero = paeth + n;
        std::memset(zero, 0, n);
        prev = zero;
    }
    const std::size_t head = std::min(bpp, n);
    for (std::size_t i = 0; i < head; ++i) {
        sub[i] = row[i];
        up[i] = std::uint8_t(row[i] - prev[i]);
        avg[i] = std::uint8_t(row[i] - (prev[i] >> 1));
        paeth[i] = std::uint8_t(row[i] - Paeth(0, prev[i], 0));
    }
    const std::uint8_t* const left = row - bpp;
    const std::uint8_t* const corner = prev - bpp;
    for (std::size_t i = head; i < n; ++i) sub[i] = std::uint8_t(row[i] - left[i]);
    for (std::size_t i = head; i < n; ++i) up[i] = std::uint8_t(row[i] - prev[i]);
    for (std::size_t i = head; i < n; ++i) avg[i] = std::uint8_t(row[i] - ((left[i] + prev[i]) >> 1));
    for (std::size_t i = head; i < n; ++i) {
        const std::int16_t a = left[i], b = prev[i], c = corner[i];
        const std::int16_t pa = std::int16_t(std::abs(b - c)), pb = std::int16_t(std::abs(a - c)),
                           pc = std::int16_t(std::abs(a + b - 2 * c));
        const std::int16_t predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        paeth[i] = std::uint8_t(row[i] - predicted);
    }
    const std::uint8_t* candidates[5] = {row, sub, up, avg, paeth};
    std::uint8_t best = 0;
    double least = 0;
    for (std::uint8_t type = 0; type <= 4; ++type) {
        const double bits = Entropy(candidates[type], n);
        if (type == 0 || bits < least) {
            least = bits;
            best = type;
        }
    }
    // `out` may lie over `row` (a band filtered in place): the bytes move
    // before the filter type is written.
    std::memmove(out + 1, candidates[best], n);
    out[0] = best;
}

// Bytes that resize() leaves uninitialised: every byte of a band's buffers
// is written before it is read.
template <class T>
struct DefaultInit : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = DefaultInit<U>;
    };
    DefaultInit() = default;
    template <class U>
    DefaultInit(const DefaultInit<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using Bytes = std::vector<std::uint8_t, DefaultInit<std::uint8_t>>;

// Rows of one band in PNG byte order. The first `context` rows come before
// the band: the rows whose filtered bytes zlib takes as its dictionary
// (libdeflate knows none, and starts each band afresh), preceded by their
// predecessor when they do not start the image.
struct Band {
    Bytes raw;
    std::size_t context = 0;
    bool predecessor = false;
    bool last = false;
};

// Buffers of one image's bands, handed from band to band. Fresh buffers of
// a megabyte or more are new pages from the system, each faulted in and
// cleared on first touch: with several pages encoded at once that was a
// quarter of the kernel time. The spares live as long as the image's
// encoder and are never more than the bands in flight.
class BufferPool {
public:
    Bytes take() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.empty()) return {};
        Bytes buffer = std::move(spare_.back());
        spare_.pop_back();
        return buffer;
    }
    void give(Bytes&& buffer) {
        if (buffer.capacity() == 0) return;
        buffer.clear();
        std::lock_guard<std::mutex> lock(mutex_);
        spare_.push_back(std::move(buffer));
    }

private:
    std::mutex mutex_;
    std::vector<Bytes> spare_;
};

struct Piece {
    // From a pool of its own, uninitialised: only the pages deflate writes
    // are touched, a small part for plain pages, and stay so when reused.
    Bytes deflated;
    std::size_t size = 0;
    uLong adler = 1;
    std::size_t length = 0;  // filtered bytes the piece stands for
};

// libdeflate's matches, zlib's Huffman codes alone, zlib's level 7 (line
// art) or its level 4 (photographs), both with the filtered strategy.
enum class Encoding { Matches, Huffman, Zlib, Filtered };

// What a deflating thread keeps from one band to the next: its compressors
// (a megabyte of tables, allocated once) and the filters' scratch rows.
struct DeflateState {
    libdeflate_compressor* const compressor = libdeflate_alloc_compressor(kLevel);
    z_stream zlib{};
    bool zlibReady = false;
    std::vector<std::uint8_t> scratch;
    std::vector<std::uint8_t> sample;

    DeflateState() = default;
    DeflateState(const DeflateState&) = delete;
    DeflateState& operator=(const DeflateState&) = delete;
    ~DeflateState() {
        libdeflate_free_compressor(compressor);
        if (zlibReady) deflateEnd(&zlib);
    }

    // zlib's deflate, reset for new data with `level` and `strategy`; one
    // stream serves both of its uses.
    z_stream& Zlib(int level, int strategy) {
        if (!zlibReady) {
            if (deflateInit2(&zlib, level, Z_DEFLATED, -15, 9, strategy) != Z_OK) throw vips::VError("deflate failed");
            zlibReady = true;
        } else if (deflateReset(&zlib) != Z_OK || deflateParams(&zlib, level, strategy) != Z_OK) {
            throw vips::VError("deflate failed");
        }
        return zlib;
    }

    // Deflates `size` bytes with zlib, ending the stream (`last`) or
    // flushing to a byte boundary; returns the bytes written, 0 on failure.
    // `history` bytes before `data` are the stream's bytes just before it.
    std::size_t DeflateZlib(Encoding encoding, const std::uint8_t* data, std::size_t size, std::uint8_t* out,
                            std::size_t room, bool last, std::size_t history = 0) {
        z_stream& z = encoding == Encoding::Huffman ? Zlib(kLevel, Z_HUFFMAN_ONLY)
                      : encoding == Encoding::Zlib  ? Zlib(kZlibLevel, Z_FILTERED)
                                                    : Zlib(kFilteredLevel, Z_FILTERED);
        if (history && encoding != Encoding::Huffman) {
            const std::size_t take = std::min(history, kWindow);
            if (deflateSetDictionary(&z, data - take, uInt(take)) != Z_OK) return 0;
        }
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = uInt(size);
        z.next_out = out;
        z.avail_out = uInt(room);
        const int result = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
        if (result != (last ? Z_STREAM_END : Z_OK) || z.avail_in != 0) return 0;
        return room - z.avail_out;
    }

    // The encoding for a band of rows `line` bytes long, judged on samples
    // of it.
    Encoding Choose(const std::uint8_t* data, std::size_t size, std::size_t line) {
        if (size < 4 * kSample) return Encoding::Matches;
        sample.resize(compressBound(kSample) + 1024);
        std::size_t matched = 0, coded = 0;
        Encoding other = Encoding::Huffman;
        const std::uint8_t* const samples[2] = {data + size / 3 - kSample / 2, data + size * 2 / 3 - kSample / 2};
        for (const std::uint8_t* at : samples) {
            const std::size_t m = libdeflate_deflate_compress(compressor, at, kSample, sample.data(), sample.size());
            if (!m) return Encoding::Matches;
            if (at == samples[0]) other = double(m) < kSparse * kSample ? Encoding::Zlib : Encoding::Huffman;
            const std::size_t c = DeflateZlib(other, at, kSample, sample.data(), sample.size(), true);
            if (!c) return Encoding::Matches;
            matched += m;
            coded += c;
        }
        const Encoding cheaper = coded < matched ? other : Encoding::Matches;
        // A sample shorter than two rows shows none of the matches a row
        // finds in the one above, and cannot tell.
        if (other == Encoding::Zlib || double(matched) < kPhotoLike * 2 * kSample || 2 * line > kSample) return cheaper;
        std::size_t filtered = 0;
        for (const std::uint8_t* at : samples) {
            const std::size_t f = DeflateZlib(Encoding::Filtered, at, kSample, sample.data(), sample.size(), true);
            if (!f) return cheaper;
            filtered += f;
        }
        return double(filtered) < (1.0 - kFilteredGain) * double(std::min(matched, coded)) ? Encoding::Filtered
                                                                                           : cheaper;
    }
};

// Threads that filter and deflate the bands of every PNG being written in
// the process, one per core, each with its DeflateState. A thread per band
// cost a tenth of the work on pages of text in starting threads and taking
// fresh memory. Work goes to the thread that went idle last: small images
// then keep to the few threads they need, and the other threads' states
// (two megabytes of tables each, touched on first use) stay untouched.
class DeflateThreads {
public:
    using Task = std::function<void(DeflateState&)>;

    // Never destroyed: its threads wait for work until the process ends.
    static DeflateThreads& Shared() {
        static DeflateThreads* const threads = new DeflateThreads(std::max(1u, std::thread::hardware_concurrency()));
        return *threads;
    }

    void Run(Task task) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (idle_.empty()) {
            tasks_.push_back(std::move(task));
            return;
        }
        Worker* worker = idle_.back();
        idle_.pop_back();
        worker->task = std::move(task);
        worker->wake.notify_one();
    }

private:
    struct Worker {
        std::condition_variable wake;
        Task task;
    };

    explicit DeflateThreads(unsigned count) {
        for (unsigned i = 0; i < count; ++i) std::thread([this] { Work(); }).detach();
    }

    void Work() {
        DeflateState state;
        Worker self;
        for (;;) {
            Task task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (!tasks_.empty()) {
                    task = std::move(tasks_.front());
                    tasks_.pop_front();
                } else {
                    idle_.push_back(&self);
                    self.wake.wait(lock, [&self] { return bool(self.task); });
                    task = std::move(self.task);
                    self.task = nullptr;
                }
            }
            task(state);
        }
    }

    std::mutex mutex_;
    std::deque<Task> tasks_;
    std::vector<Worker*> idle_;  // the last to go idle at the back
};

// Filters and deflates the band; its rows go back to the pool before the
// piece waits for its turn to be written. Every band but the last leaves the
// stream open, so that the pieces join into the one stream PNG wants.
Piece Deflate(Band band, std::size_t rowBytes, std::size_t bpp, BufferPool& pool, BufferPool& outputs,
              DeflateState& state) {
    if (!state.compressor) throw vips::VError("deflate failed");
    const std::size_t rows = band.raw.size() / rowBytes;
    const std::size_t first = band.predecessor ? 1 : 0;
    const std::size_t line = rowBytes + 1;
    // Filtered in place, from the bottom up: a filtered row is a byte
    // longer, so row r lands from r * line on, past the raw row above it
    // (which filtering row r still reads) and over raw rows already done.
    band.raw.resize(rows * line);
    std::uint8_t* const data = band.raw.data();
    for (std::size_t r = rows; r-- > first;) {
        FilterRow(data + r * rowBytes, r > 0 ? data + (r - 1) * rowBytes : nullptr, rowBytes, bpp, data + r * line,
                  state.scratch);
    }
    const std::uint8_t* const filtered = data + band.context * line;
    const std::size_t history = (band.context - first) * line;
    Piece piece;
    piece.length = (rows - band.context) * line;
    // libdeflate's checksum uses the vector units; zlib's was 3% of J7's time.
    piece.adler = libdeflate_adler32(1, filtered, piece.length);
    piece.deflated = outputs.take();
    const Encoding encoding = state.Choose(filtered, piece.length, line);
    if (encoding != Encoding::Matches) {
        // The flush's empty block and the blocks' headers beyond the bound.
        const std::size_t capacity = compressBound(uLong(piece.length)) + 64;
        piece.deflated.resize(capacity);
        piece.size =
            state.DeflateZlib(encoding, filtered, piece.length, piece.deflated.data(), capacity, band.last, history);
    } else {
        const std::size_t capacity =
            libdeflate_deflate_compress_bound(state.compressor, piece.length) + kContinueDeflateRoom;
        piece.deflated.resize(capacity);
        piece.size = libdeflate_deflate_compress(state.compressor, filtered, piece.length, piece.deflated.data(),
                                                 capacity - kContinueDeflateRoom);
        if (piece.size && !band.last) piece.size = ContinueDeflateStream(piece.deflated.data(), piece.size, capacity);
    }
    if (!piece.size) throw vips::VError("deflate failed");
    pool.give(std::move(band.raw));
    return piece;
}

// Gathers the rows libvips computes into bands, deflates them on other
// threads and writes the pieces in order.
class Encoder {
public:
    Encoder(const vips::VImage& image, const Writer& write)
        : write_(write), width_(std::size_t(image.width())), bands_(std::size_t(image.bands())),
          sampleBytes_(image.format() == VIPS_FORMAT_USHORT ? 2 : 1), rowBytes_(width_ * bands_ * sampleBytes_),
          historyRows_((kWindow + rowBytes_) / (rowBytes_ + 1) + 1),
          cores_(std::max(1u, std::thread::hardware_concurrency())) {
        encoders_.fetch_add(1);
    }
    // The deflating threads use its buffers until their pieces are done.
    ~Encoder() {
        abandon();
        encoders_.fetch_sub(1);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Called by vips_sink_disc with each band of rows, top to bottom.
    static int OnRows(VipsRegion* region, VipsRect* area, void* self) {
        auto* encoder = static_cast<Encoder*>(self);
        try {
            return encoder->take(region, area) ? 0 : -1;
        } catch (...) {
            return -1;
        }
    }

    bool finish() {
        band_.last = true;
        dispatch();
        while (!pending_.empty()) {
            if (!writeNext()) return false;
        }
        std::uint8_t adler[4];
        PutU32(adler, std::uint32_t(adler_));
        return WriteChunk(write_, "IDAT", adler, 4) && WriteChunk(write_, "IEND", nullptr, 0);
    }

    // Waits for what is still being deflated, so that no thread outlives us.
    void abandon() {
        for (auto& piece : pending_) piece.wait();
        pending_.clear();
    }

private:
    bool take(VipsRegion* region, VipsRect* area) {
        for (int y = 0; y < area->height; ++y) {
            const auto* row = reinterpret_cast<const std::uint8_t*>(VIPS_REGION_ADDR(region, 0, area->top + y));
            const std::size_t at = band_.raw.size();
            band_.raw.resize(at + rowBytes_);
            std::uint8_t* out = &band_.raw[at];
            if (sampleBytes_ == 2) {
                // Samples are stored most significant byte first.
                for (std::size_t i = 0; i < rowBytes_; i += 2) {
                    std::uint16_t v;
                    std::memcpy(&v, row + i, 2);
                    out[i] = std::uint8_t(v >> 8), out[i + 1] = std::uint8_t(v);
                }
            } else {
                std::memcpy(out, row, rowBytes_);
            }
            ++rowsSeen_;
            if ((band_.raw.size() / rowBytes_ - band_.context) * rowBytes_ >= kBandBytes) {
                dispatch();
                while (pending_.size() >= inFlight()) {
                    if (!writeNext()) return false;
                }
            }
        }
        return true;
    }

    void dispatch() {
        const std::size_t rows = band_.raw.size() / rowBytes_;
        const std::size_t keep = std::min(rows, historyRows_);
        Band next;
        next.context = keep;
        next.predecessor = rowsSeen_ > keep;
        next.raw = pool_.take();
        next.raw.assign(band_.raw.end() - std::ptrdiff_t(keep * rowBytes_), band_.raw.end());
        // Room for the band's rows filtered in place: a byte more a row.
        next.raw.reserve((kBandBytes / rowBytes_ + historyRows_ + 2) * (rowBytes_ + 1));
        auto promise = std::make_shared<std::promise<Piece>>();
        pending_.push_back(promise->get_future());
        auto band = std::make_shared<Band>(std::move(band_));
        DeflateThreads::Shared().Run([band, promise, this](DeflateState& state) {
            try {
                promise->set_value(Deflate(std::move(*band), rowBytes_, bands_ * sampleBytes_, pool_, outputs_, state));
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        });
        band_ = std::move(next);
    }

    // Bands deflated at once: half the cores for an image alone, two each
    // when several are encoded side by side, which keep the cores busy
    // between them; more only add threads and buffers that wait.
    std::size_t inFlight() const {
        return std::max<std::size_t>(2, cores_ / 2 / std::max<std::size_t>(1, encoders_.load()));
    }

    bool writeNext() {
        Piece piece = pending_.front().get();
        pending_.pop_front();
        adler_ = adler32_combine(adler_, piece.adler, z_off_t(piece.length));
        const bool written = WriteChunk(write_, "IDAT", piece.deflated.data(), piece.size);
        outputs_.give(std::move(piece.deflated));
        return written;
    }

    const Writer& write_;
    std::size_t width_, bands_, sampleBytes_, rowBytes_;
    std::size_t historyRows_;  // rows kept for the next band's dictionary, and their predecessor
    const std::size_t cores_;
    // Images encoded at this moment in the process (pages of a document
    // converted side by side).
    static inline std::atomic<std::size_t> encoders_{0};
    std::size_t rowsSeen_ = 0;
    Band band_;
    // Declared before the futures, so that they outlive them: rows (filtered
    // in place), and deflated pieces.
    BufferPool pool_, outputs_;
    std::deque<std::future<Piece>> pending_;
    uLong adler_ = 1;
};

bool WriteHeader(const vips::VImage& image, const Writer& write) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (!write(kSignature, 8)) return false;
    const int bands = image.bands();
    std::uint8_t ihdr[13] = {};
    PutU32(ihdr, std::uint32_t(image.width()));
    PutU32(ihdr + 4, std::uint32_t(image.height()));
    ihdr[8] = image.format() == VIPS_FORMAT_USHORT ? 16 : 8;
    ihdr[9] = bands == 1 ? 0 : bands == 2 ? 4 : bands == 3 ? 2 : 6;
    if (!WriteChunk(write, "IHDR", ihdr, sizeof ihdr)) return false;

    if (vips_image_get_typeof(image.get_image(), VIPS_META_ICC_NAME)) {
        const void* data = nullptr;
        std::size_t length = 0;
        if (vips_image_get_blob(image.get_image(), VIPS_META_ICC_NAME, &data, &length) == 0 && data && length) {
            // Name, NUL, compression method 0, the zlib-compressed profile.
            std::vector<std::uint8_t> iccp = {'i', 'c', 'c', 0, 0};
            uLongf packed = compressBound(uLong(length));
            iccp.resize(5 + packed);
            if (compress2(&iccp[5], &packed, static_cast<const Bytef*>(data), uLong(length), 9) != Z_OK) return false;
            iccp.resize(5 + packed);
            if (!WriteChunk(write, "iCCP", iccp.data(), iccp.size())) return false;
        }
    }

    // Pixels per metre; libvips keeps pixels per millimetre.
    std::uint8_t phys[9];
    PutU32(phys, std::uint32_t(std::lround(std::clamp(image.xres() * 1000.0, 0.0, 2147483647.0))));
    PutU32(phys + 4, std::uint32_t(std::lround(std::clamp(image.yres() * 1000.0, 0.0, 2147483647.0))));
    phys[8] = 1;
    if (!WriteChunk(write, "pHYs", phys, sizeof phys)) return false;

    // The zlib header of the one stream the IDAT chunks hold: deflate with
    // a 32 KiB window, level 6.
    static const std::uint8_t kZlibHeader[2] = {0x78, 0x9C};
    return WriteChunk(write, "IDAT", kZlibHeader, 2);
}

}  // namespace

bool CanWritePng(const vips::VImage& image) {
    const int bands = image.bands();
    const VipsBandFormat format = image.format();
    const VipsInterpretation interpretation = image.interpretation();
    if (image.width() <= 0 || image.height() <= 0 || bands < 1 || bands > 4) return false;
    if (format == VIPS_FORMAT_UCHAR) {
        return bands <= 2 ? interpretation == VIPS_INTERPRETATION_B_W : interpretation == VIPS_INTERPRETATION_sRGB;
    }
    if (format == VIPS_FORMAT_USHORT) {
        return bands <= 2 ? interpretation == VIPS_INTERPRETATION_GREY16
                          : interpretation == VIPS_INTERPRETATION_RGB16;
    }
    return false;
}

void WritePng(const vips::VImage& image, const Writer& write) {
    if (!CanWritePng(image)) throw vips::VError("PNG: unsupported layout");
    if (!WriteHeader(image, write)) throw vips::VError("PNG: write failed");
    Encoder encoder(image, write);
    // The rows are filtered and deflated on the encoder's own threads, on
    // half the cores; libvips computes the pixels on the other half. More
    // of its threads than that only hold more region buffers (a 100
    // megapixel JPEG written as PNG peaked at 156 MiB with eight, 110 with
    // four, in the same time).
    vips::VImage sunk = image.copy();
    vips_image_set_int(sunk.get_image(), VIPS_META_CONCURRENCY,
                       int(std::max(1u, std::thread::hardware_concurrency() / 2)));
    if (vips_sink_disc(sunk.get_image(), &Encoder::OnRows, &encoder) != 0) {
        encoder.abandon();
        throw vips::VError("PNG: the pixels could not be computed or written");
    }
    bool finished = false;
    try {
        finished = encoder.finish();
    } catch (...) {
        encoder.abandon();
        throw;
    }
    if (!finished) {
        encoder.abandon();
        throw vips::VError("PNG: write failed");
    }
}

}  // namespace plat::codecs
