#include "list/LinkLines.h"

#include <gtest/gtest.h>

using namespace torvaline;

TEST(LinkLines, HostNameUsesCaseSensitiveSubstrings) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://rapidshare.example/files/1/a.zip", "RapidShare"},
        {"http://www.4shared.example/file/1/a.html", "4Shared"},
        {"http://rapidshare.example/?u=4shared", "4Shared"},
        {"4shared rapidshare", "4Shared"},
        {"http://RapidShare.example/files/1", ""},
        {"http://www.4Shared.example/file/1", ""},
        {"http://example.org/", ""},
        {"", ""},
        {"xxrapidsharexx", "RapidShare"},
    };
    for (const auto& [line, host] : cases)
        EXPECT_EQ(HostName(line), host) << line;
}

TEST(LinkLines, SplitsAtEveryLineBreakConvention) {
    using Lines = std::vector<std::string>;
    const std::pair<std::string, Lines> cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\n", {"a"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"a\rb\rc", {"a", "b", "c"}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\n\n", {"a", ""}},
        {"\n", {""}},
        {"\r\n\r\n", {"", ""}},
        {"a\n\rb", {"a", "", "b"}},
        {" a \r\n\tb", {" a ", "\tb"}},
        {std::string("a\0b\x1a"
                     "c\r\nd",
                     8),
         {std::string("a\0b\x1a"
                      "c",
                      5),
          "d"}},
    };
    for (const auto& [text, lines] : cases)
        EXPECT_EQ(SplitTypedLinks(text), lines) << testing::PrintToString(text);
}

TEST(LinkLines, AppendsWaitingRowsAfterTheLastRow) {
    DownloadList list;
    list.setRowCount(4);
    for (int r = 1; r < 4; ++r)
        list.setCell(r, DownloadList::URL, "old" + std::to_string(r));
    list.setCell(3, DownloadList::Status, "Completed");

    const std::vector<std::string> links{"http://rapidshare.example/1", "",
                                         " http://4shared.example/2 ", "x",
                                         "http://rapidshare.example/4shared"};
    AppendLinks(list, links);

    ASSERT_EQ(list.rowCount(), 9);
    EXPECT_EQ(list.cell(3, DownloadList::URL), "old3");
    EXPECT_EQ(list.cell(3, DownloadList::Status), "Completed");
    const char* hosts[] = {"RapidShare", "", "4Shared", "", "4Shared"};
    for (int i = 0; i < 5; ++i) {
        const int r = 4 + i;
        EXPECT_EQ(list.cell(r, DownloadList::URL), links[static_cast<std::size_t>(i)]);
        EXPECT_EQ(list.cell(r, DownloadList::Host), hosts[i]);
        EXPECT_EQ(list.cell(r, DownloadList::Status), "Waiting...");
        for (int c = DownloadList::Speed; c <= DownloadList::Estimated; ++c)
            EXPECT_EQ(list.cell(r, c), "") << r << "," << c;
    }

    AppendLinks(list, {});
    EXPECT_EQ(list.rowCount(), 9);
}
