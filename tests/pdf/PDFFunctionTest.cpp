#include "pdf/PDFFunction.h"

#include "PdfTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace pdftest;

namespace {

// Loads the function written as `body` (a dictionary, or a stream when
// `data` is given), referenced from the page resources.
class FunctionFixture {
public:
    FunctionFixture(const std::string& entries, const std::string* data = nullptr) {
        RawPdf pdf;
        const int object = data ? pdf.AddStream(entries, *data) : pdf.Add("<< " + entries + " >>");
        const std::string bytes =
            BuildDocument(pdf, {{"<< /Fn " + std::to_string(object) + " 0 R >>", ""}});
        file_ = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end()));
        InitPDFFunction(&function);
        if (file_) LoadPDFFunction(&function, file_->GetPageAttribute(1, "Resources").GetDictionaryObject("Fn"));
        if (function.type == 4) PrepareCalculatorProgram(&function);
    }
    ~FunctionFixture() { DestroyPDFFunction(&function); }

    std::vector<double> Eval(std::vector<double> inputs) {
        EvaluatePDFFunction(&function, inputs.data(), inputs.size());
        return function.outputs;
    }

    PDFFunction function;

private:
    std::unique_ptr<plat::PdfObjectFile> file_;
};

void ExpectNear(const std::vector<double>& got, const std::vector<double>& expected, const std::string& what) {
    ASSERT_EQ(got.size(), expected.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], 1e-6) << what << " output " << i;
}

TEST(PDFFunction, SampledTakesTheNearestSample) {
    const std::string samples("\x00\xFF", 2);
    FunctionFixture f("/FunctionType 0 /Size [2] /Domain [0 1] /Range [0 1] /BitsPerSample 8", &samples);
    ExpectNear(f.Eval({0.49}), {0.0}, "0.49");
    ExpectNear(f.Eval({0.5}), {1.0}, "0.5");
    ExpectNear(f.Eval({7.0}), {1.0}, "clipped to the domain");
}

TEST(PDFFunction, SubByteAndTwelveBitSamplesFormOneBitStream) {
    // Four 4-bit samples: 0, 15, 5, 10; two outputs per sample point.
    const std::string four("\x0F\x5A", 2);
    FunctionFixture f4("/FunctionType 0 /Size [2] /Domain [0 1] /Range [0 1 0 1] /BitsPerSample 4", &four);
    ExpectNear(f4.Eval({0.0}), {0.0, 1.0}, "4-bit first point");
    ExpectNear(f4.Eval({1.0}), {5.0 / 15, 10.0 / 15}, "4-bit second point");
    // Two 12-bit samples 0x000 and 0xFFF packed in three bytes.
    const std::string twelve("\x00\x0F\xFF", 3);
    FunctionFixture f12("/FunctionType 0 /Size [2] /Domain [0 1] /Range [0 1] /BitsPerSample 12", &twelve);
    ExpectNear(f12.Eval({1.0}), {1.0}, "12-bit");
    // 1-bit samples in a 3 x 2 grid, no row padding.
    const std::string one("\x5A", 1);  // 0 1 0 / 1 1 0 ...
    FunctionFixture f1("/FunctionType 0 /Size [3 2] /Domain [0 1 0 1] /Range [0 1] /BitsPerSample 1", &one);
    ExpectNear(f1.Eval({0.5, 0.0}), {1.0}, "1-bit (1,0)");
    ExpectNear(f1.Eval({0.0, 1.0}), {1.0}, "1-bit (0,1)");
    ExpectNear(f1.Eval({1.0, 1.0}), {0.0}, "1-bit (2,1)");
}

TEST(PDFFunction, SampledFunctionsShortOfDataOrArraysStayUnevaluated) {
    const std::string samples("\x80", 1);
    FunctionFixture noSize("/FunctionType 0 /Domain [0 1] /Range [0 1] /BitsPerSample 8", &samples);
    ExpectNear(noSize.Eval({1.0}), {0.0}, "no Size");
    FunctionFixture huge("/FunctionType 0 /Size [1000000 1000000] /Domain [0 1 0 1] /Range [0 1] /BitsPerSample 8",
                         &samples);
    ExpectNear(huge.Eval({1.0, 1.0}), {0.0}, "sizes beyond the data");
    FunctionFixture badBits("/FunctionType 0 /Size [1] /Domain [0 1] /Range [0 1] /BitsPerSample 7", &samples);
    ExpectNear(badBits.Eval({1.0}), {0.0}, "7 bits");
}

TEST(PDFFunction, Exponential) {
    FunctionFixture f("/FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [1 0.5 0] /N 2");
    ExpectNear(f.Eval({0.5}), {0.25, 0.125, 0.0}, "N 2");
    FunctionFixture real("/FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1.0");
    ExpectNear(real.Eval({0.25}), {0.25}, "N written as a real");
    FunctionFixture defaults("/FunctionType 2 /Domain [0 1] /N 1");
    ExpectNear(defaults.Eval({0.75}), {0.75}, "C0 and C1 defaults");
    FunctionFixture ranged("/FunctionType 2 /Domain [0 2] /C0 [0] /C1 [1] /N 1 /Range [0 1]");
    ExpectNear(ranged.Eval({2.0}), {1.0}, "clipped to the range");
    FunctionFixture negative("/FunctionType 2 /Domain [-1 1] /C0 [0] /C1 [1] /N 0.5");
    ExpectNear(negative.Eval({-1.0}), {0.0}, "NaN becomes a number");
}

TEST(PDFFunction, StitchingFollowsThePdfRule) {
    FunctionFixture f("/FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 1 0] /Functions ["
                      "<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >> "
                      "<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >> ]");
    ExpectNear(f.Eval({0.25}), {0.5}, "first half");
    ExpectNear(f.Eval({0.75}), {0.5}, "second half, reversed encode");
    ExpectNear(f.Eval({0.5}), {1.0}, "bound belongs to the upper part");
    ExpectNear(f.Eval({1.0}), {0.0}, "domain end");
    ExpectNear(f.Eval({-3.0}), {0.0}, "clipped below");
    FunctionFixture single("/FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Functions ["
                           "<< /FunctionType 2 /Domain [0 1] /C0 [0 1] /C1 [1 0] /N 1 >> ]");
    ExpectNear(single.Eval({0.25}), {0.25, 0.75}, "one sub-function, empty bounds");
    EXPECT_EQ(single.function.outputCount, 2);
    FunctionFixture broken("/FunctionType 3 /Domain [0 1] /Bounds [0.2 0.4] /Encode [0 1] /Functions ["
                           "<< /FunctionType 2 /C1 [1] /N 1 >> ]");
    ExpectNear(broken.Eval({0.5}), {}, "bounds that do not fit the functions");
}

TEST(PDFFunction, Calculator) {
    const std::string invert = "{ 1 exch sub }";
    FunctionFixture f("/FunctionType 4 /Domain [0 1] /Range [0 1]", &invert);
    ExpectNear(f.Eval({0.25}), {0.75}, "1 exch sub");
    const std::string three = "{ pop 0.1 0.2 0.3 }";
    FunctionFixture deepest("/FunctionType 4 /Domain [0 1] /Range [0 1]", &three);
    ExpectNear(deepest.Eval({0.5}), {0.1}, "deepest of three");
    const std::string cmyk = "{ dup 0.5 mul exch dup 0 exch }";
    FunctionFixture four("/FunctionType 4 /Domain [0 1] /Range [0 1 0 1 0 1 0 1]", &cmyk);
    ExpectNear(four.Eval({0.8}), {0.4, 0.8, 0.0, 0.8}, "four outputs");
    const std::string boolean = "{ pop 0.3 true }";
    FunctionFixture withBoolean("/FunctionType 4 /Domain [0 1] /Range [0 1 0 1]", &boolean);
    ExpectNear(withBoolean.Eval({0.5}), {0.3, 0.3}, "a boolean repeats the last value");
    const std::string flate = Deflate("{ 2 mul }");
    FunctionFixture filtered("/FunctionType 4 /Filter /FlateDecode /Domain [0 1] /Range [0 10]", &flate);
    ExpectNear(filtered.Eval({0.5}), {1.0}, "compressed program");
}

TEST(PDFFunction, SelfNestedStitchingStaysBounded) {
    RawPdf pdf;
    const int self = pdf.Reserve();
    pdf.Set(self, "<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] /Functions [" + std::to_string(self) +
                      " 0 R] >>");
    const std::string bytes = BuildDocument(pdf, {{"<< /Fn " + std::to_string(self) + " 0 R >>", ""}});
    auto file = plat::PdfObjectFile::OpenData(std::make_shared<const std::vector<char>>(bytes.begin(), bytes.end()));
    ASSERT_TRUE(file);
    PDFFunction f;
    LoadPDFFunction(&f, file->GetPageAttribute(1, "Resources").GetDictionaryObject("Fn"));
    const double x = 0.5;
    EvaluatePDFFunction(&f, &x, 1);
    EXPECT_TRUE(f.outputs.empty());
}

}  // namespace
