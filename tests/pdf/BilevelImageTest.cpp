// Bilevel images of PDF files: CCITT fax data in every group 3 and group 4
// variant, and JBIG2 data with and without globals, decoded as poppler
// decodes them and extracted as files.

#include "pdf/PDFImageExtractor.h"
#include "platform/PdfObject.h"

#include "PdfTestSupport.h"
#include "platform/Initialize.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <vips/vips8>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace pdftest;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 61;  // not a whole number of bytes
constexpr int kHeight = 23;

// A pattern of runs of many lengths, packed 1 for black.
std::vector<std::uint8_t> Pattern() {
    const std::size_t rowBytes = (kWidth + 7) / 8;
    std::vector<std::uint8_t> rows(rowBytes * kHeight, 0);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool black = (x * 7 + y * 3) % 11 < 4 || x == y || (y > 15 && x > 40);
            if (black) rows[std::size_t(y) * rowBytes + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
        }
    }
    return rows;
}

// The pixels of packed rows as text, '#' for a 1 bit and '.' for 0, one
// line per row; the padding bits of each row are left out.
std::string Picture(const std::string& rows) {
    const std::size_t rowBytes = (kWidth + 7) / 8;
    if (rows.size() != rowBytes * kHeight) return "<" + std::to_string(rows.size()) + " bytes>";
    std::string out;
    for (std::size_t y = 0; y < kHeight; ++y) {
        for (std::size_t x = 0; x < kWidth; ++x) out += (rows[y * rowBytes + x / 8] & (0x80 >> (x % 8))) ? '#' : '.';
        out += '\n';
    }
    return out;
}

std::string Inverted(const std::vector<std::uint8_t>& rows) {
    std::string out;
    for (std::uint8_t b : rows) out += char(~b);
    return Picture(out);
}

// The fax bits with every end-of-line code taken out but the last `keep`
// (the end-of-block code is six of them): rows then follow each other
// without any mark, as one-dimensional group 3 data in PDF files often do.
std::string WithoutEndOfLines(const std::string& data, int keep) {
    std::vector<int> bits;
    for (unsigned char c : data) {
        for (int i = 7; i >= 0; --i) bits.push_back((c >> i) & 1);
    }
    // An end-of-line code is 11 zeros and a one (a longer run of zeros
    // ends the codes before it); no run of the row codes holds that many.
    std::vector<std::pair<std::size_t, std::size_t>> codes;
    for (std::size_t i = 0, zeros = 0; i < bits.size(); ++i) {
        if (bits[i] == 0) {
            ++zeros;
            continue;
        }
        if (zeros >= 11) codes.emplace_back(i - 11, i + 1);
        zeros = 0;
    }
    const std::size_t strip = codes.size() > std::size_t(keep) ? codes.size() - std::size_t(keep) : 0;
    std::vector<int> kept;
    std::size_t next = 0;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (next < strip && i >= codes[next].first) {
            i = codes[next++].second - 1;
            continue;
        }
        kept.push_back(bits[i]);
    }
    std::string out;
    for (std::size_t i = 0; i < kept.size(); i += 8) {
        int byte = 0;
        for (std::size_t j = 0; j < 8; ++j) byte = byte << 1 | (i + j < kept.size() ? kept[i + j] : 0);
        out += char(byte);
    }
    return out;
}

struct FaxCase {
    std::string name;
    std::string data;
    std::string parms;  // DecodeParms entries besides Columns and Rows
};

std::vector<FaxCase> FaxCases(const fs::path& scratch) {
    const std::vector<std::uint8_t> rows = Pattern();
    const auto encode = [&](int compression, int options) {
        return FaxEncode(rows, kWidth, kHeight, compression, options, scratch);
    };
    const std::string g3 = encode(COMPRESSION_CCITTFAX3, 0);
    return {
        {"G3-1D-EOL", g3, "/K 0 /EndOfLine true"},
        {"G3-1D-EOL-unflagged", g3, "/K 0"},
        {"G3-1D-EOL-aligned", encode(COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS), "/K 0 /EndOfLine true /EncodedByteAlign true"},
        {"G3-1D-bare-EOB", WithoutEndOfLines(g3, 6), "/K 0"},
        {"G3-1D-bare", WithoutEndOfLines(g3, 0), "/K 0 /EndOfBlock false"},
        {"G3-1D-bare-aligned", encode(COMPRESSION_CCITTRLE, 0), "/K 0 /EncodedByteAlign true /EndOfBlock false"},
        {"G3-2D", encode(COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING), "/K 2 /EndOfLine true"},
        {"G4", encode(COMPRESSION_CCITTFAX4, 0), "/K -1"},
    };
}

std::string FaxImage(RawPdf& pdf, const FaxCase& c, bool blackIs1) {
    return std::to_string(pdf.AddStream("/Type /XObject /Subtype /Image /Width " + std::to_string(kWidth) +
                                            " /Height " + std::to_string(kHeight) +
                                            " /BitsPerComponent 1 /ColorSpace /DeviceGray /Filter /CCITTFaxDecode "
                                            "/DecodeParms << /Columns " + std::to_string(kWidth) + " /Rows " +
                                            std::to_string(kHeight) + " " + c.parms +
                                            (blackIs1 ? " /BlackIs1 true" : "") + " >>",
                                        c.data)) +
           " 0 R";
}

std::unique_ptr<plat::PdfObjectFile> OpenBytes(const std::string& bytes) {
    return plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end()));
}

// The data of every XObject of the first page by its resource name;
// "<none>" when the stream does not decode.
std::map<std::string, std::string> XObjectData(const std::string& file) {
    std::map<std::string, std::string> out;
    auto doc = OpenBytes(file);
    if (!doc) return out;
    const plat::PdfObject xobjects = doc->GetPageAttribute(1, "Resources").GetDictionaryObject("XObject");
    for (const std::string& key : xobjects.GetDictionaryKeys()) {
        std::vector<std::uint8_t> data;
        plat::PdfDataFormat format = plat::PdfDataFormat::Raw;
        out[key] = xobjects.GetDictionaryObject(key).CopyStreamData(&data, &format) ? Bytes(data) : "<none>";
    }
    return out;
}

std::string Resources(const std::vector<std::pair<std::string, std::string>>& images) {
    std::string entries;
    for (const auto& [name, reference] : images) entries += "/" + name + " " + reference + " ";
    return "<< /XObject << " + entries + ">> >>";
}

TEST(CcittFax, EveryGroup3AndGroup4VariantDecodesToTheEncodedPixels) {
    TempFolder dir;
    const std::vector<std::uint8_t> rows = Pattern();
    RawPdf pdf;
    std::vector<std::pair<std::string, std::string>> images;
    const std::vector<FaxCase> cases = FaxCases(dir.path() / "fax.tif");
    for (const FaxCase& c : cases) {
        ASSERT_FALSE(c.data.empty()) << c.name;
        images.emplace_back(c.name, FaxImage(pdf, c, false));
        images.emplace_back(c.name + "-BlackIs1", FaxImage(pdf, c, true));
    }
    const auto data = XObjectData(BuildDocument(pdf, {{Resources(images), ""}}));
    ASSERT_EQ(data.size(), 2 * cases.size());
    for (const FaxCase& c : cases) {
        EXPECT_EQ(Picture(data.at(c.name)), Inverted(rows)) << c.name;
        EXPECT_EQ(Picture(data.at(c.name + "-BlackIs1")), Picture(Bytes(rows))) << c.name;
    }
}

TEST(CcittFax, DataThatDecodeToNoRowFail) {
    RawPdf pdf;
    const int empty = pdf.AddStream("/Width 8 /Height 2 /Filter /CCITTFaxDecode /DecodeParms << /K 0 /Columns 8 >>", "");
    const int noRows = pdf.AddStream("/Width 8 /Height 0 /Filter /CCITTFaxDecode /DecodeParms << /K 0 /Columns 8 >>", "\x80");
    const auto data = XObjectData(BuildDocument(
        pdf, {{Resources({{"E", std::to_string(empty) + " 0 R"}, {"N", std::to_string(noRows) + " 0 R"}}), ""}}));
    EXPECT_EQ(data.at("E"), "<none>");
    EXPECT_EQ(data.at("N"), "<none>");
}

// --- JBIG2 -----------------------------------------------------------------------

std::string Be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// One segment of the embedded organisation: short page association, no
// referred-to segments.
std::string Segment(std::uint32_t number, int type, int page, const std::string& data) {
    return Be32(number) + char(type) + char(0) + char(page) + Be32(std::uint32_t(data.size())) + data;
}

// A page with one immediate generic region coded with MMR (group 4 data,
// 1 black, as libtiff writes them).
std::string Jbig2Page(const std::string& mmr, bool endOfPage) {
    const std::string pageInfo = Be32(kWidth) + Be32(kHeight) + Be32(0) + Be32(0) + char(0) + std::string(2, '\0');
    const std::string region = Be32(kWidth) + Be32(kHeight) + Be32(0) + Be32(0) + char(0) + char(1) + mmr;
    return Segment(1, 48, 1, pageInfo) + Segment(2, 38, 1, region) + (endOfPage ? Segment(3, 49, 1, "") : "");
}

// Global segments: an ASCII comment, which changes nothing; or an
// extension the decoder must understand and does not.
std::string Jbig2Globals(bool usable) {
    return usable ? Segment(0, 62, 0, Be32(0x20000000) + std::string("Title\0fixture\0\0", 16))
                  : Segment(0, 62, 0, Be32(0x80000001) + "????");
}

class Jbig2 : public testing::Test {
protected:
    void SetUp() override {
        mmr = FaxEncode(Pattern(), kWidth, kHeight, COMPRESSION_CCITTFAX4, 0, dir.path() / "mmr.tif");
        ASSERT_FALSE(mmr.empty());
    }

    // An image XObject with `data`, and its globals stream when given.
    std::string Image(RawPdf& pdf, const std::string& data, const std::string& globals = {}, bool flate = false) {
        std::string parms;
        if (!globals.empty()) {
            const int g = flate ? pdf.AddStream("/Filter /FlateDecode", Deflate(globals)) : pdf.AddStream("", globals);
            parms = " /DecodeParms << /JBIG2Globals " + std::to_string(g) + " 0 R >>";
        }
        return std::to_string(pdf.AddStream("/Type /XObject /Subtype /Image /Width " + std::to_string(kWidth) +
                                                " /Height " + std::to_string(kHeight) +
                                                " /BitsPerComponent 1 /ColorSpace /DeviceGray /Filter /JBIG2Decode" +
                                                parms,
                                            data)) +
               " 0 R";
    }

    TempFolder dir;
    std::string mmr;
};

TEST_F(Jbig2, GenericRegionsDecodeWithAndWithoutGlobals) {
    RawPdf pdf;
    const std::string page = Jbig2Page(mmr, true);
    const auto data = XObjectData(BuildDocument(
        pdf, {{Resources({{"Plain", Image(pdf, page)},
                          {"NoEndOfPage", Image(pdf, Jbig2Page(mmr, false))},
                          {"Globals", Image(pdf, page, Jbig2Globals(true))},
                          {"DeflatedGlobals", Image(pdf, page, Jbig2Globals(true), true)}}),
               ""}}));
    const std::string expected = Inverted(Pattern());
    for (const char* name : {"Plain", "NoEndOfPage", "Globals", "DeflatedGlobals"}) {
        EXPECT_EQ(Picture(data.at(name)), expected) << name;
    }
}

TEST_F(Jbig2, DamagedDataOrGlobalsFail) {
    RawPdf pdf;
    const std::string page = Jbig2Page(mmr, true);
    std::string badLength = page;
    badLength[9] = '\x7F';  // the page information claims more data than follow
    const int missingGlobals = pdf.AddStream(
        "/Type /XObject /Subtype /Image /Width 61 /Height 23 /BitsPerComponent 1 /Filter /JBIG2Decode "
        "/DecodeParms << /JBIG2Globals (not a stream) >>",
        page);
    const auto data = XObjectData(BuildDocument(
        pdf, {{Resources({{"Truncated", Image(pdf, page.substr(0, page.size() / 2))},
                          {"BadLength", Image(pdf, badLength)},
                          {"BadGlobals", Image(pdf, page, Jbig2Globals(false))},
                          {"GlobalsNoStream", std::to_string(missingGlobals) + " 0 R"},
                          {"Empty", Image(pdf, "")},
                          {"NoPage", Image(pdf, Segment(1, 49, 1, ""))}}),
               ""}}));
    for (const char* name : {"Truncated", "BadLength", "BadGlobals", "GlobalsNoStream", "Empty", "NoPage"}) {
        EXPECT_EQ(data.at(name), "<none>") << name;
    }
}

// Byte flips and cuts anywhere in fax and JBIG2 data: each image decodes to
// its full size or fails, and nothing reads or writes out of bounds.
TEST_F(Jbig2, DamagedFaxAndJbig2DataDecodeOrFail) {
    std::vector<std::pair<std::string, std::string>> streams;  // filter part of the dictionary, data
    for (const FaxCase& c : FaxCases(dir.path() / "fax.tif")) {
        streams.emplace_back("/Filter /CCITTFaxDecode /DecodeParms << /Columns 61 /Rows 23 " + c.parms + " >>", c.data);
    }
    streams.emplace_back("/Filter /JBIG2Decode", Jbig2Page(mmr, true));
    std::mt19937 random(11);
    RawPdf pdf;
    std::vector<std::pair<std::string, std::string>> images;
    for (const auto& [filter, data] : streams) {
        for (int copy = 0; copy < 40; ++copy) {
            std::string damaged = data;
            if (copy % 4 == 3) {
                damaged.resize(random() % damaged.size());
            } else {
                for (int i = 0; i <= copy % 4; ++i) damaged[random() % damaged.size()] = char(random());
            }
            images.emplace_back("I" + std::to_string(images.size()),
                                std::to_string(pdf.AddStream("/Type /XObject /Subtype /Image /Width 61 /Height 23 "
                                                             "/BitsPerComponent 1 " + filter,
                                                             damaged)) +
                                    " 0 R");
        }
    }
    const auto data = XObjectData(BuildDocument(pdf, {{Resources(images), ""}}));
    ASSERT_EQ(data.size(), images.size());
    for (const auto& [name, bytes] : data) {
        EXPECT_TRUE(bytes == "<none>" || bytes.size() == 8u * kHeight) << name << ": " << bytes.size();
    }
}

// --- Extraction against poppler ------------------------------------------------------

std::vector<std::uint8_t> FilePixels(const fs::path& path) {
    plat::Initialize();
    try {
        vips::VImage image = vips::VImage::new_from_file(path.c_str());
        if (image.bands() > 1) image = image.extract_band(0);
        if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
        std::size_t size = 0;
        void* memory = image.write_to_memory(&size);
        std::vector<std::uint8_t> pixels(static_cast<std::uint8_t*>(memory), static_cast<std::uint8_t*>(memory) + size);
        g_free(memory);
        // 1-bit PNGs load as 0 and 1; grey ones as 0 and 255.
        if (!pixels.empty() && *std::max_element(pixels.begin(), pixels.end()) == 1) {
            for (std::uint8_t& p : pixels) p = p ? 255 : 0;
        }
        return pixels;
    } catch (const vips::VError&) {
        return {};
    }
}

class BilevelExtraction : public Jbig2 {
protected:
    int Extract(const std::string& file) {
        pdfPath = dir.path() / "scan.pdf";
        WriteFile(pdfPath, file);
        out = dir.path() / ("out" + std::to_string(++runs));
        fs::create_directories(out);
        return ExtractPngImages(pdfPath, out);
    }

    fs::path pdfPath;
    fs::path out;
    int runs = 0;
};

TEST_F(BilevelExtraction, FaxAndJbig2ImagesMatchPoppler) {
    if (!HaveTool("pdfimages")) GTEST_SKIP() << "pdfimages (poppler-utils) is missing";
    RawPdf pdf;
    std::vector<std::pair<std::string, std::string>> images;
    for (const FaxCase& c : FaxCases(dir.path() / "fax.tif")) {
        images.emplace_back(c.name, FaxImage(pdf, c, false));
        images.emplace_back(c.name + "-BlackIs1", FaxImage(pdf, c, true));
    }
    images.emplace_back("JBIG2", Image(pdf, Jbig2Page(mmr, true)));
    images.emplace_back("JBIG2-Globals", Image(pdf, Jbig2Page(mmr, false), Jbig2Globals(true)));
    // pdfimages lists the images the page draws.
    std::string content;
    for (const auto& image : images) content += "/" + image.first + " Do ";
    ASSERT_EQ(Extract(BuildDocument(pdf, {{Resources(images), content}})), 1);
    ASSERT_EQ(FileNames(out).size(), images.size());

    const fs::path reference = dir.path() / "poppler";
    fs::create_directories(reference);
    ASSERT_TRUE(RunTool({"pdfimages", "-png", pdfPath.string(), (reference / "img").string()}));
    ASSERT_EQ(FileNames(reference).size(), images.size());
    // Resource names come sorted, and pdfimages numbers in content order:
    // compare as sets of pixel planes, each also against the pattern.
    std::multiset<std::vector<std::uint8_t>> ours, theirs;
    for (const std::string& name : FileNames(out)) ours.insert(FilePixels(out / name));
    for (const std::string& name : FileNames(reference)) theirs.insert(FilePixels(reference / name));
    EXPECT_EQ(ours, theirs);
    std::vector<std::uint8_t> black;
    const std::vector<std::uint8_t> rows = Pattern();
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool isBlack = rows[std::size_t(y) * ((kWidth + 7) / 8) + std::size_t(x / 8)] & (0x80 >> (x % 8));
            black.push_back(isBlack ? 0 : 255);
        }
    }
    std::vector<std::uint8_t> whiteIsBlack(black);
    for (std::uint8_t& p : whiteIsBlack) p = std::uint8_t(255 - p);
    // BlackIs1 on data whose black is 0 paints the negative.
    EXPECT_EQ(ours.count(black), images.size() / 2 + 1);
    EXPECT_EQ(ours.count(whiteIsBlack), images.size() / 2 - 1);
}

TEST_F(BilevelExtraction, AnImageThatFailsToDecodeFailsTheRun) {
    RawPdf pdf;
    const std::string good = Image(pdf, Jbig2Page(mmr, true));
    const std::string page = Jbig2Page(mmr, true);
    const std::string damaged = Image(pdf, page.substr(0, page.size() - 9));
    // The readable image is still written; the result says one was not.
    EXPECT_EQ(Extract(BuildDocument(pdf, {{Resources({{"A", good}, {"B", damaged}}), ""}})), 0);
    EXPECT_EQ(FileNames(out), std::vector<std::string>{"scan_Page1_1.png"});
    RawPdf alone;
    EXPECT_EQ(Extract(BuildDocument(alone, {{Resources({{"B", Image(alone, page.substr(0, 40))}}), ""}})), 0);
    EXPECT_TRUE(FileNames(out).empty());
}

}  // namespace
