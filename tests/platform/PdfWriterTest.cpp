#include "ImageTestSupport.h"

#include "platform/ImageDestination.h"
#include "platform/ImageSource.h"
#include "platform/PdfWriter.h"
#include "platform/PropertyDict.h"

#include <algorithm>

using namespace imagetest;

TEST(PdfWriter, JpegDataIsEmbeddedUnchanged) {
    TempFolder folder;
    auto encoder = plat::ImageDestination::CreateWithData("public.jpeg");
    encoder->addImage(MakeTestImage(144, 72));
    ASSERT_TRUE(encoder->finalize());
    const std::vector<std::uint8_t> jpeg = encoder->data();

    plat::PdfWriter writer;
    writer.setTitle("PDF File");
    ASSERT_TRUE(writer.addJpegPage(jpeg, 144, 72, 3, 72.0, 72.0));
    EXPECT_FALSE(writer.addJpegPage(jpeg, 144, 72, 2, 72.0, 72.0));
    EXPECT_FALSE(writer.addImagePage(nullptr, 72.0, 72.0));
    EXPECT_EQ(writer.pageCount(), 1u);
    ASSERT_TRUE(writer.write(folder / "photo.pdf"));
    const auto pdf = ReadFile(folder / "photo.pdf");
    EXPECT_NE(std::search(pdf.begin(), pdf.end(), jpeg.begin(), jpeg.end()), pdf.end());
    const std::string text(pdf.begin(), pdf.end());
    EXPECT_NE(text.find("/DCTDecode"), std::string::npos);
    EXPECT_NE(text.find("PDF File"), std::string::npos);

    auto source = plat::ImageSource::Open(folder / "photo.pdf");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->typeIdentifier(), "com.adobe.pdf");
    auto page = source->createImage(0);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->width(), 144);
    EXPECT_NEAR(PixelAt(*page, 5, 5)[0], 255, 30);
}

TEST(PdfWriter, NoPagesNoFile) {
    TempFolder folder;
    plat::PdfWriter writer;
    EXPECT_TRUE(writer.data().empty());
    EXPECT_FALSE(writer.write(folder / "empty.pdf"));
    EXPECT_EQ(folder.entryCount(), 0u);
}

TEST(PropertyDict, TypedLookupsAndNesting) {
    plat::PropertyDict dict;
    dict.set("int", 5);
    dict.set("real", 2.5);
    dict.set("flag", true);
    dict.set("text", "42");
    dict.dictForUpdate("{TIFF}").set("Make", "Canon");
    EXPECT_EQ(dict.integer("int"), 5);
    EXPECT_EQ(dict.number("int"), 5.0);
    EXPECT_EQ(dict.integer("real"), 3);  // rounded
    EXPECT_EQ(dict.boolean("flag"), true);
    EXPECT_EQ(dict.number("flag"), 1.0);
    EXPECT_EQ(dict.integer("text"), 42);
    EXPECT_FALSE(dict.number("text"));
    EXPECT_FALSE(dict.string("int"));
    EXPECT_FALSE(dict.dict("int"));
    ASSERT_TRUE(dict.dict("{TIFF}"));
    EXPECT_EQ(dict.dict("{TIFF}")->string("Make"), "Canon");
    plat::PropertyDict copy = dict;
    EXPECT_EQ(copy, dict);
    copy.dictForUpdate("{TIFF}").set("Model", "R5");
    EXPECT_FALSE(dict.dict("{TIFF}")->contains("Model"));
    dict.set("int", "now text");  // replacing changes the kind
    EXPECT_FALSE(dict.integer("int"));
    dict.erase("int");
    EXPECT_FALSE(dict.contains("int"));
    EXPECT_EQ(plat::PropertyValue(3.0).asText(), "3");
    EXPECT_EQ(plat::PropertyValue(0.25).asText(), "0.25");
}
