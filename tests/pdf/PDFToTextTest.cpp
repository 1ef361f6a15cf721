#include "PdfToolsTestSupport.h"

#include "pdf/PDFToText.h"
#include "pdf/RtfReader.h"

#include <QTextDocument>

#include <fstream>
#include <iterator>
#include <set>

namespace pdftest {
namespace {

std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::vector<std::string>> NumberedPages(int count) {
    std::vector<std::vector<std::string>> pages;
    for (int i = 1; i <= count; ++i) pages.push_back({"This is page number " + std::to_string(i)});
    return pages;
}

class PDFToTextTest : public PdfToolsTest {
protected:
    PDFTextConversion Conversion(const std::filesystem::path& source, std::int32_t type, const std::string& extension) {
        PDFTextConversion c;
        c.sourceURL = source;
        c.destinationFolder = dir / "out";
        std::filesystem::create_directories(c.destinationFolder);
        c.documentType = type;
        c.extension = extension;
        return c;
    }
    std::set<std::string> Outputs() {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir / "out")) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
};

TEST_F(PDFToTextTest, PerPageNamesArePaddedToThePageCountsDigits) {
    WriteTextPdf(dir / "twelve.pdf", NumberedPages(12));
    auto c = Conversion(dir / "twelve.pdf", kPDFTextUTF8, "txt");
    c.perPage = 1;
    ASSERT_EQ(ConvertPDFToTextDocument(&c), 1);
    std::set<std::string> expected;
    for (int i = 1; i <= 12; ++i) expected.insert("twelve-" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".txt");
    EXPECT_EQ(Outputs(), expected);
    EXPECT_NE(Contents(dir / "out" / "twelve-07.txt").find("This is page number 7"), std::string::npos);

    WriteTextPdf(dir / "nine.pdf", NumberedPages(9));
    auto nine = Conversion(dir / "nine.pdf", kPDFTextUTF8, "text");
    nine.perPage = 1;
    nine.baseName = "page";
    ASSERT_EQ(ConvertPDFToTextDocument(&nine), 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "page-1.text"));
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "page-9.text"));
}

TEST_F(PDFToTextTest, PageRangesIncludeTheirFirstPage) {
    WriteTextPdf(dir / "five.pdf", NumberedPages(5));
    struct Case {
        std::int32_t mode;
        std::int64_t first, last;
        int result;
        std::vector<int> pages;
    } cases[] = {{1, 3, 0, 1, {3}},      {2, 2, 3, 1, {2, 3}}, {2, 4, 0, 1, {4, 5}}, {2, 4, 99, 1, {4, 5}},
                 {0, 9, 9, 1, {1, 2, 3, 4, 5}}, {1, 0, 0, 0, {}},  {1, 6, 0, 0, {}},     {2, 4, 2, 0, {}}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.mode) + ": " + std::to_string(k.first) + "-" + std::to_string(k.last));
        std::filesystem::remove_all(dir / "out");
        auto c = Conversion(dir / "five.pdf", kPDFTextUTF8, "txt");
        c.pageRangeMode = k.mode;
        c.firstPage = k.first;
        c.lastPage = k.last;
        ASSERT_EQ(ConvertPDFToTextDocument(&c), k.result);
        if (k.pages.empty()) {
            EXPECT_TRUE(Outputs().empty());
            continue;
        }
        const std::string text = Contents(dir / "out" / "five.txt");
        for (int page = 1; page <= 5; ++page) {
            const bool wanted = std::find(k.pages.begin(), k.pages.end(), page) != k.pages.end();
            EXPECT_EQ(text.find("page number " + std::to_string(page)) != std::string::npos, wanted) << page;
        }
    }
}

TEST_F(PDFToTextTest, EmptyPagesAreSkippedAndDoNotCount) {
    WriteTextPdf(dir / "mixed.pdf", {{"   "}, {"Some words here"}, {}, {" ", "  "}});
    auto c = Conversion(dir / "mixed.pdf", kPDFTextUTF8, "txt");
    c.perPage = 1;
    ASSERT_EQ(ConvertPDFToTextDocument(&c), 1);
    EXPECT_EQ(Outputs(), (std::set<std::string>{"mixed-2.txt"}));

    WriteTextPdf(dir / "blank.pdf", {{" "}, {}});
    for (std::int64_t perPage : {0, 1}) {
        std::filesystem::remove_all(dir / "out");
        auto blank = Conversion(dir / "blank.pdf", kPDFTextUTF8, "txt");
        blank.perPage = perPage;
        EXPECT_EQ(ConvertPDFToTextDocument(&blank), 0);
        EXPECT_TRUE(Outputs().empty());
    }
}

TEST_F(PDFToTextTest, ExistingFilesKeepTheirNames) {
    WriteTextPdf(dir / "doc.pdf", NumberedPages(2));
    auto c = Conversion(dir / "doc.pdf", kPDFTextUTF8, "txt");
    std::ofstream(dir / "out" / "doc.txt") << "mine";
    ASSERT_EQ(ConvertPDFToTextDocument(&c), 1);
    ASSERT_EQ(ConvertPDFToTextDocument(&c), 1);
    EXPECT_EQ(Contents(dir / "out" / "doc.txt"), "mine");
    EXPECT_EQ(Outputs(), (std::set<std::string>{"doc.txt", "doc 1.txt", "doc 2.txt"}));
}

TEST_F(PDFToTextTest, FailedWritesAreNoSuccess) {
    WriteTextPdf(dir / "doc.pdf", NumberedPages(2));
    for (std::int64_t perPage : {0, 1}) {
        for (std::int32_t type : {std::int32_t(kPDFTextUTF8), std::int32_t(kPDFTextRTFD), std::int32_t(kPDFTextOpenDocument), 0}) {
            auto c = Conversion(dir / "doc.pdf", type, "out");
            c.perPage = perPage;
            if (type != 0) c.destinationFolder = dir / "no such folder";
            EXPECT_EQ(ConvertPDFToTextDocument(&c), 0) << perPage << " " << type;
        }
    }
    EXPECT_TRUE(Outputs().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "no such folder"));
}

TEST_F(PDFToTextTest, UnopenablePDFsThrow301) {
    std::ofstream(dir / "fake.pdf") << "not a PDF at all";
    for (const char* name : {"fake.pdf", "missing.pdf"}) {
        auto c = Conversion(dir / name, kPDFTextUTF8, "txt");
        try {
            ConvertPDFToTextDocument(&c);
            ADD_FAILURE() << name << " did not throw";
        } catch (int code) {
            EXPECT_EQ(code, 301);
        }
    }
    EXPECT_TRUE(Outputs().empty());
}

TEST_F(PDFToTextTest, LockedDocumentsOpenWithTheirPassword) {
    WriteTextPdf(dir / "locked.pdf", {{"Confidential words here"}}, {.userPassword = "pw", .ownerPassword = "o"});
    auto c = Conversion(dir / "locked.pdf", kPDFTextUTF8, "txt");
    c.password = "wrong";
    EXPECT_EQ(ConvertPDFToTextDocument(&c), 0);
    c.password = "pw";
    ASSERT_EQ(ConvertPDFToTextDocument(&c), 1);
    EXPECT_NE(Contents(dir / "out" / "locked.txt").find("Confidential words here"), std::string::npos);
}

TEST_F(PDFToTextTest, CancelKeepsWhatWasGathered) {
    WriteTextPdf(dir / "five.pdf", NumberedPages(5));
    auto target = std::make_shared<RecordingTarget>(2);
    auto c = Conversion(dir / "five.pdf", kPDFTextUTF8, "txt");
    c.progress = Progress(target);
    ASSERT_EQ(ConvertPDFToTextDocument(&c), 1);
    EXPECT_EQ(target->values, (std::vector<std::int64_t>{1, 2}));
    const std::string text = Contents(dir / "out" / "five.txt");
    EXPECT_NE(text.find("page number 2"), std::string::npos);
    EXPECT_EQ(text.find("page number 3"), std::string::npos);
}

// Text read back from a written document through LibreOffice.
std::string TextThroughLibreOffice(const std::filesystem::path& file, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    const std::vector<std::string> command = {"/usr/lib/libreoffice/program/soffice.bin",
                                          "-env:UserInstallation=file://" + (folder / "profile").string(),
                                          "--headless", "--norestore", "--convert-to", "txt:Text (encoded):UTF8",
                                          "--outdir", folder.string(), file.string()};
    // The first run with a fresh profile only sets the profile up.
    if (!RunCommand(command).ok) {
        EXPECT_TRUE(RunCommand(command).ok);
    }
    std::ifstream in(folder / (file.stem().string() + ".txt"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The text of a written document, read back by our RTF reader or LibreOffice.
std::string ReadBack(std::int32_t type, const std::filesystem::path& file, const std::filesystem::path& work) {
    switch (type) {
    case kPDFTextUTF8: return Contents(file);
    case kPDFTextUTF16: {
        const std::string bytes = Contents(file);
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
        if (bytes.size() < 2) return {};
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data() + 2), qsizetype(bytes.size() / 2 - 1))
            .toStdString();
    }
    case kPDFTextRTF:
    case kPDFTextRTFD: {
        const bool package = type == kPDFTextRTFD;
        EXPECT_EQ(std::filesystem::is_directory(file), package);
        QTextDocument document;
        EXPECT_TRUE(ReadRTF(Contents(package ? file / "TXT.rtf" : file), document));
        return document.toPlainText().toStdString();
    }
    default: return TextThroughLibreOffice(file, work);
    }
}

struct TypeCase {
    std::int32_t type;
    const char* extension;
};
constexpr TypeCase kTypes[] = {{kPDFTextUTF8, "txt"},  {kPDFTextUTF16, "txt"},          {kPDFTextRTF, "rtf"},
                               {kPDFTextRTFD, "rtfd"}, {kPDFTextOfficeOpenXML, "docx"}, {kPDFTextOpenDocument, "odt"},
                               {kPDFTextWord, "doc"}};

TEST_F(PDFToTextTest, EveryDocumentTypeCarriesTheText) {
    WriteTextPdf(dir / "letter.pdf", {{"Dear reader, <&> {braces} \\ done", "Second line"}});
    for (const TypeCase& k : kTypes) {
        SCOPED_TRACE(k.type);
        std::filesystem::remove_all(dir / "out");
        auto c = Conversion(dir / "letter.pdf", k.type, k.extension);
        ASSERT_EQ(ConvertPDFToTextDocument(&c), 1);
        const std::string text = ReadBack(k.type, dir / "out" / (std::string("letter.") + k.extension), dir / "back");
        EXPECT_NE(text.find("Dear reader, <&> {braces} \\ done"), std::string::npos) << text;
        EXPECT_NE(text.find("Second line"), std::string::npos) << text;
    }
}

TEST_F(PDFToTextTest, WritersKeepTabsSpacesAndUnicode) {
    const std::string original = "caf\u00e9 \u201cquoted\u201d \U0001F600\n\tTabbed   spaced  line\nlast";
    const QString text = QString::fromStdString(original);
    std::filesystem::create_directories(dir / "out");
    PDFTextConversion conversion;
    PDFTextExtractor extractor;
    extractor.conversion = &conversion;
    for (const TypeCase& k : kTypes) {
        SCOPED_TRACE(k.type);
        conversion.documentType = k.type;
        const auto file = dir / "out" / (std::to_string(k.type) + "." + k.extension);
        ASSERT_TRUE(WriteTextDocument(&extractor, file, text));
        std::string back = ReadBack(k.type, file, dir / ("back" + std::to_string(k.type)));
        if (back.rfind("\xEF\xBB\xBF", 0) == 0) back.erase(0, 3);
        while (!back.empty() && (back.back() == '\n' || back.back() == '\r')) back.pop_back();
        // Word 97 has no characters beyond 16 bits in LibreOffice's text export.
        if (k.type == kPDFTextWord) {
            EXPECT_NE(back.find("\tTabbed   spaced  line"), std::string::npos) << back;
        } else {
            EXPECT_EQ(back, original);
        }
    }
    conversion.documentType = 99;
    EXPECT_FALSE(WriteTextDocument(&extractor, dir / "out" / "unknown.txt", text));
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "unknown.txt"));
}

}  // namespace
}  // namespace pdftest
