#pragma once

#include "platform/FileAttributes.h"
#include "platform/ImageRef.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace plat {

// Builds a PDF of image pages on qpdf: one image per page, the page as large
// as the image at its resolution (pixels / dpi × 72 points). JPEG data is
// embedded as it is (DCTDecode); other pixels are Flate-compressed, with
// alpha as a soft mask.
class PdfWriter {
public:
    PdfWriter();
    ~PdfWriter();
    PdfWriter(const PdfWriter&) = delete;
    PdfWriter& operator=(const PdfWriter&) = delete;

    void setTitle(const std::string& title) { title_ = title; }
    void setCreator(const std::string& creator) { creator_ = creator; }

    // Adds a page showing `image` (grey, RGB or CMYK; alpha as soft mask).
    // A resolution of 0 or less counts as 72. False for a null image.
    bool addImagePage(const ImageRef& image, double dpiX, double dpiY);
    // Adds a page from baseline or progressive JPEG data, passed through.
    // `components` 1, 3 or 4 (4: Adobe CMYK, inverted); false otherwise.
    bool addJpegPage(std::span<const std::uint8_t> jpeg, int width, int height, int components,
                     double dpiX, double dpiY);

    std::size_t pageCount() const { return pages_; }
    // The finished document; empty on failure or without pages.
    std::vector<std::uint8_t> data();
    // Writes the document atomically; false (and no file) on failure.
    bool write(const std::filesystem::path& path,
               const std::optional<FileAttributes>& attributes = std::nullopt);

private:
    bool addPage(int width, int height, double dpiX, double dpiY, void* imageObject);

    struct State;
    std::unique_ptr<State> state_;
    std::string title_;
    std::string creator_;
    std::size_t pages_ = 0;
};

}  // namespace plat
