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

// Every backslash followed by `escaped` becomes `replacement`, matches taken
// from the left without overlapping.
void ReplaceEscapes(QString& text, QChar escaped, QChar replacement) {
    QChar* d = text.data();
    const qsizetype n = text.size();
    qsizetype w = 0;
    for (qsizetype r = 0; r < n;) {
        if (d[r] == QLatin1Char('\\') && r + 1 < n && d[r + 1] == escaped) {
            d[w++] = replacement;
            r += 2;
        } else {
            d[w++] = d[r++];
        }
    }
    text.truncate(w);
}

// Replaces the first "\\u" followed by four characters by the character of
// their leading hex digits, and again from the start, until none is left. A
// new character can complete an escape with its neighbours, so the search
// goes on from just before it: the text before that holds none. Built in one
// pass: each replacement shortens the text by five characters.
QString ReplaceUnicodeEscapes(QString in) {
    QString out;
    out.reserve(in.size());
    const qsizetype n = in.size();
    qsizetype i = 0;
    while (i < n) {
        if (in[i] == QLatin1Char('\\') && i + 1 < n && in[i + 1] == QLatin1Char('u') && i + 6 <= n) {
            const QChar decoded(LeadingHexValue(QStringView(in).mid(i + 2, 4)));
            i += 5;
            in[i] = decoded;
            if (!out.isEmpty() && out.back() == QLatin1Char('\\')) {
                out.chop(1);
                in[--i] = QLatin1Char('\\');
            }
            continue;
        }
        out.append(in[i++]);
    }
    return out;
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
    // A string holding commas: taken up to the first comma before which the
    // text ends in a quote, else up to the last comma there is. One walk,
    // remembering the last character that is not white space.
    qsizetype first = valueAt;
    while (first < comma && json[first].isSpace()) ++first;
    if (first < comma && json[first] == QLatin1Char('"')) {
        qsizetype lastSolid = first;
        for (qsizetype i = first + 1; i < json.size(); ++i) {
            const QChar c = json[i];
            if (c == QLatin1Char(',')) {
                comma = i;
                if (json[lastSolid] == QLatin1Char('"')) break;
            }
            if (!c.isSpace()) lastSolid = i;
        }
    }
    QString value = TrimmedQuotes(json.mid(valueAt, comma - valueAt).trimmed());

    // Each escape over the whole text in turn, in this order (so "\\n"
    // ends as a line feed), each in one pass.
    static const struct {
        char escaped;
        char text;
    } kEscapes[] = {{'\\', '\\'}, {'/', '/'}, {'"', '"'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}, {'f', '\f'}, {'b', '\b'}};
    for (const auto& escape : kEscapes) ReplaceEscapes(value, QLatin1Char(escape.escaped), QLatin1Char(escape.text));
    return ReplaceUnicodeEscapes(std::move(value));
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

std::optional<std::uint64_t> StoreIDFromReply(const QByteArray& body, const QString& bundleID) {
    const QString json = QString::fromUtf8(body);
    const std::optional<QString> found = StoreValueForKeyInJSON(QStringLiteral("bundleId"), json);
    if (!found || *found != bundleID) return std::nullopt;
    const std::optional<QString> trackID = StoreValueForKeyInJSON(QStringLiteral("trackId"), json);
    return trackID ? StoreIDFromText(*trackID) : 0;
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
