// CCITT fax images in every group 3 and group 4 variant and JBIG2 ones with and without globals: decoded
// to the encoded pixels and extracted as files; damaged data decode or fail.

#include "platform/PdfObject.h"

#include "PdfTestSupport.h"
#include "platform/Initialize.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <vips/vips8>

#include <map>
#include <random>
#include <set>

using namespace pdftest;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 61, kHeight = 23;  // not a whole number of bytes
constexpr std::size_t kRowBytes = (kWidth + 7) / 8;

// A pattern of runs of many lengths, packed 1 for black; or its negative.
std::vector<std::uint8_t> Pattern(bool inverted = false) {
    std::vector<std::uint8_t> rows(kRowBytes * kHeight, inverted ? 0xFF : 0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if ((x * 7 + y * 3) % 11 < 4 || x == y || (y > 15 && x > 40)) rows[y * kRowBytes + x / 8] ^= std::uint8_t(0x80 >> (x % 8));
    return rows;
}

// Packed rows as text, '#' for 1 and '.' for 0 without the padding bits; the size when not the pattern's.
std::string Picture(const std::string& rows) {
    if (rows.size() != kRowBytes * kHeight) return "<" + std::to_string(rows.size()) + " bytes>";
    std::string out;
    for (std::size_t y = 0; y < kHeight; ++y, out += '\n')
        for (std::size_t x = 0; x < kWidth; ++x) out += (rows[y * kRowBytes + x / 8] & (0x80 >> (x % 8))) ? '#' : '.';
    return out;
}

// The fax bits without their end-of-line codes (11 zeros and a one) but the last `keep` (six make the
// end-of-block code): rows follow each other unmarked, as group 3 data in PDF files often do.
std::string WithoutEndOfLines(const std::string& data, int keep) {
    std::string bits, kept, out;
    for (std::size_t i = 0; i < data.size() * 8; ++i) bits += char('0' + ((data[i / 8] >> (7 - i % 8)) & 1));
    const std::string eol = "000000000001";
    std::vector<std::size_t> codes;
    for (std::size_t at = bits.find(eol); at != std::string::npos; at = bits.find(eol, at + eol.size())) codes.push_back(at);
    std::size_t from = 0;
    for (std::size_t i = 0; i + std::size_t(keep) < codes.size(); from = codes[i++] + eol.size()) kept += bits.substr(from, codes[i] - from);
    kept += bits.substr(from) + "0000000";
    for (std::size_t i = 0; i + 8 <= kept.size(); i += 8) out += char(std::stoi(kept.substr(i, 8), nullptr, 2));
    return out;
}

struct FaxCase { std::string name, data, parms; };  // parms: DecodeParms besides Columns and Rows

std::vector<FaxCase> FaxCases(const fs::path& scratch) {
    const auto encode = [&](int compression, int options) { return FaxEncode(Pattern(), kWidth, kHeight, compression, options, scratch); };
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

std::string FaxFilter(const FaxCase& c, bool blackIs1 = false) {
    return "/Filter /CCITTFaxDecode /DecodeParms << /Columns 61 /Rows 23 " + c.parms + (blackIs1 ? " /BlackIs1 true" : "") + " >>";
}

std::string Be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// A JBIG2 segment, embedded organisation: short page association, no referred-to segments.
std::string Segment(std::uint32_t number, int type, int page, const std::string& data) {
    return Be32(number) + char(type) + char(0) + char(page) + Be32(std::uint32_t(data.size())) + data;
}

// A page with one immediate generic region coded with MMR (group 4 data, 1 black, as libtiff writes them).
std::string Jbig2Page(const std::string& mmr, bool endOfPage = true) {
    const std::string pageInfo = Be32(kWidth) + Be32(kHeight) + Be32(0) + Be32(0) + char(0) + std::string(2, '\0');
    const std::string region = Be32(kWidth) + Be32(kHeight) + Be32(0) + Be32(0) + char(0) + char(1) + mmr;
    return Segment(1, 48, 1, pageInfo) + Segment(2, 38, 1, region) + (endOfPage ? Segment(3, 49, 1, "") : "");
}

// Global segments: an ASCII comment, which changes nothing; or an extension marked as one a decoder must know,
// which jbig2dec does not.
std::string Jbig2Globals(bool usable) {
    return usable ? Segment(0, 62, 0, Be32(0x20000000) + std::string("Title\0fixture\0\0", 16))
                  : Segment(0, 62, 0, Be32(0x80000001) + "????");
}

using Images = std::vector<std::pair<std::string, std::string>>;  // resource name, reference

// A one-page file with the images as resources, drawing them all when `draw`.
std::string Document(RawPdf& pdf, const Images& images, bool draw = false) {
    std::string entries, content;
    for (const auto& [name, reference] : images) entries += "/" + name + " " + reference + " ", content += draw ? "/" + name + " Do " : "";
    return BuildDocument(pdf, {{"<< /XObject << " + entries + ">> >>", content}});
}

// The data of every XObject of the first page by resource name; "<none>" when the stream does not decode.
std::map<std::string, std::string> XObjectData(const std::string& file) {
    std::map<std::string, std::string> out;
    auto doc = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(file.begin(), file.end()));
    if (!doc) return out;
    const plat::PdfObject xobjects = doc->GetPageAttribute(1, "Resources").GetDictionaryObject("XObject");
    for (const std::string& key : xobjects.GetDictionaryKeys()) {
        std::vector<std::uint8_t> data;
        plat::PdfDataFormat format = plat::PdfDataFormat::Raw;
        out[key] = xobjects.GetDictionaryObject(key).CopyStreamData(&data, &format) ? Bytes(data) : "<none>";
    }
    return out;
}

// An image file of the pattern's size as a picture, '#' for white.
std::string FilePicture(const fs::path& file) {
    plat::Initialize();
    const vips::VImage image = vips::VImage::new_from_file(file.c_str())[0] > 0;  // 1-bit PNGs load as 0 and 1
    std::size_t size = 0;
    auto* pixels = static_cast<std::uint8_t*>(image.write_to_memory(&size));
    std::string picture;
    for (std::size_t i = 0; i < size; ++i) picture += std::string(pixels[i] ? "#" : ".") + ((i + 1) % kWidth ? "" : "\n");
    g_free(pixels);
    return picture;
}

class Bilevel : public testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE((mmr = FaxEncode(Pattern(), kWidth, kHeight, COMPRESSION_CCITTFAX4, 0, dir.path() / "mmr.tif")).empty()); }

    static std::string Image(RawPdf& pdf, const std::string& filter, const std::string& data) {
        return std::to_string(pdf.AddStream("/Type /XObject /Subtype /Image /Width 61 /Height 23 /BitsPerComponent 1 "
                                            "/ColorSpace /DeviceGray " + filter, data)) + " 0 R";
    }

    static std::string Jbig2Filter(RawPdf& pdf, const std::string& globals = {}, bool flate = false) {
        if (globals.empty()) return "/Filter /JBIG2Decode";
        const int g = flate ? pdf.AddStream("/Filter /FlateDecode", Deflate(globals)) : pdf.AddStream("", globals);
        return "/Filter /JBIG2Decode /DecodeParms << /JBIG2Globals " + std::to_string(g) + " 0 R >>";
    }

    int Extract(const std::string& file) {
        WriteFile(dir.path() / "scan.pdf", file);
        fs::create_directories(out = dir.path() / ("out" + std::to_string(++runs)));
        return ExtractPngImages(dir.path() / "scan.pdf", out);
    }

    TempFolder dir;
    std::string mmr;  // the pattern in group 4
    fs::path out;     // of the last Extract
    int runs = 0;
};

TEST_F(Bilevel, EveryFaxAndJbig2VariantDecodesAndExtractsToTheEncodedPixels) {
    RawPdf pdf;
    Images images;
    std::map<std::string, std::string> expected;
    const auto add = [&](const std::string& name, const std::string& filter, const std::string& data, bool blackIs1) {
        images.emplace_back(name, Image(pdf, filter, data));
        expected[name] = Bytes(Pattern(!blackIs1));
    };
    for (const FaxCase& c : FaxCases(dir.path() / "fax.tif")) {
        ASSERT_FALSE(c.data.empty()) << c.name;
        add(c.name, FaxFilter(c), c.data, false);
        add(c.name + "-BlackIs1", FaxFilter(c, true), c.data, true);
    }
    add("JBIG2", Jbig2Filter(pdf), Jbig2Page(mmr), false);
    add("JBIG2-NoEndOfPage", Jbig2Filter(pdf), Jbig2Page(mmr, false), false);
    add("JBIG2-Globals", Jbig2Filter(pdf, Jbig2Globals(true)), Jbig2Page(mmr, false), false);
    add("JBIG2-DeflatedGlobals", Jbig2Filter(pdf, Jbig2Globals(true), true), Jbig2Page(mmr), false);
    // jbig2dec refuses what it must know and does not; poppler's decoder passes over it.
    add("JBIG2-UnknownExtensionInGlobals", Jbig2Filter(pdf, Jbig2Globals(false)), Jbig2Page(mmr), false);
    const std::string file = Document(pdf, images, true);
    const auto data = XObjectData(file);
    ASSERT_EQ(data.size(), expected.size());
    for (const auto& [name, bytes] : expected) EXPECT_EQ(Picture(data.at(name)), Picture(bytes)) << name;

    // Files are numbered, not named after the resources: compare sets of pictures ('#' for white, as the decoded 1).
    ASSERT_EQ(Extract(file), 1);
    std::multiset<std::string> ours, wanted;
    plat::Initialize();
    for (const std::string& name : FileNames(out)) ours.insert(FilePicture(out / name));
    for (const auto& [name, rows] : expected) wanted.insert(Picture(rows));
    EXPECT_EQ(ours, wanted);
}

// Undecodable data fail; byte flips and cuts anywhere in fax and JBIG2 data decode to the full size or fail,
// without reading or writing out of bounds.
TEST_F(Bilevel, UndecodableDataFailAndDamagedDataDecodeOrFail) {
    RawPdf pdf;
    const std::string page = Jbig2Page(mmr);
    std::string badLength = page;
    badLength[9] = '\x7F';  // the page information claims more data than follow
    const std::string fax = "/Filter /CCITTFaxDecode /DecodeParms << /K 0 /Columns 8 >>";
    Images images = {{"FaxEmpty", std::to_string(pdf.AddStream("/Width 8 /Height 2 " + fax, "")) + " 0 R"},
                     {"FaxNoRow", std::to_string(pdf.AddStream("/Width 8 /Height 0 " + fax, "\x80")) + " 0 R"},
                     {"Truncated", Image(pdf, Jbig2Filter(pdf), page.substr(0, page.size() / 2))},
                     {"BadLength", Image(pdf, Jbig2Filter(pdf), badLength)},
                     {"GlobalsNoStream", Image(pdf, "/Filter /JBIG2Decode /DecodeParms << /JBIG2Globals (not a stream) >>", page)},
                     {"Empty", Image(pdf, Jbig2Filter(pdf), "")},
                     {"NoPage", Image(pdf, Jbig2Filter(pdf), Segment(1, 49, 1, ""))}};
    std::vector<std::pair<std::string, std::string>> streams;  // filter entries, data
    for (const FaxCase& c : FaxCases(dir.path() / "fax.tif")) streams.emplace_back(FaxFilter(c), c.data);
    streams.emplace_back("/Filter /JBIG2Decode", page);
    std::mt19937 random(11);
    for (const auto& [filter, data] : streams) {
        for (int copy = 0; copy < 40; ++copy) {
            std::string damaged = data;
            if (copy % 4 == 3) damaged.resize(random() % damaged.size());
            for (int i = 0; copy % 4 != 3 && i <= copy % 4; ++i) damaged[random() % damaged.size()] = char(random());
            images.emplace_back("Damaged" + std::to_string(images.size()), Image(pdf, filter, damaged));
        }
    }
    const auto data = XObjectData(Document(pdf, images));
    ASSERT_EQ(data.size(), images.size());
    for (const auto& [name, bytes] : data) {
        if (name.starts_with("Damaged")) EXPECT_TRUE(bytes == "<none>" || bytes.size() == 8u * kHeight) << name << ": " << bytes.size();
        else EXPECT_EQ(bytes, "<none>") << name;
    }
}

TEST_F(Bilevel, AnImageThatFailsToDecodeFailsTheRun) {
    RawPdf pdf, alone;
    const std::string page = Jbig2Page(mmr);
    // The readable image is still written; the result says one was not.
    EXPECT_EQ(Extract(Document(pdf, {{"A", Image(pdf, Jbig2Filter(pdf), page)},
                                     {"B", Image(pdf, Jbig2Filter(pdf), page.substr(0, page.size() - 9))}})), 0);
    EXPECT_EQ(FileNames(out), std::vector<std::string>{"scan_Page1_1.png"});
    EXPECT_EQ(Extract(Document(alone, {{"B", Image(alone, Jbig2Filter(alone), page.substr(0, 40))}})), 0);
    EXPECT_TRUE(FileNames(out).empty());
}

// jbig2dec implements no intermediate generic region, and refuses a refinement of one; poppler's decoder draws
// it, and the picture is poppler's, as pdfimages gives it. An intermediate region alone shows nothing: jbig2dec
// refuses it and poppler's page is white, which no second decoder confirms: a failure, never a white file.
TEST_F(Bilevel, Jbig2PicturesComeFromTheDecoderThatReadsThem) {
    const std::string pageInfo = Be32(kWidth) + Be32(kHeight) + Be32(0) + Be32(0) + char(0) + std::string(2, '\0');
    const std::string regionInfo = Be32(kWidth) + Be32(kHeight) + Be32(0) + Be32(0) + char(0);
    // Segment 3, an immediate refinement region (template 1, typical prediction) of segment 2; its arithmetic
    // data end at once.
    const std::string refinement = Be32(3) + char(42) + char(0x20) + char(2) + char(1) + Be32(20) + regionInfo + char(3) + "\xFF\xAC";
    const std::string intermediate = Segment(1, 48, 1, pageInfo) + Segment(2, 36, 1, regionInfo + char(1) + mmr);
    RawPdf pdf, alone;
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(Extract(Document(pdf, {{"R", Image(pdf, Jbig2Filter(pdf), intermediate + refinement + Segment(4, 49, 1, ""))}}, true)), 1);
        ASSERT_EQ(FileNames(out).size(), 1u);
        const std::string ours = FilePicture(out / FileNames(out)[0]);
        EXPECT_NE(ours.find('.'), std::string::npos) << "some black";
        const fs::path poppler = dir.path() / "poppler";
        fs::create_directories(poppler);
        ASSERT_TRUE(RunTool({"pdfimages", "-png", (dir.path() / "scan.pdf").string(), (poppler / "image").string()}));
        ASSERT_EQ(FileNames(poppler).size(), 1u);
        EXPECT_EQ(ours, FilePicture(poppler / FileNames(poppler)[0]));
    }
    EXPECT_EQ(Extract(Document(alone, {{"I", Image(alone, Jbig2Filter(alone), intermediate + Segment(4, 49, 1, ""))}}, true)), 0);
    EXPECT_TRUE(FileNames(out).empty());
}

}  // namespace
