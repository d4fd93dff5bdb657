// Pages a hoster (or anyone on the way) can send that used to freeze the window or pin a core:
// deep nesting, and huge numbers of controls that each cost a scan of the page.
#include "adapters/html/GumboDocument.h"
#include "adapters/html/NestingBound.h"

#include <gtest/gtest.h>
#include <gumbo.h>

#include <chrono>
#include <string>
#include <vector>

namespace torvaline {
namespace {

std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

// How deep the parser really nests the page, below html and body.
std::size_t parsedDepth(const std::string& page) {
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    std::size_t deepest = 0;
    std::vector<std::pair<const GumboNode*, std::size_t>> stack{{out->root, 1}};
    while (!stack.empty()) {
        const auto [n, depth] = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, depth);
        const GumboVector& children = n->v.element.children;
        for (unsigned i = 0; i < children.length; ++i) {
            const auto* c = static_cast<const GumboNode*>(children.data[i]);
            if (c->type == GUMBO_NODE_ELEMENT || c->type == GUMBO_NODE_TEMPLATE)
                stack.emplace_back(c, depth + 1);
        }
    }
    gumbo_destroy_output(&kGumboDefaultOptions, out);
    return deepest > 2 ? deepest - 2 : 0;
}

double secondsFor(const auto& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST(PageBounds, NestingUpToTheCapParsesAndBeyondItFailsLikeAnUnreadablePage) {
    const std::size_t cap = html::kMaxTreeDepth;
    EXPECT_NO_THROW(GumboDocument(repeat("<div>", cap) + "x", "http://a/"));
    EXPECT_THROW(GumboDocument(repeat("<div>", cap + 1) + "x", "http://a/"), DomError);
    // The page that used to take seconds fails at once.
    const std::string huge = repeat("<div>", 1'000'000);
    EXPECT_LT(secondsFor([&] { EXPECT_THROW(GumboDocument(huge, "http://a/"), DomError); }), 2.0);
}

TEST(PageBounds, DepthCannotBeHiddenFromTheBound) {
    // Each page nests deep in the parser through a different rule; the bound must see at least
    // that depth, or a page could slip past it.
    const std::vector<std::string> pages = {
        repeat("<span>", 300),
        repeat("<b id=x>", 300),                                   // formatting elements
        repeat("<p><b class=y>", 200) + repeat("</p><p>text", 50), // reopened after a block
        repeat("<table><td>", 80),                                 // implied tbody and tr
        repeat("<ul><li>", 150) + repeat("</li>", 150), // an LI ends only within its list
        repeat("<x-a></x-b>", 300),                     // unknown tags are told apart
        repeat("<div><table></div>", 100),              // an end tag does not leave a table
        repeat("<span><div></span>", 150),              // nor close past a block
        "<svg>" + repeat("<style><g>", 150),            // no raw text in foreign content
        repeat("<button><div>", 150),
        repeat("<select><div>", 100),
        repeat("<form><div>", 100),
        repeat("<optgroup><p><hr>", 100),               // option groups nest outside a select
        repeat("<h2><nobr>", 100),                      // a heading closes one that is current only
        repeat("<noscript><li><p><map>", 100),          // an LI looks for an LI before closing a P
        "<p>" + repeat("<menu></form><form><h2>", 100), // </form> leaves its content open
        "<svg><foreignObject>" + repeat("<div/>", 100), // "/>" counts in SVG only
        "<svg><b>" + repeat("<g/>", 100),               // and not once HTML broke out of it
        "<math><title>" + repeat("<mi><div>", 100),     // a MathML title is no way back to HTML
        // Nothing the scan skips may hide tags from it.
        "<select><xmp></select>" + repeat("<div>", 100) + "</xmp>",
        "<textarea>" + repeat("<div>", 100),
        "<!-->" + repeat("<div>", 100),
        "<!--->" + repeat("<div>", 100),
        "<!-- --!>" + repeat("<div>", 100) + "-->",
        "<div =\">" + repeat("<div>", 100) + "\">",
        "<div a='x'b=\">" + repeat("<div>", 100) + "\">",
        "<div a=b\"c>" + repeat("<div>", 100) + "\">",
        "<div/ =\">" + repeat("<div>", 100) + "\">",
    };
    for (const std::string& page : pages) {
        const std::size_t depth = parsedDepth(page);
        EXPECT_TRUE(html::nestsDeeperThan(page, depth - 1)) << page.substr(0, 40) << " " << depth;
    }
}

TEST(PageBounds, OrdinaryPagesWithManyUnclosedElementsAreNotRefused) {
    const std::vector<std::string> pages = {
        repeat("<p>para", 5000),
        "<ul>" + repeat("<li>item", 5000),
        "<dl>" + repeat("<dt>t<dd>d", 5000),
        "<table>" + repeat("<tr><td><font face=arial>cell<td><b>bold", 5000),
        "<select>" + repeat("<option>o", 5000),
        "<table>" + repeat("<tr><form action=/x><td><input name=a></form>", 5000),
        "<svg>" + repeat("<path d='M0 0'/>", 5000) + "</svg>",
        repeat("<script>document.write('<div><span>');</script>", 5000),
        repeat("<a href=/x>link", 5000),
        repeat("<h1>one<h2>two", 5000),
        repeat("<!-- <div> --><br/><img src=a>", 5000),
    };
    for (const std::string& page : pages)
        EXPECT_FALSE(html::nestsDeeperThan(page, html::kMaxTreeDepth)) << page.substr(0, 40);
}

TEST(PageBounds, PagesOfTensOfThousandsOfControlsStayQuick) {
    // Each page took half a minute or more when every control cost a scan of the page; the
    // bound leaves room for a sanitizer build on a busy machine.
    constexpr double kQuick = 12.0;
    // A FORM start tag in a table owns every control up to its </form>; only the one after the
    // end tag is left without a form.
    const std::size_t n = 40'000;
    const std::string tableForm = "<table><form action=/go></table>" +
                                  repeat("<input name=i value=v>", n) + "</form><input value=out>";
    double seconds = secondsFor([&] {
        GumboDocument doc(tableForm, "http://a/");
        ASSERT_EQ(doc.formCount(), 1);
        EXPECT_EQ(doc.formElementCount(0), static_cast<int>(n));
    });
    EXPECT_LT(seconds, kQuick);

    // Pressing every radio of one big group, as the search for a button's caption does, leaves
    // the last one pressed on.
    const std::string radios = "<form method=post action=/go>" +
                               repeat("<input type=radio name=r value=Go checked>", n) +
                               "<input type=submit name=s value=Send></form>";
    seconds = secondsFor([&] {
        GumboDocument doc(radios, "http://a/");
        std::vector<FormSubmission> sent;
        doc.setSubmitHandler([&](const FormSubmission& s) { sent.push_back(s); });
        const int count = doc.formElementCount(0);
        for (int i = 0; i + 1 < count; ++i) {
            if (doc.elementValue(0, i) == "Go" && i % 2 == 0)
                doc.click(0, i);
        }
        doc.click(0, count - 1);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].body, "r=Go&s=Send");
    });
    EXPECT_LT(seconds, kQuick);
}

} // namespace
} // namespace torvaline
