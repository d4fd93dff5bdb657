#include "pages/PageText.h"

#include <gtest/gtest.h>

namespace torvaline::test {
namespace {

TEST(PageText, LineBreaksBecomeCrLf) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"a\r\nb", "a\r\nb"},
        {"a\nb", "a\r\nb"},
        {"a\rb", "a\r\nb"},
        {"a\n\rb", "a\r\n\r\nb"},
        {"a\r\r\nb", "a\r\n\r\nb"},
        {"\n", "\r\n"},
        {"\r", "\r\n"},
        {"a\r\n\nb\r", "a\r\n\r\nb\r\n"},
        {"no breaks", "no breaks"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PageText::normaliseLineBreaks(c.in), c.out) << c.in;
    // Bytes other than CR and LF pass untouched, NUL included.
    const std::string bytes("\0\xff\t", 3);
    EXPECT_EQ(PageText::normaliseLineBreaks(bytes), bytes);
}

TEST(PageText, OnlyARealChangeIsAnnounced) {
    PageText page;
    int changes = 0;
    page.setOnChange([&] { ++changes; });

    EXPECT_FALSE(page.replace(""));
    EXPECT_TRUE(page.replace("line\nnext"));
    EXPECT_EQ(page.text(), "line\r\nnext");
    // The same page again, with its LF breaks, is unchanged.
    EXPECT_FALSE(page.replace("line\nnext"));
    EXPECT_FALSE(page.replace("line\r\nnext"));
    EXPECT_EQ(changes, 1);

    page.clear();
    EXPECT_EQ(page.text(), "");
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(page.replace("line\nnext"));
    EXPECT_EQ(changes, 2);
}

TEST(PageText, FailureLineGoesIntoAnEmptyLastLineOrBehindTheText) {
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {
        {"", "No Web Document Body HTML\r\n"},
        {"page", "page\r\nNo Web Document Body HTML"},
        {"page\r\n", "page\r\nNo Web Document Body HTML\r\n"},
        {"No Web Document Body HTML\r\n",
         "No Web Document Body HTML\r\nNo Web Document Body HTML\r\n"},
    };
    for (const auto& c : cases) {
        PageText page;
        page.replace(c.before);
        int changes = 0;
        page.setOnChange([&] { ++changes; });
        page.appendFailureLine();
        EXPECT_EQ(page.text(), c.after) << c.before;
        EXPECT_EQ(page.searchStart(), page.text().size());
        EXPECT_EQ(changes, 1);
    }
}

TEST(PageText, ReplacingSearchesFromTheStartAgain) {
    PageText page;
    page.replace("a");
    page.appendFailureLine();
    ASSERT_NE(page.searchStart(), 0u);
    // The same text again changes nothing, the search start included.
    page.replace(page.text());
    EXPECT_EQ(page.searchStart(), page.text().size());
    page.replace("b");
    EXPECT_EQ(page.searchStart(), 0u);
}

TEST(PageText, HandlerMayChangeTheTextWhileItRuns) {
    PageText page;
    int depth = 0;
    page.setOnChange([&] {
        ++depth;
        if (page.text() == "first")
            page.replace("second"); // a nested capture of a newer page
        else if (page.text() == "second")
            page.clear();
    });
    page.replace("first");
    EXPECT_EQ(depth, 2);
    EXPECT_EQ(page.text(), "");
}

} // namespace
} // namespace torvaline::test
