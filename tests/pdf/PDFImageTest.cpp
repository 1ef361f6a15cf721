#include "pdf/PDFImage.h"
#include "pdf/PDFImageExtractor.h"

#include "PdfTestSupport.h"
#include "platform/Image.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

using namespace pdftest;

namespace {

// A document whose page resources hold the objects under /X0, /X1 ...
// (streams given as dictionary entries and data) and, optionally, a
// ColorSpace dictionary.
class ImageFixture {
public:
    struct Stream {
        std::string entries;
        std::string data;
    };
    explicit ImageFixture(const std::vector<Stream>& streams, const std::string& colorSpaces = {},
                          std::vector<Stream> extra = {}) {
        RawPdf pdf;
        for (const Stream& s : extra) pdf.AddStream(s.entries, s.data);  // objects 1, 2 ... for references
        std::string xobjects;
        for (std::size_t i = 0; i < streams.size(); ++i) {
            xobjects += "/X" + std::to_string(i) + " " +
                        std::to_string(pdf.AddStream("/Type /XObject /Subtype /Image " + streams[i].entries,
                                                     streams[i].data)) +
                        " 0 R ";
        }
        std::string resources = "<< /XObject << " + xobjects + ">>";
        if (!colorSpaces.empty()) resources += " /ColorSpace " + colorSpaces;
        resources += " >>";
        const std::string bytes = BuildDocument(pdf, {{resources, ""}});
        file = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end()));
        if (file) {
            extractor.objects = nullptr;
            extractor.pageColorSpaces =
                file->GetPageAttribute(1, "Resources").GetDictionaryObject("ColorSpace");
        }
    }

    plat::PdfObject Object(std::size_t i) const {
        return file->GetPageAttribute(1, "Resources").GetDictionaryObject("XObject").GetDictionaryObject(
            "X" + std::to_string(i));
    }

    // The image's pixels as RGBA; empty when no image came out.
    std::vector<std::uint8_t> Pixels(std::size_t i, plat::ImageRef* out = nullptr) {
        const plat::PdfObject object = Object(i);
        plat::ImageRef image = CreateImageFromPDFStream(&extractor, object.GetStreamDictionary(), object);
        if (out) *out = image;
        return image ? image->copyRGBA8() : std::vector<std::uint8_t>{};
    }

    std::unique_ptr<plat::PdfObjectFile> file;
    PDFImageExtractor extractor;
};

std::vector<std::uint8_t> Rgba(std::initializer_list<std::array<int, 4>> pixels) {
    std::vector<std::uint8_t> v;
    for (const auto& p : pixels)
        for (int c : p) v.push_back(static_cast<std::uint8_t>(c));
    return v;
}

void ExpectPixels(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& expected, int tolerance,
                  const std::string& what) {
    ASSERT_EQ(got.size(), expected.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(int(got[i]), int(expected[i]), tolerance) << what << " byte " << i;
    }
}

std::string SrgbProfile() {
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::string bytes(size, '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

TEST(PDFImage, DeviceSpacesBitDepthsAndDecodeArrays) {
    ImageFixture f({
        {"/Width 2 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8", std::string("\xFF\x00\x00\x00\x00\xFF", 6)},
        {"/Width 3 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 1", std::string("\x40", 1)},
        {"/Width 3 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0]", std::string("\x40", 1)},
        {"/Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 2", std::string("\x40\xC0", 2)},
        {"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 16", std::string("\x80\x00", 2)},
        {"/Width 1 /Height 1 /ColorSpace /DeviceRGB /Decode [1 0 0 1 0.5 1]", std::string("\x00\x00\x00", 3)},
        {"/Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8", std::string("\x10", 1)},
        {"/Width 1 /Height 1 /ImageMask true", std::string("\x00", 1)},
        {"/Width 1 /Height 1 /ColorSpace /DeviceCMYK", std::string("\x00\x00\x00\x00", 4)},
    });
    ASSERT_TRUE(f.file);
    ExpectPixels(f.Pixels(0), Rgba({{255, 0, 0, 255}, {0, 0, 255, 255}}), 0, "RGB");
    // Rows are padded to whole bytes, one bit per sample: 0 1 0.
    ExpectPixels(f.Pixels(1), Rgba({{0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}}), 0, "1-bit");
    ExpectPixels(f.Pixels(2), Rgba({{255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}}), 0, "1-bit inverted");
    // Each 2-bit row starts on a new byte: (1, 0) then (3, 0).
    ExpectPixels(f.Pixels(3), Rgba({{85, 85, 85, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}}), 0,
                 "2-bit rows");
    ExpectPixels(f.Pixels(4), Rgba({{128, 128, 128, 255}}), 1, "16-bit");
    ExpectPixels(f.Pixels(5), Rgba({{255, 0, 128, 255}}), 1, "decode in device units");
    ExpectPixels(f.Pixels(6), Rgba({{16, 16, 16, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}}), 0,
                 "short data padded");
    ExpectPixels(f.Pixels(7), Rgba({{0, 0, 0, 255}}), 0, "stencil mask: 0 paints black");
    plat::ImageRef cmyk;
    f.Pixels(8, &cmyk);
    ASSERT_TRUE(cmyk);
    EXPECT_EQ(cmyk->colorModel(), plat::ColorModel::CMYK);
}

TEST(PDFImage, BrokenParametersGiveNoImage) {
    ImageFixture f({
        {"/Height 1 /ColorSpace /DeviceGray", "x"},
        {"/Width 1 /Height 0 /ColorSpace /DeviceGray", "x"},
        {"/Width 100000000 /Height 100000000 /ColorSpace /DeviceGray", "x"},
        {"/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 3", "x"},
        {"/Width 1 /Height 1 /ColorSpace /Pattern", "x"},
        {"/Width 1 /Height 1 /ColorSpace [/DeviceN [] /DeviceGray << /FunctionType 2 /N 1 >>]", "x"},
        {"/Width 1 /Height 1 /ColorSpace /DeviceRGB /Filter /DCTDecode", "not a jpeg"},
        {"/Width 1 /Height 1 /ColorSpace /DeviceRGB /Filter /JPXDecode", "not a jpx"},
    });
    ASSERT_TRUE(f.file);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_TRUE(f.Pixels(i).empty()) << i;
}

TEST(PDFImage, IndexedImagesPickTheirEntriesFromTheRawSample) {
    std::string palette16;
    for (int i = 0; i < 16; ++i) palette16 += std::string{char(i * 16), char(255 - i * 16), 0};
    ImageFixture f({
        // 4-bit indices 0, 15, and a row of index 3 and 1.
        {"/Width 2 /Height 2 /BitsPerComponent 4 /ColorSpace [/Indexed /DeviceRGB 15 <" + AsciiHex(palette16) + "]",
         std::string("\x0F\x31", 2)},
        // An index above hival takes the last entry.
        {"/Width 1 /Height 1 /ColorSpace [/Indexed /DeviceRGB 1 <FF000000FF00>]", std::string("\x07", 1)},
        // 1-bit with Decode [1 0]: the raw 0 picks entry 1.
        {"/Width 1 /Height 1 /BitsPerComponent 1 /Decode [1 0] /ColorSpace [/I /DeviceGray 1 <00FF>]",
         std::string("\x00", 1)},
        // A named palette of the page's ColorSpace resources, with a short table.
        {"/Width 2 /Height 1 /ColorSpace /CS0", std::string("\x00\x02", 2)},
    }, "<< /CS0 [/Indexed /DeviceRGB 2 <0000FF>] >>");
    ASSERT_TRUE(f.file);
    ExpectPixels(f.Pixels(0),
                 Rgba({{0, 255, 0, 255}, {240, 15, 0, 255}, {48, 207, 0, 255}, {16, 239, 0, 255}}), 0, "4-bit");
    ExpectPixels(f.Pixels(1), Rgba({{0, 255, 0, 255}}), 0, "index above hival");
    ExpectPixels(f.Pixels(2), Rgba({{255, 255, 255, 255}}), 0, "decode picks the index");
    ExpectPixels(f.Pixels(3), Rgba({{0, 0, 255, 255}, {0, 0, 0, 255}}), 0, "resource name, padded table");
}

TEST(PDFImage, SeparationAndDeviceNGoThroughTheirTintTransforms) {
    ImageFixture f({
        // Tint t to CMYK (0, t, 0, 0) via an exponential function.
        {"/Width 2 /Height 1 /ColorSpace [/Separation /Spot /DeviceCMYK << /FunctionType 2 /Domain [0 1] "
         "/C0 [0 0 0 0] /C1 [0 1 0 0] /N 1 >>]",
         std::string("\x00\xFF", 2)},
        // Two tints to RGB through a calculator; Decode [1 0 0 1] inverts the first.
        {"/Width 1 /Height 1 /ColorSpace [/DeviceN [/A /B] /DeviceRGB 1 0 R] /Decode [1 0 0 1]",
         std::string("\x00\x80", 2)},
        // Outputs beyond the range are clamped.
        {"/Width 1 /Height 1 /ColorSpace [/Separation /S /DeviceGray << /FunctionType 2 /Domain [0 1] /C0 [2] "
         "/C1 [3] /N 1 >>]",
         std::string("\x00", 1)},
        // A palette over a Separation space holds tints.
        {"/Width 1 /Height 1 /ColorSpace [/Indexed [/Separation /S /DeviceGray << /FunctionType 2 /Domain [0 1] "
         "/C0 [1] /C1 [0] /N 1 >>] 1 <00FF>]",
         std::string("\x01", 1)},
    }, {}, {{"/FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1]", "{ 0 }"}});
    ASSERT_TRUE(f.file);
    plat::ImageRef separation;
    f.Pixels(0, &separation);
    ASSERT_TRUE(separation);
    EXPECT_EQ(separation->colorModel(), plat::ColorModel::CMYK);
    // The calculator leaves (a, b, 0): a = 1 after Decode, b = 128/255.
    ExpectPixels(f.Pixels(1), Rgba({{255, 128, 0, 255}}), 1, "DeviceN");
    ExpectPixels(f.Pixels(2), Rgba({{255, 255, 255, 255}}), 0, "clamped tint output");
    ExpectPixels(f.Pixels(3), Rgba({{0, 0, 0, 255}}), 0, "palette of tints");
}

TEST(PDFImage, CalibratedLabAndICCSpaces) {
    const std::string profile = SrgbProfile();
    ImageFixture f({
        {"/Width 1 /Height 1 /ColorSpace [/Lab << /WhitePoint [0.9505 1 1.089] /Range [-128 127 -128 127] >>]",
         std::string("\xFF\x80\x80", 3)},
        {"/Width 1 /Height 1 /ColorSpace [/ICCBased 1 0 R]", std::string("\x10\x80\xF0", 3)},
        {"/Width 1 /Height 1 /ColorSpace [/ICCBased 2 0 R]", std::string("\x10\x80\xF0", 3)},
        {"/Width 1 /Height 1 /ColorSpace [/CalRGB << /WhitePoint [0.9505 1 1.089] /Gamma [2.2 2.2 2.2] "
         "/Matrix [0.4124 0.2126 0.0193 0.3576 0.7152 0.1192 0.1805 0.0722 0.9505] >>]",
         std::string("\x10\x80\xF0", 3)},
        {"/Width 1 /Height 1 /ColorSpace [/CalGray << /WhitePoint [0.9505 1 1.089] /Gamma 2.2 >>]",
         std::string("\x80", 1)},
        {"/Width 1 /Height 1 /ColorSpace [/CalRGB << /WhitePoint [0 0 0] >>]", std::string("\x10\x80\xF0", 3)},
    }, {}, {{"/N 3", profile}, {"/N 3 /Alternate /DeviceRGB", "not a profile"}});
    ASSERT_TRUE(f.file);
    ExpectPixels(f.Pixels(0), Rgba({{255, 255, 255, 255}}), 3, "Lab white");
    plat::ImageRef icc;
    ExpectPixels(f.Pixels(1, &icc), Rgba({{16, 128, 240, 255}}), 2, "sRGB profile");
    ASSERT_TRUE(icc);
    EXPECT_NE(vips_image_get_typeof(icc->vimage().get_image(), VIPS_META_ICC_NAME), 0u);
    ExpectPixels(f.Pixels(2), Rgba({{16, 128, 240, 255}}), 0, "broken profile: the alternate");
    ExpectPixels(f.Pixels(3), Rgba({{16, 128, 240, 255}}), 12, "CalRGB close to sRGB");
    EXPECT_FALSE(f.Pixels(4).empty());
    ExpectPixels(f.Pixels(5), Rgba({{16, 128, 240, 255}}), 0, "degenerate CalRGB: device RGB");

    const PDFColorSpaceRef fromData = CreateColorSpaceFromICCData(std::vector<std::uint8_t>(profile.begin(), profile.end()));
    ASSERT_TRUE(fromData);
    EXPECT_EQ(fromData->components, 3);
    EXPECT_FALSE(CreateColorSpaceFromICCData({}));
    EXPECT_FALSE(CreateColorSpaceFromICCData(std::vector<std::uint8_t>(200, 7)));
}

// Lab samples mean a colour under their own white point. The reference is
// lcms's: XYZ under that white, Bradford-adapted to the D50 connection
// space, through lcms's sRGB profile.
TEST(PDFImage, LabColoursFollowTheirWhitePoint) {
    const std::string samples("\x80\xC8\x3C\x40\x30\xD0\xB0\x60\xA0\xFF\x80\x80", 12);
    const std::vector<std::array<double, 3>> whites = {{0.9642, 1.0, 0.8249}, {0.9505, 1.0, 1.089}};
    std::vector<ImageFixture::Stream> streams;
    for (const auto& w : whites) {
        streams.push_back({"/Width 4 /Height 1 /ColorSpace [/Lab << /WhitePoint [" + std::to_string(w[0]) + " 1 " +
                               std::to_string(w[2]) + "] /Range [-128 127 -128 127] >>]",
                           samples});
    }
    ImageFixture f(streams);
    ASSERT_TRUE(f.file);
    cmsHPROFILE xyzProfile = cmsCreateXYZProfile();
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM toSrgb =
        cmsCreateTransform(xyzProfile, TYPE_XYZ_DBL, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    ASSERT_TRUE(toSrgb);
    std::vector<std::vector<std::uint8_t>> results;
    for (std::size_t s = 0; s < whites.size(); ++s) {
        const cmsCIEXYZ white{whites[s][0], whites[s][1], whites[s][2]};
        std::vector<std::uint8_t> expected;
        for (int p = 0; p < 4; ++p) {
            const auto byte = [&](int c) { return double(std::uint8_t(samples[std::size_t(p * 3 + c)])); };
            const cmsCIELab lab{byte(0) * 100.0 / 255.0, -128.0 + byte(1), -128.0 + byte(2)};
            cmsCIEXYZ xyz, adapted;
            cmsLab2XYZ(&white, &xyz, &lab);
            cmsAdaptToIlluminant(&adapted, &white, cmsD50_XYZ(), &xyz);
            std::uint8_t rgb[3];
            cmsDoTransform(toSrgb, &adapted, rgb, 1);
            expected.insert(expected.end(), {rgb[0], rgb[1], rgb[2], 255});
        }
        results.push_back(f.Pixels(s));
        ExpectPixels(results.back(), expected, 2, s == 0 ? "Lab under D50" : "Lab under D65");
    }
    cmsDeleteTransform(toSrgb);
    cmsCloseProfile(xyzProfile);
    cmsCloseProfile(srgb);
    EXPECT_NE(results[0], results[1]);
}

TEST(PDFImage, MasksGiveAlphaOnlyWhenTheOutputKeepsIt) {
    ImageFixture f({
        // Colour key on raw samples: index 1 is transparent.
        {"/Width 2 /Height 1 /ColorSpace [/Indexed /DeviceRGB 1 <FF000000FF00>] /Mask [1 1]",
         std::string("\x00\x01", 2)},
        // Soft mask: opacity straight from its samples, stretched to the image size.
        {"/Width 2 /Height 1 /ColorSpace /DeviceGray /SMask 1 0 R", std::string("\x10\x20", 2)},
        // Stencil mask: 0 marks where the image is painted.
        {"/Width 2 /Height 1 /ColorSpace /DeviceGray /Mask 2 0 R", std::string("\x10\x20", 2)},
    }, {}, {{"/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "\x80"},
            {"/Type /XObject /Subtype /Image /Width 2 /Height 1 /ImageMask true", std::string("\x40", 1)}});
    ASSERT_TRUE(f.file);
    f.extractor.outputType = 7;  // PNG
    ExpectPixels(f.Pixels(0), Rgba({{255, 0, 0, 255}, {0, 255, 0, 0}}), 0, "colour key");
    ExpectPixels(f.Pixels(1), Rgba({{16, 16, 16, 128}, {32, 32, 32, 128}}), 0, "soft mask");
    ExpectPixels(f.Pixels(2), Rgba({{16, 16, 16, 255}, {32, 32, 32, 0}}), 0, "stencil mask");
    f.extractor.outputType = 4;  // JPEG keeps no alpha
    ExpectPixels(f.Pixels(0), Rgba({{255, 0, 0, 255}, {0, 255, 0, 255}}), 0, "no alpha for JPEG");
}

TEST(PDFImage, InlineImagesReadTheirAbbreviations) {
    RawPdf pdf;
    const std::string bytes = BuildDocument(
        pdf, {{"", "BI /W 3 /H 1 /BPC 1 /CS /G ID \x40 EI BI /Width 3 /Height 1 /BitsPerComponent 1 "
                   "/ColorSpace /DeviceGray ID \x40 EI BI /W 1 /H 1 /CS /RGB /F /AHx ID 00FF00> EI"}});
    auto file = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end()));
    ASSERT_TRUE(file);
    std::vector<std::vector<std::uint8_t>> images;
    const std::string_view ops[] = {"EI"};
    file->ScanPageContent(1, ops, [&](std::string_view, std::span<const plat::PdfObject> operands) {
        plat::ImageRef image = CreateImageFromPDFStream(nullptr, operands[0], operands[0]);
        images.push_back(image ? image->copyRGBA8() : std::vector<std::uint8_t>{});
    });
    ASSERT_EQ(images.size(), 3u);
    ExpectPixels(images[0], Rgba({{0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}}), 0, "abbreviated");
    EXPECT_EQ(images[0], images[1]);
    ExpectPixels(images[2], Rgba({{0, 255, 0, 255}}), 0, "filtered inline image");
}

}  // namespace
