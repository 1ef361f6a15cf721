#include "platform/PdfWriter.h"

#include "platform/DecodeWatch.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/QpdfInput.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFNameTreeObjectHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <map>
#include <set>

namespace plat {

using vips::VImage;

struct PdfWriter::State {
    // qpdf reads an opened file in place: the bytes live as long as the document.
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<QPDF> pdf = std::make_unique<QPDF>();
    // The document's form, made when pages with fields are copied.
    std::unique_ptr<QPDFAcroFormDocumentHelper> form;

    QPDFAcroFormDocumentHelper& Form() {
        if (!form) form = std::make_unique<QPDFAcroFormDocumentHelper>(*pdf);
        return *form;
    }
    // 16-bit samples need PDF 1.5.
    bool sixteenBit = false;
    // Tells writers apart for the sources whose layers were merged.
    std::uint64_t serial = NextSerial();
    std::set<std::uint64_t> optionalContentFrom;

    static std::uint64_t NextSerial() {
        static std::atomic<std::uint64_t> next{1};
        return next++;
    }
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

// 8- or 16-bit samples.
QPDFObjectHandle FlateImage(QPDF& pdf, const VImage& pixels, const char* colourSpace) {
    std::size_t size = 0;
    void* memory = pixels.write_to_memory(&size);
    if (!memory) throw std::runtime_error("cannot read pixels");
    // Pixels whose decode failed are no picture, whatever came out of them.
    if (DecodeFailed(pixels)) {
        g_free(memory);
        throw std::runtime_error("damaged image data");
    }
    const bool sixteen = pixels.format() == VIPS_FORMAT_USHORT;
    if (sixteen) {
        // PDF samples are big-endian.
        auto* samples = static_cast<std::uint16_t*>(memory);
        for (std::size_t i = 0; i < size / 2; ++i) samples[i] = std::uint16_t(samples[i] << 8 | samples[i] >> 8);
    }
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
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(sixteen ? 16 : 8));
    return stream;
}

// Outlines are user data: a hostile file may nest or loop them without end.
constexpr std::size_t kMaxOutlineItems = 100000;
constexpr int kMaxOutlineDepth = 64;

// The explicit destination an outline item points at: its /Dest, or the /D
// of its GoTo action, with names looked up in the catalogue.
QPDFObjectHandle OutlineDestination(QPDF& pdf, QPDFObjectHandle item) {
    QPDFObjectHandle dest = item.getKey("/Dest");
    if (dest.isNull()) {
        QPDFObjectHandle action = item.getKey("/A");
        if (action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo")) dest = action.getKey("/D");
    }
    if (dest.isName()) {
        dest = pdf.getRoot().getKey("/Dests").getKey(dest.getName());
    } else if (dest.isString()) {
        QPDFObjectHandle names = pdf.getRoot().getKey("/Names").getKey("/Dests");
        QPDFObjectHandle found;
        if (names.isDictionary() && QPDFNameTreeObjectHelper(names, pdf).findObject(dest.getUTF8Value(), found)) {
            dest = found;
        } else {
            dest = QPDFObjectHandle::newNull();
        }
    }
    if (dest.isDictionary()) dest = dest.getKey("/D");
    return dest;
}

// The operands an explicit destination's view takes; -1 for no view.
int ViewOperandCount(const std::string& view) {
    static const std::map<std::string, int> counts = {{"/XYZ", 3},  {"/Fit", 0},  {"/FitH", 1}, {"/FitV", 1},
                                                      {"/FitR", 4}, {"/FitB", 0}, {"/FitBH", 1}, {"/FitBV", 1}};
    const auto found = counts.find(view);
    return found == counts.end() ? -1 : found->second;
}

QPDFObjectHandle DestinationNumber(const std::optional<double>& value) {
    if (!value || !std::isfinite(*value)) return QPDFObjectHandle::newNull();
    const double whole = std::round(*value);
    if (whole == *value && std::fabs(whole) < 1e15) return QPDFObjectHandle::newInteger(static_cast<long long>(whole));
    return QPDFObjectHandle::newReal(*value, 4);
}

// Walks the items by hand: qpdf's outline helper follows looping /Next and
// /First links without end.
std::vector<PdfOutlineItem> ReadOutlineItems(QPDF& pdf, QPDFObjectHandle item,
                                             const std::map<QPDFObjGen, int>& pageIndices, int depth,
                                             std::size_t& budget, std::set<QPDFObjGen>& seen) {
    std::vector<PdfOutlineItem> out;
    if (depth > kMaxOutlineDepth) return out;
    for (; item.isDictionary() && budget > 0; item = item.getKey("/Next")) {
        if (item.isIndirect() && !seen.insert(item.getObjGen()).second) break;
        --budget;
        PdfOutlineItem entry;
        QPDFObjectHandle title = item.getKey("/Title");
        if (title.isString()) entry.title = title.getUTF8Value();
        QPDFObjectHandle dest = OutlineDestination(pdf, item);
        if (dest.isArray() && dest.getArrayNItems() >= 1) {
            QPDFObjectHandle page = dest.getArrayItem(0);
            if (page.isIndirect()) {
                auto found = pageIndices.find(page.getObjGen());
                if (found != pageIndices.end()) entry.pageIndex = found->second;
            }
            // [page /XYZ left top zoom] and [page /FitH top] keep their
            // point; other views show the page from its top.
            const auto number = [&dest](int at) -> std::optional<double> {
                if (dest.getArrayNItems() <= at || !dest.getArrayItem(at).isNumber()) return std::nullopt;
                const double value = dest.getArrayItem(at).getNumericValue();
                return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
            };
            QPDFObjectHandle view = dest.getArrayNItems() >= 2 ? dest.getArrayItem(1) : QPDFObjectHandle::newNull();
            if (view.isNameAndEquals("/XYZ")) {
                entry.left = number(2);
                entry.top = number(3);
            } else if (view.isNameAndEquals("/FitH") || view.isNameAndEquals("/FitBH")) {
                entry.top = number(2);
            }
            // A known view is copied with its operands as it stands.
            if (view.isName()) {
                if (const int operands = ViewOperandCount(view.getName()); operands >= 0) {
                    entry.view = view.getName();
                    for (int i = 0; i < operands; ++i) entry.operands.push_back(number(2 + i));
                }
            }
        }
        entry.children = ReadOutlineItems(pdf, item.getKey("/First"), pageIndices, depth + 1, budget, seen);
        out.push_back(std::move(entry));
    }
    return out;
}

// Links `items` under `parent` (children closed); returns how many were made.
int BuildOutlineItems(QPDF& pdf, QPDFObjectHandle parent, const std::vector<PdfOutlineItem>& items,
                      const std::vector<QPDFPageObjectHelper>& pages, int depth) {
    if (depth > kMaxOutlineDepth) return 0;
    QPDFObjectHandle previous;
    int count = 0;
    for (const PdfOutlineItem& item : items) {
        QPDFObjectHandle entry = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        entry.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(item.title));
        entry.replaceKey("/Parent", parent);
        if (item.pageIndex >= 0 && static_cast<std::size_t>(item.pageIndex) < pages.size()) {
            QPDFObjectHandle dest = QPDFObjectHandle::newArray();
            dest.appendItem(pages[static_cast<std::size_t>(item.pageIndex)].getObjectHandle());
            if (ViewOperandCount(item.view) >= 0 &&
                item.operands.size() == static_cast<std::size_t>(ViewOperandCount(item.view))) {
                dest.appendItem(QPDFObjectHandle::newName(item.view));
                for (const auto& operand : item.operands) dest.appendItem(DestinationNumber(operand));
            } else {
                dest.appendItem(QPDFObjectHandle::newName("/XYZ"));
                dest.appendItem(DestinationNumber(item.left));
                dest.appendItem(DestinationNumber(item.top));
                dest.appendItem(QPDFObjectHandle::newNull());
            }
            entry.replaceKey("/Dest", dest);
        }
        const int children = BuildOutlineItems(pdf, entry, item.children, pages, depth + 1);
        if (children > 0) entry.replaceKey("/Count", QPDFObjectHandle::newInteger(-children));
        if (previous.isInitialized()) {
            previous.replaceKey("/Next", entry);
            entry.replaceKey("/Prev", previous);
        } else {
            parent.replaceKey("/First", entry);
        }
        parent.replaceKey("/Last", entry);
        previous = entry;
        ++count;
    }
    return count;
}

void WriteOutline(QPDF& pdf, const std::vector<PdfOutlineItem>& items) {
    QPDFObjectHandle root = pdf.getRoot();
    if (items.empty()) {
        root.removeKey("/Outlines");
        return;
    }
    QPDFObjectHandle outlines = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    outlines.replaceKey("/Type", QPDFObjectHandle::newName("/Outlines"));
    const int count = BuildOutlineItems(pdf, outlines, items, QPDFPageDocumentHelper(pdf).getAllPages(), 0);
    outlines.replaceKey("/Count", QPDFObjectHandle::newInteger(count));
    root.replaceKey("/Outlines", outlines);
    root.replaceKey("/PageMode", QPDFObjectHandle::newName("/UseOutlines"));
}

void SetEncryption(QPDFWriter& writer, const PdfWriteOptions& options) {
    const std::string& user = options.userPassword;
    // Without an owner password of its own, the user password guards changes too.
    const std::string& owner = options.ownerPassword.empty() ? user : options.ownerPassword;
    const bool print = options.allowsPrinting;
    const bool copy = options.allowsCopying;
    const qpdf_r3_print_e printing = print ? qpdf_r3p_full : qpdf_r3p_none;
    if (options.keyLength == 40) {
        writer.setR2EncryptionParametersInsecure(user.c_str(), owner.c_str(), print, true, copy, true);
    } else if (options.keyLength == 128) {
        writer.setR4EncryptionParametersInsecure(user.c_str(), owner.c_str(), true, copy, true, true, true, true,
                                                 printing, true, true);
    } else {
        writer.setR6EncryptionParameters(user.c_str(), owner.c_str(), true, copy, true, true, true, true, printing,
                                         true);
    }
}

}  // namespace

PdfWriter::PdfWriter() : state_(std::make_unique<State>()), creator_("Vantrell") {
    // Pages copied from damaged files make qpdf warn on the terminal.
    state_->pdf->setSuppressWarnings(true);
    state_->pdf->emptyPDF();
}

PdfWriter::~PdfWriter() = default;

bool PdfWriter::addPage(std::size_t index, int width, int height, double dpiX, double dpiY, void* imageObject,
                        const PdfPageFrame* frame) {
    QPDF& pdf = *state_->pdf;
    QPDFObjectHandle& image = *static_cast<QPDFObjectHandle*>(imageObject);
    if (!(dpiX > 0.0)) dpiX = 72.0;
    if (!(dpiY > 0.0)) dpiY = 72.0;
    const double w = width / dpiX * 72.0;
    const double h = height / dpiY * 72.0;
    double pageWidth = w, pageHeight = h, x = 0.0, y = 0.0;
    if (frame) {
        if (!(frame->paperWidth > 0.0 && frame->paperHeight > 0.0)) return false;
        pageWidth = frame->paperWidth;
        pageHeight = frame->paperHeight;
        x = frame->contentArea.x + (frame->contentArea.width - w) / 2.0;
        y = frame->contentArea.y + (frame->contentArea.height - h) / 2.0;
    }
    const std::string content = "q " + Number(w) + " 0 0 " + Number(h) + " " + Number(x) + " " + Number(y) +
                                " cm /Im0 Do Q\n";
    QPDFObjectHandle contents = QPDFObjectHandle::newStream(&pdf, content);
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", pdf.makeIndirectObject(image));
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox",
                    QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, pageWidth, pageHeight)));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", contents);
    QPDFPageDocumentHelper helper(pdf);
    if (index >= pages_) {
        helper.addPage(pdf.makeIndirectObject(page), false);
    } else {
        helper.addPageAt(pdf.makeIndirectObject(page), true, helper.getAllPages().at(index));
    }
    ++pages_;
    return true;
}

bool PdfWriter::addImagePage(const ImageRef& image, double dpiX, double dpiY) {
    return insertImagePage(pages_, image, dpiX, dpiY);
}

bool PdfWriter::insertImagePage(std::size_t index, const ImageRef& image, double dpiX, double dpiY,
                                const PdfPageFrame* frame) {
    if (!image) return false;
    try {
        QPDF& pdf = *state_->pdf;
        // 16-bit samples stay so; float ones become 16-bit.
        const VImage all = AtMostSixteenBitSamples(image->vimage());
        if (all.format() == VIPS_FORMAT_USHORT) state_->sixteenBit = true;
        const int colour = image->colorComponents();
        VImage pixels = image->hasAlpha() ? all.extract_band(0, VImage::option()->set("n", colour)) : all;
        const char* space = colour == 1 ? "/DeviceGray" : colour == 4 ? "/DeviceCMYK" : "/DeviceRGB";
        QPDFObjectHandle object = FlateImage(pdf, pixels, space);
        if (image->hasAlpha()) {
            QPDFObjectHandle mask = FlateImage(pdf, all.extract_band(colour), "/DeviceGray");
            object.getDict().replaceKey("/SMask", pdf.makeIndirectObject(mask));
        }
        return addPage(index, image->width(), image->height(), dpiX, dpiY, &object, frame);
    } catch (const std::exception&) {
        vips_error_clear();
        return false;
    }
}

bool PdfWriter::addJpegPage(std::span<const std::uint8_t> jpeg, int width, int height, int components,
                            double dpiX, double dpiY) {
    return insertJpegPage(pages_, jpeg, width, height, components, dpiX, dpiY);
}

bool PdfWriter::insertJpegPage(std::size_t index, std::span<const std::uint8_t> jpeg, int width, int height,
                               int components, double dpiX, double dpiY, const PdfPageFrame* frame) {
    if (jpeg.empty() || width <= 0 || height <= 0) return false;
    if (components != 1 && components != 3 && components != 4) return false;
    try {
        QPDF& pdf = *state_->pdf;
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
        return addPage(index, width, height, dpiX, dpiY, &stream, frame);
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::uint8_t> PdfWriter::data(const PdfWriteOptions& options) {
    if (pages_ == 0) return {};
    try {
        QPDF& pdf = *state_->pdf;
        if (opened_ && AttachmentsLocked(pdf)) return {};
        if (!opened_) {
            QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
            if (!title_.empty()) info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(title_));
            if (!creator_.empty()) {
                info.replaceKey("/Creator", QPDFObjectHandle::newUnicodeString(creator_));
                info.replaceKey("/Producer", QPDFObjectHandle::newUnicodeString(creator_));
            }
            pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));
        }
        if (outlineSet_) WriteOutline(pdf, outline_);
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        // Streams are compressed already; do not decode and recompress them.
        writer.setStreamDataMode(qpdf_s_preserve);
        // An opened file is written as the options say, never with the
        // encryption it was read with.
        writer.setPreserveEncryption(false);
        // 16-bit samples and layers need PDF 1.5.
        if (state_->sixteenBit || pdf.getRoot().getKey("/OCProperties").isDictionary()) {
            writer.setMinimumPDFVersion("1.5");
        }
        if (options.encrypts()) SetEncryption(writer, options);
        writer.write();
        std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
        if (!buffer || buffer->getSize() == 0) return {};
        const auto* bytes = buffer->getBuffer();
        return std::vector<std::uint8_t>(bytes, bytes + buffer->getSize());
    } catch (const std::exception&) {
        return {};
    }
}

bool PdfWriter::write(const std::filesystem::path& path, const std::optional<FileAttributes>& attributes,
                      const PdfWriteOptions& options) {
    std::vector<std::uint8_t> bytes = data(options);
    if (bytes.empty()) return false;
    return FileManager::createFile(path, std::span<const std::uint8_t>(bytes), attributes);
}

// --- Opening and editing ---------------------------------------------------------

std::unique_ptr<PdfWriter> PdfWriter::Open(const std::filesystem::path& path, const std::string& password,
                                           OpenStatus* status) {
    auto report = [status](OpenStatus value) {
        if (status) *status = value;
    };
    report(OpenStatus::Unreadable);
    // FileManager reads regular files only, so a FIFO or device never blocks.
    auto contents = FileManager::contentsOfFile(path, std::uint64_t(std::numeric_limits<int>::max()));
    if (!contents || contents->empty()) return nullptr;
    auto writer = std::make_unique<PdfWriter>();
    State& state = *writer->state_;
    state.bytes = std::move(*contents);
    bool locked = false;
    auto process = [&](const std::string& candidate) {
        QpdfOpenStatus opened = QpdfOpenStatus::Unreadable;
        state.pdf = OpenQpdf(std::span<const char>(reinterpret_cast<const char*>(state.bytes.data()),
                                                   state.bytes.size()),
                             candidate, &opened);
        if (opened == QpdfOpenStatus::Locked) locked = true;
        return state.pdf != nullptr;
    };
    if (!process(password) && !(locked && !password.empty() && process(std::string()))) {
        report(locked ? OpenStatus::Locked : OpenStatus::Unreadable);
        return nullptr;
    }
    try {
        QPDF& pdf = *state.pdf;
        // Pages copied elsewhere must carry what they inherit from the tree.
        pdf.pushInheritedAttributesToPage();
        writer->pages_ = QPDFPageDocumentHelper(pdf).getAllPages().size();
        writer->opened_ = true;
        writer->encrypted_ = pdf.isEncrypted();
        writer->allowsPrinting_ = !writer->encrypted_ || pdf.ownerPasswordMatched() || pdf.allowPrintLowRes();
    } catch (const std::exception&) {
        return nullptr;
    }
    report(OpenStatus::Opened);
    return writer;
}

namespace {

// File-attachment annotations of a page whose attachments cannot be
// decrypted: they would carry unreadable files.
void RemoveLockedAttachments(QPDFObjectHandle page) {
    QPDFObjectHandle annotations = page.getKey("/Annots");
    if (!annotations.isArray()) return;
    QPDFObjectHandle kept = QPDFObjectHandle::newArray();
    for (int i = 0; i < annotations.getArrayNItems(); ++i) {
        QPDFObjectHandle annotation = annotations.getArrayItem(i);
        if (!annotation.isDictionary() || !annotation.getKey("/Subtype").isNameAndEquals("/FileAttachment")) {
            kept.appendItem(annotation);
        }
    }
    page.replaceKey("/Annots", kept);
}

// Layers are user data too: a hostile file may nest their order without end.
constexpr int kMaxOptionalContentDepth = 32;
constexpr std::size_t kMaxOptionalContentItems = 100000;

// A value of another document, its indirect objects copied into `pdf` (the
// groups copied with the pages are found again, not copied twice).
QPDFObjectHandle ImportValue(QPDF& pdf, QPDFObjectHandle value, int depth, std::size_t& budget) {
    if (budget == 0 || depth > kMaxOptionalContentDepth) return QPDFObjectHandle::newNull();
    --budget;
    if (value.isIndirect()) return pdf.copyForeignObject(value);
    if (value.isArray()) {
        QPDFObjectHandle out = QPDFObjectHandle::newArray();
        for (int i = 0; i < value.getArrayNItems() && budget > 0; ++i) {
            out.appendItem(ImportValue(pdf, value.getArrayItem(i), depth + 1, budget));
        }
        return out;
    }
    if (value.isDictionary()) {
        QPDFObjectHandle out = QPDFObjectHandle::newDictionary();
        for (const std::string& key : value.getKeys()) {
            if (budget == 0) break;
            out.replaceKey(key, ImportValue(pdf, value.getKey(key), depth + 1, budget));
        }
        return out;
    }
    return value.shallowCopy();
}

QPDFObjectHandle ArrayEntry(QPDFObjectHandle dict, const std::string& key) {
    QPDFObjectHandle array = dict.getKey(key);
    if (!array.isArray()) {
        array = QPDFObjectHandle::newArray();
        dict.replaceKey(key, array);
    }
    return array;
}

// The optional content (layers) of a document whose pages were copied in:
// its groups join this document's with the state its default view gives
// them, so a layer hidden there stays hidden; its order, radio-button
// groups, locked groups and automatic states follow. Alternate views
// (/Configs) name only their own file's groups and are not carried over.
void MergeOptionalContent(QPDF& pdf, QPDF& source) {
    QPDFObjectHandle from = source.getRoot().getKey("/OCProperties");
    if (!from.isDictionary() || !from.getKey("/OCGs").isArray()) return;
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle to = root.getKey("/OCProperties");
    if (!to.isDictionary() || !to.getKey("/OCGs").isArray()) {
        to = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        to.replaceKey("/OCGs", QPDFObjectHandle::newArray());
        root.replaceKey("/OCProperties", to);
    }
    QPDFObjectHandle config = to.getKey("/D");
    if (!config.isDictionary()) {
        config = QPDFObjectHandle::newDictionary();
        to.replaceKey("/D", config);
    }
    QPDFObjectHandle groups = to.getKey("/OCGs");
    std::set<QPDFObjGen> known;
    for (int i = 0; i < groups.getArrayNItems(); ++i) known.insert(groups.getArrayItem(i).getObjGen());

    std::size_t budget = kMaxOptionalContentItems;
    QPDFObjectHandle fromConfig = from.getKey("/D");
    if (!fromConfig.isDictionary()) fromConfig = QPDFObjectHandle::newDictionary();
    const auto listed = [&](const char* key) {
        std::set<QPDFObjGen> out;
        QPDFObjectHandle array = fromConfig.getKey(key);
        for (int i = 0; array.isArray() && i < array.getArrayNItems() && budget > 0; ++i, --budget) {
            if (array.getArrayItem(i).isIndirect()) out.insert(array.getArrayItem(i).getObjGen());
        }
        return out;
    };
    const std::set<QPDFObjGen> on = listed("/ON");
    const std::set<QPDFObjGen> off = listed("/OFF");
    const bool baseOff = fromConfig.getKey("/BaseState").isNameAndEquals("/OFF");
    QPDFObjectHandle fromGroups = from.getKey("/OCGs");
    for (int i = 0; i < fromGroups.getArrayNItems() && budget > 0; ++i, --budget) {
        QPDFObjectHandle group = fromGroups.getArrayItem(i);
        if (!group.isIndirect() || !group.isDictionary()) continue;
        QPDFObjectHandle local = pdf.copyForeignObject(group);
        if (!known.insert(local.getObjGen()).second) continue;
        groups.appendItem(local);
        const bool hidden = baseOff ? on.count(group.getObjGen()) == 0 : off.count(group.getObjGen()) != 0;
        if (hidden) ArrayEntry(config, "/OFF").appendItem(local);
    }
    for (const char* key : {"/Order", "/RBGroups", "/Locked", "/AS"}) {
        QPDFObjectHandle items = fromConfig.getKey(key);
        if (!items.isArray()) continue;
        QPDFObjectHandle target = ArrayEntry(config, key);
        for (int i = 0; i < items.getArrayNItems() && budget > 0; ++i) {
            target.appendItem(ImportValue(pdf, items.getArrayItem(i), 0, budget));
        }
    }
}

}  // namespace

bool PdfWriter::insertPage(const PdfWriter& source, std::size_t sourceIndex, std::size_t index) {
    if (&source == this || sourceIndex >= source.pages_) return false;
    try {
        QPDFPageObjectHelper page = QPDFPageDocumentHelper(*source.state_->pdf).getAllPages().at(sourceIndex);
        QPDFPageDocumentHelper helper(*state_->pdf);
        if (index >= pages_) {
            helper.addPage(page, false);
        } else {
            helper.addPageAt(page, true, helper.getAllPages().at(index));
        }
        ++pages_;
    } catch (const std::exception&) {
        return false;
    }
    try {
        QPDFObjectHandle added = QPDFPageDocumentHelper(*state_->pdf).getAllPages().at(std::min(index, pages_ - 1))
                                     .getObjectHandle();
        // The copied widgets become fields of this document's form, their
        // values and appearances kept; clashing names are renamed. This
        // copies the page's annotations afresh, so it comes first. A form
        // too damaged for that leaves the page as it was copied.
        QPDFAcroFormDocumentHelper& sourceForm = source.state_->Form();
        if (sourceForm.hasAcroForm()) {
            try {
                QPDFAcroFormDocumentHelper& form = state_->Form();
                form.fixCopiedAnnotations(added, sourceForm.getQPDF().getAllPages().at(sourceIndex), sourceForm);
                if (sourceForm.getNeedAppearances()) form.setNeedAppearances(true);
            } catch (const std::exception&) {
                state_->form.reset();
            }
        }
        if (AttachmentsLocked(*source.state_->pdf)) RemoveLockedAttachments(added);
    } catch (const std::exception&) {
    }
    // Layers come once per source, after its first page (so that what
    // they name of the page is copied already). Damaged ones are left out.
    if (state_->optionalContentFrom.insert(source.state_->serial).second) {
        try {
            MergeOptionalContent(*state_->pdf, *source.state_->pdf);
        } catch (const std::exception&) {
        }
    }
    return true;
}

bool PdfWriter::removePage(std::size_t index) {
    if (index >= pages_) return false;
    try {
        QPDFPageDocumentHelper helper(*state_->pdf);
        helper.removePage(helper.getAllPages().at(index));
        --pages_;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int PdfWriter::pageRotation(std::size_t index) const {
    if (index >= pages_) return 0;
    try {
        QPDFPageObjectHelper page = QPDFPageDocumentHelper(*state_->pdf).getAllPages().at(index);
        QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
        if (!rotate.isInteger()) return 0;
        const long long value = rotate.getIntValue();
        // Only multiples of 90 mean anything; readers ignore the rest.
        return value % 90 == 0 && value > -360 && value < 360 ? static_cast<int>(value) : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

bool PdfWriter::setPageRotation(std::size_t index, int degrees) {
    if (index >= pages_ || degrees % 90 != 0) return false;
    try {
        QPDFPageObjectHelper page = QPDFPageDocumentHelper(*state_->pdf).getAllPages().at(index);
        page.getObjectHandle().replaceKey("/Rotate", QPDFObjectHandle::newInteger(degrees));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

PdfBox PdfWriter::pageCropBox(std::size_t index) const {
    if (index >= pages_) return {};
    try {
        QPDFPageObjectHelper page = QPDFPageDocumentHelper(*state_->pdf).getAllPages().at(index);
        QPDFObjectHandle box = page.getCropBox(false, false);
        if (!box.isRectangle()) return {};
        const auto r = box.getArrayAsRectangle();
        PdfBox out;
        out.x = std::min(r.llx, r.urx);
        out.y = std::min(r.lly, r.ury);
        out.width = std::fabs(r.urx - r.llx);
        out.height = std::fabs(r.ury - r.lly);
        return out;
    } catch (const std::exception&) {
        return {};
    }
}

std::vector<PdfOutlineItem> PdfWriter::outline() const {
    try {
        QPDF& pdf = *state_->pdf;
        std::map<QPDFObjGen, int> pageIndices;
        int next = 0;
        for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
            pageIndices.emplace(page.getObjectHandle().getObjGen(), next++);
        }
        std::size_t budget = kMaxOutlineItems;
        std::set<QPDFObjGen> seen;
        return ReadOutlineItems(pdf, pdf.getRoot().getKey("/Outlines").getKey("/First"), pageIndices, 0, budget,
                                seen);
    } catch (const std::exception&) {
        return {};
    }
}

void PdfWriter::setOutline(std::vector<PdfOutlineItem> items) {
    outline_ = std::move(items);
    outlineSet_ = true;
}

}  // namespace plat
