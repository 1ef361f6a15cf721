#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileAttributes.h"
#include "platform/Image.h"

namespace plat {
class TiffWriter;
}

// Writes one page as the next directory of an open multi-page TIFF: 8 bits
// per sample, contiguous samples (grey 1; RGB 3, or 4 with `alpha`, the
// alpha straight; CMYK 4), LZW, the resolution in dots per inch and the page
// number out of `pageCount`. `pixels` holds `height` packed rows, top row
// first. 1 on success, 0 when libtiff refuses a tag, a row or the directory.
int WriteTIFFPage(plat::TiffWriter* tiff, int width, int height, const std::uint8_t* pixels,
                  plat::ColorModel model, bool alpha, double dpiX, double dpiY, int pageIndex, int pageCount);

// A multi-page TIFF written page by page into a temporary file beside its
// destination; Commit() puts it in place. Without a successful Commit() the
// temporary file is closed and removed, so no partial file is ever left at
// the destination.
class MultiPageTiffFile {
public:
    MultiPageTiffFile();
    ~MultiPageTiffFile();
    MultiPageTiffFile(const MultiPageTiffFile&) = delete;
    MultiPageTiffFile& operator=(const MultiPageTiffFile&) = delete;

    // 1 when the temporary file could be opened for writing.
    int Open(const std::filesystem::path& destination);
    bool IsOpen() const { return writer_ != nullptr; }
    plat::TiffWriter* Handle() const { return writer_.get(); }

    // Closes the file and renames it over the destination, then applies
    // `attributes`. 1 on success; 0 when no page was written or the file
    // cannot be finished.
    int Commit(const std::optional<plat::FileAttributes>& attributes = std::nullopt);
    // Closes and removes the temporary file.
    void Discard();

    int PagesWritten() const { return pages_; }
    void CountPage() { ++pages_; }

private:
    std::unique_ptr<plat::TiffWriter> writer_;
    int pages_ = 0;
};
