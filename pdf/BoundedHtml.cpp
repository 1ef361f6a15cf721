#include "pdf/BoundedHtml.h"

#include "pdf/HtmlStyle.h"
#include "platform/HtmlParser.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace {

// How an element of the parsed tree is written for Qt.
enum class Role {
    Inline,   // text-level: b, span, a, font...
    Block,    // p, div, h1..., lists and their items, pre
    Void,     // br, hr: written without children
    Image,    // img: its link rewritten, its size bounded
    Table,
    Section,  // thead, tbody, tfoot: in a table only
    Row,      // in a table or a section only
    Cell,     // td, th: in a row only
    Caption,  // in a table only
    Unwrap,   // html, head, body and every name Qt does not know: the children stand in its place
    Drop,     // script, style, title and the like: nothing of it is written
};

struct ElementRule {
    std::string_view name;
    Role role;
    std::string_view writtenAs = {};  // another name Qt knows for it
};

constexpr std::array<ElementRule, 63> kElements{{
    {"a", Role::Inline},         {"abbr", Role::Inline, "span"}, {"acronym", Role::Inline, "span"},
    {"address", Role::Block},    {"article", Role::Block, "div"}, {"aside", Role::Block, "div"},
    {"b", Role::Inline},         {"big", Role::Inline},         {"blockquote", Role::Block},
    {"br", Role::Void},          {"caption", Role::Caption},    {"center", Role::Block},
    {"cite", Role::Inline},      {"code", Role::Inline},        {"dd", Role::Block},
    {"del", Role::Inline, "s"},  {"dfn", Role::Inline},         {"div", Role::Block},
    {"dl", Role::Block},         {"dt", Role::Block},           {"em", Role::Inline},
    {"figure", Role::Block, "div"}, {"font", Role::Inline},     {"footer", Role::Block, "div"},
    {"h1", Role::Block},         {"h2", Role::Block},           {"h3", Role::Block},
    {"h4", Role::Block},         {"h5", Role::Block},           {"h6", Role::Block},
    {"header", Role::Block, "div"}, {"hr", Role::Void},         {"i", Role::Inline},
    {"img", Role::Image},        {"ins", Role::Inline, "u"},    {"kbd", Role::Inline},
    {"li", Role::Block},         {"main", Role::Block, "div"},  {"nav", Role::Block, "div"},
    {"nobr", Role::Inline},      {"ol", Role::Block},           {"p", Role::Block},
    {"pre", Role::Block},        {"s", Role::Inline},           {"samp", Role::Inline},
    {"section", Role::Block, "div"}, {"small", Role::Inline},   {"span", Role::Inline},
    {"strike", Role::Inline, "s"}, {"strong", Role::Inline},    {"sub", Role::Inline},
    {"sup", Role::Inline},       {"table", Role::Table},        {"tbody", Role::Section},
    {"td", Role::Cell},          {"tfoot", Role::Section},      {"th", Role::Cell},
    {"thead", Role::Section},    {"tr", Role::Row},             {"tt", Role::Inline},
    {"u", Role::Inline},         {"ul", Role::Block},           {"var", Role::Inline},
}};

constexpr std::array<std::string_view, 17> kDropped{
    "applet", "audio", "canvas", "embed",  "frameset", "iframe", "math",   "meta",  "object",
    "script", "select", "style", "svg",    "template", "title",  "video",  "link",
};

struct Element {
    std::string_view name;  // as written
    Role role = Role::Unwrap;
};

Element Classify(const std::string& name) {
    for (const std::string_view dropped : kDropped) {
        if (name == dropped) return {{}, Role::Drop};
    }
    for (const ElementRule& rule : kElements) {
        if (name == rule.name) return {rule.writtenAs.empty() ? rule.name : rule.writtenAs, rule.role};
    }
    return {};
}

QString Escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&': out += QLatin1StringView("&amp;"); break;
        case u'<': out += QLatin1StringView("&lt;"); break;
        case u'>': out += QLatin1StringView("&gt;"); break;
        case u'"': out += QLatin1StringView("&quot;"); break;
        case 0: break;
        default: out += c;
        }
    }
    return out;
}

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// An integer attribute within [low, high]; none when it is no number.
std::optional<int> Integer(const QString& value, int low, int high) {
    static const QRegularExpression form(QStringLiteral("^\\s*([-+]?\\d{1,9})"));
    const QRegularExpressionMatch match = form.match(value);
    if (!match.hasMatch()) return std::nullopt;
    return std::clamp(match.captured(1).toInt(), low, high);
}

// A width: pixels within [1, maxPixels] or a percentage.
QString Width(const QString& value, int maxPixels) {
    const auto number = Integer(value, 0, maxPixels);
    if (!number || *number <= 0) return {};
    return value.trimmed().endsWith(u'%') ? QString::number(std::min(*number, 100)) + QLatin1Char('%')
                                          : QString::number(*number);
}

QString Keyword(const QString& value, std::initializer_list<const char*> allowed) {
    const QString word = value.trimmed().toLower();
    for (const char* keyword : allowed) {
        if (word == QLatin1StringView(keyword)) return word;
    }
    return {};
}

// Class names and ids: plain tokens only.
QString Tokens(const QString& value, int maxTokens) {
    static const QRegularExpression token(QStringLiteral("^[A-Za-z_][A-Za-z0-9_-]{0,63}$"));
    QStringList kept;
    for (const QString& word : value.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (token.match(word).hasMatch() && kept.size() < maxTokens) kept << word;
    }
    return kept.join(QLatin1Char(' '));
}

// Links of anchors: to places in the document or on the web.
QString Href(const QString& value) {
    const QString link = value.trimmed();
    if (link.size() > kMaxHTMLAttributeLength) return {};
    static const QRegularExpression allowed(QStringLiteral("^(#|https?:|mailto:|ftp:)"),
                                            QRegularExpression::CaseInsensitiveOption);
    return allowed.match(link).hasMatch() ? link : QString();
}

// The table of an element being written: its rows and the columns its cells
// take, counted as Qt counts them (a cell spanning rows keeps its columns
// taken in the rows below).
struct TableGrid {
    std::size_t index = 0;  // in HTMLShape::tables
    std::size_t rows = 0;
    std::size_t columns = 0;
    std::size_t column = 0;
    std::vector<int> covered;  // rows each column stays taken

    void startRow() {
        if (rows > 0) {
            for (int& c : covered) c -= c > 0;
        }
        ++rows;
        column = 0;
    }
    void addCell(int colspan, int rowspan) {
        while (column < covered.size() && covered[column] > 0) ++column;
        if (covered.size() < column + std::size_t(colspan)) covered.resize(column + std::size_t(colspan), 0);
        std::fill_n(covered.begin() + std::ptrdiff_t(column), colspan, rowspan);
        column += std::size_t(colspan);
        columns = std::max(columns, column);
    }
};

class Writer {
public:
    Writer(const plat::HtmlTree& tree, const HTMLLinks& links) : tree_(tree), links_(links) {}

    std::optional<BoundedHTML> write() {
        collectStyleSheets();
        body_.reserve(qsizetype(tree_.nodes.size()) * 8);
        if (!writeChildren(0)) return std::nullopt;
        BoundedHTML result;
        result.shape = shape_;
        // Qt makes no table of one without cells.
        std::erase_if(result.shape.tables, [](const HTMLTableShape& t) { return t.rows == 0 || t.columns == 0; });
        result.html = QStringLiteral("<html><head>");
        if (!title_.isEmpty()) result.html += QStringLiteral("<title>") + Escaped(title_) + QStringLiteral("</title>");
        // The sanitised sheet holds no character that HTML would read otherwise.
        if (!styleSheet_.isEmpty()) result.html += QStringLiteral("<style>\n") + styleSheet_ + QStringLiteral("</style>");
        result.html += QStringLiteral("</head><body") + bodyStyle_ + QLatin1Char('>') + body_ +
                       QStringLiteral("</body></html>");
        return result;
    }

private:
    struct Open {
        std::string_view name;
        Role role;
        bool inParagraph;  // a paragraph is open in the block around it
        std::ptrdiff_t table;  // the innermost open table in tables_; -1 for none
    };

    // Inline and linked style sheets, in document order, the title and the body's style.
    void collectStyleSheets() {
        std::size_t rules = 0;
        for (const plat::HtmlNode& node : tree_.nodes) {
            if (node.kind != plat::HtmlNode::Kind::Element) continue;
            if (node.name == "style") {
                for (const std::uint32_t child : node.children) {
                    if (tree_.nodes[child].kind == plat::HtmlNode::Kind::Text)
                        AppendSanitizedStyleSheet(FromUtf8(tree_.nodes[child].name), styleSheet_, rules);
                }
            } else if (node.name == "link" && links_.styleSheet) {
                const QString rel = attribute(node, "rel").toLower();
                const QString href = attribute(node, "href");
                if (rel.split(QLatin1Char(' ')).contains(QLatin1StringView("stylesheet")) && !href.isEmpty())
                    AppendSanitizedStyleSheet(links_.styleSheet(href), styleSheet_, rules);
            } else if (node.name == "title" && title_.isEmpty()) {
                // The document's title names the PDF.
                for (const std::uint32_t child : node.children) {
                    if (tree_.nodes[child].kind == plat::HtmlNode::Kind::Text)
                        title_ += FromUtf8(tree_.nodes[child].name).left(kMaxHTMLAttributeLength);
                }
                title_ = title_.simplified();
            } else if (node.name == "body") {
                const QString style = SanitizeStyleDeclarations(attribute(node, "style"));
                if (!style.isEmpty()) bodyStyle_ = QStringLiteral(" style=\"") + Escaped(style) + QLatin1Char('"');
            }
        }
    }

    static QString attribute(const plat::HtmlNode& node, std::string_view name) {
        for (const auto& [key, value] : node.attributes) {
            if (key == name) return FromUtf8(value);
        }
        return {};
    }

    const Open* parent() const { return open_.empty() ? nullptr : &open_.back(); }

    // Whether Qt takes the element where it stands; else it is written as
    // a division (or, inside tables, rows and sections, not at all).
    Role placedRole(const Element& element) const {
        const Open* p = parent();
        const Role parentRole = p ? p->role : Role::Block;
        const bool inTableStructure =
            parentRole == Role::Table || parentRole == Role::Section || parentRole == Role::Row;
        if (inTableStructure) {
            // Qt builds tables from rows and cells only; anything else there
            // would be placed by rules of its own.
            if (element.role == Role::Row && parentRole != Role::Row) return Role::Row;
            if (element.role == Role::Cell && parentRole == Role::Row) return Role::Cell;
            if (element.role == Role::Section && parentRole == Role::Table) return element.role;
            // Qt places a caption's content by rules of its own: it is left out.
            if (element.role == Role::Caption) return Role::Drop;
            return Role::Unwrap;
        }
        switch (element.role) {
        case Role::Row:
        case Role::Cell:
        case Role::Section:
        case Role::Caption: return Role::Block;  // written as a division
        default: break;
        }
        return element.role;
    }

    std::string_view placedName(const Element& element, Role role) const {
        const Open* p = parent();
        if (role != element.role) return "div";
        if (element.name == "li" && !listParent()) return "div";
        if ((element.name == "dd" || element.name == "dt") && !(p && p->name == "dl")) return "div";
        // A paragraph in a paragraph: Qt would close the first one.
        if (element.name == "p" && p && p->inParagraph) return "div";
        return element.name;
    }

    bool listParent() const { return parent() && (parent()->name == "ul" || parent()->name == "ol"); }

    bool writeChildren(std::uint32_t root) {
        struct Frame {
            std::uint32_t node;
            std::size_t next;
            bool opened;  // an element was written for it
        };
        std::vector<Frame> frames{{root, 0, false}};
        while (!frames.empty()) {
            Frame& frame = frames.back();
            const plat::HtmlNode& node = tree_.nodes[frame.node];
            if (frame.next == node.children.size()) {
                if (frame.opened && !close()) return false;
                frames.pop_back();
                continue;
            }
            const std::uint32_t childIndex = node.children[frame.next++];
            const plat::HtmlNode& child = tree_.nodes[childIndex];
            if (child.kind == plat::HtmlNode::Kind::Text) {
                if (!text(FromUtf8(child.name))) return false;
                continue;
            }
            const Element element = Classify(child.name);
            if (element.role == Role::Drop) continue;
            const Role role = placedRole(element);
            if (role == Role::Drop) continue;
            if (role == Role::Unwrap) {
                frames.push_back({childIndex, 0, false});
                continue;
            }
            if (!openElement(child, placedName(element, role), role)) return false;
            if (role == Role::Void || role == Role::Image) {
                open_.pop_back();
                continue;
            }
            frames.push_back({childIndex, 0, true});
        }
        return true;
    }

    bool text(const QString& characters) {
        const Open* p = parent();
        if (p && (p->role == Role::Table || p->role == Role::Section || p->role == Role::Row)) {
            return true;  // between rows and cells: Qt would place it by rules of its own
        }
        shape_.characters += std::size_t(characters.size());
        const std::size_t tables = tableDepth();
        if (tables > 0) shape_.work += std::uint64_t(characters.size()) << std::min<std::size_t>(tables - 1, 32);
        if (shape_.characters > kMaxHTMLCharacters || shape_.work > kMaxHTMLLayoutWork) return false;
        body_ += Escaped(characters);
        return true;
    }

    std::size_t tableDepth() const { return tables_.size(); }

    bool openElement(const plat::HtmlNode& node, std::string_view name, Role role) {
        if (++shape_.elements > kMaxHTMLElements) return false;
        const Open* p = parent();
        const bool inParagraph = name == "p" || (p && p->inParagraph && role != Role::Block && role != Role::Table &&
                                                 role != Role::Cell && role != Role::Caption);
        std::ptrdiff_t table = p ? p->table : -1;
        QString attributes;
        switch (role) {
        case Role::Table:
            tables_.push_back(TableGrid{});
            tables_.back().index = shape_.tables.size();
            shape_.tables.emplace_back();
            table = std::ptrdiff_t(tables_.size()) - 1;
            shape_.tableDepth = std::max(shape_.tableDepth, tables_.size());
            if (tables_.size() > kMaxHTMLTableNesting) return false;
            break;
        case Role::Row:
            tables_[std::size_t(table)].startRow();
            break;
        case Role::Cell: {
            TableGrid& grid = tables_[std::size_t(table)];
            const int colspan = Integer(attribute(node, "colspan"), 1, 1000).value_or(1);
            const int rowspan = Integer(attribute(node, "rowspan"), 1, 1000).value_or(1);
            grid.addCell(colspan, rowspan);
            if (grid.rows * grid.columns + shape_.tableCells > kMaxHTMLTableCells) return false;
            if (colspan > 1) attributes += QStringLiteral(" colspan=\"%1\"").arg(colspan);
            if (rowspan > 1) attributes += QStringLiteral(" rowspan=\"%1\"").arg(rowspan);
            break;
        }
        case Role::Image:
            attributes = imageAttributes(node);
            break;
        default:
            if (name == "ul" || name == "ol") {
                listItems_.push_back(0);
                shape_.listDepth = std::max(shape_.listDepth, listItems_.size());
                if (listItems_.size() > kMaxHTMLListNesting) return false;
            } else if (name == "li" && listParent()) {
                ++listItems_.back();
            }
            break;
        }
        attributes += commonAttributes(node, name);
        open_.push_back({name, role, inParagraph, table});
        shape_.depth = std::max(shape_.depth, open_.size());
        if (open_.size() > kMaxHTMLDepth || shape_.pageBreaks > kMaxHTMLPageBreaks) return false;
        body_ += QLatin1Char('<') + QLatin1StringView(name.data(), qsizetype(name.size())) + attributes + QLatin1Char('>');
        return true;
    }

    bool close() {
        const Open open = open_.back();
        open_.pop_back();
        body_ += QStringLiteral("</") + QLatin1StringView(open.name.data(), qsizetype(open.name.size())) +
                 QLatin1Char('>');
        if (open.name == "ul" || open.name == "ol") {
            shape_.listWork += std::uint64_t(listItems_.back()) * listItems_.back();
            listItems_.pop_back();
            if (shape_.listWork > kMaxHTMLListWork) return false;
        }
        if (open.role == Role::Table) {
            TableGrid& grid = tables_.back();
            if (grid.rows > 0 && grid.columns > 0) {
                shape_.tables[grid.index] = {grid.rows, grid.columns};
                shape_.tableCells += grid.rows * grid.columns;
            }
            tables_.pop_back();
            if (shape_.tableCells > kMaxHTMLTableCells) return false;
        }
        return true;
    }

    // The attributes an element keeps, checked and written again.
    QString commonAttributes(const plat::HtmlNode& node, std::string_view name) {
        QString out;
        const auto add = [&out](const char* key, const QString& value) {
            if (!value.isEmpty()) out += QLatin1Char(' ') + QLatin1StringView(key) + QStringLiteral("=\"") + Escaped(value) + QLatin1Char('"');
        };
        const bool cell = name == "td" || name == "th";
        const bool blockAlign = cell || name == "p" || name == "div" || name == "tr" || (name.size() == 2 && name[0] == 'h');
        QString style;
        for (const auto& [key, raw] : node.attributes) {
            const QString value = FromUtf8(raw).left(kMaxHTMLAttributeLength);
            if (key == "style") {
                style += SanitizeStyleDeclarations(value, &shape_.pageBreaks);
            } else if (key == "class") {
                add("class", Tokens(value, 8));
            } else if (key == "id" || (key == "name" && name == "a")) {
                add(key == "id" ? "id" : "name", Tokens(value, 1));
            } else if (key == "href" && name == "a") {
                add("href", Href(value));
            } else if (key == "align" && blockAlign) {
                add("align", Keyword(value, {"left", "right", "center", "justify"}));
            } else if (key == "align" && name == "table") {
                add("align", Keyword(value, {"center"}));  // left and right make it float
            } else if (key == "valign" && (cell || name == "tr")) {
                add("valign", Keyword(value, {"top", "middle", "bottom"}));
            } else if (key == "bgcolor" && (cell || name == "tr" || name == "table")) {
                add("bgcolor", SanitizeColor(value));
            } else if (key == "width" && (cell || name == "table")) {
                add("width", Width(value, 4096));
            } else if (key == "border" && name == "table") {
                if (const auto border = Integer(value, 0, 16)) add("border", QString::number(*border));
            } else if ((key == "cellspacing" || key == "cellpadding") && name == "table") {
                if (const auto space = Integer(value, 0, 64)) add(key.c_str(), QString::number(*space));
            } else if (key == "color" && name == "font") {
                add("color", SanitizeColor(value));
            } else if (key == "size" && name == "font") {
                if (const auto size = Integer(value, -7, 7)) {
                    add("size", (value.trimmed().startsWith(u'+') && *size >= 0 ? QStringLiteral("+") : QString()) +
                                    QString::number(*size));
                }
            } else if (key == "face" && name == "font") {
                style.prepend(SanitizeStyleDeclarations(QStringLiteral("font-family:") + value) + QLatin1Char(' '));
            } else if (key == "start" && name == "ol") {
                if (const auto start = Integer(value, -100000, 100000)) add("start", QString::number(*start));
            } else if (key == "type" && (name == "ol" || name == "ul")) {
                add("type", Keyword(value, {"1", "a", "i", "disc", "circle", "square"}).isEmpty()
                                ? QString()
                                : value.trimmed());
            }
        }
        add("style", style.trimmed());
        return out;
    }

    // The link goes to the loader, which answers with a name of its own;
    // the size is always written, so that Qt never looks at the image to
    // size it, and kept within kMaxHTMLImageSide.
    QString imageAttributes(const plat::HtmlNode& node) {
        const QString link = attribute(node, "src").trimmed();
        HTMLImage image;
        if (links_.image && !link.isEmpty()) image = links_.image(link);
        if (image.name.isEmpty()) image.name = QStringLiteral("vantrell-resource:none");
        const auto given = [&](const char* key) -> double {
            const auto number = Integer(attribute(node, key), 0, 1 << 30);
            return number && *number > 0 && !attribute(node, key).contains(u'%') ? *number : 0.0;
        };
        double width = given("width"), height = given("height");
        const QSize own = image.size.isValid() && !image.size.isEmpty() ? image.size : QSize(1, 1);
        if (width <= 0 && height <= 0) {
            width = own.width();
            height = own.height();
        } else if (width <= 0) {
            width = height * own.width() / own.height();
        } else if (height <= 0) {
            height = width * own.height() / own.width();
        }
        const double scale = std::min(1.0, kMaxHTMLImageSide / std::max(width, height));
        const int w = std::max(1, int(std::lround(width * scale))), h = std::max(1, int(std::lround(height * scale)));
        return QStringLiteral(" src=\"%1\" width=\"%2\" height=\"%3\"").arg(Escaped(image.name)).arg(w).arg(h);
    }

    const plat::HtmlTree& tree_;
    const HTMLLinks& links_;
    HTMLShape shape_;
    QString body_;
    QString styleSheet_;
    QString bodyStyle_;
    QString title_;
    std::vector<Open> open_;
    std::vector<TableGrid> tables_;
    std::vector<std::size_t> listItems_;  // items of each open list
};

}  // namespace

std::optional<BoundedHTML> MakeBoundedHTML(const QString& html, const HTMLLinks& links) {
    plat::HtmlParseLimits limits;
    limits.depth = 256;
    limits.elements = 2 * kMaxHTMLElements;
    limits.textBytes = 4 * kMaxHTMLCharacters;  // UTF-8, and attribute values
    const QByteArray utf8 = html.toUtf8();
    const auto tree = plat::ParseHtml(std::string_view(utf8.constData(), std::size_t(utf8.size())), limits);
    if (!tree) return std::nullopt;
    return Writer(*tree, links).write();
}
