#pragma once
// The object layer of a PDF file (qpdf underneath): pages with their
// inherited attributes, the objects of the file, stream data and the
// operators of page content streams. Used to look inside PDF files (their
// images); rendering stays with PdfDocument.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

enum class PdfObjectType { Null, Boolean, Integer, Real, Name, String, Array, Dictionary, Stream };

// How CopyStreamData hands the bytes over.
enum class PdfDataFormat : std::int32_t {
    Raw = 0,          // every filter undone
    JpegEncoded = 1,  // all filters undone but a final DCTDecode
    Jpeg2000 = 2,     // all filters undone but a final JPXDecode
};

// Decoded stream data larger than this are refused (a small deflated stream
// can expand enormously).
inline constexpr std::size_t kPdfStreamDataLimit = std::size_t{1} << 30;

// The work budget of page contents (see IsPageContentWithinBudget). Honest
// content streams expand ten to twenty times; forms repeat what they draw a
// few thousand times at most.
inline constexpr std::uint64_t kPdfContentBytesFloor = std::uint64_t(64) << 20;
inline constexpr std::uint64_t kPdfContentBytesPerFileByte = 64;
inline constexpr std::uint64_t kPdfOperatorsFloor = std::uint64_t(32) << 20;
inline constexpr std::uint64_t kPdfOperatorsPerContentByte = 8;

class PdfObjectFile;

// One object of an open file: a cheap handle that keeps the file alive. A
// default-constructed object is the PDF null. Names come without their slash.
class PdfObject {
public:
    PdfObject();
    ~PdfObject();
    PdfObject(const PdfObject&);
    PdfObject& operator=(const PdfObject&);
    PdfObject(PdfObject&&) noexcept;
    PdfObject& operator=(PdfObject&&) noexcept;

    PdfObjectType GetType() const;
    bool IsNull() const { return GetType() == PdfObjectType::Null; }
    bool IsArray() const { return GetType() == PdfObjectType::Array; }
    bool IsDictionary() const { return GetType() == PdfObjectType::Dictionary; }
    bool IsStream() const { return GetType() == PdfObjectType::Stream; }
    bool IsName() const { return GetType() == PdfObjectType::Name; }
    bool IsNumber() const;

    // Each getter answers false, leaving `value` alone, when the object has
    // another type. GetInteger takes integers only; GetNumber integers and reals.
    bool GetBoolean(bool* value) const;
    bool GetInteger(std::int64_t* value) const;
    bool GetNumber(double* value) const;
    bool GetName(std::string* value) const;
    bool GetString(std::string* value) const;  // the bytes as stored (decrypted)

    std::size_t GetArrayCount() const;
    PdfObject GetArrayObject(std::size_t index) const;

    // Dictionary entries; for a stream, its dictionary's. Keys come sorted.
    std::vector<std::string> GetDictionaryKeys() const;
    PdfObject GetDictionaryObject(std::string_view key) const;
    // The dictionary of a stream (null for other objects).
    PdfObject GetStreamDictionary() const;

    // The stream's bytes with its filters undone, except a final DCTDecode or
    // JPXDecode, which is left to the caller (`format` says which). CCITT fax
    // data are decoded to 1-bit rows, black 0 unless BlackIs1 asks otherwise;
    // JBIG2 data (with their JBIG2Globals) to 1-bit rows, black 0.
    // False (nothing stored) for other objects, filters that cannot be undone
    // (Crypt...), broken data and data beyond `limit` bytes.
    bool CopyStreamData(std::vector<std::uint8_t>* data, PdfDataFormat* format,
                        std::size_t limit = kPdfStreamDataLimit) const;

    // The object number of an indirect object, 0 for a direct one.
    std::int64_t GetObjectNumber() const;

    // The layer's own handle; only PdfObject.cpp can make one.
    struct Handle;
    explicit PdfObject(std::shared_ptr<const Handle> handle);

private:
    std::shared_ptr<const Handle> handle_;
};

// A PDF file opened at the object level.
class PdfObjectFile {
public:
    ~PdfObjectFile();
    PdfObjectFile(const PdfObjectFile&) = delete;
    PdfObjectFile& operator=(const PdfObjectFile&) = delete;

    // Opens the bytes with `password`; when that fails, with the empty
    // password, so a file that only an owner password protects opens with
    // every permission. Null when the file cannot be read or stays locked.
    static std::unique_ptr<PdfObjectFile> Open(const std::string& path, const std::string& password = {});
    static std::unique_ptr<PdfObjectFile> OpenData(std::shared_ptr<const std::vector<char>> bytes,
                                                   const std::string& password = {});

    int GetPageCount() const;
    // Pages are numbered from 1; null when the page does not exist.
    PdfObject GetPage(int pageNumber) const;
    // An attribute that a page may inherit from the page tree (Resources,
    // MediaBox, CropBox, Rotate), found on the page or its ancestors.
    PdfObject GetPageAttribute(int pageNumber, std::string_view key) const;

    // Runs through the page's content streams and calls `onOperator` for
    // each operator named in `operators`, with its operands. An inline image
    // comes as the operator "EI" with one operand: a stream whose dictionary
    // is the image's (abbreviated keys as written, filter names spelled out
    // under "Filter" and "DecodeParms") and whose data are the image's.
    // False when the page does not exist or its contents cannot be parsed
    // (operators reported before the fault stay reported).
    using OperatorCallback = std::function<void(std::string_view name, std::span<const PdfObject> operands)>;
    bool ScanPageContent(int pageNumber, std::span<const std::string_view> operators,
                         const OperatorCallback& onOperator) const;

    // True when running the page's contents stays within the file's budget
    // of work: its content streams and form XObjects decode to at most
    // kPdfContentBytesFloor plus kPdfContentBytesPerFileByte times the
    // file's size (all pages together, each stream counted once), and the
    // operators run, forms followed wherever they are drawn, stay within
    // kPdfOperatorsFloor plus kPdfOperatorsPerContentByte times the bytes
    // decoded. A form drawn while it is being drawn (a cycle) is skipped
    // there, as renderers skip it. Content encoded as JBIG2 counts the
    // bitmap its headers declare. Work counts for the whole file, so that a
    // page checked once is cheap to check again and many pages cannot each
    // take a full budget. False also for a page that does not exist.
    bool IsPageContentWithinBudget(int pageNumber) const;
    // The same for the page object numbered `objectNumber` and `generation`
    // (however another reader's page tree reaches it); `imageSamples`, when
    // given, receives the samples of the images the page draws, counted
    // each time one is drawn, forms followed. False for an object that is no
    // dictionary.
    bool IsPageObjectContentWithinBudget(std::int64_t objectNumber, int generation,
                                         std::uint64_t* imageSamples = nullptr) const;

    struct State;

private:
    PdfObjectFile();
    std::unique_ptr<State> state_;
};

}  // namespace plat
