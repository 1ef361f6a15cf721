#include "platform/codecs/DeflateStream.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using plat::codecs::ContinueDeflateStream;
using plat::codecs::kContinueDeflateRoom;

Bytes Compress(const std::uint8_t* data, std::size_t size, int level) {
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> c(libdeflate_alloc_compressor(level),
                                                                                     libdeflate_free_compressor);
    Bytes out(libdeflate_deflate_compress_bound(c.get(), size) + kContinueDeflateRoom);  // then the room to continue
    out.resize(libdeflate_deflate_compress(c.get(), data, size, out.data(), out.size() - kContinueDeflateRoom) +
               kContinueDeflateRoom);
    return out;
}

// Runs one stream through zlib's inflate, which must take every byte and see the end.
bool Inflate(const Bytes& stream, Bytes& out, std::size_t expected) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out.assign(expected + 1, 0);
    z.next_in = const_cast<Bytef*>(stream.data()), z.avail_in = uInt(stream.size());
    z.next_out = out.data(), z.avail_out = uInt(out.size());
    const int result = inflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    const bool whole = result == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole;
}

Bytes Data(const std::string& kind, std::size_t size) {
    Bytes data(size);
    std::uint32_t seed = 11;
    static const char kWords[] = "batch photo convert resize sharpen watermark page render ";
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        if (kind == "noise") data[i] = std::uint8_t(seed >> 24);
        if (kind == "text") data[i] = std::uint8_t(kWords[(i * 7 + (seed >> 30)) % (sizeof kWords - 1)]);
        if (kind == "ramp") data[i] = std::uint8_t((i / 3) % 251 + ((seed >> 29) & 1));
    }
    return data;  // "zeros" stays zero
}

}  // namespace

// Pieces compressed apart at every level (stored, fixed and dynamic blocks, one block or many) and
// opened join into one stream that holds the data in order; the last piece keeps its end.
TEST(DeflateStream, ContinuedPiecesJoinIntoOneStream) {
    for (const char* kind : {"zeros", "noise", "text", "ramp"}) {
        const Bytes data = Data(kind, 3 << 20);
        for (int level : {0, 1, 6, 12}) {
            const std::size_t cuts[] = {0, 1, 2, 100, 70000, 1 << 20, data.size()};
            Bytes joined;
            for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
                Bytes piece = Compress(data.data() + cuts[i], cuts[i + 1] - cuts[i], level);
                ASSERT_FALSE(piece.empty());
                std::size_t size = piece.size() - kContinueDeflateRoom;
                if (i + 2 < std::size(cuts)) {
                    size = ContinueDeflateStream(piece.data(), size, piece.size());
                    ASSERT_GT(size, 4u) << kind << " level " << level << " piece " << i;
                    EXPECT_EQ(Bytes(piece.begin() + std::ptrdiff_t(size) - 4, piece.begin() + std::ptrdiff_t(size)),
                              (Bytes{0, 0, 0xFF, 0xFF}));
                }
                joined.insert(joined.end(), piece.begin(), piece.begin() + std::ptrdiff_t(size));
            }
            Bytes back;
            ASSERT_TRUE(Inflate(joined, back, data.size())) << kind << " level " << level;
            EXPECT_TRUE(back == data) << kind << " level " << level;
        }
    }
}

// Bytes that are not one whole stream are refused, and damaged streams never make the walk read out of bounds.
TEST(DeflateStream, RefusesWhatIsNotOneWholeStream) {
    const Bytes data = Data("text", 200000);
    const Bytes whole = Compress(data.data(), data.size(), 6);
    const std::size_t size = whole.size() - kContinueDeflateRoom;
    const auto attempt = [](Bytes bytes, std::size_t used) {
        bytes.resize(used + kContinueDeflateRoom);
        return ContinueDeflateStream(bytes.data(), used, bytes.size());
    };
    EXPECT_EQ(attempt(whole, size / 2), 0u);
    EXPECT_EQ(attempt(whole, 1), 0u);
    Bytes trailing(whole.begin(), whole.begin() + std::ptrdiff_t(size));
    trailing.push_back(0);
    EXPECT_EQ(attempt(trailing, trailing.size()), 0u);
    EXPECT_EQ(attempt(Bytes{0x07}, 1), 0u);                // reserved block type
    EXPECT_EQ(attempt(Bytes{0x01, 0x05, 0x00, 0x00, 0x00}, 5), 0u);  // stored lengths that disagree
    Bytes room = whole;
    EXPECT_EQ(ContinueDeflateStream(room.data(), size, size + kContinueDeflateRoom - 1), 0u);
    std::uint32_t seed = 5;
    for (int round = 0; round < 300; ++round) {
        Bytes damaged(whole.begin(), whole.begin() + std::ptrdiff_t(size));
        for (int flips = 0; flips < 3; ++flips) {
            seed = seed * 1664525u + 1013904223u;
            damaged[(seed >> 8) % damaged.size()] ^= std::uint8_t(1u << (seed % 8));
        }
        attempt(damaged, damaged.size());  // any answer, no fault
    }
}
