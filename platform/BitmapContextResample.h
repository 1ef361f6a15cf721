#pragma once
// Alpha-weighted Lanczos-3 resampling of 8-bit images with an alpha band.

#include <vips/vips8>

namespace plat {

// Resizes `image` (8-bit, two or more bands, the last one alpha) to exactly
// `width` × `height` with a Lanczos-3 filter (widened when reducing), each
// colour weighted by its alpha so transparent pixels do not bleed into their
// neighbours. The result is 8-bit straight colour with the same bands and
// fields, and is lazy: rows are computed in strips from 8-bit input strips,
// so a sequentially loaded source streams through it without any full-size
// intermediate image.
vips::VImage ResizeAlphaWeighted(const vips::VImage& image, int width, int height);

}  // namespace plat
