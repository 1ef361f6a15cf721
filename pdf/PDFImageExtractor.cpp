#include "pdf/PDFImageExtractor.h"

#include "engine/Encoding.h"
#include "engine/ImageTypes.h"
#include "engine/WholeFileConversion.h"
#include "pdf/PDFImage.h"
#include "platform/Bundle.h"
#include "platform/PdfDocument.h"
#include "platform/PropertyList.h"

#include <array>
#include <cstdio>
#include <mutex>
#include <string_view>

namespace {

// The word for "page" in file names, from the bundle's string table (the
// key itself when the table lacks it).
const std::string& LocalizedPageWord() {
    static const std::string word = [] {
        const auto path = plat::Bundle::pathForResource("Localizable", "plist");
        if (!path.empty()) {
            if (const auto table = plat::PropertyList::readFile(path)) {
                if (const auto* dict = table->get<plat::PlistValue::Dictionary>()) {
                    const auto it = dict->find("Page");
                    if (it != dict->end()) {
                        if (const auto text = it->second.asString()) return *text;
                    }
                }
            }
        }
        return std::string("Page");
    }();
    return word;
}

std::string PageFilePrefix(const std::filesystem::path& folder, const std::string& baseName, std::int64_t page) {
    return (folder / (baseName + "_" + LocalizedPageWord() + std::to_string(page) + "_")).string();
}

void ReportPage(const PDFImageExtractor* extractor, std::int64_t page) {
    try {
        extractor->progress.report(page);
    } catch (...) {
        // A failing observer must not stop the extraction.
    }
}

}  // namespace

void InitPDFImageExtractor(PDFImageExtractor* extractor) {
    ResetImageConverter(extractor);
    extractor->pageFilePrefix.clear();
    extractor->imageCounter = 0;
    extractor->pageColorSpaces = {};
    extractor->objects.reset();
    extractor->formsInWalk.clear();
    extractor->formsEntered = 0;
    extractor->imagesFailed = 0;
}

void ReleasePDFImageExtractor(PDFImageExtractor* extractor) {
    extractor->objects.reset();
    extractor->pageColorSpaces = {};
    ReleaseImageConverter(extractor);
}

void SetExtractorPageRange(PDFImageExtractor* extractor, std::int32_t mode, std::int64_t first, std::int64_t last) {
    extractor->pageRangeMode = mode;
    extractor->firstPage = first;
    extractor->lastPage = last;
}

int OpenExtractorPDFDocument(PDFImageExtractor* extractor, const std::filesystem::path& url) {
    return OpenConverterPDFDocument(extractor, url);
}

int ExtractImagesFromPDFPages(PDFImageExtractor* extractor) {
    if (!extractor->objects) return 1;
    const auto pages = static_cast<std::uint64_t>(extractor->objects->GetPageCount());
    std::uint64_t start = 1;
    std::uint64_t end = pages;
    const auto first = static_cast<std::uint64_t>(extractor->firstPage);
    if (extractor->pageRangeMode == 2) {
        start = first >= 1 && first <= pages ? first : 1;
        if (extractor->lastPage < 1) extractor->lastPage = 1;
        end = std::min(static_cast<std::uint64_t>(extractor->lastPage), pages);
        start = std::min(start, end);
    } else if (extractor->pageRangeMode == 1) {
        start = end = first <= pages ? first : 1;
    } else if (pages == 0) {
        return 1;
    }

    // Pages whose contents would take more work than any honest page fail
    // the extraction before any image is written.
    for (std::uint64_t p = start; p <= end && p <= pages; ++p) {
        if (p >= 1 && !extractor->objects->IsPageContentWithinBudget(static_cast<int>(p))) return 0;
    }

    const std::filesystem::path folder = extractor->destinationURL;
    const std::string baseName =
        extractor->outputBaseName.empty() ? extractor->sourceURL.stem().string() : extractor->outputBaseName;
    static constexpr std::array<std::string_view, 1> kInlineImageOperator = {"EI"};
    for (std::uint64_t p = start; p <= end; ++p) {
        if (extractor->progress.isCancelled()) return 1;
        ReportPage(extractor, static_cast<std::int64_t>(p));
        extractor->pageFilePrefix = PageFilePrefix(folder, baseName, static_cast<std::int64_t>(p));
        extractor->imageCounter = 1;
        extractor->formsEntered = 0;
        if (p >= 1 && p <= pages) {
            const int page = static_cast<int>(p);
            ExtractPageXObjectImages(extractor, page);
            extractor->objects->ScanPageContent(
                page, kInlineImageOperator, [extractor](std::string_view, std::span<const plat::PdfObject> operands) {
                    if (operands.size() == 1) HandleInlineImageOperator(operands[0], extractor);
                });
        }
        extractor->pageColorSpaces = {};
    }
    // Later writes (if any) go to the folder again, not to the last image's name.
    extractor->destinationURL = folder;
    return 1;
}

void ExtractPageXObjectImages(PDFImageExtractor* extractor, int pageNumber) {
    // Resources may be inherited from the page tree.
    const plat::PdfObject resources = extractor->objects->GetPageAttribute(pageNumber, "Resources");
    if (!resources.IsDictionary()) return;
    const plat::PdfObject colorSpaces = resources.GetDictionaryObject("ColorSpace");
    if (colorSpaces.IsDictionary()) extractor->pageColorSpaces = colorSpaces;
    const plat::PdfObject xobjects = resources.GetDictionaryObject("XObject");
    for (const std::string& key : xobjects.GetDictionaryKeys()) {
        ApplyXObjectEntry(key, xobjects.GetDictionaryObject(key), extractor);
    }
}

void ApplyXObjectEntry(const std::string& /*key*/, const plat::PdfObject& object, PDFImageExtractor* extractor) {
    if (!object.IsStream()) return;
    std::string subtype;
    object.GetDictionaryObject("Subtype").GetName(&subtype);
    if (subtype == "Image") {
        WriteExtractedImage(extractor, object.GetStreamDictionary(), object);
    } else if (subtype == "Form") {
        ExtractFormXObjectImages(extractor, object);
    }
}

void ExtractFormXObjectImages(PDFImageExtractor* extractor, const plat::PdfObject& form) {
    // A form that contains itself, directly or through others, is walked once
    // per path; depth and count stay bounded on hostile files.
    const std::int64_t number = form.GetObjectNumber();
    if ((number != 0 && extractor->formsInWalk.count(number) != 0) ||
        extractor->formsInWalk.size() >= kExtractorMaxFormDepth || extractor->formsEntered >= kExtractorMaxFormsPerPage) {
        return;
    }
    ++extractor->formsEntered;
    if (number != 0) extractor->formsInWalk.insert(number);
    const plat::PdfObject xobjects = form.GetDictionaryObject("Resources").GetDictionaryObject("XObject");
    for (const std::string& key : xobjects.GetDictionaryKeys()) {
        ApplyXObjectEntry(key, xobjects.GetDictionaryObject(key), extractor);
    }
    if (number != 0) extractor->formsInWalk.erase(number);
}

void HandleInlineImageOperator(const plat::PdfObject& inlineImage, PDFImageExtractor* extractor) {
    if (inlineImage.IsStream()) WriteExtractedImage(extractor, inlineImage, inlineImage);
}

void WriteExtractedImage(PDFImageExtractor* extractor, const plat::PdfObject& dictionary,
                         const plat::PdfObject& stream) {
    const plat::ImageRef image = CreateImageFromPDFStream(extractor, dictionary, stream);
    if (!image) {
        ++extractor->imagesFailed;
        return;
    }
    extractor->destinationURL = extractor->pageFilePrefix + std::to_string(extractor->imageCounter) + "." +
                                GetImageExtensionForType(extractor->outputType);
    bool written = extractor->outputType != 8 && WriteConverterOutput(extractor, image) == 1;
    if (!written) {
        // PDF output, or a format that refused the image: through TIFF and back.
        const std::int32_t outputType = extractor->outputType;
        extractor->outputType = 10;
        std::vector<std::uint8_t> data;
        const int encoded = EncodeCGImageToData(extractor, image, data);
        extractor->outputType = outputType;
        plat::ImageRef decoded;
        written = encoded && DecodeCGImageFromData(extractor, data, &decoded) && decoded &&
                  WriteConverterOutput(extractor, decoded) == 1;
    }
    if (!written) ++extractor->imagesFailed;
    ++extractor->imageCounter;
}

int ExtractImagesFromPDF(const ImageConversion* conversion) {
    if (!conversion || conversion->sourceURL.empty() || conversion->destinationURL.empty()) return 0;
    PDFImageExtractor extractor;
    try {
        InitPDFImageExtractor(&extractor);
        SetConverterPassword(&extractor, conversion->options.password);
        if (!OpenExtractorPDFDocument(&extractor, conversion->sourceURL)) {
            ReleasePDFImageExtractor(&extractor);
            return 0;
        }
        // A document that only an owner password protects is readable as it
        // is; its objects are read with the password that unlocked it.
        if (IsConverterPDFLocked(&extractor) || !(extractor.objects = extractor.pdfDocument->OpenObjects())) {
            ReleasePDFImageExtractor(&extractor);
            return 0;
        }
        SetConverterOutputName(&extractor, conversion->outputBaseName, conversion->numberFromFirstPage,
                               conversion->overwriteExisting);
        SetConverterProgressTarget(&extractor, conversion->progress.target, conversion->progress.selector);
        SetConverterOutput(&extractor, conversion->options.outputType, conversion->destinationURL,
                           conversion->options.quality);
        SetExtractorPageRange(&extractor, conversion->options.pageRangeMode, conversion->options.firstPage,
                              conversion->options.lastPage);
        if (!ExtractImagesFromPDFPages(&extractor)) {
            ReleasePDFImageExtractor(&extractor);
            return 0;
        }
    } catch (...) {
        ReleasePDFImageExtractor(&extractor);
        return 0;
    }
    const bool everyImage = extractor.imagesFailed == 0;
    ReleasePDFImageExtractor(&extractor);
    return everyImage ? 1 : 0;
}
