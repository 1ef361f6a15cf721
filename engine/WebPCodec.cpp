#include "engine/WebPCodec.h"

#include "platform/FileManager.h"
#include "platform/Image.h"

#include <tiffio.h>

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

// Writes the decoded buffer as an uncompressed, single-strip-per-row TIFF.
bool WriteTIFF(const WebPDecBuffer& buffer, const char* path) {
    const bool alpha = buffer.colorspace == MODE_rgbA || buffer.colorspace == MODE_RGBA;
    const int samples = alpha ? 4 : 3;
    TIFF* tiff = TIFFOpen(path, "w");
    if (!tiff) return false;
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, std::uint32_t(buffer.width)) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, std::uint32_t(buffer.height)) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
              TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 1);
    if (ok && alpha) {
        std::uint16_t extra[1] = {std::uint16_t(buffer.colorspace == MODE_rgbA ? EXTRASAMPLE_ASSOCALPHA
                                                                               : EXTRASAMPLE_UNASSALPHA)};
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const std::uint8_t* rgba = buffer.u.RGBA.rgba;
    const int stride = buffer.u.RGBA.stride;
    for (int y = 0; ok && y < buffer.height; ++y) {
        ok = TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(rgba + std::size_t(y) * stride),
                               std::uint32_t(y), 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
    return ok;
}

}  // namespace

int DecodeWebPToTIFFFile(const std::uint8_t* data, std::size_t length, WebPDecoderConfig* config,
                         const char* outputPath) {
    if (const int status = ReadFeatures(data, length, config); status != 0) return status;
    if (!SizeAllowed(*config)) return 0;
    config->output.colorspace = config->input.has_alpha ? MODE_rgbA : MODE_RGB;
    if (WebPDecode(data, length, config) == VP8_STATUS_OK && outputPath && *outputPath) {
        plat::FileManager::writeAtomically(outputPath, [&](const std::filesystem::path& temporary) {
            return WriteTIFF(config->output, temporary.c_str());
        });
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
