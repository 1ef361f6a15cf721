#pragma once
// An HTML text read into a tree by libxml2's HTML parser (which closes and
// implies elements as browsers of its kind do), within bounds on depth,
// elements, text and the parser's own work. The tree is what a caller
// measures and passes on; nothing else reads the text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat {

struct HtmlNode {
    enum class Kind : std::uint8_t { Element, Text };
    Kind kind = Kind::Element;
    // Elements: the lower-case name (empty for the document itself). Text:
    // the characters, entities resolved, UTF-8.
    std::string name;
    // Name and value of each attribute as written (names lower-case; an
    // attribute without a value has an empty one).
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<std::uint32_t> children;  // indices into HtmlTree::nodes
};

struct HtmlTree {
    // nodes[0] is the document; every other node is a child of one before it.
    std::vector<HtmlNode> nodes;
};

struct HtmlParseLimits {
    std::size_t depth = 128;        // elements inside each other
    std::size_t elements = 200000;  // elements in all
    std::size_t textBytes = std::size_t(16) << 20;
    // The parser compares each attribute of a tag with those before it, so
    // a tag of n attributes costs n²/2; this bounds the sum over the text.
    std::uint64_t attributeWork = std::uint64_t(1) << 27;
};

// The tree of `utf8`; none when the text passes a limit (parsing stops
// there) or cannot be read. Encoding declarations in the text are ignored.
std::optional<HtmlTree> ParseHtml(std::string_view utf8, const HtmlParseLimits& limits = {});

}  // namespace plat
