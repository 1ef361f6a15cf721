#include "pdf/HtmlNesting.h"

#include <QHash>
#include <QString>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace {

enum class Kind {
    Inline,   // spans, fonts, links and every name Qt does not know
    Void,     // never holds anything
    Block,    // counts toward the nesting
    Root,     // body: Qt puts it under the document itself
};

// The elements whose handling differs from a plain inline element.
struct ElementRule {
    std::string_view name;
    Kind kind;
};

constexpr std::array<ElementRule, 31> kElements{{
    {"body", Kind::Root},     {"br", Kind::Void},      {"hr", Kind::Void},
    {"img", Kind::Void},       {"meta", Kind::Void},     {"address", Kind::Block}, {"blockquote", Kind::Block},
    {"center", Kind::Block},   {"dd", Kind::Block},      {"div", Kind::Block},    {"dl", Kind::Block},
    {"dt", Kind::Block},       {"h1", Kind::Block},      {"h2", Kind::Block},     {"h3", Kind::Block},
    {"h4", Kind::Block},       {"h5", Kind::Block},      {"h6", Kind::Block},     {"li", Kind::Block},
    {"ol", Kind::Block},       {"p", Kind::Block},       {"pre", Kind::Block},    {"ul", Kind::Block},
    {"table", Kind::Block},    {"tr", Kind::Block},      {"td", Kind::Block},     {"th", Kind::Block},
    {"thead", Kind::Block},    {"tbody", Kind::Block},   {"tfoot", Kind::Block},  {"caption", Kind::Block},
}};

// The open elements from the document down to where the text goes on, with
// a count of open elements per name, so that finding an open element of a
// name and closing down to it cost no walk over the others.
class OpenElements {
public:
    // Names are numbered as they are met; the fixed ones first.
    int idOf(const QString& name) {
        auto found = ids_.constFind(name);
        if (found != ids_.constEnd()) return *found;
        const int id = static_cast<int>(kinds_.size());
        ids_.insert(name, id);
        kinds_.push_back(Kind::Inline);
        open_.push_back(0);
        return id;
    }

    OpenElements() {
        for (const ElementRule& rule : kElements) {
            const int id = idOf(QString::fromLatin1(rule.name.data(), qsizetype(rule.name.size())));
            kinds_[std::size_t(id)] = rule.kind;
        }
        const auto id = [this](const char* name) { return idOf(QString::fromLatin1(name)); };
        ids = {id("p"),  id("li"), id("table"), id("tr"),    id("td"),    id("th"),     id("dd"),
               id("dt"), id("dl"), id("thead"), id("tbody"), id("tfoot"), id("caption")};
    }

    // The elements with rules of their own.
    struct Ids {
        int p, li, table, tr, td, th, dd, dt, dl, thead, tbody, tfoot, caption;
    } ids{};
    Kind kind(int id) const { return kinds_[std::size_t(id)]; }
    bool isOpen(int id) const { return open_[std::size_t(id)] > 0; }
    std::size_t openCount(int id) const { return std::size_t(open_[std::size_t(id)]); }
    std::size_t depth() const { return depth_; }
    std::size_t deepest() const { return deepest_; }
    bool empty() const { return stack_.empty(); }
    int top() const { return stack_.back().id; }

    void push(int id) {
        const bool block = kinds_[std::size_t(id)] == Kind::Block;
        const std::ptrdiff_t nearestBlock =
            block ? std::ptrdiff_t(stack_.size()) : stack_.empty() ? -1 : stack_.back().nearestBlock;
        stack_.push_back({id, nearestBlock});
        ++open_[std::size_t(id)];
        if (block && ++depth_ > deepest_) deepest_ = depth_;
    }

    void pop() {
        const int id = stack_.back().id;
        stack_.pop_back();
        --open_[std::size_t(id)];
        if (kinds_[std::size_t(id)] == Kind::Block) --depth_;
    }

    void popToSize(std::size_t size) {
        while (stack_.size() > size) pop();
    }

    // Closes the innermost open element of that name and everything in it.
    void closeInnermost(int id) {
        if (!isOpen(id)) return;
        while (top() != id) pop();
        pop();
    }

    // The innermost open block element: its name and how many elements
    // stand above it; -1 when there is none.
    std::ptrdiff_t innermostBlock() const { return stack_.empty() ? -1 : stack_.back().nearestBlock; }
    int idAt(std::size_t index) const { return stack_[index].id; }

private:
    struct Entry {
        int id;
        std::ptrdiff_t nearestBlock;  // index of the innermost block at or under it
    };
    QHash<QString, int> ids_;
    std::vector<Kind> kinds_;
    std::vector<int> open_;
    std::vector<Entry> stack_;
    std::size_t depth_ = 0;
    std::size_t deepest_ = 0;
};

// Reads the tags of an HTML text as Qt's reader reads them: markup starts at
// every "<" (also inside style and script elements), "<!--" comments run to
// "-->" and other "<!" declarations to ">", attribute values may be quoted.
class TagScanner {
public:
    explicit TagScanner(QStringView html) : html_(html) {}

    // Where the last tag ended.
    qsizetype position() const { return pos_; }

    // The next tag; false at the end of the text.
    bool next(QString& name, bool& closing, bool& selfClosed) {
        while (pos_ < html_.size()) {
            if (html_[pos_++] != u'<') continue;
            skipSpace();
            if (pos_ >= html_.size()) return false;
            if (html_[pos_] == u'!') {
                skipDeclaration();
                continue;
            }
            closing = html_[pos_] == u'/';
            if (closing) ++pos_;
            name = readName().toLower();
            selfClosed = skipAttributes();
            return true;
        }
        return false;
    }

private:
    static bool isSpace(QChar c) { return c.isSpace(); }

    void skipSpace() {
        while (pos_ < html_.size() && isSpace(html_[pos_])) ++pos_;
    }

    void skipDeclaration() {
        if (html_.sliced(pos_).startsWith(u"!--")) {
            const qsizetype end = html_.indexOf(u"-->", pos_ + 3);
            pos_ = end < 0 ? html_.size() : end + 3;
            return;
        }
        const qsizetype end = html_.indexOf(u'>', pos_);
        pos_ = end < 0 ? html_.size() : end + 1;
    }

    QString readName() {
        const qsizetype start = pos_;
        while (pos_ < html_.size()) {
            const QChar c = html_[pos_];
            if (c == u'>' || c == u'/' || c == u'<' || c == u'=' || c == u'&' || isSpace(c)) break;
            ++pos_;
        }
        return html_.sliced(start, pos_ - start).toString();
    }

    // Runs to the end of the tag; true when it ends with "/>".
    bool skipAttributes() {
        while (pos_ < html_.size()) {
            const QChar c = html_[pos_];
            if (c == u'>') {
                ++pos_;
                return false;
            }
            if (c == u'/' && pos_ + 1 < html_.size() && html_[pos_ + 1] == u'>') {
                pos_ += 2;
                return true;
            }
            if (c == u'"' || c == u'\'') {
                const qsizetype end = html_.indexOf(c, pos_ + 1);
                pos_ = end < 0 ? html_.size() : end + 1;
                continue;
            }
            ++pos_;
        }
        return false;
    }

    QStringView html_;
    qsizetype pos_ = 0;
};

// Where Qt's reader puts a new element: the rules of its parent resolution
// (rows and tables made up for stray cells, paragraphs and list items that
// do not nest in their own kind, elements that stand only in certain
// parents) applied to the open elements.
void OpenElement(OpenElements& open, int id) {
    const OpenElements::Ids& n = open.ids;
    if (open.kind(id) == Kind::Root) {
        // Qt hangs the body under the document whatever is open.
        open.popToSize(0);
        open.push(id);
        return;
    }
    if ((id == n.td || id == n.th) && !open.isOpen(n.tr)) {
        open.push(n.table);
        open.push(n.tr);
    }
    if (id == n.tr && !open.isOpen(n.table)) open.push(n.table);
    if (id == n.p) {
        // A paragraph inside a paragraph closes the first one.
        const std::ptrdiff_t block = open.innermostBlock();
        if (block >= 0 && open.idAt(std::size_t(block)) == n.p) open.popToSize(std::size_t(block));
    }
    if ((id == n.p || id == n.li) && !open.empty() && open.top() == id) open.pop();

    // Elements that stand only in certain parents close what stands between.
    const auto allowedIn = [&](int parent) {
        if (id == n.dd) return parent == n.dt || parent == n.dl;
        if (id == n.dt) return parent == n.dl;
        if (id == n.tr) return parent == n.table || parent == n.thead || parent == n.tbody || parent == n.tfoot;
        if (id == n.td || id == n.th) return parent == n.tr;
        if (id == n.thead || id == n.tbody || id == n.tfoot || id == n.caption) return parent == n.table;
        return true;
    };
    while (!open.empty() && !allowedIn(open.top())) open.pop();
    open.push(id);
}

}  // namespace

namespace {

bool WithinBounds(const HTMLShape& shape) {
    return shape.depth <= kMaxHTMLNesting && shape.tableDepth <= kMaxHTMLTableNesting &&
           shape.tags <= kMaxHTMLTags && shape.work <= kMaxHTMLLayoutWork;
}

// The layout work of `bytes` of text inside `tables` nested tables.
std::uint64_t LayoutWork(qsizetype bytes, std::size_t tables) {
    const std::size_t doublings = std::min<std::size_t>(tables > 1 ? tables - 1 : 0, 32);
    return std::uint64_t(bytes) << doublings;
}

}  // namespace

HTMLShape GetHTMLShape(QStringView html) {
    OpenElements open;
    TagScanner scanner(html);
    HTMLShape shape;
    const int table = open.ids.table;
    QString name;
    bool closing = false, selfClosed = false;
    qsizetype counted = 0;
    while (WithinBounds(shape) && scanner.next(name, closing, selfClosed)) {
        // The text before the tag, and the tag, at the nesting they stand in.
        shape.work += LayoutWork(scanner.position() - counted, open.openCount(table));
        counted = scanner.position();
        ++shape.tags;
        if (name.isEmpty()) continue;
        const int id = open.idOf(name);
        if (closing) {
            open.closeInnermost(id);
        } else if (!selfClosed && open.kind(id) != Kind::Void) {
            OpenElement(open, id);
        }
        shape.depth = open.deepest();
        shape.tableDepth = std::max(shape.tableDepth, open.openCount(table));
    }
    if (WithinBounds(shape)) shape.work += LayoutWork(html.size() - counted, open.openCount(table));
    return shape;
}

bool IsHTMLWithinBounds(QStringView html) { return WithinBounds(GetHTMLShape(html)); }
