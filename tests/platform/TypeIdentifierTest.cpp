#include "platform/TypeIdentifier.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/stat.h>

using plat::TypeIdentifier;

TEST(TypeIdentifier, ByExtensionIgnoringCase) {
    EXPECT_EQ(TypeIdentifier::forPath("/a/b/IMG_0001.JPG"), "public.jpeg");
    EXPECT_EQ(TypeIdentifier::forPath("x.jpeg"), "public.jpeg");
    EXPECT_EQ(TypeIdentifier::forPath("x.Tiff"), "public.tiff");
    EXPECT_EQ(TypeIdentifier::forPath("x.png"), "public.png");
    EXPECT_EQ(TypeIdentifier::forPath("x.gif"), "com.compuserve.gif");
    EXPECT_EQ(TypeIdentifier::forPath("x.jp2"), "public.jpeg-2000");
    EXPECT_EQ(TypeIdentifier::forPath("x.bmp"), "com.microsoft.bmp");
    EXPECT_EQ(TypeIdentifier::forPath("x.psd"), "com.adobe.photoshop-image");
    EXPECT_EQ(TypeIdentifier::forPath("x.exr"), "com.ilm.openexr-image");
    EXPECT_EQ(TypeIdentifier::forPath("x.tga"), "com.truevision.tga-image");
    EXPECT_EQ(TypeIdentifier::forPath("x.icns"), "com.apple.icns");
    EXPECT_EQ(TypeIdentifier::forPath("x.sgi"), "com.sgi.sgi-image");
    EXPECT_EQ(TypeIdentifier::forPath("x.pct"), "com.apple.pict");
    EXPECT_EQ(TypeIdentifier::forPath("x.pntg"), "com.apple.macpaint-image");
    EXPECT_EQ(TypeIdentifier::forPath("x.xbm"), "public.xbitmap-image");
    EXPECT_EQ(TypeIdentifier::forPath("x.qtif"), "com.apple.quicktime-image");
    EXPECT_EQ(TypeIdentifier::forPath("x.fax"), "public.fax");
    EXPECT_EQ(TypeIdentifier::forPath("x.fpx"), "com.kodak.flashpix.image");
    EXPECT_EQ(TypeIdentifier::forPath("x.ai"), "com.adobe.illustrator.ai-image");
    EXPECT_EQ(TypeIdentifier::forPath("x.ico"), "com.microsoft.ico");
    EXPECT_EQ(TypeIdentifier::forPath("x.pdf"), "com.adobe.pdf");
    EXPECT_EQ(TypeIdentifier::forPath("x.WebP"), "org.webmproject.webp");
    for (const char* raw : {"a.cr2", "a.NEF", "a.arw", "a.dng", "a.orf", "a.raf", "a.rw2", "a.pef"}) {
        EXPECT_EQ(TypeIdentifier::forPath(raw), "public.camera-raw-image") << raw;
    }
    EXPECT_EQ(TypeIdentifier::forPath("a.rtf"), "public.rtf");
    EXPECT_EQ(TypeIdentifier::forPath("a.htm"), "public.html");
    EXPECT_EQ(TypeIdentifier::forPath("a.txt"), "public.plain-text");
    EXPECT_EQ(TypeIdentifier::forPath("a.odt"), "org.oasis-open.opendocument.text");
    EXPECT_EQ(TypeIdentifier::forPath("a.docx"), "org.openxmlformats.wordprocessingml.document");
    EXPECT_EQ(TypeIdentifier::forPath("a.doc"), "com.microsoft.word.doc");
    EXPECT_EQ(TypeIdentifier::forPath("noextension"), "");
    EXPECT_EQ(TypeIdentifier::forPath("a.unknown"), "");
    EXPECT_EQ(TypeIdentifier::forPath(".jpg"), "") << "a hidden file's name is no extension";
    EXPECT_EQ(TypeIdentifier::forExtension(".png"), "public.png");
}

TEST(TypeIdentifier, BySignature) {
    auto of = [](std::string bytes) { return TypeIdentifier::forData(bytes.data(), bytes.size()); };
    EXPECT_EQ(of("\xFF\xD8\xFF\xE0 rest"), "public.jpeg");
    EXPECT_EQ(of("\x89PNG\r\n\x1a\n...."), "public.png");
    EXPECT_EQ(of("GIF89a...."), "com.compuserve.gif");
    EXPECT_EQ(of(std::string("II*\0\x08\0\0\0\0\0", 10)), "public.tiff");
    EXPECT_EQ(of(std::string("MM\0*\0\0\0\x08\0\0", 10)), "public.tiff");
    EXPECT_EQ(of(std::string("II*\0\x10\0\0\0CR\x02\0", 12)), "public.camera-raw-image");
    EXPECT_EQ(of(std::string("\0\0\0\x0CjP  \r\n\x87\n\0\0", 14)), "public.jpeg-2000");
    EXPECT_EQ(of("BM" + std::string(20, '\0')), "com.microsoft.bmp");
    EXPECT_EQ(of("8BPS\0\x01"), "com.adobe.photoshop-image");
    EXPECT_EQ(of("\x76\x2F\x31\x01\x02\0"), "com.ilm.openexr-image");
    EXPECT_EQ(of("icns\0\0\x10\0"), "com.apple.icns");
    EXPECT_EQ(of(std::string("\x01\xDA\x00\x01\x00\x02", 6)), "com.sgi.sgi-image");
    EXPECT_EQ(of(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16)), "org.webmproject.webp");
    EXPECT_EQ(of(std::string("\0\0\x01\0\x01\0\x10\x10", 8)), "com.microsoft.ico");
    EXPECT_EQ(of("%PDF-1.4\n"), "com.adobe.pdf");
    EXPECT_EQ(of("junk before\n%PDF-1.7\n"), "com.adobe.pdf");
    EXPECT_EQ(of("{\\rtf1\\ansi"), "public.rtf");
    EXPECT_EQ(of("  <!DOCTYPE HTML><html>"), "public.html");
    EXPECT_EQ(of("#define x_width 8\n#define x_height 8\n"), "public.xbitmap-image");
    std::string tga(40, '\0');
    tga += std::string("\0\0\0\0\0\0\0\0TRUEVISION-XFILE.\0", 26);
    EXPECT_EQ(of(tga), "com.truevision.tga-image");
    std::string pict(522, '\0');
    pict += std::string("\x00\x11\x02\xFF", 4);
    EXPECT_EQ(of(pict), "com.apple.pict");
    EXPECT_EQ(of("plain words"), "");
    EXPECT_EQ(of(""), "");
    EXPECT_EQ(TypeIdentifier::forData(nullptr, 10), "");
}

TEST(TypeIdentifier, FileContentsBeforeExtension) {
    ScratchFolder folder;
    std::ofstream(folder / "misnamed.png", std::ios::binary) << "\xFF\xD8\xFF\xE0 jpeg really";
    EXPECT_EQ(TypeIdentifier::forFileContents(folder / "misnamed.png"), "public.jpeg");
    std::ofstream(folder / "nosig.pntg", std::ios::binary) << std::string(700, '\0');
    EXPECT_EQ(TypeIdentifier::forFileContents(folder / "nosig.pntg"), "com.apple.macpaint-image");
    EXPECT_EQ(TypeIdentifier::forFileContents(folder / "missing.tif"), "public.tiff");
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(TypeIdentifier::forFileContents(folder / "pipe"), "") << "a FIFO is never opened";
}

TEST(TypeIdentifier, Conformance) {
    EXPECT_TRUE(TypeIdentifier::conformsTo("public.jpeg", "public.image"));
    EXPECT_TRUE(TypeIdentifier::conformsTo("public.jpeg", "public.data"));
    EXPECT_TRUE(TypeIdentifier::conformsTo("public.jpeg", "public.jpeg"));
    EXPECT_TRUE(TypeIdentifier::conformsTo("com.apple.crashreport", "public.plain-text"));
    EXPECT_TRUE(TypeIdentifier::conformsTo("public.html", "public.text"));
    EXPECT_FALSE(TypeIdentifier::conformsTo("com.adobe.pdf", "public.image"));
    EXPECT_FALSE(TypeIdentifier::conformsTo("public.image", "public.jpeg"));
    EXPECT_FALSE(TypeIdentifier::conformsTo("", "public.data"));
}
