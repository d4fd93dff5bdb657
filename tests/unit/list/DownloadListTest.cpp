#include "list/DownloadList.h"

#include <gtest/gtest.h>

#include <vector>

using torvaline::DownloadList;

TEST(DownloadList, StartsWithTheTitleRowAlone) {
    DownloadList list;
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.cell(0, DownloadList::Host), "Host");
    EXPECT_EQ(list.cell(0, DownloadList::Status), "Status");
}

TEST(DownloadList, CellAccessOutsideTheListReadsEmptyAndWritesNothing) {
    DownloadList list;
    list.setRowCount(2);
    int changes = 0;
    DownloadList::Observer o;
    o.cellsChanged = [&](int, int, int, int) { ++changes; };
    list.setObserver(o);
    for (auto [row, col] : std::vector<std::pair<int, int>>{{2, 1}, {-1, 1}, {1, 9}, {1, -1}}) {
        list.setCell(row, col, "x");
        EXPECT_EQ(list.cell(row, col), "");
    }
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(list.rowCount(), 2);
}

TEST(DownloadList, RowsThatComeBackStartEmptyAndCountNeverDropsBelowOne) {
    DownloadList list;
    list.setRowCount(3);
    list.setCell(2, DownloadList::URL, "a");
    list.setRowCount(0);
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.cell(0, DownloadList::URL), "URL");
    list.setRowCount(3);
    EXPECT_EQ(list.cell(2, DownloadList::URL), "");
}

TEST(DownloadList, ObserverHearsOnlyRealChanges) {
    DownloadList list;
    std::vector<std::string> events;
    DownloadList::Observer o;
    o.rowsAboutToBeInserted = [&](int f, int l) {
        events.push_back("ins " + std::to_string(f) + "-" + std::to_string(l));
    };
    o.rowsAboutToBeRemoved = [&](int f, int l) {
        events.push_back("rem " + std::to_string(f) + "-" + std::to_string(l));
    };
    o.cellsChanged = [&](int r, int, int c, int) {
        events.push_back("cell " + std::to_string(r) + "," + std::to_string(c));
    };
    list.setObserver(o);
    list.setRowCount(4);
    list.setCell(1, 1, "a");
    list.setCell(1, 1, "a");
    list.setRowCount(4);
    list.setRowCount(2);
    EXPECT_EQ(events, (std::vector<std::string>{"ins 1-3", "cell 1,1", "rem 2-3"}));
}
