#include "platform/PdfDocument.h"

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <mutex>
#include <stdexcept>

#include <vips/vips8>

#include "platform/DecodeWatch.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/Initialize.h"
#include "platform/PdfObject.h"
#include "platform/PdfSliceRenderer.h"
#include "platform/PopplerMessages.h"
#include "platform/QpdfInput.h"

#include <Catalog.h>
#include <PDFDoc.h>
#include <Stream.h>
#include <goo/GooString.h>
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

namespace plat {

namespace {

// Largest bitmap a page may render into; guards against absurd scales.
constexpr std::size_t kMaxRenderPixels = std::size_t{1} << 28;

bool ReadWholeFile(const std::string& path, std::vector<char>& bytes) {
    // FileManager reads regular files only, so a FIFO or device never blocks.
    const auto contents =
        FileManager::contentsOfFile(path, std::uint64_t(std::numeric_limits<int>::max()));
    if (!contents || contents->empty()) return false;
    bytes.assign(contents->begin(), contents->end());
    return true;
}

PdfBox ToBox(const poppler::rectf& r) {
    PdfBox box;
    box.x = r.x();
    box.y = r.y();
    box.width = r.width();
    box.height = r.height();
    return box;
}

int RotationDegrees(poppler::page::orientation_enum orientation) {
    switch (orientation) {
        case poppler::page::landscape: return 90;
        case poppler::page::upside_down: return 180;
        case poppler::page::seascape: return 270;
        case poppler::page::portrait: break;
    }
    return 0;
}

bool ConvertBitmapToCmyk(PdfPageBitmap& bitmap) {
    Initialize();
    try {
        vips::VImage rgb = vips::VImage::new_from_memory(bitmap.pixels.data(), bitmap.pixels.size(), bitmap.width,
                                                         bitmap.height, 3, VIPS_FORMAT_UCHAR)
                               .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        vips::VImage cmyk = rgb.icc_transform("cmyk", vips::VImage::option()
                                                          ->set("input_profile", "srgb")
                                                          ->set("embedded", false)
                                                          ->set("intent", VIPS_INTENT_RELATIVE));
        if (cmyk.bands() != 4 || cmyk.format() != VIPS_FORMAT_UCHAR) {
            return false;
        }
        std::size_t size = 0;
        void* memory = cmyk.write_to_memory(&size);
        if (!memory) {
            return false;
        }
        const auto* begin = static_cast<const std::uint8_t*>(memory);
        std::vector<std::uint8_t> pixels(begin, begin + size);
        g_free(memory);
        if (cmyk.get_typeof(VIPS_META_ICC_NAME) != 0) {
            std::size_t length = 0;
            const void* profile = cmyk.get_blob(VIPS_META_ICC_NAME, &length);
            const auto* bytes = static_cast<const std::uint8_t*>(profile);
            bitmap.iccProfile.assign(bytes, bytes + length);
        }
        bitmap.pixels = std::move(pixels);
        bitmap.channels = 4;
        bitmap.format = PdfPixelFormat::Cmyk;
        return bitmap.pixels.size() == bitmap.Stride() * static_cast<std::size_t>(bitmap.height);
    } catch (const vips::VError&) {
        return false;
    }
}

// The state behind an image of RenderPageImage: its own document, and two
// bands, each drawn by a slice renderer that keeps its bitmap and fonts.
// While the encoder reads one band, the next is rendered on a thread of its
// own, so that a page's drawing and encoding overlap and the last pages of
// a document do not leave cores idle. A band's place is taken only once
// every row of it has been read: the encoder's threads read several hundred
// rows around the same place, and would otherwise make a band be drawn twice.
struct PageBands {
    // Keeps poppler's global parameters alive for the renderers, and the
    // page's bytes (with its crop box dropped where it was empty).
    std::unique_ptr<PdfDocument> document;
    std::shared_ptr<const std::vector<char>> bytes;
    std::string password;
    int pageNumber = 0;
    double dpi = 72.0;
    int width = 0;
    int height = 0;
    int bandRows = PdfDocument::kRenderBandRows;
    bool gray = false;
    std::mutex mutex;
    std::vector<std::int64_t> pixelsRead;  // by band
    int nextBand = 0;           // the first band not yet rendered
    struct Band {
        int index = -1;  // -1: free
        std::unique_ptr<PdfSliceRenderer> renderer;
        // A rendering running ahead; the band is not touched until it ends.
        std::future<bool> ahead;
    };
    // Declared after what the renderings ahead read, so that they are
    // waited for before it goes.
    Band bands[2];

    int Channels() const { return gray ? 1 : 3; }
    int Bands() const { return (height + bandRows - 1) / bandRows; }
    int RowsOf(int index) const { return std::min(bandRows, height - index * bandRows); }

    bool Render(Band& band, int index) {
        try {
            if (!band.renderer) {
                band.renderer = PdfSliceRenderer::Create(bytes, password, pageNumber, gray);
                if (!band.renderer) return false;
            }
            return band.renderer->Render(dpi, index * bandRows, width, RowsOf(index));
        } catch (...) {
            return false;
        }
    }

    // Waits for a rendering ahead into `band`; false when it failed.
    static bool Settle(Band& band) {
        if (!band.ahead.valid()) return true;
        if (band.ahead.get()) return true;
        band.index = -1;
        return false;
    }

    // The band holding row `index * bandRows`, rendered when needed: in a
    // free place, or else in place of the band nearer the top.
    const Band* Get(int index) {
        for (Band& band : bands) {
            if (band.index == index) return Settle(band) ? &band : nullptr;
        }
        Band& band = bands[0].index < 0 ? bands[0]
                     : bands[1].index < 0 ? bands[1]
                     : bands[0].index < bands[1].index ? bands[0]
                                                        : bands[1];
        Settle(band);
        band.index = -1;
        if (!Render(band, index)) return nullptr;
        band.index = index;
        nextBand = std::max(nextBand, index + 1);
        RenderAhead();
        return &band;
    }

    // Counts `pixels` of a row of band `index` as read (a region may be
    // narrower than the page); a band read whole gives its place to the next.
    void Read(int index, int pixels) {
        if (pixelsRead.empty()) pixelsRead.assign(std::size_t(Bands()), 0);
        std::int64_t& read = pixelsRead[std::size_t(index)];
        const std::int64_t whole = std::int64_t(RowsOf(index)) * width;
        if (read >= whole || (read += pixels) < whole) return;
        for (Band& band : bands) {
            if (band.index == index && !band.ahead.valid()) band.index = -1;
        }
        RenderAhead();
    }

    // Starts rendering the next band in a free place, if there is one.
    void RenderAhead() {
        if (nextBand >= Bands()) return;
        for (Band& band : bands) {
            if (band.index >= 0) continue;
            const int index = nextBand++;
            band.index = index;
            band.ahead = std::async(std::launch::async, [this, &band, index] { return Render(band, index); });
            return;
        }
    }
};

int GeneratePageRows(VipsRegion* out, void*, void* a, void*, gboolean*) {
    auto* bands = static_cast<PageBands*>(a);
    const VipsRect& r = out->valid;
    const std::size_t length = static_cast<std::size_t>(r.width) * static_cast<std::size_t>(bands->Channels());
    std::lock_guard<std::mutex> lock(bands->mutex);
    try {
        for (int y = r.top; y < r.top + r.height; ++y) {
            const int index = y / bands->bandRows;
            const PageBands::Band* band = bands->Get(index);
            if (!band) {
                vips_error("pdf", "%s", "cannot render the page");
                return -1;
            }
            const int row = y - index * bands->bandRows;
            const std::uint8_t* source = band->renderer->Row(row) +
                                         static_cast<std::size_t>(r.left) * static_cast<std::size_t>(bands->Channels());
            std::memcpy(VIPS_REGION_ADDR(out, r.left, y), source, length);
            bands->Read(index, r.width);
        }
    } catch (...) {
        vips_error("pdf", "%s", "cannot render the page");
        return -1;
    }
    return 0;
}

}  // namespace

ImageRef CreateImageFromPdfPageBitmap(const PdfPageBitmap& bitmap) {
    if (bitmap.width <= 0 || bitmap.height <= 0 ||
        bitmap.pixels.size() != bitmap.Stride() * static_cast<std::size_t>(bitmap.height)) {
        return nullptr;
    }
    Initialize();
    try {
        VipsInterpretation interpretation = VIPS_INTERPRETATION_sRGB;
        if (bitmap.format == PdfPixelFormat::Gray) {
            interpretation = VIPS_INTERPRETATION_B_W;
        } else if (bitmap.format == PdfPixelFormat::Cmyk) {
            interpretation = VIPS_INTERPRETATION_CMYK;
        }
        VipsImage* copied = vips_image_new_from_memory_copy(bitmap.pixels.data(), bitmap.pixels.size(), bitmap.width,
                                                            bitmap.height, bitmap.channels, VIPS_FORMAT_UCHAR);
        if (!copied) {
            vips_error_clear();
            return nullptr;
        }
        vips::VImage image =
            vips::VImage(copied).copy(vips::VImage::option()->set("interpretation", interpretation));
        if (!bitmap.iccProfile.empty()) {
            vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, bitmap.iccProfile.data(),
                                     bitmap.iccProfile.size());
        }
        return Image::Create(std::move(image));
    } catch (const vips::VError&) {
        return nullptr;
    }
}

// The object layer of the file, which measures the work of its pages, and a
// poppler document of its own that says which object poppler takes for each
// page: the two readers then agree on the pages, however the page tree
// lists them (a subtree listed twice, loops, nodes without kids).
struct PdfDocument::ContentGuard {
    std::mutex mutex;
    std::unique_ptr<PdfObjectFile> objects;
    std::unique_ptr<PDFDoc> pages;

    // Null when either reader refuses the bytes (the object layer refuses
    // page trees nested deeper than kMaxPdfPageTreeDepth).
    static std::shared_ptr<ContentGuard> Make(const std::shared_ptr<const std::vector<char>>& bytes,
                                              const std::string& password) {
        auto guard = std::make_shared<ContentGuard>();
        guard->objects = PdfObjectFile::OpenData(bytes, password);
        if (!guard->objects) return nullptr;
        try {
            auto* stream = new MemStream(bytes->data(), 0, static_cast<Goffset>(bytes->size()), Object(objNull));
            if (password.empty()) {
                guard->pages = std::make_unique<PDFDoc>(stream);
            } else {
                const std::optional<GooString> given(password);
                guard->pages = std::make_unique<PDFDoc>(stream, given, given);
            }
        } catch (...) {
            return nullptr;
        }
        return guard->pages->isOk() ? guard : nullptr;
    }
};

PdfDocument::~PdfDocument() = default;

std::unique_ptr<PdfDocument> PdfDocument::Open(const std::string& path, const std::string& password) {
    std::vector<char> bytes;
    if (!ReadWholeFile(path, bytes)) {
        return nullptr;
    }
    return OpenData(std::move(bytes), password);
}

std::unique_ptr<PdfDocument> PdfDocument::OpenData(std::vector<char> bytes, const std::string& password) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return nullptr;
    }
    return OpenShared(std::make_shared<const std::vector<char>>(std::move(bytes)), password);
}

namespace {

// poppler reads the bytes in place: the caller keeps them alive as long as
// the document. A wrong password makes poppler refuse outright; the
// document exists all the same, locked. Null when it is no PDF.
std::unique_ptr<poppler::document> LoadPopplerDocument(const std::vector<char>& bytes, const std::string& password) {
    try {
        std::unique_ptr<poppler::document> document(poppler::document::load_from_raw_data(
            bytes.data(), static_cast<int>(bytes.size()), password, password));
        if (!document) {
            document.reset(poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
        }
        return document;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

std::unique_ptr<PdfDocument> PdfDocument::OpenShared(std::shared_ptr<const std::vector<char>> bytes,
                                                     const std::string& password) {
    SilencePopplerMessages();
    std::unique_ptr<PdfDocument> doc(new PdfDocument());
    doc->bytes_ = std::move(bytes);
    doc->document_ = LoadPopplerDocument(*doc->bytes_, password);
    if (!doc->document_) {
        return nullptr;
    }
    if (doc->document_->is_locked()) {
        doc->encrypted_ = true;
    } else {
        doc->password_ = password;
        doc->encrypted_ = doc->document_->is_encrypted();
        // Before poppler walks the page tree.
        doc->guard_ = ContentGuard::Make(doc->bytes_, password);
        if (!doc->guard_) return nullptr;
    }
    return doc;
}

std::unique_ptr<PdfDocument> PdfDocument::Reopen() const {
    SilencePopplerMessages();
    std::unique_ptr<PdfDocument> doc(new PdfDocument());
    doc->bytes_ = bytes_;
    doc->document_ = LoadPopplerDocument(*doc->bytes_, password_);
    if (!doc->document_ || doc->document_->is_locked() != IsLocked()) {
        return nullptr;
    }
    doc->password_ = password_;
    doc->encrypted_ = encrypted_;
    doc->guard_ = guard_;
    doc->measured_ = measured_;
    return doc;
}

bool PdfDocument::IsEncrypted() const { return encrypted_; }

bool PdfDocument::IsLocked() const { return document_->is_locked(); }

bool PdfDocument::Unlock(const std::string& password) {
    if (!document_->is_locked()) {
        return true;
    }
    try {
        // poppler answers whether the document is still locked.
        if (document_->unlock(password, password)) {
            return false;
        }
    } catch (...) {
        return false;
    }
    password_ = password;
    if (document_->is_locked()) return false;
    guard_ = ContentGuard::Make(bytes_, password_);
    return true;
}

std::unique_ptr<PdfObjectFile> PdfDocument::OpenObjects() const { return PdfObjectFile::OpenData(bytes_, password_); }

int PdfDocument::GetPageCount() const {
    // A locked poppler document has no catalogue to ask.
    if (document_->is_locked()) {
        return 0;
    }
    return std::max(0, document_->pages());
}

bool PdfDocument::IsPageWithinBudget(int pageNumber, std::uint64_t* imageSamples) const {
    if (imageSamples) *imageSamples = 0;
    if (measured_) return true;
    if (!guard_ || pageNumber < 1 || pageNumber > GetPageCount()) return false;
    std::lock_guard<std::mutex> lock(guard_->mutex);
    try {
        const Ref* ref = guard_->pages->getCatalog()->getPageRef(pageNumber);
        if (!ref) return true;
        return guard_->objects->IsPageObjectContentWithinBudget(ref->num, ref->gen, imageSamples);
    } catch (...) {
        return false;
    }
}

bool PdfDocument::MayRenderPage(int pageNumber) const {
    std::uint64_t samples = 0;
    return IsPageWithinBudget(pageNumber, &samples) && samples <= kMaxPdfImageSamplesPerSlice;
}

bool PdfDocument::GetPageInfo(int pageNumber, PdfPageInfo& info) const {
    if (pageNumber < 1 || pageNumber > GetPageCount()) {
        return false;
    }
    std::unique_ptr<poppler::page> page(document_->create_page(pageNumber - 1));
    if (!page) {
        return false;
    }
    info.mediaBox = ToBox(page->page_rect(poppler::media_box));
    info.cropBox = ToBox(page->page_rect(poppler::crop_box));
    info.rotation = RotationDegrees(page->orientation());
    return true;
}

namespace {

// Parses a PDF held in memory with qpdf; throws on failure.
std::unique_ptr<QPDF> ProcessQpdf(const char* data, std::size_t size, const std::string& password) {
    std::unique_ptr<QPDF> pdf = OpenQpdf(std::span<const char>(data, size), password);
    if (!pdf) throw std::runtime_error("cannot open the document");
    return pdf;
}

// The document written out unencrypted; throws on failure.
std::shared_ptr<Buffer> WriteQpdfToMemory(QPDF& pdf) {
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setPreserveEncryption(false);
    writer.write();
    return writer.getBufferSharedPointer();
}

QPDFObjectHandle::Rectangle Normalized(const QPDFObjectHandle::Rectangle& r) {
    return {std::min(r.llx, r.urx), std::min(r.lly, r.ury), std::max(r.llx, r.urx), std::max(r.lly, r.ury)};
}

}  // namespace

std::vector<std::uint8_t> PdfDocument::CreateNormalizedData(std::span<const std::uint8_t> bytes,
                                                            const std::string& password) {
    if (bytes.empty()) return {};
    try {
        std::unique_ptr<QPDF> opened = ProcessQpdf(reinterpret_cast<const char*>(bytes.data()), bytes.size(), password);
        QPDF& input = *opened;
        input.pushInheritedAttributesToPage();

        QPDF output;
        output.emptyPDF();
        QPDFPageDocumentHelper outputPages(output);
        for (auto& page : QPDFPageDocumentHelper(input).getAllPages()) {
            outputPages.addPage(page, false);
            QPDFPageObjectHelper copy = outputPages.getAllPages().back();
            QPDFObjectHandle dict = copy.getObjectHandle();

            // The visible box: the crop box, or the media box when the crop box is empty.
            QPDFObjectHandle mediaBox = copy.getMediaBox();
            if (!mediaBox.isRectangle()) mediaBox = QPDFObjectHandle::newFromRectangle({0, 0, 612, 792});
            QPDFObjectHandle::Rectangle box = Normalized(mediaBox.getArrayAsRectangle());
            QPDFObjectHandle crop = dict.getKey("/CropBox");
            if (crop.isRectangle()) {
                const auto c = Normalized(crop.getArrayAsRectangle());
                if (c.urx > c.llx && c.ury > c.lly) box = c;
            }
            dict.replaceKey("/CropBox", QPDFObjectHandle::newFromRectangle(box));
            for (const char* key : {"/TrimBox", "/BleedBox", "/ArtBox", "/Annots"}) dict.removeKey(key);

            // Rotation goes into the contents; the page then shows just its box.
            copy.flattenRotation();
            dict.replaceKey("/MediaBox", dict.getKey("/CropBox"));
            dict.removeKey("/CropBox");
        }
        if (outputPages.getAllPages().empty()) return {};

        const std::shared_ptr<Buffer> buffer = WriteQpdfToMemory(output);
        if (!buffer || buffer->getSize() == 0) return {};
        const auto* written = buffer->getBuffer();
        return std::vector<std::uint8_t>(written, written + buffer->getSize());
    } catch (const std::exception&) {
        return {};
    }
}

std::unique_ptr<PdfDocument> PdfDocument::ReopenWithoutCropBox(int pageNumber) const {
    try {
        std::unique_ptr<QPDF> opened = ProcessQpdf(bytes_->data(), bytes_->size(), password_);
        QPDF& pdf = *opened;
        auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
        if (pageNumber < 1 || static_cast<std::size_t>(pageNumber) > pages.size()) {
            return nullptr;
        }
        QPDFPageObjectHelper& page = pages[static_cast<std::size_t>(pageNumber - 1)];
        // The crop box may be inherited, so set it rather than remove it.
        page.getObjectHandle().replaceKey("/CropBox", page.getMediaBox(true).shallowCopy());
        const std::shared_ptr<Buffer> buffer = WriteQpdfToMemory(pdf);
        std::vector<char> bytes(buffer->getSize());
        std::memcpy(bytes.data(), buffer->getBuffer(), bytes.size());
        auto whole = OpenData(std::move(bytes));
        if (whole) whole->measured_ = true;
        return whole;
    } catch (...) {
        return nullptr;
    }
}

std::string PdfDocument::GetPageText(int pageNumber) const {
    if (pageNumber < 1 || pageNumber > GetPageCount() || !IsPageWithinBudget(pageNumber)) {
        return {};
    }
    try {
        std::unique_ptr<poppler::page> page(document_->create_page(pageNumber - 1));
        if (!page) {
            return {};
        }
        const poppler::byte_array utf8 = page->text().to_utf8();
        std::string text(utf8.begin(), utf8.end());
        // poppler ends lines with "\r\n" on some pages and "\n" on others,
        // and marks the end of the page with a form feed.
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        while (!text.empty() && text.back() == '\f') text.pop_back();
        return text;
    } catch (...) {
        return {};
    }
}

ImageRef PdfDocument::RenderPageImage(int pageNumber, double scale, int width, int height, PdfPixelFormat format,
                                      int* bandRows) const {
    if (width <= 0 || height <= 0 || !(scale > 0.0) || !std::isfinite(scale) ||
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) > kMaxRenderPixels) {
        return nullptr;
    }
    PdfPageInfo info;
    if (!GetPageInfo(pageNumber, info) || !MayRenderPage(pageNumber)) {
        return nullptr;
    }
    Initialize();
    auto bands = std::make_unique<PageBands>();
    // Rendering a crop box that is empty means rendering the media box.
    bands->document = info.cropBox.IsEmpty() && !info.mediaBox.IsEmpty() ? ReopenWithoutCropBox(pageNumber) : Reopen();
    if (!bands->document || !bands->document->document_) {
        return nullptr;
    }
    bands->bytes = bands->document->bytes_;
    bands->password = bands->document->password_;
    bands->pageNumber = pageNumber;
    bands->gray = format == PdfPixelFormat::Gray;
    // The first band's renderer, made now so that a page poppler cannot
    // open fails here rather than while the image is written.
    bands->bands[0].renderer = PdfSliceRenderer::Create(bands->bytes, bands->password, pageNumber, bands->gray);
    if (!bands->bands[0].renderer) {
        return nullptr;
    }
    bands->dpi = 72.0 * scale;
    bands->width = width;
    bands->height = height;
    bands->bandRows = RenderBandRows(width, height);
    // Every band runs the page through poppler again. Most images are drawn
    // from the rows the band shows, but poppler scales the others to their
    // whole size on the page for every band they cross: a page where those
    // cover more than a band renders in one.
    if (bands->bandRows < height &&
        bands->bands[0].renderer->ImagePixelsDrawnWhole(bands->dpi) > double(bands->bandRows) * double(width)) {
        bands->bandRows = height;
    }
    if (bandRows) *bandRows = bands->bandRows;
    VipsImage* generated = vips_image_new();
    vips_image_init_fields(generated, width, height, bands->Channels(), VIPS_FORMAT_UCHAR, VIPS_CODING_NONE,
                           bands->gray ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB, 1.0, 1.0);
    vips::VImage image(generated);
    PageBands* state = bands.release();
    g_object_set_data_full(G_OBJECT(generated), "vantrell-page-bands", state,
                           [](gpointer data) { delete static_cast<PageBands*>(data); });
    if (vips_image_pipelinev(generated, VIPS_DEMAND_STYLE_THINSTRIP, nullptr) != 0 ||
        vips_image_generate(generated, nullptr, GeneratePageRows, nullptr, state, nullptr) != 0) {
        vips_error_clear();
        return nullptr;
    }
    try {
        // A band that cannot be rendered (a refused image) must fail the
        // write, also when another encoder thread was waiting for it.
        image = WatchDecode(image);
        if (format == PdfPixelFormat::Cmyk) {
            image = image.icc_transform("cmyk", vips::VImage::option()
                                                    ->set("input_profile", "srgb")
                                                    ->set("embedded", false)
                                                    ->set("intent", VIPS_INTENT_RELATIVE));
        }
        return Image::Create(std::move(image));
    } catch (const vips::VError&) {
        vips_error_clear();
        return nullptr;
    }
}

int PdfDocument::RenderBandRows(int width, int height) {
    const double area = double(std::max(width, 1)) * double(std::max(height, 1));
    const int count = std::max(1, int(std::ceil(area / kRenderBandPixels)));
    return std::max(std::min(height, kRenderBandRows), (height + count - 1) / count);
}

bool PdfDocument::RenderPage(int pageNumber, double scale, int width, int height, PdfPixelFormat format,
                             PdfPageBitmap& out) const {
    if (width <= 0 || height <= 0 || !(scale > 0.0) || !std::isfinite(scale) ||
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) > kMaxRenderPixels) {
        return false;
    }
    PdfPageInfo info;
    if (!GetPageInfo(pageNumber, info) || !MayRenderPage(pageNumber)) {
        return false;
    }
    if (info.cropBox.IsEmpty() && !info.mediaBox.IsEmpty()) {
        auto whole = ReopenWithoutCropBox(pageNumber);
        PdfPageInfo wholeInfo;
        if (!whole || !whole->GetPageInfo(pageNumber, wholeInfo) || wholeInfo.cropBox.IsEmpty()) {
            return false;
        }
        return whole->RenderPage(pageNumber, scale, width, height, format, out);
    }
    try {
        // The same Splash device as the banded road, over the whole page:
        // the same pixels, and the same bound on the images it draws.
        const bool gray = format == PdfPixelFormat::Gray;
        const bool cmyk = format == PdfPixelFormat::Cmyk;
        std::unique_ptr<PdfSliceRenderer> renderer = PdfSliceRenderer::Create(bytes_, password_, pageNumber, gray);
        // Asking for an exact slice fixes the pixel size whatever poppler's
        // own rounding of the page size would be.
        if (!renderer || !renderer->Render(72.0 * scale, 0, width, height)) {
            return false;
        }
        const int channels = renderer->Channels();
        out.width = width;
        out.height = height;
        out.channels = channels;
        out.format = gray ? PdfPixelFormat::Gray : PdfPixelFormat::Rgb;
        out.iccProfile.clear();
        const std::size_t stride = out.Stride();
        out.pixels.resize(stride * static_cast<std::size_t>(height));
        for (int row = 0; row < height; ++row) {
            std::memcpy(out.pixels.data() + stride * static_cast<std::size_t>(row), renderer->Row(row), stride);
        }
        return cmyk ? ConvertBitmapToCmyk(out) : true;
    } catch (...) {
        return false;
    }
}

}  // namespace plat
