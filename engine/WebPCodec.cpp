#include "engine/WebPCodec.h"

#include "platform/Image.h"
#include "platform/TiffWriter.h"

#include <webp/decode.h>

#include <cstdio>

namespace {

int ReadFeatures(const std::uint8_t* data, std::size_t length, WebPDecoderConfig* config) {
    if (!data || length == 0 || !config) return kWebPHeaderError;
    if (WebPGetFeatures(data, length, &config->input) != VP8_STATUS_OK) return kWebPHeaderError;
    if (config->input.has_animation) {
        std::fputs("Error! Decoding of an animated WebP file is not supported.\n"
                   "       Use webpmux to extract the individual frames or\n"
                   "       vwebp to view this image.\n",
                   stderr);
    }
    return 0;
}

bool SizeAllowed(const WebPDecoderConfig& config) {
    return plat::Image::sizeAllowed(config.input.width, config.input.height);
}

// Writes the decoded buffer as an uncompressed TIFF, one row per strip,
// atomically at `path`.
bool WriteTIFF(const WebPDecBuffer& buffer, const char* path) {
    auto writer = plat::TiffWriter::CreateBeside(path);
    if (!writer) return false;
    plat::TiffPageLayout layout;
    layout.width = buffer.width;
    layout.height = buffer.height;
    layout.alpha = buffer.colorspace == MODE_rgbA || buffer.colorspace == MODE_RGBA;
    layout.premultiplied = buffer.colorspace == MODE_rgbA;
    layout.compression = plat::TiffCompression::None;
    layout.rowsPerStrip = 1;
    return writer->writePage(layout, buffer.u.RGBA.rgba, std::size_t(buffer.u.RGBA.stride)) && writer->commit();
}

}  // namespace

int DecodeWebPToTIFFFile(const std::uint8_t* data, std::size_t length, WebPDecoderConfig* config,
                         const char* outputPath) {
    if (const int status = ReadFeatures(data, length, config); status != 0) return status;
    if (!SizeAllowed(*config)) return 0;
    config->output.colorspace = config->input.has_alpha ? MODE_rgbA : MODE_RGB;
    if (WebPDecode(data, length, config) == VP8_STATUS_OK && outputPath && *outputPath) {
        WriteTIFF(config->output, outputPath);
    }
    WebPFreeDecBuffer(&config->output);
    return 0;
}

int DecodeWebPData(const std::uint8_t* data, std::size_t length, WebPDecoderConfig* config) {
    if (const int status = ReadFeatures(data, length, config); status != 0) return status;
    if (!SizeAllowed(*config)) return 0;
    config->output.colorspace = MODE_RGBA;
    WebPDecode(data, length, config);
    return 0;
}

int GetWebPDimensions(const std::uint8_t* data, std::size_t length, int* width, int* height) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return kWebPConfigError;
    if (const int status = ReadFeatures(data, length, &config); status != 0) return status;
    if (width) *width = config.input.width;
    if (height) *height = config.input.height;
    return 0;
}
