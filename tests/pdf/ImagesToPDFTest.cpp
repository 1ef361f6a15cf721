#include "PdfToolsTestSupport.h"

#include "pdf/ImagesToPDF.h"
#include "platform/PdfDocument.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace pdftest {
namespace {

using convtest::MarkedImage;
using convtest::Resolution;
using convtest::SolidImage;
using convtest::WriteImage;

class ImagesToPDFTest : public PdfToolsTest {
protected:
    // A 300 x 200 PNG without resolution and a 600 x 300 JPEG at 300 dpi.
    std::filesystem::path Png(const std::string& name = "wide.png") {
        const auto path = dir / name;
        EXPECT_TRUE(WriteImage(path, MarkedImage(300, 200, 20), "public.png"));
        return path;
    }
    std::filesystem::path Jpeg(const std::string& name = "photo.jpg", int width = 600, int height = 300) {
        const auto path = dir / name;
        EXPECT_TRUE(WriteImage(path, MarkedImage(width, height, 30), "public.jpeg", Resolution(300, 300)));
        return path;
    }
    ImagesToPDFOptions Combined(std::vector<PDFInputFile> files) {
        ImagesToPDFOptions options;
        options.combine = 1;
        options.quality = 0.8;
        options.imageType = 4;
        options.scalePercent = 100;
        options.files = std::move(files);
        options.destination = dir / "out.pdf";
        return options;
    }
};

PDFInputFile Entry(const std::filesystem::path& path, double angle = 0) {
    PDFInputFile entry;
    entry.filePath = path;
    entry.angle = angle;
    return entry;
}

void ExpectSize(const PdfInfo& info, std::size_t page, double width, double height) {
    ASSERT_GT(info.sizes.size(), page);
    EXPECT_NEAR(info.sizes[page].first, width, 0.6) << "page " << page;
    EXPECT_NEAR(info.sizes[page].second, height, 0.6) << "page " << page;
}

TEST_F(ImagesToPDFTest, PagesTakeTheSizeOfTheirImageAtItsResolution) {
    auto options = Combined({Entry(Png()), Entry(Jpeg())});
    ASSERT_EQ(ConvertImagesToPDF(&options), 1);
    const PdfInfo info = ReadPdfInfo(options.destination);
    ASSERT_EQ(info.pages, 2);
    ExpectSize(info, 0, 300, 200);
    ExpectSize(info, 1, 144, 72);
    EXPECT_TRUE(QpdfCheck(options.destination));
}

TEST_F(ImagesToPDFTest, AnglesTurnThePageAndOutOfRangeAnglesAreIgnored) {
    const auto png = Png();
    struct Case {
        double angle;
        double width, height;
    } cases[] = {{0, 300, 200}, {90, 200, 300}, {-270, 200, 300}, {180, 300, 200}, {-90, 200, 300},
                 {450, 300, 200}, {-360, 300, 200}};
    std::vector<PDFInputFile> files;
    for (const Case& c : cases) files.push_back(Entry(png, c.angle));
    auto options = Combined(files);
    options.imageType = 7;
    ASSERT_EQ(ConvertImagesToPDF(&options), 1);
    const PdfInfo info = ReadPdfInfo(options.destination);
    ASSERT_EQ(info.pages, int(std::size(cases)));
    for (std::size_t i = 0; i < std::size(cases); ++i) ExpectSize(info, i, cases[i].width, cases[i].height);
}

TEST_F(ImagesToPDFTest, FixedPaperFitsTheImageCentredInTheContentArea) {
    auto options = Combined({Entry(Jpeg("big.jpg", 3000, 1500))});
    options.pageSizeMode = 1;
    options.paperWidth = 595;
    options.paperHeight = 842;
    options.marginLeft = options.marginRight = options.marginTop = options.marginBottom = 36;
    options.orientation = 1;
    ASSERT_EQ(ConvertImagesToPDF(&options), 1);
    const PdfInfo info = ReadPdfInfo(options.destination);
    ASSERT_EQ(info.pages, 1);
    ExpectSize(info, 0, 842, 595);

    // The 2:1 image fills the 770-point width of the content area and sits
    // in the middle of its 523-point height: 385 points tall, 105 above and below.
    auto document = plat::PdfDocument::Open(options.destination.string());
    ASSERT_TRUE(document);
    plat::PdfPageBitmap bitmap;
    ASSERT_TRUE(document->RenderPage(1, 1.0, 842, 595, plat::PdfPixelFormat::Gray, bitmap));
    auto at = [&](int x, int y) { return bitmap.pixels[std::size_t(y) * bitmap.Stride() + x]; };
    EXPECT_EQ(at(20, 297), 255);   // left margin
    EXPECT_EQ(at(821, 297), 255);  // right margin
    EXPECT_EQ(at(421, 100), 255);  // above the image
    EXPECT_EQ(at(421, 495), 255);  // below the image
    EXPECT_LT(at(421, 297), 200);  // the grey image
    EXPECT_LT(at(40, 297), 200);
    EXPECT_LT(at(800, 297), 200);
}

TEST_F(ImagesToPDFTest, TheResolutionLimitHalvesA300DpiImageAt150) {
    auto options = Combined({Entry(Jpeg("dense.jpg", 600, 600))});
    options.maxResolution = 150;
    ASSERT_EQ(ConvertImagesToPDF(&options), 1);
    ExpectSize(ReadPdfInfo(options.destination), 0, 144, 144);
    const std::string list = RunCommand({"pdfimages", "-list", options.destination.string()}).output;
    EXPECT_NE(list.find(" 300   300 "), std::string::npos) << list;
    EXPECT_NE(list.find(" 150   150 "), std::string::npos) << list;
}

TEST_F(ImagesToPDFTest, OnePdfPerImageGetsAUniqueName) {
    const auto folder = dir / "out";
    std::filesystem::create_directory(folder);
    convtest::WriteImage(dir / "a.jpg", SolidImage(40, 30, {0, 0, 255, 255}), "public.jpeg");
    { std::ofstream(folder / "a.pdf") << "taken"; }
    ImagesToPDFOptions options;
    options.imageType = 7;
    options.files = {Entry(dir / "a.jpg"), Entry(dir / "a.jpg")};
    options.destination = folder;
    ASSERT_EQ(ConvertImagesToPDF(&options), 1);
    EXPECT_EQ(ReadPdfInfo(folder / "a 1.pdf").pages, 1);
    EXPECT_EQ(ReadPdfInfo(folder / "a 2.pdf").pages, 1);
    std::ifstream kept(folder / "a.pdf");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "taken");
}

TEST_F(ImagesToPDFTest, UnreadableInputsArePassedOver) {
    { std::ofstream(dir / "broken.jpg") << "\xff\xd8\xff\xe0 not really a JPEG"; }
    { std::ofstream(dir / "notes.png") << "plain text"; }
    std::filesystem::create_directory(dir / "folder.png");
    auto options = Combined({Entry(Png()), Entry(dir / "broken.jpg"), Entry(dir / "missing.png"),
                             Entry(dir / "notes.png"), Entry(dir / "folder.png"), PDFInputFile{}, Entry(Jpeg())});
    ASSERT_EQ(ConvertImagesToPDF(&options), 1);
    EXPECT_EQ(ReadPdfInfo(options.destination).pages, 2);
}

TEST_F(ImagesToPDFTest, NothingReadableWritesNoFile) {
    { std::ofstream(dir / "broken.jpg") << "broken"; }
    auto options = Combined({Entry(dir / "broken.jpg")});
    EXPECT_EQ(ConvertImagesToPDF(&options), 0);
    EXPECT_FALSE(std::filesystem::exists(options.destination));
    auto empty = Combined({});
    EXPECT_EQ(ConvertImagesToPDF(&empty), 0);
    EXPECT_EQ(ConvertImagesToPDF(nullptr), 0);
}

TEST_F(ImagesToPDFTest, WriteOptionsEncryptEveryKeyLength) {
    const auto png = Png();
    for (int bits : {40, 128, 256}) {
        SCOPED_TRACE(bits);
        for (bool combine : {true, false}) {
            auto options = Combined({Entry(png)});
            options.combine = combine;
            const auto folder = dir / ("out" + std::to_string(bits) + (combine ? "c" : "p"));
            std::filesystem::create_directory(folder);
            options.destination = combine ? folder / "all.pdf" : folder;
            options.writeOptions.userPassword = "secret";
            options.writeOptions.ownerPassword = "owner";
            options.writeOptions.keyLength = bits;
            ASSERT_EQ(ConvertImagesToPDF(&options), 1);
            const auto file = combine ? folder / "all.pdf" : folder / "wide.pdf";
            EXPECT_FALSE(ReadPdfInfo(file).ok);
            const PdfInfo info = ReadPdfInfo(file, "secret");
            EXPECT_EQ(info.pages, 1);
            EXPECT_NE(info.encrypted.find("yes"), std::string::npos) << info.encrypted;
            EXPECT_TRUE(QpdfCheck(file, "secret"));
        }
    }
}

TEST_F(ImagesToPDFTest, ProgressAndCancel) {
    const auto png = Png();
    auto target = std::make_shared<RecordingTarget>();
    auto options = Combined({Entry(png), Entry(png)});
    options.progress = Progress(target);
    ASSERT_EQ(ConvertImagesToPDF(&options), 1);
    EXPECT_EQ(target->values, (std::vector<std::int64_t>{3, 3, 6, 7}));

    for (bool combine : {true, false}) {
        auto cancelling = std::make_shared<RecordingTarget>(1);
        auto cancelled = Combined({Entry(png), Entry(png)});
        cancelled.combine = combine;
        cancelled.destination = combine ? dir / "cancelled.pdf" : dir / "cancelled";
        std::filesystem::create_directories(dir / "cancelled");
        cancelled.progress = Progress(cancelling);
        EXPECT_EQ(ConvertImagesToPDF(&cancelled), 0);
        EXPECT_EQ(cancelling->values, (std::vector<std::int64_t>{3}));
        EXPECT_FALSE(std::filesystem::exists(dir / "cancelled.pdf"));
    }
}

// Files as users have them, written with libvips: 120 x 80 pixels each.
void WriteVariedImages(const std::filesystem::path& folder) {
    using vips::VImage;
    const VImage rgb = VImage::black(120, 80, VImage::option()->set("bands", 3)).linear({1, 1, 1}, {200, 40, 90})
                           .cast(VIPS_FORMAT_UCHAR)
                           .copy(VImage::option()
                                     ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                                     ->set("xres", 72.0 / 25.4)
                                     ->set("yres", 72.0 / 25.4));
    rgb.bandjoin_const({128}).pngsave((folder / "alpha.png").c_str());
    rgb.colourspace(VIPS_INTERPRETATION_B_W).pngsave((folder / "grey.png").c_str());
    rgb.colourspace(VIPS_INTERPRETATION_RGB16).pngsave((folder / "deep.png").c_str());
    rgb.gifsave((folder / "palette.gif").c_str());
    VImage turned = rgb.copy();
    turned.set("orientation", 6);
    turned.jpegsave((folder / "turned.jpg").c_str());
}

TEST_F(ImagesToPDFTest, VariedInputsInEveryColourMode) {
    WriteVariedImages(dir.path());
    struct Input {
        const char* name;
        double width, height;
    } inputs[] = {{"alpha.png", 120, 80}, {"grey.png", 120, 80}, {"deep.png", 120, 80}, {"palette.gif", 120, 80},
                  {"turned.jpg", 80, 120}};
    const char* spaces[] = {nullptr, "rgb", "cmyk", "gray"};
    for (int mode = 0; mode <= 3; ++mode) {
        for (int type : {4, 7}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + " type " + std::to_string(type));
            std::vector<PDFInputFile> files;
            for (const Input& input : inputs) files.push_back(Entry(dir / input.name));
            auto options = Combined(files);
            options.colorMode = mode;
            options.imageType = type;
            ASSERT_EQ(ConvertImagesToPDF(&options), 1);
            const PdfInfo info = ReadPdfInfo(options.destination);
            ASSERT_EQ(info.pages, int(std::size(inputs)));
            for (std::size_t i = 0; i < std::size(inputs); ++i) ExpectSize(info, i, inputs[i].width, inputs[i].height);
            EXPECT_TRUE(QpdfCheck(options.destination));
            // PNG has no CMYK: the encoder keeps RGB.
            if (spaces[mode] && (mode != 2 || type == 4)) {
                const std::string list = RunCommand({"pdfimages", "-list", options.destination.string()}).output;
                EXPECT_NE(list.find(std::string(" ") + spaces[mode] + " "), std::string::npos) << list;
            }
        }
    }
}

}  // namespace
}  // namespace pdftest
