#include "engine/WebPEncoder.h"

#include <webp/encode.h>

#include <unistd.h>

#include <cstring>
#include <limits>
#include <span>

#include "platform/EmbeddedMetadata.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/ImageSource.h"

namespace {

constexpr std::size_t kRiffHeaderSize = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kVP8XChunkSize = 18;
constexpr std::uint8_t kAlphaFlag = 0x10;
constexpr std::uint8_t kExifFlag = 0x08;
constexpr std::uint8_t kIccFlag = 0x20;
constexpr std::uint8_t kXmpFlag = 0x04;

void PutLE(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void PutChunk(std::vector<std::uint8_t>& out, const char tag[4], const std::vector<std::uint8_t>& payload) {
    out.insert(out.end(), tag, tag + 4);
    PutLE(out, static_cast<std::uint32_t>(payload.size()), 4);
    out.insert(out.end(), payload.begin(), payload.end());
    if (payload.size() & 1) {
        out.push_back(0);
    }
}

std::size_t ChunkSize(const std::vector<std::uint8_t>& payload) {
    return kChunkHeaderSize + payload.size() + (payload.size() & 1);
}

// Wraps the encoder's simple-format file into an extended-format container
// with the selected metadata chunks, as libwebp's own tools lay them out:
// VP8X, ICCP, the image chunks, EXIF, XMP.
bool AddMetadataChunks(std::span<const std::uint8_t> webp, int width, int height, const WebPMetadata& metadata,
                       int mask, std::vector<std::uint8_t>& out) {
    const bool writeExif = (mask & kWebPMetadataExif) && !metadata.exif.empty();
    const bool writeIcc = (mask & kWebPMetadataIcc) && !metadata.icc.empty();
    const bool writeXmp = (mask & kWebPMetadataXmp) && !metadata.xmp.empty();
    if (!writeExif && !writeIcc && !writeXmp) {
        out.assign(webp.begin(), webp.end());
        return true;
    }
    if (webp.size() < kRiffHeaderSize + kChunkHeaderSize) {
        return false;
    }
    std::uint8_t flags = 0;
    std::size_t metadataSize = 0;
    if (writeExif) {
        flags |= kExifFlag;
        metadataSize += ChunkSize(metadata.exif);
    }
    if (writeIcc) {
        flags |= kIccFlag;
        metadataSize += ChunkSize(metadata.icc);
    }
    if (writeXmp) {
        flags |= kXmpFlag;
        metadataSize += ChunkSize(metadata.xmp);
    }
    const std::uint8_t* first = webp.data() + kRiffHeaderSize;
    const bool hasVP8X = std::memcmp(first, "VP8X", 4) == 0;
    const std::size_t riffSize = webp.size() - kChunkHeaderSize + (hasVP8X ? 0 : kVP8XChunkSize) + metadataSize;
    if (riffSize > std::numeric_limits<std::uint32_t>::max() - 1) {
        return false;
    }
    out.clear();
    out.reserve(riffSize + kChunkHeaderSize);
    out.insert(out.end(), webp.begin(), webp.begin() + 4);  // "RIFF"
    PutLE(out, static_cast<std::uint32_t>(riffSize), 4);
    out.insert(out.end(), webp.begin() + 8, webp.begin() + 12);  // "WEBP"
    std::size_t imageStart = kRiffHeaderSize;
    if (hasVP8X) {
        if (webp.size() < kRiffHeaderSize + kVP8XChunkSize) {
            return false;
        }
        out.insert(out.end(), first, first + kVP8XChunkSize);
        out[kRiffHeaderSize + kChunkHeaderSize] |= flags;
        imageStart += kVP8XChunkSize;
    } else {
        // A lossless bitstream records its alpha in bit 28 after the signature.
        const bool lossless = std::memcmp(first, "VP8L", 4) == 0;
        if (lossless && webp.size() > kRiffHeaderSize + kChunkHeaderSize + 4 &&
            (webp[kRiffHeaderSize + kChunkHeaderSize + 4] & 0x10)) {
            flags |= kAlphaFlag;
        }
        const char header[4] = {'V', 'P', '8', 'X'};
        out.insert(out.end(), header, header + 4);
        PutLE(out, 10, 4);
        PutLE(out, flags, 4);
        PutLE(out, static_cast<std::uint32_t>(width - 1), 3);
        PutLE(out, static_cast<std::uint32_t>(height - 1), 3);
    }
    if (writeIcc) {
        PutChunk(out, "ICCP", metadata.icc);
    }
    out.insert(out.end(), webp.begin() + static_cast<std::ptrdiff_t>(imageStart), webp.end());
    if (writeExif) {
        PutChunk(out, "EXIF", metadata.exif);
    }
    if (writeXmp) {
        PutChunk(out, "XMP ", metadata.xmp);
    }
    return true;
}

// The picture and the memory writer, freed on every path.
struct PictureGuard {
    WebPPicture picture;
    WebPMemoryWriter writer;
    bool pictureReady = false;
    PictureGuard() { WebPMemoryWriterInit(&writer); }
    ~PictureGuard() {
        if (pictureReady) {
            WebPPictureFree(&picture);
        }
        WebPMemoryWriterClear(&writer);
    }
};

}  // namespace

int InitWebPOutputConfig(WebPConfig* config) {
    return config && WebPConfigInit(config) ? 1 : 0;
}

void SetWebPOutputQuality(WebPConfig* config, double quality) {
    if (!config) {
        return;
    }
    if (quality == 1.0) {
        config->lossless = 1;
        config->alpha_compression = 1;
    } else {
        config->quality = static_cast<float>(quality * 100.0);
        config->alpha_quality = static_cast<int>(quality * 100.0);
    }
}

int EncodeImageToWebPData(const plat::Image& image, const WebPConfig& config, const WebPMetadata* metadata,
                          int metadataMask, std::vector<std::uint8_t>& out) {
    PictureGuard guard;
    if (!WebPPictureInit(&guard.picture)) {
        return kWebPErrorPictureInit;
    }
    guard.pictureReady = true;
    if (!WebPValidateConfig(&config)) {
        return kWebPErrorInvalidConfig;
    }
    const int width = image.width();
    const int height = image.height();
    if (width <= 0 || height <= 0) {
        return kWebPErrorReadInput;
    }
    if (width > WEBP_MAX_DIMENSION || height > WEBP_MAX_DIMENSION) {
        return kWebPErrorEncode;  // the encoder's own limit
    }
    std::vector<std::uint8_t> rgba = image.copyRGBA8();
    if (rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4u) {
        return kWebPErrorReadInput;
    }
    guard.picture.width = width;
    guard.picture.height = height;
    // Lossless keeps ARGB; lossy converts to YUV(A) itself.
    guard.picture.use_argb = config.lossless ? 1 : 0;
    const bool alpha = image.hasAlpha();
    const int imported = alpha ? WebPPictureImportRGBA(&guard.picture, rgba.data(), width * 4)
                               : WebPPictureImportRGBX(&guard.picture, rgba.data(), width * 4);
    rgba.clear();
    rgba.shrink_to_fit();
    if (!imported) {
        return kWebPErrorReadInput;
    }
    guard.picture.writer = WebPMemoryWrite;
    guard.picture.custom_ptr = &guard.writer;
    if (!WebPEncode(&config, &guard.picture) || guard.writer.size == 0) {
        return kWebPErrorEncode;
    }
    const std::span<const std::uint8_t> encoded(guard.writer.mem, guard.writer.size);
    static const WebPMetadata kNone;
    if (!AddMetadataChunks(encoded, width, height, metadata ? *metadata : kNone, metadataMask, out)) {
        return kWebPErrorWriteOutput;
    }
    return 0;
}

int WriteImageAsWebP(const plat::Image& image, const std::filesystem::path& outputPath, const WebPConfig& config,
                     const std::optional<plat::FileAttributes>& attributes) {
    std::vector<std::uint8_t> data;
    const int result = EncodeImageToWebPData(image, config, nullptr, 0, data);
    if (result != 0) {
        return result;
    }
    return plat::FileManager::createFile(outputPath, data.data(), data.size(), attributes) ? 0 : kWebPErrorWriteOutput;
}

int EncodeFileToWebP(const std::filesystem::path& inputPath, const std::filesystem::path& outputPath,
                     const WebPConfig& config, int metadataMask) {
    {
        WebPPicture probe;
        if (!WebPPictureInit(&probe)) {
            return kWebPErrorPictureInit;
        }
    }
    if (!WebPValidateConfig(&config)) {
        return kWebPErrorInvalidConfig;
    }
    std::vector<std::uint8_t> data;
    try {
        const auto source = plat::ImageSource::Open(inputPath);
        if (!source || source->count() == 0) {
            return kWebPErrorReadInput;
        }
        const std::string& type = source->typeIdentifier();
        if (type != "public.png" && type != "public.jpeg" && type != "public.tiff") {
            return kWebPErrorReadInput;
        }
        const plat::ImageRef image = source->createImage(0);
        if (!image) {
            return kWebPErrorReadInput;
        }
        WebPMetadata metadata;
        if (metadataMask != 0) {
            plat::EmbeddedMetadata blocks = plat::ReadEmbeddedMetadata(*source, 0);
            metadata.exif = std::move(blocks.exif);
            metadata.icc = std::move(blocks.icc);
            metadata.xmp = std::move(blocks.xmp);
        }
        // The output is written only once encoded, so that it appears whole
        // or not at all; a place that cannot take it (no folder, a folder in
        // the way, no write access) is told before encoding all the same.
        const std::filesystem::path folder = outputPath.parent_path().empty() ? "." : outputPath.parent_path();
        if (outputPath.empty() || !plat::FileManager::isDirectory(folder) ||
            plat::FileManager::isDirectory(outputPath) || ::access(folder.c_str(), W_OK | X_OK) != 0) {
            return kWebPErrorOpenOutput;
        }
        const int result = EncodeImageToWebPData(*image, config, &metadata, metadataMask, data);
        if (result != 0) {
            return result;
        }
    } catch (const std::exception&) {
        return kWebPErrorReadInput;
    }
    return plat::FileManager::createFile(outputPath, data.data(), data.size()) ? 0 : kWebPErrorWriteOutput;
}
