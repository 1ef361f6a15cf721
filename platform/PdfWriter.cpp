#include "platform/PdfWriter.h"

#include "platform/FileManager.h"
#include "platform/Image.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <zlib.h>

#include <cstdio>
#include <exception>

namespace plat {

using vips::VImage;

struct PdfWriter::State {
    QPDF pdf;
};

namespace {

bool Deflate(const std::uint8_t* data, std::size_t size, std::string& out) {
    uLongf bound = compressBound(uLong(size));
    out.resize(bound);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &bound, data, uLong(size), 6) != Z_OK) {
        return false;
    }
    out.resize(bound);
    return true;
}

std::string Number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.4f", value);
    return buffer;
}

QPDFObjectHandle FlateImage(QPDF& pdf, const VImage& pixels, const char* colourSpace) {
    std::size_t size = 0;
    void* memory = pixels.write_to_memory(&size);
    if (!memory) throw std::runtime_error("cannot read pixels");
    std::string compressed;
    const bool ok = Deflate(static_cast<const std::uint8_t*>(memory), size, compressed);
    g_free(memory);
    if (!ok) throw std::runtime_error("cannot compress pixels");
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
    stream.replaceStreamData(compressed, QPDFObjectHandle::newName("/FlateDecode"),
                             QPDFObjectHandle::newNull());
    QPDFObjectHandle dict = stream.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(pixels.width()));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(pixels.height()));
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(colourSpace));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    return stream;
}

}  // namespace

PdfWriter::PdfWriter() : state_(std::make_unique<State>()), creator_("Vantrell") {
    state_->pdf.emptyPDF();
}

PdfWriter::~PdfWriter() = default;

bool PdfWriter::addPage(int width, int height, double dpiX, double dpiY, void* imageObject) {
    QPDF& pdf = state_->pdf;
    QPDFObjectHandle& image = *static_cast<QPDFObjectHandle*>(imageObject);
    if (!(dpiX > 0.0)) dpiX = 72.0;
    if (!(dpiY > 0.0)) dpiY = 72.0;
    const double w = width / dpiX * 72.0;
    const double h = height / dpiY * 72.0;
    const std::string content = "q " + Number(w) + " 0 0 " + Number(h) + " 0 0 cm /Im0 Do Q\n";
    QPDFObjectHandle contents = QPDFObjectHandle::newStream(&pdf, content);
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", pdf.makeIndirectObject(image));
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, w, h)));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", contents);
    QPDFPageDocumentHelper(pdf).addPage(pdf.makeIndirectObject(page), false);
    ++pages_;
    return true;
}

bool PdfWriter::addImagePage(const ImageRef& image, double dpiX, double dpiY) {
    if (!image) return false;
    try {
        QPDF& pdf = state_->pdf;
        const VImage& all = image->vimage();
        const int colour = image->colorComponents();
        VImage pixels = image->hasAlpha() ? all.extract_band(0, VImage::option()->set("n", colour)) : all;
        const char* space = colour == 1 ? "/DeviceGray" : colour == 4 ? "/DeviceCMYK" : "/DeviceRGB";
        QPDFObjectHandle object = FlateImage(pdf, pixels, space);
        if (image->hasAlpha()) {
            QPDFObjectHandle mask = FlateImage(pdf, all.extract_band(colour), "/DeviceGray");
            object.getDict().replaceKey("/SMask", pdf.makeIndirectObject(mask));
        }
        return addPage(image->width(), image->height(), dpiX, dpiY, &object);
    } catch (const std::exception&) {
        vips_error_clear();
        return false;
    }
}

bool PdfWriter::addJpegPage(std::span<const std::uint8_t> jpeg, int width, int height, int components,
                            double dpiX, double dpiY) {
    if (jpeg.empty() || width <= 0 || height <= 0) return false;
    if (components != 1 && components != 3 && components != 4) return false;
    try {
        QPDF& pdf = state_->pdf;
        QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
        stream.replaceStreamData(std::string(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()),
                                 QPDFObjectHandle::newName("/DCTDecode"), QPDFObjectHandle::newNull());
        QPDFObjectHandle dict = stream.getDict();
        dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
        dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
        dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
        dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
        dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
        dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(
                                           components == 1 ? "/DeviceGray"
                                           : components == 4 ? "/DeviceCMYK" : "/DeviceRGB"));
        if (components == 4) {
            // Adobe writes CMYK JPEGs inverted.
            QPDFObjectHandle decode = QPDFObjectHandle::newArray();
            for (int i = 0; i < 4; ++i) {
                decode.appendItem(QPDFObjectHandle::newInteger(1));
                decode.appendItem(QPDFObjectHandle::newInteger(0));
            }
            dict.replaceKey("/Decode", decode);
        }
        return addPage(width, height, dpiX, dpiY, &stream);
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::uint8_t> PdfWriter::data() {
    if (pages_ == 0) return {};
    try {
        QPDF& pdf = state_->pdf;
        QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
        if (!title_.empty()) info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(title_));
        if (!creator_.empty()) {
            info.replaceKey("/Creator", QPDFObjectHandle::newUnicodeString(creator_));
            info.replaceKey("/Producer", QPDFObjectHandle::newUnicodeString(creator_));
        }
        pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        // Streams are compressed already; do not decode and recompress them.
        writer.setStreamDataMode(qpdf_s_preserve);
        writer.write();
        std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
        if (!buffer || buffer->getSize() == 0) return {};
        const auto* bytes = buffer->getBuffer();
        return std::vector<std::uint8_t>(bytes, bytes + buffer->getSize());
    } catch (const std::exception&) {
        return {};
    }
}

bool PdfWriter::write(const std::filesystem::path& path, const std::optional<FileAttributes>& attributes) {
    std::vector<std::uint8_t> bytes = data();
    if (bytes.empty()) return false;
    return FileManager::createFile(path, std::span<const std::uint8_t>(bytes), attributes);
}

}  // namespace plat
