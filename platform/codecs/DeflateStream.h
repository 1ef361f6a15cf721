#pragma once

#include <cstddef>
#include <cstdint>

namespace plat::codecs {

// Room ContinueDeflateStream may need past the end of the stream.
constexpr std::size_t kContinueDeflateRoom = 5;

// Turns a complete raw deflate stream (as libdeflate writes it, which knows
// no partial flush) into one that another can follow in the same stream:
// its last block loses the "final" flag, and an empty stored block brings
// its end to a byte boundary, as zlib's Z_SYNC_FLUSH leaves it. The blocks
// are walked symbol by symbol without producing any output, so the cost is
// that of the compressed bytes, not of the data they stand for.
//
// `data` holds `size` bytes and has room for `capacity`, which must be at
// least `size + kContinueDeflateRoom`. Returns the new size, or 0 when the
// bytes are not one well-formed deflate stream (nothing usable is changed
// then).
std::size_t ContinueDeflateStream(std::uint8_t* data, std::size_t size, std::size_t capacity);

}  // namespace plat::codecs
