#include "platform/PdfSliceRenderer.h"

#include "platform/Image.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <optional>

#include <GfxState.h>
#include <OutputDev.h>
#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <Stream.h>
#include <goo/GooString.h>
#include <splash/SplashBitmap.h>

namespace plat {

static_assert(kMaxPdfImageSamplesPerSlice == Image::kMaxPixels * 4, "a few times the largest image");

namespace {

// Rows [first, last) of an image.
struct RowSpan {
    int first = 0;
    int last = 0;
};

// An image that is neither rotated nor skewed on the device and whose data
// is a stream of its own (an inline image's data must be read to its end
// inside the content) can be drawn from some of its rows only. A masked
// image also needs a mask of its own size, which is cut alike (poppler
// scales a mask of another size to the image's).
bool MayDrawRowsOnly(const GfxState* state, bool inlineImg) {
    const double* m = state->getCTM();
    for (int i = 0; i < 6; ++i) {
        if (!std::isfinite(m[i])) return false;
    }
    return !inlineImg && m[1] == 0.0 && m[2] == 0.0 && m[0] != 0.0 && m[3] != 0.0;
}

// Rows of an image of `height` rows that reach device rows [top, bottom),
// with a margin of a few rows on either side so that the rows drawn are
// scaled with their neighbours. The image sits in the unit square, its
// first row at the top (y = 1).
RowSpan RowsReaching(const GfxState* state, int height, double top, double bottom) {
    const double* m = state->getCTM();
    const auto row = [&](double y) { return height * (1.0 - (y - m[5]) / m[3]); };
    constexpr double kDeviceMargin = 2.0;
    constexpr int kRowMargin = 2;
    const double a = row(top - kDeviceMargin);
    const double b = row(bottom + kDeviceMargin);
    if (std::isnan(a) || std::isnan(b)) return {0, height};
    const double first = std::floor(std::min(a, b)) - kRowMargin;
    const double last = std::ceil(std::max(a, b)) + kRowMargin;
    RowSpan span;
    span.first = int(std::clamp(first, 0.0, double(height)));
    span.last = int(std::clamp(last, 0.0, double(height)));
    return span;
}

// The bytes of a run of rows of an image stream: reset skips to the first
// row, and reading ends after the last. The image's stream stays its
// owner's.
class RowWindowStream : public Stream {
public:
    RowWindowStream(Stream* inner, std::uint64_t skip, std::uint64_t length)
        : inner_(inner), skip_(skip), length_(length) {}

    StreamKind getKind() const override { return strWeird; }
    void reset() override {
        inner_->reset();
        std::uint64_t skip = skip_;
        while (skip > 0) {
            const unsigned int step = unsigned(std::min<std::uint64_t>(skip, 1u << 30));
            const unsigned int skipped = inner_->discardChars(step);
            skip -= skipped;
            if (skipped < step) break;
        }
        left_ = skip == 0 ? length_ : 0;
    }
    void close() override { inner_->close(); }
    int getChar() override {
        if (left_ == 0) return EOF;
        const int c = inner_->getChar();
        if (c == EOF) {
            left_ = 0;
        } else {
            --left_;
        }
        return c;
    }
    int lookChar() override { return left_ == 0 ? EOF : inner_->lookChar(); }
    int getUnfilteredChar() override { return inner_->getUnfilteredChar(); }
    void unfilteredReset() override { inner_->unfilteredReset(); }
    Goffset getPos() override { return inner_->getPos(); }
    void setPos(Goffset pos, int dir) override { inner_->setPos(pos, dir); }
    bool isBinary(bool last) const override { return inner_->isBinary(last); }
    BaseStream* getBaseStream() override { return inner_->getBaseStream(); }
    Stream* getUndecodedStream() override { return inner_->getUndecodedStream(); }
    Dict* getDict() override { return inner_->getDict(); }
    Object* getDictObject() override { return inner_->getDictObject(); }

private:
    bool hasGetChars() override { return true; }
    int getChars(int nChars, unsigned char* buffer) override {
        const int wanted = int(std::min<std::uint64_t>(std::uint64_t(std::max(nChars, 0)), left_));
        const int read = wanted > 0 ? inner_->doGetChars(wanted, buffer) : 0;
        left_ = read < wanted ? 0 : left_ - std::uint64_t(read);
        return read;
    }

    Stream* inner_;
    const std::uint64_t skip_;
    const std::uint64_t length_;
    std::uint64_t left_ = 0;
};

// Bytes of one row of image data: rows start on a byte.
std::uint64_t RowBytes(int width, int components, int bits) {
    return (std::uint64_t(std::max(width, 0)) * std::uint64_t(std::max(components, 0)) *
                std::uint64_t(std::max(bits, 0)) + 7) / 8;
}

}  // namespace

// poppler's Splash device, refusing images before they are read: each one
// is counted against the slice's budget, and an image larger than the
// engine's limit or beyond what is left is not drawn and fails the slice.
//
// poppler scales an image to its whole size on the page before it cuts out
// what the slice shows, so that every slice of a page under a photograph
// would scale the whole photograph. Images that allow it are drawn from the
// rows the slice shows only (see MayDrawRowsOnly): their data is read up to
// the last of those rows, and what is scaled is about the slice's size.
class BoundedSplashOutputDev : public SplashOutputDev {
public:
    using SplashOutputDev::SplashOutputDev;

    void ResetBudget() {
        used_ = 0;
        refused_ = false;
    }
    bool Refused() const { return refused_; }

    void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert,
                       bool interpolate, bool inlineImg) override {
        if (Admit(width, height)) {
            SplashOutputDev::drawImageMask(state, ref, str, width, height, invert, interpolate, inlineImg);
        }
    }
    void setSoftMaskFromImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert,
                                  bool inlineImg, double* baseMatrix) override {
        // Refused, the mask is still set (empty): the matching unset finds it.
        if (!Admit(width, height)) width = height = 1;
        SplashOutputDev::setSoftMaskFromImageMask(state, ref, str, width, height, invert, inlineImg, baseMatrix);
    }
    void drawImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                   bool interpolate, const int* maskColors, bool inlineImg) override {
        if (!Admit(width, height)) return;
        const std::uint64_t rowBytes = RowBytes(width, colorMap->getNumPixelComps(), colorMap->getBits());
        DrawRows(state, MayDrawRowsOnly(state, inlineImg), height, {{str, rowBytes}}, [&](Stream* const* streams, int rows) {
            SplashOutputDev::drawImage(state, ref, streams[0], width, rows, colorMap, interpolate, maskColors,
                                       inlineImg);
        });
    }
    void drawMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                         bool interpolate, Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert,
                         bool maskInterpolate) override {
        if (!Admit(width, height) || !Admit(maskWidth, maskHeight)) return;
        const std::uint64_t rowBytes = RowBytes(width, colorMap->getNumPixelComps(), colorMap->getBits());
        const bool alike = maskWidth == width && maskHeight == height;
        DrawRows(state, alike && MayDrawRowsOnly(state, false), height, {{str, rowBytes}, {maskStr, RowBytes(maskWidth, 1, 1)}},
                 [&](Stream* const* streams, int rows) {
                     SplashOutputDev::drawMaskedImage(state, ref, streams[0], width, rows, colorMap, interpolate,
                                                      streams[1], maskWidth, alike ? rows : maskHeight, maskInvert,
                                                      maskInterpolate);
                 });
    }
    void drawSoftMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                             GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr, int maskWidth,
                             int maskHeight, GfxImageColorMap* maskColorMap, bool maskInterpolate) override {
        if (!Admit(width, height) || !Admit(maskWidth, maskHeight)) return;
        const std::uint64_t rowBytes = RowBytes(width, colorMap->getNumPixelComps(), colorMap->getBits());
        const std::uint64_t maskRowBytes =
            RowBytes(maskWidth, maskColorMap->getNumPixelComps(), maskColorMap->getBits());
        const bool alike = maskWidth == width && maskHeight == height;
        DrawRows(state, alike && MayDrawRowsOnly(state, false), height, {{str, rowBytes}, {maskStr, maskRowBytes}},
                 [&](Stream* const* streams, int rows) {
                     SplashOutputDev::drawSoftMaskedImage(state, ref, streams[0], width, rows, colorMap, interpolate,
                                                          streams[1], maskWidth, alike ? rows : maskHeight,
                                                          maskColorMap, maskInterpolate);
                 });
    }

private:
    struct Data {
        Stream* stream;
        std::uint64_t rowBytes;
    };

    // Calls `draw` with the image's streams (its data, and its mask's) and
    // the number of rows to draw: the image whole, or where `mayCut`, the
    // rows of it the slice shows, with the current matrix placing them where
    // they are in the whole image.
    template <typename Draw>
    void DrawRows(GfxState* state, bool mayCut, int height, std::initializer_list<Data> data, Draw draw) {
        Stream* whole[2] = {nullptr, nullptr};
        std::size_t count = 0;
        for (const Data& d : data) whole[count++] = d.stream;
        if (height <= 0 || !mayCut) {
            draw(whole, height);
            return;
        }
        double xMin = 0.0, yMin = 0.0, xMax = 0.0, yMax = 0.0;
        state->getClipBBox(&xMin, &yMin, &xMax, &yMax);
        const double top = std::max(0.0, yMin);
        const double bottom = std::min(double(getBitmapHeight()), yMax);
        const RowSpan span = RowsReaching(state, height, top, bottom);
        if (span.first == 0 && span.last == height) {
            draw(whole, height);
            return;
        }
        if (span.last <= span.first) return;  // nothing of it in the slice
        std::optional<RowWindowStream> windows[2];
        Stream* cut[2] = {nullptr, nullptr};
        count = 0;
        for (const Data& d : data) {
            windows[count].emplace(d.stream, d.rowBytes * std::uint64_t(span.first),
                                   d.rowBytes * std::uint64_t(span.last - span.first));
            cut[count] = &*windows[count];
            ++count;
        }
        const double* m = state->getCTM();
        const double saved[6] = {m[0], m[1], m[2], m[3], m[4], m[5]};
        const double k = double(span.last - span.first) / height;
        const double t = 1.0 - double(span.last) / height;
        state->setCTM(saved[0], saved[1], k * saved[2], k * saved[3], t * saved[2] + saved[4],
                      t * saved[3] + saved[5]);
        draw(cut, span.last - span.first);
        state->setCTM(saved[0], saved[1], saved[2], saved[3], saved[4], saved[5]);
    }

    bool Admit(int width, int height) {
        if (refused_) return false;
        const std::uint64_t samples =
            width > 0 && height > 0 ? std::uint64_t(width) * std::uint64_t(height) : 0;
        if (samples > Image::kMaxPixels || used_ + samples > kMaxPdfImageSamplesPerSlice) {
            refused_ = true;
            return false;
        }
        used_ += samples;
        return true;
    }

    std::uint64_t used_ = 0;
    bool refused_ = false;
};

namespace {

// Walks a page's contents without drawing anything and adds up the device
// pixels covered by the images that the device draws whole for every slice
// (their bounding boxes on the page). Fills, shadings, text and the images
// drawn from the slice's rows only cost nothing here; the base class skips
// the data of inline images.
class ImageSurvey : public OutputDev {
public:
    bool upsideDown() override { return true; }
    bool useDrawChar() override { return true; }
    bool interpretType3Chars() override { return false; }
    bool useTilingPatternFill() override { return true; }
    bool useShadedFills(int) override { return true; }
    bool tilingPatternFill(GfxState*, Gfx*, Catalog*, GfxTilingPattern*, const double*, int, int, int, int, double,
                           double) override {
        return true;
    }
    bool functionShadedFill(GfxState*, GfxFunctionShading*) override { return true; }
    bool axialShadedFill(GfxState*, GfxAxialShading*, double, double) override { return true; }
    bool radialShadedFill(GfxState*, GfxRadialShading*, double, double) override { return true; }
    bool gouraudTriangleShadedFill(GfxState*, GfxGouraudTriangleShading*) override { return true; }
    bool patchMeshShadedFill(GfxState*, GfxPatchMeshShading*) override { return true; }

    void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert,
                       bool interpolate, bool inlineImg) override {
        Count(state);
        OutputDev::drawImageMask(state, ref, str, width, height, invert, interpolate, inlineImg);
    }
    void drawImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                   bool interpolate, const int* maskColors, bool inlineImg) override {
        if (!MayDrawRowsOnly(state, inlineImg)) Count(state);
        OutputDev::drawImage(state, ref, str, width, height, colorMap, interpolate, maskColors, inlineImg);
    }
    void drawMaskedImage(GfxState* state, Object*, Stream*, int width, int height, GfxImageColorMap*, bool,
                         Stream*, int maskWidth, int maskHeight, bool, bool) override {
        if (maskWidth != width || maskHeight != height || !MayDrawRowsOnly(state, false)) Count(state);
    }
    void drawSoftMaskedImage(GfxState* state, Object*, Stream*, int width, int height, GfxImageColorMap*, bool,
                             Stream*, int maskWidth, int maskHeight, GfxImageColorMap*, bool) override {
        if (maskWidth != width || maskHeight != height || !MayDrawRowsOnly(state, false)) Count(state);
    }

    double pixels = 0.0;

private:
    // The unit square through the current matrix, cut to the page.
    void Count(GfxState* state) {
        const double* m = state->getCTM();
        const double xs[4] = {m[4], m[4] + m[0], m[4] + m[2], m[4] + m[0] + m[2]};
        const double ys[4] = {m[5], m[5] + m[1], m[5] + m[3], m[5] + m[1] + m[3]};
        const double x0 = std::max(0.0, *std::min_element(xs, xs + 4));
        const double x1 = std::min(state->getPageWidth(), *std::max_element(xs, xs + 4));
        const double y0 = std::max(0.0, *std::min_element(ys, ys + 4));
        const double y1 = std::min(state->getPageHeight(), *std::max_element(ys, ys + 4));
        if (x1 > x0 && y1 > y0) pixels += (x1 - x0) * (y1 - y0);
    }
};

}  // namespace

PdfSliceRenderer::~PdfSliceRenderer() {
    // The device refers to the document's fonts and cross references.
    device_.reset();
    document_.reset();
}

std::unique_ptr<PdfSliceRenderer> PdfSliceRenderer::Create(std::shared_ptr<const std::vector<char>> bytes,
                                                           const std::string& password, int pageNumber, bool gray) {
    if (!bytes || bytes->empty() || pageNumber < 1) {
        return nullptr;
    }
    std::unique_ptr<PdfSliceRenderer> renderer(new PdfSliceRenderer());
    renderer->bytes_ = std::move(bytes);
    renderer->pageNumber_ = pageNumber;
    renderer->gray_ = gray;
    try {
        // The stream reads the shared bytes in place and is owned by the document.
        auto* stream = new MemStream(renderer->bytes_->data(), 0, static_cast<Goffset>(renderer->bytes_->size()),
                                     Object(objNull));
        if (password.empty()) {
            renderer->document_ = std::make_unique<PDFDoc>(stream);
        } else {
            const std::optional<GooString> given(password);
            renderer->document_ = std::make_unique<PDFDoc>(stream, given, given);
        }
        if (!renderer->document_->isOk() || pageNumber > renderer->document_->getNumPages()) {
            return nullptr;
        }
        // White paper; the same hints as whole-page rendering: anti-aliased
        // shapes and text, no font hinting.
        SplashColor paper;
        paper[0] = paper[1] = paper[2] = 0xff;
        paper[3] = 0;
        renderer->device_ = std::make_unique<BoundedSplashOutputDev>(gray ? splashModeMono8 : splashModeRGB8, 4, false,
                                                                     paper, true, splashThinLineDefault);
        renderer->device_->setFontAntialias(true);
        renderer->device_->setVectorAntialias(true);
        renderer->device_->setFreeTypeHinting(false, false);
        renderer->device_->startDoc(renderer->document_.get());
    } catch (...) {
        return nullptr;
    }
    return renderer;
}

bool PdfSliceRenderer::Render(double dpi, int top, int width, int rows) {
    rows_ = nullptr;
    stride_ = 0;
    if (width <= 0 || rows <= 0 || top < 0) {
        return false;
    }
    try {
        device_->ResetBudget();
        document_->displayPageSlice(device_.get(), pageNumber_, dpi, dpi, 0, false, true, false, 0, top, width, rows);
    } catch (...) {
        return false;
    }
    if (device_->Refused()) {
        return false;
    }
    SplashBitmap* bitmap = device_->getBitmap();
    const SplashColorMode expected = gray_ ? splashModeMono8 : splashModeRGB8;
    if (!bitmap || bitmap->getWidth() != width || bitmap->getHeight() != rows || bitmap->getMode() != expected ||
        bitmap->getRowSize() < width * Channels() || !bitmap->getDataPtr()) {
        return false;
    }
    rows_ = bitmap->getDataPtr();
    stride_ = bitmap->getRowSize();
    return true;
}

double PdfSliceRenderer::ImagePixelsDrawnWhole(double dpi) {
    try {
        ImageSurvey survey;
        document_->displayPage(&survey, pageNumber_, dpi, dpi, 0, false, true, false);
        return survey.pixels;
    } catch (...) {
        return 0.0;
    }
}

const std::uint8_t* PdfSliceRenderer::Row(int row) const { return rows_ + stride_ * row; }

}  // namespace plat
