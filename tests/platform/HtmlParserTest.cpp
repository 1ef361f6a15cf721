// libxml2's HTML parser behind plat::ParseHtml: the tree it reads, and each limit stopping it early.

#include "platform/HtmlParser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

std::string Repeat(const std::string& part, std::size_t count) {
    std::string text;
    for (text.reserve(part.size() * count); count--;) text += part;
    return text;
}

// The tree as "name(child,child)" and quoted text, for comparing shapes.
std::string Outline(const plat::HtmlTree& tree, std::uint32_t index = 0) {
    const plat::HtmlNode& node = tree.nodes[index];
    if (node.kind == plat::HtmlNode::Kind::Text) return "'" + node.name + "'";
    std::string out = node.name;
    for (const auto& [key, value] : node.attributes) out += "[" + key + "=" + value + "]";
    if (node.children.empty()) return out;
    out += "(";
    for (std::size_t i = 0; i < node.children.size(); ++i) out += (i ? "," : "") + Outline(tree, node.children[i]);
    return out + ")";
}

TEST(HtmlParser, ReadsTheTreeAsTheParserBuildsIt) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<P CLASS=a>x &amp; y<p>z", "(html(body(p[class=a]('x & y'),p('z'))))"},
        {"<table><tr><td>a<td>b</table>", "(html(body(table(tr(td('a'),td('b'))))))"},
        {"<t&#97;ble>x", "(html(body(t('x'))))"},  // no table, however it is spelt
        {"<\"table\">x", "('<',html(body(p('\"table\">x'))))"},
        {"<meta charset=iso-8859-1><p>Grüße", "(html(head(meta[charset=iso-8859-1]),body(p('Grüße'))))"},
        {"<style>p{}</style><script>a<b</script>", "(html(head(style('p{}'),script('a<b'))))"},
        {"<p><!-- c --><br/><img src=x alt>", "(html(body(p(br,img[src=x][alt=]))))"},
    };
    for (const auto& [html, outline] : cases) {
        const auto tree = plat::ParseHtml(html);
        ASSERT_TRUE(tree) << html;
        EXPECT_EQ(Outline(*tree), outline) << html;
    }
}

TEST(HtmlParser, StopsAtEachLimit) {
    plat::HtmlParseLimits limits;
    limits.depth = 10;
    limits.elements = 100;
    limits.textBytes = 1000;
    limits.attributeWork = 1 << 20;
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"ten deep", Repeat("<div>", 8), true},  // html and body make ten
        {"eleven deep", Repeat("<div>", 9), false},
        {"100 elements", Repeat("<b></b>", 98), true},
        {"101 elements", Repeat("<b></b>", 99), false},
        {"1000 bytes of text", std::string(1000, 'x'), true},
        {"1001 bytes of text", std::string(1001, 'x'), false},
        {"1000 attributes", "<p " + Repeat("a b c d e f g h i j ", 100) + ">", true},
        {"10,000 attributes in a tag", "<p " + Repeat("a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 ", 1000) + ">", false},
        {"10,000 quoted attributes", "<p " + Repeat("a='1'b='2'", 5000) + ">", false},
        {"10,000 attributes in a dropped tag", "<body><body " + Repeat("a b c d e f g h i j ", 1000) + ">", false},
        {"many tags of 100 attributes", Repeat("<br " + Repeat("a b c d e f g h i j ", 10) + ">", 90), true},
    };
    for (const auto& [name, html, read] : cases) EXPECT_EQ(plat::ParseHtml(html, limits).has_value(), read) << name;
}

}  // namespace
