// Pages rendered band by band, with pictures drawn from the rows each band
// shows: the page comes out as when it is rendered whole.

#include "PdfTestSupport.h"
#include "PdfToolsTestSupport.h"

#include "platform/PdfDocument.h"

#include <vips/vips8>

#include <cstdlib>
#include <algorithm>
#include <functional>
#include <cstring>
#include <string>
#include <vector>

namespace pdftest {
namespace {

std::string Ref(int object) { return std::to_string(object) + " 0 R"; }

// Samples of a `width` x `height` picture with `components` of `bits` each,
// rows padded to a byte: smooth ramps (across the rows in the first
// component, along them in the second), or for one bit, bands 7 rows high.
std::string Samples(int width, int height, int components, int bits) {
    std::string data;
    for (int y = 0; y < height; ++y) {
        std::string row;
        if (bits == 1) {
            row.assign(std::size_t(width + 7) / 8, (y / 7) % 2 ? '\xff' : '\0');
        }
        for (int x = 0; bits != 1 && x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                const int value = c == 0 ? 20 + 200 * y / height : c == 1 ? 30 + 180 * x / width : 90;
                if (bits == 16) row += char(value);
                row += char(value);
            }
        }
        data += row;
    }
    return data;
}

std::string Jpeg(int width, int height) {
    const std::string samples = Samples(width, height, 3, 8);
    vips::VImage image = vips::VImage::new_from_memory(const_cast<char*>(samples.data()), samples.size(), width,
                                                      height, 3, VIPS_FORMAT_UCHAR);
    VipsBlob* blob = image.jpegsave_buffer(vips::VImage::option()->set("Q", 95));
    std::size_t length = 0;
    const void* bytes = vips_blob_get(blob, &length);
    std::string jpeg(static_cast<const char*>(bytes), length);
    vips_area_unref(VIPS_AREA(blob));
    return jpeg;
}

std::string ImageEntries(int width, int height, const char* space, int bits) {
    return "/Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " + std::to_string(height) +
           " /ColorSpace " + space + " /BitsPerComponent " + std::to_string(bits);
}

// A Flate-compressed picture; `extra` adds entries (a mask).
int FlateImage(RawPdf& pdf, int width, int height, int components, int bits, const std::string& extra = {}) {
    const char* space = components == 1 ? "/DeviceGray" : "/DeviceRGB";
    return pdf.AddStream(ImageEntries(width, height, space, bits) + " /Filter /FlateDecode " + extra,
                         Deflate(Samples(width, height, components, bits)));
}

const std::string kCover = "180 0 0 180 10 10 cm";  // most of the page

struct Case {
    const char* what;
    bool banded;  // drawn from the rows each band shows, so the page renders in bands
    std::string placement;  // the cm operator
    std::function<int(RawPdf&)> image;
};

// The first row of `banded` that is no row of `whole` within two rows of
// its own place (a picture's rows may be scaled one row apart where a band
// cuts it), sample for sample within `tolerance`; -1 when there is none.
int RowNotNearby(const std::vector<std::uint8_t>& banded, const std::vector<std::uint8_t>& whole, int width,
                 int height, int tolerance) {
    const std::size_t stride = std::size_t(width) * 3;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = banded.data() + stride * y;
        bool found = false;
        for (int d = std::max(-2, -y); d <= 2 && y + d < height && !found; ++d) {
            const std::uint8_t* other = whole.data() + stride * (y + d);
            found = true;
            for (std::size_t i = 0; i < stride && found; ++i) found = std::abs(row[i] - other[i]) <= tolerance;
        }
        if (!found) return y;
    }
    return -1;
}

TEST_F(PdfToolsTest, PicturesAreDrawnBandByBandAsOnTheWholePage) {
    const std::vector<Case> cases = {
        {"RGB enlarged 45 times", true, kCover, [](RawPdf& p) { return FlateImage(p, 60, 90, 3, 8); }},
        {"RGB enlarged 2.5 times, smoothed", true, kCover, [](RawPdf& p) { return FlateImage(p, 1000, 1200, 3, 8); }},
        {"grey reduced", true, kCover, [](RawPdf& p) { return FlateImage(p, 2900, 3000, 1, 8); }},
        {"16-bit RGB", true, kCover, [](RawPdf& p) { return FlateImage(p, 61, 93, 3, 16); }},
        {"one bit a sample, rows of odd length", true, kCover, [](RawPdf& p) { return FlateImage(p, 45, 301, 1, 1); }},
        {"JPEG", true, kCover, [](RawPdf& p) {
             const std::string jpeg = Jpeg(600, 700);
             return p.AddStream(ImageEntries(600, 700, "/DeviceRGB", 8) + " /Filter /DCTDecode", jpeg);
         }},
        {"upside down", true, "180 0 0 -180 10 190 cm", [](RawPdf& p) { return FlateImage(p, 60, 90, 3, 8); }},
        {"colour key mask", true, kCover, [](RawPdf& p) { return FlateImage(p, 60, 90, 3, 8, "/Mask [0 120 0 255 0 255]"); }},
        {"soft mask of its size", true, kCover, [](RawPdf& p) {
             return FlateImage(p, 60, 90, 3, 8, "/SMask " + Ref(FlateImage(p, 60, 90, 1, 8)));
         }},
        {"stencil mask of its size", true, kCover, [](RawPdf& p) {
             const int mask = p.AddStream(ImageEntries(60, 90, "/DeviceGray", 1) + " /ImageMask true /Filter "
                                          "/FlateDecode", Deflate(Samples(60, 90, 1, 1)));
             return FlateImage(p, 60, 90, 3, 8, "/Mask " + Ref(mask));
         }},
        {"in a transparency group", true, kCover, [](RawPdf& p) {
             const int image = FlateImage(p, 60, 90, 3, 8);
             return p.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Group << /S /Transparency >> "
                                "/Resources << /ExtGState << /G << /ca 0.6 >> >> /XObject << /J " + Ref(image) +
                                " >> >>", "/G gs /J Do");
         }},
        // Drawn whole by every band: a page they cover renders in one.
        {"soft mask of another size", false, kCover, [](RawPdf& p) {
             return FlateImage(p, 60, 90, 3, 8, "/SMask " + Ref(FlateImage(p, 30, 40, 1, 8)));
         }},
        {"turned a quarter", false, "0 180 -180 0 190 10 cm", [](RawPdf& p) { return FlateImage(p, 60, 90, 3, 8); }},
    };
    constexpr int kSide = 3000;  // 200 points at 15 x: three bands
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawPdf pdf;
        const int image = c.image(pdf);
        const std::string file =
            BuildDocument(pdf, {{"<< /XObject << /I " + Ref(image) + " >> >>",
                                 "0 0 1 rg 0 95 200 3 re f q " + c.placement + " /I Do Q 1 0 0 rg 0 120 200 2 re f"}});
        const auto document = plat::PdfDocument::OpenData(std::vector<char>(file.begin(), file.end()));
        ASSERT_TRUE(document);
        plat::PdfPageBitmap whole;
        ASSERT_TRUE(document->RenderPage(1, 15.0, kSide, kSide, plat::PdfPixelFormat::Rgb, whole));
        for (int round = 0; round < 2; ++round) {
            int rows = 0;
            const plat::ImageRef page =
                document->RenderPageImage(1, 15.0, kSide, kSide, plat::PdfPixelFormat::Rgb, &rows);
            ASSERT_TRUE(page);
            EXPECT_EQ(rows < kSide, c.banded) << rows;
            std::size_t size = 0;
            void* memory = page->vimage().write_to_memory(&size);
            std::vector<std::uint8_t> banded(static_cast<std::uint8_t*>(memory),
                                             static_cast<std::uint8_t*>(memory) + size);
            g_free(memory);
            ASSERT_EQ(banded.size(), whole.pixels.size());
            if (!c.banded) {
                EXPECT_TRUE(banded == whole.pixels);
                continue;
            }
            EXPECT_EQ(RowNotNearby(banded, whole.pixels, kSide, kSide, 4), -1);
        }
    }
}

}  // namespace
}  // namespace pdftest
