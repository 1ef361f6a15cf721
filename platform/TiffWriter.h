#pragma once

#include "platform/FileAttributes.h"
#include "platform/Image.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

typedef struct tiff TIFF;

namespace plat {

struct TiffMemoryFile;

enum class TiffCompression { None, LZW, LZWWithPredictor };

// How one page of contiguous samples is stored and tagged.
struct TiffPageLayout {
    int width = 0;
    int height = 0;
    ColorModel model = ColorModel::RGB;  // grey 1, RGB 3, CMYK 4 colour samples
    bool alpha = false;                  // one more sample after the colour
    bool premultiplied = false;          // associated alpha, else straight
    TiffCompression compression = TiffCompression::LZW;
    double dpiX = 0.0;                   // written with unit inch when both are > 0
    double dpiY = 0.0;
    int pageIndex = -1;                  // >= 0: page subfile type and page number of `pageCount`
    int pageCount = 0;
    std::uint32_t rowsPerStrip = 0;      // 0: libtiff's default for the row size
    std::span<const std::uint8_t> iccProfile;
    int bitsPerSample = 8;               // 8, 16 (native byte order) or 32 (float)

    int samplesPerPixel() const;
    int bytesPerPixel() const { return samplesPerPixel() * (bitsPerSample / 8); }
};

// Writes TIFF files page by page through libtiff, into memory or into a
// temporary file beside a destination that commit() renames into place.
// Without a successful commit() nothing is left at the destination: the
// temporary file is removed when the writer is discarded or destroyed.
class TiffWriter {
public:
    ~TiffWriter();
    TiffWriter(const TiffWriter&) = delete;
    TiffWriter& operator=(const TiffWriter&) = delete;

    // Null when libtiff cannot start the file.
    static std::unique_ptr<TiffWriter> CreateInMemory();
    static std::unique_ptr<TiffWriter> CreateBeside(const std::filesystem::path& destination);

    // Appends one page: `height` rows of `rowBytes` apart, top row first.
    // False when the layout is impossible or libtiff refuses a tag, a row
    // or the directory.
    bool writePage(const TiffPageLayout& layout, const std::uint8_t* pixels, std::size_t rowBytes);
    int pagesWritten() const { return pages_; }

    // In memory: closes the file and hands out its bytes; empty on failure
    // or when no page was written.
    std::vector<std::uint8_t> finishData();
    // Beside a destination: closes, syncs and renames the file over the
    // destination with `attributes`. False, and nothing left behind, on
    // failure or when no page was written.
    bool commit(const std::optional<FileAttributes>& attributes = std::nullopt);
    // Closes the file and drops what was written.
    void discard();

private:
    TiffWriter();

    TIFF* tiff_ = nullptr;
    std::unique_ptr<TiffMemoryFile> memory_;
    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    int pages_ = 0;
};

}  // namespace plat
