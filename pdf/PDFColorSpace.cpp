#include "pdf/PDFColorSpace.h"

#include "pdf/PDFImageExtractor.h"

#include <algorithm>
#include <cmath>

namespace {

std::string NameOf(const plat::PdfObject& object) {
    std::string name;
    object.GetName(&name);
    return name;
}

// Up to `count` numbers of the array into `out`; missing ones stay.
template <std::size_t N>
void ReadNumbers(const plat::PdfObject& array, std::array<double, N>* out, std::size_t count = N) {
    const std::size_t n = std::min({array.GetArrayCount(), count, N});
    for (std::size_t i = 0; i < n; ++i) {
        double v = 0.0;
        if (array.GetArrayObject(i).GetNumber(&v) && std::isfinite(v)) (*out)[i] = v;
    }
}

PDFColorSpaceRef Device(int components) {
    auto cs = std::make_shared<PDFColorSpace>();
    cs->space = plat::ColorSpace::Device(components);
    cs->components = components;
    return cs;
}

std::uint8_t ToByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<std::uint8_t>(v + 0.5);
}

PDFColorSpaceRef ICCBased(const PDFImageExtractor* extractor, const plat::PdfObject& array, int depth) {
    const plat::PdfObject stream = array.GetArrayObject(1);
    if (!stream.IsStream()) return nullptr;
    std::int64_t n = 0;
    stream.GetDictionaryObject("N").GetInteger(&n);
    PDFColorSpaceRef alternate;
    const plat::PdfObject alt = stream.GetDictionaryObject("Alternate");
    std::int32_t altKind = 0;
    std::int64_t altComponents = 0;
    if (!alt.IsNull()) alternate = CreateColorSpaceFromObject(extractor, alt, &altKind, &altComponents, depth + 1);
    if (alternate && alternate->kind != kPDFColorSpaceNone && alternate->kind != kPDFColorSpaceCalGray &&
        alternate->kind != kPDFColorSpaceCalRGB && alternate->kind != kPDFColorSpaceLab) {
        alternate = nullptr;  // an alternate of an ICC space is a plain space
    }
    if (!alternate && (n == 1 || n == 3 || n == 4)) alternate = Device(static_cast<int>(n));
    std::vector<std::uint8_t> profile;
    plat::PdfDataFormat format = plat::PdfDataFormat::Raw;
    auto cs = std::make_shared<PDFColorSpace>();
    if (stream.CopyStreamData(&profile, &format, std::size_t{64} << 20) && format == plat::PdfDataFormat::Raw &&
        (n == 1 || n == 3 || n == 4) && plat::IsUsableICCProfile(profile, static_cast<int>(n))) {
        cs->space.family = plat::ColorSpace::Family::ICCBased;
        cs->space.iccComponents = static_cast<int>(n);
        cs->space.iccProfile = std::move(profile);
    } else if (alternate) {
        cs->space = alternate->space;
    } else {
        return nullptr;
    }
    cs->kind = kPDFColorSpaceICCBased;
    cs->components = cs->space.components();
    return cs;
}

PDFColorSpaceRef Calibrated(const plat::PdfObject& array, std::int32_t kind) {
    const plat::PdfObject dict = array.GetArrayObject(1);
    auto cs = std::make_shared<PDFColorSpace>();
    cs->kind = kind;
    plat::ColorSpace& space = cs->space;
    const bool described = dict.IsDictionary() && dict.GetDictionaryObject("WhitePoint").IsArray();
    if (kind == kPDFColorSpaceCalGray) {
        space.family = described ? plat::ColorSpace::Family::CalGray : plat::ColorSpace::Family::DeviceGray;
        double gamma = 1.0;
        if (described && dict.GetDictionaryObject("Gamma").GetNumber(&gamma)) space.gamma[0] = gamma;
    } else if (kind == kPDFColorSpaceCalRGB) {
        space.family = described ? plat::ColorSpace::Family::CalRGB : plat::ColorSpace::Family::DeviceRGB;
        if (described) {
            ReadNumbers(dict.GetDictionaryObject("Gamma"), &space.gamma);
            ReadNumbers(dict.GetDictionaryObject("Matrix"), &space.matrix);
        }
    } else {
        space.family = plat::ColorSpace::Family::Lab;
        if (described) ReadNumbers(dict.GetDictionaryObject("Range"), &space.range);
        if (!(space.range[1] > space.range[0]) || !(space.range[3] > space.range[2])) {
            space.range = {-100.0, 100.0, -100.0, 100.0};
        }
    }
    if (described) {
        ReadNumbers(dict.GetDictionaryObject("WhitePoint"), &space.whitePoint);
        ReadNumbers(dict.GetDictionaryObject("BlackPoint"), &space.blackPoint);
    }
    cs->components = space.components();
    return cs;
}

// Separation (one tint) and DeviceN (one tint per colorant name).
PDFColorSpaceRef TintSpace(const PDFImageExtractor* extractor, const plat::PdfObject& array, std::int32_t kind,
                           int depth) {
    std::int64_t inputs = 1;
    if (kind == kPDFColorSpaceDeviceN) {
        const plat::PdfObject names = array.GetArrayObject(1);
        inputs = names.IsArray() ? static_cast<std::int64_t>(names.GetArrayCount()) : 1;
        // No colorants: no input to transform (and nothing to divide by).
        if (inputs < 1 || inputs > static_cast<std::int64_t>(kPDFFunctionMaxInputs)) return nullptr;
    }
    PDFColorSpaceRef alternate;
    const plat::PdfObject alt = array.GetArrayObject(2);
    std::int32_t altKind = 0;
    std::int64_t altComponents = 0;
    alternate = CreateColorSpaceFromObject(extractor, alt, &altKind, &altComponents, depth + 1);
    if (!alternate || alternate->kind == kPDFColorSpaceIndexed || alternate->kind == kPDFColorSpaceSeparation ||
        alternate->kind == kPDFColorSpaceDeviceN) {
        alternate = Device(1);
    }
    auto function = std::make_shared<PDFFunction>();
    LoadPDFFunction(function.get(), array.GetArrayObject(3));
    if (function->type == 4) PrepareCalculatorProgram(function.get());
    auto cs = std::make_shared<PDFColorSpace>();
    cs->kind = kind;
    cs->space = alternate->space;
    cs->components = inputs;
    cs->tintTransform = std::move(function);
    return cs;
}

PDFColorSpaceRef Indexed(const PDFImageExtractor* extractor, const plat::PdfObject& array, int depth) {
    std::int32_t baseKind = 0;
    std::int64_t baseComponents = 0;
    PDFColorSpaceRef base = CreateColorSpaceFromObject(extractor, array.GetArrayObject(1), &baseKind, &baseComponents,
                                                       depth + 1);
    if (!base) base = Device(1);
    if (base->kind == kPDFColorSpaceIndexed) return nullptr;
    std::int64_t hival = 0;
    if (!array.GetArrayObject(2).GetInteger(&hival)) {
        double h = 0.0;
        if (!array.GetArrayObject(2).GetNumber(&h) || !std::isfinite(h)) return nullptr;
        hival = static_cast<std::int64_t>(std::clamp(h, -1.0, 255.0));
    }
    hival = std::clamp<std::int64_t>(hival, 0, 255);
    const std::size_t entries = static_cast<std::size_t>(hival + 1);
    const std::size_t inputs = static_cast<std::size_t>(base->components);
    std::vector<std::uint8_t> table;
    const plat::PdfObject lookup = array.GetArrayObject(3);
    std::string text;
    if (lookup.IsStream()) {
        plat::PdfDataFormat format = plat::PdfDataFormat::Raw;
        if (!lookup.CopyStreamData(&table, &format, std::size_t{1} << 20) || format != plat::PdfDataFormat::Raw) {
            table.clear();
        }
    } else if (lookup.GetString(&text)) {
        table.assign(text.begin(), text.end());
    }
    // A short table is padded with zeros rather than read beyond its end.
    table.resize(entries * inputs, 0);
    auto cs = std::make_shared<PDFColorSpace>();
    cs->kind = kPDFColorSpaceIndexed;
    cs->space = base->space;
    cs->components = 1;
    cs->hival = hival;
    if (base->tintTransform) {
        // A palette over tints holds tints: it is turned into alternate-space colours once.
        const std::size_t outputs = static_cast<std::size_t>(base->space.components());
        cs->lookup.resize(entries * outputs);
        std::vector<double> tints(inputs);
        for (std::size_t e = 0; e < entries; ++e) {
            for (std::size_t k = 0; k < inputs; ++k) tints[k] = table[e * inputs + k] / 255.0;
            EvaluateTintToBytes(*base, tints.data(), cs->lookup.data() + e * outputs);
        }
    } else {
        cs->lookup = std::move(table);
    }
    return cs;
}

}  // namespace

PDFColorSpaceRef CreateDeviceColorSpaceForName(const std::string& name) {
    if (name == "DeviceRGB" || name == "RGB") return Device(3);
    if (name == "DeviceCMYK" || name == "CMYK") return Device(4);
    if (name == "DeviceGray" || name == "G") return Device(1);
    return nullptr;
}

PDFColorSpaceRef CreateImageColorSpaceForName(const std::string& name, std::int64_t* components) {
    PDFColorSpaceRef cs = CreateDeviceColorSpaceForName(name);
    if (cs) *components = cs->components;
    return cs;
}

PDFColorSpaceRef CreateColorSpaceForColorModel(std::int32_t model) {
    switch (model) {
    case kPDFColorModelGray: return Device(1);
    case kPDFColorModelRGB: return Device(3);
    case kPDFColorModelCMYK: return Device(4);
    default: return nullptr;
    }
}

PDFColorSpaceRef CreateColorSpaceFromICCData(const std::vector<std::uint8_t>& data) {
    for (int n : {1, 3, 4}) {
        if (plat::IsUsableICCProfile(data, n)) {
            auto cs = std::make_shared<PDFColorSpace>();
            cs->kind = kPDFColorSpaceICCBased;
            cs->space.family = plat::ColorSpace::Family::ICCBased;
            cs->space.iccComponents = n;
            cs->space.iccProfile = data;
            cs->components = n;
            return cs;
        }
    }
    return nullptr;
}

PDFColorSpaceRef CreateColorSpaceFromArray(const PDFImageExtractor* extractor, const plat::PdfObject& array,
                                           std::int32_t* kind, std::int64_t* components, int depth) {
    if (depth > kPDFColorSpaceMaxDepth || array.GetArrayCount() == 0) return nullptr;
    const std::string family = NameOf(array.GetArrayObject(0));
    PDFColorSpaceRef cs;
    if (family == "ICCBased") {
        cs = ICCBased(extractor, array, depth);
    } else if (family == "Indexed" || family == "I") {
        cs = Indexed(extractor, array, depth);
    } else if (family == "CalRGB") {
        cs = Calibrated(array, kPDFColorSpaceCalRGB);
    } else if (family == "CalGray") {
        cs = Calibrated(array, kPDFColorSpaceCalGray);
    } else if (family == "Lab") {
        cs = Calibrated(array, kPDFColorSpaceLab);
    } else if (family == "Separation") {
        cs = TintSpace(extractor, array, kPDFColorSpaceSeparation, depth);
    } else if (family == "DeviceN") {
        cs = TintSpace(extractor, array, kPDFColorSpaceDeviceN, depth);
    } else if (array.GetArrayCount() == 1) {
        cs = CreateDeviceColorSpaceForName(family);  // [/DeviceRGB]
    }
    if (cs) {
        *kind = cs->kind;
        *components = cs->components;
    }
    return cs;
}

PDFColorSpaceRef CreateColorSpaceFromObject(const PDFImageExtractor* extractor, const plat::PdfObject& object,
                                            std::int32_t* kind, std::int64_t* components, int depth) {
    if (depth > kPDFColorSpaceMaxDepth) return nullptr;
    if (object.IsArray()) return CreateColorSpaceFromArray(extractor, object, kind, components, depth);
    std::string name;
    if (!object.GetName(&name)) return nullptr;
    if (PDFColorSpaceRef cs = CreateImageColorSpaceForName(name, components)) {
        *kind = kPDFColorSpaceNone;
        return cs;
    }
    if (extractor && !extractor->pageColorSpaces.IsNull()) {
        return CreateColorSpaceFromObject(nullptr, extractor->pageColorSpaces.GetDictionaryObject(name), kind,
                                          components, depth + 1);
    }
    return nullptr;
}

void EvaluateTintToBytes(const PDFColorSpace& cs, const double* inputs, std::uint8_t* out) {
    const int outputs = cs.space.components();
    PDFFunction* f = cs.tintTransform.get();
    if (f) EvaluatePDFFunction(f, inputs, static_cast<std::size_t>(cs.components));
    for (int j = 0; j < outputs; ++j) {
        const double y = f && static_cast<std::size_t>(j) < f->outputs.size() ? f->outputs[j] : 0.0;
        if (cs.space.family == plat::ColorSpace::Family::Lab) {
            const double low = j == 0 ? 0.0 : cs.space.range[2 * (j - 1)];
            const double high = j == 0 ? 100.0 : cs.space.range[2 * (j - 1) + 1];
            out[j] = ToByte((std::clamp(std::isnan(y) ? low : y, low, high) - low) * 255.0 / (high - low));
        } else {
            out[j] = ToByte(std::clamp(std::isnan(y) ? 0.0 : y, 0.0, 1.0) * 255.0);
        }
    }
}
