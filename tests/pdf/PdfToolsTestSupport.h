#pragma once
// Fixtures for the PDF tool tests: image files and text PDFs made in code,
// poppler-utils and qpdf run on the results, and a progress target that
// records what it was told.

#include "engine/ConverterTestSupport.h"
#include "engine/ImageConversion.h"

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace pdftest {

using convtest::ScratchDir;

// Runs a command line made of quoted arguments; its standard output, and
// whether it exited with 0.
struct CommandResult {
    bool ok = false;
    std::string output;
};

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

// `part` written `count` times, for inputs that repeat a fragment.
inline std::string Repeat(const std::string& part, std::size_t count) {
    std::string text;
    for (text.reserve(part.size() * count); count--;) text += part;
    return text;
}

inline CommandResult RunCommand(const std::vector<std::string>& arguments) {
    std::string line;
    for (const auto& argument : arguments) line += Quote(argument) + " ";
    line += "2>/dev/null";
    CommandResult result;
    FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    result.ok = ::pclose(pipe) == 0;
    return result;
}

// Page count and page sizes (points, rotation applied) by pdfinfo.
struct PdfInfo {
    bool ok = false;
    int pages = 0;
    std::vector<std::pair<double, double>> sizes;
    std::vector<int> rotations;
    std::string encrypted;  // pdfinfo's "Encrypted:" line
};

inline PdfInfo ReadPdfInfo(const std::filesystem::path& file, const std::string& password = {}) {
    std::vector<std::string> arguments = {"pdfinfo", "-f", "1", "-l", "100000"};
    if (!password.empty()) arguments.insert(arguments.end(), {"-upw", password});
    arguments.push_back(file.string());
    const CommandResult run = RunCommand(arguments);
    PdfInfo info;
    info.ok = run.ok;
    std::smatch m;
    std::string text = run.output;
    static const std::regex pages(R"(Pages:\s+(\d+))");
    if (std::regex_search(text, m, pages)) info.pages = std::stoi(m[1]);
    static const std::regex size(R"(Page\s+\d+ size:\s+([\d.]+) x ([\d.]+))");
    static const std::regex rot(R"(Page\s+\d+ rot:\s+(-?\d+))");
    for (std::sregex_iterator it(text.begin(), text.end(), size), end; it != end; ++it) {
        info.sizes.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    }
    for (std::sregex_iterator it(text.begin(), text.end(), rot), end; it != end; ++it) {
        info.rotations.push_back(std::stoi((*it)[1]));
    }
    static const std::regex encrypted(R"(Encrypted:\s+([^\n]*))");
    if (std::regex_search(text, m, encrypted)) info.encrypted = m[1];
    return info;
}

inline std::string PdfText(const std::filesystem::path& file, const std::string& password = {}) {
    std::vector<std::string> arguments = {"pdftotext", "-layout"};
    if (!password.empty()) arguments.insert(arguments.end(), {"-upw", password});
    arguments.insert(arguments.end(), {file.string(), "-"});
    return RunCommand(arguments).output;
}

inline bool QpdfCheck(const std::filesystem::path& file, const std::string& password = {}) {
    std::vector<std::string> arguments = {"qpdf", "--check"};
    if (!password.empty()) arguments.push_back("--password=" + password);
    arguments.push_back(file.string());
    return RunCommand(arguments).ok;
}

// A PDF whose pages each show the given lines of text in Helvetica, with an
// optional outline entry per page and optional encryption.
struct TextPdfOptions {
    double width = 612;
    double height = 792;
    int rotate = 0;
    bool outline = false;
    std::string userPassword = {};
    std::string ownerPassword = {};
    bool allowPrinting = true;
};

inline std::string PdfLiteral(const std::string& text) {
    std::string out = "(";
    for (char c : text) {
        if (c == '(' || c == ')' || c == '\\') out += '\\';
        out += c;
    }
    return out + ")";
}

inline void WriteTextPdf(const std::filesystem::path& path, const std::vector<std::vector<std::string>>& pages,
                         const TextPdfOptions& options = {}) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle font = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
    QPDFPageDocumentHelper helper(pdf);
    std::vector<QPDFObjectHandle> pageObjects;
    for (const auto& lines : pages) {
        std::string content = "BT /F1 12 Tf 72 " + std::to_string(options.height - 72) + " Td 14 TL\n";
        for (const auto& line : lines) content += PdfLiteral(line) + " '\n";
        content += "ET\n";
        QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 " +
                                                        std::to_string(options.width) + " " +
                                                        std::to_string(options.height) + "] >>");
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
        fonts.replaceKey("/F1", font);
        resources.replaceKey("/Font", fonts);
        page.replaceKey("/Resources", resources);
        if (options.rotate) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(options.rotate));
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
        QPDFObjectHandle indirect = pdf.makeIndirectObject(page);
        helper.addPage(QPDFPageObjectHelper(indirect), false);
        pageObjects.push_back(indirect);
    }
    if (options.outline && !pageObjects.empty()) {
        QPDFObjectHandle outlines = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Outlines >>"));
        QPDFObjectHandle previous;
        for (std::size_t i = 0; i < pageObjects.size(); ++i) {
            QPDFObjectHandle item = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
            item.replaceKey("/Title", QPDFObjectHandle::newUnicodeString("Chapter " + std::to_string(i + 1)));
            item.replaceKey("/Parent", outlines);
            QPDFObjectHandle dest = QPDFObjectHandle::parse("[null /XYZ null null null]");
            dest.setArrayItem(0, pageObjects[i]);
            item.replaceKey("/Dest", dest);
            if (previous.isInitialized()) {
                previous.replaceKey("/Next", item);
                item.replaceKey("/Prev", previous);
            } else {
                outlines.replaceKey("/First", item);
            }
            outlines.replaceKey("/Last", item);
            previous = item;
        }
        outlines.replaceKey("/Count", QPDFObjectHandle::newInteger(static_cast<long long>(pageObjects.size())));
        pdf.getRoot().replaceKey("/Outlines", outlines);
    }
    QPDFWriter writer(pdf, path.c_str());
    writer.setStaticID(true);
    if (!options.userPassword.empty() || !options.ownerPassword.empty()) {
        writer.setR6EncryptionParameters(options.userPassword.c_str(), options.ownerPassword.c_str(), true, true,
                                         true, true, true, true,
                                         options.allowPrinting ? qpdf_r3p_full : qpdf_r3p_none, true);
    }
    writer.write();
}

// A PDF of 200 x 100 point pages with the given content streams, Helvetica
// available as /F1.
inline void WriteContentPdf(const std::filesystem::path& path, const std::vector<std::string>& contents) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper helper(pdf);
    for (const std::string& content : contents) {
        QPDFObjectHandle page = QPDFObjectHandle::parse(
            "<< /Type /Page /MediaBox [0 0 200 100] /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 "
            "/BaseFont /Helvetica >> >> >> >>");
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
        helper.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    QPDFWriter writer(pdf, path.c_str());
    writer.write();
}

// The outline titles of a PDF, depth-first, children indented by two spaces,
// each with the 1-based page it points at ("Title@3").
inline void CollectOutline(QPDF& pdf, QPDFObjectHandle item, const std::string& indent,
                           std::vector<std::string>& out, int depth = 0) {
    std::vector<QPDFObjectHandle> pages;
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) pages.push_back(page.getObjectHandle());
    for (int guard = 0; item.isDictionary() && guard < 1000 && depth < 20; ++guard) {
        std::string title = item.getKey("/Title").isString() ? item.getKey("/Title").getUTF8Value() : "";
        QPDFObjectHandle dest = item.getKey("/Dest");
        int pageNumber = 0;
        if (dest.isArray() && dest.getArrayNItems() > 0) {
            for (std::size_t i = 0; i < pages.size(); ++i) {
                if (pages[i].getObjGen() == dest.getArrayItem(0).getObjGen()) pageNumber = int(i) + 1;
            }
        }
        out.push_back(indent + title + "@" + std::to_string(pageNumber));
        CollectOutline(pdf, item.getKey("/First"), indent + "  ", out, depth + 1);
        item = item.getKey("/Next");
    }
}

inline std::vector<std::string> OutlineTitles(const std::filesystem::path& path, const std::string& password = {}) {
    QPDF pdf;
    pdf.processFile(path.c_str(), password.empty() ? nullptr : password.c_str());
    std::vector<std::string> out;
    CollectOutline(pdf, pdf.getRoot().getKey("/Outlines").getKey("/First"), "", out);
    return out;
}

// Records progress values; answers cancelled once `cancelAfter` reports
// have arrived (never when negative).
class RecordingTarget : public ProgressTarget {
public:
    explicit RecordingTarget(int cancelAfter = -1) : cancelAfter_(cancelAfter) {}
    void reportProgress(std::int64_t value) override { values.push_back(value); }
    bool isConversionCancelled() override {
        return cancelAfter_ >= 0 && static_cast<int>(values.size()) >= cancelAfter_;
    }
    std::vector<std::int64_t> values;

private:
    int cancelAfter_;
};

inline ProgressCallbackInfo Progress(const std::shared_ptr<RecordingTarget>& target) {
    ProgressCallbackInfo info;
    info.target = target;
    info.selector = &ProgressTarget::reportProgress;
    return info;
}

class PdfToolsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { plat::Initialize(); }
    ScratchDir dir;
};

}  // namespace pdftest
