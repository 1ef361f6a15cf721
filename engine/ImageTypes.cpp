#include "engine/ImageTypes.h"

#include "platform/Bundle.h"
#include "platform/FileManager.h"
#include "platform/PropertyList.h"
#include "platform/TypeIdentifier.h"

namespace {

struct TypeEntry {
    std::string_view uti;
    std::int32_t code;
};

// Recognition order: the first ten form the short list.
constexpr TypeEntry kRecognisedTypes[] = {
    {"public.jpeg", kImageTypeJPEG},
    {"public.tiff", kImageTypeTIFF},
    {"public.png", kImageTypePNG},
    {"com.compuserve.gif", kImageTypeGIF},
    {"public.jpeg-2000", kImageTypeJPEG2000},
    {"com.microsoft.bmp", kImageTypeBMP},
    {"com.adobe.photoshop-image", kImageTypePhotoshop},
    {"com.ilm.openexr-image", kImageTypeOpenEXR},
    {"com.truevision.tga-image", kImageTypeTGA},
    {"com.apple.icns", kImageTypeICNS},
    // long list only
    {"com.sgi.sgi-image", kImageTypeSGI},
    {"public.camera-raw-image", kImageTypeCameraRAW},
    {"com.apple.pict", kImageTypePICT},
    {"com.apple.macpaint-image", kImageTypeMacPaint},
    {"public.xbitmap-image", kImageTypeXBitmap},
    {"com.apple.quicktime-image", kImageTypeQuickTimeImage},
    {"public.fax", kImageTypeFax},
    {"com.kodak.flashpix.image", kImageTypeFlashPix},
    {"com.adobe.illustrator.ai-image", kImageTypeIllustrator},
    {"com.microsoft.ico", kImageTypeICO},
};
constexpr std::size_t kShortListLength = 10;

bool isOneOf(std::int32_t code, std::initializer_list<std::int32_t> codes) {
    for (std::int32_t c : codes) {
        if (c == code) return true;
    }
    return false;
}

}  // namespace

std::int32_t GetImageTypeCodeForUTI(std::string_view uti, bool shortList) {
    if (uti.empty()) return kImageTypeSource;
    const std::size_t count = shortList ? kShortListLength : std::size(kRecognisedTypes);
    for (std::size_t i = 0; i < count; ++i) {
        if (kRecognisedTypes[i].uti == uti) return kRecognisedTypes[i].code;
    }
    return kImageTypeSource;
}

std::int32_t GetImageTypeCodeForURL(const std::filesystem::path& url) {
    // A folder is no image, whatever its name says.
    if (url.empty() || plat::FileManager::isDirectory(url)) return kImageTypeSource;
    std::string uti = plat::TypeIdentifier::forPath(url);
    if (uti.empty()) uti = plat::TypeIdentifier::forFileContents(url);
    return GetImageTypeCodeForUTI(uti, true);
}

std::string GetOutputUTIForTypeCode(std::int32_t code) {
    switch (code) {
    case kImageTypePhotoshop: return "com.adobe.photoshop-image";
    case kImageTypeGIF: return "com.compuserve.gif";
    case kImageTypeJPEG2000: return "public.jpeg-2000";
    case kImageTypeOpenEXR: return "com.ilm.openexr-image";
    case kImageTypeICNS: return "com.apple.icns";
    case kImageTypePNG: return "public.png";
    case kImageTypePDF: return "com.adobe.pdf";
    case kImageTypeTGA: return "com.truevision.tga-image";
    case kImageTypeTIFF:
    case kImageTypeCMYKTIFF:
    case kImageTypeMultiPageTIFF: return "public.tiff";
    case kImageTypeBMP: return "com.microsoft.bmp";
    case kImageTypeSGI: return "com.sgi.sgi-image";
    case kImageTypePICT: return "com.apple.pict";
    case kImageTypeIllustrator: return "com.adobe.illustrator.ai-image";
    case kImageTypeMacPaint: return "com.apple.macpaint-image";
    case kImageTypeQuickTimeImage: return "com.apple.quicktime-image";
    case kImageTypeICO: return "com.microsoft.ico";
    case kImageTypeXBitmap: return "public.xbitmap-image";
    case kImageTypeFlashPix: return "com.kodak.flashpix.image";
    case kImageTypeFax: return "public.fax";
    case kImageTypeCameraRAW: return "public.camera-raw-image";
    default: return "public.jpeg";  // 0, 4, 24 and anything unknown
    }
}

int TypeKeepsMetadata(std::int32_t code) {
    return isOneOf(code, {kImageTypePhotoshop, kImageTypeGIF, kImageTypeJPEG, kImageTypePNG, kImageTypeTIFF,
                          kImageTypeCMYKTIFF});
}

int TypeSupportedByBitmapImageRep(std::int32_t code) {
    return isOneOf(code, {kImageTypeGIF, kImageTypeJPEG2000, kImageTypeJPEG, kImageTypePNG, kImageTypeTIFF,
                          kImageTypeBMP, kImageTypeCMYKTIFF});
}

int TypeSupportsAlpha(std::int32_t code) {
    return isOneOf(code, {kImageTypeGIF, kImageTypeJPEG2000, kImageTypePNG, kImageTypeTIFF});
}

int TypeDeclaresAlpha(std::int32_t code) {
    return isOneOf(code, {kImageTypeGIF, kImageTypeJPEG2000, kImageTypePNG});
}

int TypeUsesLZWCompression(std::int32_t code) {
    return isOneOf(code, {kImageTypeTIFF, kImageTypeCMYKTIFF, kImageTypeMultiPageTIFF});
}

int TypeUsesLossyQuality(std::int32_t code) {
    return isOneOf(code, {kImageTypeJPEG2000, kImageTypeJPEG});
}

int TypeKeepsDepth(std::int32_t code) {
    return isOneOf(code, {kImageTypePhotoshop, kImageTypeJPEG2000, kImageTypeOpenEXR, kImageTypePNG, kImageTypePDF,
                          kImageTypeTIFF, kImageTypeSGI, kImageTypeMultiPageTIFF});
}

BitmapFileType GetBitmapFileTypeForCode(std::int32_t code) {
    switch (code) {
    case kImageTypeGIF: return BitmapFileType::GIF;
    case kImageTypeJPEG2000: return BitmapFileType::JPEG2000;
    case kImageTypePNG: return BitmapFileType::PNG;
    case kImageTypeTIFF:
    case kImageTypeCMYKTIFF:
    case kImageTypeMultiPageTIFF: return BitmapFileType::TIFF;
    case kImageTypeBMP: return BitmapFileType::BMP;
    default: return BitmapFileType::JPEG;
    }
}

std::optional<BitmapRepProperties> CreateBitmapRepProperties(std::int32_t code, double quality) {
    if (TypeUsesLZWCompression(code)) return BitmapRepProperties{kTIFFCompressionLZW, std::nullopt};
    if (TypeUsesLossyQuality(code)) return BitmapRepProperties{std::nullopt, quality};
    return std::nullopt;
}

std::string GetImageExtensionForType(std::int32_t code) {
    const auto path = plat::Bundle::pathForResource("ImageExtension", "plist");
    if (path.empty() || code < 0) return {};
    const auto list = plat::PropertyList::readFile(path);
    if (!list) return {};
    const auto* array = list->get<plat::PlistValue::Array>();
    // A code past the end of the table gets no extension rather than a crash.
    if (!array || static_cast<std::size_t>(code) >= array->size()) return {};
    return (*array)[static_cast<std::size_t>(code)].asString().value_or(std::string());
}

std::int32_t GetTextDocumentTypeForUTI(std::string_view uti) {
    static constexpr TypeEntry kTextTypes[] = {
        {"public.rtf", 1},
        {"com.apple.rtfd", 2},
        {"public.html", 3},
        {"public.text", 4},
        {"public.plain-text", 5},
        {"com.apple.log", 5},
        {"com.apple.crashreport", 5},
        {"com.apple.panicreport", 5},
        {"com.apple.hangreport", 5},
        {"com.apple.spinreport", 5},
        {"com.apple.aslquery", 5},
        {"com.apple.webarchive", 6},
        {"org.oasis-open.opendocument.text", 7},
        {"org.oasis.opendocument.text", 7},
        {"org.oasis-open.opendocument", 7},
        {"org.oasis-open.opendocument.text-template", 8},
        {"org.openoffice.text", 9},
        {"org.openoffice.text-template", 10},
        {"org.openxmlformats.wordprocessingml.document", 11},
        {"com.microsoft.word.wordml", 12},
        {"com.microsoft.word.doc", 13},
        {"com.apple.traditional-mac-plain-text", 14},
    };
    if (uti.empty()) return 0;
    for (const auto& entry : kTextTypes) {
        if (entry.uti == uti) return entry.code;
    }
    return 0;
}
