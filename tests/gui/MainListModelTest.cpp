#include "app/DownloadListModel.h"
#include "list/LinkLines.h"
#include "list/ListOperations.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace torvaline {
namespace {

// The check's word shows in place of the stored status only while the row has not begun (or
// for the row it failed); the stored cells, which the cycle compares, stay as they were.
TEST(DownloadListModelTest, ShowsTheLinkCheckInTotalStatusAndTheToolTipWithoutWritingTheCells) {
    DownloadList list;
    DownloadListModel model(list);
    AppendLinks(list, {"http://h/a.bin", "http://h/b.bin", "http://h/c.bin", "http://h/d.bin"});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    using State = CheckedLink::State;
    list.setChecked(1, {State::Online, 1572864, "the a.bin", ""});
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(1, DownloadList::Total));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(1, DownloadList::Status));
    list.setChecked(2, {State::Offline, -1, "", "the hoster reports the file missing"});
    list.markFailed(2, "12:00:00", "the hoster reports the file missing");
    list.setChecked(3, {State::Unknown, -1, "", "Connection refused"});
    list.setChecked(4, {State::Online, 10, "d.bin", ""});
    list.setCell(4, DownloadList::Status, "Downloading... ");

    const auto shown = [&](int row, int column, int role = Qt::DisplayRole) {
        return model.index(row, column).data(role).toString().toStdString();
    };
    EXPECT_EQ(shown(1, DownloadList::Status), "Online");
    EXPECT_EQ(shown(1, DownloadList::Total), "1.50 MB");
    EXPECT_EQ(list.cell(1, DownloadList::Status), "Waiting...");
    EXPECT_EQ(list.cell(1, DownloadList::Total), "");
    const std::string tip = shown(1, DownloadList::Status, Qt::ToolTipRole);
    EXPECT_NE(tip.find("the a.bin"), std::string::npos) << tip;
    EXPECT_NE(tip.find("1572864 bytes"), std::string::npos) << tip;
    EXPECT_EQ(shown(2, DownloadList::Status), "Offline");
    EXPECT_EQ(list.cell(2, DownloadList::Status), "Failed");
    EXPECT_NE(shown(2, DownloadList::Status, Qt::ToolTipRole).find("Failed at 12:00:00"),
              std::string::npos);
    EXPECT_EQ(shown(3, DownloadList::Status), "Unknown");
    EXPECT_NE(shown(3, DownloadList::Status, Qt::ToolTipRole).find("Connection refused"),
              std::string::npos);
    // Under way, the row shows what the cycle writes; a new link forgets the check.
    EXPECT_EQ(shown(4, DownloadList::Status), "Downloading... ");
    list.setCell(3, DownloadList::URL, "http://h/other.bin");
    EXPECT_EQ(list.checked(3), nullptr);
    EXPECT_EQ(shown(3, DownloadList::Status), "Waiting...");
}

// The model must pass the list's changes on precisely: views keep their selection and
// scroll position only when rows and cells are reported exactly as they changed.
TEST(DownloadListModelTest, ReportsInsertedRemovedAndChangedCellsExactly) {
    DownloadList list;
    DownloadListModel model(list);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    list.setRowCount(4);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);
    EXPECT_EQ(inserted[0][2].toInt(), 3);
    EXPECT_EQ(model.rowCount(), 4);

    list.setCell(2, DownloadList::Status, "Waiting...");
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex(), model.index(2, 8));
    EXPECT_EQ(changed[0][1].toModelIndex(), model.index(2, 8));
    EXPECT_EQ(model.index(2, 8).data().toString(), "Waiting...");

    DownloadList::Row row;
    row[DownloadList::URL] = "http://x/a";
    list.setRow(3, row);
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed[1][0].toModelIndex(), model.index(3, 0));
    EXPECT_EQ(changed[1][1].toModelIndex(), model.index(3, 8));

    // Writing the same text again, or a cell past the end, reports nothing.
    list.setCell(2, DownloadList::Status, "Waiting...");
    list.setCell(9, DownloadList::Status, "Completed");
    EXPECT_EQ(changed.count(), 2);

    list.setRowCount(2);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 2);
    EXPECT_EQ(removed[0][2].toInt(), 3);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(reset.count(), 0);
}

TEST(DownloadListModelTest, ShowsBytesAsUtf8AndSurvivesInvalidSequences) {
    DownloadList list;
    DownloadListModel model(list);
    list.setRowCount(3);
    list.setCell(1, DownloadList::URL, "http://x/f\xC3\xA4.zip");
    list.setCell(2, DownloadList::URL, std::string("bad\xFF\xC3 end\0z", 12));
    EXPECT_EQ(model.index(1, 1).data().toString(), QString::fromUtf8("http://x/fä.zip"));
    const QString shown = model.index(2, 1).data().toString();
    EXPECT_TRUE(shown.startsWith("bad"));
    EXPECT_TRUE(shown.contains(QChar(QChar::ReplacementCharacter)));
    EXPECT_TRUE(shown.contains("end"));
    // Outside the list there is nothing, and no cell can be edited.
    EXPECT_FALSE(model.index(5, 1).isValid());
    EXPECT_FALSE(model.flags(model.index(1, 1)).testFlag(Qt::ItemIsEditable));
    EXPECT_FALSE(model.index(1, 0).data(Qt::ToolTipRole).isValid());
}

TEST(DownloadListModelTest, ADestroyedModelLeavesTheListUsable) {
    DownloadList list;
    {
        DownloadListModel model(list);
        list.setRowCount(2);
    }
    list.setRowCount(5);
    list.setCell(4, DownloadList::URL, "still fine");
    EXPECT_EQ(list.cell(4, DownloadList::URL), "still fine");
}

} // namespace
} // namespace torvaline

namespace torvaline {
namespace {

struct Spies {
    explicit Spies(QAbstractItemModel& model)
        : inserted(&model, &QAbstractItemModel::rowsInserted)
        , removed(&model, &QAbstractItemModel::rowsRemoved)
        , changed(&model, &QAbstractItemModel::dataChanged) {}
    int total() const {
        return static_cast<int>(inserted.count() + removed.count() + changed.count());
    }
    void clear() {
        inserted.clear();
        removed.clear();
        changed.clear();
    }
    QSignalSpy inserted, removed, changed;
};

std::vector<std::string> links(const DownloadList& list) {
    std::vector<std::string> out;
    for (int r = 1; r < list.rowCount(); ++r)
        out.push_back(list.cell(r, DownloadList::URL));
    return out;
}

// A view over a long list must hear of an operation once, not once per row it shifts: a
// delete near the top of 100,000 rows otherwise stalls the window. The rows must still end up
// where the operation puts them.
TEST(DownloadListModelTest, EachListOperationReachesTheViewOnce) {
    DownloadList list;
    DownloadListModel model(list);
    Spies spies(model);
    std::vector<std::string> lines;
    for (int i = 1; i <= 1000; ++i)
        lines.push_back("http://rapidshare.example/" + std::to_string(i));

    AppendLinks(list, lines);
    EXPECT_EQ(spies.inserted.count(), 1);
    EXPECT_EQ(spies.total(), 1);
    EXPECT_EQ(model.index(1000, DownloadList::Status).data().toString(), "Waiting...");

    struct Case {
        const char* name;
        std::function<void()> op;
        std::vector<std::string> firstThree;
        std::string last;
    };
    const Case cases[] = {
        {"delete row 1", [&] { DeleteStringGridRow1(list, 1); }, {"/2", "/3", "/4"}, "/1000"},
        {"move last to first",
         [&] { MoveFirstStringGridRow(list, list.rowCount() - 1); },
         {"/1000", "/3", "/4"},
         "/2"},
        {"move first to last",
         [&] { MoveLastStringGridRow(list, 1); },
         {"/2", "/3", "/4"},
         "/1000"},
        {"move up", [&] { MoveUpStringGridRow(list, 2); }, {"/3", "/2", "/4"}, "/1000"},
    };
    for (const Case& c : cases) {
        spies.clear();
        c.op();
        EXPECT_EQ(spies.total(), 1) << c.name;
        const auto now = links(list);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(now[i], "http://rapidshare.example" + c.firstThree[i]) << c.name;
        EXPECT_EQ(now.back(), "http://rapidshare.example" + c.last) << c.name;
    }
    EXPECT_EQ(model.rowCount(), 1000);
}

// A failed row tells why and when in its tool tip, and the reason goes where the row goes;
// cells show a bounded piece of a huge line while the list keeps all of it.
TEST(DownloadListModelTest, FailedRowsKeepTheirReasonAndHugeCellsShowInPart) {
    DownloadList list;
    DownloadListModel model(list);
    AppendLinks(list, {"http://a", "http://b", std::string(1 << 20, 'x')});
    list.markFailed(1, "14:03:12", "HTTP 404 Not Found");
    const QModelIndex status = model.index(1, DownloadList::Status);
    EXPECT_EQ(status.data().toString(), "Failed");
    const QString tip = status.data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains("HTTP 404 Not Found")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("14:03:12")) << tip.toStdString();
    EXPECT_EQ(model.index(1, DownloadList::URL).data(Qt::ToolTipRole).toString(), "http://a");

    MoveDownStringGridRow(list, 1);
    EXPECT_TRUE(
        model.index(2, DownloadList::Status).data(Qt::ToolTipRole).toString().contains("HTTP 404"));
    EXPECT_EQ(model.index(1, DownloadList::Status).data(Qt::ToolTipRole).toString(), "Waiting...");
    // Sent round again, the row's old reason no longer applies.
    list.setCell(2, DownloadList::Status, "Downloading... ");
    EXPECT_EQ(list.note(2), "");

    for (const int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
        const QString shown = model.index(3, DownloadList::URL).data(role).toString();
        EXPECT_GT(shown.size(), 1000);
        EXPECT_LT(shown.size(), 10000);
    }
    EXPECT_EQ(list.cell(3, DownloadList::URL).size(), std::size_t{1} << 20);
}

} // namespace
} // namespace torvaline
