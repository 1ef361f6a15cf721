#pragma once
// The CSS of an HTML document as Qt is given it: only properties that style
// text, paragraphs and table cells, each value checked and written again in
// one spelling, sizes within bounds. Nothing that makes blocks of inline
// elements, floats, loads a file or multiplies pages passes.

#include <QString>
#include <QStringView>

#include <cstddef>

// Rules of a document's style sheets together: Qt matches each rule that is
// not indexed by an element name against every element.
inline constexpr std::size_t kMaxHTMLStyleRules = 128;
// Characters of style sheets read (inline sheets and linked ones together).
inline constexpr qsizetype kMaxHTMLStyleSheetCharacters = qsizetype(1) << 20;

// The declarations of a style attribute ("a: b; c: d"), kept and rewritten.
// `pageBreaks` counts the page breaks they ask for.
QString SanitizeStyleDeclarations(QStringView declarations, std::size_t* pageBreaks = nullptr);

// The rules of a style sheet whose selectors are element names, classes and
// ids (no combinators, pseudo-classes or at-rules), appended to `out` until
// `rules` reaches kMaxHTMLStyleRules.
void AppendSanitizedStyleSheet(QStringView sheet, QString& out, std::size_t& rules);

// A colour as "#rrggbb" (or "transparent"); empty when it is none.
QString SanitizeColor(QStringView value);
