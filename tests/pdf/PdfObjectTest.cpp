#include "platform/PdfDocument.h"
#include "platform/PdfObject.h"

#include "PdfTestSupport.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>
#include <vector>

using namespace pdftest;
using plat::PdfDataFormat;
using plat::PdfObject;
using plat::PdfObjectFile;

namespace {

std::unique_ptr<PdfObjectFile> OpenBytes(const std::string& bytes, const std::string& password = {}) {
    return PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end()), password);
}

std::string StreamData(const PdfObject& stream, PdfDataFormat* format = nullptr) {
    std::vector<std::uint8_t> data;
    PdfDataFormat f = PdfDataFormat::Raw;
    if (!stream.CopyStreamData(&data, &f)) return "<none>";
    if (format) *format = f;
    return std::string(data.begin(), data.end());
}

TEST(PdfObject, ReadsTypedObjectsAndInheritedResources) {
    RawPdf pdf;
    const int x = pdf.AddStream("/Type /XObject /Subtype /Image /Width 2 /Height 1", "ab");
    const std::string file = BuildDocument(
        pdf, {{"", "q Q"}, {"<< /Own true >>", ""}},
        "<< /XObject << /Im1 " + std::to_string(x) + " 0 R >> /Num 2.5 /Arr [1 (str) /Nm] >>");
    auto doc = OpenBytes(file);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->GetPageCount(), 2);
    EXPECT_TRUE(doc->GetPage(0).IsNull());
    EXPECT_TRUE(doc->GetPage(3).IsNull());

    const PdfObject resources = doc->GetPageAttribute(1, "Resources");
    ASSERT_TRUE(resources.IsDictionary());
    EXPECT_EQ(resources.GetDictionaryKeys(), (std::vector<std::string>{"Arr", "Num", "XObject"}));
    double number = 0;
    EXPECT_TRUE(resources.GetDictionaryObject("Num").GetNumber(&number));
    EXPECT_EQ(number, 2.5);
    std::int64_t integer = 0;
    EXPECT_FALSE(resources.GetDictionaryObject("Num").GetInteger(&integer));
    const PdfObject array = resources.GetDictionaryObject("Arr");
    ASSERT_EQ(array.GetArrayCount(), 3u);
    std::string text;
    EXPECT_TRUE(array.GetArrayObject(1).GetString(&text));
    EXPECT_EQ(text, "str");
    EXPECT_TRUE(array.GetArrayObject(2).GetName(&text));
    EXPECT_EQ(text, "Nm");
    EXPECT_TRUE(array.GetArrayObject(7).IsNull());

    const PdfObject image = resources.GetDictionaryObject("XObject").GetDictionaryObject("Im1");
    ASSERT_TRUE(image.IsStream());
    EXPECT_EQ(image.GetObjectNumber(), x);
    EXPECT_TRUE(image.GetStreamDictionary().GetDictionaryObject("Width").GetInteger(&integer));
    EXPECT_EQ(integer, 2);
    EXPECT_EQ(StreamData(image), "ab");

    // The second page has its own resources.
    EXPECT_TRUE(doc->GetPageAttribute(2, "Resources").GetDictionaryObject("XObject").IsNull());
}

TEST(PdfObject, StreamFiltersAreUndoneExceptAFinalImageFilter) {
    RawPdf pdf;
    const std::string payload = "payload bytes";
    struct Case {
        std::string entries;
        std::string data;
        std::string expected;
        PdfDataFormat format;
    };
    const std::vector<Case> cases = {
        {"/Filter /FlateDecode", Deflate(payload), payload, PdfDataFormat::Raw},
        {"/Filter [/ASCIIHexDecode /FlateDecode]", AsciiHex(Deflate(payload)), payload, PdfDataFormat::Raw},
        {"/Filter /DCTDecode", "jpegbytes", "jpegbytes", PdfDataFormat::JpegEncoded},
        {"/Filter [/FlateDecode /DCTDecode]", Deflate("jpegbytes"), "jpegbytes", PdfDataFormat::JpegEncoded},
        {"/Filter [/ASCIIHexDecode /JPXDecode]", AsciiHex("jp2"), "jp2", PdfDataFormat::Jpeg2000},
        {"/Filter /JBIG2Decode", "x", "<none>", PdfDataFormat::Raw},
        {"/Filter /FlateDecode", "not deflate data", "<none>", PdfDataFormat::Raw},
    };
    std::string xobjects;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        xobjects += "/S" + std::to_string(i) + " " + std::to_string(pdf.AddStream(cases[i].entries, cases[i].data)) +
                    " 0 R ";
    }
    auto doc = OpenBytes(BuildDocument(pdf, {{"<< /XObject << " + xobjects + ">> >>", ""}}));
    ASSERT_TRUE(doc);
    const PdfObject dict = doc->GetPageAttribute(1, "Resources").GetDictionaryObject("XObject");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        PdfDataFormat format = PdfDataFormat::Raw;
        EXPECT_EQ(StreamData(dict.GetDictionaryObject("S" + std::to_string(i)), &format), cases[i].expected)
            << cases[i].entries;
        EXPECT_EQ(format, cases[i].format) << cases[i].entries;
    }
}

TEST(PdfObject, DecodedDataBeyondTheLimitAreRefused) {
    RawPdf pdf;
    const int s = pdf.AddStream("/Filter /FlateDecode", Deflate(std::string(100000, 'z')));
    auto doc = OpenBytes(BuildDocument(pdf, {{"<< /XObject << /S " + std::to_string(s) + " 0 R >> >>", ""}}));
    ASSERT_TRUE(doc);
    const PdfObject stream = doc->GetPageAttribute(1, "Resources").GetDictionaryObject("XObject").GetDictionaryObject("S");
    std::vector<std::uint8_t> data;
    PdfDataFormat format;
    EXPECT_FALSE(stream.CopyStreamData(&data, &format, 1000));
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(stream.CopyStreamData(&data, &format, 100000));
}

TEST(PdfObject, InlineImagesComeWithTheirDictionaryAndData) {
    RawPdf pdf;
    const std::string content = "q 1 0 0 1 0 0 cm BI /W 2 /H 1 /BPC 8 /CS /G /F /AHx /D [1 0] ID 00FF> EI Q "
                                "BI /W 1 /H 1 /CS /RGB ID abc EI";
    auto doc = OpenBytes(BuildDocument(pdf, {{"", content}}));
    ASSERT_TRUE(doc);
    std::vector<PdfObject> images;
    int cmCount = 0;
    const std::string_view ops[] = {"EI", "cm"};
    EXPECT_TRUE(doc->ScanPageContent(1, ops, [&](std::string_view name, std::span<const PdfObject> operands) {
        if (name == "cm") {
            ++cmCount;
            EXPECT_EQ(operands.size(), 6u);
        } else {
            ASSERT_EQ(operands.size(), 1u);
            images.push_back(operands[0]);
        }
    }));
    EXPECT_EQ(cmCount, 1);
    ASSERT_EQ(images.size(), 2u);
    std::int64_t w = 0;
    EXPECT_TRUE(images[0].GetDictionaryObject("W").GetInteger(&w));
    EXPECT_EQ(w, 2);
    std::string name;
    EXPECT_TRUE(images[0].GetDictionaryObject("Filter").GetName(&name));
    EXPECT_EQ(name, "ASCIIHexDecode");
    EXPECT_EQ(images[0].GetDictionaryObject("D").GetArrayCount(), 2u);
    EXPECT_EQ(StreamData(images[0]), std::string("\x00\xFF", 2));
    // The whitespace before EI may come with unfiltered data; image readers cut to size.
    EXPECT_EQ(StreamData(images[1]).substr(0, 3), "abc");
    EXPECT_FALSE(doc->ScanPageContent(2, ops, [](std::string_view, std::span<const PdfObject>) {}));
}

TEST(PdfObject, PasswordsOpenAndTheEmptyPasswordIsTriedWhenTheGivenOneFails) {
    RawPdf pdf;
    const std::string plain = BuildDocument(pdf, {{"", ""}});
    const std::string ownerOnly = Encrypt(plain, "", "owner");
    const std::string userLocked = Encrypt(plain, "user", "owner");
    EXPECT_TRUE(OpenBytes(ownerOnly));
    EXPECT_TRUE(OpenBytes(ownerOnly, "wrong"));
    EXPECT_FALSE(OpenBytes(userLocked));
    EXPECT_FALSE(OpenBytes(userLocked, "wrong"));
    EXPECT_TRUE(OpenBytes(userLocked, "user"));
    auto owner = OpenBytes(userLocked, "owner");
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->GetPageCount(), 1);

    // The rendering document hands its password on.
    auto rendering = plat::PdfDocument::OpenData(std::vector<char>(userLocked.begin(), userLocked.end()), "user");
    ASSERT_TRUE(rendering);
    EXPECT_TRUE(rendering->OpenObjects());
}

TEST(PdfObject, DamagedFilesAreRefusedOrReadWithoutCrashing) {
    EXPECT_FALSE(OpenBytes("not a pdf at all"));
    EXPECT_FALSE(OpenBytes(""));
    RawPdf pdf;
    std::string file = BuildDocument(pdf, {{"", "BI /W 1 /H 1 ID"}});
    auto doc = OpenBytes(file);
    if (doc) {
        const std::string_view ops[] = {"EI"};
        doc->ScanPageContent(1, ops, [](std::string_view, std::span<const PdfObject>) {});
    }
    file.resize(file.size() / 2);
    auto truncated = OpenBytes(file);
    if (truncated) {
        EXPECT_LE(truncated->GetPageCount(), 1);
    }
}

}  // namespace

namespace {

TEST(PdfObject, CcittFaxDataDecodeToRowsWithPdfSense) {
    TempFolder dir;
    const std::vector<std::uint8_t> rows = {0xF0, 0x0F, 0x00, 0xFF, 0xAA, 0x55, 0x81, 0x18};
    const std::string fax = FaxEncode(rows, 16, 4, COMPRESSION_CCITTFAX4, 0, dir.path() / "fax.tif");
    ASSERT_FALSE(fax.empty());
    RawPdf pdf;
    const int plain = pdf.AddStream(
        "/Width 16 /Height 4 /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 16 /Rows 4 >>", fax);
    const int blackIs1 = pdf.AddStream(
        "/Width 16 /Height 4 /Filter [/ASCIIHexDecode /CCITTFaxDecode] /DecodeParms [null << /K -1 /Columns 16 "
        "/BlackIs1 true >>]",
        AsciiHex(fax));
    const int broken = pdf.AddStream("/Width 16 /Height 4 /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 0 >>",
                                     fax);
    auto doc = OpenBytes(BuildDocument(pdf, {{"<< /XObject << /A " + std::to_string(plain) + " 0 R /B " +
                                                  std::to_string(blackIs1) + " 0 R /C " + std::to_string(broken) +
                                                  " 0 R >> >>",
                                              ""}}));
    ASSERT_TRUE(doc);
    const PdfObject xobjects = doc->GetPageAttribute(1, "Resources").GetDictionaryObject("XObject");
    std::string inverted;
    for (std::uint8_t b : rows) inverted += char(~b);
    EXPECT_EQ(StreamData(xobjects.GetDictionaryObject("A")), inverted);
    EXPECT_EQ(StreamData(xobjects.GetDictionaryObject("B")), Bytes(rows));
    EXPECT_EQ(StreamData(xobjects.GetDictionaryObject("C")), "<none>");
}

}  // namespace
