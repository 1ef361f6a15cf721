// Deep nesting, huge inputs, links to devices and work that multiplies: each ends cleanly, without a
// crash, a hang or a half-written output.

#include "PdfTestSupport.h"
#include "PdfToolsTestSupport.h"

#include "pdf/DocumentsToPDF.h"
#include "pdf/OfficeConverter.h"
#include "pdf/PDFToText.h"
#include "pdf/RtfReader.h"
#include "pdf/TextDocumentWriters.h"
#include "platform/PdfDocument.h"
#include "platform/PdfObject.h"
#include "platform/PdfSliceRenderer.h"
#include "platform/ScratchFolder.h"

#include <QTextDocument>
#include <QTextFragment>

#include <fstream>
#include <regex>
#include <string>

#include <sys/stat.h>

namespace pdftest {
namespace {

namespace fs = std::filesystem;

std::string Ref(int object) { return std::to_string(object) + " 0 R"; }
auto Objects(const std::string& pdf) {
    return plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(pdf.begin(), pdf.end()));
}

class HostileDocumentsTest : public PdfToolsTest {
protected:
    // Converts one document on its own; the output folder must stay empty when the conversion fails.
    int Convert(const std::string& name, const std::string& content) {
        std::ofstream(dir / name) << content;
        fs::create_directories(dir / "out");
        DocumentsToPDFOptions options;
        options.files.emplace_back().filePath = dir / name, options.destination = dir / "out";
        const int result = ConvertDocumentsToPDF(&options);
        EXPECT_EQ(fs::is_empty(dir / "out"), result == 0) << name;
        return result;
    }
    // Runs `how` ("text", "text per page", "images" or "pages") on `pdf`; its result. The output folder is fresh.
    int Run(const std::string& pdf, const std::string& how) {
        WriteFile(dir / "in.pdf", pdf);
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        if (how == "images") return ExtractPngImages(dir / "in.pdf", dir / "out");
        if (how == "pages") return RenderPngPages(dir / "in.pdf", dir / "out");
        PDFTextConversion c;
        c.sourceURL = dir / "in.pdf", c.destinationFolder = dir / "out", c.extension = "txt";
        c.perPage = how == "text per page";
        return ConvertPDFToTextDocument(&c);
    }
    std::vector<std::string> Outputs() { return FileNames(dir / "out"); }
};

TEST_F(HostileDocumentsTest, DeepNestingAndInputsBeyondTheLayoutBudgetFailCleanly) {
    const std::vector<std::pair<std::string, std::string>> inputs = {
        // Deep tables once crashed Qt's table layout; lists and divisions nest the same way.
        {"tables.html", Repeat("<table><tr><td>", 5000) + "bottom"},
        {"lists.html", Repeat("<ul><li>", 5000) + "bottom"},
        {"divisions.html", Repeat("<div>", 5000) + "bottom"},
        {"huge.txt", Repeat(std::string(1023, 'x') + "\n", 17 * 1024)},
        {"huge.html", Repeat("<b>x</b>", 450000)},
        {"runs.rtf", "{\\rtf1 " + Repeat("\\b x\\b0 y", 30000) + "}"},  // formats that change too often
    };
    for (const auto& [name, content] : inputs) EXPECT_EQ(Convert(name, content), 0) << name;
    // Honest nesting is printed.
    ASSERT_EQ(Convert("fine.html", Repeat("<table><tr><td>", 6) + Repeat("<div>", 40) + "inner words"), 1);
    EXPECT_NE(PdfText(dir / "out" / "fine.pdf").find("inner words"), std::string::npos);
}

TEST_F(HostileDocumentsTest, LinksLoadOnlyRegularLocalFiles) {
    convtest::WriteImage(dir / "pic.png", convtest::SolidImage(30, 20, {0, 0, 255, 255}), "public.png");
    ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);
    ASSERT_EQ(Convert("links.html", "<html><head><link rel=stylesheet href='file:///dev/zero'>"
                                    "<link rel=stylesheet href='fifo.png'></head><body>"
                                    "<p>Before <img src='file:///dev/zero'> <img src='/dev/urandom'> <img src='fifo.png'>"
                                    "<img src='http://127.0.0.1:9/x.png'> <img src='pic.png'> after</p></body></html>"),
              1);
    const auto pdf = dir / "out" / "links.pdf";
    EXPECT_NE(PdfText(pdf).find("after"), std::string::npos);
    const std::string list = RunCommand({"pdfimages", "-list", pdf.string()}).output;  // the local image is there
    EXPECT_NE(list.find("   30    20 "), std::string::npos) << list;
}

TEST_F(HostileDocumentsTest, LibreOfficeRunsWithinMemoryAndLeavesNoTemporaryFolders) {
    // A stand-in that reports its memory limit, leaves a temporary folder as LibreOffice does, and finishes or hangs.
    const auto fake = dir / "office";
    std::ofstream(fake) << R"(#!/bin/sh
for last; do :; done; out=$(dirname "$0")
while [ $# -gt 1 ]; do [ "$1" = --outdir ] && out=$2; shift; done
mkdir "$TMPDIR/lu1234.tmp" || exit 3
[ -e "$(dirname "$last")/hang" ] && exec sleep 30
echo "<p>$(ulimit -v)</p>" > "$out/memo.html"
)";
    fs::permissions(fake, fs::perms::owner_all);
    ScopedEnvironment environment("VANTRELL_LIBREOFFICE", fake.c_str());
    ASSERT_TRUE(WriteODTDocument(dir / "memo.odt", QStringLiteral("Memo")));
    fs::create_directories(dir / "work");

    const auto html = ConvertWithLibreOffice(dir / "memo.odt", "html", "html", dir / "work");
    ASSERT_FALSE(html.empty());
    EXPECT_EQ(Bytes(ReadFile(html)), "<p>" + std::to_string((std::uint64_t(2) << 30) / 1024) + "</p>\n");
    std::size_t left = 0;  // only the converted file is left
    for (const auto& entry : fs::recursive_directory_iterator(dir / "work")) {
        left += entry.is_regular_file();
        EXPECT_FALSE(entry.path().filename().string().starts_with("lu")) << entry.path();
    }
    EXPECT_EQ(left, 1u);

    fs::remove_all(dir / "work");
    fs::create_directories(dir / "work");
    std::ofstream(dir / "hang") << "";
    EXPECT_TRUE(ConvertWithLibreOffice(dir / "memo.odt", "html", "html", dir / "work", std::chrono::milliseconds(300)).empty());
    EXPECT_TRUE(fs::is_empty(dir / "work"));
}

TEST_F(HostileDocumentsTest, RtfWithManyFormatRunsReadsEveryRun) {
    constexpr int kRuns = 20000;
    QTextDocument document;
    ASSERT_TRUE(ReadRTF("{\\rtf1\\ansi " + Repeat("\\b r\\b0 r", kRuns / 2) + "\\par}", document));
    int runs = 0, alternating = 0;
    for (auto it = document.begin().begin(); !it.atEnd(); ++it, ++runs)
        alternating += (it.fragment().charFormat().fontWeight() == QFont::Bold) == (runs % 2 == 0) && it.fragment().text() == "r";
    EXPECT_EQ(runs, kRuns);
    EXPECT_EQ(alternating, kRuns);
    EXPECT_FALSE(document.isUndoAvailable());
}

// The font and image a form drawing kLeafContent (a word and an image) names; its XObject dictionary is left open
// for more forms.
constexpr const char* kLeafContent = "BT /F1 12 Tf 10 10 Td (deep) Tj ET q 10 0 0 10 0 0 cm /Im Do Q ";
std::string LeafResources(RawPdf& pdf) {
    const int font = pdf.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int image = pdf.AddStream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8",
                                    std::string("\x10\x80\x80\xf0", 4));
    return "/Font << /F1 " + Ref(font) + " >> /XObject << /Im " + Ref(image) + " ";
}

// A page drawing form F0, which draws F1 `fanOut` times, and so on down to the last form, showing a word and an image.
std::string FormFanOut(int levels, int fanOut) {
    RawPdf pdf;
    int inner = pdf.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 200 200] /Resources << " + LeafResources(pdf) + ">> >>",
                              kLeafContent);
    for (int level = levels - 1; level >= 0; --level) {
        inner = pdf.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 200 200] /Resources << /XObject << /F " + Ref(inner) + " >> >>",
                              Repeat("/F Do ", std::size_t(fanOut)));
    }
    return BuildDocument(pdf, {{"<< /XObject << /F0 " + Ref(inner) + " >> >>", "/F0 Do"}});
}

// A page whose one content stream has the dictionary entries `entries` and the data `data`.
std::string ContentPage(const std::string& entries, const std::string& data) {
    RawPdf pdf;
    const int content = pdf.AddStream(entries, data), tree = pdf.Reserve();
    const int page = pdf.Add("<< /Type /Page /Parent " + Ref(tree) + " /Contents " + Ref(content) + " >>");
    pdf.Set(tree, "<< /Type /Pages /MediaBox [0 0 200 200] /Count 1 /Kids [" + Ref(page) + "] >>");
    return pdf.Build(pdf.Add("<< /Type /Catalog /Pages " + Ref(tree) + " >>"));
}

// A page whose content stream inflates to `megabytes` of path operators.
std::string ContentBomb(std::size_t megabytes) {
    return ContentPage("/Filter /FlateDecode", Deflate(Repeat("0 0 m\n", megabytes << 20 >> 3)));
}

// Forms that draw one another in a ring: form i shows a word and an image and draws each of the `draws` forms
// after it (modulo `count`), so that every form is reached again while it is being drawn.
std::string FormRing(int count, int draws) {
    RawPdf pdf;
    const std::string leaf = LeafResources(pdf);
    const int first = pdf.Reserve();  // forms first to first + count - 1
    for (int i = 1; i < count; ++i) pdf.Reserve();
    for (int i = 0; i < count; ++i) {
        std::string names, content = kLeafContent;
        for (int d = 1; d <= draws; ++d) {
            names += "/R" + std::to_string(d) + " " + Ref(first + (i + d) % count) + " ";
            content += "/R" + std::to_string(d) + " Do ";
        }
        pdf.Set(first + i, "<< /Type /XObject /Subtype /Form /BBox [0 0 200 200] /Resources << " + leaf + names +
                               ">> >> /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    return BuildDocument(pdf, {{"<< /XObject << /F0 " + Ref(first) + " >> >>", "/F0 Do"}});
}

// A page whose one content stream is JBIG2 data declaring a page of `width` x `height` pixels (generic region not
// included: the header is what a decoder allocates from).
std::string Jbig2Content(std::uint32_t width, std::uint32_t height) {
    const auto be32 = [](std::uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    // Segment 0: page information (type 48), associated with page 1, 19 bytes of data.
    return ContentPage("/Filter /JBIG2Decode", be32(0) + std::string{char(48), char(0), char(1)} + be32(19) + be32(width) +
                                                   be32(height) + be32(0) + be32(0) + std::string(3, '\0'));
}

// Contents beyond the work budget fail every tool without output; honest reuse of forms (1000 draws) stays within
// it, and so do forms drawing themselves: a renderer skips a form drawn while it is being drawn.
TEST_F(HostileDocumentsTest, PdfContentsWithinTheWorkBudgetAndBeyond) {
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"forms drawing forms 10^12 times", FormFanOut(12, 10), false},
        {"a form drawing itself", FormRing(1, 1), true},
        {"two forms drawing each other", FormRing(2, 1), true},
        {"a ring of forms drawing the next two", FormRing(5, 2), true},
        {"twelve forms each drawing all the others", FormRing(12, 11), false},
        {"a content stream of 100 MiB in a small file", ContentBomb(100), false},
        {"JBIG2 content of 100000 x 100000 pixels", Jbig2Content(100000, 100000), false},
        {"forms drawing forms 1000 times", FormFanOut(3, 10), true},
    };
    for (const auto& [what, pdf, within] : cases) {
        SCOPED_TRACE(what);
        const auto objects = Objects(pdf);
        ASSERT_TRUE(objects);
        EXPECT_EQ(objects->IsPageContentWithinBudget(1), within);
        EXPECT_EQ(objects->IsPageContentWithinBudget(1), within);  // asked again, the answer stands
        EXPECT_FALSE(objects->IsPageContentWithinBudget(2));
        for (const char* how : {"text", "text per page", "images", "pages"}) {
            EXPECT_EQ(Run(pdf, how), within ? 1 : 0) << how;
            // Extraction walks forms through their resources, once per path: an image for each.
            const std::size_t outputs = Outputs().size();
            EXPECT_EQ(how == std::string("images") ? std::min<std::size_t>(outputs, 1) : outputs, within ? 1u : 0u) << how;
        }
    }
    // A large content stream is no fault in itself, nor a small JBIG2 bitmap.
    EXPECT_TRUE(Objects(ContentBomb(8))->IsPageContentWithinBudget(1));
    EXPECT_TRUE(Objects(Jbig2Content(100, 100))->IsPageContentWithinBudget(1));
}

// Page trees as poppler reads them: a subtree listed twice gives its pages twice, a loop or a node without kids
// that the count includes is no page (or a blank one).
TEST_F(HostileDocumentsTest, PageTreesGiveThePagesPopplerFinds) {
    // {what, kids of the root 2, object 7, the root's count, every page's text, page images written, pages extraction
    // and combining walk (-1: not asked)}. Objects 3 to 5 are the pages Alpha, Beta and Gamma, 6 the node [Alpha Beta].
    const std::vector<std::tuple<std::string, std::string, std::string, int, std::string, std::size_t, int>> cases = {
        {"a subtree listed twice", "6 0 R 5 0 R 6 0 R", "null", 5, "Alpha Beta Gamma Alpha Beta", 5, 5},
        {"a page listed twice", "3 0 R 3 0 R", "null", 2, "Alpha Alpha", 2, 2},
        {"the root among its own kids", "3 0 R 2 0 R", "null", 2, "Alpha", 1, 1},
        {"a node whose kid is the root", "3 0 R 7 0 R", "<< /Type /Pages /Parent 2 0 R /Kids [2 0 R] /Count 1 >>", 2,
         "Alpha", 1, -1},
        {"a node without kids", "3 0 R 7 0 R", "<< /Type /Pages /Parent 2 0 R >>", 2, "Alpha", 2, -1},
    };
    for (const auto& [what, kids, extra, count, words, images, walked] : cases) {
        SCOPED_TRACE(what);
        RawPdf pdf;
        pdf.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
        pdf.Add("<< /Type /Pages /MediaBox [0 0 200 200] /Kids [" + kids + "] /Count " + std::to_string(count) + " >>");
        for (int i = 0; i < 3; ++i)
            pdf.Add("<< /Type /Page /Parent " + Ref(i == 2 ? 2 : 6) + " /Contents " + Ref(10 + i) + " /Resources << /Font << /F1 1 0 R >> >> >>");
        for (const char* body : {"<< /Type /Pages /Parent 2 0 R /Kids [3 0 R 4 0 R] /Count 2 >>", extra.c_str(),
                                 "<< /Type /Catalog /Pages 2 0 R >>", "null"})
            pdf.Add(body);
        for (const char* word : {"Alpha", "Beta", "Gamma"}) pdf.AddStream("", std::string("BT /F1 12 Tf 10 10 Td (") + word + ") Tj ET");
        const std::string file = pdf.Build(8);

        ASSERT_EQ(Run(file, "text"), 1);
        ASSERT_EQ(Outputs().size(), 1u);
        const std::vector<std::uint8_t> bytes = ReadFile(dir / "out" / Outputs()[0]);
        const std::string text = std::regex_replace(std::string(bytes.begin(), bytes.end()), std::regex("\\s+"), " ");
        EXPECT_EQ(std::regex_replace(text, std::regex(" $"), ""), words);
        EXPECT_EQ(Run(file, "pages"), 1);
        EXPECT_EQ(Outputs().size(), images);
        if (walked < 0) continue;
        const auto objects = Objects(file);
        ASSERT_TRUE(objects);
        EXPECT_EQ(objects->GetPageCount(), walked);
    }
}

// A page whose images together ask for more samples than a rendering takes fails before any is decoded: the
// samples are counted from the images' sizes, each time an image is drawn, through forms and inline images. Images
// of 16384 x 16384 samples (each within the engine's limit) whose data are missing.
TEST_F(HostileDocumentsTest, ImagesOfAPageAreCountedBeforeAnyIsDrawn) {
    constexpr std::uint64_t kSide = 16384, kImage = kSide * kSide;
    const std::string big = "/Type /XObject /Subtype /Image /Width 16384 /Height 16384 /ColorSpace /DeviceGray /BitsPerComponent 8";
    const std::string inlineBig = "q 1 0 0 1 0 0 cm BI /W 16384 /H 16384 /BPC 8 /CS /G ID \x80 EI Q ";
    // One set of objects for every case; each page names the ones it draws.
    RawPdf objects;
    std::string five;
    for (int i = 0; i < 5; ++i) five += "/I" + std::to_string(i) + " " + Ref(objects.AddStream(big, "")) + " ";
    const std::string image = Ref(objects.AddStream(big, ""));
    const std::string form = Ref(objects.AddStream(
        "/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /I " + image + " >> >>", Repeat("/I Do ", 5)));
    const std::string masked = Ref(objects.AddStream(big + " /SMask " + image, ""));
    const std::vector<std::tuple<std::string, std::uint64_t, std::string, std::string>> cases = {  // what, samples, XObjects, content
        {"five images", 5 * kImage, five, "/I0 Do /I1 Do /I2 Do /I3 Do /I4 Do"},
        {"one image drawn five times by a form drawn once", 5 * kImage, "/F " + form, "/F Do"},
        {"an image with a mask of the same size, three times", 6 * kImage, "/I " + masked, "/I Do /I Do /I Do"},
        {"five inline images", 5 * kImage, "", Repeat(inlineBig, 5)},
        {"three images", 3 * kImage, "/I " + image, "/I Do /I Do /I Do"},
    };
    for (const auto& [what, expected, xobjects, content] : cases) {
        SCOPED_TRACE(what);
        RawPdf pdf = objects;
        const std::string file = BuildDocument(pdf, {{"<< /XObject << " + xobjects + " >> >>", content}});
        const auto document = plat::PdfDocument::OpenData(std::vector<char>(file.begin(), file.end()));
        ASSERT_TRUE(document);
        std::uint64_t samples = 0;
        EXPECT_TRUE(document->IsPageWithinBudget(1, &samples));
        EXPECT_EQ(samples, expected);
        if (expected <= plat::kMaxPdfImageSamplesPerSlice) continue;
        plat::PdfPageBitmap bitmap;
        EXPECT_FALSE(document->RenderPage(1, 0.1, 20, 20, plat::PdfPixelFormat::Rgb, bitmap));
        EXPECT_FALSE(document->RenderPageImage(1, 0.1, 20, 20, plat::PdfPixelFormat::Rgb));
        EXPECT_EQ(Run(file, "pages"), 0);
        EXPECT_TRUE(Outputs().empty());
    }
}

}  // namespace
}  // namespace pdftest
