#include "pdf/PDFImage.h"

#include "engine/ImageTypes.h"
#include "engine/JpegMemoryCodec.h"
#include "pdf/JPEG2000Decoding.h"
#include "pdf/PDFImageExtractor.h"
#include "platform/Image.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

namespace {

// An image parameter under its long key, or else its inline abbreviation.
plat::PdfObject Param(const plat::PdfObject& dict, const char* key, const char* abbreviation) {
    plat::PdfObject value = dict.GetDictionaryObject(key);
    if (value.IsNull() && abbreviation) value = dict.GetDictionaryObject(abbreviation);
    return value;
}

std::int64_t IntegerParam(const plat::PdfObject& dict, const char* key, const char* abbreviation,
                          std::int64_t fallback) {
    const plat::PdfObject value = Param(dict, key, abbreviation);
    std::int64_t integer = 0;
    if (value.GetInteger(&integer)) return integer;
    double number = 0.0;
    if (value.GetNumber(&number) && std::isfinite(number) && std::fabs(number) < 1e12) {
        return static_cast<std::int64_t>(number);
    }
    return fallback;
}

bool BooleanParam(const plat::PdfObject& dict, const char* key, const char* abbreviation) {
    bool value = false;
    Param(dict, key, abbreviation).GetBoolean(&value);
    return value;
}

std::uint32_t ReadSample(const std::uint8_t* row, std::size_t index, int bits) {
    switch (bits) {
    case 8: return row[index];
    case 16: return (std::uint32_t(row[2 * index]) << 8) | row[2 * index + 1];
    default: {
        const std::size_t bit = index * std::size_t(bits);
        return (row[bit >> 3] >> (8 - bits - int(bit & 7))) & ((1u << bits) - 1u);
    }
    }
}

std::uint8_t ToByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<std::uint8_t>(v + 0.5);
}

// The decode pair of component k: the dictionary's, or the default of the space.
std::pair<double, double> DecodePair(const std::optional<std::vector<double>>& decode, std::size_t k,
                                     std::pair<double, double> fallback) {
    if (decode && decode->size() >= 2 * (k + 1)) return {(*decode)[2 * k], (*decode)[2 * k + 1]};
    return fallback;
}

PDFColorSpaceRef DeviceFor(int components) {
    return CreateColorSpaceForColorModel(components == 1   ? kPDFColorModelGray
                                         : components == 3 ? kPDFColorModelRGB
                                                           : kPDFColorModelCMYK);
}

// The raw samples of an image: rows padded to whole bytes, `inputs`
// samples of `bits` bits per pixel.
struct RawSamples {
    const std::vector<std::uint8_t>& data;
    std::size_t rowBytes;
    int bits;
    int width;
    int height;

    double maxValue() const { return std::ldexp(1.0, bits) - 1.0; }
    std::size_t levels() const { return std::size_t{1} << bits; }
};

// Every pixel whose one raw sample picks a row of `table` (outputs bytes each).
void MapSingleSamples(const RawSamples& raw, const std::vector<std::uint8_t>& table, std::size_t outputs,
                      DecodedPDFImage* out) {
    for (std::size_t y = 0; y < std::size_t(raw.height); ++y) {
        const std::uint8_t* row = raw.data.data() + y * raw.rowBytes;
        std::uint8_t* target = out->samples.data() + y * std::size_t(raw.width) * outputs;
        for (std::size_t x = 0; x < std::size_t(raw.width); ++x, target += outputs) {
            std::copy_n(table.data() + std::size_t(ReadSample(row, x, raw.bits)) * outputs, outputs, target);
        }
    }
}

// Device, ICC, calibrated and Lab samples: each component through its
// decode pair in the space's own units (0..1, or Lab's), then to a byte.
void ApplyDecodeArray(const PDFColorSpace& cs, const std::optional<std::vector<double>>& decode,
                      const RawSamples& raw, DecodedPDFImage* out) {
    const std::size_t inputs = static_cast<std::size_t>(cs.components);
    const bool lab = cs.space.family == plat::ColorSpace::Family::Lab;
    std::vector<std::vector<std::uint8_t>> tables;
    for (std::size_t k = 0; k < inputs; ++k) {
        double low = 0.0, high = 1.0;
        if (lab) {
            low = k == 0 ? 0.0 : cs.space.range[2 * (k - 1)];
            high = k == 0 ? 100.0 : cs.space.range[2 * (k - 1) + 1];
        }
        const auto [d0, d1] = DecodePair(decode, k, {low, high});
        std::vector<std::uint8_t> table(raw.levels());
        for (std::size_t r = 0; r < table.size(); ++r) {
            table[r] = ToByte((d0 + double(r) * (d1 - d0) / raw.maxValue() - low) * 255.0 / (high - low));
        }
        tables.push_back(std::move(table));
    }
    for (std::size_t y = 0; y < std::size_t(raw.height); ++y) {
        const std::uint8_t* row = raw.data.data() + y * raw.rowBytes;
        std::uint8_t* target = out->samples.data() + y * std::size_t(raw.width) * inputs;
        for (std::size_t x = 0; x < std::size_t(raw.width); ++x, target += inputs) {
            for (std::size_t k = 0; k < inputs; ++k) target[k] = tables[k][ReadSample(row, x * inputs + k, raw.bits)];
        }
    }
}

// Palette images: the raw sample through the decode pair (default 0 to
// 2^bits - 1) is the index, clipped to hival.
void ExpandIndexedSamples(const PDFColorSpace& cs, const std::optional<std::vector<double>>& decode,
                          const RawSamples& raw, DecodedPDFImage* out) {
    const std::size_t outputs = static_cast<std::size_t>(cs.space.components());
    std::vector<std::uint8_t> table(raw.levels() * outputs);
    const auto [d0, d1] = DecodePair(decode, 0, {0.0, raw.maxValue()});
    for (std::size_t r = 0; r < raw.levels(); ++r) {
        const double v = std::floor(d0 + double(r) * (d1 - d0) / raw.maxValue() + 0.5);
        const auto index = static_cast<std::size_t>(std::clamp(v, 0.0, double(cs.hival)));
        std::copy_n(cs.lookup.begin() + std::ptrdiff_t(index * outputs), outputs,
                    table.begin() + std::ptrdiff_t(r * outputs));
    }
    MapSingleSamples(raw, table, outputs, out);
}

// One tint per pixel (decode pair in tint units), evaluated once per raw value.
void ApplySeparationTintTransform(const PDFColorSpace& cs, const std::optional<std::vector<double>>& decode,
                                  const RawSamples& raw, DecodedPDFImage* out) {
    const std::size_t outputs = static_cast<std::size_t>(cs.space.components());
    std::vector<std::uint8_t> table(raw.levels() * outputs);
    const auto [d0, d1] = DecodePair(decode, 0, {0.0, 1.0});
    for (std::size_t r = 0; r < raw.levels(); ++r) {
        const double tint = d0 + double(r) * (d1 - d0) / raw.maxValue();
        EvaluateTintToBytes(cs, &tint, table.data() + r * outputs);
    }
    MapSingleSamples(raw, table, outputs, out);
}

// k tints per pixel; neighbouring pixels often repeat, so the last result is kept.
void ApplyDeviceNTintTransform(const PDFColorSpace& cs, const std::optional<std::vector<double>>& decode,
                               const RawSamples& raw, DecodedPDFImage* out) {
    const std::size_t inputs = static_cast<std::size_t>(cs.components);
    const std::size_t outputs = static_cast<std::size_t>(cs.space.components());
    std::vector<double> tints(inputs);
    std::vector<std::uint8_t> lastBytes(outputs);
    std::vector<std::uint32_t> lastRaw, samples(inputs);
    for (std::size_t y = 0; y < std::size_t(raw.height); ++y) {
        const std::uint8_t* row = raw.data.data() + y * raw.rowBytes;
        std::uint8_t* target = out->samples.data() + y * std::size_t(raw.width) * outputs;
        for (std::size_t x = 0; x < std::size_t(raw.width); ++x, target += outputs) {
            for (std::size_t k = 0; k < inputs; ++k) samples[k] = ReadSample(row, x * inputs + k, raw.bits);
            if (samples != lastRaw) {
                for (std::size_t k = 0; k < inputs; ++k) {
                    const auto [d0, d1] = DecodePair(decode, k, {0.0, 1.0});
                    tints[k] = d0 + double(samples[k]) * (d1 - d0) / raw.maxValue();
                }
                EvaluateTintToBytes(cs, tints.data(), lastBytes.data());
                lastRaw = samples;
            }
            std::copy(lastBytes.begin(), lastBytes.end(), target);
        }
    }
}

// Raw samples to 8-bit samples of the final colour space.
void ExpandSamplesTo8Bits(const PDFColorSpace& cs, const std::optional<std::vector<double>>& decode,
                          const RawSamples& raw, DecodedPDFImage* out) {
    out->samples.assign(std::size_t(raw.width) * std::size_t(raw.height) * std::size_t(cs.space.components()), 0);
    if (cs.kind == kPDFColorSpaceIndexed) {
        ExpandIndexedSamples(cs, decode, raw, out);
    } else if (cs.tintTransform && cs.components == 1) {
        ApplySeparationTintTransform(cs, decode, raw, out);
    } else if (cs.tintTransform) {
        ApplyDeviceNTintTransform(cs, decode, raw, out);
    } else {
        ApplyDecodeArray(cs, decode, raw, out);
    }
}

// Pixels whose raw samples all lie inside the colour-key ranges become transparent.
std::vector<std::uint8_t> ColorKeyAlpha(const plat::PdfObject& mask, std::size_t inputs, int bits,
                                        const std::vector<std::uint8_t>& data, std::size_t rowBytes, int width,
                                        int height) {
    if (mask.GetArrayCount() < 2 * inputs) return {};
    std::vector<std::pair<double, double>> ranges(inputs);
    for (std::size_t k = 0; k < inputs; ++k) {
        mask.GetArrayObject(2 * k).GetNumber(&ranges[k].first);
        mask.GetArrayObject(2 * k + 1).GetNumber(&ranges[k].second);
    }
    std::vector<std::uint8_t> alpha(std::size_t(width) * std::size_t(height), 255);
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        const std::uint8_t* row = data.data() + y * rowBytes;
        for (std::size_t x = 0; x < std::size_t(width); ++x) {
            bool inside = true;
            for (std::size_t k = 0; k < inputs && inside; ++k) {
                const double raw = ReadSample(row, x * inputs + k, bits);
                inside = raw >= ranges[k].first && raw <= ranges[k].second;
            }
            if (inside) alpha[y * std::size_t(width) + x] = 0;
        }
    }
    return alpha;
}

// A plane of another size brought to width x height by nearest neighbour.
std::vector<std::uint8_t> ResamplePlane(const std::vector<std::uint8_t>& plane, int fromWidth, int fromHeight,
                                        int width, int height) {
    if (fromWidth == width && fromHeight == height) return plane;
    std::vector<std::uint8_t> out(std::size_t(width) * std::size_t(height));
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        const std::size_t sy = y * std::size_t(fromHeight) / std::size_t(height);
        for (std::size_t x = 0; x < std::size_t(width); ++x) {
            out[y * std::size_t(width) + x] = plane[sy * std::size_t(fromWidth) + x * std::size_t(fromWidth) / std::size_t(width)];
        }
    }
    return out;
}

}  // namespace

std::optional<std::vector<double>> CopyDecodeArray(const plat::PdfObject& dictionary) {
    const plat::PdfObject array = Param(dictionary, "Decode", "D");
    const std::size_t count = std::min<std::size_t>(array.GetArrayCount(), 64);
    if (count == 0) return std::nullopt;
    std::vector<double> values(count, 0.0);
    for (std::size_t i = 0; i < count; ++i) {
        double v = 0.0;
        if (array.GetArrayObject(i).GetNumber(&v) && std::isfinite(v)) values[i] = v;
    }
    return values;
}

bool DecodeJPEGStreamData(const std::vector<std::uint8_t>& data, std::vector<std::uint8_t>* out, int* width,
                          int* height, int* components) {
    int colorCode = 0;
    std::uint8_t* samples = nullptr;
    std::size_t size = 0;
    double dpiX = 0.0, dpiY = 0.0;
    if (data.empty() ||
        DecodeJPEGData(data.data(), data.size(), &colorCode, nullptr, &samples, &size, width, height, &dpiX, &dpiY) != 0) {
        return false;
    }
    *components = colorCode == 1 ? 1 : colorCode == 2 ? 3 : 4;
    const bool ok = *width > 0 && *height > 0 &&
                    size == std::size_t(*width) * std::size_t(*height) * std::size_t(*components);
    if (ok) out->assign(samples, samples + size);
    std::free(samples);
    return ok;
}

bool DecodePDFImageSamples(const PDFImageExtractor* extractor, const plat::PdfObject& dict,
                           const plat::PdfObject& stream, DecodedPDFImage* out) {
    std::int64_t width = IntegerParam(dict, "Width", "W", 0);
    std::int64_t height = IntegerParam(dict, "Height", "H", 0);
    if (!plat::Image::sizeAllowed(width, height)) return false;
    const bool imageMask = BooleanParam(dict, "ImageMask", "IM");
    int bits = imageMask ? 1 : static_cast<int>(IntegerParam(dict, "BitsPerComponent", "BPC", 8));
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) return false;

    // Enough room for the raw samples of the largest layout, bounded.
    const std::size_t rawBound = std::size_t(width) * std::size_t(height) * 4 * 2;
    std::vector<std::uint8_t> data;
    plat::PdfDataFormat format = plat::PdfDataFormat::Raw;
    if (!stream.CopyStreamData(&data, &format,
                               std::min(plat::kPdfStreamDataLimit, std::max(rawBound, std::size_t{16} << 20)))) {
        return false;
    }

    std::int32_t kind = kPDFColorSpaceNone;
    std::int64_t components = 0;
    PDFColorSpaceRef cs;
    const plat::PdfObject csObject = Param(dict, "ColorSpace", "CS");
    if (!imageMask && !csObject.IsNull()) {
        cs = CreateColorSpaceFromObject(extractor, csObject, &kind, &components);
        if (!cs && !(bits == 1 && format != plat::PdfDataFormat::Jpeg2000)) return false;
    }
    if (!cs && format != plat::PdfDataFormat::Jpeg2000) cs = DeviceFor(1);

    std::vector<std::uint8_t> jpxAlpha;
    if (format == plat::PdfDataFormat::JpegEncoded) {
        std::vector<std::uint8_t> samples;
        int w = 0, h = 0, c = 0;
        if (!DecodeJPEGStreamData(data, &samples, &w, &h, &c)) return false;
        data = std::move(samples);
        width = w;
        height = h;
        bits = 8;
        if (cs->components != c) cs = DeviceFor(c);
    } else if (format == plat::PdfDataFormat::Jpeg2000) {
        std::vector<std::uint8_t> samples;
        std::int32_t model = 0;
        std::int64_t count = 0, w = 0, h = 0;
        if (DecodeJPEG2000Data(data, &samples, &model, &count, &w, &h) != 0) return false;
        if (!cs || (cs->components != count && cs->components + 1 != count)) cs = CreateColorSpaceForColorModel(model);
        if (!cs) return false;
        const std::size_t colour = static_cast<std::size_t>(cs->components);
        const std::size_t stride = static_cast<std::size_t>(count);
        const std::size_t pixels = std::size_t(w) * std::size_t(h);
        if (stride > colour) {
            // The extra component is the image's alpha.
            std::vector<std::uint8_t> colourSamples(pixels * colour);
            jpxAlpha.resize(pixels);
            for (std::size_t p = 0; p < pixels; ++p) {
                std::copy_n(samples.begin() + std::ptrdiff_t(p * stride), colour, colourSamples.begin() + std::ptrdiff_t(p * colour));
                jpxAlpha[p] = samples[p * stride + colour];
            }
            samples = std::move(colourSamples);
        }
        data = std::move(samples);
        width = w;
        height = h;
        bits = 8;
    }
    if (!plat::Image::sizeAllowed(width, height)) return false;

    const std::size_t inputs = static_cast<std::size_t>(cs->components);
    const std::size_t rowBytes = (std::size_t(width) * inputs * std::size_t(bits) + 7) / 8;
    // Short data are padded rather than read beyond their end.
    if (data.size() < rowBytes * std::size_t(height)) data.resize(rowBytes * std::size_t(height), 0);

    out->width = static_cast<int>(width);
    out->height = static_cast<int>(height);
    out->space = cs->space;
    ExpandSamplesTo8Bits(*cs, CopyDecodeArray(dict), RawSamples{data, rowBytes, bits, out->width, out->height}, out);
    out->alpha = std::move(jpxAlpha);
    const plat::PdfObject mask = dict.GetDictionaryObject("Mask");
    if (out->alpha.empty() && mask.IsArray()) {
        out->alpha = ColorKeyAlpha(mask, inputs, bits, data, rowBytes, out->width, out->height);
    }
    return true;
}

plat::ImageRef CreateImageFromPDFStream(const PDFImageExtractor* extractor, const plat::PdfObject& dictionary,
                                        const plat::PdfObject& stream) {
    DecodedPDFImage image;
    if (!DecodePDFImageSamples(extractor, dictionary, stream, &image)) return nullptr;
    const bool keepsAlpha = !extractor || TypeSupportsAlpha(extractor->outputType);
    if (!keepsAlpha) {
        image.alpha.clear();
    } else if (image.alpha.empty()) {
        // A soft mask holds opacity; a stencil mask marks with 0 where the image is painted.
        const plat::PdfObject softMask = dictionary.GetDictionaryObject("SMask");
        const plat::PdfObject stencil = dictionary.GetDictionaryObject("Mask");
        const plat::PdfObject& maskStream = softMask.IsStream() ? softMask : stencil;
        DecodedPDFImage mask;
        if (maskStream.IsStream() &&
            DecodePDFImageSamples(nullptr, maskStream.GetStreamDictionary(), maskStream, &mask) &&
            mask.space.components() == 1) {
            image.alpha = ResamplePlane(mask.samples, mask.width, mask.height, image.width, image.height);
            if (!softMask.IsStream()) {
                for (std::uint8_t& a : image.alpha) a = static_cast<std::uint8_t>(255 - a);
            }
        }
    }
    return plat::CreateImageFromSamples(image.width, image.height, image.space, image.samples, image.alpha);
}
