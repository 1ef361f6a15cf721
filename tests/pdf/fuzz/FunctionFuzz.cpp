// libFuzzer target: PDF function objects. The input is the text of one PDF
// object (a dictionary, or a stream) placed in a page's resources.
#include "pdf/PDFFunction.h"

#include "PdfTestSupport.h"

#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pdftest::RawPdf pdf;
    const int function = pdf.Add(std::string(reinterpret_cast<const char*>(data), size));
    const std::string bytes = pdftest::BuildDocument(pdf, {{"<< /Fn " + std::to_string(function) + " 0 R >>", ""}});
    auto file = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end()));
    if (!file) return 0;
    PDFFunction f;
    InitPDFFunction(&f);
    LoadPDFFunction(&f, file->GetPageAttribute(1, "Resources").GetDictionaryObject("Fn"));
    PrepareCalculatorProgram(&f);
    const double inputs[] = {0.0, 0.5, 1.0, -3.0};
    for (std::size_t n = 1; n <= 4; ++n) EvaluatePDFFunction(&f, inputs, n);
    DestroyPDFFunction(&f);
    return 0;
}
