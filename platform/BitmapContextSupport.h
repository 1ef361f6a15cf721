#pragma once
// Helpers shared by the bitmap context's sources: cairo ownership and the
// conversions between cairo's premultiplied pixels and straight RGBA.

#include <cstddef>
#include <cstdint>

#include <cairo.h>
#include <vips/vips8>

namespace plat {

class CairoSurface {
public:
    explicit CairoSurface(cairo_surface_t* surface) : surface_(surface) {}
    ~CairoSurface() { cairo_surface_destroy(surface_); }
    CairoSurface(const CairoSurface&) = delete;
    CairoSurface& operator=(const CairoSurface&) = delete;

private:
    cairo_surface_t* surface_;
};

class CairoContext {
public:
    explicit CairoContext(cairo_t* cr) : cr_(cr) {}
    ~CairoContext() { cairo_destroy(cr_); }
    CairoContext(const CairoContext&) = delete;
    CairoContext& operator=(const CairoContext&) = delete;

private:
    cairo_t* cr_;
};

// An ARGB32 image surface as a straight (not premultiplied) sRGB RGBA vips
// image that owns a copy of the pixels.
vips::VImage StraightRGBAFromCairo(cairo_surface_t* surface);

// Packed straight RGBA rows → native-endian premultiplied ARGB32 rows.
void WritePremultipliedARGB32(const std::uint8_t* rgba, int width, int height,
                              std::uint8_t* out, std::size_t stride);

}  // namespace plat
