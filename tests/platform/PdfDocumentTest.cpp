#include "platform/PdfDocument.h"
#include "platform/PdfSliceRenderer.h"
#include "platform/Image.h"

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/PdfTestSupport.h"

using namespace vantrell_test;

namespace {

struct Rgb {
    int r, g, b;
};

Rgb PixelAt(const plat::PdfPageBitmap& bitmap, int x, int y) {
    const std::uint8_t* p = bitmap.pixels.data() + bitmap.Stride() * static_cast<std::size_t>(y) +
                            static_cast<std::size_t>(x) * static_cast<std::size_t>(bitmap.channels);
    return {p[0], p[1], p[2]};
}

bool IsRed(Rgb c) { return c.r > 200 && c.g < 60 && c.b < 60; }
bool IsWhite(Rgb c) { return c.r > 240 && c.g > 240 && c.b > 240; }

}  // namespace

TEST(PdfDocumentTest, OpensPagesWithBoxesAndRotation) {
    TempFolder tmp;
    std::vector<TestPdfPage> pages(3);
    pages[1].cropBox = "[20 10 120 60]";
    pages[1].rotate = 90;
    pages[2].rotate = 270;
    WriteTestPdf(tmp / "doc.pdf", pages);

    auto doc = plat::PdfDocument::Open((tmp / "doc.pdf").string());
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->IsEncrypted());
    EXPECT_FALSE(doc->IsLocked());
    ASSERT_EQ(doc->GetPageCount(), 3);

    plat::PdfPageInfo info;
    ASSERT_TRUE(doc->GetPageInfo(1, info));
    EXPECT_EQ(info.mediaBox, (plat::PdfBox{0, 0, 200, 100}));
    EXPECT_EQ(info.cropBox, (plat::PdfBox{0, 0, 200, 100}));
    EXPECT_EQ(info.rotation, 0);
    ASSERT_TRUE(doc->GetPageInfo(2, info));
    EXPECT_EQ(info.cropBox, (plat::PdfBox{20, 10, 100, 50}));
    EXPECT_EQ(info.rotation, 90);
    ASSERT_TRUE(doc->GetPageInfo(3, info));
    EXPECT_EQ(info.rotation, 270);
    EXPECT_FALSE(doc->GetPageInfo(0, info));
    EXPECT_FALSE(doc->GetPageInfo(4, info));
}

TEST(PdfDocumentTest, RendersUprightPixelsOfTheCropBox) {
    TempFolder tmp;
    std::vector<TestPdfPage> pages(2);
    // Crop to the red quarter's right half and a white strip beside it.
    pages[1].cropBox = "[50 0 150 50]";
    WriteTestPdf(tmp / "doc.pdf", pages);
    auto doc = plat::PdfDocument::Open((tmp / "doc.pdf").string());
    ASSERT_TRUE(doc);

    plat::PdfPageBitmap bitmap;
    ASSERT_TRUE(doc->RenderPage(1, 0.5, 100, 50, plat::PdfPixelFormat::Rgb, bitmap));
    EXPECT_EQ(bitmap.width, 100);
    EXPECT_EQ(bitmap.height, 50);
    EXPECT_EQ(bitmap.channels, 3);
    ASSERT_EQ(bitmap.pixels.size(), 100u * 50u * 3u);
    // Rows run top-down: red lies in the lower left quarter.
    EXPECT_TRUE(IsRed(PixelAt(bitmap, 10, 40)));
    EXPECT_TRUE(IsWhite(PixelAt(bitmap, 10, 10)));
    EXPECT_TRUE(IsWhite(PixelAt(bitmap, 90, 40)));

    ASSERT_TRUE(doc->RenderPage(2, 1.0, 100, 50, plat::PdfPixelFormat::Rgb, bitmap));
    EXPECT_TRUE(IsRed(PixelAt(bitmap, 10, 25)));
    EXPECT_TRUE(IsWhite(PixelAt(bitmap, 90, 25)));

    ASSERT_TRUE(doc->RenderPage(1, 0.5, 100, 50, plat::PdfPixelFormat::Gray, bitmap));
    EXPECT_EQ(bitmap.channels, 1);
    ASSERT_EQ(bitmap.pixels.size(), 100u * 50u);
    EXPECT_GT(bitmap.pixels[0], 240);
    EXPECT_LT(bitmap.pixels[40 * 100 + 10], 128);
}

TEST(PdfDocumentTest, RendersRotatedPagesTurned) {
    TempFolder tmp;
    std::vector<TestPdfPage> pages(1);
    pages[0].rotate = 90;
    WriteTestPdf(tmp / "doc.pdf", pages);
    auto doc = plat::PdfDocument::Open((tmp / "doc.pdf").string());
    ASSERT_TRUE(doc);
    plat::PdfPageBitmap bitmap;
    ASSERT_TRUE(doc->RenderPage(1, 1.0, 100, 200, plat::PdfPixelFormat::Rgb, bitmap));
    // Turned clockwise, the lower-left red quarter lands at the upper left.
    EXPECT_TRUE(IsRed(PixelAt(bitmap, 10, 10)));
    EXPECT_TRUE(IsWhite(PixelAt(bitmap, 90, 190)));
    EXPECT_TRUE(IsWhite(PixelAt(bitmap, 10, 190)));
}

TEST(PdfDocumentTest, EmptyCropBoxFallsBackToTheMediaBox) {
    TempFolder tmp;
    std::vector<TestPdfPage> pages(2);
    pages[0].cropBox = "[10 10 10 50]";
    pages[1].cropBox = "[0 0 0 0]";
    WriteTestPdf(tmp / "doc.pdf", pages);
    auto doc = plat::PdfDocument::Open((tmp / "doc.pdf").string());
    ASSERT_TRUE(doc);
    plat::PdfPageInfo info;
    ASSERT_TRUE(doc->GetPageInfo(1, info));
    EXPECT_TRUE(info.cropBox.IsEmpty());
    for (int page = 1; page <= 2; ++page) {
        plat::PdfPageBitmap bitmap;
        ASSERT_TRUE(doc->RenderPage(page, 1.0, 200, 100, plat::PdfPixelFormat::Rgb, bitmap)) << page;
        EXPECT_TRUE(IsRed(PixelAt(bitmap, 10, 90))) << page;
        EXPECT_TRUE(IsWhite(PixelAt(bitmap, 150, 20))) << page;
    }
}

TEST(PdfDocumentTest, RefusesWhatIsNotARegularFileWithoutBlocking) {
    TempFolder tmp;
    ASSERT_EQ(::mkfifo((tmp / "pipe.pdf").c_str(), 0600), 0);
    EXPECT_FALSE(plat::PdfDocument::Open((tmp / "pipe.pdf").string()));
    EXPECT_FALSE(plat::PdfDocument::Open(tmp.path().string()));
}

TEST(PdfDocumentTest, PasswordsAndLocking) {
    TempFolder tmp;
    TestPdfPassword ownerOnly{"", "owner"};
    TestPdfPassword both{"user", "owner"};
    WriteTestPdf(tmp / "owner.pdf", TestPdfPages(2), &ownerOnly);
    WriteTestPdf(tmp / "user.pdf", TestPdfPages(2), &both);

    // Owner password alone: encrypted but readable without any password.
    auto owner = plat::PdfDocument::Open((tmp / "owner.pdf").string());
    ASSERT_TRUE(owner);
    EXPECT_TRUE(owner->IsEncrypted());
    EXPECT_FALSE(owner->IsLocked());
    EXPECT_EQ(owner->GetPageCount(), 2);

    auto locked = plat::PdfDocument::Open((tmp / "user.pdf").string());
    ASSERT_TRUE(locked);
    EXPECT_TRUE(locked->IsEncrypted());
    EXPECT_TRUE(locked->IsLocked());
    EXPECT_EQ(locked->GetPageCount(), 0);
    plat::PdfPageBitmap bitmap;
    EXPECT_FALSE(locked->RenderPage(1, 1.0, 10, 10, plat::PdfPixelFormat::Rgb, bitmap));
    EXPECT_FALSE(locked->Unlock("wrong"));
    EXPECT_TRUE(locked->IsLocked());
    EXPECT_TRUE(locked->Unlock("user"));
    EXPECT_FALSE(locked->IsLocked());
    EXPECT_EQ(locked->GetPageCount(), 2);

    // A copy for another thread carries the password that unlocked it.
    auto copy = locked->Reopen();
    ASSERT_TRUE(copy);
    EXPECT_FALSE(copy->IsLocked());
    EXPECT_TRUE(copy->RenderPage(2, 0.1, 20, 10, plat::PdfPixelFormat::Rgb, bitmap));

    auto withOwner = plat::PdfDocument::Open((tmp / "user.pdf").string(), "owner");
    ASSERT_TRUE(withOwner);
    EXPECT_FALSE(withOwner->IsLocked());
    auto withWrong = plat::PdfDocument::Open((tmp / "user.pdf").string(), "nope");
    ASSERT_TRUE(withWrong);
    EXPECT_TRUE(withWrong->IsLocked());
}

TEST(PdfDocumentTest, RejectsBrokenInputAndSizes) {
    TempFolder tmp;
    EXPECT_FALSE(plat::PdfDocument::Open((tmp / "missing.pdf").string()));
    {
        std::ofstream out(tmp / "junk.pdf", std::ios::binary);
        out << "this is not a PDF at all";
    }
    EXPECT_FALSE(plat::PdfDocument::Open((tmp / "junk.pdf").string()));
    {
        std::ofstream out(tmp / "empty.pdf", std::ios::binary);
    }
    EXPECT_FALSE(plat::PdfDocument::Open((tmp / "empty.pdf").string()));

    WriteTestPdf(tmp / "doc.pdf", TestPdfPages(1));
    auto doc = plat::PdfDocument::Open((tmp / "doc.pdf").string());
    ASSERT_TRUE(doc);
    plat::PdfPageBitmap bitmap;
    EXPECT_FALSE(doc->RenderPage(1, 1.0, 0, 10, plat::PdfPixelFormat::Rgb, bitmap));
    EXPECT_FALSE(doc->RenderPage(1, 0.0, 10, 10, plat::PdfPixelFormat::Rgb, bitmap));
    EXPECT_FALSE(doc->RenderPage(1, 1.0, 1 << 20, 1 << 20, plat::PdfPixelFormat::Rgb, bitmap));
    EXPECT_FALSE(doc->RenderPage(2, 1.0, 10, 10, plat::PdfPixelFormat::Rgb, bitmap));
}

TEST(PdfDocumentTest, CmykPagesGoThroughTheCmykProfile) {
    TempFolder tmp;
    WriteTestPdf(tmp / "doc.pdf", TestPdfPages(1));
    auto doc = plat::PdfDocument::Open((tmp / "doc.pdf").string());
    ASSERT_TRUE(doc);
    plat::PdfPageBitmap bitmap;
    ASSERT_TRUE(doc->RenderPage(1, 0.5, 100, 50, plat::PdfPixelFormat::Cmyk, bitmap));
    EXPECT_EQ(bitmap.channels, 4);
    EXPECT_EQ(bitmap.format, plat::PdfPixelFormat::Cmyk);
    ASSERT_EQ(bitmap.pixels.size(), 100u * 50u * 4u);
    EXPECT_FALSE(bitmap.iccProfile.empty());
    // White paper is no ink; red is magenta and yellow without cyan.
    const std::uint8_t* white = bitmap.pixels.data();
    EXPECT_LT(white[0] + white[1] + white[2] + white[3], 20);
    const std::uint8_t* red = bitmap.pixels.data() + (40 * 100 + 10) * 4;
    EXPECT_LT(red[0], 40);
    EXPECT_GT(red[1], 200);
    EXPECT_GT(red[2], 200);

    plat::ImageRef image = plat::CreateImageFromPdfPageBitmap(bitmap);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->colorModel(), plat::ColorModel::CMYK);
    EXPECT_EQ(image->width(), 100);
    EXPECT_FALSE(image->hasAlpha());

    ASSERT_TRUE(doc->RenderPage(1, 0.5, 100, 50, plat::PdfPixelFormat::Gray, bitmap));
    image = plat::CreateImageFromPdfPageBitmap(bitmap);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->colorModel(), plat::ColorModel::Gray);
    ASSERT_TRUE(doc->RenderPage(1, 0.5, 100, 50, plat::PdfPixelFormat::Rgb, bitmap));
    image = plat::CreateImageFromPdfPageBitmap(bitmap);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->colorModel(), plat::ColorModel::RGB);
    const std::vector<std::uint8_t> rgba = image->copyRGBA8();
    EXPECT_EQ(rgba[(40 * 100 + 10) * 4], 255);
    EXPECT_EQ(rgba[(40 * 100 + 10) * 4 + 1], 0);

    EXPECT_FALSE(plat::CreateImageFromPdfPageBitmap(plat::PdfPageBitmap{}));
}

// Bands are as few as keep each within the band budget, and at least the
// shortest band long, or the whole page when it is shorter.
TEST(PdfDocumentTest, BandsSplitThePageEvenly) {
    using plat::PdfDocument;
    EXPECT_EQ(PdfDocument::RenderBandRows(800, 1200), 1200);
    EXPECT_EQ(PdfDocument::RenderBandRows(2000, 9000), 1800);
    EXPECT_EQ(PdfDocument::RenderBandRows(5100, 6600), 734);
    EXPECT_EQ(PdfDocument::RenderBandRows(100000, 3000), PdfDocument::kRenderBandRows);
    EXPECT_EQ(PdfDocument::RenderBandRows(100000, 300), 300);
}

// A tall page with an enlarged picture of `height` points from 70 up, and text across the band edges.
void WritePictureAndTextPage(const std::filesystem::path& path, int height) {
    std::string hex;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            char pixel[7];
            std::snprintf(pixel, sizeof pixel, "%02x%02x%02x", x * 10, y * 10, (x * y) % 256);
            hex += pixel;
        }
    }
    std::vector<TestPdfPage> pages(1);
    pages[0].mediaBox = "[0 0 200 900]";
    pages[0].resources = "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>";
    pages[0].content = "q 180 0 0 " + std::to_string(height) + " 10 70 cm BI /W 24 /H 24 /CS /RGB /BPC 8 /I true /F /AHx ID " +
                       hex + "> EI Q BT /F1 40 Tf 20 530 Td (Bands) Tj 0 -180 Td (ahead) Tj ET";
    WriteTestPdf(path, pages);
}

// The page of `pdf` rendered in bands of `bandRows` rows, `rounds` times,
// with the pixels of the whole page each time.
void ExpectBandsOfWholePage(const std::filesystem::path& pdf, int bandRows, int rounds) {
    auto doc = plat::PdfDocument::Open(pdf.string());
    ASSERT_TRUE(doc);
    plat::PdfPageBitmap whole;
    ASSERT_TRUE(doc->RenderPage(1, 10.0, 2000, 9000, plat::PdfPixelFormat::Rgb, whole));
    for (int round = 0; round < rounds; ++round) {
        int rows = 0;
        const plat::ImageRef image = doc->RenderPageImage(1, 10.0, 2000, 9000, plat::PdfPixelFormat::Rgb, &rows);
        ASSERT_TRUE(image);
        EXPECT_EQ(rows, bandRows);
        std::size_t size = 0;
        void* memory = image->vimage().write_to_memory(&size);
        ASSERT_TRUE(memory);
        const bool same = size == whole.pixels.size() && std::memcmp(memory, whole.pixels.data(), size) == 0;
        g_free(memory);
        EXPECT_TRUE(same) << "round " << round;
    }
}

// A page of several bands, each rendered ahead of the one being read: a
// picture smaller than a band and text across the band edges come out as on
// the whole page, on every round.
TEST(PdfDocumentTest, BandsRenderedAheadMatchTheWholePage) {
    TempFolder tmp;
    WritePictureAndTextPage(tmp / "tall.pdf", 150);
    ExpectBandsOfWholePage(tmp / "tall.pdf", 1800, 3);
}

// An inline picture covering more of the page than a band: poppler would
// scale it whole for every band, so the page is one band, with the whole
// page's pixels.
TEST(PdfDocumentTest, APageCoveredByAPictureIsOneBand) {
    TempFolder tmp;
    WritePictureAndTextPage(tmp / "photo.pdf", 760);
    ExpectBandsOfWholePage(tmp / "photo.pdf", 9000, 1);
}

TEST(PdfDocumentTest, APageImageRenderedInBandsMatchesTheWholePage) {
    TempFolder tmp;
    // Stripes and a diagonal crossing the band edges; a rotated page, an
    // empty crop box (the media box is rendered) and text whose glyphs are
    // cut by the band edges as well. The bands keep their fonts from one
    // band to the next.
    std::vector<TestPdfPage> pages(4);
    for (TestPdfPage& page : pages) {
        page.mediaBox = "[0 0 200 300]";
        page.content = "1 0 0 rg 0 130 200 7 re f 0 0 1 rg 20 0 30 300 re f 0 0.5 0 RG 3 w 0 0 m 200 300 l S";
    }
    pages[1].rotate = 90;
    pages[2].cropBox = "[0 0 0 0]";
    pages[3].resources = "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>";
    pages[3].content = "BT /F1 36 Tf 5 185 Td (Bands Ag) Tj 0 -48 Td (gyp QW) Tj /F1 9 Tf 0 -20 Td (small) Tj ET";
    WriteTestPdf(tmp / "doc.pdf", pages);
    const TestPdfPassword password{"user", "owner"};
    WriteTestPdf(tmp / "locked.pdf", pages, &password);
    auto plain = plat::PdfDocument::Open((tmp / "doc.pdf").string());
    auto locked = plat::PdfDocument::Open((tmp / "locked.pdf").string(), "user");
    ASSERT_TRUE(plain);
    ASSERT_TRUE(locked);
    ASSERT_FALSE(locked->IsLocked());
    for (const auto* doc : {plain.get(), locked.get()}) {
        for (int number = 1; number <= 4; ++number) {
            // Three bands, two for the rotated page.
            const int width = number == 2 ? 1200 : 800;
            const int height = number == 2 ? 800 : 1200;
            for (auto format : {plat::PdfPixelFormat::Rgb, plat::PdfPixelFormat::Gray, plat::PdfPixelFormat::Cmyk}) {
                plat::PdfPageBitmap whole;
                ASSERT_TRUE(doc->RenderPage(number, 4.0, width, height, format, whole)) << number;
                const plat::ImageRef image = doc->RenderPageImage(number, 4.0, width, height, format);
                ASSERT_TRUE(image) << number;
                ASSERT_EQ(image->width(), width);
                ASSERT_EQ(image->height(), height);
                std::size_t size = 0;
                void* memory = image->vimage().write_to_memory(&size);
                ASSERT_TRUE(memory);
                const std::vector<std::uint8_t> banded(static_cast<std::uint8_t*>(memory),
                                                       static_cast<std::uint8_t*>(memory) + size);
                g_free(memory);
                EXPECT_TRUE(banded == whole.pixels) << "page " << number << " format " << int(format);
                if (number == 4 && format == plat::PdfPixelFormat::Gray) {
                    // The text is there: dark pixels in the first band.
                    EXPECT_LT(*std::min_element(banded.begin(), banded.begin() + 512 * width), 64);
                }
            }
        }
    }
    const auto* doc = plain.get();
    EXPECT_FALSE(doc->RenderPageImage(5, 1.0, 10, 10, plat::PdfPixelFormat::Rgb));
    EXPECT_FALSE(doc->RenderPageImage(1, 1.0, 0, 10, plat::PdfPixelFormat::Rgb));
}

// The slice renderer opens its own copy of the document: it refuses a
// wrong password, a missing page and empty slices, and renders the slices
// asked for, in any order, each with its own rows.
TEST(PdfDocumentTest, SliceRendererRefusesWhatItCannotRender) {
    TempFolder tmp;
    std::vector<TestPdfPage> pages(2);
    pages[1].content = "0 0 1 rg 0 50 200 50 re f";  // the upper half blue
    const TestPdfPassword password{"user", "owner"};
    WriteTestPdf(tmp / "locked.pdf", pages, &password);
    std::ifstream in(tmp / "locked.pdf", std::ios::binary);
    auto bytes = std::make_shared<const std::vector<char>>((std::istreambuf_iterator<char>(in)),
                                                           std::istreambuf_iterator<char>());
    auto open = plat::PdfDocument::Open((tmp / "locked.pdf").string(), "user");  // keeps poppler set up
    ASSERT_TRUE(open);

    EXPECT_FALSE(plat::PdfSliceRenderer::Create(bytes, "wrong", 1, false));
    EXPECT_FALSE(plat::PdfSliceRenderer::Create(bytes, "user", 3, false));
    EXPECT_FALSE(plat::PdfSliceRenderer::Create(bytes, "user", 0, false));
    EXPECT_FALSE(plat::PdfSliceRenderer::Create(nullptr, "user", 1, false));
    auto renderer = plat::PdfSliceRenderer::Create(bytes, "owner", 2, false);
    ASSERT_TRUE(renderer);
    EXPECT_FALSE(renderer->Render(72.0, 0, 0, 10));
    EXPECT_FALSE(renderer->Render(72.0, 0, 200, 0));
    EXPECT_FALSE(renderer->Render(72.0, -1, 200, 10));
    // The lower half, then the upper: white, then blue.
    ASSERT_TRUE(renderer->Render(72.0, 60, 200, 40));
    EXPECT_EQ(renderer->Row(0)[0], 255);
    EXPECT_EQ(renderer->Row(39)[2 * 3 + 2], 255);
    ASSERT_TRUE(renderer->Render(72.0, 0, 200, 40));
    EXPECT_LT(renderer->Row(0)[0], 16);
    EXPECT_EQ(renderer->Row(39)[2], 255);
    auto gray = plat::PdfSliceRenderer::Create(bytes, "user", 2, true);
    ASSERT_TRUE(gray);
    EXPECT_EQ(gray->Channels(), 1);
    ASSERT_TRUE(gray->Render(72.0, 0, 200, 100));
    EXPECT_LT(gray->Row(10)[100], 64);
    EXPECT_EQ(gray->Row(90)[100], 255);
}
