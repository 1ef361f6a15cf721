#include "engine/WholeFileConversion.h"

#include <cstring>
#include <fstream>

#include <gtest/gtest.h>
#include <tiffio.h>
#include <webp/decode.h>

#include "engine/ConvertImage.h"
#include "engine/ImageConverter.h"
#include "engine/ImageTypes.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/ImageSource.h"
#include "platform/Initialize.h"
#include "platform/PdfDocument.h"
#include "platform/PdfTestSupport.h"

using namespace vantrell_test;

namespace {

struct TiffPage {
    int width, height;
    std::uint8_t red, green, blue;
    float dpi;
    bool alpha = false;
};

void WriteMultiPageTiffWithMode(const std::filesystem::path& path, const std::vector<TiffPage>& pages,
                                 const char* mode) {
    TIFF* tiff = TIFFOpen(path.c_str(), mode);
    ASSERT_NE(tiff, nullptr);
    for (const TiffPage& p : pages) {
        const int samples = p.alpha ? 4 : 3;
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(p.width));
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(p.height));
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, p.dpi);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, p.dpi);
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        if (p.alpha) {
            const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        std::vector<std::uint8_t> row(static_cast<std::size_t>(p.width * samples));
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                std::uint8_t* px = row.data() + x * samples;
                px[0] = p.red;
                px[1] = p.green;
                px[2] = p.blue;
                if (p.alpha) px[3] = x < p.width / 2 ? 255 : 0;
            }
            TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0);
        }
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
}

void WriteMultiPageTiff(const std::filesystem::path& path, const std::vector<TiffPage>& pages) {
    WriteMultiPageTiffWithMode(path, pages, "w");
}

// Two good pages, then a third that cannot be decoded (8-bit floating
// point samples).
void WriteTiffWithBrokenLastPage(const std::filesystem::path& path) {
    WriteMultiPageTiff(path, {{30, 20, 255, 0, 0, 300.0f}, {40, 10, 0, 255, 0, 150.0f}});
    TIFF* tiff = TIFFOpen(path.c_str(), "a");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 64u);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 64u);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 64u);
    std::vector<std::uint8_t> strip(64 * 64 * 3, 0x40);
    TIFFWriteRawStrip(tiff, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
}

const std::vector<TiffPage> kThreePages = {
    {30, 20, 255, 0, 0, 300.0f},
    {40, 10, 0, 255, 0, 150.0f},
    {16, 16, 0, 0, 255, 72.0f, true},
};

class WholeFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::Initialize();
        InitImageConverter(&converter_);
    }

    // Loads `source` and asks for `type` at `destination` at the source's
    // resolution, as the whole-file entry does.
    void Prepare(const std::filesystem::path& source, int type, const std::filesystem::path& destination,
                 double quality = 0.8) {
        InitImageConverter(&converter_);
        ASSERT_EQ(LoadConverterSource(&converter_, source), 1);
        SetConverterOutput(&converter_, type, destination, quality);
        SetConverterUseSourceDPI(&converter_, 1);
    }

    struct Info {
        int width = 0, height = 0;
        double dpi = 0;
        std::vector<std::uint8_t> rgba;
    };

    static Info Read(const std::filesystem::path& path) {
        Info info;
        auto source = plat::ImageSource::Open(path);
        EXPECT_TRUE(source) << path;
        if (!source) return info;
        auto image = source->createImage(0);
        if (!image) return info;
        info.width = image->width();
        info.height = image->height();
        info.dpi = source->properties().number(plat::prop::DPIWidth).value_or(0);
        info.rgba = image->copyRGBA8();
        return info;
    }

    TempFolder tmp_;
    ImageConverter converter_;
};

}  // namespace

TEST_F(WholeFileTest, EveryPageOfATiffGoesIntoAFolderOfNumberedFiles) {
    WriteMultiPageTiff(tmp_ / "scan.tif", kThreePages);
    Prepare(tmp_ / "scan.tif", kImageTypePNG, tmp_ / "photo.png");
    ASSERT_EQ(SaveConvertedImageFile(&converter_), 1);
    EXPECT_EQ(FolderEntries(tmp_.path()), (std::vector<std::string>{"photo", "scan.tif"}));
    ASSERT_EQ(FolderEntries(tmp_ / "photo"),
              (std::vector<std::string>{"photo 1.png", "photo 2.png", "photo.png"}));
    const Info first = Read(tmp_ / "photo" / "photo.png");
    const Info second = Read(tmp_ / "photo" / "photo 1.png");
    const Info third = Read(tmp_ / "photo" / "photo 2.png");
    EXPECT_EQ(first.width, 30);
    EXPECT_EQ(second.width, 40);
    EXPECT_EQ(third.width, 16);
    EXPECT_EQ(first.rgba[0], 255);
    EXPECT_EQ(second.rgba[1], 255);
    EXPECT_EQ(third.rgba[2], 255);
    // Each page keeps its own resolution.
    EXPECT_NEAR(first.dpi, 300.0, 0.5);
    EXPECT_NEAR(second.dpi, 150.0, 0.5);
    EXPECT_NEAR(third.dpi, 72.0, 0.5);
    // Alpha survives where the format holds it.
    EXPECT_EQ(third.rgba[3], 255);
    EXPECT_EQ(third.rgba[(16 - 1) * 4 + 3], 0);

    // A second run adds to the folder under fresh names.
    Prepare(tmp_ / "scan.tif", kImageTypePNG, tmp_ / "photo.png");
    ASSERT_EQ(SaveConvertedImageFile(&converter_), 1);
    EXPECT_EQ(FolderEntries(tmp_ / "photo").size(), 6u);
}

TEST_F(WholeFileTest, PdfOutputIsOneDocumentWithAPagePerImage) {
    WriteMultiPageTiff(tmp_ / "scan.tif", kThreePages);
    Prepare(tmp_ / "scan.tif", kImageTypePDF, tmp_ / "scan.pdf");
    ASSERT_EQ(SaveConvertedImageFile(&converter_), 1);
    EXPECT_EQ(FolderEntries(tmp_.path()), (std::vector<std::string>{"scan.pdf", "scan.tif"}));
    auto pdf = plat::PdfDocument::Open((tmp_ / "scan.pdf").string());
    ASSERT_TRUE(pdf);
    ASSERT_EQ(pdf->GetPageCount(), 3);
    plat::PdfPageInfo info;
    ASSERT_TRUE(pdf->GetPageInfo(1, info));
    EXPECT_NEAR(info.mediaBox.width, 30.0 / 300.0 * 72.0, 0.01);
    ASSERT_TRUE(pdf->GetPageInfo(2, info));
    EXPECT_NEAR(info.mediaBox.width, 40.0 / 150.0 * 72.0, 0.01);
    ASSERT_TRUE(pdf->GetPageInfo(3, info));
    EXPECT_NEAR(info.mediaBox.width, 16.0, 0.01);
}

TEST_F(WholeFileTest, WebPOutputLosslessAndLossy) {
    WriteMultiPageTiff(tmp_ / "alpha.tif", {kThreePages[2]});
    WriteMultiPageTiff(tmp_ / "plain.tif", {kThreePages[0]});
    for (const char* name : {"alpha", "plain"}) {
        for (double quality : {1.0, 0.8}) {
            const std::filesystem::path out = tmp_ / (std::string(name) + (quality == 1.0 ? "-lossless" : "-lossy") + ".webp");
            Prepare(tmp_ / (std::string(name) + ".tif"), kImageTypeWebP, out, quality);
            ASSERT_EQ(SaveConvertedImageFile(&converter_), 1) << out;
            auto bytes = plat::FileManager::contentsOfFile(out);
            ASSERT_TRUE(bytes) << out;
            WebPBitstreamFeatures features;
            ASSERT_EQ(WebPGetFeatures(bytes->data(), bytes->size(), &features), VP8_STATUS_OK);
            EXPECT_EQ(features.format, quality == 1.0 ? 2 : 1) << out;
            EXPECT_EQ(features.has_alpha != 0, std::string(name) == "alpha") << out;
            if (quality == 1.0) {
                int w = 0, h = 0;
                std::uint8_t* decoded = WebPDecodeRGBA(bytes->data(), bytes->size(), &w, &h);
                ASSERT_NE(decoded, nullptr);
                const Info source = Read(tmp_ / (std::string(name) + ".tif"));
                ASSERT_EQ(static_cast<std::size_t>(w * h * 4), source.rgba.size());
                // Colour under fully transparent pixels is free for the encoder.
                int differences = 0;
                for (std::size_t i = 0; i < source.rgba.size(); i += 4) {
                    const bool visible = source.rgba[i + 3] != 0;
                    differences += decoded[i + 3] != source.rgba[i + 3];
                    differences += visible && std::memcmp(decoded + i, source.rgba.data() + i, 3) != 0;
                }
                EXPECT_EQ(differences, 0) << out;
                WebPFree(decoded);
            }
        }
    }
    // Nothing but the outputs: no temporary files beside them.
    EXPECT_EQ(FolderEntries(tmp_.path()).size(), 6u);
}

TEST_F(WholeFileTest, AFailedWebPEncodingAnswersZeroAndLeavesNoFile) {
    // Wider than a WebP image can be.
    WriteMultiPageTiff(tmp_ / "wide.tif", {{16400, 1, 9, 9, 9, 72.0f}});
    for (double quality : {1.0, 0.8}) {
        Prepare(tmp_ / "wide.tif", kImageTypeWebP, tmp_ / "wide.webp", quality);
        EXPECT_EQ(SaveConvertedImageFile(&converter_), 0) << quality;
        EXPECT_EQ(FolderEntries(tmp_.path()), std::vector<std::string>{"wide.tif"});
    }
}

TEST_F(WholeFileTest, OneImageWritesTheDestinationItself) {
    WriteMultiPageTiff(tmp_ / "one.tif", {kThreePages[1]});
    Prepare(tmp_ / "one.tif", kImageTypeJPEG, tmp_ / "one.jpg");
    ASSERT_EQ(SaveConvertedImageFile(&converter_), 1);
    EXPECT_EQ(FolderEntries(tmp_.path()), (std::vector<std::string>{"one.jpg", "one.tif"}));
    const Info out = Read(tmp_ / "one.jpg");
    EXPECT_EQ(out.width, 40);
    EXPECT_NEAR(out.dpi, 150.0, 0.5);

    // An explicit resolution replaces the source's.
    InitImageConverter(&converter_);
    ASSERT_EQ(LoadConverterSource(&converter_, tmp_ / "one.tif"), 1);
    SetConverterOutput(&converter_, kImageTypeTIFF, tmp_ / "copy.tif", 0.8);
    SetConverterDPI(&converter_, 200, 200);
    ASSERT_EQ(SaveConvertedImageFile(&converter_), 1);
    EXPECT_NEAR(Read(tmp_ / "copy.tif").dpi, 200.0, 0.5);
}

TEST_F(WholeFileTest, CmykTiffOutputIsCmykOnEveryRoad) {
    WriteMultiPageTiff(tmp_ / "one.tif", {kThreePages[0]});
    // At the source's resolution (the bitmap writer) and at a given one (the encoder).
    for (bool sourceDPI : {true, false}) {
        const auto out = tmp_ / (sourceDPI ? "source.tif" : "given.tif");
        Prepare(tmp_ / "one.tif", kImageTypeCMYKTIFF, out);
        if (!sourceDPI) {
            SetConverterUseSourceDPI(&converter_, 0);
            SetConverterDPI(&converter_, 100, 100);
        }
        ASSERT_EQ(SaveConvertedImageFile(&converter_), 1);
        TIFF* tiff = TIFFOpen(out.c_str(), "r");
        ASSERT_NE(tiff, nullptr);
        std::uint16_t photometric = 0, compression = 0;
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFClose(tiff);
        EXPECT_EQ(photometric, PHOTOMETRIC_SEPARATED) << sourceDPI;
        EXPECT_EQ(compression, COMPRESSION_LZW) << sourceDPI;
    }
    std::vector<std::uint8_t> data;
    Prepare(tmp_ / "one.tif", kImageTypeCMYKTIFF, tmp_ / "unused.tif");
    ASSERT_EQ(EncodeWithBitmapImageRep(&converter_, data), 1);
    plat::ImageRef decoded;
    ASSERT_EQ(DecodeCGImageFromData(&converter_, data, &decoded), 1);
    EXPECT_EQ(decoded->colorModel(), plat::ColorModel::CMYK);
}

TEST_F(WholeFileTest, AGifIsOnePicture) {
    WriteMultiPageTiff(tmp_ / "one.tif", {kThreePages[0]});
    Prepare(tmp_ / "one.tif", kImageTypeGIF, tmp_ / "anim.gif");
    ASSERT_EQ(SaveConvertedImageFile(&converter_), 1);
    auto gif = plat::ImageSource::Open(tmp_ / "anim.gif");
    ASSERT_TRUE(gif);
    EXPECT_EQ(GetSourceRepresentationCount(*gif), 1u);
}

TEST_F(WholeFileTest, FailuresAnswerZero) {
    WriteMultiPageTiff(tmp_ / "scan.tif", kThreePages);
    // The folder's name is taken by a file.
    { std::ofstream(tmp_ / "photo") << "in the way"; }
    Prepare(tmp_ / "scan.tif", kImageTypePNG, tmp_ / "photo.png");
    EXPECT_EQ(SaveConvertedImageFile(&converter_), 0);
    EXPECT_FALSE(std::filesystem::exists(tmp_ / "photo.png"));

    // No representation loads: no PDF written at all.
    InitImageConverter(&converter_);
    SetConverterOutput(&converter_, kImageTypePDF, tmp_ / "none.pdf", 0.8);
    auto never = [](std::size_t) -> std::optional<WholeFileRepresentation> { return std::nullopt; };
    EXPECT_EQ(SaveConvertedRepresentations(&converter_, 3, never), 0);
    EXPECT_FALSE(std::filesystem::exists(tmp_ / "none.pdf"));
    EXPECT_EQ(SaveConvertedImageFile(&converter_), 0);  // no source

    // One representation fails: the answer is 0 and no PDF of the others is written.
    Prepare(tmp_ / "scan.tif", kImageTypePDF, tmp_ / "part.pdf");
    auto source = converter_.sourceImage;
    auto middleFails = [&source](std::size_t index) -> std::optional<WholeFileRepresentation> {
        if (index == 1) return std::nullopt;
        auto rep = plat::ImageRep::Load(source, index);
        return WholeFileRepresentation{rep->image(), rep->widthInPoints(), rep->heightInPoints()};
    };
    EXPECT_EQ(SaveConvertedRepresentations(&converter_, 3, middleFails), 0);
    EXPECT_FALSE(std::filesystem::exists(tmp_ / "part.pdf"));

    // A size of no points counts as 72 dpi.
    InitImageConverter(&converter_);
    SetConverterOutput(&converter_, kImageTypePNG, tmp_ / "flat.png", 0.8);
    SetConverterUseSourceDPI(&converter_, 1);
    auto flat = [&source](std::size_t) -> std::optional<WholeFileRepresentation> {
        auto rep = plat::ImageRep::Load(source, 0);
        return WholeFileRepresentation{rep->image(), 0.0, 0.0};
    };
    ASSERT_EQ(SaveConvertedRepresentations(&converter_, 1, flat), 1);
    EXPECT_DOUBLE_EQ(converter_.dpiX, 72.0);
    EXPECT_NEAR(Read(tmp_ / "flat.png").dpi, 72.0, 0.5);
}

TEST_F(WholeFileTest, DecodeAndBitmapEncoding) {
    WriteMultiPageTiff(tmp_ / "one.tif", {kThreePages[0]});
    Prepare(tmp_ / "one.tif", kImageTypeTIFF, tmp_ / "unused.tif");
    std::vector<std::uint8_t> data;
    ASSERT_EQ(EncodeWithBitmapImageRep(&converter_, data), 1);
    EXPECT_NEAR(converter_.dpiX, 300.0, 0.01);
    plat::ImageRef decoded;
    ASSERT_EQ(DecodeCGImageFromData(&converter_, data, &decoded), 1);
    EXPECT_EQ(decoded->width(), 30);
    auto source = plat::ImageSource::OpenData(data);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->typeIdentifier(), "public.tiff");

    const std::uint8_t junk[] = {1, 2, 3, 4};
    EXPECT_EQ(DecodeCGImageFromData(&converter_, junk, &decoded), 0);
    ImageConverter empty;
    InitImageConverter(&empty);
    EXPECT_EQ(EncodeWithBitmapImageRep(&empty, data), 0);
    EXPECT_EQ(GetConverterBitmapRep(&empty), nullptr);
}

TEST_F(WholeFileTest, APdfSourceIsItsFirstPage) {
    WriteTestPdf(tmp_ / "doc.pdf", TestPdfPages(2));
    Prepare(tmp_ / "doc.pdf", kImageTypeWebP, tmp_ / "doc.webp", 0.9);
    ASSERT_EQ(SaveConvertedImageFile(&converter_), 1);
    EXPECT_TRUE(std::filesystem::is_regular_file(tmp_ / "doc.webp"));
    EXPECT_FALSE(std::filesystem::exists(tmp_ / "doc"));
    auto bytes = plat::FileManager::contentsOfFile(tmp_ / "doc.webp");
    ASSERT_TRUE(bytes);
    int w = 0, h = 0;
    ASSERT_TRUE(WebPGetInfo(bytes->data(), bytes->size(), &w, &h));
    EXPECT_GT(w, h);  // the 200 x 100 point page
}

TEST_F(WholeFileTest, ThroughTheEngineEntry) {
    WriteMultiPageTiff(tmp_ / "scan.tif", kThreePages);
    ImageConversion record;
    record.sourceURL = tmp_ / "scan.tif";
    record.destinationURL = tmp_ / "out" / "scan.png";
    record.options.outputType = kImageTypePNG;
    ASSERT_EQ(ConvertImageFileFormat(&record), 1);
    EXPECT_EQ(FolderEntries(tmp_ / "out" / "scan"),
              (std::vector<std::string>{"scan 1.png", "scan 2.png", "scan.png"}));
    EXPECT_NEAR(Read(tmp_ / "out" / "scan" / "scan.png").dpi, 300.0, 0.5);

    record.destinationURL = tmp_ / "scan.pdf";
    record.options.outputType = kImageTypePDF;
    record.options.outputDPI = 72;
    ASSERT_EQ(ConvertImageFileFormat(&record), 1);
    auto pdf = plat::PdfDocument::Open((tmp_ / "scan.pdf").string());
    ASSERT_TRUE(pdf);
    ASSERT_EQ(pdf->GetPageCount(), 3);
    plat::PdfPageInfo info;
    ASSERT_TRUE(pdf->GetPageInfo(1, info));
    EXPECT_NEAR(info.mediaBox.width, 30.0, 0.01);  // 30 pixels at 72 dpi

    record.destinationURL = tmp_ / "scan.webp";
    record.options.outputType = kImageTypeWebP;
    record.options.quality = 1.0;
    ASSERT_EQ(ConvertImageFileFormat(&record), 1);
    EXPECT_EQ(FolderEntries(tmp_ / "scan"), (std::vector<std::string>{"scan 1.webp", "scan 2.webp", "scan.webp"}));
}

TEST_F(WholeFileTest, AFailedPageWritesNothingAndKeepsWhatWasThere) {
    WriteTiffWithBrokenLastPage(tmp_ / "scan.tif");
    // Over an existing PDF: it stays as it was, not replaced by the good pages.
    { std::ofstream(tmp_ / "old.pdf") << "the old document"; }
    std::filesystem::create_directory(tmp_ / "kept");
    { std::ofstream(tmp_ / "kept" / "kept.png") << "an earlier run"; }
    // The fault came and went between runs: each case runs several times.
    for (int run = 0; run < 3; ++run) {
        Prepare(tmp_ / "scan.tif", kImageTypePDF, tmp_ / "old.pdf");
        EXPECT_EQ(SaveConvertedImageFile(&converter_), 0);
        std::ifstream old(tmp_ / "old.pdf");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "the old document");

        // Numbered files: the pages written before the failure go again,
        // and so does the folder made for them; retries add nothing.
        Prepare(tmp_ / "scan.tif", kImageTypePNG, tmp_ / "photo.png");
        EXPECT_EQ(SaveConvertedImageFile(&converter_), 0);
        EXPECT_FALSE(std::filesystem::exists(tmp_ / "photo"));

        // A folder that was there keeps what it held before.
        Prepare(tmp_ / "scan.tif", kImageTypeJPEG, tmp_ / "kept.jpg");
        EXPECT_EQ(SaveConvertedImageFile(&converter_), 0);
        EXPECT_EQ(FolderEntries(tmp_ / "kept"), (std::vector<std::string>{"kept.png"}));

        // A multi-page TIFF output is one file too.
        Prepare(tmp_ / "scan.tif", kImageTypeTIFF, tmp_ / "pages.tif");
        EXPECT_EQ(SaveConvertedImageFile(&converter_), 0);
    }
    EXPECT_EQ(FolderEntries(tmp_.path()), (std::vector<std::string>{"kept", "old.pdf", "scan.tif"}));
}

TEST_F(WholeFileTest, ManyPagesEachWithItsOwnPixels) {
    // Pages told apart by their colour, read in one pass over the directory
    // chain, in both byte orders and as BigTIFF.
    std::vector<TiffPage> pages;
    for (int i = 0; i < 300; ++i) {
        pages.push_back({4 + i % 3, 3, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i / 256), 7, 72.0f});
    }
    for (const char* mode : {"w", "wb", "w8"}) {
        const std::filesystem::path path = tmp_ / (std::string("many-") + mode + ".tif");
        WriteMultiPageTiffWithMode(path, pages, mode);
        Prepare(path, kImageTypePNG, tmp_ / (std::string("many-") + mode + ".png"));
        ASSERT_EQ(SaveConvertedImageFile(&converter_), 1) << mode;
        const std::filesystem::path folder = tmp_ / (std::string("many-") + mode);
        ASSERT_EQ(FolderEntries(folder).size(), pages.size()) << mode;
        for (int i : {0, 1, 2, 150, 298, 299}) {
            const std::string name =
                std::string("many-") + mode + (i == 0 ? "" : " " + std::to_string(i)) + ".png";
            const Info info = Read(folder / name);
            ASSERT_EQ(info.width, pages[std::size_t(i)].width) << mode << " page " << i;
            EXPECT_EQ(info.rgba[0], pages[std::size_t(i)].red) << mode << " page " << i;
            EXPECT_EQ(info.rgba[1], pages[std::size_t(i)].green) << mode << " page " << i;
        }
    }
}
