#pragma once
// JBIG2 image data as a PDF holds it (JBIG2Decode: the embedded stream
// organisation, with its optional JBIG2Globals segments) decoded with
// jbig2dec.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace plat {

// The bytes of the bitmaps `encoded` declares (its pages and regions, one
// bit a pixel), read from its segment headers before anything is decoded:
// what a decoder of the data allocates at least. A huge value for data that
// are not whole segments.
std::uint64_t Jbig2DeclaredBytes(std::span<const std::uint8_t> encoded);

// The first page of `encoded` as rows of (width + 7) / 8 bytes, 1 bit per
// pixel, 0 black (as a PDF image with this filter reads it). `width` and
// `height` are the image's; the part of the page outside them is dropped,
// rows or columns the page lacks stay white. Decoded with jbig2dec, and
// with poppler's decoder where jbig2dec fails or gives a white page: a
// white page is taken only when both read the data without error. False
// for impossible sizes, output beyond `limit` bytes, data or globals
// neither decoder reads, and decoders needing more memory than a few times
// `limit`.
bool DecodeJbig2(std::span<const std::uint8_t> encoded, std::span<const std::uint8_t> globals, std::int64_t width,
                 std::int64_t height, std::vector<std::uint8_t>* out, std::size_t limit);

}  // namespace plat
