#include "pdf/DocumentsToPDF.h"

#include "common/KSMUtil.h"
#include "engine/ImageTypes.h"
#include "pdf/TextDocumentReader.h"
#include "platform/FileManager.h"
#include "platform/TypeIdentifier.h"

#include <QAbstractTextDocumentLayout>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

void InitDocumentPDFMaker(DocumentPDFMaker* maker) {
    if (maker) maker->combinedMode = 0;
}

void InitDocumentPDFMakerTwin(DocumentPDFMaker* maker) { InitDocumentPDFMaker(maker); }

void ReleaseDocumentPDFMaker(DocumentPDFMaker* maker) {
    if (maker) maker->destination.clear();
}

void ReleaseDocumentPDFMakerTwin(DocumentPDFMaker* maker) { ReleaseDocumentPDFMaker(maker); }

void SetDocumentPDFMakerOptions(DocumentPDFMaker* maker, const DocumentsToPDFOptions& options) {
    if (!maker) return;
    maker->files = options.files;
    maker->destination = options.destination;
    maker->progress = options.progress;
    maker->styleRichText = options.styleRichText;
    maker->paperWidth = options.paperWidth;
    maker->paperHeight = options.paperHeight;
    maker->marginLeft = options.marginLeft;
    maker->marginRight = options.marginRight;
    maker->marginTop = options.marginTop;
    maker->marginBottom = options.marginBottom;
    maker->orientation = options.orientation;
    maker->writeOptions = options.writeOptions;
    maker->textAttributes = options.textAttributes;
}

void SetDocumentPDFMakerLayout(DocumentPDFMaker* maker, std::int64_t orientation,
                               const plat::PdfWriteOptions& writeOptions, const TextAttributes& textAttributes,
                               std::uint8_t styleRichText, double paperWidth, double paperHeight, double marginLeft,
                               double marginRight, double marginTop, double marginBottom) {
    if (!maker) return;
    maker->files.clear();
    maker->destination.clear();
    maker->orientation = orientation;
    maker->writeOptions = writeOptions;
    maker->textAttributes = textAttributes;
    maker->styleRichText = styleRichText;
    maker->paperWidth = paperWidth;
    maker->paperHeight = paperHeight;
    maker->marginLeft = marginLeft;
    maker->marginRight = marginRight;
    maker->marginTop = marginTop;
    maker->marginBottom = marginBottom;
}

void SetDocumentPDFMakerProgressTarget(DocumentPDFMaker* maker, std::shared_ptr<ProgressTarget> target,
                                       ProgressSelector selector) {
    if (!maker) return;
    maker->progress.target = std::move(target);
    maker->progress.selector = selector;
}

int WritePDFDocument(plat::PdfWriter& document, const std::filesystem::path& url) {
    return WritePDFWithOptions(document, url, {});
}

int IsHTMLFile(const std::filesystem::path& url) {
    if (url.empty()) return 0;
    if (GetTextDocumentTypeForUTI(plat::TypeIdentifier::forPath(url)) == 3) return 1;
    const std::string extension = url.extension().string();
    for (const char* html : {".html", ".HTML", ".htm", ".HTM"}) {
        if (extension == html) return 1;
    }
    return 0;
}

namespace {

// Characters of UTF-8 text.
std::size_t CharacterCount(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Device units per point of the PDF painter.
constexpr int kPrintResolution = 1200;

bool PrintToFile(const DocumentPDFMaker* m, const std::filesystem::path& documentURL,
                 const std::filesystem::path& pdfURL) {
    // Fonts and painting need the application object of a GUI.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    double paperWidth = m->paperWidth, paperHeight = m->paperHeight;
    if (m->orientation == 1) std::swap(paperWidth, paperHeight);
    const double layoutWidth = paperWidth - m->marginLeft - m->marginRight;
    const double layoutHeight = paperHeight - m->marginTop - m->marginBottom;
    if (!(layoutWidth > 0.0 && layoutHeight > 0.0) || !std::isfinite(layoutWidth) || !std::isfinite(layoutHeight) ||
        paperWidth > 14400.0 || paperHeight > 14400.0 || m->marginLeft < 0.0 || m->marginTop < 0.0 ||
        m->marginRight < 0.0 || m->marginBottom < 0.0) {
        return false;
    }

    BoundedTextDocument document;
    bool richText = false;
    if (!ReadTextDocument(documentURL, document, &richText)) return false;
    if (!richText || m->styleRichText) {
        QTextCursor cursor(&document);
        cursor.select(QTextCursor::Document);
        cursor.mergeCharFormat(m->textAttributes.character);
        cursor.mergeBlockFormat(m->textAttributes.paragraph);
    }

    QPdfWriter writer(QString::fromStdString(pdfURL.string()));
    writer.setCreator(QStringLiteral("Vantrell"));
    // An HTML document's <title> names the PDF too (viewers show it as the window title).
    writer.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
    writer.setResolution(kPrintResolution);
    const QPageLayout layout(QPageSize(QSizeF(paperWidth, paperHeight), QPageSize::Point, QString(),
                                       QPageSize::ExactMatch),
                             QPageLayout::Portrait,
                             QMarginsF(m->marginLeft, m->marginTop, m->marginRight, m->marginBottom),
                             QPageLayout::Point);
    if (!writer.setPageLayout(layout)) return false;

    const double scale = kPrintResolution / 72.0;
    const QSizeF page(layoutWidth * scale, layoutHeight * scale);
    document.documentLayout()->setPaintDevice(&writer);
    document.setDocumentMargin(0);
    document.setPageSize(page);
    QPainter painter;
    if (!painter.begin(&writer)) return false;
    const int pages = std::max(1, document.pageCount());
    for (int i = 0; i < pages; ++i) {
        if (i > 0) writer.newPage();
        painter.save();
        painter.translate(0, -page.height() * i);
        document.drawContents(&painter, QRectF(QPointF(0, page.height() * i), page));
        painter.restore();
    }
    return painter.end();
}

}  // namespace

int IsBlankPDFPage(const plat::PdfDocument* document, int pageNumber) {
    if (!document) return 0;
    plat::PdfPageInfo info;
    if (!document->GetPageInfo(pageNumber, info)) return 0;
    std::string text = document->GetPageText(pageNumber);
    // The line end after the page's last line is no character of the page.
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (CharacterCount(text) > 5) return 0;
    const plat::PdfBox box = info.cropBox.IsEmpty() ? info.mediaBox : info.cropBox;
    int width = static_cast<int>(box.width / 2.0);
    int height = static_cast<int>(box.height / 2.0);
    if ((info.rotation / 90) % 2 != 0) std::swap(width, height);
    if (width <= 0 || height <= 0) return 1;
    plat::PdfPageBitmap bitmap;
    if (!document->RenderPage(pageNumber, 0.5, width, height, plat::PdfPixelFormat::Rgb, bitmap)) return 0;
    return std::all_of(bitmap.pixels.begin(), bitmap.pixels.end(), [](std::uint8_t v) { return v == 255; }) ? 1 : 0;
}

int PrintDocumentToPDF(DocumentPDFMaker* maker, const std::filesystem::path& documentURL,
                       const std::filesystem::path& outputURL) {
    if (!maker || documentURL.empty() || outputURL.empty()) return 0;
    const std::filesystem::path printed = GetTemporaryURL();
    if (printed.empty()) return 0;
    int result = 0;
    try {
        if (PrintToFile(maker, documentURL, printed) && plat::FileManager::isRegularFile(printed)) {
            if (maker->combinedMode) {
                // The combiner removes blank pages itself and writes the whole.
                result = plat::FileManager::moveItemReplacing(printed, outputURL) ? 1 : 0;
            } else {
                auto document = plat::PdfWriter::Open(printed);
                auto pages = plat::PdfDocument::Open(printed.string());
                if (document && pages) {
                    for (int page = pages->GetPageCount(); page >= 1; --page) {
                        if (IsBlankPDFPage(pages.get(), page)) document->removePage(std::size_t(page - 1));
                    }
                    result = WritePDFWithOptions(*document, outputURL, maker->writeOptions);
                }
            }
        }
    } catch (const std::exception&) {
        result = 0;
    }
    if (plat::FileManager::fileExists(printed)) plat::FileManager::removeItem(printed);
    return result;
}

int MakePDFPerDocument(DocumentPDFMaker* maker) {
    if (!maker) return 0;
    maker->combinedMode = 0;
    int result = 1;
    const bool finished = ForEachPDFInput(maker->files, maker->progress, [&](const PDFInputFile& entry) {
        const std::filesystem::path output = GetUniqueFileURLForFile(maker->destination, entry.filePath, "pdf", false);
        result = output.empty() ? 0 : PrintDocumentToPDF(maker, entry.filePath, output);
    });
    return finished ? result : 0;
}

std::size_t AppendDocumentPages(DocumentPDFMaker* maker, const std::filesystem::path& documentURL,
                                plat::PdfWriter& combined, std::vector<std::unique_ptr<plat::PdfWriter>>& sources,
                                bool skipBlankPages) {
    if (!maker) return 0;
    const std::filesystem::path printed = GetTemporaryURL();
    if (printed.empty()) return 0;
    const std::uint8_t mode = maker->combinedMode;
    maker->combinedMode = 1;
    std::size_t appended = 0;
    if (PrintDocumentToPDF(maker, documentURL, printed)) {
        auto source = plat::PdfWriter::Open(printed);
        auto rendered = skipBlankPages ? plat::PdfDocument::Open(printed.string()) : nullptr;
        if (source && (rendered || !skipBlankPages)) {
            for (std::size_t page = 0; page < source->pageCount(); ++page) {
                if (rendered && IsBlankPDFPage(rendered.get(), static_cast<int>(page) + 1)) continue;
                if (combined.insertPage(*source, page, combined.pageCount())) ++appended;
            }
            sources.push_back(std::move(source));
        }
    }
    maker->combinedMode = mode;
    if (plat::FileManager::fileExists(printed)) plat::FileManager::removeItem(printed);
    return appended;
}

int MakeCombinedDocumentPDF(DocumentPDFMaker* maker) {
    if (!maker) return 0;
    maker->combinedMode = 1;
    plat::PdfWriter combined;
    // Appended pages refer to their source until the whole is written.
    std::vector<std::unique_ptr<plat::PdfWriter>> sources;
    const bool finished = ForEachPDFInput(maker->files, maker->progress, [&](const PDFInputFile& entry) {
        AppendDocumentPages(maker, entry.filePath, combined, sources, false);
    });
    if (!finished) return 0;
    return WriteFinishedPDF(combined, maker->destination, maker->writeOptions, maker->progress);
}

int ConvertDocumentsToPDF(const DocumentsToPDFOptions* options) {
    if (!options) return 0;
    DocumentPDFMaker maker;
    InitDocumentPDFMaker(&maker);
    SetDocumentPDFMakerOptions(&maker, *options);
    SetDocumentPDFMakerProgressTarget(&maker, options->progress.target, options->progress.selector);
    int result = 0;
    try {
        result = options->combine ? MakeCombinedDocumentPDF(&maker) : MakePDFPerDocument(&maker);
    } catch (const std::exception&) {
        result = 0;
    }
    ReleaseDocumentPDFMaker(&maker);
    return result;
}
