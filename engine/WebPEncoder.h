#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/FileAttributes.h"
#include "platform/ImageRef.h"

// libwebp's encoder configuration (<webp/encode.h>), which callers fill
// with InitWebPOutputConfig and SetWebPOutputQuality.
struct WebPConfig;

// Metadata mask bits of the WebP encoder (libwebp's example convention).
constexpr int kWebPMetadataExif = 1;
constexpr int kWebPMetadataIcc = 2;
constexpr int kWebPMetadataXmp = 4;

// Results of the WebP encoder: 0 success, else one of these.
constexpr int kWebPErrorPictureInit = -301;
constexpr int kWebPErrorInvalidConfig = -302;
constexpr int kWebPErrorReadInput = -303;
constexpr int kWebPErrorOpenOutput = -304;
constexpr int kWebPErrorEncode = -305;
constexpr int kWebPErrorWriteOutput = -306;

// Metadata payloads as they go into the WebP container: EXIF as a TIFF
// structure (without the JPEG "Exif\0\0" prefix), an ICC profile, an XMP
// packet. Empty vectors are left out.
struct WebPMetadata {
    std::vector<std::uint8_t> exif;
    std::vector<std::uint8_t> icc;
    std::vector<std::uint8_t> xmp;
};

// libwebp's default preset at quality 75. 1, or 0 when the library is of
// an incompatible version.
int InitWebPOutputConfig(WebPConfig* config);

// The whole-file conversion's quality rule: exactly 1.0 is lossless with
// compressed alpha; anything else is lossy at quality x 100, alpha included.
void SetWebPOutputQuality(WebPConfig* config, double quality);

// Encodes `image` (alpha kept when it has one) into a complete WebP file in
// memory, with the metadata chunks `metadataMask` selects. 0 or a negative
// code above.
int EncodeImageToWebPData(const plat::Image& image, const WebPConfig& config, const WebPMetadata* metadata,
                          int metadataMask, std::vector<std::uint8_t>& out);

// Reads the PNG, JPEG or TIFF file at `inputPath` with its alpha and
// metadata, encodes it and writes `outputPath` in one atomic step: on any
// failure no file, empty or partial, is left there. 0 or a negative code.
int EncodeFileToWebP(const std::filesystem::path& inputPath, const std::filesystem::path& outputPath,
                     const WebPConfig& config, int metadataMask);

// Encodes `image` and writes it atomically to `outputPath` with
// `attributes`. 0 or a negative code.
int WriteImageAsWebP(const plat::Image& image, const std::filesystem::path& outputPath, const WebPConfig& config,
                     const std::optional<plat::FileAttributes>& attributes = std::nullopt);
