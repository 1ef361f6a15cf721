#include "../platform/ImageTestSupport.h"

#include "engine/ImageFile.h"
#include "engine/ImageTypes.h"
#include "platform/ImageDestination.h"
#include "platform/ImageSource.h"

#include <tiffio.h>
#include <webp/encode.h>

using namespace imagetest;

namespace {

void WriteImage(const std::filesystem::path& path, const std::string& type, const plat::ImageRef& image,
                const plat::PropertyDict& properties = {}) {
    auto destination = plat::ImageDestination::CreateWithPath(path, type);
    ASSERT_TRUE(destination);
    destination->addImage(image, properties);
    ASSERT_TRUE(destination->finalize());
}

struct LoadedFile {
    ImageFile file;
    LoadedFile() { InitImageFile(&file); }
    ~LoadedFile() { ReleaseImageFile(&file); }
};

}  // namespace

TEST(ImageFile, DisplayedSizeTurnsOnlyForOrientationsSixAndEight) {
    TempFolder folder;
    for (int orientation : {1, 5, 6, 7, 8}) {
        plat::PropertyDict properties;
        properties.set(plat::prop::Orientation, orientation);
        const auto path = folder / ("o" + std::to_string(orientation) + ".jpg");
        WriteImage(path, "public.jpeg", MakeTestImage(40, 30), properties);
        LoadedFile f;
        ASSERT_EQ(LoadImageFile(&f.file, path), 1);
        EXPECT_EQ(f.file.orientation, std::uint32_t(orientation));
        const bool turned = orientation == 6 || orientation == 8;
        EXPECT_EQ(GetImageFileWidth(&f.file), turned ? 30.0 : 40.0) << orientation;
        EXPECT_EQ(GetImageFileHeight(&f.file), turned ? 40.0 : 30.0) << orientation;
    }

    // Loading another file into the same object forgets the first one's
    // orientation and, when the load fails, its image.
    LoadedFile f;
    ASSERT_EQ(LoadImageFile(&f.file, folder / "o6.jpg"), 1);
    const auto plain = folder / "plain.png";
    WriteImage(plain, "public.png", MakeTestImage(40, 30));
    ASSERT_EQ(LoadImageFile(&f.file, plain), 1);
    EXPECT_EQ(f.file.orientation, 0u);
    EXPECT_EQ(GetImageFileWidth(&f.file), 40.0);
    EXPECT_EQ(LoadImageFile(&f.file, folder / "missing.png"), 0);
    EXPECT_EQ(GetImageFileWidth(&f.file), 0.0);
    EXPECT_EQ(GetImageFileDPI(&f.file), 72.0);
}

TEST(ImageFile, ResolutionIs72WhenAbsentOrUnloaded) {
    TempFolder folder;
    // A PNG written by libvips without pHYs.
    const auto png = folder / "plain.png";
    auto image = MakeTestImage(8, 8);
    VipsBlob* blob = image->vimage().pngsave_buffer(vips::VImage::option()->set("strip", true));
    std::size_t length = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(vips_blob_get(blob, &length));
    std::vector<std::uint8_t> data(bytes, bytes + length);
    vips_area_unref(VIPS_AREA(blob));
    // Drop the pHYs chunk libvips always writes.
    for (std::size_t i = 8; i + 12 <= data.size();) {
        const std::size_t len = std::size_t(data[i]) << 24 | data[i + 1] << 16 | data[i + 2] << 8 | data[i + 3];
        if (std::memcmp(&data[i + 4], "pHYs", 4) == 0) {
            data.erase(data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + len + 12));
            continue;
        }
        i += len + 12;
    }
    WriteFile(png, data);
    LoadedFile f;
    ASSERT_EQ(LoadImageFile(&f.file, png), 1);
    EXPECT_EQ(GetImageFileDPI(&f.file), 72.0);
    EXPECT_EQ(GetImageFileDPIHeight(&f.file), 72.0);

    const auto stated = folder / "stated.png";
    plat::PropertyDict properties;
    properties.set(plat::prop::DPIWidth, 150.0);
    properties.set(plat::prop::DPIHeight, 150.0);
    WriteImage(stated, "public.png", image, properties);
    LoadedFile g;
    ASSERT_EQ(LoadImageFile(&g.file, stated), 1);
    EXPECT_NEAR(GetImageFileDPI(&g.file), 150.0, 0.1);

    LoadedFile empty;
    EXPECT_EQ(LoadImageFile(&empty.file, folder / "missing.png"), 0);
    EXPECT_EQ(GetImageFileWidth(&empty.file), 0.0);
    EXPECT_EQ(GetImageFileHeight(&empty.file), 0.0);
    EXPECT_EQ(GetImageFileDPI(&empty.file), 72.0);
    EXPECT_EQ(empty.file.outputType, kImageTypeJPEG);
}

TEST(ImageFile, ResizeRoundsHalvesAwayFromZeroAndKeepsAtLeastOnePixel) {
    TempFolder folder;
    const auto path = folder / "big.png";
    WriteImage(path, "public.png", MakeTestImage(1001, 999, true));
    LoadedFile f;
    ASSERT_EQ(LoadImageFile(&f.file, path), 1);
    ASSERT_EQ(ResizeImageFileByPercent(&f.file, 50), 1);
    EXPECT_EQ(GetImageFileWidth(&f.file), 501.0);
    EXPECT_EQ(GetImageFileHeight(&f.file), 500.0);
    EXPECT_FALSE(f.file.image->hasAlpha());
    ASSERT_EQ(ResizeImageFile(&f.file, 0, 0), 1);
    EXPECT_EQ(GetImageFileWidth(&f.file), 1.0);
    EXPECT_EQ(GetImageFileHeight(&f.file), 1.0);
    EXPECT_EQ(ResizeImageFile(&f.file, 1e9, 1e9), 0);
    EXPECT_EQ(GetImageFileWidth(&f.file), 1.0);
}

TEST(ImageFile, TiffIsSavedWithLzwAndResolution) {
    TempFolder folder;
    const auto source = folder / "in.png";
    WriteImage(source, "public.png", MakeTestImage(20, 10));
    for (std::int32_t code : {kImageTypeTIFF, kImageTypeCMYKTIFF}) {
        LoadedFile f;
        ASSERT_EQ(LoadImageFile(&f.file, source), 1);
        const auto out = folder / ("out" + std::to_string(code) + ".tif");
        SetImageFileOutput(&f.file, code, out, 0.8);
        f.file.saveDPI = 200;
        ASSERT_EQ(SaveImageFile(&f.file), 1);
        TIFF* tiff = TIFFOpen(out.c_str(), "r");
        ASSERT_NE(tiff, nullptr);
        std::uint16_t compression = 0, photometric = 0;
        float xres = 0;
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &xres);
        TIFFClose(tiff);
        EXPECT_EQ(compression, COMPRESSION_LZW);
        EXPECT_EQ(photometric, code == kImageTypeCMYKTIFF ? PHOTOMETRIC_SEPARATED : PHOTOMETRIC_RGB);
        EXPECT_NEAR(xres, 200.0f, 0.01f);
    }
}

TEST(ImageFile, SavesPdfSgiAndJpeg) {
    TempFolder folder;
    const auto source = folder / "in.png";
    plat::PropertyDict properties;
    WriteImage(source, "public.png", MakeTestImage(144, 72), properties);
    LoadedFile f;
    ASSERT_EQ(LoadImageFile(&f.file, source), 1);

    SetImageFileOutput(&f.file, kImageTypePDF, folder / "out.pdf", 0.8);
    ASSERT_EQ(SaveImageFile(&f.file), 1);
    auto pdf = plat::ImageSource::Open(folder / "out.pdf");
    ASSERT_TRUE(pdf);
    auto props = pdf->properties(0);
    // 144 × 72 pixels at 72 dpi: a 144 × 72 point page.
    EXPECT_EQ(props.integer(plat::prop::PixelWidth), 144);
    EXPECT_EQ(props.integer(plat::prop::PixelHeight), 72);

    SetImageFileOutput(&f.file, kImageTypeSGI, folder / "out.sgi", 0.8);
    ASSERT_EQ(SaveImageFile(&f.file), 1);
    EXPECT_EQ(ReadFile(folder / "out.sgi").size(), 512u + 144u * 72u * 4u);

    SetImageFileOutput(&f.file, kImageTypeJPEG, folder / "out.jpg", 0.5);
    ASSERT_EQ(SaveImageFile(&f.file), 1);
    auto jpeg = plat::ImageSource::Open(folder / "out.jpg");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->typeIdentifier(), "public.jpeg");
}

TEST(ImageFile, FailedSavesLeaveNoFile) {
    TempFolder folder;
    LoadedFile f;
    for (std::int32_t code : {kImageTypePDF, kImageTypeSGI, kImageTypePNG, kImageTypeMacPaint}) {
        SetImageFileOutput(&f.file, code, folder / "never", 0.8);
        EXPECT_EQ(SaveImageFile(&f.file), 0) << code;
    }
    const auto source = folder / "in.png";
    WriteImage(source, "public.png", MakeTestImage(4, 4));
    LoadedFile g;
    ASSERT_EQ(LoadImageFile(&g.file, source), 1);
    SetImageFileOutput(&g.file, kImageTypeFax, folder / "never", 0.8);
    EXPECT_EQ(SaveImageFile(&g.file), 0);
    SetImageFileOutput(&g.file, kImageTypePDF, folder / "no-such-folder" / "out.pdf", 0.8);
    EXPECT_EQ(SaveImageFile(&g.file), 0);
    EXPECT_EQ(folder.entryCount(), 1u);  // only the source
}

TEST(ImageFile, WebPImageSize) {
    TempFolder folder;
    std::vector<std::uint8_t> rgb(6 * 4 * 3, 90);
    std::uint8_t* out = nullptr;
    const std::size_t size = WebPEncodeLosslessRGB(rgb.data(), 6, 4, 18, &out);
    WriteFile(folder / "a.webp", std::vector<std::uint8_t>(out, out + size));
    WebPFree(out);
    WriteFile(folder / "empty.webp", {});
    WriteFile(folder / "junk.webp", {'n', 'o', 't', ' ', 'w', 'e', 'b', 'p'});
    ImageFile file;
    InitImageFile(&file);
    int w = 0, h = 0;
    EXPECT_EQ(GetWebPImageSize(&file, folder / "a.webp", &w, &h), 1);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 4);
    EXPECT_EQ(GetWebPImageSize(&file, folder / "empty.webp", &w, &h), 0);
    EXPECT_EQ(GetWebPImageSize(&file, folder / "junk.webp", &w, &h), 0);
    EXPECT_EQ(GetWebPImageSize(&file, folder / "missing.webp", &w, &h), 0);
}
