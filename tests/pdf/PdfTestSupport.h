#pragma once
// PDF fixtures written as raw objects, and small helpers of the PDF tests.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pdftest {

// Builds a PDF file object by object. Object numbers start at 1 in the
// order of Add; the catalogue must be one of them (Root names it).
class RawPdf {
public:
    // Adds an object (the text between "N 0 obj" and "endobj"); returns its number.
    int Add(const std::string& body);
    // Adds a stream with the dictionary entries given (without Length).
    int AddStream(const std::string& dictEntries, const std::string& data);
    // Reserves a number to fill in later with Set.
    int Reserve();
    void Set(int number, const std::string& body);
    // The whole file with cross-reference table and trailer.
    std::string Build(int root) const;

private:
    std::vector<std::string> bodies_;
};

// A document of pages in a Pages node: each entry is a page's resources
// dictionary and content stream. Returns the file.
struct PageSpec {
    std::string resources;  // "<< ... >>" or empty
    std::string content;
};
std::string BuildDocument(RawPdf& pdf, const std::vector<PageSpec>& pages, const std::string& treeResources = {});

// A one-page form with a filled text field "name" whose widget shows the
// value (plain characters, no parentheses) through its appearance stream.
std::string FormPdf(const std::string& value);

std::string Deflate(const std::string& data);
std::string AsciiHex(const std::string& data);
std::string Bytes(const std::vector<std::uint8_t>& data);

// The file encrypted with AES-256 and the passwords given.
std::string Encrypt(const std::string& pdf, const std::string& userPassword, const std::string& ownerPassword);

// A bilevel image (rows of (width + 7) / 8 bytes, 1 black) compressed by
// libtiff with one of its fax schemes (COMPRESSION_CCITTFAX3 with
// `group3Options`, COMPRESSION_CCITTFAX4, COMPRESSION_CCITTRLE): the bytes
// of its one strip. `scratch` is a file the encoder may use.
std::string FaxEncode(const std::vector<std::uint8_t>& rows, int width, int height, int compression,
                      int group3Options, const std::filesystem::path& scratch);

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// ExtractImagesFromPDF of `source` into `folder` as PNG files; its result.
int ExtractPngImages(const std::filesystem::path& source, const std::filesystem::path& folder);
// ConvertPDFPagesToImages of every page of `source` into `folder` as PNG files at 36 dpi; its result.
int RenderPngPages(const std::filesystem::path& source, const std::filesystem::path& folder);

// The names of the entries of a folder, sorted.
std::vector<std::string> FileNames(const std::filesystem::path& folder);
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);

// A private, empty folder removed at the end of the test.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs /usr/bin/<argv[0]> with the arguments; true when it exits with 0.
bool RunTool(const std::vector<std::string>& argv);
bool HaveTool(const std::string& name);

}  // namespace pdftest
