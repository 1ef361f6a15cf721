#pragma once
// Decode errors that libvips may lose on the way to the consumer.

#include <vips/vips8>

namespace plat {

// A decode error can get lost inside libvips: when one worker thread fails
// to decode a strip that another thread waits for in a cache, the waiting
// thread takes the strip as good, and the run "succeeds" with blank pixels,
// in some runs and not in others. Every read of a decoder's output passes
// through the image this returns, which notes any failure in a field that
// follows the pixels into every image made from them.
vips::VImage WatchDecode(const vips::VImage& decoded);

// All of `watched` (a one-pass load under WatchDecode) decoded now, into
// memory or, when it is large, into a temporary file, for reading at
// random. Throws vips::VError when the decode fails.
vips::VImage DecodeCompletely(const vips::VImage& watched);

// The same decode, put off until a pixel of the result is first read; the
// result then serves its pixels at random. A failed decode fails that read
// and every later one, and DecodeFailed answers true.
//
// Why not libvips's own random-access loading: it decodes the whole image
// on first use on several threads at once, and when one of them fails on
// damaged data the failure can go unreported, so that a damaged file gives
// a picture in some runs and not in others. One pass under the watch sees
// every failure.
vips::VImage DecodeOnFirstRead(const vips::VImage& watched);

// Whether a decode under `image` (through WatchDecode) has failed so far.
// Ask after the pixels were read: a consumer that wrote them must then
// throw its result away.
bool DecodeFailed(const vips::VImage& image);

}  // namespace plat
