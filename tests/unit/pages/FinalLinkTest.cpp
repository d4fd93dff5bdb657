#include "pages/FinalLink.h"
#include "pages/PageText.h"
#include "state/CycleState.h"

#include <gtest/gtest.h>

namespace torvaline::test {
namespace {

TEST(URLCopy, TakesWhatLiesBetweenTheFirstMarks) {
    struct Case {
        const char* text;
        const char* start;
        const char* end;
        const char* result;
    } cases[] = {
        {"action=\"http://a/b.zip\" method", "action=\"", "\" method", "http://a/b.zip"},
        // Nothing is trimmed or decoded.
        {"action=\" http://a/?x=1&amp;y \r\n\" method", "action=\"", "\" method",
         " http://a/?x=1&amp;y \r\n"},
        // Both marks are looked for from the start: an end mark before the start mark wins.
        {"\" method action=\"http://a\" method", "action=\"", "\" method", ""},
        {"action=\"\" method", "action=\"", "\" method", ""},
        {"action=\"x\" method", "action=\"", "\" method", "x"},
        {"action=\"http://a/b.zip\"", "action=\"", "\" method", ""},
        {"http://a/b.zip\" method", "action=\"", "\" method", ""},
        {"", "action=\"", "\" method", ""},
        {"A href=\"http://a/b\" onclick", "A href=\"", "onclick", "http://a/b\" "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(URLCopy(c.text, c.start, c.end), c.result) << c.text;
}

TEST(GetFileName, TakesTheTextBehindThePathsLastDelimiter) {
    struct Case {
        const char* link;
        const char* name;
    } cases[] = {
        {"http://rs1.example/files/123/name.zip", "name.zip"},
        // The name comes from the path alone: a query's key or a fragment never stays on it.
        {"http://x/files/123/name.zip?x=1", "name.zip"},
        {"http://x/f/file.bin?token=ab12#part", "file.bin"},
        {"http://x/f/file.bin#frag/ment", "file.bin"},
        {"http://x/dl?name=a/b.zip", "dl"},
        {"http://x/f/?x=1", ""},
        {"name.zip?x=/y", "earlier.zip"},
        {"http://x/files/", ""},
        {"/a", "a"},
        {"no-delimiter", "earlier.zip"},
        {"", "earlier.zip"},
    };
    for (const auto& c : cases) {
        CycleState state;
        state.FinalFileName = "earlier.zip";
        GetFileName(c.link, '/', state);
        EXPECT_EQ(state.FinalFileName, c.name) << c.link;
    }
}

class FinalLinkTest : public ::testing::Test {
protected:
    FinalLinkTest() {
        state.FinalURL = "http://earlier/1/old.zip";
        state.FinalFileName = "old.zip";
    }
    void show(const std::string& text) { page.replace(text); }
    static std::string formWith(const std::string& address) {
        return "<FORM action=\"" + address + "\" method=\"post\">";
    }

    PageText page;
    CycleState state;
};

TEST_F(FinalLinkTest, FormAddressesUpTo146CharactersFitThePiece) {
    const std::string base = "http://rs7.example/files/1/";
    const std::string at146 = base + std::string(146 - base.size() - 4, 'n') + ".zip";
    ASSERT_EQ(at146.size(), 146u);
    show("var c=3;\r\n" + formWith(at146));
    FindFinalURL(page, state);
    EXPECT_EQ(state.FinalURL, at146);
    EXPECT_EQ(state.FinalFileName, at146.substr(base.size()));
    EXPECT_TRUE(state.FinalLinkFresh);
    EXPECT_TRUE(state.PageHandled);

    const std::string at147 = base + std::string(147 - base.size() - 4, 'n') + ".zip";
    show(formWith(at147) + std::string(200, ' '));
    FindFinalURL(page, state);
    EXPECT_EQ(state.FinalURL, "");
    EXPECT_EQ(state.FinalFileName, at146.substr(base.size()));
    EXPECT_FALSE(state.FinalLinkFresh);
    EXPECT_TRUE(state.PageHandled);
}

TEST_F(FinalLinkTest, FirstMatchingFormWinsAndMarkersAreExact) {
    struct Case {
        const char* text;
        const char* url; // what FinalURL holds afterwards
        bool handled;
    } cases[] = {
        {"<form action=\"http://a/1/first.zip\" method=\"post\"><form "
         "action=\"http://b/2/second.zip\" "
         "method=\"post\">",
         "http://a/1/first.zip", true},
        {"<form action=\"/files/1/rel.zip\" method=\"post\">", "http://earlier/1/old.zip", false},
        {"<form ACTION=\"http://a/1/caps.zip\" method=\"post\">", "http://earlier/1/old.zip",
         false},
        {"<form action=\"http://a/1/x.zip\"\r\nmethod=\"post\">", "", true},
        {"action=\"http", "", true},
    };
    for (const auto& c : cases) {
        state.FinalURL = "http://earlier/1/old.zip";
        state.PageHandled = !c.handled;
        show(c.text);
        FindFinalURL(page, state);
        EXPECT_EQ(state.FinalURL, c.url) << c.text;
        EXPECT_EQ(state.PageHandled, c.handled) << c.text;
    }
}

TEST_F(FinalLinkTest, PieceEndsWithTheTextAndStillCuts) {
    show("action=\"http://a/9/short.bin\" method");
    FindFinalURL(page, state);
    EXPECT_EQ(state.FinalURL, "http://a/9/short.bin");
    EXPECT_EQ(state.FinalFileName, "short.bin");
}

TEST_F(FinalLinkTest, LinkWithoutANameOfItsOwnIsNotFresh) {
    show(formWith("http://a/9/"));
    FindFinalURL(page, state);
    EXPECT_EQ(state.FinalURL, "http://a/9/");
    EXPECT_EQ(state.FinalFileName, "");
    EXPECT_TRUE(state.FinalLinkFresh);

    state.FinalFileName = "old.zip";
    show(formWith("http"));
    FindFinalURL(page, state);
    EXPECT_EQ(state.FinalURL, "http");
    EXPECT_EQ(state.FinalFileName, "old.zip");
    EXPECT_FALSE(state.FinalLinkFresh);
}

TEST_F(FinalLinkTest, MarkerBeforeTheSearchStartIsNotSeen) {
    show(formWith("http://a/1/x.zip"));
    page.appendFailureLine();
    state.PageHandled = true;
    FindFinalURL(page, state);
    EXPECT_FALSE(state.PageHandled);
    EXPECT_EQ(state.FinalURL, "http://earlier/1/old.zip");
}

TEST_F(FinalLinkTest, AnchorLinkLosesTheQuoteAndBlanksBeforeOnclick) {
    struct Case {
        const char* text;
        const char* url;
        const char* name;
    } cases[] = {
        {"<A href=\"http://dc1.example/download/ab/file.rar\" onclick=\"x()\">",
         "http://dc1.example/download/ab/file.rar", "file.rar"},
        {"<A href=\"http://d/ab/f.rar\"\r\n  onclick=\"x()\">", "http://d/ab/f.rar", "f.rar"},
        {"<A href=\"http://d/ab/f.rar\"onclick", "http://d/ab/f.rar", "f.rar"},
        {"<A href=\"http://d/ab/f.rar\" class=\"b\" onclick", "http://d/ab/f.rar\" class=\"b",
         "f.rar\" class=\"b"},
        // No onclick within the piece: an empty link, the name stays.
        {"<A href=\"http://d/ab/f.rar\">Download</A>", "", "old.zip"},
        // Lower-case anchors are not the service's.
        {"<a href=\"http://d/ab/f.rar\" onclick", "http://earlier/1/old.zip", "old.zip"},
    };
    for (const auto& c : cases) {
        state.FinalURL = "http://earlier/1/old.zip";
        state.FinalFileName = "old.zip";
        show(c.text);
        Find4sharedFinalURL(page, state);
        EXPECT_EQ(state.FinalURL, c.url) << c.text;
        EXPECT_EQ(state.FinalFileName, c.name) << c.text;
    }
}

} // namespace
} // namespace torvaline::test
