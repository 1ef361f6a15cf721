#include "optimisation/PngMetadata.h"

#include "platform/FileManager.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>

#include <zlib.h>

namespace optimisation {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct Chunk {
    std::string_view type;
    std::size_t offset = 0;  // of the length field
    std::uint32_t length = 0;
    std::size_t size() const { return std::size_t(length) + 12; }
    std::string_view data(const std::vector<std::uint8_t>& bytes) const {
        return {reinterpret_cast<const char*>(bytes.data() + offset + 8), length};
    }
};

// The chunks from IHDR to IEND, or nothing when the structure is broken.
std::optional<std::vector<Chunk>> ParseChunks(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < kSignature.size() || !std::equal(kSignature.begin(), kSignature.end(), bytes.begin())) {
        return std::nullopt;
    }
    std::vector<Chunk> chunks;
    std::size_t at = kSignature.size();
    while (at + 12 <= bytes.size()) {
        const std::uint8_t* p = bytes.data() + at;
        Chunk chunk;
        chunk.length = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
        chunk.type = std::string_view(reinterpret_cast<const char*>(p + 4), 4);
        chunk.offset = at;
        if (chunk.length > 0x7FFFFFFFu || chunk.size() > bytes.size() - at) return std::nullopt;
        chunks.push_back(chunk);
        at += chunk.size();
        if (chunk.type == "IEND") break;
    }
    if (chunks.empty() || chunks.front().type != "IHDR" || chunks.front().length != 13 ||
        chunks.back().type != "IEND") {
        return std::nullopt;
    }
    return chunks;
}

bool IsAncillary(std::string_view type) { return (type[0] & 0x20) != 0; }

bool DependsOnColourType(std::string_view type) {
    return type == "tRNS" || type == "bKGD" || type == "sBIT" || type == "hIST";
}

// A whole chunk, length and CRC included.
std::vector<std::uint8_t> MakeChunk(std::string_view type, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> chunk;
    const auto put32 = [&chunk](std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(std::uint8_t(value >> shift));
    };
    put32(std::uint32_t(data.size()));
    chunk.insert(chunk.end(), type.begin(), type.end());
    chunk.insert(chunk.end(), data.begin(), data.end());
    put32(std::uint32_t(::crc32(::crc32(0, nullptr, 0), chunk.data() + 4, uInt(chunk.size() - 4))));
    return chunk;
}

// What the chunks that depend on the colour type speak of: colour type, bit
// depth and palette.
struct SampleFormat {
    std::uint8_t depth = 0;
    std::uint8_t colour = 0;
    std::string_view palette;
};

SampleFormat FormatOf(const std::vector<std::uint8_t>& bytes, const std::vector<Chunk>& chunks) {
    const std::size_t at = chunks.front().offset + 8;
    const auto plte = std::find_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "PLTE"; });
    return {bytes[at + 8], bytes[at + 9], plte == chunks.end() ? std::string_view() : plte->data(bytes)};
}

enum class Carried { Unchanged, Remapped, Impossible, Pointless };

// The background chunk naming the palette entry of that colour, if any.
bool BackgroundInPalette(std::string_view colour, std::string_view palette, std::vector<std::uint8_t>& chunk) {
    for (std::size_t at = 0; at + 3 <= palette.size(); at += 3) {
        if (palette.substr(at, 3) == colour) {
            chunk = MakeChunk("bKGD", {std::uint8_t(at / 3)});
            return true;
        }
    }
    return false;
}

// How a chunk whose meaning depends on the sample format goes into a result
// of another format. A palette image's chunks speak of palette entries, not
// of the bit depth: with the same palette they mean what they meant. A
// background is a colour, found again in a reordered or shortened palette or
// in the palette an 8-bit RGB image was reduced to, whose samples keep their
// significant bits.
Carried CarryFormatChunk(const Chunk& chunk, const std::vector<std::uint8_t>& original, const SampleFormat& from,
                         const SampleFormat& to, std::vector<std::uint8_t>& remapped) {
    const bool palettes = from.colour == 3 && to.colour == 3;
    if (palettes ? (!from.palette.empty() && from.palette == to.palette)
                 : (from.colour == to.colour && from.depth == to.depth)) {
        return Carried::Unchanged;
    }
    const bool reducedRgb = from.colour == 2 && from.depth == 8 && to.colour == 3;
    if ((palettes || reducedRgb) && chunk.type == "sBIT") return Carried::Unchanged;
    const std::string_view data = chunk.data(original);
    if (palettes && chunk.type == "bKGD" && data.size() == 1) {
        const std::size_t entry = std::size_t(std::uint8_t(data[0])) * 3;
        // A background outside the palette means nothing: nothing to keep.
        if (entry + 3 > from.palette.size()) return Carried::Pointless;
        if (BackgroundInPalette(from.palette.substr(entry, 3), to.palette, remapped)) return Carried::Remapped;
    }
    if (reducedRgb && chunk.type == "bKGD" && data.size() == 6 && data[0] == 0 && data[2] == 0 && data[4] == 0) {
        const char colour[3] = {data[1], data[3], data[5]};
        if (BackgroundInPalette(std::string_view(colour, 3), to.palette, remapped)) return Carried::Remapped;
    }
    return Carried::Impossible;
}

// Chunks that must come before PLTE.
bool BelongsBeforePalette(std::string_view type) {
    return type == "iCCP" || type == "sRGB" || type == "gAMA" || type == "cHRM" || type == "sBIT" ||
           type == "cICP" || type == "mDCv" || type == "cLLi";
}

// Chunks that must come after PLTE.
bool BelongsAfterPalette(std::string_view type) { return type == "tRNS" || type == "bKGD" || type == "hIST"; }

// What identifies a chunk when looking for it in the other file: the type
// for chunks that occur once, the keyword for text (a tool may recompress
// it), the whole content for anything else.
std::string IdentityOf(const Chunk& chunk, const std::vector<std::uint8_t>& bytes) {
    static constexpr std::string_view kSingle[] = {"cHRM", "gAMA", "iCCP", "sBIT", "sRGB", "bKGD", "hIST",
                                                   "tRNS", "pHYs", "tIME", "eXIf", "oFFs", "pCAL", "sCAL",
                                                   "sTER", "cICP", "mDCv", "cLLi"};
    if (std::find(std::begin(kSingle), std::end(kSingle), chunk.type) != std::end(kSingle)) {
        return std::string(chunk.type);
    }
    const std::string_view data = chunk.data(bytes);
    if (chunk.type == "tEXt" || chunk.type == "zTXt" || chunk.type == "iTXt") {
        return "text:" + std::string(data.substr(0, data.find('\0')));
    }
    if (chunk.type == "sPLT") return "sPLT:" + std::string(data.substr(0, data.find('\0')));
    return std::string(chunk.type) + ":" + std::string(data);
}

}  // namespace

bool CarryOverAncillaryChunks(const std::vector<std::uint8_t>& original, std::vector<std::uint8_t>& result) {
    const auto originalChunks = ParseChunks(original);
    const auto resultChunks = ParseChunks(result);
    if (!originalChunks || !resultChunks) return false;

    const SampleFormat originalFormat = FormatOf(original, *originalChunks);
    const SampleFormat resultFormat = FormatOf(result, *resultChunks);

    std::map<std::string, int> present;
    for (const auto& chunk : *resultChunks) {
        if (IsAncillary(chunk.type)) ++present[IdentityOf(chunk, result)];
    }

    using Bytes = std::vector<std::uint8_t>;
    const auto whole = [&original](const Chunk& chunk) {
        return Bytes(original.begin() + static_cast<std::ptrdiff_t>(chunk.offset),
                     original.begin() + static_cast<std::ptrdiff_t>(chunk.offset + chunk.size()));
    };
    std::vector<Bytes> early;   // right after IHDR
    std::vector<Bytes> middle;  // right before the first IDAT
    std::vector<Bytes> late;    // right before IEND
    bool afterImageData = false;
    for (const auto& chunk : *originalChunks) {
        if (chunk.type == "IDAT") afterImageData = true;
        if (!IsAncillary(chunk.type)) continue;
        if (chunk.type == "acTL" || chunk.type == "fcTL" || chunk.type == "fdAT") continue;
        auto found = present.find(IdentityOf(chunk, original));
        if (found != present.end() && found->second > 0) {
            --found->second;
            continue;
        }
        Bytes bytes;
        if (DependsOnColourType(chunk.type)) {
            switch (CarryFormatChunk(chunk, original, originalFormat, resultFormat, bytes)) {
            case Carried::Unchanged: bytes = whole(chunk); break;
            case Carried::Remapped: break;
            case Carried::Pointless: continue;
            // A result that loses what the original says (its background,
            // its transparency) is worse than the original: not taken.
            case Carried::Impossible: return false;
            }
        } else {
            bytes = whole(chunk);
        }
        if (afterImageData && !BelongsBeforePalette(chunk.type) && !BelongsAfterPalette(chunk.type)) {
            late.push_back(std::move(bytes));
        } else if (BelongsAfterPalette(chunk.type)) {
            middle.push_back(std::move(bytes));
        } else {
            early.push_back(std::move(bytes));
        }
    }
    if (early.empty() && middle.empty() && late.empty()) return true;

    std::vector<std::uint8_t> merged;
    merged.reserve(result.size() + original.size() / 4);
    merged.insert(merged.end(), result.begin(), result.begin() + static_cast<std::ptrdiff_t>(kSignature.size()));
    const auto insert = [&merged](const std::vector<Bytes>& chunks) {
        for (const Bytes& chunk : chunks) merged.insert(merged.end(), chunk.begin(), chunk.end());
    };
    bool middleDone = false;
    for (const auto& chunk : *resultChunks) {
        if (chunk.type == "IDAT" && !middleDone) {
            insert(middle);
            middleDone = true;
        }
        if (chunk.type == "IEND") insert(late);
        merged.insert(merged.end(), result.begin() + static_cast<std::ptrdiff_t>(chunk.offset),
                      result.begin() + static_cast<std::ptrdiff_t>(chunk.offset + chunk.size()));
        if (chunk.type == "IHDR") insert(early);
    }
    result = std::move(merged);
    return true;
}

bool CarryOverAncillaryChunks(const std::string& originalPath, const std::string& resultPath) {
    const auto original = plat::FileManager::contentsOfFile(originalPath);
    auto result = plat::FileManager::contentsOfFile(resultPath);
    if (!original || !result) return false;
    const std::size_t before = result->size();
    if (!CarryOverAncillaryChunks(*original, *result)) return false;
    return result->size() == before || plat::FileManager::createFile(resultPath, std::span<const std::uint8_t>(*result));
}

}  // namespace optimisation
