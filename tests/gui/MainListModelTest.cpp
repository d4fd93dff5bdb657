#include "app/DownloadListModel.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace torvaline {
namespace {

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
