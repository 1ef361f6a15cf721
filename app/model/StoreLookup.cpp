#include "app/model/StoreLookup.h"

#include <limits>

namespace {

QString WithoutTrailingSlashes(QString text) {
    while (text.endsWith(QLatin1Char('/'))) text.chop(1);
    return text;
}

QString TrimmedQuotes(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == QLatin1Char('"')) ++first;
    while (last > first && text[last - 1] == QLatin1Char('"')) --last;
    return text.mid(first, last - first);
}

// The leading hexadecimal digits of four characters; 0 when there are none.
char16_t LeadingHexValue(QStringView digits) {
    char16_t value = 0;
    for (const QChar c : digits) {
        const int digit = QChar::isDigit(c.unicode()) ? c.unicode() - u'0'
                          : (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ? c.unicode() - u'a' + 10
                          : (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ? c.unicode() - u'A' + 10
                                                                               : -1;
        if (digit < 0) break;
        value = char16_t(value * 16 + digit);
    }
    return value;
}

bool IsWebAddress(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

}  // namespace

std::optional<QString> StoreValueForKeyInJSON(const QString& key, const QString& json) {
    const QString quotedKey = QLatin1Char('"') + key + QLatin1Char('"');
    const qsizetype keyAt = json.indexOf(quotedKey);
    if (keyAt < 0) return std::nullopt;
    const qsizetype colon = json.indexOf(QLatin1Char(':'), keyAt + quotedKey.size());
    if (colon < 0) return std::nullopt;
    const qsizetype valueAt = colon + 1;
    qsizetype comma = json.indexOf(QLatin1Char(','), valueAt);
    if (comma < 0) return std::nullopt;
    QString value = json.mid(valueAt, comma - valueAt).trimmed();
    // A string holding commas: take in more up to a closing quote.
    while (value.startsWith(QLatin1Char('"')) && !value.endsWith(QLatin1Char('"'))) {
        const qsizetype next = json.indexOf(QLatin1Char(','), comma + 1);
        if (next < 0) break;
        comma = next;
        value = json.mid(valueAt, comma - valueAt).trimmed();
    }
    value = TrimmedQuotes(value);

    static const struct {
        const char* escape;
        const char* text;
    } kEscapes[] = {{"\\\\", "\\"}, {"\\/", "/"},  {"\\\"", "\""}, {"\\n", "\n"},
                    {"\\r", "\r"},  {"\\t", "\t"}, {"\\f", "\f"},  {"\\b", "\b"}};
    for (const auto& escape : kEscapes) {
        value.replace(QLatin1String(escape.escape), QLatin1String(escape.text));
    }
    // Each replacement shortens the text, so this ends.
    for (qsizetype at = value.indexOf(QLatin1String("\\u")); at >= 0 && at + 6 <= value.size();
         at = value.indexOf(QLatin1String("\\u"))) {
        value.replace(at, 6, QChar(LeadingHexValue(QStringView(value).mid(at + 2, 4))));
    }
    return value;
}

QUrl StoreLookupURL(const QString& base, const QString& country, std::uint64_t appStoreID,
                    const QString& bundleID) {
    const QString root = WithoutTrailingSlashes(base.trimmed());
    if (!IsWebAddress(QUrl(root, QUrl::StrictMode))) return {};
    QByteArray address = root.toUtf8() + "//lookup?country=" + QUrl::toPercentEncoding(country);
    if (appStoreID != 0) {
        address += "&id=" + QByteArray::number(qulonglong(appStoreID));
    } else {
        address += "&bundleId=" + QUrl::toPercentEncoding(bundleID);
    }
    return QUrl::fromEncoded(address, QUrl::StrictMode);
}

QUrl StorePageURL(const QString& base, std::uint64_t appStoreID) {
    const QString root = WithoutTrailingSlashes(base.trimmed());
    if (root.isEmpty() || appStoreID == 0) return {};
    const QUrl page(root + QStringLiteral("/app/id") + QString::number(qulonglong(appStoreID)), QUrl::StrictMode);
    return page.isValid() && !page.scheme().isEmpty() ? page : QUrl();
}

std::uint64_t StoreIDFromText(const QString& text) {
    const QString trimmed = text.trimmed();
    std::uint64_t value = 0;
    for (const QChar c : trimmed) {
        if (!c.isDigit() || c.unicode() > u'9') break;
        const std::uint64_t digit = c.unicode() - u'0';
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}
