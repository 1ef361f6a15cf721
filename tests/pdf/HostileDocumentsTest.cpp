// Documents made to hurt the readers: deep nesting, huge inputs, links to
// devices and work that multiplies. Each must end cleanly, without a crash,
// a hang or a half-written output.

#include "PdfToolsTestSupport.h"

#include "pdf/DocumentsToPDF.h"
#include "pdf/HtmlNesting.h"
#include "pdf/OfficeConverter.h"
#include "pdf/RtfReader.h"
#include "pdf/TextDocumentReader.h"
#include "pdf/TextDocumentWriters.h"
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

}  // namespace
}  // namespace pdftest
