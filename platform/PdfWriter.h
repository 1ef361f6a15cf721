#pragma once

#include "platform/FileAttributes.h"
#include "platform/ImageRef.h"
#include "platform/PdfDocument.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace plat {

// Encryption and permissions of a written PDF. Without a password the file
// is written unencrypted.
struct PdfWriteOptions {
    std::string userPassword;   // needed to open the file
    std::string ownerPassword;  // needed to change it; empty: the user password
    // 40 (RC4), 128 (AES) or 256 (AES-256) bits; other values: 256.
    int keyLength = 256;
    bool allowsPrinting = true;
    bool allowsCopying = true;

    bool encrypts() const { return !userPassword.empty() || !ownerPassword.empty(); }
};

// Fixed paper for an image page: the media box is the paper, and the image,
// at its own size, is centred in the content area.
struct PdfPageFrame {
    double paperWidth = 0.0;
    double paperHeight = 0.0;
    PdfBox contentArea;
};

// One bookmark of a document's outline.
struct PdfOutlineItem {
    std::string title;
    int pageIndex = -1;  // 0-based page of the destination; -1: none
    // The point (user space) shown at the window's upper left corner; a
    // coordinate left out keeps the viewer's.
    std::optional<double> left;
    std::optional<double> top;
    std::vector<PdfOutlineItem> children;
    // A destination read from a document keeps its own view: its name
    // ("/Fit", "/XYZ", "/FitR", ...) and operands, nullopt where the file has
    // null. Without a view the destination is [page /XYZ left top null].
    std::string view;
    std::vector<std::optional<double>> operands;
};

// Builds and edits a PDF on qpdf. A new writer starts empty and gets image
// pages: the page as large as the image at its resolution (pixels / dpi × 72
// points), or fixed paper (PdfPageFrame). JPEG data is embedded as it is
// (DCTDecode); other pixels are Flate-compressed, with alpha as a soft mask.
// An opened writer edits an existing PDF: pages are copied in from other
// writers, rotated and removed, the outline replaced, and the result written
// with or without encryption.
//
// Pages copied from another writer keep referring to its data until this
// writer has been written: the source must live that long.
class PdfWriter {
public:
    enum class OpenStatus { Opened, Unreadable, Locked };

    PdfWriter();
    // Opens the PDF at `path` for editing, unlocked with `password` (an empty
    // user password is tried when it fails). Null when the file is not a
    // readable PDF or stays locked; `status` says which.
    static std::unique_ptr<PdfWriter> Open(const std::filesystem::path& path, const std::string& password = {},
                                           OpenStatus* status = nullptr);
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

    // The same at page `index` (0-based; the end when beyond it), on fixed
    // paper when `frame` is given.
    bool insertImagePage(std::size_t index, const ImageRef& image, double dpiX, double dpiY,
                         const PdfPageFrame* frame = nullptr);
    bool insertJpegPage(std::size_t index, std::span<const std::uint8_t> jpeg, int width, int height, int components,
                        double dpiX, double dpiY, const PdfPageFrame* frame = nullptr);

    // Copies page `sourceIndex` of `source` to page `index` of this document
    // (the end when beyond it), with its form fields, which join this
    // document's form (renamed where their names clash). False when either
    // page does not exist. A page of a source whose attachments stayed
    // locked loses its file-attachment annotations.
    bool insertPage(const PdfWriter& source, std::size_t sourceIndex, std::size_t index);
    bool removePage(std::size_t index);

    // Whether the opened file was encrypted, and whether it lets its reader
    // print (always true for an unencrypted file or with the owner password).
    bool isEncrypted() const { return encrypted_; }
    bool allowsPrinting() const { return allowsPrinting_; }

    // The page's rotation in degrees as stored (a multiple of 90, possibly
    // negative); 0 for a missing page. Setting accepts multiples of 90 only.
    int pageRotation(std::size_t index) const;
    bool setPageRotation(std::size_t index, int degrees);
    // The crop box (the media box when there is none); empty for a missing page.
    PdfBox pageCropBox(std::size_t index) const;

    // The outline as stored (destinations given as page indices); replaced by
    // setOutline when the document is written.
    std::vector<PdfOutlineItem> outline() const;
    void setOutline(std::vector<PdfOutlineItem> items);

    std::size_t pageCount() const { return pages_; }
    // The finished document; empty on failure, without pages, or for an
    // opened document whose attachments it could not decrypt (writing it
    // would spoil them).
    std::vector<std::uint8_t> data(const PdfWriteOptions& options = {});
    // Writes the document atomically; false (and no file) on failure.
    bool write(const std::filesystem::path& path,
               const std::optional<FileAttributes>& attributes = std::nullopt,
               const PdfWriteOptions& options = {});

private:
    bool addPage(std::size_t index, int width, int height, double dpiX, double dpiY, void* imageObject,
                 const PdfPageFrame* frame);

    struct State;
    std::unique_ptr<State> state_;
    std::string title_;
    std::string creator_;
    std::size_t pages_ = 0;
    bool opened_ = false;
    bool encrypted_ = false;
    bool allowsPrinting_ = true;
    bool outlineSet_ = false;
    std::vector<PdfOutlineItem> outline_;
};

}  // namespace plat
