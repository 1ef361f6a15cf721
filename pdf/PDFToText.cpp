#include "pdf/PDFToText.h"

#include "common/KSMUtil.h"
#include "pdf/TextDocumentWriters.h"
#include "platform/PdfObject.h"

#include <string>
#include <exception>

void OpenPDFForTextExtraction(PDFTextExtractor* extractor, const PDFTextConversion* conversion) {
    if (!extractor || !conversion) throw kPDFTextOpenError;
    extractor->conversion = conversion;
    extractor->document = plat::PdfDocument::Open(conversion->sourceURL.string());
    if (!extractor->document) throw kPDFTextOpenError;
    if (extractor->document->IsEncrypted() && extractor->document->IsLocked()) {
        // A wrong password is no error: the document is read as it is.
        extractor->document->Unlock(conversion->password);
    }
}

void InitPDFTextExtractor(PDFTextExtractor* extractor, const PDFTextConversion* conversion) {
    OpenPDFForTextExtraction(extractor, conversion);
}

void ReleasePDFTextExtractor(PDFTextExtractor* extractor) {
    if (extractor) extractor->document.reset();
}

void ReleasePDFTextExtractorTwin(PDFTextExtractor* extractor) { ReleasePDFTextExtractor(extractor); }

bool WriteTextDocument(PDFTextExtractor* extractor, const std::filesystem::path& url, const QString& text) {
    if (!extractor || !extractor->conversion || url.empty()) return false;
    switch (extractor->conversion->documentType) {
    case kPDFTextUTF8: return WriteUTF8TextDocument(url, text);
    case kPDFTextUTF16: return WriteUTF16TextDocument(url, text);
    case kPDFTextRTF: return WriteRTFDocument(url, text);
    case kPDFTextRTFD: return WriteRTFDDocument(url, text);
    case kPDFTextWord: return WriteWordDocument(url, text);
    case kPDFTextOfficeOpenXML: return WriteDOCXDocument(url, text);
    case kPDFTextOpenDocument: return WriteODTDocument(url, text);
    default: return false;
    }
}

namespace {

int DecimalDigits(int number) {
    int digits = 1;
    while (number >= 10) {
        number /= 10;
        ++digits;
    }
    return digits;
}

// Whitespace, newlines and the object replacement character only.
bool IsEmptyOnceTrimmed(const QString& text) {
    for (QChar c : text) {
        if (!c.isSpace() && c != QChar(0xFFFC)) return false;
    }
    return true;
}

}  // namespace

int ExtractPDFText(PDFTextExtractor* extractor) {
    if (!extractor || !extractor->conversion || !extractor->document) return 0;
    const PDFTextConversion& c = *extractor->conversion;
    const plat::PdfDocument& document = *extractor->document;
    const int count = document.GetPageCount();
    // The page number is padded to as many digits as the page count has.
    const int digits = DecimalDigits(count);

    // 0-based pages from start up to (not including) end.
    std::int64_t start = 0, end = count;
    if (c.pageRangeMode == 1 || c.pageRangeMode == 2) {
        if (c.firstPage < 1 || c.firstPage > count) return 0;
        start = c.firstPage - 1;
        end = c.pageRangeMode == 1 ? c.firstPage : (c.lastPage >= 1 && c.lastPage <= count ? c.lastPage : count);
    }
    const std::string baseName = c.baseName.empty() ? GetFileBaseNameString(c.sourceURL) : c.baseName;

    // A page whose contents would take more work than any honest page (a
    // huge content stream, forms that draw each other thousands of times)
    // fails the run before anything is written.
    for (std::int64_t i = start; i < end; ++i) {
        if (!document.IsPageWithinBudget(static_cast<int>(i) + 1)) return 0;
    }

    int result = 0;
    QString joined;
    bool gathered = false;
    for (std::int64_t i = start; i < end; ++i) {
        if (c.progress.target) {
            if (c.progress.isCancelled()) break;
            c.progress.report(i + 1);
        }
        const QString text = QString::fromStdString(document.GetPageText(static_cast<int>(i) + 1));
        if (text.size() < 20 && IsEmptyOnceTrimmed(text)) continue;
        if (c.perPage) {
            std::string number = std::to_string(i + 1);
            if (static_cast<int>(number.size()) < digits) number.insert(0, digits - number.size(), '0');
            const std::filesystem::path url =
                GetUniqueFileURL(c.destinationFolder, baseName + "-" + number, c.extension, false);
            if (WriteTextDocument(extractor, url, text)) result = 1;
        } else {
            joined += text;
            gathered = true;
        }
    }
    if (!c.perPage && gathered) {
        const std::filesystem::path url = GetUniqueFileURL(c.destinationFolder, baseName, c.extension, false);
        result = WriteTextDocument(extractor, url, joined) ? 1 : 0;
    }
    return result;
}

int ConvertPDFToTextDocument(const PDFTextConversion* conversion) {
    PDFTextExtractor extractor;
    InitPDFTextExtractor(&extractor, conversion);
    int result = 0;
    try {
        result = ExtractPDFText(&extractor);
    } catch (const std::exception&) {
        result = 0;
    }
    ReleasePDFTextExtractor(&extractor);
    return result;
}
