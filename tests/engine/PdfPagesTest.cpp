#include "engine/PdfPages.h"

#include "engine/ImageConverter.h"

#include <atomic>
#include <fstream>
#include <mutex>

#include <gtest/gtest.h>
#include <tiffio.h>
#include <webp/decode.h>

#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/ImageSource.h"
#include "platform/Initialize.h"
#include "platform/PdfTestSupport.h"

using namespace vantrell_test;

namespace {

class PdfPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::Initialize();
        source_ = tmp_ / "doc.pdf";
        out_ = tmp_ / "out";
        std::filesystem::create_directory(out_);
    }

    ImageConversion Record(int type) const {
        ImageConversion record;
        record.sourceURL = source_;
        record.destinationURL = out_;
        record.options.outputType = type;
        record.options.quality = 0.8;
        return record;
    }

    std::vector<std::string> Outputs() const { return FolderEntries(out_); }

    struct Decoded {
        int width = 0, height = 0;
        plat::ColorModel model = plat::ColorModel::RGB;
        std::vector<std::uint8_t> rgba;
        std::array<std::uint8_t, 3> At(int x, int y) const {
            const std::uint8_t* p = rgba.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            return {p[0], p[1], p[2]};
        }
    };

    Decoded Load(const std::string& name) const {
        Decoded d;
        auto source = plat::ImageSource::Open(out_ / name);
        EXPECT_TRUE(source) << name;
        if (!source) return d;
        auto image = source->createImage(0);
        EXPECT_TRUE(image) << name;
        if (!image) return d;
        d.width = image->width();
        d.height = image->height();
        d.model = image->colorModel();
        d.rgba = image->copyRGBA8();
        return d;
    }

    TempFolder tmp_;
    std::filesystem::path source_;
    std::filesystem::path out_;
};

bool IsRed(std::array<std::uint8_t, 3> c) { return c[0] > 200 && c[1] < 60 && c[2] < 60; }
bool IsWhite(std::array<std::uint8_t, 3> c) { return c[0] > 235 && c[1] > 235 && c[2] > 235; }

std::vector<TestPdfPage> SmallPages(int count) {
    TestPdfPage page;
    page.mediaBox = "[0 0 20 10]";
    page.content = "1 0 0 rg 0 0 10 5 re f";
    return std::vector<TestPdfPage>(static_cast<std::size_t>(count), page);
}

class RecordingTarget : public ProgressTarget {
public:
    void reportProgress(std::int64_t value) override {
        std::lock_guard<std::mutex> lock(mutex);
        values.push_back(value);
    }
    bool isConversionCancelled() override { return cancelAfter >= 0 && ++asked > cancelAfter; }

    std::mutex mutex;
    std::vector<std::int64_t> values;
    int cancelAfter = -1;
    std::atomic<int> asked{0};
};

}  // namespace

TEST_F(PdfPagesTest, EveryPageBecomesANumberedFile) {
    WriteTestPdf(source_, TestPdfPages(3));
    ImageConversion record = Record(7);
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_EQ(Outputs(), (std::vector<std::string>{"doc-1.png", "doc-2.png", "doc-3.png"}));
    Decoded page = Load("doc-2.png");
    EXPECT_EQ(page.width, 200);
    EXPECT_EQ(page.height, 100);
    // Upright: the red quarter at the lower left.
    EXPECT_TRUE(IsRed(page.At(10, 90)));
    EXPECT_TRUE(IsWhite(page.At(10, 10)));
    EXPECT_TRUE(IsWhite(page.At(190, 90)));
}

TEST_F(PdfPagesTest, NumberWidthFollowsThePageCount) {
    WriteTestPdf(source_, SmallPages(9));
    ImageConversion record = Record(7);
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    std::vector<std::string> nine;
    for (int i = 1; i <= 9; ++i) nine.push_back("doc-" + std::to_string(i) + ".png");
    EXPECT_EQ(Outputs(), nine);

    std::filesystem::remove_all(out_);
    std::filesystem::create_directory(out_);
    WriteTestPdf(source_, SmallPages(10));
    record.outputBaseName = "scan";
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    std::vector<std::string> ten;
    for (int i = 1; i <= 10; ++i) ten.push_back((i < 10 ? "scan-0" : "scan-") + std::to_string(i) + ".png");
    EXPECT_EQ(Outputs(), ten);
}

TEST_F(PdfPagesTest, PageRanges) {
    WriteTestPdf(source_, SmallPages(10));
    struct Case {
        int mode;
        std::int64_t first, last;
        bool fromFirst;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {2, 5, 3, false, {"doc-03.png"}},
        {2, 0, 2, false, {"doc-01.png", "doc-02.png"}},
        {2, 8, 40, false, {"doc-08.png", "doc-09.png", "doc-10.png"}},
        {1, 12, 0, false, {"doc-01.png"}},
        {1, 0, 0, false, {"doc-01.png"}},
        {1, 4, 0, false, {"doc-04.png"}},
        // Numbered from the range's first page: page p is p + first - 1.
        {2, 3, 4, true, {"doc-05.png", "doc-06.png"}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(out_);
        std::filesystem::create_directory(out_);
        ImageConversion record = Record(7);
        record.options.pageRangeMode = c.mode;
        record.options.firstPage = c.first;
        record.options.lastPage = c.last;
        record.numberFromFirstPage = c.fromFirst;
        ASSERT_EQ(ConvertPDFPagesToImages(&record), 1) << c.mode << " " << c.first << " " << c.last;
        EXPECT_EQ(Outputs(), c.expected) << c.mode << " " << c.first << " " << c.last;
    }
}

TEST_F(PdfPagesTest, ResolutionAndResize) {
    WriteTestPdf(source_, TestPdfPages(1));
    ImageConversion record = Record(7);
    record.options.outputDPI = 150;
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    Decoded page = Load("doc.png");
    EXPECT_EQ(page.width, 417);  // 200 pt at 150 dpi
    EXPECT_EQ(page.height, 208);
    auto source = plat::ImageSource::Open(out_ / "doc.png");
    ASSERT_TRUE(source);
    EXPECT_NEAR(source->properties().number(plat::prop::DPIWidth).value_or(0), 150.0, 0.5);

    struct Case {
        double width, height;
        int unit;
        std::int64_t dpi;
        int expectW, expectH;
    };
    const Case cases[] = {
        {100, 0, 2, 300, 100, 50},     // pixels ignore the resolution
        {500, 120, 2, 0, 240, 120},    // both sides: fit inside
        {50, 0, 1, 144, 200, 100},     // percent of the page at 144 dpi
        {1, 0, 3, 72, 72, 36},         // one inch wide at 72 dpi
        {2.54, 0, 4, 100, 100, 50},    // one centimetre-inch at 100 dpi
    };
    for (const Case& c : cases) {
        std::filesystem::remove(out_ / "doc.png");
        record.applyResize = 1;
        record.resize.width = c.width;
        record.resize.height = c.height;
        record.resize.unit = c.unit;
        record.options.outputDPI = c.dpi;
        ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
        page = Load("doc.png");
        EXPECT_EQ(page.width, c.expectW) << c.unit << " " << c.width;
        EXPECT_EQ(page.height, c.expectH) << c.unit << " " << c.width;
    }
}

TEST_F(PdfPagesTest, RotatedPagesAndBoxes) {
    std::vector<TestPdfPage> pages(4);
    pages[0].rotate = 90;
    pages[1].cropBox = "[0 0 50 40]";
    pages[2].cropBox = "[30 30 30 60]";  // empty: the media box shows
    pages[3].mediaBox = "[5 5 5 50]";    // nothing to show: skipped, not failed
    WriteTestPdf(source_, pages);
    ImageConversion record = Record(7);
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_EQ(Outputs(), (std::vector<std::string>{"doc-1.png", "doc-2.png", "doc-3.png"}));
    Decoded turned = Load("doc-1.png");
    EXPECT_EQ(turned.width, 100);
    EXPECT_EQ(turned.height, 200);
    EXPECT_TRUE(IsRed(turned.At(10, 10)));  // turned clockwise: red at the upper left
    Decoded cropped = Load("doc-2.png");
    EXPECT_EQ(cropped.width, 50);
    EXPECT_EQ(cropped.height, 40);
    EXPECT_TRUE(IsRed(cropped.At(25, 20)));
    Decoded whole = Load("doc-3.png");
    EXPECT_EQ(whole.width, 200);
    EXPECT_EQ(whole.height, 100);
}

TEST_F(PdfPagesTest, MultiPageTiffHoldsEveryPage) {
    WriteTestPdf(source_, TestPdfPages(3));
    ImageConversion record = Record(23);
    record.options.outputDPI = 36;
    record.options.colorMode = 3;
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    ASSERT_EQ(Outputs(), std::vector<std::string>{"doc.tif"});
    TIFF* tiff = TIFFOpen((out_ / "doc.tif").c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tiff), 3);
    for (std::uint16_t i = 0; i < 3; ++i) {
        ASSERT_EQ(TIFFSetDirectory(tiff, i), 1);
        std::uint32_t width = 0, height = 0;
        std::uint16_t samples = 0, photometric = 0, page = 0, count = 0, unit = 0;
        float xres = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tiff, TIFFTAG_PAGENUMBER, &page, &count);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &xres);
        TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
        EXPECT_EQ(width, 100u);
        EXPECT_EQ(height, 50u);
        EXPECT_EQ(samples, 1);
        EXPECT_EQ(photometric, PHOTOMETRIC_MINISBLACK);
        EXPECT_EQ(page, i);
        EXPECT_EQ(count, 3);
        EXPECT_FLOAT_EQ(xres, 36.0f);
        EXPECT_EQ(unit, RESUNIT_INCH);
    }
    TIFFClose(tiff);

    // A one-page range is a plain TIFF, named like any page.
    std::filesystem::remove_all(out_);
    std::filesystem::create_directory(out_);
    record.options.pageRangeMode = 1;
    record.options.firstPage = 2;
    record.options.colorMode = 0;
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    ASSERT_EQ(Outputs(), std::vector<std::string>{"doc-2.tif"});
    tiff = TIFFOpen((out_ / "doc-2.tif").c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tiff), 1);
    TIFFClose(tiff);
}

TEST_F(PdfPagesTest, ColourModesAndFormats) {
    WriteTestPdf(source_, TestPdfPages(1));
    ImageConversion record = Record(13);
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_EQ(Load("doc.tif").model, plat::ColorModel::CMYK);

    record = Record(4);
    record.options.colorMode = 2;
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_EQ(Load("doc.jpg").model, plat::ColorModel::CMYK);

    record = Record(7);
    record.options.colorMode = 3;
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_EQ(Load("doc.png").model, plat::ColorModel::Gray);

    // WebP pages are real WebP files.
    record = Record(24);
    record.options.quality = 0.5;
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    auto bytes = plat::FileManager::contentsOfFile(out_ / "doc.webp");
    ASSERT_TRUE(bytes);
    int w = 0, h = 0;
    ASSERT_TRUE(WebPGetInfo(bytes->data(), bytes->size(), &w, &h));
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 100);
}

TEST_F(PdfPagesTest, PasswordsDecide) {
    TestPdfPassword user{"secret", "boss"};
    WriteTestPdf(source_, TestPdfPages(2), &user);
    ImageConversion record = Record(7);
    EXPECT_EQ(ConvertPDFPagesToImages(&record), 0);
    record.options.password = "wrong";
    EXPECT_EQ(ConvertPDFPagesToImages(&record), 0);
    EXPECT_TRUE(Outputs().empty());
    record.options.password = "secret";
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_EQ(Outputs().size(), 2u);

    // An owner password alone does not keep anyone from reading.
    std::filesystem::remove_all(out_);
    std::filesystem::create_directory(out_);
    TestPdfPassword owner{"", "boss"};
    WriteTestPdf(source_, TestPdfPages(2), &owner);
    record.options.password.clear();
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_EQ(Outputs().size(), 2u);
}

TEST_F(PdfPagesTest, ADocumentWithoutPagesWritesNothingAndSucceeds) {
    WriteTestPdf(source_, {});
    for (int type : {7, 23}) {
        ImageConversion record = Record(type);
        EXPECT_EQ(ConvertPDFPagesToImages(&record), 1) << type;
    }
    EXPECT_TRUE(Outputs().empty());
}

TEST_F(PdfPagesTest, UniqueNamesAndOverwrite) {
    WriteTestPdf(source_, SmallPages(2));
    { std::ofstream(out_ / "doc-1.png") << "keep me"; }
    ImageConversion record = Record(7);
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_EQ(Outputs(), (std::vector<std::string>{"doc-1 1.png", "doc-1.png", "doc-2.png"}));
    EXPECT_EQ(plat::FileManager::fileSize(out_ / "doc-1.png"), 7u);

    record.overwriteExisting = 1;
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_EQ(Outputs(), (std::vector<std::string>{"doc-1 1.png", "doc-1.png", "doc-2.png"}));
    EXPECT_EQ(Load("doc-1.png").width, 20);
}

TEST_F(PdfPagesTest, BadInputAnswersZeroAndWritesNothing) {
    ImageConversion record = Record(7);
    EXPECT_EQ(ConvertPDFPagesToImages(nullptr), 0);
    EXPECT_EQ(ConvertPDFPagesToImages(&record), 0);  // no file yet
    { std::ofstream(source_) << "%PDF-1.4 broken"; }
    EXPECT_EQ(ConvertPDFPagesToImages(&record), 0);
    WriteTestPdf(source_, TestPdfPages(1));
    record.destinationURL.clear();
    EXPECT_EQ(ConvertPDFPagesToImages(&record), 0);
    record = Record(7);
    record.destinationURL = tmp_ / "missing-folder";
    EXPECT_EQ(ConvertPDFPagesToImages(&record), 0);
    record = Record(23);
    record.destinationURL = tmp_ / "missing-folder";
    WriteTestPdf(source_, TestPdfPages(2));
    EXPECT_EQ(ConvertPDFPagesToImages(&record), 0);
    EXPECT_TRUE(Outputs().empty());
    EXPECT_FALSE(std::filesystem::exists(tmp_ / "missing-folder"));
}

TEST_F(PdfPagesTest, ProgressAndCancel) {
    WriteTestPdf(source_, SmallPages(4));
    auto target = std::make_shared<RecordingTarget>();
    ImageConversion record = Record(7);
    record.progress.target = target;
    record.progress.selector = &ProgressTarget::reportProgress;
    record.numberFromFirstPage = 1;
    record.options.pageRangeMode = 2;
    record.options.firstPage = 2;
    record.options.lastPage = 4;
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    std::vector<std::int64_t> values = target->values;
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<std::int64_t>{3, 4, 5}));

    std::filesystem::remove_all(out_);
    std::filesystem::create_directory(out_);
    auto cancelling = std::make_shared<RecordingTarget>();
    cancelling->cancelAfter = 0;
    record.progress.target = cancelling;
    ConvertPDFPagesToImages(&record);
    EXPECT_TRUE(Outputs().empty());
}

TEST_F(PdfPagesTest, OnePageOnTheConvertersOwnDocument) {
    WriteTestPdf(source_, TestPdfPages(2));
    ImageConverter converter;
    InitImageConverter(&converter);
    const ImageResizeOptions resize{};
    RenderPDFPage(&converter, 1, 0, nullptr, 0, 1, resize, out_ / "none.png", 1.0);
    EXPECT_EQ(converter.pageBatchSucceeded, 0);  // no document

    InitImageConverter(&converter);
    ASSERT_EQ(OpenConverterPDFDocument(&converter, source_), 1);
    SetConverterOutput(&converter, 7, out_, 0.8);
    RenderPDFPage(&converter, 2, 0, nullptr, 0, 1, resize, out_ / "two.png", 0.5);
    EXPECT_EQ(converter.pageBatchSucceeded, 1);
    EXPECT_EQ(Load("two.png").width, 100);
    RenderPDFPage(&converter, 3, 0, nullptr, 0, 1, resize, out_ / "three.png", 1.0);
    EXPECT_EQ(converter.pageBatchSucceeded, 0);  // no such page
    EXPECT_EQ(Outputs(), std::vector<std::string>{"two.png"});
}

TEST_F(PdfPagesTest, OlderRoadThroughTheWholeFileConversion) {
    WriteTestPdf(source_, TestPdfPages(2));
    ImageConverter converter;
    InitImageConverter(&converter);
    ASSERT_EQ(LoadConverterPDFImageRep(&converter, source_), 1);
    SetConverterOutput(&converter, 7, out_, 0.8);
    SetConverterUseSourceDPI(&converter, 1);
    ASSERT_EQ(ConvertPDFToImageFiles(&converter), 1);
    EXPECT_EQ(Outputs(), (std::vector<std::string>{"doc-001.png", "doc-002.png"}));
    Decoded page = Load("doc-002.png");
    EXPECT_EQ(page.width, 400);  // twice the size in points
    EXPECT_EQ(page.height, 200);
    auto source = plat::ImageSource::Open(out_ / "doc-002.png");
    ASSERT_TRUE(source);
    EXPECT_NEAR(source->properties().number(plat::prop::DPIWidth).value_or(0), 144.0, 0.5);
}

// A page that cannot be rendered (here: far beyond any canvas) fails the
// run, on the queue and on the older road alike: the pages written before it
// are taken back and the files they would have replaced stay as they were.
// Which pages were done first varied between runs: repeated.
TEST_F(PdfPagesTest, FailedRunLeavesNoPagesAndKeepsOldOnes) {
    std::vector<TestPdfPage> pages = SmallPages(6);
    pages[2].mediaBox = "[0 0 9000000 10]";
    WriteTestPdf(source_, pages);
    for (int run = 0; run < 5; ++run) {
        for (std::int8_t overwrite : {0, 1}) {
            std::filesystem::remove_all(out_);
            std::filesystem::create_directory(out_);
            { std::ofstream(out_ / "doc-1.png") << "keep me"; }
            ImageConversion record = Record(7);
            record.overwriteExisting = overwrite;
            EXPECT_EQ(ConvertPDFPagesToImages(&record), 0);
            EXPECT_EQ(Outputs(), std::vector<std::string>{"doc-1.png"}) << "overwrite " << int(overwrite);
            EXPECT_EQ(plat::FileManager::fileSize(out_ / "doc-1.png"), 7u);
        }
    }

    std::filesystem::remove_all(out_);
    std::filesystem::create_directory(out_);
    { std::ofstream(out_ / "doc-001.png") << "keep me"; }
    ImageConverter converter;
    InitImageConverter(&converter);
    ASSERT_EQ(LoadConverterPDFImageRep(&converter, source_), 1);
    SetConverterOutput(&converter, 7, out_, 0.8);
    EXPECT_EQ(ConvertPDFToImageFiles(&converter), 0);
    EXPECT_EQ(Outputs(), std::vector<std::string>{"doc-001.png"});
    EXPECT_EQ(plat::FileManager::fileSize(out_ / "doc-001.png"), 7u);
}

// A few bytes can declare an image of 60000 × 2147483647 samples on a page of
// one point, which poppler would scale for minutes: the page fails at once,
// in every output road, and nothing is written. Whether the failure reached
// the encoder varied between runs: repeated. A small image still draws.
TEST_F(PdfPagesTest, ImagesBeyondTheEngineLimitFailThePageAtOnce) {
    TestPdfPage huge;
    huge.mediaBox = "[0 0 1 1]";
    huge.content = "q 1 0 0 1 0 0 cm BI /W 60000 /H 2147483647 /BPC 8 /CS /G /F /AHx ID 00> EI Q";
    for (int run = 0; run < 3; ++run) {
        for (int type : {4, 7, 10, 23, 24}) {
            WriteTestPdf(source_, std::vector<TestPdfPage>(type == 23 ? 2 : 1, huge));
            ImageConversion record = Record(type);
            EXPECT_EQ(ConvertPDFPagesToImages(&record), 0) << type;
            EXPECT_TRUE(Outputs().empty()) << type;
        }
    }

    TestPdfPage small;
    small.mediaBox = "[0 0 20 10]";
    small.content = "q 20 0 0 10 0 0 cm BI /W 2 /H 1 /BPC 8 /CS /RGB /F /AHx ID FF0000FF0000> EI Q";
    WriteTestPdf(source_, {small});
    ImageConversion record = Record(7);
    ASSERT_EQ(ConvertPDFPagesToImages(&record), 1);
    EXPECT_TRUE(IsRed(Load("doc.png").At(10, 5)));
}

TEST(PdfPagesWatermarkTest, PageScaleFollowsTheLongerSide) {
    ImageConverter converter;
    InitImageConverter(&converter);
    converter.watermark.editorViewSize = {550.0, 275.0};
    float scale = 0;
    const plat::Point at = GetPageWatermarkPosition(&converter, 1100.0, 550.0, &scale, {0, 0}, {10, 10});
    EXPECT_FLOAT_EQ(scale, 2.0f);
    EXPECT_DOUBLE_EQ(at.x, 0.0);  // anchored to the lower left as in the editor
    EXPECT_DOUBLE_EQ(at.y, 0.0);
    GetPageWatermarkPosition(&converter, 300.0, 1100.0, &scale, {0, 0}, {10, 10});
    EXPECT_FLOAT_EQ(scale, 2.0f);
}
