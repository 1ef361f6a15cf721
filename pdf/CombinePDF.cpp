#include "pdf/CombinePDF.h"

#include "common/KSMUtil.h"
#include "platform/FileManager.h"

#include <cmath>
#include <exception>
#include <memory>
#include <utility>

void RotatePDFPage(plat::PdfWriter& document, std::size_t index, double angle) {
    if (!std::isfinite(angle) || angle == 0.0 || angle < -270.0 || angle > 270.0) return;
    const int turn = static_cast<int>(angle);
    if (turn != angle || turn % 90 != 0) return;
    int rotation = document.pageRotation(index) + turn;
    if (rotation >= 360) rotation -= 360;
    if (rotation < -359) rotation += 360;
    document.setPageRotation(index, rotation);
}

namespace {

// The page makers of images and documents, with this record's layout.
struct InputMakers {
    PDFMaker image;
    DocumentPDFMaker document;

    explicit InputMakers(const CombinePDFOptions& o) {
        InitPDFMaker(&image);
        SetPDFMakerLayout(&image, o.quality, o.imageType, o.colorMode, o.pageSizeMode, o.paperWidth, o.paperHeight,
                          o.marginLeft, o.marginRight, o.marginTop, o.marginBottom, o.orientation, o.scalePercent,
                          o.maxResolution, o.writeOptions);
        SetPDFMakerProgressTarget(&image, o.progress.target, o.progress.selector);
        InitDocumentPDFMaker(&document);
        SetDocumentPDFMakerLayout(&document, o.orientation, o.writeOptions, o.textAttributes, o.styleRichText,
                                  o.paperWidth, o.paperHeight, o.marginLeft, o.marginRight, o.marginTop,
                                  o.marginBottom);
        SetDocumentPDFMakerProgressTarget(&document, o.progress.target, o.progress.selector);
    }
    ~InputMakers() {
        ReleasePDFMaker(&image);
        ReleaseDocumentPDFMaker(&document);
    }
    InputMakers(const InputMakers&) = delete;
    InputMakers& operator=(const InputMakers&) = delete;
};

// A PDF input opened for its pages: readable, unlocked by its password and
// letting its reader print. Null otherwise.
std::unique_ptr<plat::PdfWriter> OpenPDFInput(const PDFInputFile& entry) {
    if (!plat::FileManager::isRegularFile(entry.filePath)) return nullptr;
    auto document = plat::PdfWriter::Open(entry.filePath, entry.password);
    if (!document || !document->allowsPrinting()) return nullptr;
    return document;
}

int CombinePDFInput(const CombinePDFOptions& o, const PDFInputFile& entry, const std::filesystem::path& output) {
    if (!plat::FileManager::fileExists(entry.filePath)) return 0;
    auto document = OpenPDFInput(entry);
    if (document && document->pageCount() > 0) {
        for (std::size_t page = 0; page < document->pageCount(); ++page) RotatePDFPage(*document, page, entry.angle);
        if (WritePDFWithOptions(*document, output, o.writeOptions)) return 1;
    }
    // The input unchanged stands in for a conversion that failed.
    return plat::FileManager::copyItem(entry.filePath, output) ? 1 : 0;
}

int CombineImageInput(PDFMaker& maker, const PDFInputFile& entry, const std::filesystem::path& output) {
    plat::PdfWriter document;
    if (!DrawImageOnPDFPage(&maker, entry.filePath, &document, 0, entry.angle)) return 0;
    return WritePDFWithOptions(document, output, maker.writeOptions);
}

std::string OutlineLabel(const std::filesystem::path& file) { return GetFileBaseNameString(file); }

void ShiftOutline(std::vector<plat::PdfOutlineItem>& items, int offset) {
    for (auto& item : items) {
        if (item.pageIndex >= 0) item.pageIndex += offset;
        ShiftOutline(item.children, offset);
    }
}

// The outline entry of one input, pointing at the top of its first page.
plat::PdfOutlineItem FileOutlineItem(plat::PdfWriter& combined, std::size_t page, const std::filesystem::path& file,
                                     std::vector<plat::PdfOutlineItem> children = {}) {
    plat::PdfOutlineItem item;
    item.title = OutlineLabel(file);
    item.pageIndex = static_cast<int>(page);
    // The top left corner of the page.
    const plat::PdfBox crop = combined.pageCropBox(page);
    item.left = 0.0;
    item.top = crop.y + crop.height;
    item.children = std::move(children);
    return item;
}

}  // namespace

int CombinePDFsPerFile(const CombinePDFOptions* options) {
    if (!options) return 0;
    const CombinePDFOptions& o = *options;
    InputMakers makers(o);
    int result = 0;
    const bool finished = ForEachPDFInput(o.files, o.progress, [&](const PDFInputFile& entry) {
        if (entry.fileType != kPDFInputImage && entry.fileType != kPDFInputDocument && entry.fileType != kPDFInputPDF) {
            return;
        }
        const std::filesystem::path output = GetUniqueFileURLForFile(o.destination, entry.filePath, "pdf", false);
        if (output.empty()) {
            result = 0;
        } else if (entry.fileType == kPDFInputPDF) {
            result = CombinePDFInput(o, entry, output);
        } else if (entry.fileType == kPDFInputDocument) {
            result = PrintDocumentToPDF(&makers.document, entry.filePath, output);
        } else {
            result = CombineImageInput(makers.image, entry, output);
        }
    });
    return finished ? result : 0;
}

int CombinePDFsIntoOne(const CombinePDFOptions* options) {
    if (!options) return 0;
    const CombinePDFOptions& o = *options;
    InputMakers makers(o);

    plat::PdfWriter combined;
    std::vector<plat::PdfOutlineItem> outline;
    // Pages copied from an input refer to it until the whole is written.
    std::vector<std::unique_ptr<plat::PdfWriter>> sources;
    const bool finished = ForEachPDFInput(o.files, o.progress, [&](const PDFInputFile& entry) {
        const std::size_t first = combined.pageCount();
        if (entry.fileType == kPDFInputDocument) {
            if (AppendDocumentPages(&makers.document, entry.filePath, combined, sources, true) > 0) {
                outline.push_back(FileOutlineItem(combined, first, entry.filePath));
            }
        } else if (entry.fileType == kPDFInputImage) {
            if (DrawImageOnPDFPage(&makers.image, entry.filePath, &combined, first, entry.angle)) {
                outline.push_back(FileOutlineItem(combined, first, entry.filePath));
            }
        } else if (entry.fileType == kPDFInputPDF) {
            auto source = OpenPDFInput(entry);
            if (!source || source->pageCount() == 0) return;
            std::vector<plat::PdfOutlineItem> children = source->outline();
            for (std::size_t page = 0; page < source->pageCount(); ++page) {
                if (combined.insertPage(*source, page, combined.pageCount())) {
                    RotatePDFPage(combined, combined.pageCount() - 1, entry.angle);
                }
            }
            if (combined.pageCount() > first) {
                ShiftOutline(children, static_cast<int>(first));
                outline.push_back(FileOutlineItem(combined, first, entry.filePath, std::move(children)));
            }
            sources.push_back(std::move(source));
        }
    });
    // A cancelled job writes nothing.
    if (!finished) return 0;
    if (!outline.empty()) combined.setOutline(std::move(outline));
    return WriteFinishedPDF(combined, o.destination, o.writeOptions, o.progress);
}

int CombinePDFFiles(const CombinePDFOptions* options) {
    if (!options || options->files.empty() || options->destination.empty()) return 0;
    try {
        return options->combine ? CombinePDFsIntoOne(options) : CombinePDFsPerFile(options);
    } catch (const std::exception&) {
        return 0;
    }
}
