#include "platform/codecs/DeflateStream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace plat::codecs {

namespace {

constexpr unsigned kMaxCodeLength = 15;

// Reads the stream's bits, least significant first. Past the end it reads
// zeros and remembers that it did.
class Bits {
public:
    Bits(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // The next 56 bits at most, without taking them.
    std::uint64_t peek() const {
        const std::size_t byte = position_ / 8;
        std::uint64_t word = 0;
        if (byte + 8 <= size_) {
            std::memcpy(&word, data_ + byte, 8);  // little-endian, as on every target
        } else {
            for (std::size_t i = 0; byte + i < size_ && i < 8; ++i) word |= std::uint64_t(data_[byte + i]) << (8 * i);
        }
        return word >> (position_ % 8);
    }
    unsigned take(unsigned count) {
        const unsigned value = unsigned(peek() & ((std::uint64_t(1) << count) - 1));
        position_ += count;
        return value;
    }
    void skip(std::size_t count) { position_ += count; }
    void alignToByte() { position_ = (position_ + 7) / 8 * 8; }
    std::size_t position() const { return position_; }
    bool overrun() const { return position_ > size_ * 8; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// A canonical Huffman code as one lookup table on the code's longest
// length: entry = symbol << 4 | length, 0 for bit patterns that are no code.
class Code {
public:
    bool build(const std::uint8_t* lengths, unsigned count) {
        std::array<unsigned, kMaxCodeLength + 1> perLength{};
        for (unsigned s = 0; s < count; ++s) ++perLength[lengths[s]];
        perLength[0] = 0;
        longest_ = 0;
        for (unsigned l = 1; l <= kMaxCodeLength; ++l) {
            if (perLength[l]) longest_ = l;
        }
        if (longest_ == 0) {
            // No code at all: any use of it fails.
            table_.assign(1, 0);
            return true;
        }
        // Over-subscribed codes cannot be decoded; incomplete ones (a
        // distance code of one symbol) can.
        int left = 1;
        for (unsigned l = 1; l <= kMaxCodeLength; ++l) {
            left = left * 2 - int(perLength[l]);
            if (left < 0) return false;
        }
        std::array<unsigned, kMaxCodeLength + 2> next{};
        for (unsigned l = 1; l <= kMaxCodeLength; ++l) next[l + 1] = (next[l] + perLength[l]) << 1;
        table_.assign(std::size_t(1) << longest_, 0);
        for (unsigned s = 0; s < count; ++s) {
            const unsigned l = lengths[s];
            if (!l) continue;
            unsigned code = next[l]++, reversed = 0;
            for (unsigned i = 0; i < l; ++i, code >>= 1) reversed = reversed << 1 | (code & 1);
            for (std::size_t i = reversed; i < table_.size(); i += std::size_t(1) << l) {
                table_[i] = std::uint16_t(s << 4 | l);
            }
        }
        return true;
    }

    // The entry for the next bits of `word`.
    std::uint16_t entry(std::uint64_t word) const { return table_[word & (table_.size() - 1)]; }

    // The next symbol, or -1 for a pattern that is no code.
    int decode(Bits& bits) const {
        const std::uint16_t entry = table_[bits.peek() & (table_.size() - 1)];
        if (!entry) return -1;
        bits.skip(entry & 15);
        return entry >> 4;
    }

private:
    std::vector<std::uint16_t> table_;
    unsigned longest_ = 0;
};

constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool FixedCodes(Code& literals, Code& distances) {
    std::uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    std::uint8_t distanceLengths[30];
    std::fill(distanceLengths, distanceLengths + 30, 5);
    return literals.build(lengths, 288) && distances.build(distanceLengths, 30);
}

bool DynamicCodes(Bits& bits, Code& literals, Code& distances) {
    static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const unsigned literalCount = bits.take(5) + 257, distanceCount = bits.take(5) + 1, lengthCount = bits.take(4) + 4;
    if (literalCount > 286 || distanceCount > 30) return false;
    std::uint8_t codeLengths[19] = {};
    for (unsigned i = 0; i < lengthCount; ++i) codeLengths[kOrder[i]] = std::uint8_t(bits.take(3));
    Code lengthCode;
    if (!lengthCode.build(codeLengths, 19)) return false;
    std::uint8_t lengths[286 + 30] = {};
    const unsigned total = literalCount + distanceCount;
    for (unsigned i = 0; i < total && !bits.overrun();) {
        const int symbol = lengthCode.decode(bits);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[i++] = std::uint8_t(symbol);
            continue;
        }
        unsigned repeat = 0;
        std::uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + bits.take(2);
        } else {
            repeat = symbol == 17 ? 3 + bits.take(3) : 11 + bits.take(7);
        }
        if (i + repeat > total) return false;
        std::fill(lengths + i, lengths + i + repeat, value);
        i += repeat;
    }
    if (lengths[256] == 0) return false;  // a block needs its end code
    return literals.build(lengths, literalCount) && distances.build(lengths + literalCount, distanceCount);
}

// Walks one block's symbols up to its end code. Symbols are decoded from
// one read of the stream's next 56 bits while they last: a literal takes 15
// bits at most, a whole match (length, extra bits, distance, extra bits) 48.
bool SkipSymbols(Bits& bits, const Code& literals, const Code& distances) {
    constexpr unsigned kRead = 56, kLiteral = 15, kMatch = 48;
    while (!bits.overrun()) {
        const std::uint64_t word = bits.peek();
        unsigned used = 0;
        while (kRead - used >= kLiteral) {
            const std::uint16_t entry = literals.entry(word >> used);
            if (!entry) return false;
            const unsigned symbol = entry >> 4;
            if (symbol < 256) {
                used += entry & 15;
                continue;
            }
            if (symbol == 256) {
                bits.skip(used + (entry & 15));
                return true;
            }
            if (symbol > 285) return false;
            if (kRead - used < kMatch) break;  // the match is read afresh
            used += (entry & 15) + kLengthExtra[symbol - 257];
            const std::uint16_t distance = distances.entry(word >> used);
            if (!distance || (distance >> 4) > 29) return false;
            used += (distance & 15) + kDistanceExtra[distance >> 4];
        }
        bits.skip(used);
    }
    return false;
}

}  // namespace

std::size_t ContinueDeflateStream(std::uint8_t* data, std::size_t size, std::size_t capacity) {
    if (!data || capacity < size + kContinueDeflateRoom) return 0;
    Bits bits(data, size);
    Code literals, distances;
    std::size_t finalHeader = 0;
    for (bool last = false; !last;) {
        if (bits.overrun()) return 0;
        finalHeader = bits.position();
        last = bits.take(1) != 0;
        const unsigned type = bits.take(2);
        if (type == 0) {
            bits.alignToByte();
            const unsigned length = bits.take(16), complement = bits.take(16);
            if ((length ^ 0xFFFFu) != complement) return 0;
            bits.skip(std::size_t(length) * 8);
        } else if (type == 1) {
            if (!FixedCodes(literals, distances) || !SkipSymbols(bits, literals, distances)) return 0;
        } else if (type == 2) {
            if (!DynamicCodes(bits, literals, distances) || !SkipSymbols(bits, literals, distances)) return 0;
        } else {
            return 0;
        }
    }
    const std::size_t end = bits.position();
    if (bits.overrun() || (end + 7) / 8 != size) return 0;  // nothing may follow the stream

    data[finalHeader / 8] &= std::uint8_t(~(1u << (finalHeader % 8)));
    if (end % 8) data[end / 8] &= std::uint8_t((1u << (end % 8)) - 1);  // padding as zeros
    // An empty stored block: three zero bits of header, which fit in the
    // last byte's padding when at least three bits are left, then its
    // lengths on the next byte boundary.
    const std::size_t free = (8 - end % 8) % 8;
    std::size_t at = size;
    if (free < 3) data[at++] = 0;
    static constexpr std::uint8_t kEmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(data + at, kEmptyStored, 4);
    return at + 4;
}

}  // namespace plat::codecs
