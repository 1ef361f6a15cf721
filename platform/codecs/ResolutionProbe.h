#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace plat::codecs {

// Resolution as a file states it. libvips reports a default of 25.4 dpi for
// files that state none, which must never reach the user, so the header
// fields are read here directly.
struct StatedResolution {
    int unit = 0;          // 0 none, 1 inch, 2 cm (JFIF), 3 metre (PNG)
    double x = 0.0, y = 0.0;  // as stored (density or pixels per unit)
    double dpiX() const;   // 0 when the unit states no physical size
    double dpiY() const;
};

// The JFIF APP0 segment of a JPEG (at the very start of the data).
std::optional<StatedResolution> ProbeJfif(const std::uint8_t* data, std::size_t size);
// The pHYs chunk of a PNG, looked for before the first IDAT.
std::optional<StatedResolution> ProbePngPhys(const std::uint8_t* data, std::size_t size);

}  // namespace plat::codecs
