#include "platform/PdfObject.h"

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

#include "platform/CcittFax.h"
#include "platform/FileManager.h"
#include "platform/Jbig2.h"
#include "platform/QpdfInput.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace plat {

struct PdfObject::Handle {
    std::shared_ptr<QPDF> pdf;
    mutable QPDFObjectHandle object;  // qpdf's getters are not const
};

// What IsPageContentWithinBudget has measured of a file so far.
struct PdfContentWork;

struct PdfObjectFile::State {
    std::shared_ptr<const std::vector<char>> bytes;  // qpdf reads them in place
    std::shared_ptr<QPDF> pdf;
    std::vector<QPDFObjectHandle> pages;
    std::unique_ptr<PdfContentWork> work;
};

// What running some contents costs: the operators run and the samples of
// the images drawn (each time they are drawn, as a renderer decodes them).
struct ContentCost {
    std::uint64_t operators = 0;
    std::uint64_t imageSamples = 0;
};

// One content stream: its cost without the forms it draws, and the names
// its Do operators draw (with their slash, as qpdf keys them).
struct ScannedContent {
    ContentCost cost;
    std::vector<std::string> drawn;
};

struct PdfContentWork {
    std::uint64_t bytesBudget = 0;
    std::uint64_t bytesDecoded = 0;
    std::uint64_t operatorsRun = 0;
    std::uint64_t formsWalkedAgain = 0;
    bool exhausted = false;
    std::map<QPDFObjGen, ScannedContent> streams;
    std::map<QPDFObjGen, ContentCost> formCosts;
    // The forms being walked, with their nesting depth, and the smallest
    // depth of a form whose drawing was cut short because it was already
    // being drawn (a cycle).
    std::map<QPDFObjGen, int> formsInWalk;
    int shallowestCut = std::numeric_limits<int>::max();
    struct PageVerdict {
        bool within = false;
        std::uint64_t imageSamples = 0;
    };
    std::map<QPDFObjGen, PageVerdict> pages;
};

namespace {

PdfObject Wrap(const std::shared_ptr<QPDF>& pdf, QPDFObjectHandle object) {
    if (object.isNull()) {
        return {};
    }
    return PdfObject(std::make_shared<const PdfObject::Handle>(PdfObject::Handle{pdf, std::move(object)}));
}

// Collects decoded bytes and stops the decoding once they pass the limit.
class LimitedSink : public Pipeline {
public:
    LimitedSink(std::vector<std::uint8_t>* out, std::size_t limit) : Pipeline("limited sink", nullptr), out_(out), limit_(limit) {}
    void write(unsigned char const* data, size_t length) override {
        if (length > limit_ - out_->size()) {
            overflowed_ = true;
            throw std::length_error("stream data beyond the limit");
        }
        out_->insert(out_->end(), data, data + length);
    }
    void finish() override {}
    bool overflowed() const { return overflowed_; }

private:
    std::vector<std::uint8_t>* out_;
    std::size_t limit_;
    bool overflowed_ = false;
};

// Inline images may abbreviate their filter names.
std::string FullFilterName(const std::string& name) {
    static constexpr std::array<std::pair<const char*, const char*>, 7> kAbbreviations = {{
        {"/AHx", "/ASCIIHexDecode"},
        {"/A85", "/ASCII85Decode"},
        {"/LZW", "/LZWDecode"},
        {"/Fl", "/FlateDecode"},
        {"/RL", "/RunLengthDecode"},
        {"/CCF", "/CCITTFaxDecode"},
        {"/DCT", "/DCTDecode"},
    }};
    for (const auto& [shortName, longName] : kAbbreviations) {
        if (name == shortName) {
            return longName;
        }
    }
    return name;
}

QPDFObjectHandle ExpandFilterNames(QPDFObjectHandle filter) {
    if (filter.isName()) {
        return QPDFObjectHandle::newName(FullFilterName(filter.getName()));
    }
    if (filter.isArray()) {
        QPDFObjectHandle names = QPDFObjectHandle::newArray();
        for (int i = 0; i < filter.getArrayNItems(); ++i) {
            QPDFObjectHandle item = filter.getArrayItem(i);
            names.appendItem(item.isName() ? QPDFObjectHandle::newName(FullFilterName(item.getName())) : item);
        }
        return names;
    }
    return filter;
}

// Pipes the stream's data decoded by qpdf (every filter but the lossy
// image ones). False when a filter is left that qpdf does not undo.
bool PipeDecoded(QPDFObjectHandle stream, std::vector<std::uint8_t>* out, std::size_t limit) {
    LimitedSink sink(out, limit);
    bool filtered = false;
    try {
        filtered = stream.pipeStreamData(&sink, 0, qpdf_dl_specialized, true, false);
    } catch (const std::exception&) {
        return false;
    }
    return filtered && !sink.overflowed();
}

std::int64_t IntegerEntry(QPDFObjectHandle dict, const char* key, std::int64_t fallback) {
    if (!dict.isDictionary()) {
        return fallback;
    }
    QPDFObjectHandle value = dict.getKey(key);
    return value.isInteger() ? value.getIntValue() : fallback;
}

bool BooleanEntry(QPDFObjectHandle dict, const char* key, bool fallback) {
    if (!dict.isDictionary()) {
        return fallback;
    }
    QPDFObjectHandle value = dict.getKey(key);
    return value.isBool() ? value.getBoolValue() : fallback;
}

bool DecodeCcitt(QPDFObjectHandle imageDict, QPDFObjectHandle parms, std::span<const std::uint8_t> encoded,
                 std::vector<std::uint8_t>* out, std::size_t limit) {
    CcittFaxParameters p;
    p.k = IntegerEntry(parms, "/K", 0);
    p.columns = IntegerEntry(parms, "/Columns", 1728);
    p.rows = IntegerEntry(parms, "/Rows", 0);
    if (p.rows <= 0) {
        p.rows = IntegerEntry(imageDict, "/Height", IntegerEntry(imageDict, "/H", 0));
    }
    p.blackIs1 = BooleanEntry(parms, "/BlackIs1", false);
    p.encodedByteAlign = BooleanEntry(parms, "/EncodedByteAlign", false);
    p.endOfLine = BooleanEntry(parms, "/EndOfLine", false);
    p.endOfBlock = BooleanEntry(parms, "/EndOfBlock", true);
    p.damagedRowsBeforeError = IntegerEntry(parms, "/DamagedRowsBeforeError", 0);
    return DecodeCcittFax(encoded, p, out, limit);
}

bool DecodeJbig2Stream(QPDFObjectHandle imageDict, QPDFObjectHandle parms, std::span<const std::uint8_t> encoded,
                       std::vector<std::uint8_t>* out, std::size_t limit) {
    std::vector<std::uint8_t> globals;
    QPDFObjectHandle globalsStream = parms.isDictionary() ? parms.getKey("/JBIG2Globals") : QPDFObjectHandle::newNull();
    // Globals named but unreadable would decode the image wrongly.
    if (!globalsStream.isNull() && (!globalsStream.isStream() || !PipeDecoded(globalsStream, &globals, limit))) {
        return false;
    }
    const std::int64_t width = IntegerEntry(imageDict, "/Width", IntegerEntry(imageDict, "/W", 0));
    const std::int64_t height = IntegerEntry(imageDict, "/Height", IntegerEntry(imageDict, "/H", 0));
    return DecodeJbig2(encoded, globals, width, height, out, limit);
}

bool CopyStream(const std::shared_ptr<QPDF>& pdf, QPDFObjectHandle stream, std::vector<std::uint8_t>* data,
                PdfDataFormat* format, std::size_t limit) {
    QPDFObjectHandle dict = stream.getDict();
    std::vector<std::string> filters;
    std::vector<QPDFObjectHandle> parms;
    QPDFObjectHandle filter = dict.getKey("/Filter");
    QPDFObjectHandle decodeParms = dict.getKey("/DecodeParms");
    if (filter.isName()) {
        filters.push_back(filter.getName());
    } else if (filter.isArray()) {
        for (int i = 0; i < filter.getArrayNItems(); ++i) {
            QPDFObjectHandle item = filter.getArrayItem(i);
            if (!item.isName()) {
                return false;
            }
            filters.push_back(item.getName());
        }
    }
    for (std::size_t i = 0; i < filters.size(); ++i) {
        QPDFObjectHandle p = decodeParms.isArray() ? decodeParms.getArrayItem(static_cast<int>(i))
                             : i == 0             ? decodeParms
                                                  : QPDFObjectHandle::newNull();
        parms.push_back(p);
    }

    const std::string last = filters.empty() ? std::string() : filters.back();
    const bool jpeg = last == "/DCTDecode";
    const bool jpx = last == "/JPXDecode";
    const bool ccitt = last == "/CCITTFaxDecode";
    const bool jbig2 = last == "/JBIG2Decode";
    std::vector<std::uint8_t> bytes;
    if (!jpeg && !jpx && !ccitt && !jbig2) {
        if (!PipeDecoded(stream, &bytes, limit)) {
            return false;
        }
        *format = PdfDataFormat::Raw;
    } else {
        // qpdf undoes a chain whole or not at all: the filters before the last
        // one are undone on a copy of the stream that names only them.
        std::shared_ptr<Buffer> raw = stream.getRawStreamData();
        if (!raw) {
            return false;
        }
        if (filters.size() == 1) {
            if (raw->getSize() > limit) {
                return false;
            }
            bytes.assign(raw->getBuffer(), raw->getBuffer() + raw->getSize());
        } else {
            QPDFObjectHandle copy = QPDFObjectHandle::newStream(
                pdf.get(), std::string(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize()));
            QPDFObjectHandle prefix = QPDFObjectHandle::newArray();
            QPDFObjectHandle prefixParms = QPDFObjectHandle::newArray();
            for (std::size_t i = 0; i + 1 < filters.size(); ++i) {
                prefix.appendItem(QPDFObjectHandle::newName(filters[i]));
                prefixParms.appendItem(parms[i]);
            }
            QPDFObjectHandle copyDict = copy.getDict();
            copyDict.replaceKey("/Filter", prefix);
            copyDict.replaceKey("/DecodeParms", prefixParms);
            if (!PipeDecoded(copy, &bytes, limit)) {
                return false;
            }
        }
        if (ccitt) {
            std::vector<std::uint8_t> rows;
            if (!DecodeCcitt(dict, parms.back(), bytes, &rows, limit)) {
                return false;
            }
            bytes = std::move(rows);
        } else if (jbig2) {
            std::vector<std::uint8_t> rows;
            if (!DecodeJbig2Stream(dict, parms.back(), bytes, &rows, limit)) {
                return false;
            }
            bytes = std::move(rows);
        }
        *format = jpeg ? PdfDataFormat::JpegEncoded : jpx ? PdfDataFormat::Jpeg2000 : PdfDataFormat::Raw;
    }
    *data = std::move(bytes);
    return true;
}

// Collects the operators of a content stream with their operands; builds
// inline images into streams.
class ContentScanner : public QPDFObjectHandle::ParserCallbacks {
public:
    ContentScanner(std::shared_ptr<QPDF> pdf, std::span<const std::string_view> operators,
                   const PdfObjectFile::OperatorCallback& callback)
        : pdf_(std::move(pdf)), operators_(operators), callback_(callback) {}

    void handleObject(QPDFObjectHandle object) override {
        if (object.isInlineImage()) {
            inlineData_ = object.getInlineImageValue();
            haveInlineData_ = true;
            return;
        }
        if (!object.isOperator()) {
            // A hostile stream may pile up operands; none of ours needs many.
            if (operands_.size() < kMaxOperands) {
                operands_.push_back(object);
            }
            return;
        }
        const std::string name = object.getOperatorValue();
        if (name == "BI") {
            operands_.clear();
            haveInlineData_ = false;
        } else if (name == "ID") {
            inlineDict_ = operands_;
        } else if (name == "EI") {
            if (haveInlineData_ && Wanted("EI")) {
                const PdfObject image = Wrap(pdf_, MakeInlineImage());
                callback_("EI", std::span<const PdfObject>(&image, 1));
            }
            haveInlineData_ = false;
            inlineDict_.clear();
        } else if (Wanted(name)) {
            std::vector<PdfObject> operands;
            operands.reserve(operands_.size());
            for (const QPDFObjectHandle& operand : operands_) {
                operands.push_back(Wrap(pdf_, operand));
            }
            callback_(name, operands);
        }
        operands_.clear();
    }
    void handleEOF() override {}

private:
    static constexpr std::size_t kMaxOperands = 4096;

    bool Wanted(std::string_view name) const {
        return std::find(operators_.begin(), operators_.end(), name) != operators_.end();
    }

    QPDFObjectHandle MakeInlineImage() {
        QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
        for (std::size_t i = 0; i + 1 < inlineDict_.size(); i += 2) {
            if (!inlineDict_[i].isName()) {
                continue;
            }
            std::string key = inlineDict_[i].getName();
            QPDFObjectHandle value = inlineDict_[i + 1];
            if (key == "/F" || key == "/Filter") {
                key = "/Filter";
                value = ExpandFilterNames(value);
            } else if (key == "/DP") {
                key = "/DecodeParms";
            }
            dict.replaceKey(key, value);
        }
        QPDFObjectHandle stream = QPDFObjectHandle::newStream(pdf_.get(), inlineData_);
        QPDFObjectHandle streamDict = stream.getDict();
        for (const std::string& key : dict.getKeys()) {
            streamDict.replaceKey(key, dict.getKey(key));
        }
        return stream;
    }

    std::shared_ptr<QPDF> pdf_;
    std::span<const std::string_view> operators_;
    const PdfObjectFile::OperatorCallback& callback_;
    std::vector<QPDFObjectHandle> operands_;
    std::vector<QPDFObjectHandle> inlineDict_;
    std::string inlineData_;
    bool haveInlineData_ = false;
};

// Forms inside forms beyond this are over budget (honest files nest a few).
constexpr int kMaxFormNesting = 64;

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max() / 2;
    return a >= kMax || b >= kMax - a ? kMax : a + b;
}

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max() / 2;
    return a != 0 && b > kMax / a ? kMax : a * b;
}

bool IsWhite(std::uint8_t c) { return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32; }

bool IsDelimiter(std::uint8_t c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' ||
           c == '/' || c == '%';
}

// Counts the operators of decoded content and notes what Do draws, in one
// pass: strings, comments, names, numbers and inline image data are passed
// over as the content grammar has them.
ScannedContent ScanOperators(const std::vector<std::uint8_t>& data) {
    ScannedContent scanned;
    const std::size_t n = data.size();
    std::size_t i = 0;
    std::string lastName;
    std::uint64_t inlineWidth = 0, inlineHeight = 0;
    const auto regularEnd = [&](std::size_t from) {
        while (from < n && !IsWhite(data[from]) && !IsDelimiter(data[from])) ++from;
        return from;
    };
    while (i < n) {
        const std::uint8_t c = data[i];
        if (IsWhite(c)) {
            ++i;
        } else if (c == '%') {
            while (i < n && data[i] != '\n' && data[i] != '\r') ++i;
        } else if (c == '(') {
            int depth = 0;
            for (; i < n; ++i) {
                if (data[i] == '\\') {
                    ++i;
                } else if (data[i] == '(') {
                    ++depth;
                } else if (data[i] == ')' && --depth == 0) {
                    ++i;
                    break;
                }
            }
        } else if (c == '<' && i + 1 < n && data[i + 1] != '<') {
            while (i < n && data[i] != '>') ++i;
            ++i;
        } else if (c == '/') {
            const std::size_t end = regularEnd(i + 1);
            lastName.assign(reinterpret_cast<const char*>(data.data()) + i, end - i);
            i = end;
        } else if (IsDelimiter(c)) {
            ++i;
        } else {
            const std::size_t end = regularEnd(i);
            const std::string_view token(reinterpret_cast<const char*>(data.data()) + i, end - i);
            i = end;
            const bool number = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
            if (number) {
                // An inline image's size, as its dictionary states it.
                const double value = std::strtod(std::string(token).c_str(), nullptr);
                const std::uint64_t side = value >= 1.0 && value < 1e12 ? std::uint64_t(value) : 0;
                if (lastName == "/W" || lastName == "/Width") inlineWidth = side;
                if (lastName == "/H" || lastName == "/Height") inlineHeight = side;
                continue;
            }
            if (token == "true" || token == "false" || token == "null") continue;
            ++scanned.cost.operators;
            if (token == "Do" && !lastName.empty()) scanned.drawn.push_back(lastName);
            if (token == "BI") inlineWidth = inlineHeight = 0;
            if (token == "ID") {
                scanned.cost.imageSamples =
                    SaturatingAdd(scanned.cost.imageSamples, SaturatingMultiply(inlineWidth, inlineHeight));
                // Inline image data run to an EI standing alone.
                for (i = i + 1; i + 1 < n; ++i) {
                    if (data[i] == 'E' && data[i + 1] == 'I' && IsWhite(data[i - 1]) &&
                        (i + 2 == n || IsWhite(data[i + 2]))) {
                        i += 2;
                        break;
                    }
                }
                if (i + 1 >= n) i = n;
            }
            lastName.clear();
        }
    }
    return scanned;
}

// Whether `stream` names `filter` among its filters.
bool HasFilter(QPDFObjectHandle stream, const char* filter) {
    QPDFObjectHandle filters = stream.getDict().getKey("/Filter");
    if (filters.isName()) return filters.getName() == filter;
    if (!filters.isArray()) return false;
    for (int i = 0; i < filters.getArrayNItems(); ++i) {
        if (filters.getArrayItem(i).isNameAndEquals(filter)) return true;
    }
    return false;
}

// Content encoded as a JBIG2 bitmap: a renderer decodes the whole bitmap its
// headers declare (a few bytes can declare 100000 x 100000 pixels) and runs
// it as content. The declared size is counted as bytes decoded and, since
// each byte could end an operator, as operators; what such content draws
// is not followed, so none is kept. False when the stream is not JBIG2.
bool CountJbig2Content(PdfContentWork& work, QPDFObjectHandle stream, ScannedContent* scanned) {
    if (!HasFilter(stream, "/JBIG2Decode")) return false;
    std::uint64_t declared = std::numeric_limits<std::uint64_t>::max() / 2;
    std::vector<std::uint8_t> encoded;
    // The filters before JBIG2Decode are undone first (within the budget).
    QPDFObjectHandle filters = stream.getDict().getKey("/Filter");
    if (filters.isName() || (filters.isArray() && filters.getArrayNItems() == 1)) {
        const std::shared_ptr<Buffer> raw = stream.getRawStreamData();
        if (raw) declared = Jbig2DeclaredBytes(std::span<const std::uint8_t>(raw->getBuffer(), raw->getSize()));
    }
    if (declared > work.bytesBudget - work.bytesDecoded) {
        work.exhausted = true;
        return true;
    }
    work.bytesDecoded += declared;
    scanned->cost.operators = declared;
    return true;
}

// Decodes a content stream once, within what is left of the byte budget.
const ScannedContent& ScanStream(PdfContentWork& work, QPDFObjectHandle stream) {
    static const ScannedContent kNothing;
    if (!stream.isStream()) return kNothing;
    const QPDFObjGen id = stream.getObjGen();
    auto found = work.streams.find(id);
    if (found != work.streams.end()) return found->second;
    ScannedContent bitmap;
    if (CountJbig2Content(work, stream, &bitmap)) return work.exhausted ? kNothing : (work.streams[id] = bitmap);
    std::vector<std::uint8_t> data;
    LimitedSink sink(&data, work.bytesBudget - work.bytesDecoded);
    try {
        stream.pipeStreamData(&sink, 0, qpdf_dl_generalized, true, false);
    } catch (const std::exception&) {
        // Broken data end the content where they break, as in a renderer.
    }
    work.bytesDecoded += data.size();
    if (sink.overflowed()) {
        work.exhausted = true;
        return kNothing;
    }
    return work.streams[id] = ScanOperators(data);
}

void AddCost(ContentCost& to, const ContentCost& cost) {
    to.operators = SaturatingAdd(to.operators, cost.operators);
    to.imageSamples = SaturatingAdd(to.imageSamples, cost.imageSamples);
}

// Measures of forms that could not be kept, per file, before the walk
// counts as runaway: forms that draw each other in cycles are measured
// again on every path, as a renderer draws them, and twelve forms that
// each draw all the others have billions of paths.
constexpr std::uint64_t kMaxFormsWalkedAgain = std::uint64_t(1) << 16;

ContentCost DrawnCost(PdfContentWork& work, QPDFObjectHandle resources, const std::string& name, int depth);

// What a form runs each time it is drawn, the forms it draws included. A
// form drawn while it is being drawn (it draws itself, or P draws Q draws
// P) is skipped there, as a renderer skips it: counted once, by its Do.
// Memoised, so that a form drawn a million times is measured once; a form
// whose measure was cut by a cycle through a form further out depends on
// the path it was reached by and is measured again on the next one.
ContentCost FormCost(PdfContentWork& work, QPDFObjectHandle form, QPDFObjectHandle inherited, int depth) {
    const QPDFObjGen id = form.getObjGen();
    if (auto found = work.formCosts.find(id); found != work.formCosts.end()) return found->second;
    if (auto drawing = work.formsInWalk.find(id); drawing != work.formsInWalk.end()) {
        work.shallowestCut = std::min(work.shallowestCut, drawing->second);
        return {};
    }
    if (depth > kMaxFormNesting || work.formsWalkedAgain > kMaxFormsWalkedAgain) {
        work.exhausted = true;
        return {};
    }
    work.formsInWalk.emplace(id, depth);
    const int outerCut = std::exchange(work.shallowestCut, std::numeric_limits<int>::max());
    const ScannedContent scanned = ScanStream(work, form);
    QPDFObjectHandle resources = form.getDict().getKey("/Resources");
    if (!resources.isDictionary()) resources = inherited;
    ContentCost cost = scanned.cost;
    for (const std::string& name : scanned.drawn) {
        if (work.exhausted) break;
        AddCost(cost, DrawnCost(work, resources, name, depth + 1));
    }
    work.formsInWalk.erase(id);
    if (work.shallowestCut >= depth) {
        work.formCosts[id] = cost;
    } else {
        ++work.formsWalkedAgain;
    }
    work.shallowestCut = std::min(outerCut, work.shallowestCut);
    return cost;
}

std::uint64_t IntegerOr(QPDFObjectHandle dict, const char* key, std::uint64_t fallback) {
    QPDFObjectHandle value = dict.getKey(key);
    return value.isInteger() && value.getIntValue() > 0 ? std::uint64_t(value.getIntValue()) : fallback;
}

// The samples a renderer decodes to draw an image XObject: the image's and
// those of its mask.
std::uint64_t ImageSamples(QPDFObjectHandle image) {
    QPDFObjectHandle dict = image.getDict();
    std::uint64_t samples = SaturatingMultiply(IntegerOr(dict, "/Width", 0), IntegerOr(dict, "/Height", 0));
    for (const char* key : {"/SMask", "/Mask"}) {
        QPDFObjectHandle mask = dict.getKey(key);
        if (!mask.isStream()) continue;
        QPDFObjectHandle m = mask.getDict();
        samples = SaturatingAdd(samples, SaturatingMultiply(IntegerOr(m, "/Width", 0), IntegerOr(m, "/Height", 0)));
    }
    return samples;
}

ContentCost DrawnCost(PdfContentWork& work, QPDFObjectHandle resources, const std::string& name, int depth) {
    ContentCost cost{1, 0};  // the Do itself
    if (!resources.isDictionary()) return cost;
    QPDFObjectHandle xobjects = resources.getKey("/XObject");
    if (!xobjects.isDictionary()) return cost;
    QPDFObjectHandle xobject = xobjects.getKey(name);
    if (!xobject.isStream()) return cost;
    QPDFObjectHandle subtype = xobject.getDict().getKey("/Subtype");
    if (subtype.isNameAndEquals("/Image")) {
        cost.imageSamples = ImageSamples(xobject);
    } else if (subtype.isNameAndEquals("/Form")) {
        AddCost(cost, FormCost(work, xobject, resources, depth));
    }
    return cost;
}

}  // namespace

// --- PdfObject --------------------------------------------------------------------

PdfObject::PdfObject() = default;
PdfObject::~PdfObject() = default;
PdfObject::PdfObject(const PdfObject&) = default;
PdfObject& PdfObject::operator=(const PdfObject&) = default;
PdfObject::PdfObject(PdfObject&&) noexcept = default;
PdfObject& PdfObject::operator=(PdfObject&&) noexcept = default;
PdfObject::PdfObject(std::shared_ptr<const Handle> handle) : handle_(std::move(handle)) {}

PdfObjectType PdfObject::GetType() const {
    if (!handle_) {
        return PdfObjectType::Null;
    }
    try {
        QPDFObjectHandle& o = handle_->object;
        if (o.isBool()) return PdfObjectType::Boolean;
        if (o.isInteger()) return PdfObjectType::Integer;
        if (o.isReal()) return PdfObjectType::Real;
        if (o.isName()) return PdfObjectType::Name;
        if (o.isString()) return PdfObjectType::String;
        if (o.isArray()) return PdfObjectType::Array;
        if (o.isDictionary()) return PdfObjectType::Dictionary;
        if (o.isStream()) return PdfObjectType::Stream;
    } catch (const std::exception&) {
    }
    return PdfObjectType::Null;
}

bool PdfObject::IsNumber() const {
    const PdfObjectType type = GetType();
    return type == PdfObjectType::Integer || type == PdfObjectType::Real;
}

bool PdfObject::GetBoolean(bool* value) const {
    if (GetType() != PdfObjectType::Boolean) return false;
    *value = handle_->object.getBoolValue();
    return true;
}

bool PdfObject::GetInteger(std::int64_t* value) const {
    if (GetType() != PdfObjectType::Integer) return false;
    *value = handle_->object.getIntValue();
    return true;
}

bool PdfObject::GetNumber(double* value) const {
    if (!IsNumber()) return false;
    try {
        *value = handle_->object.getNumericValue();
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool PdfObject::GetName(std::string* value) const {
    if (GetType() != PdfObjectType::Name) return false;
    const std::string name = handle_->object.getName();
    *value = name.empty() ? name : name.substr(1);
    return true;
}

bool PdfObject::GetString(std::string* value) const {
    if (GetType() != PdfObjectType::String) return false;
    *value = handle_->object.getStringValue();
    return true;
}

std::size_t PdfObject::GetArrayCount() const {
    if (GetType() != PdfObjectType::Array) return 0;
    return static_cast<std::size_t>(std::max(0, handle_->object.getArrayNItems()));
}

PdfObject PdfObject::GetArrayObject(std::size_t index) const {
    if (index >= GetArrayCount() || index > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return {};
    }
    try {
        return Wrap(handle_->pdf, handle_->object.getArrayItem(static_cast<int>(index)));
    } catch (const std::exception&) {
        return {};
    }
}

std::vector<std::string> PdfObject::GetDictionaryKeys() const {
    std::vector<std::string> keys;
    const PdfObjectType type = GetType();
    if (type != PdfObjectType::Dictionary && type != PdfObjectType::Stream) return keys;
    try {
        QPDFObjectHandle dict = type == PdfObjectType::Stream ? handle_->object.getDict() : handle_->object;
        for (const std::string& key : dict.getKeys()) {
            keys.push_back(key.empty() ? key : key.substr(1));
        }
    } catch (const std::exception&) {
        keys.clear();
    }
    return keys;
}

PdfObject PdfObject::GetDictionaryObject(std::string_view key) const {
    const PdfObjectType type = GetType();
    if (type != PdfObjectType::Dictionary && type != PdfObjectType::Stream) return {};
    try {
        QPDFObjectHandle dict = type == PdfObjectType::Stream ? handle_->object.getDict() : handle_->object;
        return Wrap(handle_->pdf, dict.getKey("/" + std::string(key)));
    } catch (const std::exception&) {
        return {};
    }
}

PdfObject PdfObject::GetStreamDictionary() const {
    if (GetType() != PdfObjectType::Stream) return {};
    try {
        return Wrap(handle_->pdf, handle_->object.getDict());
    } catch (const std::exception&) {
        return {};
    }
}

bool PdfObject::CopyStreamData(std::vector<std::uint8_t>* data, PdfDataFormat* format, std::size_t limit) const {
    if (GetType() != PdfObjectType::Stream) return false;
    try {
        return CopyStream(handle_->pdf, handle_->object, data, format, limit);
    } catch (const std::exception&) {
        return false;
    }
}

std::int64_t PdfObject::GetObjectNumber() const {
    if (!handle_) return 0;
    return handle_->object.getObjectID();
}

// --- PdfObjectFile ----------------------------------------------------------------

PdfObjectFile::PdfObjectFile() : state_(std::make_unique<State>()) {}
PdfObjectFile::~PdfObjectFile() = default;

std::unique_ptr<PdfObjectFile> PdfObjectFile::Open(const std::string& path, const std::string& password) {
    // Regular files only, so a FIFO or device never blocks.
    const auto contents = FileManager::contentsOfFile(path, std::uint64_t(std::numeric_limits<int>::max()));
    if (!contents || contents->empty()) return nullptr;
    return OpenData(std::make_shared<const std::vector<char>>(contents->begin(), contents->end()), password);
}

std::unique_ptr<PdfObjectFile> PdfObjectFile::OpenData(std::shared_ptr<const std::vector<char>> bytes,
                                                       const std::string& password) {
    if (!bytes || bytes->empty()) return nullptr;
    const auto attempt = [&](const std::string& pw) -> std::unique_ptr<PdfObjectFile> {
        try {
            std::unique_ptr<PdfObjectFile> file(new PdfObjectFile());
            file->state_->bytes = bytes;
            std::unique_ptr<QPDF> opened = OpenQpdf(std::span<const char>(*bytes), pw);
            if (!opened) return nullptr;
            file->state_->pdf = std::move(opened);
            for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(*file->state_->pdf).getAllPages()) {
                file->state_->pages.push_back(page.getObjectHandle());
            }
            return file;
        } catch (const std::exception&) {
            return nullptr;
        }
    };
    std::unique_ptr<PdfObjectFile> file = attempt(password);
    if (!file && !password.empty()) {
        file = attempt({});
    }
    return file;
}

int PdfObjectFile::GetPageCount() const { return static_cast<int>(state_->pages.size()); }

PdfObject PdfObjectFile::GetPage(int pageNumber) const {
    if (pageNumber < 1 || pageNumber > GetPageCount()) return {};
    return Wrap(state_->pdf, state_->pages[static_cast<std::size_t>(pageNumber - 1)]);
}

PdfObject PdfObjectFile::GetPageAttribute(int pageNumber, std::string_view key) const {
    if (pageNumber < 1 || pageNumber > GetPageCount()) return {};
    try {
        QPDFPageObjectHelper page(state_->pages[static_cast<std::size_t>(pageNumber - 1)]);
        return Wrap(state_->pdf, page.getAttribute("/" + std::string(key), false));
    } catch (const std::exception&) {
        return {};
    }
}

bool PdfObjectFile::IsPageContentWithinBudget(int pageNumber) const {
    if (pageNumber < 1 || pageNumber > GetPageCount()) return false;
    const QPDFObjGen page = state_->pages[static_cast<std::size_t>(pageNumber - 1)].getObjGen();
    return IsPageObjectContentWithinBudget(page.getObj(), page.getGen());
}

bool PdfObjectFile::IsPageObjectContentWithinBudget(std::int64_t objectNumber, int generation,
                                                    std::uint64_t* imageSamples) const {
    if (imageSamples) *imageSamples = 0;
    if (objectNumber < 1 || objectNumber > std::numeric_limits<int>::max() || generation < 0) return false;
    if (!state_->work) {
        state_->work = std::make_unique<PdfContentWork>();
        state_->work->bytesBudget = SaturatingAdd(
            kPdfContentBytesFloor, kPdfContentBytesPerFileByte * std::uint64_t(state_->bytes ? state_->bytes->size() : 0));
    }
    PdfContentWork& work = *state_->work;
    const QPDFObjGen id(static_cast<int>(objectNumber), generation);
    if (auto known = work.pages.find(id); known != work.pages.end()) {
        if (imageSamples) *imageSamples = known->second.imageSamples;
        return known->second.within;
    }
    ContentCost cost;
    bool page = false;
    try {
        QPDFObjectHandle object = state_->pdf->getObject(id);
        page = object.isDictionary();
        if (page) {
            QPDFPageObjectHelper helper(object);
            const QPDFObjectHandle resources = helper.getAttribute("/Resources", false);
            for (const QPDFObjectHandle& content : helper.getPageContents()) {
                const ScannedContent scanned = ScanStream(work, content);
                AddCost(cost, scanned.cost);
                for (const std::string& name : scanned.drawn) {
                    if (work.exhausted) break;
                    AddCost(cost, DrawnCost(work, resources, name, 1));
                }
            }
        }
        work.operatorsRun = SaturatingAdd(work.operatorsRun, cost.operators);
    } catch (const std::exception&) {
        // A page qpdf cannot read runs no contents.
    }
    const bool within = page && !work.exhausted &&
                        work.operatorsRun <= SaturatingAdd(kPdfOperatorsFloor,
                                                           kPdfOperatorsPerContentByte * work.bytesDecoded);
    work.pages[id] = {within, cost.imageSamples};
    if (imageSamples) *imageSamples = cost.imageSamples;
    return within;
}

bool PdfObjectFile::ScanPageContent(int pageNumber, std::span<const std::string_view> operators,
                                    const OperatorCallback& onOperator) const {
    if (pageNumber < 1 || pageNumber > GetPageCount()) return false;
    try {
        QPDFPageObjectHelper page(state_->pages[static_cast<std::size_t>(pageNumber - 1)]);
        ContentScanner scanner(state_->pdf, operators, onOperator);
        page.parseContents(&scanner);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace plat
