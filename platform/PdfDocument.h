#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/ImageRef.h"

namespace poppler {
class document;
}

namespace plat {

class PdfObjectFile;

// A rectangle in PDF user space (points, y up, origin at the lower left).
struct PdfBox {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    bool IsEmpty() const { return !(width > 0.0) || !(height > 0.0); }
    friend bool operator==(const PdfBox&, const PdfBox&) = default;
};

// The geometry of one page as stored, before its rotation is applied.
struct PdfPageInfo {
    PdfBox mediaBox;
    PdfBox cropBox;  // clipped to the media box
    int rotation = 0;  // 0, 90, 180 or 270, clockwise
};

enum class PdfPixelFormat {
    Gray,  // 1 byte per pixel
    Rgb,   // 3 bytes per pixel: red, green, blue (sRGB)
    // 4 bytes per pixel: cyan, magenta, yellow, black. poppler renders no
    // CMYK, so the page is rendered in sRGB and converted through the
    // built-in CMYK profile.
    Cmyk,
};

// A rendered page: rows top-down, tightly packed.
struct PdfPageBitmap {
    int width = 0;
    int height = 0;
    int channels = 0;
    PdfPixelFormat format = PdfPixelFormat::Rgb;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> iccProfile;  // the CMYK profile of a CMYK page

    std::size_t Stride() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(channels); }
};

// An image with the bitmap's pixels (and profile). Null when it is empty.
ImageRef CreateImageFromPdfPageBitmap(const PdfPageBitmap& bitmap);

// A PDF document opened for reading and rendering.
//
// One object must not be used from two threads at once; a worker thread takes
// its own copy with Reopen(), which shares the file's bytes read-only.
class PdfDocument {
public:
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    // Opens the file at `path`. A document that needs a password opens
    // locked (IsLocked) unless `password` unlocks it. Null when the file
    // cannot be read or is not a PDF.
    static std::unique_ptr<PdfDocument> Open(const std::string& path, const std::string& password = {});
    static std::unique_ptr<PdfDocument> OpenData(std::vector<char> bytes, const std::string& password = {});

    // A copy of the PDF `bytes` in which every page shows exactly its
    // visible box (the crop box, or the media box when the crop box is
    // empty) upright: rotation applied to the contents, other boxes and
    // annotations dropped. Empty when the PDF cannot be opened (or unlocked
    // with `password`) or has no pages.
    static std::vector<std::uint8_t> CreateNormalizedData(std::span<const std::uint8_t> bytes,
                                                          const std::string& password = {});

    // Another document over the same bytes and with the same password, for
    // use on another thread. Null when it cannot be opened.
    std::unique_ptr<PdfDocument> Reopen() const;

    // True when the file carries any encryption, also one that only limits
    // permissions (an owner password alone).
    bool IsEncrypted() const;
    // True while the contents cannot be read without a (user) password.
    bool IsLocked() const;
    // Tries `password` as owner and as user password. True when the document
    // is readable afterwards.
    bool Unlock(const std::string& password);

    // The same bytes opened at the object level with the password that
    // opened or unlocked this document. Null when they do not open.
    std::unique_ptr<PdfObjectFile> OpenObjects() const;

    // 0 while locked. Pages are those poppler finds in the page tree, which
    // may list a page twice or count pages it lacks (GetPageInfo then fails).
    int GetPageCount() const;

    // True when running the page's contents stays within the file's work
    // budget (PdfObjectFile::IsPageContentWithinBudget), measured on the
    // object poppler takes for the page; `imageSamples`, when given,
    // receives the samples of the images the page draws. A page poppler
    // lacks runs nothing and is within. False while locked, and for every
    // page of a file that the object layer refuses (a page tree nested
    // deeper than kMaxPdfPageTreeDepth). Text and rendering check it
    // themselves.
    bool IsPageWithinBudget(int pageNumber, std::uint64_t* imageSamples = nullptr) const;

    // Pages are numbered from 1. False when the page does not exist.
    bool GetPageInfo(int pageNumber, PdfPageInfo& info) const;

    // The text of a page in reading order, UTF-8, lines separated by "\n".
    // Empty for a missing page, a page beyond the work budget or a page
    // without text.
    std::string GetPageText(int pageNumber) const;

    // Renders the visible area of a page (its crop box, or its media box when
    // the crop box is empty) with the page's rotation applied, at `scale`
    // pixels per point, into exactly `width` x `height` pixels on white.
    // False when the page does not exist, the size is not positive, the page
    // is beyond the work budget or its images together ask for more samples
    // than a slice takes (kMaxPdfImageSamplesPerSlice), or poppler cannot
    // render it.
    bool RenderPage(int pageNumber, double scale, int width, int height, PdfPixelFormat format,
                    PdfPageBitmap& out) const;

    // The same page as an image whose rows poppler renders band by band as
    // they are read (by an encoder writing the image out), so that a page
    // never needs a buffer of its whole size. The image keeps its own copy
    // of the document and does not depend on this object. Null when the page
    // does not exist, the size is not positive or the page fails the checks
    // of RenderPage. `bandRows`, when given, receives the rows of one band:
    // those of RenderBandRows, or the whole page where images that every
    // band draws whole cover more than a band (see there).
    ImageRef RenderPageImage(int pageNumber, double scale, int width, int height, PdfPixelFormat format,
                             int* bandRows = nullptr) const;

    // Rows of one band of RenderPageImage for a page of `width` x `height`:
    // the page cut into as few equal bands as keep each within
    // kRenderBandPixels, and never fewer than kRenderBandRows rows. Each
    // band runs the page's contents through poppler again, clipped to the
    // band: text and shapes are walked again, and an image is read up to the
    // band's last row, then scaled for the rows the band shows. Two bands of
    // a page are held at once (one read, the next rendered). At 600 dpi,
    // bands of 4 million pixels held pages of text, of mixed text and photos
    // and of full-page photos in about 30% less memory than bands of 8
    // million, in the same time or less.
    // Images that poppler must scale whole for every band make a page render
    // in one (RenderPageImage).
    static constexpr int kRenderBandRows = 512;
    static constexpr double kRenderBandPixels = 4e6;
    static int RenderBandRows(int width, int height);

private:
    PdfDocument() = default;
    static std::unique_ptr<PdfDocument> OpenShared(std::shared_ptr<const std::vector<char>> bytes,
                                                   const std::string& password);
    // The bytes of the file with the crop box of `pageNumber` removed, so
    // that poppler renders its media box.
    std::unique_ptr<PdfDocument> ReopenWithoutCropBox(int pageNumber) const;

    // Whether the page's contents may be run: within the budget, and its
    // images within what a slice takes.
    bool MayRenderPage(int pageNumber) const;

    std::shared_ptr<const std::vector<char>> bytes_;
    std::string password_;
    std::unique_ptr<poppler::document> document_;
    bool encrypted_ = false;
    // The budget of the file, shared with the documents Reopen makes.
    // Declared after document_, so that it goes first (it holds a poppler
    // document of its own, which needs poppler's global parameters).
    struct ContentGuard;
    std::shared_ptr<ContentGuard> guard_;
    // The pages were measured in the document this one was made from.
    bool measured_ = false;
};

}  // namespace plat
