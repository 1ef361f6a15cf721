#include "pdf/PDFImageExtractor.h"

#include "PdfTestSupport.h"
#include "platform/Initialize.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace pdftest;
namespace fs = std::filesystem;

namespace {

// A 1 x 1 RGB image XObject of the given colour.
std::string RgbImage(RawPdf& pdf, int r, int g, int b) {
    return std::to_string(pdf.AddStream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceRGB "
                                        "/BitsPerComponent 8",
                                        std::string{char(r), char(g), char(b)})) +
           " 0 R";
}

std::string InlineGray(int value) { return "BI /W 1 /H 1 /CS /G /BPC 8 ID " + std::string(1, char(value)) + " EI "; }

// RGB pixels of an image file written by the extraction.
std::vector<std::uint8_t> FilePixels(const fs::path& path) {
    plat::Initialize();
    try {
        vips::VImage image = vips::VImage::new_from_file(path.c_str());
        if (image.bands() == 1) image = image.colourspace(VIPS_INTERPRETATION_sRGB);
        if (image.bands() == 4) image = image.extract_band(0, vips::VImage::option()->set("n", 3));
        std::size_t size = 0;
        void* memory = image.write_to_memory(&size);
        std::vector<std::uint8_t> pixels(static_cast<std::uint8_t*>(memory), static_cast<std::uint8_t*>(memory) + size);
        g_free(memory);
        return pixels;
    } catch (const vips::VError&) {
        return {};
    }
}

class Extraction : public testing::Test {
protected:
    // Writes the PDF and extracts it into a fresh folder; returns the result.
    int Extract(const std::string& pdfBytes, std::int32_t mode = 0, std::int64_t first = 0, std::int64_t last = 0,
                const std::string& password = {}, std::int32_t type = 7) {
        pdfPath = dir.path() / "report.pdf";
        WriteFile(pdfPath, pdfBytes);
        out = dir.path() / ("out" + std::to_string(++runs));
        fs::create_directories(out);
        ImageConversion conversion;
        conversion.sourceURL = pdfPath;
        conversion.destinationURL = out;
        conversion.options.outputType = type;
        conversion.options.quality = 0.9;
        conversion.options.password = password;
        conversion.options.pageRangeMode = mode;
        conversion.options.firstPage = first;
        conversion.options.lastPage = last;
        return ExtractImagesFromPDF(&conversion);
    }

    // Pages each with one inline gray image of value 10 x page number.
    static std::string PagedDocument(int pages) {
        RawPdf pdf;
        std::vector<PageSpec> specs;
        for (int p = 1; p <= pages; ++p) specs.push_back({"", InlineGray(p * 10)});
        return BuildDocument(pdf, specs);
    }

    TempFolder dir;
    fs::path pdfPath;
    fs::path out;
    int runs = 0;
};

TEST_F(Extraction, NamesFollowResourcesThenFormsWhereTheyStandThenInlineImages) {
    RawPdf pdf;
    const std::string red = RgbImage(pdf, 255, 0, 0);
    const std::string green = RgbImage(pdf, 0, 255, 0);
    const std::string blue = RgbImage(pdf, 0, 0, 255);
    const int form = pdf.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Im " +
                                       green + " >> >>",
                                   "/Im Do");
    // Resource keys come in order: A (red), B (the form, with green), C (blue).
    const std::string file = BuildDocument(
        pdf, {{"<< /XObject << /A " + red + " /B " + std::to_string(form) + " 0 R /C " + blue + " >> >>",
               "/A Do /B Do /C Do " + InlineGray(200)}});
    ASSERT_EQ(Extract(file), 1);
    EXPECT_EQ(FileNames(out), (std::vector<std::string>{"report_Page1_1.png", "report_Page1_2.png", "report_Page1_3.png",
                                                    "report_Page1_4.png"}));
    EXPECT_EQ(FilePixels(out / "report_Page1_1.png"), (std::vector<std::uint8_t>{255, 0, 0}));
    EXPECT_EQ(FilePixels(out / "report_Page1_2.png"), (std::vector<std::uint8_t>{0, 255, 0}));
    EXPECT_EQ(FilePixels(out / "report_Page1_3.png"), (std::vector<std::uint8_t>{0, 0, 255}));
    EXPECT_EQ(FilePixels(out / "report_Page1_4.png"), (std::vector<std::uint8_t>{200, 200, 200}));
}

struct RangeCase {
    std::int32_t mode;
    std::int64_t first;
    std::int64_t last;
    std::vector<int> pages;
};

TEST_F(Extraction, PageRanges) {
    const std::string file = PagedDocument(5);
    const std::vector<RangeCase> cases = {
        {0, 0, 0, {1, 2, 3, 4, 5}}, {2, 2, 4, {2, 3, 4}}, {2, 0, 2, {1, 2}},   {2, 9, 2, {1, 2}},
        {2, 3, 0, {1}},             {2, 3, -4, {1}},      {2, 4, 99, {4, 5}}, {2, 4, 2, {2}},
        {1, 3, 0, {3}},             {1, 9, 0, {1}},       {1, 0, 0, {}},      {1, -1, 0, {1}},
    };
    for (const RangeCase& c : cases) {
        ASSERT_EQ(Extract(file, c.mode, c.first, c.last), 1);
        std::vector<std::string> expected;
        for (int p : c.pages) expected.push_back("report_Page" + std::to_string(p) + "_1.png");
        EXPECT_EQ(FileNames(out), expected) << "mode " << c.mode << " first " << c.first << " last " << c.last;
    }
    for (int p = 1; p <= 5; ++p) {
        EXPECT_EQ(FilePixels(out.parent_path() / "out1" / ("report_Page" + std::to_string(p) + "_1.png")),
                  std::vector<std::uint8_t>(3, std::uint8_t(p * 10)));
    }
    RawPdf empty;
    ASSERT_EQ(Extract(BuildDocument(empty, {})), 1);
    EXPECT_TRUE(FileNames(out).empty());
}

TEST_F(Extraction, InheritedResourcesAndNamedColourSpacesOfThePage) {
    RawPdf pdf;
    const int image = pdf.AddStream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /CS0", "\x01");
    const int form = pdf.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Im " +
                                       std::to_string(image) + " 0 R >> /ColorSpace << /CS0 /DeviceGray >> >>",
                                   "/Im Do");
    // The resources sit on the page tree; the form's own CS0 is not consulted.
    const std::string file = BuildDocument(pdf, {{"", "/F Do"}},
                                           "<< /XObject << /F " + std::to_string(form) +
                                               " 0 R >> /ColorSpace << /CS0 [/Indexed /DeviceRGB 1 <000000FF8000>] >> >>");
    ASSERT_EQ(Extract(file), 1);
    EXPECT_EQ(FileNames(out), std::vector<std::string>{"report_Page1_1.png"});
    EXPECT_EQ(FilePixels(out / "report_Page1_1.png"), (std::vector<std::uint8_t>{255, 128, 0}));
}

TEST_F(Extraction, SelfReferencingFormsEnd) {
    for (int run = 0; run < 2; ++run) {
        RawPdf pdf;
        const std::string red = RgbImage(pdf, 255, 0, 0);
        const int a = pdf.Reserve();
        const int b = pdf.Reserve();
        pdf.Set(a, "<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Im " + red +
                       " /Self " + std::to_string(a) + " 0 R /Other " + std::to_string(b) + " 0 R >> >> /Length 0 >>"
                       "\nstream\n\nendstream");
        pdf.Set(b, "<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Back " +
                       std::to_string(a) + " 0 R >> >> /Length 0 >>\nstream\n\nendstream");
        const std::string file =
            BuildDocument(pdf, {{"<< /XObject << /F " + std::to_string(a) + " 0 R >> >>", "/F Do"}});
        ASSERT_EQ(Extract(file), 1);
        // F -> Im; F -> Other -> Back (F again: stopped).
        EXPECT_EQ(FileNames(out), std::vector<std::string>{"report_Page1_1.png"});
    }
}

// Forms whose contents draw themselves (P draws P and Q, Q draws P) cost no more than once each: their images and
// those of the other pages are extracted, each cycle cut where it closes.
TEST_F(Extraction, FormsDrawingThemselvesKeepEveryImage) {
    RawPdf pdf;
    const std::string red = RgbImage(pdf, 255, 0, 0), green = RgbImage(pdf, 0, 255, 0), blue = RgbImage(pdf, 0, 0, 255),
                      white = RgbImage(pdf, 255, 255, 255);
    const int p = pdf.Reserve(), q = pdf.Reserve(), a = pdf.Reserve(), b = pdf.Reserve();
    const auto form = [](const std::string& xobjects, const std::string& content) {
        return "<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << " + xobjects + " >> >> /Length " +
               std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream";
    };
    const std::string ref = " 0 R";
    pdf.Set(p, form("/Im " + red + " /Q " + std::to_string(q) + ref + " /P " + std::to_string(p) + ref, "/Im Do /Q Do /P Do"));
    pdf.Set(q, form("/Im " + green + " /P " + std::to_string(p) + ref, "/Im Do /P Do"));
    pdf.Set(a, form("/Im " + blue + " /B " + std::to_string(b) + ref, "/Im Do /B Do"));
    pdf.Set(b, form("/Im " + white, "/Im Do"));
    const std::string file = BuildDocument(pdf, {{"<< /XObject << /F " + std::to_string(p) + ref + " >> >>", "/F Do"},
                                                 {"<< /XObject << /F " + std::to_string(a) + ref + " >> >>", "/F Do"}});
    ASSERT_EQ(Extract(file), 1);
    EXPECT_EQ(FileNames(out), (std::vector<std::string>{"report_Page1_1.png", "report_Page1_2.png", "report_Page2_1.png",
                                                        "report_Page2_2.png"}));
    EXPECT_EQ(FilePixels(out / "report_Page1_2.png"), (std::vector<std::uint8_t>{0, 255, 0}));
    // Resources in key order: B's image before A's own.
    EXPECT_EQ(FilePixels(out / "report_Page2_1.png"), (std::vector<std::uint8_t>{255, 255, 255}));
    EXPECT_EQ(FilePixels(out / "report_Page2_2.png"), (std::vector<std::uint8_t>{0, 0, 255}));
}

TEST_F(Extraction, PasswordsAndUnreadableDocuments) {
    const std::string plain = PagedDocument(1);
    EXPECT_EQ(Extract(Encrypt(plain, "", "owner")), 1);
    EXPECT_EQ(FileNames(out), std::vector<std::string>{"report_Page1_1.png"});
    const std::string locked = Encrypt(plain, "user", "owner");
    EXPECT_EQ(Extract(locked), 0);
    EXPECT_TRUE(FileNames(out).empty());
    EXPECT_EQ(Extract(locked, 0, 0, 0, "wrong"), 0);
    EXPECT_EQ(Extract(locked, 0, 0, 0, "user"), 1);
    EXPECT_EQ(FileNames(out).size(), 1u);
    EXPECT_EQ(Extract(locked, 0, 0, 0, "owner"), 1);
    EXPECT_EQ(FileNames(out).size(), 1u);
    EXPECT_EQ(Extract("not a pdf"), 0);
    ImageConversion missing;
    EXPECT_EQ(ExtractImagesFromPDF(&missing), 0);
    EXPECT_EQ(ExtractImagesFromPDF(nullptr), 0);
}

TEST_F(Extraction, OutputTypesWithoutAlphaAndPdfOutput) {
    RawPdf pdf;
    const int smask = pdf.AddStream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                                    "/BitsPerComponent 8",
                                    "\x80");
    const int image = pdf.AddStream("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceRGB "
                                    "/SMask " + std::to_string(smask) + " 0 R",
                                    "\xFF\x00\x00");
    const std::string file =
        BuildDocument(pdf, {{"<< /XObject << /I " + std::to_string(image) + " 0 R >> >>", "/I Do"}});
    ASSERT_EQ(Extract(file, 0, 0, 0, {}, 4), 1);
    EXPECT_EQ(FileNames(out), std::vector<std::string>{"report_Page1_1.jpg"});
    ASSERT_EQ(Extract(file, 0, 0, 0, {}, 8), 1);
    EXPECT_EQ(FileNames(out), std::vector<std::string>{"report_Page1_1.pdf"});
    ASSERT_EQ(Extract(file, 0, 0, 0, {}, 7), 1);
    plat::Initialize();
    vips::VImage png = vips::VImage::new_from_file((out / "report_Page1_1.png").c_str());
    EXPECT_EQ(png.bands(), 4);
}

// Reports each page and cancels once it has seen `stopAfter` pages.
class CancellingTarget : public ProgressTarget {
public:
    explicit CancellingTarget(std::size_t stopAfter) : stopAfter_(stopAfter) {}
    void reportProgress(std::int64_t value) override { pages.push_back(value); }
    bool isConversionCancelled() override { return pages.size() >= stopAfter_; }
    std::vector<std::int64_t> pages;

private:
    std::size_t stopAfter_;
};

TEST_F(Extraction, ProgressPerPageAndCancelBeforeTheNextPage) {
    pdfPath = dir.path() / "report.pdf";
    WriteFile(pdfPath, PagedDocument(4));
    out = dir.path() / "cancelled";
    fs::create_directories(out);
    auto target = std::make_shared<CancellingTarget>(2);
    ImageConversion conversion;
    conversion.sourceURL = pdfPath;
    conversion.destinationURL = out;
    conversion.outputBaseName = "scan";
    conversion.options.outputType = 7;
    conversion.progress.target = target;
    conversion.progress.selector = &ProgressTarget::reportProgress;
    EXPECT_EQ(ExtractImagesFromPDF(&conversion), 1);
    EXPECT_EQ(target->pages, (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(FileNames(out), (std::vector<std::string>{"scan_Page1_1.png", "scan_Page2_1.png"}));
}

// The extracted images hold the same pixels as poppler's pdfimages finds.
TEST_F(Extraction, MatchesPdfimages) {
    if (!HaveTool("pdfimages")) GTEST_SKIP() << "pdfimages (poppler-utils) is missing";
    RawPdf pdf;
    std::string rgb, gray, indexed;
    for (int i = 0; i < 12; ++i) {
        rgb += std::string{char(i * 20), char(255 - i * 20), char(i * 7)};
        gray += char(i * 21);
        indexed += char(i % 3);
    }
    const int a = pdf.AddStream("/Type /XObject /Subtype /Image /Width 4 /Height 3 /ColorSpace /DeviceRGB "
                                "/BitsPerComponent 8 /Filter /FlateDecode",
                                Deflate(rgb));
    const int b = pdf.AddStream("/Type /XObject /Subtype /Image /Width 3 /Height 4 /ColorSpace /DeviceGray "
                                "/BitsPerComponent 8",
                                gray);
    const int c = pdf.AddStream("/Type /XObject /Subtype /Image /Width 4 /Height 3 /BitsPerComponent 8 "
                                "/ColorSpace [/Indexed /DeviceRGB 2 <FF0000 00FF00 0000FF>]",
                                indexed);
    const std::string file = BuildDocument(
        pdf, {{"<< /XObject << /A " + std::to_string(a) + " 0 R /B " + std::to_string(b) + " 0 R /C " +
                   std::to_string(c) + " 0 R >> >>",
               "/A Do /B Do /C Do"}});
    ASSERT_EQ(Extract(file), 1);
    const fs::path reference = dir.path() / "reference";
    fs::create_directories(reference);
    ASSERT_TRUE(RunTool({"pdfimages", "-png", pdfPath.string(), (reference / "img").string()}));
    std::multiset<std::vector<std::uint8_t>> ours, theirs;
    for (const std::string& name : FileNames(out)) ours.insert(FilePixels(out / name));
    for (const std::string& name : FileNames(reference)) theirs.insert(FilePixels(reference / name));
    EXPECT_EQ(ours.size(), 3u);
    EXPECT_EQ(ours, theirs);
}

}  // namespace
