#include "pdf/PDFFunction.h"

#include <algorithm>
#include <cmath>

namespace {

// Numbers of an array, at most kPDFFunctionMaxArray; a non-number gives 0.
std::vector<double> ReadNumbers(const plat::PdfObject& array) {
    std::vector<double> values;
    const std::size_t count = std::min(array.GetArrayCount(), kPDFFunctionMaxArray);
    values.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        double v = 0.0;
        array.GetArrayObject(i).GetNumber(&v);
        values.push_back(std::isfinite(v) ? v : 0.0);
    }
    return values;
}

bool ReadArray(const plat::PdfObject& dict, const char* key, std::vector<double>* out) {
    const plat::PdfObject array = dict.GetDictionaryObject(key);
    if (array.GetArrayCount() == 0) {
        return false;
    }
    *out = ReadNumbers(array);
    return true;
}

// NaN goes to the low end, so every caller gets a usable number.
double Clip(double v, double low, double high) {
    if (std::isnan(v)) return low;
    return std::min(std::max(v, low), high);
}

void ClipToRange(const PDFFunction* f, std::size_t j, double* v) {
    if (2 * j + 1 < f->range.size()) {
        *v = Clip(*v, f->range[2 * j], f->range[2 * j + 1]);
    }
}

void SetOutputCount(PDFFunction* f, std::size_t count) {
    count = std::min(count, kPDFFunctionMaxOutputs);
    f->outputCount = static_cast<std::uint16_t>(count);
    f->outputs.assign(count, 0.0);
}

void LoadDictionary(PDFFunction* f, const plat::PdfObject& dict, int depth);

void LoadObject(PDFFunction* f, const plat::PdfObject& object, int depth) {
    if (object.IsStream()) {
        LoadPDFFunctionData(f, object);
        LoadDictionary(f, object.GetStreamDictionary(), depth);
    } else if (object.IsDictionary()) {
        LoadDictionary(f, object, depth);
    }
}

void LoadDictionary(PDFFunction* f, const plat::PdfObject& dict, int depth) {
    std::int64_t integer = 0;
    if (dict.GetDictionaryObject("FunctionType").GetInteger(&integer)) {
        f->type = static_cast<std::int32_t>(std::clamp<std::int64_t>(integer, -1, 99));
    }
    ReadArray(dict, "Domain", &f->domain);
    if (ReadArray(dict, "Range", &f->range) && f->outputs.empty()) {
        SetOutputCount(f, f->range.size() / 2);
    }
    if (dict.GetDictionaryObject("BitsPerSample").GetInteger(&integer)) {
        f->bitsPerSample = static_cast<std::int32_t>(std::clamp<std::int64_t>(integer, 0, 64));
    }
    ReadArray(dict, "Encode", &f->encode);
    ReadArray(dict, "Decode", &f->decode);
    ReadArray(dict, "Size", &f->size);
    ReadArray(dict, "C0", &f->c0);
    if (ReadArray(dict, "C1", &f->c1) && f->outputs.empty()) {
        SetOutputCount(f, f->c1.size());
    }
    if (ReadArray(dict, "Bounds", &f->bounds)) {
        f->boundsCount = static_cast<std::uint16_t>(f->bounds.size());
    }
    // A stitching function of one sub-function has no bounds; it is loaded all the same.
    const plat::PdfObject functions = dict.GetDictionaryObject("Functions");
    if (functions.GetArrayCount() > 0 && depth < kPDFFunctionMaxDepth) {
        const std::size_t count = std::min(functions.GetArrayCount(), kPDFFunctionMaxArray);
        f->subFunctions.clear();
        f->subFunctions.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            LoadObject(&f->subFunctions[i], functions.GetArrayObject(i), depth + 1);
            if (f->subFunctions[i].type == 4) {
                PrepareCalculatorProgram(&f->subFunctions[i]);
            }
        }
        f->subFunctionCount = static_cast<std::uint16_t>(count);
    }
    // The exponent may be written as a real (1.0 or 2.2).
    double exponent = 0.0;
    if (dict.GetDictionaryObject("N").GetNumber(&exponent)) {
        f->exponent = exponent;
    }
    // An exponential function without C0, C1 and Range maps onto one output.
    if (f->type == 2 && f->outputs.empty()) {
        SetOutputCount(f, std::max<std::size_t>(f->c0.size(), 1));
    }
}

// The sample at bit position `bit` of a continuous big-endian bit stream.
bool ReadSample(const std::vector<std::uint8_t>& data, std::uint64_t bit, int bits, std::uint64_t* value) {
    if (bit + static_cast<std::uint64_t>(bits) > static_cast<std::uint64_t>(data.size()) * 8) {
        return false;
    }
    std::uint64_t v = 0;
    if (bits % 8 == 0 && bit % 8 == 0) {
        for (std::uint64_t i = bit / 8; i < (bit + bits) / 8; ++i) v = (v << 8) | data[i];
    } else {
        for (int i = 0; i < bits; ++i, ++bit) {
            v = (v << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1u);
        }
    }
    *value = v;
    return true;
}

void Evaluate(PDFFunction* f, const double* inputs, std::size_t count, int depth);

void Stitch(PDFFunction* f, double x, int depth) {
    const std::size_t k = f->subFunctions.size();
    if (k == 0 || f->domain.size() < 2 || f->bounds.size() + 1 != k || f->encode.size() < 2 * k ||
        depth >= kPDFFunctionMaxDepth) {
        return;
    }
    const double d0 = f->domain[0];
    const double d1 = f->domain[1];
    x = Clip(x, std::min(d0, d1), std::max(d0, d1));
    std::size_t i = 0;
    while (i < f->bounds.size() && x >= f->bounds[i]) ++i;
    const double low = i == 0 ? d0 : f->bounds[i - 1];
    const double high = i == f->bounds.size() ? d1 : f->bounds[i];
    const double e0 = f->encode[2 * i];
    const double e1 = f->encode[2 * i + 1];
    const double mapped = high == low ? e0 : e0 + (x - low) * (e1 - e0) / (high - low);
    PDFFunction& sub = f->subFunctions[i];
    Evaluate(&sub, &mapped, 1, depth + 1);
    f->outputs.clear();
    AppendFunctionOutputs(f, sub.outputs);
    for (std::size_t j = 0; j < f->outputs.size(); ++j) ClipToRange(f, j, &f->outputs[j]);
}

void Evaluate(PDFFunction* f, const double* inputs, std::size_t count, int depth) {
    if (count == 0) return;
    switch (f->type) {
    case 0: EvaluateSampledFunction(f, inputs, count); break;
    case 2: EvaluateExponentialFunction(f, inputs[count - 1]); break;
    case 3: Stitch(f, inputs[count - 1], depth); break;
    case 4: EvaluateCalculatorFunction(f, inputs, count); break;
    default: break;
    }
}

}  // namespace

void InitPDFFunction(PDFFunction* function) { *function = PDFFunction{}; }

void LoadPDFFunctionFromDictionary(PDFFunction* function, const plat::PdfObject& dictionary) {
    LoadDictionary(function, dictionary, 0);
}

void LoadPDFFunctionFromStream(PDFFunction* function, const plat::PdfObject& stream) {
    LoadPDFFunctionData(function, stream);
    const plat::PdfObject dict = stream.GetStreamDictionary();
    if (dict.IsDictionary()) {
        LoadDictionary(function, dict, 0);
    }
}

void LoadPDFFunctionData(PDFFunction* function, const plat::PdfObject& stream) {
    std::vector<std::uint8_t> bytes;
    plat::PdfDataFormat format = plat::PdfDataFormat::Raw;
    if (stream.CopyStreamData(&bytes, &format, kPDFFunctionMaxData) && format == plat::PdfDataFormat::Raw &&
        !bytes.empty()) {
        function->data = std::move(bytes);
        function->dataLength = static_cast<std::int64_t>(function->data.size());
    }
}

void LoadPDFFunction(PDFFunction* function, const plat::PdfObject& object) { LoadObject(function, object, 0); }

void PrepareCalculatorProgram(PDFFunction* function) {
    if (function->type != 4 || function->data.empty()) return;
    function->program = std::make_unique<CalculatorProgram>();
    InitCalculatorReader(function->program.get(), function->data.data(), function->data.size());
    ParseCalculatorProgram(function->program.get());
}

void EvaluateSampledFunction(PDFFunction* f, const double* x, std::size_t m) {
    const std::size_t n = f->outputCount;
    const int bits = f->bitsPerSample;
    if (n == 0 || f->data.empty() || m > kPDFFunctionMaxInputs || f->domain.size() < 2 * m || f->size.size() < m ||
        f->range.size() < 2 * n || !(bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 12 || bits == 16 ||
                                     bits == 24 || bits == 32)) {
        return;
    }
    const std::vector<double>& dec = f->decode.size() >= 2 * n ? f->decode : f->range;
    const bool ownEncode = f->encode.size() >= 2 * m;
    // The table must hold every sample its sizes promise.
    std::uint64_t total = n;
    for (std::size_t i = 0; i < m; ++i) {
        if (!(f->size[i] >= 1.0) || f->size[i] > 1e9) return;
        total *= static_cast<std::uint64_t>(f->size[i]);
        if (total > static_cast<std::uint64_t>(f->data.size()) * 8) return;
    }
    std::uint64_t index = 0;
    std::uint64_t stride = 1;
    for (std::size_t i = 0; i < m; ++i) {
        const double d0 = f->domain[2 * i];
        const double d1 = f->domain[2 * i + 1];
        const double last = std::floor(f->size[i]) - 1.0;
        const double e0 = ownEncode ? f->encode[2 * i] : 0.0;
        const double e1 = ownEncode ? f->encode[2 * i + 1] : last;
        double e = d1 == d0 ? 0.0 : e0 + (Clip(x[i], std::min(d0, d1), std::max(d0, d1)) - d0) * (e1 - e0) / (d1 - d0);
        e = Clip(e, 0.0, last);
        index += static_cast<std::uint64_t>(e + 0.5) * stride;
        stride *= static_cast<std::uint64_t>(f->size[i]);
    }
    const double maxSample = std::ldexp(1.0, bits) - 1.0;
    for (std::size_t j = 0; j < n; ++j) {
        std::uint64_t s = 0;
        if (!ReadSample(f->data, (index * n + j) * static_cast<std::uint64_t>(bits), bits, &s)) return;
        double y = dec[2 * j] + static_cast<double>(s) * (dec[2 * j + 1] - dec[2 * j]) / maxSample;
        ClipToRange(f, j, &y);
        f->outputs[j] = y;
    }
}

void EvaluateExponentialFunction(PDFFunction* f, double x) {
    const double y = std::pow(x, f->exponent);
    for (std::size_t j = 0; j < f->outputs.size(); ++j) {
        const double a = j < f->c0.size() ? f->c0[j] : 0.0;
        const double b = j < f->c1.size() ? f->c1[j] : 1.0;
        double v = a + y * (b - a);
        ClipToRange(f, j, &v);
        f->outputs[j] = std::isnan(v) ? 0.0 : v;
    }
}

void EvaluateStitchingFunction(PDFFunction* function, double x) { Stitch(function, x, 0); }

void EvaluateCalculatorFunction(PDFFunction* f, const double* inputs, std::size_t count) {
    CalculatorStack stack;
    InitCalculatorStack(&stack);
    for (std::size_t i = 0; i < count; ++i) PushCalculatorReal(&stack, inputs[i]);
    if (f->program) RunCalculatorProgram(f->program.get(), &stack);
    ReverseCalculatorStack(&stack);
    double last = 0.0;
    for (std::size_t j = 0; j < f->outputs.size(); ++j) {
        double v = last;
        if (PopNumber(&stack, &v)) last = v;
        ClipToRange(f, j, &v);
        f->outputs[j] = v;
    }
    ClearCalculatorStack(&stack);
}

void EvaluatePDFFunction(PDFFunction* function, const double* inputs, std::size_t inputCount) {
    Evaluate(function, inputs, inputCount, 0);
}

void AppendFunctionOutputs(PDFFunction* function, const std::vector<double>& values) {
    const std::size_t room = kPDFFunctionMaxOutputs - std::min(kPDFFunctionMaxOutputs, function->outputs.size());
    function->outputs.insert(function->outputs.end(), values.begin(),
                             values.begin() + static_cast<std::ptrdiff_t>(std::min(room, values.size())));
    function->outputCount = static_cast<std::uint16_t>(function->outputs.size());
}

void SetPDFFunctionExponent(PDFFunction* function, std::int64_t exponent) {
    function->exponent = static_cast<double>(exponent);
}

void SetPDFFunctionDecode(PDFFunction* function, const plat::PdfObject& array) {
    if (array.GetArrayCount() > 0) function->decode = ReadNumbers(array);
}

void ReleasePDFFunction(PDFFunction* function) { *function = PDFFunction{}; }

void DestroyPDFFunction(PDFFunction* function) { ReleasePDFFunction(function); }
