#include "optimisation/PngMetadata.h"

#include "platform/FileManager.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>

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

    // Bit depth and colour type: bytes 8 and 9 of IHDR's data. A palette
    // image's chunks speak of palette entries, not of the bit depth: with the
    // same palette, a new depth leaves their meaning as it was.
    const auto format = [](const std::vector<std::uint8_t>& bytes, const std::vector<Chunk>& chunks) {
        const std::size_t at = chunks.front().offset + 8;
        const auto plte = std::find_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "PLTE"; });
        return std::tuple(bytes[at + 8], bytes[at + 9],
                          plte == chunks.end() ? std::string_view() : plte->data(bytes));
    };
    const auto [originalDepth, originalColour, originalPalette] = format(original, *originalChunks);
    const auto [resultDepth, resultColour, resultPalette] = format(result, *resultChunks);
    const bool sameFormat = originalColour == resultColour &&
                            (originalDepth == resultDepth ||
                             (originalColour == 3 && !originalPalette.empty() && originalPalette == resultPalette));

    std::map<std::string, int> present;
    for (const auto& chunk : *resultChunks) {
        if (IsAncillary(chunk.type)) ++present[IdentityOf(chunk, result)];
    }

    std::vector<const Chunk*> early;  // right after IHDR
    std::vector<const Chunk*> middle;  // right before the first IDAT
    std::vector<const Chunk*> late;    // right before IEND
    bool afterImageData = false;
    for (const auto& chunk : *originalChunks) {
        if (chunk.type == "IDAT") afterImageData = true;
        if (!IsAncillary(chunk.type) || (DependsOnColourType(chunk.type) && !sameFormat)) continue;
        if (chunk.type == "acTL" || chunk.type == "fcTL" || chunk.type == "fdAT") continue;
        auto found = present.find(IdentityOf(chunk, original));
        if (found != present.end() && found->second > 0) {
            --found->second;
            continue;
        }
        if (afterImageData && !BelongsBeforePalette(chunk.type) && !BelongsAfterPalette(chunk.type)) {
            late.push_back(&chunk);
        } else if (BelongsAfterPalette(chunk.type)) {
            middle.push_back(&chunk);
        } else {
            early.push_back(&chunk);
        }
    }
    if (early.empty() && middle.empty() && late.empty()) return true;

    std::vector<std::uint8_t> merged;
    merged.reserve(result.size() + original.size() / 4);
    merged.insert(merged.end(), result.begin(), result.begin() + static_cast<std::ptrdiff_t>(kSignature.size()));
    const auto append = [&merged](const std::vector<std::uint8_t>& from, const Chunk& chunk) {
        merged.insert(merged.end(), from.begin() + static_cast<std::ptrdiff_t>(chunk.offset),
                      from.begin() + static_cast<std::ptrdiff_t>(chunk.offset + chunk.size()));
    };
    bool middleDone = false;
    for (const auto& chunk : *resultChunks) {
        if (chunk.type == "IDAT" && !middleDone) {
            for (const Chunk* insert : middle) append(original, *insert);
            middleDone = true;
        }
        if (chunk.type == "IEND") {
            for (const Chunk* insert : late) append(original, *insert);
        }
        append(result, chunk);
        if (chunk.type == "IHDR") {
            for (const Chunk* insert : early) append(original, *insert);
        }
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
