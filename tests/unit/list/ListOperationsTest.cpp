#include "list/ListOperations.h"

#include <gtest/gtest.h>

#include <string>

using namespace torvaline;

namespace {

// A list whose download rows carry the letters a, b, c ... in every one of their nine cells,
// so that a row torn apart by a move shows up as mixed letters.
DownloadList listOf(int downloads) {
    DownloadList list;
    list.setRowCount(downloads + 1);
    for (int r = 1; r <= downloads; ++r)
        for (int c = 0; c < DownloadList::ColumnCount; ++c)
            list.setCell(r, c, std::string(1, static_cast<char>('a' + r - 1)));
    return list;
}

// "T" for the untouched title row, then one letter per row; "?" for a row whose cells differ.
std::string layout(const DownloadList& list) {
    std::string out;
    for (int r = 0; r < list.rowCount(); ++r) {
        const auto& row = list.row(r);
        bool titles = true;
        bool uniform = true;
        for (int c = 0; c < DownloadList::ColumnCount; ++c) {
            titles = titles && row[c] == DownloadList::titles()[c];
            uniform = uniform && row[c] == row[0];
        }
        out += titles ? "T" : uniform && row[0].size() == 1 ? row[0] : "?";
    }
    return out;
}

using Operation = void (*)(DownloadList&, int);

struct Case {
    const char* name;
    Operation op;
    int downloads;
    int row;
    const char* expected;
};

class RowCommands : public testing::TestWithParam<Case> {};

TEST_P(RowCommands, ChangeExactlyTheRowsTheyTrade) {
    const Case& c = GetParam();
    DownloadList list = listOf(c.downloads);
    c.op(list, c.row);
    EXPECT_EQ(layout(list), c.expected);
}

const Case kCases[] = {
    // Delete Selected: the rows below move up; the last row only lowers the count.
    {"DeleteMiddle", DeleteStringGridRow1, 4, 2, "Tacd"},
    {"DeleteFirst", DeleteStringGridRow1, 4, 1, "Tbcd"},
    {"DeleteLast", DeleteStringGridRow1, 4, 4, "Tabc"},
    {"DeleteOnlyRow", DeleteStringGridRow1, 1, 1, "T"},
    {"DeleteTitlesAlone", DeleteStringGridRow1, 0, 0, "T"},
    {"DeleteTitleRowKeepsTitles", DeleteStringGridRow1, 3, 0, "Tabc"},
    {"DeletePastTheEnd", DeleteStringGridRow1, 3, 4, "Tabc"},
    {"DeleteNegative", DeleteStringGridRow1, 3, -1, "Tabc"},
    // Move Up trades s and s-1.
    {"UpFromLast", MoveUpStringGridRow, 5, 5, "Tabced"},
    {"UpFromSecond", MoveUpStringGridRow, 3, 2, "Tbac"},
    {"UpFromFirstKeepsTitles", MoveUpStringGridRow, 3, 1, "Tabc"},
    {"UpFromTitles", MoveUpStringGridRow, 3, 0, "Tabc"},
    {"UpPastTheEnd", MoveUpStringGridRow, 3, 4, "Tabc"},
    // Move Down trades s and s+1.
    {"DownFromFirst", MoveDownStringGridRow, 3, 1, "Tbac"},
    {"DownFromLastKeepsList", MoveDownStringGridRow, 3, 3, "Tabc"},
    {"DownFromTitles", MoveDownStringGridRow, 3, 0, "Tabc"},
    // Move to First trades 1 and s; the rows between stay.
    {"FirstFromFourth", MoveFirstStringGridRow, 4, 4, "Tdbca"},
    {"FirstFromFirst", MoveFirstStringGridRow, 4, 1, "Tabcd"},
    {"FirstFromTitles", MoveFirstStringGridRow, 4, 0, "Tabcd"},
    {"FirstPastTheEnd", MoveFirstStringGridRow, 4, 7, "Tabcd"},
    // Move to Last trades s and count-1; the rows between stay.
    {"LastFromSecond", MoveLastStringGridRow, 5, 2, "Taecdb"},
    {"LastFromLast", MoveLastStringGridRow, 5, 5, "Tabcde"},
    {"LastFromTitles", MoveLastStringGridRow, 5, 0, "Tabcde"},
    {"LastInTitlesAlone", MoveLastStringGridRow, 0, 0, "T"},
};

INSTANTIATE_TEST_SUITE_P(ListOperations, RowCommands, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ListOperations, DeletedRowComesBackEmpty) {
    DownloadList list = listOf(2);
    DeleteStringGridRow1(list, 2);
    list.setRowCount(3);
    for (int c = 0; c < DownloadList::ColumnCount; ++c)
        EXPECT_EQ(list.cell(2, c), "");
}

TEST(ListOperations, UpButtonIsEnabledFromRowThree) {
    for (int row : {-1, 0, 1, 2})
        EXPECT_FALSE(CheckRowNum(row)) << row;
    for (int row : {3, 4, 100})
        EXPECT_TRUE(CheckRowNum(row)) << row;
}

} // namespace
