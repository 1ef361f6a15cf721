#include "platform/codecs/ResolutionProbe.h"

#include <cstring>

namespace plat::codecs {

namespace {

unsigned U16BE(const std::uint8_t* p) { return unsigned(p[0]) << 8 | p[1]; }
std::uint32_t U32BE(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

double StatedResolution::dpiX() const {
    // JFIF: 1 inch, 2 cm. PNG probes store metres as unit 3 (see below).
    switch (unit) {
    case 1: return x;
    case 2: return x * 2.54;
    case 3: return x * 0.0254;
    default: return 0.0;
    }
}

double StatedResolution::dpiY() const {
    switch (unit) {
    case 1: return y;
    case 2: return y * 2.54;
    case 3: return y * 0.0254;
    default: return 0.0;
    }
}

std::optional<StatedResolution> ProbeJfif(const std::uint8_t* data, std::size_t size) {
    // SOI, then APP0: FF E0, length, "JFIF\0", version (2), units, Xdensity, Ydensity.
    if (!data || size < 20 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
    if (data[2] != 0xFF || data[3] != 0xE0) return std::nullopt;
    if (U16BE(data + 4) < 16 || std::memcmp(data + 6, "JFIF\0", 5) != 0) return std::nullopt;
    StatedResolution r;
    r.unit = data[13];
    r.x = U16BE(data + 14);
    r.y = U16BE(data + 16);
    if (r.unit > 2) r.unit = 0;
    return r;
}

std::optional<StatedResolution> ProbePngPhys(const std::uint8_t* data, std::size_t size) {
    if (!data || size < 8 || std::memcmp(data, "\x89PNG\r\n\x1A\n", 8) != 0) return std::nullopt;
    std::size_t offset = 8;
    while (offset + 12 <= size) {
        const std::uint32_t length = U32BE(data + offset);
        const std::uint8_t* type = data + offset + 4;
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) break;
        if (length > size - offset - 12) break;
        if (std::memcmp(type, "pHYs", 4) == 0 && length == 9) {
            const std::uint8_t* body = data + offset + 8;
            StatedResolution r;
            r.x = U32BE(body);
            r.y = U32BE(body + 4);
            r.unit = body[8] == 1 ? 3 : 0;
            return r;
        }
        offset += std::size_t(length) + 12;
    }
    return std::nullopt;
}

}  // namespace plat::codecs
