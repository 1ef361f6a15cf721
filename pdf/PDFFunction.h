#pragma once
// PDF function objects (types 0 sampled, 2 exponential, 3 stitching and
// 4 PostScript calculator), loaded from the file and evaluated on numbers:
// the tint transforms of Separation and DeviceN colour spaces.

#include "pdf/PostScriptCalculator.h"
#include "platform/PdfObject.h"

#include <cstdint>
#include <memory>
#include <vector>

struct PDFFunction {
    std::vector<std::uint8_t> data;  // samples (type 0) or program text (type 4)
    std::int32_t type = 0;
    std::int32_t bitsPerSample = 0;
    std::vector<double> domain;
    std::vector<double> range;
    std::vector<double> size;
    std::vector<double> encode;
    std::vector<double> decode;
    std::vector<double> c0;
    std::vector<double> c1;
    double exponent = 0.0;
    std::vector<double> bounds;
    std::int64_t dataLength = 0;
    std::vector<PDFFunction> subFunctions;
    std::uint16_t subFunctionCount = 0;
    std::uint16_t outputCount = 0;
    std::uint16_t boundsCount = 0;
    std::vector<double> outputs;  // the values of the last evaluation
    std::unique_ptr<CalculatorProgram> program;
};

// Limits that keep hostile functions small: entries read from one array,
// inputs and outputs, nesting of stitching functions, bytes of data.
inline constexpr std::size_t kPDFFunctionMaxArray = 4096;
inline constexpr std::size_t kPDFFunctionMaxInputs = 32;
inline constexpr std::size_t kPDFFunctionMaxOutputs = 32;
inline constexpr int kPDFFunctionMaxDepth = 8;
inline constexpr std::size_t kPDFFunctionMaxData = std::size_t{64} << 20;

void InitPDFFunction(PDFFunction* function);
void LoadPDFFunctionFromDictionary(PDFFunction* function, const plat::PdfObject& dictionary);
void LoadPDFFunctionFromStream(PDFFunction* function, const plat::PdfObject& stream);
// Copies the stream's bytes when they come out raw and are not empty.
void LoadPDFFunctionData(PDFFunction* function, const plat::PdfObject& stream);
// Loads a dictionary or a stream; other objects leave the function empty.
void LoadPDFFunction(PDFFunction* function, const plat::PdfObject& object);
void PrepareCalculatorProgram(PDFFunction* function);

void EvaluateSampledFunction(PDFFunction* function, const double* inputs, std::size_t inputCount);
void EvaluateExponentialFunction(PDFFunction* function, double x);
void EvaluateStitchingFunction(PDFFunction* function, double x);
void EvaluateCalculatorFunction(PDFFunction* function, const double* inputs, std::size_t inputCount);
// The evaluator of the function's type; exponential and stitching functions
// take the last input.
void EvaluatePDFFunction(PDFFunction* function, const double* inputs, std::size_t inputCount);
void AppendFunctionOutputs(PDFFunction* function, const std::vector<double>& values);

void SetPDFFunctionExponent(PDFFunction* function, std::int64_t exponent);
void SetPDFFunctionDecode(PDFFunction* function, const plat::PdfObject& array);

void ReleasePDFFunction(PDFFunction* function);
void DestroyPDFFunction(PDFFunction* function);
