#pragma once
// How deeply the elements of an HTML text nest, and how many there are, as
// Qt's HTML reader will build them. Qt lays nested tables (and the frames
// behind them) out recursively, so a document of thousands of nested tables
// overflowed the stack; such a document is refused before Qt reads it.

#include <QStringView>

#include <cstddef>
#include <cstdint>

// Block elements (tables with their rows and cells, lists and their items,
// divisions, quotations, headings...) that may stand inside each other in
// a document we lay out. Honest documents stay within a few dozen.
inline constexpr std::size_t kMaxHTMLNesting = 96;
// Tables inside tables: Qt lays a table's cells out more than once to find
// its column widths, so the work doubles with each level (a text inside 20
// tables took over a minute).
inline constexpr std::size_t kMaxHTMLTableNesting = 8;
// Tags of a document we lay out: Qt keeps a node of some hundred bytes for
// each, and 400,000 of them take half a minute to lay out.
inline constexpr std::size_t kMaxHTMLTags = 400000;
// Layout work: each byte of the text counts once outside tables and inside
// one table, and twice more for each further table around it. 64 Mi is four
// times the work of the largest plain text we lay out.
inline constexpr std::uint64_t kMaxHTMLLayoutWork = std::uint64_t(64) << 20;

struct HTMLShape {
    std::size_t depth = 0;       // deepest nesting of block elements
    std::size_t tableDepth = 0;  // deepest nesting of tables
    std::size_t tags = 0;        // opening and closing tags
    std::uint64_t work = 0;      // layout work as counted above
};

// The shape of `html` as Qt's reader will build it, following the rules by
// which it closes elements that the text leaves open (a new list item ends
// the last one, a cell needs a row and a row a table...). Counting stops
// once any bound above is passed. Linear in the length of the text.
HTMLShape GetHTMLShape(QStringView html);

// True when Qt may read and lay out `html`: within every bound above.
bool IsHTMLWithinBounds(QStringView html);
