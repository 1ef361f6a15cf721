#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// Reads numbers from the start of a text the way the number fields need:
// an optional sign, decimal digits, for reals an optional fraction and
// exponent. Nothing else counts as a number (no "inf", "nan" or hex), and
// values beyond the type's range saturate instead of failing.
class NumberScanner {
public:
    enum class Skip { Whitespace, Percent };

    NumberScanner(const QString& text, Skip skip);

    std::optional<std::int64_t> scanInteger(std::int64_t minimum, std::int64_t maximum);
    std::optional<double> scanReal(double largest);
    // True when only skipped characters are left.
    bool isAtEnd();

private:
    void skipCharacters();

    const QString& text_;
    Skip skip_;
    qsizetype position_ = 0;
};

// The leading number of a text as a control reads its value: leading
// whitespace skipped, 0 when the text begins with no number.
std::int64_t LeadingInteger(const QString& text, std::int64_t minimum, std::int64_t maximum);
double LeadingReal(const QString& text, double largest);

// Shortest text that reads back as the same value.
QString FormatDouble(double value);
QString FormatFloat(float value);
