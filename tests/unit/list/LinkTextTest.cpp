#include "list/LinkText.h"
#include "list/UrlRanges.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace torvaline;
using Lines = std::vector<std::string>;

// What a drop or a paste holds, as the desktop hands it over, and the links it must give.
TEST(LinkText, FindsTheLinksOfDroppedOrPastedText) {
    const std::pair<std::string, Lines> cases[] = {
        {"http://rapidshare.example/files/1/a.zip", {"http://rapidshare.example/files/1/a.zip"}},
        {"http://a.example/1\r\nhttp://b.example/2\r\n",
         {"http://a.example/1", "http://b.example/2"}},
        {"http://a.example/1\rhttp://b.example/2", {"http://a.example/1", "http://b.example/2"}},
        {"see https://a.example/x.rar, and (http://b.example/y). Done.",
         {"https://a.example/x.rar", "http://b.example/y"}},
        {"http://w.example/wiki/A_(b)", {"http://w.example/wiki/A_(b)"}},
        {"<a href=\"http://a.example/q?x=1&y=2\">x</a>", {"http://a.example/q?x=1&y=2"}},
        {"HTTPS://A.example/Up", {"HTTPS://A.example/Up"}},
        {"http://a.example/1 http://a.example/1", {"http://a.example/1"}},
        {"\xef\xbb\xbfhttp://a.example/\xc3\xa9", {"http://a.example/\xc3\xa9"}},
        // Not links, or not ours.
        {"hello world", {}},
        {"ftp://a.example/f javascript:alert(1) file:///etc/passwd mailto:a@b", {}},
        {"http:// http:/// https://", {}},
        {"xhttp://a.example/ is no link", {}},
        {std::string("http://a.example/\0zero", 23), {"http://a.example/"}},
        {"http://" + std::string(MaxLinkBytes, 'a'), {}},
    };
    for (const auto& [text, links] : cases)
        EXPECT_EQ(FindLinks(text), links) << text;
}

TEST(LinkText, ReadsUriListsAsBrowsersAndFileManagersWriteThem) {
    const UriList list = ReadUriList("# dragged from a page\r\n"
                                     "http://rapidshare.example/files/1/a.zip\r\n"
                                     "file:///home/u/My%20Links.txt\r\n"
                                     "file://localhost/tmp/b.TXT\n"
                                     "file://otherhost/tmp/c.txt\r\n"
                                     "file:///tmp/zero%00.txt\r\n"
                                     "file:///tmp/broken%2.txt\r\n"
                                     "ftp://x.example/f\r\n"
                                     "  \r\n"
                                     "http://rapidshare.example/files/1/a.zip\r\n");
    EXPECT_EQ(list.links, Lines{"http://rapidshare.example/files/1/a.zip"});
    EXPECT_EQ(list.files, (Lines{"/home/u/My Links.txt", "/tmp/b.TXT"}));
    EXPECT_TRUE(IsListFileName("/tmp/b.TXT"));
    EXPECT_FALSE(IsListFileName("/tmp/b.txt.exe"));
    EXPECT_FALSE(IsListFileName(".txt"));
}

TEST(LinkText, AHugePasteIsReadInLinearTime) {
    std::string text;
    for (int i = 0; i < 200000; ++i)
        text += "http://rapidshare.example/files/" + std::to_string(i) + "/f.rar\r\n";
    text += std::string(4 * 1024 * 1024, 'h'); // a run that looks like a link start everywhere
    const auto start = std::chrono::steady_clock::now();
    const Lines links = FindLinks(text);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(links.size(), 200000u);
    EXPECT_EQ(links.back(), "http://rapidshare.example/files/199999/f.rar");
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(FindLinks(text, 3).size(), 3u);
}

TEST(UrlRanges, ExpandsNumbersLettersAndLeavesOtherBracketsAlone) {
    const std::pair<std::string, Lines> cases[] = {
        {"http://h/f.part[1-3].rar",
         {"http://h/f.part1.rar", "http://h/f.part2.rar", "http://h/f.part3.rar"}},
        {"http://h/f.part[08-10].rar",
         {"http://h/f.part08.rar", "http://h/f.part09.rar", "http://h/f.part10.rar"}},
        {"http://h/[003-1]", {"http://h/003", "http://h/002", "http://h/001"}},
        {"http://h/[a-c]", {"http://h/a", "http://h/b", "http://h/c"}},
        {"http://h/[X-Z][1-2]",
         {"http://h/X1", "http://h/X2", "http://h/Y1", "http://h/Y2", "http://h/Z1",
          "http://h/Z2"}},
        {"http://h/[5-5]", {"http://h/5"}},
        // Malformed or not a range: the line as typed.
        {"http://[::1]:8080/f", {"http://[::1]:8080/f"}},
        {"http://h/[a-F]", {"http://h/[a-F]"}},
        {"http://h/[1-]", {"http://h/[1-]"}},
        {"http://h/[-1]", {"http://h/[-1]"}},
        {"http://h/[1-a]", {"http://h/[1-a]"}},
        {"http://h/[1-2", {"http://h/[1-2"}},
        {"http://h/[[1-2]]", {"http://h/[1]", "http://h/[2]"}},
        {"http://h/[1234567890-1234567891]", {"http://h/[1234567890-1234567891]"}},
        {"  keep blanks  ", {"  keep blanks  "}},
        {"", {""}},
    };
    for (const auto& [line, links] : cases) {
        const Result<RangeExpansion> got = ExpandUrlRanges({line});
        ASSERT_TRUE(got.ok()) << line << ": " << got.reason();
        EXPECT_EQ(got->lines, links) << line;
    }
}

TEST(UrlRanges, RefusesAPatternBeyondTheLimitWhole) {
    const Result<RangeExpansion> most = ExpandUrlRanges({"http://h/[00001-10000]"});
    ASSERT_TRUE(most.ok()) << most.reason();
    EXPECT_EQ(most->lines.size(), 10000u);
    EXPECT_EQ(most->lines.back(), "http://h/10000");
    for (const std::string line : {"http://h/[1-10001]", "http://h/[1-200][1-200]",
                                   "http://h/[0-999999999][0-999999999][0-999999999]"}) {
        const Result<RangeExpansion> got = ExpandUrlRanges({"http://h/ok", line});
        EXPECT_FALSE(got.ok()) << line;
        EXPECT_NE(got.reason().find("at most 10000 links"), std::string::npos) << got.reason();
        EXPECT_NE(got.reason().find(line), std::string::npos) << got.reason();
    }
}
