#include "engine/ImageConversion.h"
#include "engine/ImageTypes.h"
#include "platform/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

TEST(ImageTypes, ShortAndLongListsInOrder) {
    const std::pair<const char*, int> shortList[] = {
        {"public.jpeg", 4},        {"public.tiff", 10},          {"public.png", 7},
        {"com.compuserve.gif", 2}, {"public.jpeg-2000", 3},      {"com.microsoft.bmp", 11},
        {"com.adobe.photoshop-image", 1}, {"com.ilm.openexr-image", 5}, {"com.truevision.tga-image", 9},
        {"com.apple.icns", 6}};
    for (const auto& [uti, code] : shortList) {
        EXPECT_EQ(GetImageTypeCodeForUTI(uti, true), code) << uti;
        EXPECT_EQ(GetImageTypeCodeForUTI(uti, false), code) << uti;
    }
    const std::pair<const char*, int> longOnly[] = {
        {"com.sgi.sgi-image", 12},       {"public.camera-raw-image", 22},  {"com.apple.pict", 14},
        {"com.apple.macpaint-image", 16}, {"public.xbitmap-image", 19},    {"com.apple.quicktime-image", 17},
        {"public.fax", 21},              {"com.kodak.flashpix.image", 20}, {"com.adobe.illustrator.ai-image", 15},
        {"com.microsoft.ico", 18}};
    for (const auto& [uti, code] : longOnly) {
        EXPECT_EQ(GetImageTypeCodeForUTI(uti, false), code) << uti;
        EXPECT_EQ(GetImageTypeCodeForUTI(uti, true), 0) << uti;
    }
    // Output-only formats and unknown identifiers are never recognised.
    for (const char* uti : {"com.adobe.pdf", "org.webmproject.webp", "public.image", ""}) {
        EXPECT_EQ(GetImageTypeCodeForUTI(uti, false), 0) << uti;
    }
}

TEST(ImageTypes, MatchingIsExactAndCaseSensitive) {
    EXPECT_EQ(GetImageTypeCodeForUTI("Public.JPEG", false), 0);
    EXPECT_EQ(GetImageTypeCodeForUTI("public.jpeg ", false), 0);
    EXPECT_EQ(GetImageTypeCodeForUTI("public.jpe", false), 0);
    EXPECT_EQ(GetImageTypeCodeForUTI("COM.SGI.SGI-IMAGE", false), 0);
}

TEST(ImageTypes, CodeForURLUsesTheShortList) {
    ScratchFolder folder;
    EXPECT_EQ(GetImageTypeCodeForURL("/photos/a.JPG"), 4);
    EXPECT_EQ(GetImageTypeCodeForURL("/photos/a.tiff"), 10);
    EXPECT_EQ(GetImageTypeCodeForURL("/photos/a.sgi"), 0) << "SGI is on the long list only";
    EXPECT_EQ(GetImageTypeCodeForUTI("com.sgi.sgi-image", false), 12);
    EXPECT_EQ(GetImageTypeCodeForURL("/photos/a.nef"), 0);
    EXPECT_EQ(GetImageTypeCodeForURL("/photos/a.pdf"), 0);
    EXPECT_EQ(GetImageTypeCodeForURL(""), 0);
    // Without a known extension the file's signature decides.
    std::ofstream(folder / "noextension", std::ios::binary) << "\x89PNG\r\n\x1a\n rest";
    EXPECT_EQ(GetImageTypeCodeForURL(folder / "noextension"), 7);
    EXPECT_EQ(GetImageTypeCodeForURL(folder / "missing"), 0);
    std::filesystem::create_directory(folder / "album.jpg");
    EXPECT_EQ(GetImageTypeCodeForURL(folder / "album.jpg"), 0);
}

TEST(ImageTypes, OutputIdentifiers) {
    for (int code : {0, 4, 24, 25, 99, -1}) EXPECT_EQ(GetOutputUTIForTypeCode(code), "public.jpeg") << code;
    for (int code : {10, 13, 23}) {
        EXPECT_EQ(GetOutputUTIForTypeCode(code), "public.tiff") << code;
        EXPECT_EQ(CreateBitmapRepProperties(code, 0.8), (BitmapRepProperties{5, std::nullopt})) << code;
        EXPECT_EQ(GetBitmapFileTypeForCode(code), BitmapFileType::TIFF);
    }
    EXPECT_EQ(GetOutputUTIForTypeCode(8), "com.adobe.pdf");
    EXPECT_EQ(GetOutputUTIForTypeCode(22), "public.camera-raw-image");
    // Every recognised identifier encodes back to itself.
    for (int code = 1; code <= 22; ++code) {
        if (code == 8 || code == 13) continue;
        EXPECT_EQ(GetImageTypeCodeForUTI(GetOutputUTIForTypeCode(code), false), code) << code;
    }
}

TEST(ImageTypes, RuleSets) {
    auto members = [](int (*rule)(std::int32_t)) {
        std::vector<int> codes;
        for (int code = -2; code < 40; ++code) {
            if (rule(code)) codes.push_back(code);
        }
        return codes;
    };
    EXPECT_EQ(members(TypeKeepsMetadata), (std::vector<int>{1, 2, 4, 7, 10, 13}));
    EXPECT_EQ(members(TypeSupportedByBitmapImageRep), (std::vector<int>{2, 3, 4, 7, 10, 11, 13}));
    EXPECT_EQ(members(TypeSupportsAlpha), (std::vector<int>{2, 3, 7, 10}));
    EXPECT_EQ(members(TypeDeclaresAlpha), (std::vector<int>{2, 3, 7}));
    EXPECT_EQ(members(TypeUsesLZWCompression), (std::vector<int>{10, 13, 23}));
    EXPECT_EQ(members(TypeUsesLossyQuality), (std::vector<int>{3, 4}));

    EXPECT_EQ(GetBitmapFileTypeForCode(2), BitmapFileType::GIF);
    EXPECT_EQ(GetBitmapFileTypeForCode(3), BitmapFileType::JPEG2000);
    EXPECT_EQ(GetBitmapFileTypeForCode(7), BitmapFileType::PNG);
    EXPECT_EQ(GetBitmapFileTypeForCode(11), BitmapFileType::BMP);
    for (int code : {0, 1, 4, 5, 8, 12, 24, 100}) EXPECT_EQ(GetBitmapFileTypeForCode(code), BitmapFileType::JPEG);

    EXPECT_EQ(CreateBitmapRepProperties(4, 0.7), (BitmapRepProperties{std::nullopt, 0.7}));
    EXPECT_EQ(CreateBitmapRepProperties(3, 0.25), (BitmapRepProperties{std::nullopt, 0.25}));
    for (int code : {0, 2, 7, 11, 24}) EXPECT_FALSE(CreateBitmapRepProperties(code, 0.5)) << code;
}

TEST(ImageTypes, ExtensionsFromTheResource) {
    // The test environment points VANTRELL_RESOURCES at the repository's resources.
    ASSERT_NE(std::getenv("VANTRELL_RESOURCES"), nullptr);
    EXPECT_EQ(GetImageExtensionForType(4), "jpg");
    EXPECT_EQ(GetImageExtensionForType(7), "png");
    EXPECT_EQ(GetImageExtensionForType(10), "tif");
    EXPECT_EQ(GetImageExtensionForType(24), "webp");
    for (int code = 0; code < kImageTypeCodeCount; ++code) {
        EXPECT_FALSE(GetImageExtensionForType(code).empty()) << code;
    }
    EXPECT_EQ(GetImageExtensionForType(25), "");
    EXPECT_EQ(GetImageExtensionForType(1000), "");
    EXPECT_EQ(GetImageExtensionForType(-1), "");
}

TEST(ImageTypes, ExtensionsWithoutOrWithABrokenResource) {
    ScratchFolder folder;
    ScopedEnvironment env("VANTRELL_RESOURCES", folder.path().c_str());
    for (int code = 0; code < kImageTypeCodeCount; ++code) EXPECT_EQ(GetImageExtensionForType(code), "") << code;
    std::ofstream(folder / "ImageExtension.plist")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><string>jpg</string></dict></plist>";
    EXPECT_EQ(GetImageExtensionForType(0), "");
    std::ofstream(folder / "ImageExtension.plist", std::ios::trunc) << "garbage";
    EXPECT_EQ(GetImageExtensionForType(0), "");
}

TEST(ImageTypes, TextDocumentTypes) {
    const std::pair<const char*, int> table[] = {
        {"public.rtf", 1}, {"com.apple.rtfd", 2}, {"public.html", 3}, {"public.text", 4},
        {"public.plain-text", 5}, {"com.apple.log", 5}, {"com.apple.crashreport", 5},
        {"com.apple.panicreport", 5}, {"com.apple.hangreport", 5}, {"com.apple.spinreport", 5},
        {"com.apple.aslquery", 5}, {"com.apple.webarchive", 6}, {"org.oasis-open.opendocument.text", 7},
        {"org.oasis.opendocument.text", 7}, {"org.oasis-open.opendocument", 7},
        {"org.oasis-open.opendocument.text-template", 8}, {"org.openoffice.text", 9},
        {"org.openoffice.text-template", 10}, {"org.openxmlformats.wordprocessingml.document", 11},
        {"com.microsoft.word.wordml", 12}, {"com.microsoft.word.doc", 13},
        {"com.apple.traditional-mac-plain-text", 14}};
    for (const auto& [uti, type] : table) EXPECT_EQ(GetTextDocumentTypeForUTI(uti), type) << uti;
    EXPECT_EQ(GetTextDocumentTypeForUTI(""), 0);
    EXPECT_EQ(GetTextDocumentTypeForUTI("public.RTF"), 0);
    EXPECT_EQ(GetTextDocumentTypeForUTI("public.jpeg"), 0);
}

TEST(ImageConversion, RecordOwnsItsValuesAndCopiesSafely) {
    ImageConversion record;
    record.sourceURL = "/in/a.jpg";
    record.options.outputType = kImageTypePNG;
    record.options.password = "secret";
    record.watermark.text = "© me";
    record.fileAttributes = plat::FileAttributes{};
    ImageConversion copy = record;
    record.watermark.text.clear();
    record.sourceURL.clear();
    EXPECT_EQ(copy.watermark.text, "© me");
    EXPECT_EQ(copy.sourceURL, "/in/a.jpg");
    EXPECT_EQ(copy.options.password, "secret");
    EXPECT_TRUE(copy.destinationURL.empty());
    EXPECT_FALSE(copy.resultImage);
    EXPECT_FALSE(copy.progress.isCancelled());
    copy.progress.report(3);  // no target: nothing happens

    struct Target : ProgressTarget {
        std::vector<std::int64_t> seen;
        bool cancelled = false;
        void reportProgress(std::int64_t value) override { seen.push_back(value); }
        bool isConversionCancelled() override { return cancelled; }
    };
    auto target = std::make_shared<Target>();
    copy.progress.target = target;
    copy.progress.selector = &ProgressTarget::reportProgress;
    copy.progress.report(6);
    target->cancelled = true;
    EXPECT_TRUE(copy.progress.isCancelled());
    EXPECT_EQ(target->seen, (std::vector<std::int64_t>{6}));
}
