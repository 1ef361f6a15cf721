#pragma once
// WebP decoding glue on libwebp: WebP sources become an uncompressed TIFF
// file that the converter loads like any other image.

#include <cstddef>
#include <cstdint>

// libwebp's decoder configuration (<webp/decode.h>), which callers that
// decode fill themselves.
struct WebPDecoderConfig;

constexpr int kWebPConfigError = -233;  // decoder configuration could not be initialised
constexpr int kWebPHeaderError = -234;  // the WebP header could not be parsed

// Decodes `data` and writes it as an uncompressed TIFF at `outputPath`
// (premultiplied RGBA when the image has alpha, else RGB). The caller
// initialised `config` with WebPInitDecoderConfig. Returns 0, or -234 when
// the header cannot be parsed. A failed decode writes no file and still
// returns 0: the caller notices the missing file. The file appears whole or
// not at all.
int DecodeWebPToTIFFFile(const std::uint8_t* data, std::size_t length, WebPDecoderConfig* config,
                         const char* outputPath);

// Decodes into the configuration's output buffer as non-premultiplied RGBA;
// the caller frees it (WebPFreeDecBuffer). 0, or -234 for a bad header.
int DecodeWebPData(const std::uint8_t* data, std::size_t length, WebPDecoderConfig* config);

// The canvas size. 0; -233 when no configuration can be made; -234 when the
// header cannot be parsed.
int GetWebPDimensions(const std::uint8_t* data, std::size_t length, int* width, int* height);
