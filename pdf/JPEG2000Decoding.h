#pragma once
// JPEG 2000 image streams of PDF files (a raw codestream or a JP2 file)
// decoded with OpenJPEG into interleaved 8-bit samples.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Decoded images above this many samples are refused (OpenJPEG works on four
// bytes per sample while it decodes).
inline constexpr std::size_t kJPEG2000MaxDecodedBytes = std::size_t{1} << 28;

// 0 on success, -1 on failure (nothing stored then).
// samples: width x height x components bytes, rows top-down, the channels of
//   a pixel adjacent (colour first, then alpha).
// colorModel: when 0 on entry, set from the colour channels: 1 gray, 2 RGB,
//   3 CMYK; a non-zero value stays.
// components: the image's component count (1 to 5).
// width, height (optional): the decoded image's size.
int DecodeJPEG2000Data(std::span<const std::uint8_t> data, std::vector<std::uint8_t>* samples,
                       std::int32_t* colorModel, std::int64_t* components, std::int64_t* width = nullptr,
                       std::int64_t* height = nullptr);
