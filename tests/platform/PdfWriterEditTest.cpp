#include "ImageTestSupport.h"

#include "platform/PdfDocument.h"
#include "platform/PdfWriter.h"

using namespace imagetest;

namespace {

// Square pages of `side` points from a red and blue image at 72 dpi.
bool AddSquare(plat::PdfWriter& writer, std::size_t index, int side, const plat::PdfPageFrame* frame = nullptr) {
    return writer.insertImagePage(index, MakeTestImage(side, side), 72.0, 72.0, frame);
}

std::vector<double> PageWidths(const std::filesystem::path& path, const std::string& password = {}) {
    std::vector<double> widths;
    auto document = plat::PdfDocument::Open(path.string(), password);
    if (!document) return widths;
    for (int page = 1; page <= document->GetPageCount(); ++page) {
        plat::PdfPageInfo info;
        document->GetPageInfo(page, info);
        widths.push_back(info.mediaBox.width);
    }
    return widths;
}

}  // namespace

TEST(PdfWriterEdit, PagesGoInAtTheirIndexAndComeOut) {
    TempFolder folder;
    plat::PdfWriter writer;
    for (int side : {10, 20, 30}) ASSERT_TRUE(AddSquare(writer, 99, side));
    ASSERT_TRUE(AddSquare(writer, 1, 40));
    ASSERT_TRUE(writer.removePage(0));
    EXPECT_FALSE(writer.removePage(3));
    ASSERT_TRUE(writer.write(folder / "edited.pdf"));
    EXPECT_EQ(PageWidths(folder / "edited.pdf"), (std::vector<double>{40, 20, 30}));

    // Pages of an opened file copied into a new one, rotated there.
    auto source = plat::PdfWriter::Open(folder / "edited.pdf");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->pageCount(), 3u);
    plat::PdfWriter copy;
    ASSERT_TRUE(copy.insertPage(*source, 2, 0));
    ASSERT_TRUE(copy.insertPage(*source, 0, 0));
    EXPECT_FALSE(copy.insertPage(*source, 3, 0));
    EXPECT_FALSE(copy.setPageRotation(1, 45));
    ASSERT_TRUE(copy.setPageRotation(1, -90));
    EXPECT_EQ(copy.pageRotation(1), -90);
    ASSERT_TRUE(copy.write(folder / "copy.pdf"));
    EXPECT_EQ(PageWidths(folder / "copy.pdf"), (std::vector<double>{40, 30}));
}

TEST(PdfWriterEdit, FixedPaperCentresTheImage) {
    TempFolder folder;
    plat::PdfWriter writer;
    plat::PdfPageFrame frame;
    frame.paperWidth = 200;
    frame.paperHeight = 100;
    frame.contentArea = {20, 10, 160, 80};
    ASSERT_TRUE(AddSquare(writer, 0, 40, &frame));
    EXPECT_EQ(writer.pageCropBox(0), (plat::PdfBox{0, 0, 200, 100}));
    frame.paperWidth = 0;
    EXPECT_FALSE(AddSquare(writer, 0, 40, &frame));
    ASSERT_TRUE(writer.write(folder / "paper.pdf"));
    auto document = plat::PdfDocument::Open((folder / "paper.pdf").string());
    ASSERT_TRUE(document);
    plat::PdfPageBitmap bitmap;
    ASSERT_TRUE(document->RenderPage(1, 1.0, 200, 100, plat::PdfPixelFormat::Gray, bitmap));
    auto at = [&](int x, int y) { return bitmap.pixels[std::size_t(y) * bitmap.Stride() + x]; };
    // The 40-point image spans x 80 to 120 and y 30 to 70.
    EXPECT_EQ(at(78, 50), 255);
    EXPECT_EQ(at(122, 50), 255);
    EXPECT_EQ(at(100, 28), 255);
    EXPECT_EQ(at(100, 72), 255);
    EXPECT_LT(at(100, 50), 255);
}

TEST(PdfWriterEdit, OutlinesRoundTrip) {
    TempFolder folder;
    plat::PdfWriter writer;
    for (int side : {10, 20, 30}) ASSERT_TRUE(AddSquare(writer, 99, side));
    // Left and top as given; an unset coordinate stays unset.
    plat::PdfOutlineItem chapter{"Chapter \u00e9", 1, 0.0, 20.0,
                                 {{"Section", 2, std::nullopt, std::nullopt, {}, {}, {}},
                                  {"No page", -1, 0.0, 0.0, {}, {}, {}}},
                                 {}, {}};
    writer.setOutline({{"Start", 0, 5.0, 10.0, {}, {}, {}}, chapter});
    ASSERT_TRUE(writer.write(folder / "outlined.pdf"));
    auto opened = plat::PdfWriter::Open(folder / "outlined.pdf");
    ASSERT_TRUE(opened);
    const auto outline = opened->outline();
    ASSERT_EQ(outline.size(), 2u);
    EXPECT_EQ(outline[0].title, "Start");
    EXPECT_EQ(outline[0].pageIndex, 0);
    EXPECT_EQ(outline[0].left, 5.0);
    EXPECT_EQ(outline[0].top, 10.0);
    EXPECT_EQ(outline[1].title, "Chapter \u00e9");
    ASSERT_EQ(outline[1].children.size(), 2u);
    EXPECT_EQ(outline[1].children[0].pageIndex, 2);
    EXPECT_FALSE(outline[1].children[0].left.has_value());
    EXPECT_FALSE(outline[1].children[0].top.has_value());
    EXPECT_EQ(outline[1].children[1].pageIndex, -1);
}

TEST(PdfWriterEdit, EncryptionForEveryKeyLength) {
    TempFolder folder;
    for (int bits : {40, 128, 256}) {
        SCOPED_TRACE(bits);
        plat::PdfWriter writer;
        ASSERT_TRUE(AddSquare(writer, 0, 10));
        plat::PdfWriteOptions options;
        options.userPassword = "user";
        options.ownerPassword = "owner";
        options.keyLength = bits;
        options.allowsPrinting = false;
        const auto path = folder / ("locked" + std::to_string(bits) + ".pdf");
        ASSERT_TRUE(writer.write(path, std::nullopt, options));

        plat::PdfWriter::OpenStatus status = plat::PdfWriter::OpenStatus::Opened;
        EXPECT_FALSE(plat::PdfWriter::Open(path, "wrong", &status));
        EXPECT_EQ(status, plat::PdfWriter::OpenStatus::Locked);
        auto asUser = plat::PdfWriter::Open(path, "user", &status);
        ASSERT_TRUE(asUser);
        EXPECT_TRUE(asUser->isEncrypted());
        EXPECT_FALSE(asUser->allowsPrinting());
        auto asOwner = plat::PdfWriter::Open(path, "owner");
        ASSERT_TRUE(asOwner);
        EXPECT_TRUE(asOwner->allowsPrinting());
        EXPECT_EQ(PageWidths(path, "user"), (std::vector<double>{10}));
    }
    // An owner password alone: anyone opens the file, with its permissions.
    plat::PdfWriter writer;
    ASSERT_TRUE(AddSquare(writer, 0, 10));
    plat::PdfWriteOptions ownerOnly;
    ownerOnly.ownerPassword = "owner";
    ownerOnly.allowsPrinting = false;
    ASSERT_TRUE(writer.write(folder / "owner.pdf", std::nullopt, ownerOnly));
    auto opened = plat::PdfWriter::Open(folder / "owner.pdf");
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->isEncrypted());
    EXPECT_FALSE(opened->allowsPrinting());
}

TEST(PdfWriterEdit, UnreadableFilesDoNotOpen) {
    TempFolder folder;
    std::ofstream(folder / "text.pdf") << "plain text";
    plat::PdfWriter::OpenStatus status = plat::PdfWriter::OpenStatus::Opened;
    for (const char* name : {"text.pdf", "missing.pdf", ""}) {
        EXPECT_FALSE(plat::PdfWriter::Open(folder / name, {}, &status)) << name;
        EXPECT_EQ(status, plat::PdfWriter::OpenStatus::Unreadable);
    }
}
