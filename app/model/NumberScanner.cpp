#include "app/model/NumberScanner.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

NumberScanner::NumberScanner(const QString& text, Skip skip) : text_(text), skip_(skip) {}

void NumberScanner::skipCharacters() {
    while (position_ < text_.size()) {
        const QChar c = text_[position_];
        const bool skipped = skip_ == Skip::Whitespace ? c.isSpace() : c == u'%';
        if (!skipped) break;
        ++position_;
    }
}

bool NumberScanner::isAtEnd() {
    skipCharacters();
    return position_ >= text_.size();
}

std::optional<std::int64_t> NumberScanner::scanInteger(std::int64_t minimum, std::int64_t maximum) {
    skipCharacters();
    qsizetype p = position_;
    bool negative = false;
    if (p < text_.size() && (text_[p] == u'-' || text_[p] == u'+')) {
        negative = text_[p] == u'-';
        ++p;
    }
    const qsizetype digitsStart = p;
    // Accumulate towards the sign so that the most negative value fits.
    std::int64_t value = 0;
    bool saturated = false;
    while (p < text_.size() && text_[p] >= u'0' && text_[p] <= u'9') {
        const int digit = text_[p].unicode() - u'0';
        if (!saturated) {
            if (negative) {
                if (value < (minimum + digit) / 10) saturated = true;
                else value = value * 10 - digit;
            } else {
                if (value > (maximum - digit) / 10) saturated = true;
                else value = value * 10 + digit;
            }
        }
        ++p;
    }
    if (p == digitsStart) return std::nullopt;
    position_ = p;
    if (saturated) return negative ? minimum : maximum;
    if (value < minimum) return minimum;
    if (value > maximum) return maximum;
    return value;
}

std::optional<double> NumberScanner::scanReal(double largest) {
    skipCharacters();
    qsizetype p = position_;
    std::string digits;
    bool negative = false;
    if (p < text_.size() && (text_[p] == u'-' || text_[p] == u'+')) {
        negative = text_[p] == u'-';
        ++p;
    }
    auto isDigit = [&](qsizetype at) { return at < text_.size() && text_[at] >= u'0' && text_[at] <= u'9'; };
    int mantissaDigits = 0;
    while (isDigit(p)) {
        digits += static_cast<char>(text_[p].unicode());
        ++p;
        ++mantissaDigits;
    }
    if (p < text_.size() && text_[p] == u'.') {
        qsizetype q = p + 1;
        std::string fraction;
        while (isDigit(q)) {
            fraction += static_cast<char>(text_[q].unicode());
            ++q;
        }
        if (mantissaDigits > 0 || !fraction.empty()) {
            digits += '.';
            digits += fraction;
            mantissaDigits += static_cast<int>(fraction.size());
            p = q;
        }
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (p < text_.size() && (text_[p] == u'e' || text_[p] == u'E')) {
        qsizetype q = p + 1;
        std::string exponent = "e";
        if (q < text_.size() && (text_[q] == u'-' || text_[q] == u'+')) {
            exponent += static_cast<char>(text_[q].unicode());
            ++q;
        }
        if (isDigit(q)) {
            while (isDigit(q)) {
                exponent += static_cast<char>(text_[q].unicode());
                ++q;
            }
            digits += exponent;
            p = q;
        }
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Too large saturates; too small (an exponent far below) is zero.
        const auto e = digits.find('e');
        const bool tiny = e != std::string::npos && e + 1 < digits.size() && digits[e + 1] == '-';
        value = tiny ? 0.0 : largest;
    }
    if (value > largest) value = largest;
    position_ = p;
    if (value == 0.0) return 0.0;
    return negative ? -value : value;
}

std::int64_t LeadingInteger(const QString& text, std::int64_t minimum, std::int64_t maximum) {
    NumberScanner scanner(text, NumberScanner::Skip::Whitespace);
    return scanner.scanInteger(minimum, maximum).value_or(0);
}

double LeadingReal(const QString& text, double largest) {
    NumberScanner scanner(text, NumberScanner::Skip::Whitespace);
    return scanner.scanReal(largest).value_or(0.0);
}

QString FormatDouble(double value) {
    if (value == 0.0) value = 0.0;  // no "-0"
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString FormatFloat(float value) {
    if (value == 0.0f) value = 0.0f;
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}
