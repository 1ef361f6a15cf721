#include "ConverterTestSupport.h"

#include "engine/ConvertImage.h"
#include "engine/ImageConverter.h"
#include "engine/ImageTypes.h"
#include "platform/PdfTestSupport.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include <unistd.h>

using namespace convtest;

namespace {

class ConverterTest : public ConversionTest {};

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST_F(ConverterTest, LifeCycleAndSetters) {
    ImageConverter c;
    InitImageConverter(&c);
    EXPECT_EQ(c.pageBatchSucceeded, 1);
    EXPECT_EQ(c.outputType, 0);
    EXPECT_EQ(GetConverterPixelsWide(&c), 0.0);
    EXPECT_EQ(GetConverterSourceDPIX(&c), 72.0);
    EXPECT_EQ(ConverterRepHasAlpha(&c), 0);

    SetConverterDPI(&c, 300, 150);  // the first value goes to the height
    EXPECT_EQ(c.dpiY, 300.0);
    EXPECT_EQ(c.dpiX, 150.0);

    SetConverterOrientationFromAngle(&c, -90);
    EXPECT_EQ(c.orientation, 8u);
    SetConverterOrientationFromAngle(&c, 45);
    EXPECT_EQ(c.orientation, 8u);
    SetConverterOrientationFromAngle(&c, 360);
    EXPECT_EQ(c.orientation, 1u);

    SetConverterOutput(&c, kImageTypePNG, dir / "out.png", 0.5);
    EXPECT_EQ(c.outputType, kImageTypePNG);
    EXPECT_EQ(c.destinationURL, dir / "out.png");
    EXPECT_EQ(GetUTIForTypeCode(&c), "public.png");
    SetConverterOutputType(&c, kImageTypeCMYKTIFF);
    EXPECT_EQ(GetUTIForTypeCode(&c), "public.tiff");

    c.pageBatchSucceeded = 0;
    ResetImageConverter(&c);
    EXPECT_EQ(c.pageBatchSucceeded, 1);
    EXPECT_TRUE(c.destinationURL.empty());
}

TEST_F(ConverterTest, WatermarkPartsAreCopiedSeparately) {
    WatermarkOptions w;
    w.text = "Proof";
    w.fontSize = 24;
    w.editorViewSize = {550, 300};
    w.textOrigin = {1, 2};
    w.imageOrigin = {3, 4};
    w.imageOpacity = 0.5;
    w.imageScale = 0.25;
    w.image = SolidImage(4, 4, {0, 0, 255, 255});

    ImageConverter text;
    SetWatermarkOptions(&text, w, kWatermarkText);
    EXPECT_EQ(text.textWatermarkOn, 1);
    EXPECT_EQ(text.imageWatermarkOn, 0);
    EXPECT_EQ(text.watermark.text, "Proof");
    EXPECT_EQ(text.watermark.fontSize, 24);
    EXPECT_EQ(text.watermark.editorViewSize, (KSMSize{550, 300}));
    EXPECT_FALSE(text.watermark.image);

    ImageConverter image;
    SetWatermarkOptions(&image, w, kWatermarkImage);
    EXPECT_EQ(image.imageWatermarkOn, 1);
    EXPECT_EQ(image.textWatermarkOn, 0);
    EXPECT_TRUE(image.watermark.image);
    EXPECT_EQ(image.watermark.imageOrigin, (KSMPoint{3, 4}));
    EXPECT_EQ(image.watermark.imageScale, 0.25);
    EXPECT_TRUE(image.watermark.text.empty());
}

TEST_F(ConverterTest, LoadReportsSizeResolutionAndAlpha) {
    ASSERT_TRUE(WriteImage(dir / "a.png", SolidImage(40, 30, {1, 2, 3, 128}, true), "public.png"));
    ASSERT_TRUE(WriteImage(dir / "b.jpg", SolidImage(64, 48, {200, 100, 50, 255}), "public.jpeg",
                           Resolution(300, 300)));

    ImageConverter png;
    ASSERT_EQ(LoadConverterSource(&png, dir / "a.png"), 1);
    EXPECT_EQ(GetConverterPixelsWide(&png), 40.0);
    EXPECT_EQ(GetConverterPixelsHigh(&png), 30.0);
    EXPECT_EQ(ConverterRepHasAlpha(&png), 1);
    EXPECT_EQ(GetConverterSourceTypeCode(&png), kImageTypePNG);
    EXPECT_EQ(GetSourceTypeCodeFromImageSource(&png), kImageTypePNG);

    ImageConverter jpeg;
    ASSERT_EQ(LoadConverterSource(&jpeg, dir / "b.jpg"), 1);
    EXPECT_NEAR(GetConverterSourceDPIX(&jpeg), 300.0, 1e-6);
    EXPECT_NEAR(GetConverterSourceDPIY(&jpeg), 300.0, 1e-6);
    EXPECT_NEAR(GetConverterRepWidthPoints(&jpeg), 64.0 / 300.0 * 72.0, 1e-6);
    EXPECT_EQ(ConverterRepHasAlpha(&jpeg), 0);
}

TEST_F(ConverterTest, LoadFailsCleanlyOnMissingAndBrokenFiles) {
    ImageConverter c;
    EXPECT_EQ(LoadConverterSource(&c, dir / "missing.jpg"), 0);
    EXPECT_EQ(GetConverterPixelsWide(&c), 0.0);
    WriteBytes(dir / "broken.jpg", std::string("\xff\xd8\xff\xe0 not really a jpeg", 22));
    EXPECT_EQ(LoadConverterSource(&c, dir / "broken.jpg"), 0);
    WriteBytes(dir / "broken.webp", "RIFF\x10\0\0\0WEBPVP8 garbage");
    EXPECT_EQ(LoadConverterSource(&c, dir / "broken.webp"), 0);
    EXPECT_FALSE(c.deleteSourceOnRelease);
}

TEST_F(ConverterTest, WebPSourcesConvertWhateverTheExtensionCase) {
    ASSERT_TRUE(WriteImage(dir / "photo.webp", MarkedImage(40, 30, 10), "org.webmproject.webp"));
    std::filesystem::copy_file(dir / "photo.webp", dir / "PHOTO.WEBP");
    for (const char* name : {"photo.webp", "PHOTO.WEBP"}) {
        ImageConversion record = SameSizeRecord(dir / name, dir / (std::string(name) + ".png"), kImageTypePNG);
        ASSERT_EQ(ConvertImageWithOptions(&record), 1) << name;
        const Decoded out = Decode(dir / (std::string(name) + ".png"));
        EXPECT_EQ(out.width, 40);
        EXPECT_EQ(out.height, 30);
        EXPECT_TRUE(Near(out.at(2, 2), {255, 0, 0, 255}, 40));
    }
}

TEST_F(ConverterTest, CameraPortraitComesOutUpright) {
    // Stored 60 × 40 landscape with orientation 6: the camera was turned, the
    // picture is 40 × 60 portrait and the stored top left is its top right.
    plat::PropertyDict properties;
    properties.set(plat::prop::Orientation, 6);
    ASSERT_TRUE(WriteImage(dir / "portrait.jpg", MarkedImage(60, 40, 12), "public.jpeg", properties));
    ASSERT_EQ(Decode(dir / "portrait.jpg").properties.integer(plat::prop::Orientation).value_or(0), 6);

    ImageConversion record = SameSizeRecord(dir / "portrait.jpg", dir / "upright.jpg", kImageTypeJPEG);
    record.options.preserveMetadata = 1;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded out = Decode(dir / "upright.jpg");
    EXPECT_EQ(out.width, 40);
    EXPECT_EQ(out.height, 60);
    EXPECT_EQ(out.properties.integer(plat::prop::Orientation).value_or(1), 1);
    EXPECT_TRUE(Near(out.at(40 - 4, 4), {255, 0, 0, 255}, 60));
    EXPECT_TRUE(Near(out.at(4, 4), {128, 128, 128, 255}, 30));

    // Shrunk on load and resized, it stays upright as well.
    ImageConversion small = SameSizeRecord(dir / "portrait.jpg", dir / "small.png", kImageTypePNG);
    PixelsResize(small, 0, 15, 1, true);
    ASSERT_EQ(ConvertImageWithOptions(&small), 1);
    const Decoded tiny = Decode(dir / "small.png");
    EXPECT_EQ(tiny.width, 10);
    EXPECT_EQ(tiny.height, 15);
    EXPECT_GT(tiny.at(9, 0)[0], 180);
    EXPECT_LT(tiny.at(0, 14)[0], 160);
}

TEST_F(ConverterTest, ReturnImageRendersWithoutWriting) {
    ASSERT_TRUE(WriteImage(dir / "src.png", MarkedImage(80, 60, 10), "public.png"));
    ImageConversion record = SameSizeRecord(dir / "src.png", {}, kImageTypeJPEG);
    record.returnImage = 1;
    PixelsResize(record, 40, 0, 0, true);
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    ASSERT_TRUE(record.resultImage);
    EXPECT_EQ(record.resultImage->width(), 40);
    EXPECT_EQ(record.resultImage->height(), 30);
    // The image can be read more than once.
    EXPECT_FALSE(record.resultImage->copyRGBA8().empty());
    EXPECT_FALSE(record.resultImage->copyRGBA8().empty());
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST_F(ConverterTest, ShrinkOnLoadKeepsTheRequestedSizeAndContent) {
    // Left half red, right half blue; shrunk by 8 on load, then resized.
    ASSERT_TRUE(WriteImage(dir / "big.jpg",
                           MakeImage(1600, 1200, [](int x, int) -> RGBA {
                               return x < 800 ? RGBA{255, 0, 0, 255} : RGBA{0, 0, 255, 255};
                           }),
                           "public.jpeg"));
    ImageConversion record = SameSizeRecord(dir / "big.jpg", dir / "small.jpg", kImageTypeJPEG);
    PixelsResize(record, 150, 150, 2, true);
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const Decoded out = Decode(dir / "small.jpg");
    EXPECT_EQ(out.width, 150);
    EXPECT_EQ(out.height, 112);  // 112.5 rounds half to even
    EXPECT_TRUE(Near(out.at(10, 56), {255, 0, 0, 255}, 30));
    EXPECT_TRUE(Near(out.at(140, 56), {0, 0, 255, 255}, 30));
}

TEST_F(ConverterTest, FailuresReturnZeroAndWriteNothing) {
    ASSERT_TRUE(WriteImage(dir / "src.png", SolidImage(20, 20, {9, 9, 9, 255}), "public.png"));

    EXPECT_EQ(ConvertImageWithOptions(nullptr), 0);

    ImageConversion noDestination = SameSizeRecord(dir / "src.png", {}, kImageTypePNG);
    EXPECT_EQ(ConvertImageWithOptions(&noDestination), 0);

    ImageConversion missing = SameSizeRecord(dir / "nothing.png", dir / "out1.png", kImageTypePNG);
    EXPECT_EQ(ConvertImageWithOptions(&missing), 0);

    WriteBytes(dir / "garbage.png", "\x89PNG\r\n\x1a\n but then nothing useful");
    ImageConversion unreadable = SameSizeRecord(dir / "garbage.png", dir / "out2.png", kImageTypePNG);
    EXPECT_EQ(ConvertImageWithOptions(&unreadable), 0);

    ImageConversion impossible = SameSizeRecord(dir / "src.png", dir / "out3.png", kImageTypePNG);
    PixelsResize(impossible, 500000, 500000, 4, false);
    EXPECT_EQ(ConvertImageWithOptions(&impossible), 0);

    ImageConversion nothingToMake = SameSizeRecord(dir / "src.png", dir / "out4.png", kImageTypePNG);
    PixelsResize(nothingToMake, 10, 10, 0, true);  // both sides with a one-side option
    EXPECT_EQ(ConvertImageWithOptions(&nothingToMake), 0);

    ImageConversion noFolder = SameSizeRecord(dir / "src.png", dir / "no" / "such" / "out5.png", kImageTypePNG);
    EXPECT_EQ(ConvertImageWithOptions(&noFolder), 0);

    const std::vector<std::string> expected = {"garbage.png", "src.png"};
    std::vector<std::string> entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, expected);
}

TEST_F(ConverterTest, UnwritableFolderLeavesNoTraceAndKeepsTheOldFile) {
    ASSERT_TRUE(WriteImage(dir / "src.png", SolidImage(20, 20, {9, 9, 9, 255}), "public.png"));
    const std::filesystem::path locked = dir / "locked";
    std::filesystem::create_directory(locked);
    WriteBytes(locked / "out.png", "previous contents");
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (::access(locked.c_str(), W_OK) == 0) GTEST_SKIP() << "running with permission to write anywhere";

    ImageConversion record = SameSizeRecord(dir / "src.png", locked / "out.png", kImageTypePNG);
    EXPECT_EQ(ConvertImageWithOptions(&record), 0);
    EXPECT_EQ(ReadBytes(locked / "out.png"), "previous contents");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(locked), {}), 1);
}

TEST_F(ConverterTest, DestinationThatIsAFolderIsNotTouched) {
    ASSERT_TRUE(WriteImage(dir / "src.png", SolidImage(20, 20, {9, 9, 9, 255}), "public.png"));
    std::filesystem::create_directory(dir / "taken.png");
    WriteBytes(dir / "taken.png" / "inside", "kept");
    ImageConversion record = SameSizeRecord(dir / "src.png", dir / "taken.png", kImageTypePNG);
    EXPECT_EQ(ConvertImageWithOptions(&record), 0);
    EXPECT_EQ(ReadBytes(dir / "taken.png" / "inside"), "kept");
    std::vector<std::string> entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"src.png", "taken.png"}));
}

TEST_F(ConverterTest, FailedConversionKeepsAnExistingDestination) {
    ASSERT_TRUE(WriteImage(dir / "src.png", SolidImage(20, 20, {9, 9, 9, 255}), "public.png"));
    WriteBytes(dir / "out.png", "previous contents");
    ImageConversion record = SameSizeRecord(dir / "src.png", dir / "out.png", kImageTypePNG);
    PixelsResize(record, 0, 0, 4, false);
    EXPECT_EQ(ConvertImageWithOptions(&record), 0);
    EXPECT_EQ(ReadBytes(dir / "out.png"), "previous contents");
}

TEST_F(ConverterTest, FileAttributesAreCarriedOver) {
    ASSERT_TRUE(WriteImage(dir / "src.png", SolidImage(20, 20, {9, 9, 9, 255}), "public.png"));
    ImageConversion record = SameSizeRecord(dir / "src.png", dir / "out.jpg", kImageTypeJPEG);
    plat::FileAttributes attributes;
    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1500000000));
    attributes.modificationDate = when;
    record.fileAttributes = attributes;
    ASSERT_EQ(ConvertImageWithOptions(&record), 1);
    const auto written = std::filesystem::last_write_time(dir / "out.jpg");
    const auto asSystem = std::chrono::file_clock::to_sys(written);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(asSystem.time_since_epoch()).count(), 1500000000);
}

TEST_F(ConverterTest, WholeFileConversionTakesItsSettingsFromTheRecord) {
    ASSERT_TRUE(WriteImage(dir / "src.png", SolidImage(30, 20, {50, 60, 70, 255}), "public.png", Resolution(96, 96)));
    ImageConversion record;
    record.sourceURL = dir / "src.png";
    record.destinationURL = dir / "out.tif";
    record.options.outputType = kImageTypeTIFF;
    record.options.outputDPI = 200;
    ASSERT_EQ(ConvertImageFileFormat(&record), 1);
    Decoded d = Decode(dir / "out.tif");
    EXPECT_EQ(d.width, 30);
    EXPECT_NEAR(d.properties.number(plat::prop::DPIWidth).value_or(0), 200, 0.5);

    // Resolution 0 keeps the source's.
    record.destinationURL = dir / "same.tif";
    record.options.outputDPI = 0;
    ASSERT_EQ(ConvertImageFileFormat(&record), 1);
    d = Decode(dir / "same.tif");
    EXPECT_NEAR(d.properties.number(plat::prop::DPIWidth).value_or(0), 96, 0.5);

    record.destinationURL.clear();
    EXPECT_EQ(ConvertImageFileFormat(&record), 0);
    record.destinationURL = dir / "x.tif";
    record.sourceURL = dir / "missing.png";
    EXPECT_EQ(ConvertImageFileFormat(&record), 0);
    EXPECT_EQ(ConvertImageFileFormat(nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.tif"));
}

TEST_F(ConverterTest, ConversionsRunOnSeveralThreadsAtOnce) {
    ASSERT_TRUE(WriteImage(dir / "src.jpg", MarkedImage(400, 300, 60), "public.jpeg"));
    constexpr int kThreads = 6;
    std::vector<int> results(kThreads, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ImageConversion record =
                SameSizeRecord(dir / "src.jpg", dir / ("out" + std::to_string(i) + ".png"), kImageTypePNG);
            PixelsResize(record, 200, 200, 2, true);
            record.rotationAngle = (i % 2) ? 90 : 0;
            record.drawImageWatermark = 1;
            record.watermark.image = SolidImage(20, 20, {0, 0, 255, 255});
            record.watermark.editorViewSize = {550, 412.5};
            record.watermark.imageOrigin = {270, 200};
            record.watermark.imageEndPoint = {290, 220};
            record.watermark.imageOpacity = 1;
            record.watermark.imageScale = 1;
            results[i] = ConvertImageWithOptions(&record);
        });
    }
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_EQ(results[i], 1) << i;
        const Decoded d = Decode(dir / ("out" + std::to_string(i) + ".png"));
        EXPECT_EQ(d.width, (i % 2) ? 150 : 200);
        EXPECT_EQ(d.height, (i % 2) ? 200 : 150);
    }
}

TEST_F(ConverterTest, PdfLockedOnlyWhenItNeedsAPassword) {
    using vantrell_test::TestPdfPassword;
    const auto pages = vantrell_test::TestPdfPages(1);
    vantrell_test::WriteTestPdf(dir / "plain.pdf", pages);
    const TestPdfPassword ownerOnly{"", "owner"};
    vantrell_test::WriteTestPdf(dir / "owner.pdf", pages, &ownerOnly);
    const TestPdfPassword both{"user", "owner"};
    vantrell_test::WriteTestPdf(dir / "user.pdf", pages, &both);

    ImageConverter c;
    ASSERT_EQ(OpenConverterPDFDocument(&c, dir / "plain.pdf"), 1);
    EXPECT_EQ(IsConverterPDFEncrypted(&c), 0);
    EXPECT_EQ(IsConverterPDFLocked(&c), 0);

    // Encrypted with permissions only: it opens without a password.
    InitImageConverter(&c);
    ASSERT_EQ(OpenConverterPDFDocument(&c, dir / "owner.pdf"), 1);
    EXPECT_EQ(IsConverterPDFEncrypted(&c), 1);
    EXPECT_EQ(IsConverterPDFLocked(&c), 0);

    InitImageConverter(&c);
    ASSERT_EQ(OpenConverterPDFDocument(&c, dir / "user.pdf"), 1);
    EXPECT_EQ(IsConverterPDFEncrypted(&c), 1);
    EXPECT_EQ(UnlockConverterPDF(&c), 0);  // no password
    EXPECT_EQ(IsConverterPDFLocked(&c), 1);
    SetConverterPassword(&c, "wrong");
    EXPECT_EQ(IsConverterPDFLocked(&c), 1);
    SetConverterPassword(&c, "user");
    EXPECT_EQ(IsConverterPDFLocked(&c), 0);
}
