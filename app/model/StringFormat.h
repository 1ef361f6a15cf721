#pragma once

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <variant>


// One argument of a string-table format: text for %@, a whole number for
// %d/%ld, a real number for %f and %.Nf.
class FormatArg {
public:
    FormatArg(const QString& text) : value_(text) {}
    FormatArg(const char* text) : value_(QString::fromUtf8(text)) {}
    FormatArg(int number) : value_(static_cast<std::int64_t>(number)) {}
    FormatArg(long number) : value_(static_cast<std::int64_t>(number)) {}
    FormatArg(long long number) : value_(static_cast<std::int64_t>(number)) {}
    FormatArg(unsigned number) : value_(static_cast<std::int64_t>(number)) {}
    FormatArg(unsigned long number) : value_(static_cast<std::uint64_t>(number)) {}
    FormatArg(unsigned long long number) : value_(static_cast<std::uint64_t>(number)) {}
    FormatArg(double number) : value_(number) {}
    FormatArg(float number) : value_(static_cast<double>(number)) {}

    QString asText() const;
    std::int64_t asInteger() const;
    std::uint64_t asUnsigned() const;
    double asReal() const;

private:
    std::variant<QString, std::int64_t, std::uint64_t, double> value_;
};

// Fills the placeholders %@, %d, %i, %u (with the length modifiers l, ll, q),
// %f, %.Nf and %% with the arguments in order. Width and the 0 flag are
// honoured for numbers. An unknown directive is kept as written; a directive
// without an argument left gives nothing. The result is plain text: callers
// never pass it through the formatter again.
QString FormatString(const QString& format, std::initializer_list<FormatArg> args);

