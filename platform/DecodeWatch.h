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

// Whether a decode under `image` (through WatchDecode) has failed so far.
// Ask after the pixels were read: a consumer that wrote them must then
// throw its result away.
bool DecodeFailed(const vips::VImage& image);

}  // namespace plat
