#include "engine/MultiPageTiff.h"

#include <fstream>

#include <tiffio.h>

#include <gtest/gtest.h>

#include "platform/PdfTestSupport.h"

using namespace vantrell_test;

namespace {

std::vector<std::uint8_t> Pixels(int width, int height, int samples, std::uint8_t value) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * samples), value);
}

}  // namespace

TEST(MultiPageTiffTest, WritesOneDirectoryPerPageWithItsTags) {
    TempFolder tmp;
    const auto path = tmp / "pages.tif";
    MultiPageTiffFile file;
    ASSERT_EQ(file.Open(path), 1);
    // Nothing at the destination while pages are written.
    EXPECT_FALSE(std::filesystem::exists(path));
    const auto gray = Pixels(5, 4, 1, 200);
    const auto rgb = Pixels(6, 3, 3, 100);
    const auto cmyk = Pixels(7, 2, 4, 50);
    ASSERT_EQ(WriteTIFFPage(file.Handle(), 5, 4, gray.data(), plat::ColorModel::Gray, false, 150, 150, 0, 3), 1);
    file.CountPage();
    ASSERT_EQ(WriteTIFFPage(file.Handle(), 6, 3, rgb.data(), plat::ColorModel::RGB, false, 300, 200, 1, 3), 1);
    file.CountPage();
    ASSERT_EQ(WriteTIFFPage(file.Handle(), 7, 2, cmyk.data(), plat::ColorModel::CMYK, false, 72, 72, 2, 3), 1);
    file.CountPage();
    ASSERT_EQ(file.Commit(), 1);
    EXPECT_EQ(FolderEntries(tmp.path()), std::vector<std::string>{"pages.tif"});

    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tiff), 3);
    struct Expected {
        std::uint32_t width, height;
        std::uint16_t samples, photometric;
        float xres, yres;
    };
    const Expected expected[3] = {{5, 4, 1, PHOTOMETRIC_MINISBLACK, 150, 150},
                                  {6, 3, 3, PHOTOMETRIC_RGB, 300, 200},
                                  {7, 2, 4, PHOTOMETRIC_SEPARATED, 72, 72}};
    for (std::uint16_t page = 0; page < 3; ++page) {
        ASSERT_EQ(TIFFSetDirectory(tiff, page), 1);
        std::uint32_t width = 0, height = 0, subfile = 0;
        std::uint16_t bits = 0, samples = 0, planar = 0, photometric = 0, orientation = 0, unit = 0, compression = 0;
        std::uint16_t pageNumber = 0, pageCount = 0;
        float xres = 0, yres = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &xres);
        TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &yres);
        TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfile);
        TIFFGetField(tiff, TIFFTAG_PAGENUMBER, &pageNumber, &pageCount);
        EXPECT_EQ(width, expected[page].width);
        EXPECT_EQ(height, expected[page].height);
        EXPECT_EQ(bits, 8);
        EXPECT_EQ(samples, expected[page].samples);
        EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
        EXPECT_EQ(photometric, expected[page].photometric);
        EXPECT_EQ(orientation, ORIENTATION_TOPLEFT);
        EXPECT_FLOAT_EQ(xres, expected[page].xres);
        EXPECT_FLOAT_EQ(yres, expected[page].yres);
        EXPECT_EQ(unit, RESUNIT_INCH);
        EXPECT_EQ(compression, COMPRESSION_LZW);
        EXPECT_EQ(subfile, static_cast<std::uint32_t>(FILETYPE_PAGE));
        EXPECT_EQ(pageNumber, page);
        EXPECT_EQ(pageCount, 3);
        std::uint16_t extraCount = 0;
        std::uint16_t* extra = nullptr;
        EXPECT_EQ(TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) == 1 ? extraCount : 0, 0);
        std::vector<std::uint8_t> row(TIFFScanlineSize(tiff));
        ASSERT_EQ(TIFFReadScanline(tiff, row.data(), 0, 0), 1);
        EXPECT_EQ(row[0], page == 0 ? 200 : page == 1 ? 100 : 50);
    }
    TIFFClose(tiff);
}

TEST(MultiPageTiffTest, NothingIsLeftWithoutACommit) {
    TempFolder tmp;
    {
        MultiPageTiffFile file;
        ASSERT_EQ(file.Open(tmp / "a.tif"), 1);
        const auto rgb = Pixels(2, 2, 3, 1);
        ASSERT_EQ(WriteTIFFPage(file.Handle(), 2, 2, rgb.data(), plat::ColorModel::RGB, false, 72, 72, 0, 2), 1);
    }
    EXPECT_TRUE(FolderEntries(tmp.path()).empty());

    MultiPageTiffFile empty;
    ASSERT_EQ(empty.Open(tmp / "b.tif"), 1);
    EXPECT_EQ(empty.Commit(), 0);
    EXPECT_TRUE(FolderEntries(tmp.path()).empty());

    MultiPageTiffFile missing;
    EXPECT_EQ(missing.Open(tmp / "no-such-folder" / "c.tif"), 0);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(WriteTIFFPage(nullptr, 2, 2, nullptr, plat::ColorModel::RGB, false, 72, 72, 0, 1), 0);
}

TEST(MultiPageTiffTest, CommitReplacesAnExistingFile) {
    TempFolder tmp;
    const auto path = tmp / "old.tif";
    { std::ofstream(path) << "old contents"; }
    MultiPageTiffFile file;
    ASSERT_EQ(file.Open(path), 1);
    const auto gray = Pixels(3, 3, 1, 9);
    ASSERT_EQ(WriteTIFFPage(file.Handle(), 3, 3, gray.data(), plat::ColorModel::Gray, false, 72, 72, 0, 1), 1);
    file.CountPage();
    ASSERT_EQ(file.Commit(), 1);
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    TIFFClose(tiff);
    EXPECT_EQ(FolderEntries(tmp.path()), std::vector<std::string>{"old.tif"});
}
