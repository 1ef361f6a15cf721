#include "pdf/HtmlStyle.h"

#include <QColor>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace {

enum class ValueKind {
    Color,
    FontSize,
    Spacing,     // margins and padding: 0..720pt
    Indent,      // -720..720pt
    LineHeight,  // a factor, a percentage or a length
    FontFamily,
    Keywords,    // one or more words of `keywords`
    PageBreak,   // always | auto, counted
};

struct PropertyRule {
    std::string_view name;
    ValueKind kind;
    std::string_view keywords = {};  // space-separated
};

constexpr std::array<PropertyRule, 26> kProperties{{
    {"color", ValueKind::Color},
    {"background-color", ValueKind::Color},
    {"background", ValueKind::Color},
    {"font-size", ValueKind::FontSize},
    {"font-family", ValueKind::FontFamily},
    {"font-weight", ValueKind::Keywords, "normal bold bolder lighter 100 200 300 400 500 600 700 800 900"},
    {"font-style", ValueKind::Keywords, "normal italic oblique"},
    {"text-decoration", ValueKind::Keywords, "none underline overline line-through"},
    {"text-align", ValueKind::Keywords, "left right center justify"},
    {"vertical-align", ValueKind::Keywords, "baseline sub super middle top bottom"},
    {"white-space", ValueKind::Keywords, "normal pre nowrap pre-wrap pre-line"},
    {"list-style-type", ValueKind::Keywords,
     "none disc circle square decimal lower-alpha upper-alpha lower-roman upper-roman"},
    {"text-indent", ValueKind::Indent},
    {"line-height", ValueKind::LineHeight},
    {"margin", ValueKind::Spacing},
    {"margin-top", ValueKind::Spacing},
    {"margin-bottom", ValueKind::Spacing},
    {"margin-left", ValueKind::Spacing},
    {"margin-right", ValueKind::Spacing},
    {"padding", ValueKind::Spacing},
    {"padding-top", ValueKind::Spacing},
    {"padding-bottom", ValueKind::Spacing},
    {"padding-left", ValueKind::Spacing},
    {"padding-right", ValueKind::Spacing},
    {"page-break-before", ValueKind::PageBreak},
    {"page-break-after", ValueKind::PageBreak},
}};

const PropertyRule* FindProperty(QStringView name) {
    for (const PropertyRule& rule : kProperties) {
        if (name.compare(QLatin1StringView(rule.name.data(), qsizetype(rule.name.size())), Qt::CaseInsensitive) == 0)
            return &rule;
    }
    return nullptr;
}

// Points per unit of each length unit Qt reads.
struct Unit {
    std::string_view name;
    double points;
};
constexpr std::array<Unit, 7> kUnits{{
    {"pt", 1.0}, {"px", 0.75}, {"in", 72.0}, {"cm", 72.0 / 2.54}, {"mm", 72.0 / 25.4}, {"em", 12.0}, {"%", 0.12},
}};

// "12.5pt" within [minPoints, maxPoints], in its own unit; a bare number
// only where `bare` allows (as a length of 0, or a factor).
QString Length(QStringView value, double minPoints, double maxPoints, bool bareNumber = false) {
    static const QRegularExpression form(QStringLiteral("^([-+]?(?:\\d{1,7}(?:\\.\\d{0,4})?|\\.\\d{1,4}))([a-z%]*)$"));
    const QString text = value.toString().toLower();
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) return {};
    double number = match.captured(1).toDouble();
    const QString unit = match.captured(2);
    if (unit.isEmpty()) {
        if (bareNumber) return QString::number(std::clamp(number, 0.0, 10.0), 'g', 4);
        return number == 0.0 ? QStringLiteral("0") : QString();
    }
    for (const Unit& u : kUnits) {
        if (unit == QLatin1StringView(u.name.data(), qsizetype(u.name.size()))) {
            number = std::clamp(number, minPoints / u.points, maxPoints / u.points);
            return QString::number(number, 'f', 2) + unit;
        }
    }
    return {};
}

QString Keywords(QStringView value, std::string_view allowed) {
    const QStringList words = value.toString().toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty() || words.size() > 4) return {};
    const QString list = QLatin1Char(' ') + QLatin1StringView(allowed.data(), qsizetype(allowed.size())) + QLatin1Char(' ');
    for (const QString& word : words) {
        if (!list.contains(QLatin1Char(' ') + word + QLatin1Char(' '))) return {};
    }
    return words.join(QLatin1Char(' '));
}

// Font names, each written in quotes; at most eight of plain characters.
QString FontFamily(QStringView value) {
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9 _-]{1,64}$"));
    QStringList names;
    for (QString part : value.toString().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        part = part.trimmed();
        if (part.size() >= 2 && (part.front() == u'"' || part.front() == u'\'') && part.back() == part.front())
            part = part.mid(1, part.size() - 2).trimmed();
        if (!name.match(part).hasMatch() || names.size() == 8) return {};
        names << QLatin1Char('\'') + part + QLatin1Char('\'');
    }
    return names.join(QStringLiteral(", "));
}

QString SanitizeValue(const PropertyRule& rule, QStringView value, std::size_t* pageBreaks) {
    switch (rule.kind) {
    case ValueKind::Color: return SanitizeColor(value);
    case ValueKind::FontSize: {
        const QString keyword =
            Keywords(value, "xx-small x-small small medium large x-large xx-large smaller larger");
        return keyword.isEmpty() ? Length(value, 1.0, 144.0) : keyword;
    }
    case ValueKind::Spacing: {
        // One to four lengths (the shorthand).
        QStringList lengths;
        for (const QString& part : value.toString().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString length = Length(part, 0.0, 720.0);
            if (length.isEmpty() || lengths.size() == 4) return {};
            lengths << length;
        }
        if (rule.name.find('-') != std::string_view::npos && lengths.size() != 1) return {};
        return lengths.join(QLatin1Char(' '));
    }
    case ValueKind::Indent: return Length(value, -720.0, 720.0);
    case ValueKind::LineHeight: {
        if (value.compare(QLatin1StringView("normal"), Qt::CaseInsensitive) == 0) return QStringLiteral("normal");
        return Length(value, 0.0, 144.0, true);
    }
    case ValueKind::FontFamily: return FontFamily(value);
    case ValueKind::Keywords: return Keywords(value, rule.keywords);
    case ValueKind::PageBreak: {
        const QString keyword = Keywords(value, "always auto");
        if (keyword == QLatin1StringView("always") && pageBreaks) ++*pageBreaks;
        // Style sheets may name many elements at once: no page breaks there.
        return pageBreaks ? keyword : QString();
    }
    }
    return {};
}

}  // namespace

QString SanitizeColor(QStringView value) {
    static const QRegularExpression hex(QStringLiteral("^#([0-9a-fA-F]{3}|[0-9a-fA-F]{6})$"));
    static const QRegularExpression rgb(
        QStringLiteral("^rgb\\(\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*\\)$"));
    static const QRegularExpression name(QStringLiteral("^[a-zA-Z]{1,32}$"));
    const QString text = value.trimmed().toString();
    if (text.compare(QLatin1StringView("transparent"), Qt::CaseInsensitive) == 0) return QStringLiteral("transparent");
    QColor color;
    if (hex.match(text).hasMatch() || name.match(text).hasMatch()) {
        color = QColor::fromString(text);
    } else if (const QRegularExpressionMatch m = rgb.match(text); m.hasMatch()) {
        color = QColor(std::min(m.captured(1).toInt(), 255), std::min(m.captured(2).toInt(), 255),
                       std::min(m.captured(3).toInt(), 255));
    }
    return color.isValid() ? color.name(QColor::HexRgb) : QString();
}

QString SanitizeStyleDeclarations(QStringView declarations, std::size_t* pageBreaks) {
    QString out;
    for (QStringView declaration : declarations.split(u';', Qt::SkipEmptyParts)) {
        const qsizetype colon = declaration.indexOf(u':');
        if (colon <= 0) continue;
        const PropertyRule* rule = FindProperty(declaration.first(colon).trimmed());
        if (!rule) continue;
        QString value = declaration.sliced(colon + 1).trimmed().toString();
        value.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
        if (value.endsWith(QLatin1StringView("!important"), Qt::CaseInsensitive)) value.chop(10);
        const QString clean = SanitizeValue(*rule, QStringView(value).trimmed(), pageBreaks);
        if (clean.isEmpty()) continue;
        if (!out.isEmpty()) out += QLatin1Char(' ');
        out += QLatin1StringView(rule->name.data(), qsizetype(rule->name.size())) + QStringLiteral(": ") + clean +
               QLatin1Char(';');
    }
    return out;
}

void AppendSanitizedStyleSheet(QStringView sheet, QString& out, std::size_t& rules) {
    static const QRegularExpression simple(
        QStringLiteral("^([a-z][a-z0-9]{0,15})?([.#][A-Za-z_][A-Za-z0-9_-]{0,63})*$"));
    // Comments out; the rest is read rule by rule.
    QString text = sheet.first(std::min(sheet.size(), kMaxHTMLStyleSheetCharacters)).toString();
    text.remove(QRegularExpression(QStringLiteral("/\\*.*?(\\*/|$)"),
                                   QRegularExpression::DotMatchesEverythingOption));
    // Old pages hide their sheets from old browsers in an HTML comment.
    text.remove(QLatin1StringView("<!--")).remove(QLatin1StringView("-->"));
    qsizetype pos = 0;
    while (pos < text.size() && rules < kMaxHTMLStyleRules) {
        const qsizetype open = text.indexOf(u'{', pos);
        if (open < 0) break;
        // A block ends at its matching brace (at-rules hold blocks of rules).
        qsizetype close = open + 1;
        for (int level = 1; close < text.size() && level > 0; ++close) {
            if (text[close] == u'{') ++level;
            if (text[close] == u'}') --level;
        }
        QStringView prelude = QStringView(text).sliced(pos, open - pos).trimmed();
        const QStringView body = QStringView(text).sliced(open + 1, std::max<qsizetype>(close - open - 2, 0));
        pos = close;
        // At-rules without a block ("@import url(x);") end at their semicolon.
        while (prelude.startsWith(u'@') && prelude.contains(u';')) prelude = prelude.sliced(prelude.indexOf(u';') + 1).trimmed();
        if (prelude.isEmpty() || prelude.startsWith(u'@') || body.contains(u'{')) continue;
        QStringList selectors;
        bool valid = true;
        for (QStringView selector : prelude.split(u',')) {
            const QString s = selector.trimmed().toString();
            QString lowered = s;
            // Element names compare without case; classes and ids with it.
            const qsizetype end = std::min(s.indexOf(u'.') < 0 ? s.size() : s.indexOf(u'.'),
                                           s.indexOf(u'#') < 0 ? s.size() : s.indexOf(u'#'));
            lowered.replace(0, end, s.first(end).toLower());
            if (s.isEmpty() || !simple.match(lowered).hasMatch()) valid = false;
            selectors << lowered;
        }
        const QString declarations = SanitizeStyleDeclarations(body);
        if (!valid || declarations.isEmpty()) continue;
        out += selectors.join(QStringLiteral(", ")) + QStringLiteral(" { ") + declarations + QStringLiteral(" }\n");
        ++rules;
    }
}
