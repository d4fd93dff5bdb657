#include "list/DownloadList.h"
#include "list/LinkLines.h"
#include "list/UrlRanges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using torvaline::DownloadList;
using torvaline::RowRef;

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

// Every way rows come, go and move keeps each row's id with the row, never gives an id twice,
// and tells the row observer exactly once per row.
TEST(DownloadList, RowIdsTravelWithTheRowsAndAreNeverReused) {
    DownloadList list;
    std::vector<std::string> told;
    DownloadList::RowIdObserver o;
    o.added = [&](int first, int last) {
        for (int row = first; row <= last; ++row)
            told.push_back("+" + std::to_string(list.id(row)) + "@" + std::to_string(row));
    };
    // The link comes with the removal: the row is gone by then.
    o.removed = [&](int, std::span<const RowRef> rows) {
        for (const RowRef& row : rows)
            told.push_back("-" + std::to_string(row.id) + std::string(row.link));
    };
    o.moved = [&](std::uint64_t id, int from, int to) {
        told.push_back(std::to_string(id) + ":" + std::to_string(from) + ">" + std::to_string(to));
    };
    list.setRowIdObserver(o);
    DownloadList::Row withLink;
    withLink[DownloadList::URL] = "http://x/b";
    list.appendRows({DownloadList::Row{}, withLink});
    list.setRowCount(4);
    const std::uint64_t a = list.id(1), b = list.id(2), c = list.id(3);
    EXPECT_TRUE(a != 0 && a != b && b != c && a != c);
    EXPECT_EQ(list.id(0) == a || list.id(0) == b || list.id(0) == c, false);
    EXPECT_EQ(told, (std::vector<std::string>{"+" + std::to_string(a) + "@1",
                                              "+" + std::to_string(b) + "@2",
                                              "+" + std::to_string(c) + "@3"}));
    told.clear();
    list.swapRows(1, 3);
    EXPECT_EQ(list.id(1), c);
    EXPECT_EQ(list.rowOf(a), 3);
    EXPECT_EQ(told,
              (std::vector<std::string>{std::to_string(a) + ":1>3", std::to_string(c) + ":2>1"}));
    told.clear();
    list.removeRow(2);
    EXPECT_EQ(list.rowOf(b), -1);
    EXPECT_EQ(list.rowOf(a), 2);
    list.setRowCount(1); // Clear List
    EXPECT_EQ(told, (std::vector<std::string>{"-" + std::to_string(b) + "http://x/b",
                                              "-" + std::to_string(c), "-" + std::to_string(a)}));
    list.setRowCount(2);
    EXPECT_GT(list.id(1), std::max({a, b, c})); // a new row, a new id
    EXPECT_EQ(list.id(5), 0u);
    EXPECT_EQ(list.rowOf(0), -1);
}

// Rows found by id stay found, wherever moves, swaps, removals and appends put them, and a
// lookup asked from inside an observer sees the list as it stands: a stale place would hand
// one row's file, hold or placement to another.
TEST(DownloadList, EveryRowIsFoundByItsIdThroughAnyMixOfChanges) {
    DownloadList list;
    int inside = 0;
    DownloadList::RowIdObserver o;
    o.moved = [&](std::uint64_t id, int, int to) {
        // Asked more often than the list searches before it takes every row's place.
        for (int i = 0; i < 20; ++i)
            inside += list.rowOf(id) == to;
    };
    list.setRowIdObserver(o);
    list.setRowCount(200);
    std::uint32_t seed = 7;
    const auto next = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return 1 + static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(n));
    };
    int moves = 0;
    for (int step = 0; step < 400; ++step) {
        const int rows = list.rowCount() - 1;
        switch (step % 5) {
        case 0:
        case 1:
            list.moveRow(next(rows), next(rows));
            ++moves;
            break;
        case 2:
            list.swapRows(next(rows), next(rows));
            break;
        case 3:
            list.removeRow(next(rows));
            break;
        case 4:
            list.appendRows({DownloadList::Row{}});
            break;
        }
        // Every row, so that the places are taken at some steps and searched at others.
        for (int r = 1; r < list.rowCount(); r += 1 + step % 3)
            ASSERT_EQ(list.rowOf(list.id(r)), r) << "step " << step;
    }
    EXPECT_GT(inside, moves * 10);
    const std::uint64_t gone = list.id(1);
    list.removeRow(1);
    EXPECT_EQ(list.rowOf(gone), -1);
    list.setRowCount(1);
    EXPECT_EQ(list.rowOf(gone + 1), -1);
}

// The rows of one URL range come as one batch, each range its own and a lone link none; the
// batch travels with its row however the user moves rows about, so a moved part still goes
// into its package's folder.
TEST(DownloadList, TheRowsOfARangeKeepTheirBatchWhereverTheyMove) {
    DownloadList list;
    torvaline::AppendExpandedLinks(
        list, torvaline::ExpandUrlRanges({"http://h/pics[1-3].zip", "http://h/plain.zip",
                                          "http://h/clip[1-2].mp4", "http://h/one[7-7].zip"})
                  .value());
    ASSERT_EQ(list.rowCount(), 1 + 7);
    const auto batchOf = [&](const std::string& link) -> std::uint64_t {
        for (int r = 1; r < list.rowCount(); ++r)
            if (list.cell(r, DownloadList::URL) == "http://h/" + link)
                return list.batch(r) ? list.batch(r)->id : 0;
        ADD_FAILURE() << link << " is gone";
        return 0;
    };
    const std::uint64_t pics = batchOf("pics1.zip"), clips = batchOf("clip1.mp4");
    EXPECT_TRUE(pics != 0 && clips != 0 && pics != clips);
    EXPECT_EQ(list.batch(1)->name, "");
    const auto expectBatches = [&] {
        EXPECT_EQ(batchOf("pics1.zip"), pics);
        EXPECT_EQ(batchOf("pics2.zip"), pics);
        EXPECT_EQ(batchOf("pics3.zip"), pics);
        EXPECT_EQ(batchOf("plain.zip"), 0u);
        EXPECT_EQ(batchOf("clip1.mp4"), clips);
        EXPECT_EQ(batchOf("clip2.mp4"), clips);
        EXPECT_EQ(batchOf("one7.zip"), 0u);
    };
    expectBatches();
    list.moveRow(2, 7);
    list.moveRow(6, 1);
    list.swapRows(1, 4);
    list.swapRows(3, 5);
    expectBatches();
    // A row going leaves the others where they were, and no row outside the list has one.
    for (int r = 1; r < list.rowCount(); ++r)
        if (list.cell(r, DownloadList::URL) == "http://h/pics2.zip")
            list.removeRow(r);
    EXPECT_EQ(batchOf("pics1.zip"), pics);
    EXPECT_EQ(batchOf("pics3.zip"), pics);
    EXPECT_EQ(list.batch(0), nullptr);
    EXPECT_EQ(list.batch(list.rowCount()), nullptr);
}
