#include "PdfToolsTestSupport.h"

#include "pdf/DocumentsToPDF.h"
#include "pdf/OfficeConverter.h"
#include "pdf/RtfReader.h"
#include "pdf/TextDocumentReader.h"
#include "pdf/TextDocumentWriters.h"
#include "platform/ScratchFolder.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

#include <fstream>
#include <regex>
#include <sstream>

#include <dirent.h>
#include <unistd.h>

namespace pdftest {
namespace {

class DocumentsToPDFTest : public PdfToolsTest {
protected:
    DocumentsToPDFOptions Options(std::vector<std::filesystem::path> files, bool combine) {
        DocumentsToPDFOptions options;
        for (const auto& file : files) {
            PDFInputFile entry;
            entry.filePath = file;
            options.files.push_back(entry);
        }
        options.combine = combine;
        options.destination = combine ? dir / "all.pdf" : dir / "out";
        if (!combine) std::filesystem::create_directories(dir / "out");
        return options;
    }
    std::string Fonts(const std::filesystem::path& pdf) { return RunCommand({"pdffonts", pdf.string()}).output; }
};

// Right edge (points) of the text furthest right on the first page.
double RightmostText(const std::filesystem::path& pdf) {
    const std::string html = RunCommand({"pdftotext", "-bbox", "-f", "1", "-l", "1", pdf.string(), "-"}).output;
    static const std::regex word(R"re(xMax="([\d.]+)")re");
    double right = 0;
    for (std::sregex_iterator it(html.begin(), html.end(), word), end; it != end; ++it) {
        right = std::max(right, std::stod((*it)[1]));
    }
    return right;
}

std::string LongParagraph() {
    std::string text;
    for (int i = 0; i < 60; ++i) text += "words and more words ";
    return text;
}

TEST_F(DocumentsToPDFTest, LandscapeLayoutUsesTheWiderContentArea) {
    std::ofstream(dir / "long.txt") << LongParagraph();
    auto options = Options({dir / "long.txt"}, false);
    options.paperWidth = 595;
    options.paperHeight = 842;
    options.marginLeft = options.marginRight = options.marginTop = options.marginBottom = 72;
    options.orientation = 1;
    ASSERT_EQ(ConvertDocumentsToPDF(&options), 1);
    const auto pdf = dir / "out" / "long.pdf";
    const PdfInfo info = ReadPdfInfo(pdf);
    ASSERT_EQ(info.pages, 1);
    EXPECT_NEAR(info.sizes[0].first, 842, 0.6);
    EXPECT_NEAR(info.sizes[0].second, 595, 0.6);
    // Lines run across the 698 points between the margins.
    const double right = RightmostText(pdf);
    EXPECT_GT(right, 700);
    EXPECT_LE(right, 842 - 72 + 1);
    EXPECT_TRUE(QpdfCheck(pdf));
}

TEST_F(DocumentsToPDFTest, AttributesApplyToPlainTextAndToRichTextOnlyWhenAsked) {
    std::ofstream(dir / "plain.txt") << "Plain words";
    std::ofstream(dir / "rich.rtf") << "{\\rtf1\\ansi{\\fonttbl\\f0\\fmodern DejaVu Sans Mono;}\\f0\\fs24 Rich words\\par}";
    for (std::uint8_t style : {0, 1}) {
        SCOPED_TRACE(int(style));
        std::filesystem::remove_all(dir / "out");
        auto options = Options({dir / "plain.txt", dir / "rich.rtf"}, false);
        options.textAttributes.character.setFontFamilies({QStringLiteral("DejaVu Serif")});
        options.textAttributes.character.setFontPointSize(20);
        options.styleRichText = style;
        ASSERT_EQ(ConvertDocumentsToPDF(&options), 1);
        EXPECT_NE(Fonts(dir / "out" / "plain.pdf").find("DejaVuSerif"), std::string::npos);
        const std::string rich = Fonts(dir / "out" / "rich.pdf");
        EXPECT_EQ(rich.find("DejaVuSerif") != std::string::npos, style == 1) << rich;
        EXPECT_EQ(rich.find("DejaVuSansMono") != std::string::npos, style == 0) << rich;
        EXPECT_NE(PdfText(dir / "out" / "rich.pdf").find("Rich words"), std::string::npos);
    }
}

// A document's own title becomes the PDF's; one without a title gives none.
TEST_F(DocumentsToPDFTest, TheDocumentTitleNamesThePdf) {
    std::ofstream(dir / "titled.html") << "<html><head><title>Vantrell User Manual</title></head>"
                                          "<body><p>Text</p></body></html>";
    std::ofstream(dir / "untitled.txt") << "Text";
    auto options = Options({dir / "titled.html", dir / "untitled.txt"}, false);
    ASSERT_EQ(ConvertDocumentsToPDF(&options), 1);
    const std::string titled = RunCommand({"pdfinfo", (dir / "out" / "titled.pdf").string()}).output;
    EXPECT_TRUE(std::regex_search(titled, std::regex("Title: +Vantrell User Manual\n"))) << titled;
    const std::string untitled = RunCommand({"pdfinfo", (dir / "out" / "untitled.pdf").string()}).output;
    EXPECT_FALSE(std::regex_search(untitled, std::regex("Title: +\\S"))) << untitled;
}

TEST_F(DocumentsToPDFTest, BlankPagesAreDroppedFromEachDocument) {
    std::ofstream(dir / "gaps.txt") << "Start" << std::string(150, '\n') << "End";
    auto options = Options({dir / "gaps.txt"}, false);
    ASSERT_EQ(ConvertDocumentsToPDF(&options), 1);
    const auto pdf = dir / "out" / "gaps.pdf";
    EXPECT_EQ(ReadPdfInfo(pdf).pages, 2);
    const std::string text = PdfText(pdf);
    EXPECT_NE(text.find("Start"), std::string::npos);
    EXPECT_NE(text.find("End"), std::string::npos);
}

TEST_F(DocumentsToPDFTest, BlankPageDetection) {
    WriteContentPdf(dir / "pages.pdf", {
                                           "",                                              // empty
                                           "BT /F1 12 Tf 20 50 Td (x) Tj ET",               // one character
                                           "0.6 G 0.5 w 10 10 m 190 10 l S",                // thin grey line
                                           "1 g BT /F1 12 Tf 20 50 Td (abcdef) Tj ET",      // six white characters
                                           "1 g BT /F1 12 Tf 20 50 Td (abcd) Tj ET",        // four white characters
                                           "1 1 1 rg 0 0 200 100 re f",                     // white paint
                                       });
    auto document = plat::PdfDocument::Open((dir / "pages.pdf").string());
    ASSERT_TRUE(document);
    const int expected[] = {1, 0, 0, 0, 1, 1};
    for (int page = 1; page <= 6; ++page) EXPECT_EQ(IsBlankPDFPage(document.get(), page), expected[page - 1]) << page;
    EXPECT_EQ(IsBlankPDFPage(document.get(), 7), 0);
    EXPECT_EQ(IsBlankPDFPage(nullptr, 1), 0);
}

TEST_F(DocumentsToPDFTest, CombinedDocumentsWithPasswordAndProgress) {
    std::ofstream(dir / "a.txt") << "Alpha text";
    std::ofstream(dir / "b.html") << "<html><body><h1>Beta heading</h1><p>Beta <b>bold</b></p></body></html>";
    std::ofstream(dir / "c.rtf") << "not really RTF";
    auto target = std::make_shared<RecordingTarget>();
    auto options = Options({dir / "a.txt", dir / "b.html", dir / "missing.txt"}, true);
    options.progress = Progress(target);
    options.writeOptions.userPassword = "pw";
    ASSERT_EQ(ConvertDocumentsToPDF(&options), 1);
    EXPECT_EQ(ReadPdfInfo(options.destination, "pw").pages, 2);
    EXPECT_FALSE(ReadPdfInfo(options.destination).ok);
    const std::string text = PdfText(options.destination, "pw");
    EXPECT_LT(text.find("Alpha text"), text.find("Beta heading"));
    EXPECT_EQ(target->values, (std::vector<std::int64_t>{3, 3, 3, 6, 7}));

    auto unreadable = Options({dir / "missing.txt", dir / "c.rtf"}, true);
    unreadable.destination = dir / "none.pdf";
    EXPECT_EQ(ConvertDocumentsToPDF(&unreadable), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "none.pdf"));
    EXPECT_TRUE(IsHTMLFile(dir / "b.html"));
    EXPECT_TRUE(IsHTMLFile(dir / "B.HTM"));
    EXPECT_FALSE(IsHTMLFile(dir / "a.txt"));
}

TEST_F(DocumentsToPDFTest, RtfReaderKeepsTextAndStyles) {
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fswiss Helvetica;}{\\f1\\froman Times;}}"
        "{\\colortbl;\\red255\\green0\\blue0;}{\\*\\generator Writer;}{\\info{\\title Hidden}}"
        "\\f0\\fs24 Plain {\\b bold} {\\i italic} {\\cf1 red} caf\\'e9 \\u8364? \\{x\\}\\par"
        "\\qc\\f1 Centred\\line next\\tab tab{\\*\\unknown skipped}\\par}";
    QTextDocument document;
    ASSERT_TRUE(ReadRTF(rtf, document));
    EXPECT_EQ(document.toPlainText(),
              QString::fromUtf8("Plain bold italic red caf\u00e9 \u20ac {x}\nCentred\nnext\ttab\n"));
    const QTextBlock first = document.begin();
    bool sawBold = false, sawRed = false;
    for (auto it = first.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.text() == "bold") sawBold = fragment.charFormat().fontWeight() == QFont::Bold;
        if (fragment.text() == "red") sawRed = fragment.charFormat().foreground().color() == QColor(255, 0, 0);
    }
    EXPECT_TRUE(sawBold);
    EXPECT_TRUE(sawRed);
    EXPECT_EQ(first.next().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

    EXPECT_FALSE(ReadRTF("plain text", document));
    // Hostile input ends cleanly.
    EXPECT_TRUE(ReadRTF("{\\rtf1 " + std::string(100000, '{') + "deep", document));
    EXPECT_TRUE(ReadRTF("{\\rtf1 \\u", document));
    EXPECT_TRUE(ReadRTF("{\\rtf1 \\'", document));
    EXPECT_TRUE(ReadRTF("{\\rtf1 }}}}}} after", document));
    EXPECT_TRUE(ReadRTF("{\\rtf1 \\fs-5 \\cf99 \\uc999999 \\u-99999999999 x", document));
    ASSERT_TRUE(ReadRTF("{\\rtf1 {\\*\\blob\\bin4 }}{{}kept\\bin999999", document));
    EXPECT_EQ(document.toPlainText(), "kept");
}

TEST_F(DocumentsToPDFTest, RtfdPackagesBringTheirImages) {
    const auto package = dir / "note.rtfd";
    std::filesystem::create_directories(package);
    convtest::WriteImage(package / "pic.png", convtest::SolidImage(30, 20, {0, 0, 255, 255}), "public.png");
    std::ofstream(package / "TXT.rtf")
        << "{\\rtf1\\ansi Before {{\\NeXTGraphic pic.png \\width600 \\height400}\\'ac} "
           "{{\\NeXTGraphic ../escape.png \\width600 \\height400}\\'ac}After\\par}";
    BoundedTextDocument document;
    bool rich = false;
    ASSERT_TRUE(ReadTextDocument(package, document, &rich));
    EXPECT_TRUE(rich);
    int images = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat()) ++images;
        }
    }
    EXPECT_EQ(images, 1);
    EXPECT_TRUE(document.toPlainText().startsWith("Before "));
    EXPECT_TRUE(document.toPlainText().contains("After"));

    auto options = Options({package}, false);
    ASSERT_EQ(ConvertDocumentsToPDF(&options), 1);
    const std::string list = RunCommand({"pdfimages", "-list", (dir / "out" / "note.pdf").string()}).output;
    EXPECT_NE(list.find("   30    20 "), std::string::npos) << list;
}

// Children of this process that are still there.
int ChildProcessCount() {
    int count = 0;
    const std::string self = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string state, parent;
        rest >> state >> parent;
        if (parent == self) ++count;
    }
    return count;
}

TEST_F(DocumentsToPDFTest, OfficeDocumentsGoThroughLibreOffice) {
    ASSERT_TRUE(WriteDOCXDocument(dir / "report.docx", QStringLiteral("Quarterly report\nSecond paragraph")));
    ASSERT_TRUE(WriteODTDocument(dir / "memo.odt", QStringLiteral("Memo body text")));
    std::ofstream(dir / "broken.docx") << "PK not a zip at all";
    auto options = Options({dir / "report.docx", dir / "memo.odt", dir / "broken.docx"}, false);
    EXPECT_EQ(ConvertDocumentsToPDF(&options), 0);  // the last document failed
    EXPECT_NE(PdfText(dir / "out" / "report.pdf").find("Quarterly report"), std::string::npos);
    EXPECT_NE(PdfText(dir / "out" / "memo.pdf").find("Memo body text"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "broken.pdf"));
    EXPECT_EQ(ChildProcessCount(), 0);
}

TEST_F(DocumentsToPDFTest, ASlowLibreOfficeIsStoppedAtTheTimeLimit) {
    const auto fake = dir / "slow-office";
    std::ofstream(fake) << "#!/bin/sh\nexec sleep 30\n";
    std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
    ScopedEnvironment environment("VANTRELL_LIBREOFFICE", fake.c_str());
    ASSERT_TRUE(WriteODTDocument(dir / "memo.odt", QStringLiteral("Memo")));
    std::filesystem::create_directories(dir / "work");
    EXPECT_TRUE(ConvertWithLibreOffice(dir / "memo.odt", "html", "html", dir / "work", std::chrono::milliseconds(300))
                    .empty());
    EXPECT_EQ(ChildProcessCount(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "work"));
}

}  // namespace
}  // namespace pdftest
