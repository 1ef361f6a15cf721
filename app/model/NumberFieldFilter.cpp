#include "app/model/NumberFieldFilter.h"

#include "app/model/NumberScanner.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

using K = NumberFieldKind;
using R = NumberReading;

const std::array<NumberFieldSpec, kNumberFieldKindCount> kSpecs = {{
    {K::WholeNumber, "WholeNumberField", R::Int32, 0, false, false, std::nullopt, true},
    {K::Number, "NumberField", R::Double, 0, false, false, std::nullopt, true},
    {K::ZeroCount, "ZeroCountNumberField", R::Int64, 0, false, false, std::nullopt, true},
    {K::StartDigit, "StartDigitNumberField", R::Float, 0, false, false, std::nullopt, true},
    {K::PageCount, "PageCountNumberField", R::Int64, 1, false, false, std::nullopt, true},
    {K::FileSize, "FileSizeNumberField", R::Float, 0.5, false, false, std::nullopt, true},
    {K::Resolution, "ResolutionComboBox", R::Int64, 1, false, false, std::nullopt, true},
    {K::FontSize, "FontSizeNumberField", R::Int64, 1, false, false, std::nullopt, true},
    {K::RotationAngle, "RotationAngleNumberField", R::Int64, 0, false, false, std::nullopt, true},
    {K::ShadowBlur, "ShadowBlurNumberField", R::Int64, 0, false, false, std::nullopt, true},
    {K::ShadowXOffset, "ShadowXOffsetNumberField", R::Int64, -5000, false, true, std::nullopt, true},
    {K::ShadowYOffset, "ShadowYOffsetNumberField", R::Int64, -5000, false, true, std::nullopt, true},
    {K::PDFScale, "PDFScaleNumberField", R::Int64, 1, true, false, std::nullopt, true},
    {K::CharSpace, "CharSpaceField", R::Double, 0, false, false, std::nullopt, true},
    {K::Scale, "ScaleComboBox", R::Int64, 1, true, false, 6400.0, false},
    {K::PageRange, "PageRangeNumberField", R::PageRange, 0, false, false, std::nullopt, false},
}};

// A value of the field's reading, kept in the widest type that holds it exactly.
struct Reading {
    bool integral = true;
    std::int64_t integer = 0;
    double real = 0.0;

    double asDouble() const { return integral ? static_cast<double>(integer) : real; }
};

std::optional<Reading> ScanClean(const NumberFieldSpec& spec, const QString& text) {
    NumberScanner scanner(text, spec.skipsPercent ? NumberScanner::Skip::Percent
                                                  : NumberScanner::Skip::Whitespace);
    Reading reading;
    switch (spec.reading) {
    case R::Int32:
    case R::Int64: {
        const bool narrow = spec.reading == R::Int32;
        const auto value = scanner.scanInteger(narrow ? kInt32Min : kInt64Min, narrow ? kInt32Max : kInt64Max);
        if (!value) return std::nullopt;
        reading.integer = *value;
        break;
    }
    case R::Float:
    case R::Double: {
        const auto value = scanner.scanReal(spec.reading == R::Float ? FLT_MAX : DBL_MAX);
        if (!value) return std::nullopt;
        reading.integral = false;
        reading.real = spec.reading == R::Float ? static_cast<double>(static_cast<float>(*value)) : *value;
        break;
    }
    case R::PageRange:
        return std::nullopt;
    }
    if (!scanner.isAtEnd()) return std::nullopt;
    return reading;
}

// The control's own value of its text: the leading number, 0 when none.
Reading ControlValue(const NumberFieldSpec& spec, const QString& text) {
    Reading reading;
    switch (spec.reading) {
    case R::Int32:
        reading.integer = LeadingInteger(text, kInt32Min, kInt32Max);
        break;
    case R::Int64:
    case R::PageRange:
        reading.integer = LeadingInteger(text, kInt64Min, kInt64Max);
        break;
    case R::Float:
        reading.integral = false;
        reading.real = static_cast<double>(static_cast<float>(LeadingReal(text, FLT_MAX)));
        break;
    case R::Double:
        reading.integral = false;
        reading.real = LeadingReal(text, DBL_MAX);
        break;
    }
    return reading;
}

Reading WithValue(const NumberFieldSpec& spec, double value) {
    Reading reading;
    if (spec.reading == R::Float || spec.reading == R::Double) {
        reading.integral = false;
        reading.real = value;
    } else {
        reading.integer = static_cast<std::int64_t>(value);
    }
    return reading;
}

QString TextOf(const NumberFieldSpec& spec, const Reading& reading) {
    if (reading.integral) return QString::number(reading.integer);
    if (spec.reading == R::Float) return FormatFloat(static_cast<float>(reading.real));
    return FormatDouble(reading.real);
}

Reading LimitedAbove(const NumberFieldSpec& spec, Reading reading) {
    // The scale box's limit: 6401 or more becomes 6400.
    if (spec.upperBound && reading.asDouble() > *spec.upperBound) return WithValue(spec, *spec.upperBound);
    return reading;
}

QString FilterPageRange(const QString& text) {
    static const QString kAllowed = QStringLiteral("1234567890-,");
    qsizetype start = 0;
    while (start < text.size() && text[start].isSpace()) ++start;
    qsizetype end = start;
    while (end < text.size() && kAllowed.contains(text[end])) ++end;
    if (end == start) return QString();
    QString run = text.mid(start, end - start);
    if (run.size() == 1) {
        if (run == u"-" || run == u",") return QString();
        return run;
    }
    const QString tail = run.right(2);
    if (tail == u"--" || tail == u",," || tail == u"-," || tail == u",-") run.chop(1);
    return run;
}

}  // namespace

const NumberFieldSpec& NumberFieldSpecFor(NumberFieldKind kind) {
    return kSpecs[static_cast<std::size_t>(kind)];
}

QString FilterNumberFieldText(NumberFieldKind kind, const QString& text) {
    const NumberFieldSpec& spec = NumberFieldSpecFor(kind);
    if (spec.reading == R::PageRange) return FilterPageRange(text);

    if (const auto clean = ScanClean(spec, text)) {
        if (spec.upperBound && clean->asDouble() > *spec.upperBound) return TextOf(spec, LimitedAbove(spec, *clean));
        return text;
    }
    if (text.isEmpty()) return text;
    if (spec.loneMinusStands && text == u"-") return text;

    Reading value = ControlValue(spec, text);
    if (value.asDouble() < spec.lowerBound) value = WithValue(spec, spec.lowerBound);
    value = LimitedAbove(spec, value);
    return TextOf(spec, value);
}

QString EndEditingNumberFieldText(NumberFieldKind kind, const QString& text) {
    const NumberFieldSpec& spec = NumberFieldSpecFor(kind);
    if (!spec.raisesAtEnd) return text;
    if (ControlValue(spec, text).asDouble() < spec.lowerBound) return TextOf(spec, WithValue(spec, spec.lowerBound));
    return text;
}
