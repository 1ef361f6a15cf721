#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class PDFDoc;

namespace plat {

class BoundedSplashOutputDev;

// Image samples one slice may decode, all images together: a few times the
// largest image the engine takes. A page that asks for more (a tiny file can
// declare an image of 60000 × 2147483647 samples, which poppler would scale
// for minutes) fails instead of running on.
inline constexpr std::uint64_t kMaxPdfImageSamplesPerSlice = std::uint64_t(1) << 30;

// Renders horizontal slices of one PDF page with poppler's Splash device,
// keeping the device from one slice to the next: its fonts, glyph cache and
// bitmap are set up once per page instead of once per slice, and the rows
// are read where poppler drew them, without a copy.
//
// poppler's global parameters must exist for the renderer's whole life;
// they do while any poppler::document is open (PdfDocument holds one).
// One renderer must not be used from two threads at once.
class PdfSliceRenderer {
public:
    ~PdfSliceRenderer();
    PdfSliceRenderer(const PdfSliceRenderer&) = delete;
    PdfSliceRenderer& operator=(const PdfSliceRenderer&) = delete;

    // A renderer for page `pageNumber` (from 1) of the PDF `bytes`, in
    // 8-bit grey or RGB on white. Null when the bytes do not open with
    // `password` or the page does not exist.
    static std::unique_ptr<PdfSliceRenderer> Create(std::shared_ptr<const std::vector<char>> bytes,
                                                    const std::string& password, int pageNumber, bool gray);

    // Renders rows `top` to `top + rows` of the page at `dpi`, `width`
    // pixels wide, with the page's rotation applied. The rows stay
    // readable through Row() until the next call. False when poppler
    // renders nothing of that size, or when the slice's images ask for more
    // samples than the engine takes (checked before any is read).
    bool Render(double dpi, int top, int width, int rows);

    // Device pixels at `dpi` covered by the page's images that every slice
    // draws whole (rotated or skewed ones, inline ones, masks; each image's
    // bounding box on the page, added up), from a walk of its contents that
    // draws and decodes nothing. 0 when the walk fails.
    double ImagePixelsDrawnWhole(double dpi);

    // Row `row` of the last slice rendered (from its top), Channels() bytes
    // per pixel.
    const std::uint8_t* Row(int row) const;
    int Channels() const { return gray_ ? 1 : 3; }

private:
    PdfSliceRenderer() = default;

    std::shared_ptr<const std::vector<char>> bytes_;  // read in place by document_
    std::unique_ptr<PDFDoc> document_;
    std::unique_ptr<BoundedSplashOutputDev> device_;
    int pageNumber_ = 0;
    bool gray_ = false;
    const std::uint8_t* rows_ = nullptr;
    std::ptrdiff_t stride_ = 0;
};

}  // namespace plat
