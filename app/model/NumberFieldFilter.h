#pragma once

#include <QString>

#include <optional>

// The sixteen kinds of numeric input field. Each keeps its text a number
// above a lower bound; upper limits are left to the field's owner, except the
// scale combo box's.
enum class NumberFieldKind {
    WholeNumber,
    Number,
    ZeroCount,
    StartDigit,
    PageCount,
    FileSize,
    Resolution,
    FontSize,
    RotationAngle,
    ShadowBlur,
    ShadowXOffset,
    ShadowYOffset,
    PDFScale,
    CharSpace,
    Scale,
    PageRange,
};

inline constexpr int kNumberFieldKindCount = 16;

// How a field reads its number: the scanner's type and the control's value.
enum class NumberReading { Int32, Int64, Float, Double, PageRange };

struct NumberFieldSpec {
    NumberFieldKind kind;
    const char* className;
    NumberReading reading;
    double lowerBound;
    bool skipsPercent;           // "%" is skipped instead of whitespace
    bool loneMinusStands;        // a lone "-" is a negative number being typed
    std::optional<double> upperBound;
    bool raisesAtEnd;            // end of editing raises the value to the bound
};

const NumberFieldSpec& NumberFieldSpecFor(NumberFieldKind kind);

// The text a field shows after an edit left it holding `text`.
QString FilterNumberFieldText(NumberFieldKind kind, const QString& text);

// The text a field shows when editing ends with it holding `text`.
QString EndEditingNumberFieldText(NumberFieldKind kind, const QString& text);
