#pragma once
// WebP pixels decoded by libwebp itself, once, in one pass.
//
// libvips's WebP loader decodes a still image whole on first read on one of
// its worker threads; when that decode fails on damaged data, another thread
// waiting for the same rows can take them as good, so that a damaged file
// gives a blank picture in some runs and a failure in others. Here the
// decode runs under a lock on the first read, and a failure fails that read
// and every later one, on every thread.

#include <cstdint>
#include <memory>
#include <span>

#include <vips/vips8>

namespace plat::codecs {

// Image `page` of the WebP data in `data` (kept alive by `owner`), decoded
// when a pixel is first read. The header fields (metadata, orientation,
// page count) are those of `header`, libvips's header-only load of the same
// page; the bands are those of the header (RGB, or RGB with alpha, not
// premultiplied). A still image decodes up to `shrink` times smaller
// (libwebp's own scaler); the frames of an animation decode at full size.
// Throws vips::VError when the header cannot be used.
vips::VImage LoadWebP(std::span<const std::uint8_t> data, std::shared_ptr<const void> owner, int page,
                      int shrink, const vips::VImage& header);

}  // namespace plat::codecs
