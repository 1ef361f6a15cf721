// HTML reaches Qt only as the bounded parser measured it: random and repeated tag soups give Qt the
// tables that were counted, the spellings that once hid tables from a counting pre-pass stay flat, and
// no link makes Qt open a file.

#include "PdfTestSupport.h"
#include "PdfToolsTestSupport.h"

#include "pdf/BoundedHtml.h"
#include "pdf/DocumentsToPDF.h"
#include "pdf/HtmlStyle.h"
#include "pdf/TextDocumentReader.h"

#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>

#include <array>
#include <fstream>
#include <random>
#include <string>
#include <tuple>

#include <sys/stat.h>

namespace pdftest {
namespace {

namespace fs = std::filesystem;

// The tables Qt built, in document order, and how deeply they nest.
struct QtTables {
    std::vector<HTMLTableShape> tables;
    std::size_t depth = 0;
};

QtTables TablesOf(const QTextDocument& document) {
    QtTables result;
    std::vector<std::pair<QTextFrame*, std::size_t>> frames{{document.rootFrame(), 0}};
    while (!frames.empty()) {
        auto [frame, depth] = frames.back();
        frames.pop_back();
        if (auto* table = qobject_cast<QTextTable*>(frame)) {
            result.tables.push_back({std::size_t(table->rows()), std::size_t(table->columns())});
            result.depth = std::max(result.depth, ++depth);
        }
        const QList<QTextFrame*> children = frame->childFrames();
        for (auto it = children.rbegin(); it != children.rend(); ++it) frames.emplace_back(*it, depth);
    }
    return result;
}

std::vector<QTextImageFormat> ImagesOf(const QTextDocument& document) {
    std::vector<QTextImageFormat> images;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat()) images.push_back(it.fragment().charFormat().toImageFormat());
    return images;
}

// A soup of tag fragments as hostile files mix them: tables and their parts where they belong and where
// they do not, self-closed and misspelt tags, elements Qt does not know, comments and text.
std::string TagSoup(std::mt19937& random, std::size_t fragments) {
    static const std::vector<std::string> parts = {
        "<table>", "<table border=1 cellpadding=2>", "</table>", "<tr>", "</tr>", "<td>", "</td>", "<th>",
        "<td colspan=3>", "<td rowspan=2>", "<td colspan=0 rowspan=99999>", "<td/>", "<caption>", "</caption>",
        "<thead>", "<tbody>", "</tbody>", "<tfoot>", "<p>", "</p>", "<div>", "</div>", "<b>", "</b>", "<i>",
        "<ul>", "<li>", "</ul>", "<ol>", "<dl>", "<dt>", "<dd>", "<body>", "<html>", "</html>", "<x>", "</x>",
        "<t&#97;ble>", "<t&#x72;>", "<\"table\">", "<\"td\">", "<!-- <table><tr><td> -->", "<pre>", "</pre>",
        "<span style=\"display:block\">", "<br>", "<hr>", "<img src=x width=5>", "<font color=red size=+2>",
        "<style>td { color: red }</style>", "<blockquote>", "<center>", "<h1>", "</h1>", "words ", " ",
        "&amp;", "&lt;table&gt;", "<", ">", "\"", "<table><tr><td>", "</td></tr></table>", "<a href=#x>",
    };
    std::uniform_int_distribution<std::size_t> pick(0, parts.size() - 1);
    std::string soup;
    for (std::size_t i = 0; i < fragments; ++i) soup += parts[pick(random)];
    return soup;
}

class BoundedHtmlTest : public PdfToolsTest {
protected:
    // Reads `html` as a file through the documents-to-PDF reader: false when refused.
    bool Read(const std::string& html, BoundedTextDocument& document) {
        std::ofstream(dir / "page.html") << html;
        return ReadTextDocument(dir / "page.html", document);
    }

    int Convert(const std::string& html) {
        std::ofstream(dir / "page.html") << html;
        fs::create_directories(dir / "out");
        DocumentsToPDFOptions options;
        options.files.emplace_back().filePath = dir / "page.html", options.destination = dir / "out";
        return ConvertDocumentsToPDF(&options);
    }
};

// Qt builds from the bounded text the tables the bounded parser counted.
TEST_F(BoundedHtmlTest, RandomAndRepeatedTagSoupsReachQtAsMeasured) {
    // {seed, rounds, fragments, repeats}: long random soups, then short ones repeated many times.
    for (const auto& [seed, rounds, fragments, repeats] : {std::array<unsigned, 4>{20261208, 400, 120, 1}, {39, 60, 6, 400}}) {
        std::mt19937 random(seed);
        for (unsigned round = 0; round < rounds; ++round) {
            SCOPED_TRACE(round);
            std::string html = TagSoup(random, 1 + random() % fragments);
            if (repeats > 1) html = Repeat(html, 1 + random() % repeats);
            const auto bounded = MakeBoundedHTML(QString::fromStdString(html));
            if (!bounded) continue;  // refused: Qt never sees it
            const HTMLShape& shape = bounded->shape;
            EXPECT_LE(shape.depth, kMaxHTMLDepth);
            EXPECT_LE(shape.tableDepth, kMaxHTMLTableNesting);
            QTextDocument document;
            document.setHtml(bounded->html);
            const QtTables qt = TablesOf(document);
            ASSERT_EQ(qt.tables.size(), shape.tables.size()) << html << "\n" << bounded->html.toStdString();
            for (std::size_t i = 0; i < qt.tables.size(); ++i)
                EXPECT_EQ(std::pair(qt.tables[i].rows, qt.tables[i].columns), std::pair(shape.tables[i].rows, shape.tables[i].columns))
                    << i << ": " << bounded->html.toStdString();
            EXPECT_LE(qt.depth, shape.tableDepth) << bounded->html.toStdString();
        }
    }
}

// Work that runs away in Qt is refused and honest work is not; spellings that once hid tables from a counting
// pre-pass stay within the bounds. Each ends cleanly the whole way to a PDF.
TEST_F(BoundedHtmlTest, RunawayWorkAndHiddenTablesAreRefusedAndHonestWorkIsNot) {
    const std::string bigImage =
        "<img width=2000000000 height=2000000000 src=\"data:image/png;base64,"
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==\">";
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {  // name, html, accepted
        {"entity-spelt names", Repeat("<t&#97;ble><t&#114;><t&#100;>x", 5000), false},
        {"hex entity-spelt names", Repeat("<t&#x61;ble><t&#x72;><t&#x64;>x", 5000), false},
        {"quoted names", Repeat("<\"table\"><\"tr\"><\"td\">", 5000), true},
        {"body inside an unknown element", Repeat("<table><tr><td><x><body>y", 5000), false},
        {"self-closed cells in captions", Repeat("<caption><td/>", 5000), false},
        {"entity-spelt tables around text", Repeat("<t&#97;ble><t&#114;><t&#100;>", 20) + std::string(10240, 'x'), true},
        {"blocks made by CSS", Repeat("<span style=\"display:block\">", 100000), false},
        {"nested bold", Repeat("<b>", 399990) + "x", false},
        {"a small image claiming a huge size", bigImage, true},
        {"tables nine deep", Repeat("<table><tr><td>", 9) + "x", false},
        {"text deep in eight tables", Repeat("<table><tr><td>", 8) + Repeat("word ", 4000), false},
        {"some text in eight tables", Repeat("<table><tr><td>", 8) + Repeat("word ", 2000), true},
        {"a list of 30,000 items", "<ul>" + Repeat("<li>x</li>", 30000) + "</ul>", false},
        {"a list of 5,000 items", "<ul>" + Repeat("<li>x</li>", 5000) + "</ul>", true},
        {"lists thirteen deep", Repeat("<ul><li>", 13) + "x", false},
        {"lists twelve deep", Repeat("<ul><li>", 12) + "x", true},
        {"elements nested 97 deep", Repeat("<div>", 97) + "x", false},
        {"elements nested 96 deep", Repeat("<span>", 96) + "x", true},
        {"more elements than Qt lays out fast", Repeat("<b>x</b>", 100001), false},
        {"table cells beyond the grid", "<table>" + Repeat("<tr><td colspan=1000>x</td></tr>", 300) + "</table>", false},
        {"page breaks beyond the bound", Repeat("<p style='page-break-after: always'>x</p>", 2001), false},
        {"a tag of 400,000 attributes", "<p " + Repeat("a b c d e f g h i j k l m n o p q r s t ", 20000) + ">x", false},
    };
    for (const auto& [name, html, accepted] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(MakeBoundedHTML(QString::fromStdString(html)).has_value(), accepted);
        BoundedTextDocument document;
        EXPECT_EQ(Read(html, document), accepted);
        EXPECT_LE(TablesOf(document).depth, kMaxHTMLTableNesting);
        for (const QTextImageFormat& image : ImagesOf(document))
            EXPECT_LE(std::max(image.width(), image.height()), kMaxHTMLImageSide);
    }
    // Not tried while Qt would still be given deep tables.
    if (HasFailure()) return;
    for (const auto& [name, html, accepted] : cases) EXPECT_EQ(Convert(html), accepted ? 1 : 0) << name;
}

TEST_F(BoundedHtmlTest, HonestDocumentsKeepTheirTablesTextAndStyles) {
    const auto bounded = MakeBoundedHTML(QStringLiteral(
        "<html><head><meta http-equiv=Content-Type content='text/html; charset=iso-8859-1'>"
        "<style>td { padding: 3pt } .note { font-style: italic; display: block }</style></head>"
        "<body><h1>Title</h1><p class=note>A &amp; B &lt;c&gt;</p>"
        "<table border=1 width=100%><tr><th>H</th><th>I</th></tr><tr><td colspan=2>wide</td></tr></table>"
        "<ul><li>one<li>two</ul><p><font face=\"DejaVu Sans\" color=red>red</font> Grüße ☃</body></html>"));
    ASSERT_TRUE(bounded);
    const std::string html = bounded->html.toStdString();
    for (const char* kept : {"td { padding: 3.00pt; }", ".note { font-style: italic; }", "<h1>Title</h1>",
                             "A &amp; B &lt;c&gt;", "<td colspan=\"2\">wide</td>", "<li>two</li>",
                             "color=\"#ff0000\"", "font-family: 'DejaVu Sans';", "Grüße ☃"})
        EXPECT_NE(html.find(kept), std::string::npos) << kept << "\n" << html;
    EXPECT_EQ(html.find("display"), std::string::npos) << html;
    ASSERT_EQ(bounded->shape.tables.size(), 1u);
    EXPECT_EQ(std::pair(bounded->shape.tables[0].rows, bounded->shape.tables[0].columns), (std::pair<std::size_t, std::size_t>(2, 2)));
}

TEST_F(BoundedHtmlTest, StyleDeclarationsAreCheckedAndRewritten) {
    const std::vector<std::pair<QString, QString>> declarations = {
        {"color: RED", "color: #ff0000;"},
        {"display: block; float: left; position: absolute", ""},
        {"font-size: 100000pt", "font-size: 144.00pt;"},
        {"margin: 1px 99999in", "margin: 1.00px 10.00in;"},
        {"background: url(/dev/zero)", ""},
        {"background-image: url(x.png); color: #abc", "color: #aabbcc;"},
        {"font-family: \"Liberation Serif\", serif", "font-family: 'Liberation Serif', 'serif';"},
        {"font-family: a;b", "font-family: 'a';"},
        {"line-height: 115%", "line-height: 115.00%;"},
        {"text-decoration: underline line-through", "text-decoration: underline line-through;"},
        {"page-break-before: always", ""},  // style sheets name many elements at once
    };
    for (const auto& [in, out] : declarations) EXPECT_EQ(SanitizeStyleDeclarations(in).toStdString(), out.toStdString());
    std::size_t breaks = 0;  // style attributes: counted
    EXPECT_EQ(SanitizeStyleDeclarations(u"page-break-after: always; page-break-before: always", &breaks),
              QStringLiteral("page-break-after: always; page-break-before: always;"));
    EXPECT_EQ(breaks, 2u);

    QString sheet;
    std::size_t rules = 0;
    AppendSanitizedStyleSheet(u"<!-- @import url(x.css); P.note, #top { color: blue } td p { color: red } a:link { color: red }"
                              u" @media print { p { color: red } } /* p { x } */ h2 { page-break-before: always }"
                              u" .x { color: green } -->",
                              sheet, rules);
    EXPECT_EQ(sheet.toStdString(), "p.note, #top { color: #0000ff; }\n.x { color: #008000; }\n");
    EXPECT_EQ(rules, 2u);
    for (int i = 0; i < 1000; ++i) AppendSanitizedStyleSheet(u"p { color: red }", sheet, rules);
    EXPECT_EQ(rules, kMaxHTMLStyleRules);
}

// Qt finds an image under every name it asks for, so it has no reason to open a file of that name; one over
// the 32 MiB a link may load was once embedded all the same, when Qt opened the file itself.
TEST_F(BoundedHtmlTest, EveryLinkIsAnsweredByTheDocumentAndNeverOpenedByQt) {
    ASSERT_EQ(::mkfifo((dir / "res_fifo").c_str(), 0600), 0);
    convtest::WriteImage(dir / "pic.png", convtest::SolidImage(30, 20, {0, 0, 255, 255}), "public.png");
    QImage big(3600, 3600, QImage::Format_RGB888);
    big.fill(Qt::darkGreen);
    ASSERT_TRUE(big.save(QString::fromStdString((dir / "big.bmp").string()), "BMP"));
    ASSERT_GT(fs::file_size(dir / "big.bmp"), kMaxDocumentResourceBytes);
    const std::string folder = (dir / "").string();
    const std::string html = "<html><head><link rel=stylesheet href='" + folder + "res_fifo'>"
                             "<style>p { background-image: url(" + folder + "big.bmp) }</style></head>"
                             "<body><p style=\"background: url(" + folder + "big.bmp)\">Before <img src=\"" + folder +
                             "res_fifo\"><img src=res_fifo><img src=\"pic.png\"><img src=missing.png>"
                             "<img src='file:///dev/zero'><img src=\"http://127.0.0.1:9/x.png\"><img src='data:,x'>"
                             "<img src='" + folder + "big.bmp'> after</p>";
    BoundedTextDocument document;
    ASSERT_TRUE(Read(html, document));
    const auto images = ImagesOf(document);
    EXPECT_EQ(images.size(), 8u);
    int shown = 0;
    for (const QTextImageFormat& image : images) {
        const QVariant resource = document.resource(QTextDocument::ImageResource, QUrl(image.name()));
        ASSERT_EQ(resource.userType(), QMetaType::QImage) << image.name().toStdString();
        EXPECT_FALSE(resource.value<QImage>().isNull());
        shown += resource.value<QImage>().width() == 30;
    }
    EXPECT_EQ(shown, 1);

    ASSERT_EQ(Convert(html), 1);
    const auto pdf = dir / "out" / "page.pdf";
    EXPECT_NE(PdfText(pdf).find("after"), std::string::npos);
    const std::string list = RunCommand({"pdfimages", "-list", pdf.string()}).output;
    EXPECT_EQ(list.find(" 3600 "), std::string::npos) << list;
}

}  // namespace
}  // namespace pdftest
