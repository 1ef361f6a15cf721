#pragma once
// Builds small PDF files for tests with qpdf: pages with given boxes,
// rotation and content, optionally encrypted.

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

namespace vantrell_test {

struct TestPdfPage {
    std::string mediaBox = "[0 0 200 100]";
    std::string cropBox;  // empty: none
    int rotate = 0;
    // Default: the lower-left quarter red, the rest left white.
    std::string content = "1 0 0 rg 0 0 100 50 re f";
    std::string resources = "<< >>";
};

struct TestPdfPassword {
    std::string user;
    std::string owner;
};

inline void WriteTestPdf(const std::filesystem::path& path, const std::vector<TestPdfPage>& pages,
                         const TestPdfPassword* password = nullptr) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper helper(pdf);
    for (const TestPdfPage& p : pages) {
        std::string dict = "<< /Type /Page /MediaBox " + p.mediaBox + " /Resources " + p.resources;
        if (!p.cropBox.empty()) {
            dict += " /CropBox " + p.cropBox;
        }
        if (p.rotate != 0) {
            dict += " /Rotate " + std::to_string(p.rotate);
        }
        dict += " >>";
        QPDFObjectHandle page = QPDFObjectHandle::parse(dict);
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, p.content));
        helper.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    QPDFWriter writer(pdf, path.c_str());
    writer.setStaticID(true);
    if (password) {
        writer.setR6EncryptionParameters(password->user.c_str(), password->owner.c_str(), true, true, true,
                                         true, true, true, qpdf_r3p_full, true);
    }
    writer.write();
}

inline std::vector<TestPdfPage> TestPdfPages(int count) {
    return std::vector<TestPdfPage>(static_cast<std::size_t>(count));
}

// A fresh temporary folder per test, removed with the object.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantrell-test-XXXXXX").string();
        if (char* made = ::mkdtemp(pattern.data())) {
            path_ = made;
        }
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace vantrell_test
