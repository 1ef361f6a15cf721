#pragma once
// Image type codes: the integer that names an image format in the
// conversion record, the converter, the image-file object and the type popup;
// their type identifiers, per-type encoding rules and file extensions.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

enum ImageTypeCode : std::int32_t {
    kImageTypeSource = 0,          // keep the source's type (encodes as JPEG)
    kImageTypePhotoshop = 1,
    kImageTypeGIF = 2,
    kImageTypeJPEG2000 = 3,
    kImageTypeJPEG = 4,
    kImageTypeOpenEXR = 5,
    kImageTypeICNS = 6,
    kImageTypePNG = 7,
    kImageTypePDF = 8,             // output only
    kImageTypeTGA = 9,
    kImageTypeTIFF = 10,
    kImageTypeBMP = 11,
    kImageTypeSGI = 12,
    kImageTypeCMYKTIFF = 13,       // output only, always rendered in CMYK
    kImageTypePICT = 14,
    kImageTypeIllustrator = 15,
    kImageTypeMacPaint = 16,
    kImageTypeQuickTimeImage = 17,
    kImageTypeICO = 18,
    kImageTypeXBitmap = 19,
    kImageTypeFlashPix = 20,
    kImageTypeFax = 21,
    kImageTypeCameraRAW = 22,
    kImageTypeMultiPageTIFF = 23,  // output only
    kImageTypeWebP = 24,           // output only, through the whole-file conversion
};

constexpr std::int32_t kImageTypeCodeCount = 25;

// --- Type identifiers ------------------------------------------------------------

// The code for a type identifier, compared exactly (case-sensitive). The short
// list knows the ten common formats; the long list adds SGI, camera raw, PICT,
// MacPaint, X bitmap, QuickTime image, fax, FlashPix, Illustrator and ICO.
// Unknown or empty identifiers give 0.
std::int32_t GetImageTypeCodeForUTI(std::string_view uti, bool shortList);

// The code of a file by its type identifier, with the short list: by the
// path's extension, or by the file's signature when the extension names no
// type. 0 when neither gives one.
std::int32_t GetImageTypeCodeForURL(const std::filesystem::path& url);

// The type identifier used to encode a code ("public.jpeg" for 0, 4, 24 and
// any code outside the table; "public.tiff" for 10, 13 and 23).
std::string GetOutputUTIForTypeCode(std::int32_t code);

// --- Per-type encoding rules -------------------------------------------------------

// 1 when the source's metadata is copied into output of this type (with
// preserveMetadata set): 1, 2, 4, 7, 10, 13.
int TypeKeepsMetadata(std::int32_t code);
// 1 when the bitmap encoder writes this type: 2, 3, 4, 7, 10, 11, 13.
int TypeSupportedByBitmapImageRep(std::int32_t code);
// 1 when output of this type keeps an alpha channel: 2, 3, 7, 10.
int TypeSupportsAlpha(std::int32_t code);
// 1 when the encoder is told the image has alpha: 2, 3, 7.
int TypeDeclaresAlpha(std::int32_t code);
// 1 for the TIFF codes written with LZW compression: 10, 13, 23.
int TypeUsesLZWCompression(std::int32_t code);
// 1 for the lossy codes that take the quality setting: 3, 4.
int TypeUsesLossyQuality(std::int32_t code);
// 1 when output of this type holds more than 8 bits per sample, so that a
// 16-bit or float source keeps its depth: Photoshop, JPEG 2000, PNG, PDF and
// SGI (16 bits), OpenEXR (float), TIFF (16 bits and float; not the CMYK
// TIFF, which is always 8-bit).
int TypeKeepsDepth(std::int32_t code);

// TIFF compression tag value for LZW.
constexpr int kTIFFCompressionLZW = 5;

enum class BitmapFileType { TIFF, BMP, GIF, JPEG, PNG, JPEG2000 };

// 2 GIF, 3 JPEG 2000, 7 PNG, 10/13/23 TIFF, 11 BMP, every other code JPEG.
BitmapFileType GetBitmapFileTypeForCode(std::int32_t code);

// Encoder properties of the bitmap writer for a code.
struct BitmapRepProperties {
    std::optional<int> compressionMethod;    // TIFF compression tag value
    std::optional<double> compressionFactor; // lossy quality 0.0 to 1.0

    friend bool operator==(const BitmapRepProperties&, const BitmapRepProperties&) = default;
};

// For 10, 13 and 23 LZW compression; for 3 and 4 the quality; else none.
std::optional<BitmapRepProperties> CreateBitmapRepProperties(std::int32_t code, double quality);

// --- Extensions and text documents -------------------------------------------------------

// The file extension for a code, from the resource "ImageExtension.plist"
// (an array indexed by code). Empty when the resource is missing or is not an
// array, when the code is outside the array, or when the entry is no string.
std::string GetImageExtensionForType(std::int32_t code);

// Text-document type of a type identifier for the PDF tools: 1 RTF, 2 RTFD,
// 3 HTML, 4 text, 5 plain text and logs, 6 web archive, 7 OpenDocument text,
// 8 its template, 9 OpenOffice text, 10 its template, 11 Word (OOXML),
// 12 WordML, 13 Word 97, 14 classic Mac plain text; 0 for anything else.
std::int32_t GetTextDocumentTypeForUTI(std::string_view uti);
