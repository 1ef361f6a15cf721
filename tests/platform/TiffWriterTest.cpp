#include "platform/TiffWriter.h"

#include "platform/FileManager.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>
#include <sstream>

namespace {

std::vector<std::string> Entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

// Opens TIFF bytes in memory through a file, for libtiff's reader.
TIFF* OpenBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return TIFFOpen(path.c_str(), "r");
}

}  // namespace

TEST(TiffWriter, InMemoryPagesCarryTheirLayout) {
    ScratchFolder tmp;
    auto writer = plat::TiffWriter::CreateInMemory();
    ASSERT_TRUE(writer);
    // Premultiplied RGBA in rows wider than the pixels, one row per strip,
    // uncompressed and without resolution.
    std::vector<std::uint8_t> rgba(3 * 12, 0);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 2; ++x) {
            std::uint8_t* p = &rgba[std::size_t(y) * 12 + std::size_t(x) * 4];
            p[0] = 10, p[1] = 20, p[2] = 30, p[3] = 40;
        }
    }
    plat::TiffPageLayout first;
    first.width = 2;
    first.height = 3;
    first.alpha = true;
    first.premultiplied = true;
    first.compression = plat::TiffCompression::None;
    first.rowsPerStrip = 1;
    const std::vector<std::uint8_t> before = rgba;
    ASSERT_TRUE(writer->writePage(first, rgba.data(), 12));
    // Grey with LZW and the predictor, a resolution and a profile.
    const std::vector<std::uint8_t> grey(4 * 4, 77);
    const std::vector<std::uint8_t> profile(200, 5);
    plat::TiffPageLayout second;
    second.width = 4;
    second.height = 4;
    second.model = plat::ColorModel::Gray;
    second.compression = plat::TiffCompression::LZWWithPredictor;
    second.dpiX = 300;
    second.dpiY = 150;
    second.iccProfile = profile;
    ASSERT_TRUE(writer->writePage(second, grey.data(), 4));
    EXPECT_EQ(writer->pagesWritten(), 2);
    // The caller's pixels are never encoded in place.
    EXPECT_EQ(rgba, before);

    const std::vector<std::uint8_t> bytes = writer->finishData();
    ASSERT_FALSE(bytes.empty());
    TIFF* tiff = OpenBytes(tmp / "pages.tif", bytes);
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tiff), 2);

    std::uint16_t samples = 0, compression = 0, extraCount = 0, *extra = nullptr;
    std::uint32_t rowsPerStrip = 0;
    float xres = 0;
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    ASSERT_EQ(TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra), 1);
    EXPECT_EQ(samples, 4);
    EXPECT_EQ(compression, COMPRESSION_NONE);
    EXPECT_EQ(rowsPerStrip, 1u);
    ASSERT_EQ(extraCount, 1);
    EXPECT_EQ(extra[0], EXTRASAMPLE_ASSOCALPHA);
    EXPECT_EQ(TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &xres), 0);
    std::vector<std::uint8_t> row(std::size_t(TIFFScanlineSize(tiff)));
    ASSERT_EQ(TIFFReadScanline(tiff, row.data(), 2, 0), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(row.begin(), row.begin() + 4), (std::vector<std::uint8_t>{10, 20, 30, 40}));

    ASSERT_EQ(TIFFSetDirectory(tiff, 1), 1);
    std::uint16_t photometric = 0, predictor = 0, unit = 0;
    float yres = 0;
    std::uint32_t profileLength = 0;
    void* profileData = nullptr;
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tiff, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &yres);
    TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    EXPECT_EQ(photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(compression, COMPRESSION_LZW);
    EXPECT_EQ(predictor, PREDICTOR_HORIZONTAL);
    EXPECT_FLOAT_EQ(xres, 300);
    EXPECT_FLOAT_EQ(yres, 150);
    EXPECT_EQ(unit, RESUNIT_INCH);
    ASSERT_EQ(TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileLength, &profileData), 1);
    EXPECT_EQ(profileLength, profile.size());
    row.assign(std::size_t(TIFFScanlineSize(tiff)), 0);
    for (std::uint32_t y = 0; y < 4; ++y) ASSERT_EQ(TIFFReadScanline(tiff, row.data(), y, 0), 1) << y;
    EXPECT_EQ(row, std::vector<std::uint8_t>(4, 77));
    TIFFClose(tiff);
}

TEST(TiffWriter, RefusesImpossiblePagesAndLeavesNothingWithoutACommit) {
    ScratchFolder tmp;
    const auto target = tmp / "out.tif";
    { std::ofstream(target) << "old"; }
    const std::vector<std::uint8_t> rgb(3 * 2 * 2, 9);
    plat::TiffPageLayout layout;
    layout.width = 2;
    layout.height = 2;
    {
        auto writer = plat::TiffWriter::CreateBeside(target);
        ASSERT_TRUE(writer);
        EXPECT_FALSE(writer->writePage(layout, nullptr, 6));
        EXPECT_FALSE(writer->writePage(layout, rgb.data(), 5));  // rows shorter than the pixels
        plat::TiffPageLayout empty = layout;
        empty.width = 0;
        EXPECT_FALSE(writer->writePage(empty, rgb.data(), 6));
        // Without pages there is nothing to commit; the old file stays.
        EXPECT_FALSE(writer->commit());
    }
    EXPECT_EQ(Entries(tmp.path()), std::vector<std::string>{"out.tif"});
    {
        auto writer = plat::TiffWriter::CreateBeside(target);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->writePage(layout, rgb.data(), 6));
    }  // dropped uncommitted
    EXPECT_EQ(Entries(tmp.path()), std::vector<std::string>{"out.tif"});
    std::stringstream old;
    old << std::ifstream(target).rdbuf();
    EXPECT_EQ(old.str(), "old");

    EXPECT_FALSE(plat::TiffWriter::CreateBeside(tmp / "missing" / "x.tif"));
    auto memory = plat::TiffWriter::CreateInMemory();
    ASSERT_TRUE(memory);
    EXPECT_TRUE(memory->finishData().empty());
    EXPECT_FALSE(memory->commit());  // a memory file has no destination
}

TEST(TiffWriter, CommitReplacesTheDestinationKeepingItsPermissions) {
    ScratchFolder tmp;
    const auto target = tmp / "out.tif";
    { std::ofstream(target) << "old"; }
    std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                             std::filesystem::perms::group_read);
    const std::vector<std::uint8_t> cmyk(4 * 3 * 2, 50);
    plat::TiffPageLayout layout;
    layout.width = 3;
    layout.height = 2;
    layout.model = plat::ColorModel::CMYK;
    layout.pageIndex = 0;
    layout.pageCount = 1;
    auto writer = plat::TiffWriter::CreateBeside(target);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->writePage(layout, cmyk.data(), 12));
    ASSERT_TRUE(writer->commit());
    EXPECT_EQ(Entries(tmp.path()), std::vector<std::string>{"out.tif"});
    EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    TIFF* tiff = TIFFOpen(target.c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    std::uint16_t photometric = 0, page = 9, pages = 0;
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tiff, TIFFTAG_PAGENUMBER, &page, &pages);
    EXPECT_EQ(photometric, PHOTOMETRIC_SEPARATED);
    EXPECT_EQ(page, 0);
    EXPECT_EQ(pages, 1);
    TIFFClose(tiff);
}
