#include "platform/HtmlParser.h"

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace plat {
namespace {

// Bytes handed to the parser at a time: it asks for more as it goes, and
// each request is a moment to look at how far it got (see WorkTap).
constexpr int kReadSize = 4096;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Everything that can stand between two attributes of a tag: runs of
// blanks, and quotes (an attribute may follow a quoted value directly).
// Counted from the first "<" the parser consumed since its last report,
// their square bounds the attribute comparisons it made meanwhile; text
// without tags counts nothing.
class SeparatorCount {
public:
    explicit SeparatorCount(std::string_view text) : text_(text) {}

    // Separators since the first "<" after the last mark, up to `position`;
    // positions only grow.
    std::uint64_t sinceTagUpTo(std::size_t position) {
        position = std::min(position, text_.size());
        for (; counted_ < position; ++counted_) {
            const char c = text_[counted_];
            const bool blank = IsBlank(c);
            if (c == '<' || c == '>') lastAngleOpens_ = c == '<';
            if (c == '<') inTag_ = true;
            if (inTag_ && ((blank && !lastBlank_) || c == '"' || c == '\'')) ++count_;
            lastBlank_ = blank;
        }
        return count_;
    }

    // Starts a new count at the current position. The parser reports the
    // elements a tag implies or closes right after its name, before its
    // attributes: a tag open then goes on counting.
    void mark() {
        inTag_ = lastAngleOpens_;
        count_ = 0;
    }

private:
    std::string_view text_;
    std::size_t counted_ = 0;
    std::uint64_t count_ = 0;
    bool lastBlank_ = false;
    bool inTag_ = false;
    bool lastAngleOpens_ = false;
};

struct ParseState {
    ParseState(std::string_view text, const HtmlParseLimits& limits) : text(text), limits(limits), separators(text) {}

    std::string_view text;
    const HtmlParseLimits& limits;
    htmlParserCtxtPtr context = nullptr;
    std::size_t delivered = 0;
    SeparatorCount separators;
    std::uint64_t attributeWork = 0;
    bool refused = false;

    HtmlTree tree;
    std::vector<std::uint32_t> open{0};  // the document and the open elements
    std::size_t elements = 0;
    std::size_t textBytes = 0;

    // Where the parser stands in the text.
    std::size_t parserPosition() const {
        const xmlParserInputPtr input = context ? context->input : nullptr;
        if (!input || !input->base || !input->cur) return 0;
        return std::size_t(input->consumed) + std::size_t(input->cur - input->base);
    }

    // The comparisons of attributes since the last report, at most.
    std::uint64_t workSinceReport() {
        const std::uint64_t s = separators.sinceTagUpTo(parserPosition());
        return s * s / 2;
    }

    void refuse() {
        if (refused) return;
        refused = true;
        xmlStopParser(context);
    }

    // Called at each element and text the parser reports.
    bool report() {
        if (refused) return false;
        attributeWork += workSinceReport();
        separators.mark();
        if (attributeWork > limits.attributeWork) refuse();
        return !refused;
    }
};

ParseState& StateOf(void* context) {
    return *static_cast<ParseState*>(static_cast<htmlParserCtxtPtr>(context)->_private);
}

void StartElement(void* context, const xmlChar* name, const xmlChar** attributes) {
    ParseState& state = StateOf(context);
    if (!state.report()) return;
    if (state.open.size() > state.limits.depth || ++state.elements > state.limits.elements) return state.refuse();
    HtmlNode node;
    node.name = reinterpret_cast<const char*>(name);
    std::transform(node.name.begin(), node.name.end(), node.name.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    for (const xmlChar** a = attributes; a && a[0]; a += 2) {
        const char* value = a[1] ? reinterpret_cast<const char*>(a[1]) : "";
        std::string key = reinterpret_cast<const char*>(a[0]);
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
        state.textBytes += key.size() + std::strlen(value);
        node.attributes.emplace_back(std::move(key), value);
    }
    if (state.textBytes > state.limits.textBytes) return state.refuse();
    const auto index = std::uint32_t(state.tree.nodes.size());
    state.tree.nodes[state.open.back()].children.push_back(index);
    state.tree.nodes.push_back(std::move(node));
    state.open.push_back(index);
}

void EndElement(void* context, const xmlChar*) {
    ParseState& state = StateOf(context);
    if (!state.report()) return;
    // The parser closes what it opened, innermost first.
    if (state.open.size() > 1) state.open.pop_back();
}

void Characters(void* context, const xmlChar* characters, int length) {
    ParseState& state = StateOf(context);
    if (!state.report() || length <= 0) return;
    state.textBytes += std::size_t(length);
    if (state.textBytes > state.limits.textBytes) return state.refuse();
    HtmlNode& parent = state.tree.nodes[state.open.back()];
    // The parser hands long texts over in pieces: one node each.
    if (!parent.children.empty() && state.tree.nodes[parent.children.back()].kind == HtmlNode::Kind::Text) {
        state.tree.nodes[parent.children.back()].name.append(reinterpret_cast<const char*>(characters),
                                                            std::size_t(length));
        return;
    }
    HtmlNode text;
    text.kind = HtmlNode::Kind::Text;
    text.name.assign(reinterpret_cast<const char*>(characters), std::size_t(length));
    parent.children.push_back(std::uint32_t(state.tree.nodes.size()));
    state.tree.nodes.push_back(std::move(text));
}

void Ignore(void*, const char*, ...) {}

// The parser reads the text through here, a piece at a time, also in the
// middle of a tag: the attribute work of a tag still being read is checked
// before the parser goes on.
int Read(void* context, char* buffer, int length) {
    ParseState& state = *static_cast<ParseState*>(context);
    if (state.refused) return 0;
    if (state.attributeWork + state.workSinceReport() > state.limits.attributeWork) {
        state.refused = true;  // the parser stops at the end of what it has
        return 0;
    }
    const std::size_t count = std::min({std::size_t(std::max(length, 0)), std::size_t(kReadSize),
                                        state.text.size() - state.delivered});
    std::memcpy(buffer, state.text.data() + state.delivered, count);
    state.delivered += count;
    return int(count);
}

}  // namespace

std::optional<HtmlTree> ParseHtml(std::string_view utf8, const HtmlParseLimits& limits) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });

    ParseState state(utf8, limits);
    state.tree.nodes.emplace_back();
    htmlParserCtxtPtr context = htmlNewParserCtxt();
    if (!context) return std::nullopt;
    state.context = context;
    context->_private = &state;

    xmlSAXHandler& sax = *context->sax;
    std::memset(&sax, 0, sizeof sax);
    sax.startElement = StartElement;
    sax.endElement = EndElement;
    sax.characters = Characters;
    sax.ignorableWhitespace = Characters;
    sax.cdataBlock = Characters;
    sax.warning = Ignore;
    sax.error = Ignore;
    sax.fatalError = Ignore;
    // The callbacks find their state through the parser context.
    context->userData = context;
    htmlCtxtUseOptions(context, HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC);

    xmlParserInputBufferPtr buffer = xmlParserInputBufferCreateIO(Read, nullptr, &state, XML_CHAR_ENCODING_UTF8);
    xmlParserInputPtr input = buffer ? xmlNewIOInputStream(context, buffer, XML_CHAR_ENCODING_UTF8) : nullptr;
    if (!input) {
        if (buffer) xmlFreeParserInputBuffer(buffer);
        htmlFreeParserCtxt(context);
        return std::nullopt;
    }
    inputPush(context, input);
    htmlParseDocument(context);
    htmlFreeParserCtxt(context);
    if (state.refused) return std::nullopt;
    return std::move(state.tree);
}

}  // namespace plat
