#pragma once
// HTML as Qt is given it. One HTML parser (libxml2's, through
// plat::ParseHtml) reads the text into a tree; the tree is bounded and
// written out again in one canonical spelling: only elements and attributes
// Qt knows, each name in lower case, every element closed, values quoted
// and checked, text escaped, tables, rows and cells only where Qt expects
// them (so that it makes up none), and every link replaced by a name only
// the document's own loader answers. What Qt reads is then exactly what was
// measured, however the original was spelt.

#include <QSize>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// Elements inside each other, as written for Qt. Honest documents stay
// within a few dozen.
inline constexpr std::size_t kMaxHTMLDepth = 96;
// Tables inside tables: Qt lays a table out recursively, its cells more than
// once to find the column widths, so the work doubles with each level.
inline constexpr std::size_t kMaxHTMLTableNesting = 8;
// Lists inside lists: Qt indents each level, and many levels leave no room.
inline constexpr std::size_t kMaxHTMLListNesting = 12;
// Qt numbers each item of a list by looking for it among the list's items:
// a list of n items costs n². This bounds the sum over all lists (a list
// of 5,000 items is within it).
inline constexpr std::uint64_t kMaxHTMLListWork = std::uint64_t(1) << 25;
// Elements written for Qt; each is a node of some hundred bytes there.
inline constexpr std::size_t kMaxHTMLElements = 100000;
// Cells of all tables (rows times columns): Qt makes a block for each.
inline constexpr std::size_t kMaxHTMLTableCells = 250000;
// Layout work of the text in tables: each character counts once inside one
// table and twice more for each further table around it (Qt takes some
// microseconds a unit: 2 Mi is 16,000 characters inside eight tables).
inline constexpr std::uint64_t kMaxHTMLLayoutWork = std::uint64_t(2) << 20;
// Characters of text.
inline constexpr std::size_t kMaxHTMLCharacters = std::size_t(16) << 20;
// Page breaks asked for by style attributes.
inline constexpr std::size_t kMaxHTMLPageBreaks = 2000;
// Longest side an image is shown at, in pixels (a page is under 1200).
inline constexpr int kMaxHTMLImageSide = 2400;
// Longest attribute value passed on (links, names, classes).
inline constexpr qsizetype kMaxHTMLAttributeLength = 2048;

struct HTMLTableShape {
    std::size_t rows = 0;
    std::size_t columns = 0;
};

struct HTMLShape {
    std::size_t depth = 0;       // deepest element
    std::size_t tableDepth = 0;  // deepest nesting of tables
    std::size_t listDepth = 0;   // deepest nesting of lists
    std::uint64_t listWork = 0;  // items² summed over the lists
    std::size_t elements = 0;
    std::size_t tableCells = 0;
    std::size_t characters = 0;
    std::size_t pageBreaks = 0;
    std::uint64_t work = 0;
    // Tables with at least one cell, in document order.
    std::vector<HTMLTableShape> tables;
};

// What the document's loader made of an image link: the name it answers
// to, and the image's own size (empty when it loads nothing).
struct HTMLImage {
    QString name;
    QSize size;
};

struct HTMLLinks {
    // Registers the image `link` names; it must answer with a name.
    std::function<HTMLImage(const QString& link)> image;
    // The text of the style sheet `link` names; empty when it loads nothing.
    std::function<QString(const QString& link)> styleSheet;
};

struct BoundedHTML {
    QString html;  // what Qt reads
    HTMLShape shape;
};

// `html` made fit for Qt; none when it passes a bound. Images without a
// loader become empty images; linked style sheets are then not read.
std::optional<BoundedHTML> MakeBoundedHTML(const QString& html, const HTMLLinks& links = {});
