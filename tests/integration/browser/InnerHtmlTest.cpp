#include "adapters/html/GumboDocument.h"
#include "adapters/html/NestingBound.h"

#include <gtest/gtest.h>

#include <string>

namespace torvaline {
namespace {

std::string inner(const std::string& html) {
    return GumboDocument(html, "http://host.test/dir/page.html").bodyInnerHTML();
}

struct SerializeCase {
    const char* name;
    const char* html;
    const char* expected;
};

class InnerHtmlSerialization : public testing::TestWithParam<SerializeCase> {};

TEST_P(InnerHtmlSerialization, WritesTheClassicBrowserForm) {
    EXPECT_EQ(inner(GetParam().html), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    KnownOutputs, InnerHtmlSerialization,
    testing::Values(
        SerializeCase{"UpperCaseNamesLowerCaseAttributes",
                      "<body><form ACTION='http://x/y' Method=post><input TYPE=submit "
                      "value='Free user'></form></body>",
                      "<FORM action=\"http://x/y\" method=\"post\"><INPUT type=\"submit\" "
                      "value=\"Free user\"></FORM>"},
        SerializeCase{"AttributeValuesQuotedAndEscaped",
                      "<a href=\"/f?a=1&amp;b=2\" title='say \"hi\"' data-x=a&nbsp;b>x</a>",
                      "<A href=\"/f?a=1&amp;b=2\" title=\"say &quot;hi&quot;\" "
                      "data-x=\"a&nbsp;b\">x</A>"},
        SerializeCase{"EmptyAndValuelessAttributes", "<input disabled value=''>",
                      "<INPUT disabled=\"\" value=\"\">"},
        SerializeCase{"TextEscaped", "<p>1 &lt; 2 &amp;&amp; 3 &gt; 2&nbsp;!</p>",
                      "<P>1 &lt; 2 &amp;&amp; 3 &gt; 2&nbsp;!</P>"},
        SerializeCase{"QuotesInTextStayRaw", "<p>\"quoted\" 'single'</p>",
                      "<P>\"quoted\" 'single'</P>"},
        SerializeCase{"ScriptAndStyleTextRaw",
                      "<body><script>var c=45; if (a < b && c > 0) go();</script>"
                      "<style>p > a { color: red }</style>",
                      "<SCRIPT>var c=45; if (a < b && c > 0) go();</SCRIPT>"
                      "<STYLE>p > a { color: red }</STYLE>"},
        SerializeCase{"XmpAndNoscript", "<xmp><b>&</b></xmp><noscript><b>a&amp;b</b></noscript>",
                      "<XMP><b>&</b></XMP><NOSCRIPT><B>a&amp;b</B></NOSCRIPT>"},
        SerializeCase{"VoidElementsHaveNoEndTag", "a<br>b<img src=x.png><hr/><wbr>c",
                      "a<BR>b<IMG src=\"x.png\"><HR><WBR>c"},
        SerializeCase{"CommentsKept", "<body><!-- note --><p>x<!--y--></p>",
                      "<!-- note --><P>x<!--y--></P>"},
        SerializeCase{"ImpliedEndTagsWritten", "<ul><li>one<li>two</ul><p>para",
                      "<UL><LI>one</LI><LI>two</LI></UL><P>para</P>"},
        SerializeCase{"NestedTablesGetTheirBodies",
                      "<table><tr><td><table><tr><td>in</td></tr></table></td></tr></table>",
                      "<TABLE><TBODY><TR><TD><TABLE><TBODY><TR><TD>in</TD></TR></TBODY></TABLE>"
                      "</TD></TR></TBODY></TABLE>"},
        SerializeCase{"LineBreaksKeptAsTheyAre", "<p>a\nb\r\nc</p>\n", "<P>a\nb\nc</P>\n"},
        SerializeCase{"PreKeepsItsLeadingNewline", "<pre>\n\nx</pre>", "<PRE>\n\nx</PRE>"},
        SerializeCase{"UnknownElementsByTheirOwnName", "<Foo-Bar Baz=1>t</Foo-Bar>",
                      "<FOO-BAR baz=\"1\">t</FOO-BAR>"},
        SerializeCase{"Utf8PassesThrough", "<p>caf\xC3\xA9 \xE2\x82\xAC</p>",
                      "<P>caf\xC3\xA9 \xE2\x82\xAC</P>"},
        SerializeCase{"HeadContentIsNotBody", "<title>t</title><meta x=1>body", "body"}),
    [](const testing::TestParamInfo<SerializeCase>& info) { return info.param.name; });

TEST(InnerHtml, BothLinkMarkersAppearInPagesWrittenInLowerCase) {
    const std::string page =
        "<html><body>\n"
        "<script type=\"text/javascript\">var c=45;</script>\n"
        "<form name=\"dlf\" action=\"http://dl.host.test/files/1/a.zip\" method=\"post\">"
        "<input type=\"submit\" value=\"Download\"></form>\n"
        "<a href=\"http://dl.other.test/get/b.rar\" onclick=\"return go();\">get</a>\n"
        "</body></html>";
    const std::string body = inner(page);
    EXPECT_NE(body.find("action=\"http://dl.host.test/files/1/a.zip\" method"), std::string::npos)
        << body;
    EXPECT_NE(body.find("A href=\"http://dl.other.test/get/b.rar\" onclick"), std::string::npos)
        << body;
    EXPECT_NE(body.find("var c=45;"), std::string::npos) << body;
}

TEST(InnerHtml, FramesetPageServesItsFramesetAsBody) {
    EXPECT_EQ(inner("<frameset><frame src=a.html></frameset>"), "<FRAME src=\"a.html\">");
}

TEST(InnerHtml, ArbitraryBytesAndDeepNestingAreSafe) {
    std::string deep;
    for (std::size_t i = 0; i < html::kMaxTreeDepth; ++i)
        deep += "<span>";
    deep += "x";
    const std::string out = inner(deep);
    EXPECT_EQ(out.substr(0, 12), "<SPAN><SPAN>");
    EXPECT_NE(out.find('x'), std::string::npos);

    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk += static_cast<char>((i * 7919) & 0xFF);
    EXPECT_NO_THROW(inner(junk));
    EXPECT_NO_THROW(inner(std::string("\0\0<p>\0", 6)));
}

} // namespace
} // namespace torvaline
