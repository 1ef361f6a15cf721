#include "PdfTestSupport.h"

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
#include <tiffio.h>
#include <zlib.h>

#include "engine/PdfPages.h"
#include "pdf/PDFImageExtractor.h"
#include "platform/ToolRunner.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <cstdio>
#include <iterator>
#include <random>

namespace pdftest {

int RawPdf::Add(const std::string& body) {
    bodies_.push_back(body);
    return static_cast<int>(bodies_.size());
}

int RawPdf::AddStream(const std::string& dictEntries, const std::string& data) {
    return Add("<< " + dictEntries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
               "\nendstream");
}

int RawPdf::Reserve() { return Add("null"); }

void RawPdf::Set(int number, const std::string& body) { bodies_.at(static_cast<std::size_t>(number - 1)) = body; }

std::string RawPdf::Build(int root) const {
    std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < bodies_.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + bodies_[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(bodies_.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(bodies_.size() + 1) + " /Root " + std::to_string(root) +
           " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

std::string BuildDocument(RawPdf& pdf, const std::vector<PageSpec>& pages, const std::string& treeResources) {
    const int tree = pdf.Reserve();
    std::string kids;
    for (const PageSpec& page : pages) {
        const int content = pdf.AddStream("", page.content);
        std::string body = "<< /Type /Page /Parent " + std::to_string(tree) + " 0 R /Contents " +
                           std::to_string(content) + " 0 R";
        if (!page.resources.empty()) body += " /Resources " + page.resources;
        body += " >>";
        kids += std::to_string(pdf.Add(body)) + " 0 R ";
    }
    std::string treeBody = "<< /Type /Pages /MediaBox [0 0 200 200] /Count " + std::to_string(pages.size()) +
                           " /Kids [" + kids + "]";
    if (!treeResources.empty()) treeBody += " /Resources " + treeResources;
    pdf.Set(tree, treeBody + " >>");
    const int catalog = pdf.Add("<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R >>");
    return pdf.Build(catalog);
}

std::string FormPdf(const std::string& value) {
    RawPdf pdf;
    const int font = pdf.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int appearance = pdf.AddStream("/Type /XObject /Subtype /Form /BBox [0 0 180 30] /Resources << /Font << "
                                         "/Helv " + std::to_string(font) + " 0 R >> >>",
                                         "/Tx BMC BT /Helv 12 Tf 2 10 Td (" + value + ") Tj ET EMC");
    const int field = pdf.Reserve();
    const int page = pdf.Reserve();
    const int tree = pdf.Add("<< /Type /Pages /Count 1 /Kids [" + std::to_string(page) + " 0 R] >>");
    pdf.Set(field, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (" + value + ")" +
                       " /Rect [10 10 190 40] /F 4 /DA (/Helv 12 Tf 0 g) /P " + std::to_string(page) +
                       " 0 R /AP << /N " + std::to_string(appearance) + " 0 R >> >>");
    pdf.Set(page, "<< /Type /Page /Parent " + std::to_string(tree) + " 0 R /MediaBox [0 0 200 50] /Annots [" +
                      std::to_string(field) + " 0 R] >>");
    const int catalog = pdf.Add("<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R /AcroForm << /Fields [" +
                                std::to_string(field) + " 0 R] /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv " +
                                std::to_string(font) + " 0 R >> >> >> >>");
    return pdf.Build(catalog);
}

std::string Deflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
             static_cast<uLong>(data.size()));
    out.resize(size);
    return out;
}

std::string AsciiHex(const std::string& data) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : data) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out + ">";
}

std::string Bytes(const std::vector<std::uint8_t>& data) { return std::string(data.begin(), data.end()); }

std::string Encrypt(const std::string& pdfBytes, const std::string& userPassword, const std::string& ownerPassword) {
    QPDF pdf;
    pdf.processMemoryFile("fixture", pdfBytes.data(), pdfBytes.size());
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setR6EncryptionParameters(userPassword.c_str(), ownerPassword.c_str(), true, true, true, true, true, true,
                                     qpdf_r3p_full, true);
    writer.write();
    auto buffer = writer.getBufferSharedPointer();
    return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

std::string FaxEncode(const std::vector<std::uint8_t>& rows, int width, int height, int compression,
                      int group3Options, const std::filesystem::path& scratch) {
    TIFF* tiff = TIFFOpen(scratch.c_str(), "w");
    if (!tiff) return {};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, group3Options);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
    TIFFWriteEncodedStrip(tiff, 0, const_cast<std::uint8_t*>(rows.data()), tmsize_t((width + 7) / 8 * height));
    TIFFClose(tiff);
    tiff = TIFFOpen(scratch.c_str(), "r");
    if (!tiff) return {};
    std::string raw(std::size_t(TIFFRawStripSize(tiff, 0)), '\0');
    TIFFReadRawStrip(tiff, 0, raw.data(), tmsize_t(raw.size()));
    TIFFClose(tiff);
    return raw;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int ExtractPngImages(const std::filesystem::path& source, const std::filesystem::path& folder) {
    ImageConversion conversion;
    conversion.sourceURL = source;
    conversion.destinationURL = folder;
    conversion.options.outputType = 7;
    return ExtractImagesFromPDF(&conversion);
}

int RenderPngPages(const std::filesystem::path& source, const std::filesystem::path& folder) {
    ImageConversion record;
    record.sourceURL = source;
    record.destinationURL = folder;
    record.options.outputType = 7;
    record.options.outputDPI = 36;
    return ConvertPDFPagesToImages(&record);
}

std::vector<std::string> FileNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TempFolder::TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("vantrell-pdf-test-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool RunTool(const std::vector<std::string>& argv) {
    plat::ToolRunner runner;
    return runner.run("/usr/bin/" + argv.at(0), argv).succeeded();
}

bool HaveTool(const std::string& name) { return access(("/usr/bin/" + name).c_str(), X_OK) == 0; }

}  // namespace pdftest
