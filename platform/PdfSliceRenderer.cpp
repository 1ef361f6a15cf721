#include "platform/PdfSliceRenderer.h"

#include "platform/Image.h"

#include <algorithm>
#include <cstdint>

#include <GfxState.h>
#include <OutputDev.h>
#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <Stream.h>
#include <goo/GooString.h>
#include <splash/SplashBitmap.h>

namespace plat {

static_assert(kMaxPdfImageSamplesPerSlice == Image::kMaxPixels * 4, "a few times the largest image");

// poppler's Splash device, refusing images before they are read: each one
// is counted against the slice's budget, and an image larger than the
// engine's limit or beyond what is left is not drawn and fails the slice.
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
        if (Admit(width, height)) {
            SplashOutputDev::drawImage(state, ref, str, width, height, colorMap, interpolate, maskColors, inlineImg);
        }
    }
    void drawMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                         bool interpolate, Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert,
                         bool maskInterpolate) override {
        if (Admit(width, height) && Admit(maskWidth, maskHeight)) {
            SplashOutputDev::drawMaskedImage(state, ref, str, width, height, colorMap, interpolate, maskStr, maskWidth,
                                             maskHeight, maskInvert, maskInterpolate);
        }
    }
    void drawSoftMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                             GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr, int maskWidth,
                             int maskHeight, GfxImageColorMap* maskColorMap, bool maskInterpolate) override {
        if (Admit(width, height) && Admit(maskWidth, maskHeight)) {
            SplashOutputDev::drawSoftMaskedImage(state, ref, str, width, height, colorMap, interpolate, maskStr,
                                                 maskWidth, maskHeight, maskColorMap, maskInterpolate);
        }
    }

private:
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
// pixels its images cover (their bounding boxes on the page). Fills,
// shadings and text cost nothing here; the base class skips the data of
// inline images.
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
        Count(state);
        OutputDev::drawImage(state, ref, str, width, height, colorMap, interpolate, maskColors, inlineImg);
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

double PdfSliceRenderer::ImagePixels(double dpi) {
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
