// Documents made to hurt the readers: deep nesting, huge inputs, links to
// devices and work that multiplies. Each must end cleanly, without a crash,
// a hang or a half-written output.

#include "PdfTestSupport.h"
#include "PdfToolsTestSupport.h"

#include "pdf/DocumentsToPDF.h"
#include "pdf/HtmlNesting.h"
#include "pdf/OfficeConverter.h"
#include "pdf/PDFImageExtractor.h"
#include "pdf/PDFToText.h"
#include "pdf/RtfReader.h"
#include "pdf/TextDocumentReader.h"
#include "pdf/TextDocumentWriters.h"
#include "platform/PdfObject.h"
#include "platform/ScratchFolder.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <fstream>
#include <string>

#include <sys/stat.h>

namespace pdftest {
namespace {

class HostileDocumentsTest : public PdfToolsTest {
protected:
    // Converts one document on its own; the output folder must stay empty
    // when the conversion fails.
    int Convert(const std::filesystem::path& file) {
        std::filesystem::create_directories(dir / "out");
        DocumentsToPDFOptions options;
        PDFInputFile entry;
        entry.filePath = file;
        options.files.push_back(entry);
        options.destination = dir / "out";
        const int result = ConvertDocumentsToPDF(&options);
        EXPECT_EQ(std::filesystem::is_empty(dir / "out"), result == 0) << file;
        return result;
    }
};

std::string Repeat(const std::string& part, std::size_t count) {
    std::string text;
    text.reserve(part.size() * count);
    for (std::size_t i = 0; i < count; ++i) text += part;
    return text;
}

TEST_F(HostileDocumentsTest, HtmlNestingCountsWhatQtBuilds) {
    struct Case {
        std::string html;
        std::size_t depth;
    };
    const std::vector<Case> cases = {
        {"<p>a<p>b<p>c", 1},
        {"<ul><li>a<li>b<li>c</ul>", 2},
        {"<table><tr><td>a<td>b<tr><td>c</table>", 3},
        {"<td>stray cell", 3},                                   // a table and a row are made up
        {Repeat("<table><tr><td>", 3) + "x", 9},
        {Repeat("<div>x</div>", 1000), 1},
        {Repeat("<div>", 10) + "<body>" + Repeat("<div>", 10), 10},  // body starts afresh
        {"<dl><dd>a<dd>b<dd>c</dl>", 2},                        // a dd ends the last dd
        {"<!-- <table><table><table> --><p title='<div><div>'>x", 1},
        {Repeat("<b><i>", 1000) + "<p>x", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetHTMLShape(QString::fromStdString(c.html)).depth, c.depth) << c.html;
    }
    EXPECT_GT(GetHTMLShape(QString::fromStdString(Repeat("<ul><li>", 5000))).depth, kMaxHTMLNesting);
    EXPECT_GT(GetHTMLShape(QString::fromStdString(Repeat("<table><tr><td>", 5000))).tableDepth,
              kMaxHTMLTableNesting);
    EXPECT_GT(GetHTMLShape(QString::fromStdString(Repeat("<b>x</b>", 300000))).tags, kMaxHTMLTags);
    // Text deep in tables weighs more the deeper it stands.
    const std::string inner = std::string(1 << 20, 'x');
    EXPECT_EQ(GetHTMLShape(QString::fromStdString("<table><tr><td>" + inner)).work, inner.size() + 15);
    EXPECT_GT(GetHTMLShape(QString::fromStdString(Repeat("<table><tr><td>", 8) + inner)).work,
              kMaxHTMLLayoutWork);
}

TEST_F(HostileDocumentsTest, DeeplyNestedHtmlFailsCleanly) {
    // Once a crash in Qt's table layout; lists and divisions nest the same way.
    for (const std::string& level : {std::string("<table><tr><td>"), std::string("<ul><li>"),
                                     std::string("<div>"), std::string("<blockquote>")}) {
        std::ofstream(dir / "deep.html") << Repeat(level, 5000) << "bottom";
        EXPECT_EQ(Convert(dir / "deep.html"), 0) << level;
    }
    // Honest nesting is printed.
    std::ofstream(dir / "fine.html") << Repeat("<table><tr><td>", 6) << Repeat("<div>", 40) << "inner words";
    ASSERT_EQ(Convert(dir / "fine.html"), 1);
    EXPECT_NE(PdfText(dir / "out" / "fine.pdf").find("inner words"), std::string::npos);
}

TEST_F(HostileDocumentsTest, LinksLoadOnlyRegularLocalFiles) {
    convtest::WriteImage(dir / "pic.png", convtest::SolidImage(30, 20, {0, 0, 255, 255}), "public.png");
    ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);
    std::ofstream(dir / "links.html")
        << "<html><head><link rel=stylesheet href='file:///dev/zero'>"
           "<link rel=stylesheet href='fifo.png'></head><body>"
           "<p>Before <img src='file:///dev/zero'> <img src='/dev/urandom'> <img src='fifo.png'>"
           "<img src='http://127.0.0.1:9/x.png'> <img src='pic.png'> after</p></body></html>";
    ASSERT_EQ(Convert(dir / "links.html"), 1);
    const auto pdf = dir / "out" / "links.pdf";
    EXPECT_NE(PdfText(pdf).find("after"), std::string::npos);
    // The image beside the page is there.
    const std::string list = RunCommand({"pdfimages", "-list", pdf.string()}).output;
    EXPECT_NE(list.find("   30    20 "), std::string::npos) << list;
}

TEST_F(HostileDocumentsTest, LibreOfficeRunsWithinMemoryAndLeavesNoTemporaryFolders) {
    // A stand-in that reports its limits, leaves a temporary folder as
    // LibreOffice does, and then finishes or hangs.
    const auto fake = dir / "office";
    std::ofstream(fake) << "#!/bin/sh\n"
                           "for last; do :; done\n"
                           "out=$(dirname \"$0\")\n"
                           "while [ $# -gt 1 ]; do [ \"$1\" = --outdir ] && out=$2; shift; done\n"
                           "mkdir \"$TMPDIR/lu1234.tmp\" || exit 3\n"
                           "[ -e \"$(dirname \"$last\")/hang\" ] && exec sleep 30\n"
                           "echo \"<p>$(ulimit -v)</p>\" > \"$out/memo.html\"\n";
    std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
    ScopedEnvironment environment("VANTRELL_LIBREOFFICE", fake.c_str());
    ASSERT_TRUE(WriteODTDocument(dir / "memo.odt", QStringLiteral("Memo")));
    std::filesystem::create_directories(dir / "work");

    const auto html = ConvertWithLibreOffice(dir / "memo.odt", "html", "html", dir / "work");
    ASSERT_FALSE(html.empty());
    std::ifstream in(html);
    const std::string reported((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(reported, "<p>" + std::to_string((std::uint64_t(2) << 30) / 1024) + "</p>\n");
    // Only the converted file is left.
    std::size_t left = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "work")) {
        left += entry.is_regular_file();
        EXPECT_EQ(entry.path().filename().string().rfind("lu", 0), std::string::npos) << entry.path();
    }
    EXPECT_EQ(left, 1u);

    std::filesystem::remove_all(dir / "work");
    std::filesystem::create_directories(dir / "work");
    std::ofstream(dir / "hang") << "";
    EXPECT_TRUE(ConvertWithLibreOffice(dir / "memo.odt", "html", "html", dir / "work", std::chrono::milliseconds(300))
                    .empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir / "work"));
}

TEST_F(HostileDocumentsTest, InputsBeyondTheLayoutBudgetFailCleanly) {
    std::ofstream(dir / "huge.txt") << Repeat(std::string(1023, 'x') + "\n", 17 * 1024);
    EXPECT_EQ(Convert(dir / "huge.txt"), 0);
    std::ofstream(dir / "huge.html") << Repeat("<b>x</b>", 450000);
    EXPECT_EQ(Convert(dir / "huge.html"), 0);
    // Formats that change too often for one paragraph.
    std::ofstream(dir / "runs.rtf") << "{\\rtf1 " << Repeat("\\b x\\b0 y", 30000) << "}";
    EXPECT_EQ(Convert(dir / "runs.rtf"), 0);
}

TEST_F(HostileDocumentsTest, RtfWithManyFormatRunsReadsEveryRun) {
    constexpr int kRuns = 20000;
    std::string rtf = "{\\rtf1\\ansi ";
    for (int i = 0; i < kRuns; ++i) rtf += i % 2 ? "\\b0 r" : "\\b r";
    rtf += "\\par}";
    QTextDocument document;
    ASSERT_TRUE(ReadRTF(rtf, document));
    int runs = 0;
    bool alternates = true;
    for (auto it = document.begin().begin(); !it.atEnd(); ++it) {
        const bool bold = it.fragment().charFormat().fontWeight() == QFont::Bold;
        alternates = alternates && bold == (runs % 2 == 0) && it.fragment().text() == "r";
        ++runs;
    }
    EXPECT_EQ(runs, kRuns);
    EXPECT_TRUE(alternates);
    EXPECT_FALSE(document.isUndoAvailable());
}

// A page drawing form F0, which draws F1 `fanOut` times, and so on down to
// the last form, which shows a word and an image.
std::string FormFanOut(int levels, int fanOut) {
    RawPdf pdf;
    const int font = pdf.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int image = pdf.AddStream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray "
                                    "/BitsPerComponent 8",
                                    std::string("\x10\x80\x80\xf0", 4));
    int inner = pdf.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 200 200] /Resources << /Font << /F1 " +
                                  std::to_string(font) + " 0 R >> /XObject << /Im " + std::to_string(image) +
                                  " 0 R >> >>",
                              "BT /F1 12 Tf 10 10 Td (deep) Tj ET q 10 0 0 10 0 0 cm /Im Do Q");
    for (int level = levels - 1; level >= 0; --level) {
        inner = pdf.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 200 200] /Resources << /XObject << /F " +
                                  std::to_string(inner) + " 0 R >> >>",
                              Repeat("/F Do ", std::size_t(fanOut)));
    }
    return BuildDocument(pdf, {{"<< /XObject << /F0 " + std::to_string(inner) + " 0 R >> >>", "/F0 Do"}});
}

// A page whose content stream inflates to `megabytes` of path operators.
std::string ContentBomb(std::size_t megabytes) {
    RawPdf pdf;
    const int tree = pdf.Reserve();
    const int content = pdf.AddStream("/Filter /FlateDecode", Deflate(Repeat("0 0 m\n", megabytes << 20 >> 3)));
    const int page = pdf.Add("<< /Type /Page /Parent " + std::to_string(tree) + " 0 R /Contents " +
                             std::to_string(content) + " 0 R >>");
    pdf.Set(tree, "<< /Type /Pages /MediaBox [0 0 200 200] /Count 1 /Kids [" + std::to_string(page) + " 0 R] >>");
    return pdf.Build(pdf.Add("<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R >>"));
}

class HostilePdfTest : public PdfToolsTest {
protected:
    std::size_t OutputCount() {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir / "out")) ++count;
        return count;
    }
    int ToText(const std::string& pdf, bool perPage) {
        WriteFile(dir / "in.pdf", pdf);
        std::filesystem::create_directories(dir / "out");
        PDFTextConversion c;
        c.sourceURL = dir / "in.pdf";
        c.destinationFolder = dir / "out";
        c.extension = "txt";
        c.perPage = perPage;
        return ConvertPDFToTextDocument(&c);
    }
    int Images(const std::string& pdf) {
        WriteFile(dir / "in.pdf", pdf);
        std::filesystem::create_directories(dir / "out");
        ImageConversion conversion;
        conversion.sourceURL = dir / "in.pdf";
        conversion.destinationURL = dir / "out";
        conversion.options.outputType = 7;
        return ExtractImagesFromPDF(&conversion);
    }
};

TEST_F(HostilePdfTest, ContentsBeyondTheWorkBudgetFailWithoutOutput) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"forms drawing forms 10^12 times", FormFanOut(12, 10)},
        {"a form drawing itself", [] {
             RawPdf pdf;
             const int form = pdf.Reserve();
             pdf.Set(form, "<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Me " +
                               std::to_string(form) + " 0 R >> >> /Length 6 >>\nstream\n/Me Do\nendstream");
             return BuildDocument(pdf, {{"<< /XObject << /Me " + std::to_string(form) + " 0 R >> >>", "/Me Do"}});
         }()},
        {"a content stream of 100 MiB in a small file", ContentBomb(100)},
    };
    for (const auto& [what, pdf] : cases) {
        const auto objects = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(pdf.begin(), pdf.end()));
        ASSERT_TRUE(objects) << what;
        EXPECT_FALSE(objects->IsPageContentWithinBudget(1)) << what;
        for (bool perPage : {false, true}) {
            EXPECT_EQ(ToText(pdf, perPage), 0) << what;
            EXPECT_EQ(OutputCount(), 0u) << what;
        }
        EXPECT_EQ(Images(pdf), 0) << what;
        EXPECT_EQ(OutputCount(), 0u) << what;
    }
}

TEST_F(HostilePdfTest, HonestReuseOfFormsStaysWithinTheBudget) {
    const std::string pdf = FormFanOut(3, 10);  // the word and the image drawn 1000 times
    const auto objects = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(pdf.begin(), pdf.end()));
    ASSERT_TRUE(objects);
    EXPECT_TRUE(objects->IsPageContentWithinBudget(1));
    EXPECT_TRUE(objects->IsPageContentWithinBudget(1));  // asked again, the answer stands
    EXPECT_FALSE(objects->IsPageContentWithinBudget(2));
    ASSERT_EQ(ToText(pdf, false), 1);
    ASSERT_EQ(OutputCount(), 1u);
    std::filesystem::remove_all(dir / "out");
    EXPECT_EQ(Images(pdf), 1);
    EXPECT_EQ(OutputCount(), 1u);
    // A large content stream is no fault in itself.
    const std::string large = ContentBomb(8);
    EXPECT_TRUE(plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(large.begin(), large.end()))
                    ->IsPageContentWithinBudget(1));
}

}  // namespace
}  // namespace pdftest
