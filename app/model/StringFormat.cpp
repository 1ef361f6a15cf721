#include "app/model/StringFormat.h"

#include <cmath>
#include <limits>
#include <vector>


QString FormatArg::asText() const {
    if (const auto* text = std::get_if<QString>(&value_)) return *text;
    if (const auto* i = std::get_if<std::int64_t>(&value_)) return QString::number(*i);
    if (const auto* u = std::get_if<std::uint64_t>(&value_)) return QString::number(*u);
    return QString::number(std::get<double>(value_), 'g', 15);
}

std::int64_t FormatArg::asInteger() const {
    if (const auto* i = std::get_if<std::int64_t>(&value_)) return *i;
    if (const auto* u = std::get_if<std::uint64_t>(&value_)) return static_cast<std::int64_t>(*u);
    if (const auto* d = std::get_if<double>(&value_)) {
        if (!std::isfinite(*d)) return 0;
        if (*d >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
        if (*d <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(*d);
    }
    return std::get<QString>(value_).toLongLong();
}

std::uint64_t FormatArg::asUnsigned() const {
    if (const auto* u = std::get_if<std::uint64_t>(&value_)) return *u;
    return static_cast<std::uint64_t>(asInteger());
}

double FormatArg::asReal() const {
    if (const auto* d = std::get_if<double>(&value_)) return *d;
    if (const auto* i = std::get_if<std::int64_t>(&value_)) return static_cast<double>(*i);
    if (const auto* u = std::get_if<std::uint64_t>(&value_)) return static_cast<double>(*u);
    return std::get<QString>(value_).toDouble();
}

namespace {

QString Pad(QString text, int width, bool zeroPad) {
    if (width <= 0 || text.size() >= width) return text;
    const int missing = width - static_cast<int>(text.size());
    if (zeroPad) {
        const int signLength = (text.startsWith(u'-') || text.startsWith(u'+')) ? 1 : 0;
        text.insert(signLength, QString(missing, u'0'));
        return text;
    }
    return QString(missing, u' ') + text;
}

}  // namespace

QString FormatString(const QString& format, std::initializer_list<FormatArg> args) {
    const std::vector<FormatArg> list(args);
    std::size_t next = 0;
    QString out;
    out.reserve(format.size() + 16);
    const qsizetype n = format.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = format[i];
        if (c != u'%') {
            out += c;
            ++i;
            continue;
        }
        const qsizetype start = i++;
        if (i < n && format[i] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        bool zeroPad = false;
        while (i < n && format[i] == u'0') {
            zeroPad = true;
            ++i;
        }
        int width = 0;
        while (i < n && format[i].isDigit() && width < 1000) {
            width = width * 10 + format[i].digitValue();
            ++i;
        }
        int precision = -1;
        if (i < n && format[i] == u'.') {
            ++i;
            precision = 0;
            while (i < n && format[i].isDigit() && precision < 100) {
                precision = precision * 10 + format[i].digitValue();
                ++i;
            }
        }
        while (i < n && (format[i] == u'l' || format[i] == u'q')) ++i;
        if (i >= n) {
            out += format.mid(start);
            break;
        }
        const QChar conversion = format[i++];
        const bool known = conversion == u'@' || conversion == u'd' || conversion == u'i' ||
                           conversion == u'u' || conversion == u'f';
        if (!known) {
            out += format.mid(start, i - start);
            continue;
        }
        if (next >= list.size()) continue;
        const FormatArg& arg = list[next++];
        if (conversion == u'@') {
            out += Pad(arg.asText(), width, false);
        } else if (conversion == u'u') {
            out += Pad(QString::number(arg.asUnsigned()), width, zeroPad);
        } else if (conversion == u'f') {
            out += Pad(QString::number(arg.asReal(), 'f', precision < 0 ? 6 : precision), width, zeroPad);
        } else {
            out += Pad(QString::number(arg.asInteger()), width, zeroPad);
        }
    }
    return out;
}

