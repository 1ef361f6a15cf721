#include "platform/PdfSliceRenderer.h"

#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <Stream.h>
#include <goo/GooString.h>
#include <splash/SplashBitmap.h>

namespace plat {

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
        renderer->device_ = std::make_unique<SplashOutputDev>(gray ? splashModeMono8 : splashModeRGB8, 4, false, paper,
                                                              true, splashThinLineDefault);
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
        document_->displayPageSlice(device_.get(), pageNumber_, dpi, dpi, 0, false, true, false, 0, top, width, rows);
    } catch (...) {
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

const std::uint8_t* PdfSliceRenderer::Row(int row) const { return rows_ + stride_ * row; }

}  // namespace plat
