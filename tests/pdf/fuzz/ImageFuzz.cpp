// libFuzzer target: PDF image objects. The input is the image dictionary's
// entries, a NUL byte, then the stream data; an input that starts with "J"
// is handed whole (after the "J") to the JPEG 2000 decoder.
#include "pdf/JPEG2000Decoding.h"
#include "pdf/PDFImage.h"

#include "PdfTestSupport.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] == 'J') {
        std::vector<std::uint8_t> samples;
        std::int32_t model = 0;
        std::int64_t components = 0;
        DecodeJPEG2000Data(std::span<const std::uint8_t>(data + 1, size - 1), &samples, &model, &components);
        return 0;
    }
    const auto* end = data + size;
    const auto* split = std::find(data, end, std::uint8_t{0});
    const std::string entries(reinterpret_cast<const char*>(data), static_cast<std::size_t>(split - data));
    const std::string stream = split == end ? std::string() : std::string(reinterpret_cast<const char*>(split + 1),
                                                                          static_cast<std::size_t>(end - split - 1));
    pdftest::RawPdf pdf;
    const int image = pdf.AddStream("/Type /XObject /Subtype /Image " + entries, stream);
    const std::string bytes = pdftest::BuildDocument(
        pdf, {{"<< /XObject << /I " + std::to_string(image) + " 0 R >> >>",
               "BI " + entries + " ID " + stream + " EI"}});
    auto file = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end()));
    if (!file) return 0;
    const plat::PdfObject object =
        file->GetPageAttribute(1, "Resources").GetDictionaryObject("XObject").GetDictionaryObject("I");
    CreateImageFromPDFStream(nullptr, object.GetStreamDictionary(), object);
    const std::string_view ops[] = {"EI"};
    file->ScanPageContent(1, ops, [](std::string_view, std::span<const plat::PdfObject> operands) {
        CreateImageFromPDFStream(nullptr, operands[0], operands[0]);
    });
    return 0;
}
