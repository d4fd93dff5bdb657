#include "app/DownloadGrid.h"

#include "app/DownloadListModel.h"

#include <algorithm>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>

namespace torvaline {

DownloadGrid::DownloadGrid(DownloadListModel& model, QWidget* parent)
    : QTableView(parent) {
    setObjectName(QStringLiteral("MyStringGrid"));
    setModel(&model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(RowHeight);
    rows->setDefaultSectionSize(RowHeight);
    // Fixed: the view never measures a row's contents, which keeps a list of a hundred
    // thousand links as quick to show and scroll as a short one.
    rows->setSectionResizeMode(QHeaderView::Fixed);

    QHeaderView* columns = horizontalHeader();
    columns->hide();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(false);
    const auto& widths = DownloadList::columnWidths();
    for (int c = 0; c < DownloadList::ColumnCount; ++c)
        setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
    viewport()->setMouseTracking(true);
}

int DownloadGrid::currentRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void DownloadGrid::setCurrentRow(int row) {
    if (row < 0 || row >= model()->rowCount())
        return;
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    selectionModel()->setCurrentIndex(model()->index(row, column),
                                      QItemSelectionModel::ClearAndSelect |
                                          QItemSelectionModel::Rows);
}

int DownloadGrid::columnBorderAt(int x) const {
    constexpr int Grip = 3;
    for (int c = 0; c < model()->columnCount(); ++c) {
        const int border = columnViewportPosition(c) + columnWidth(c);
        if (x >= border - Grip && x <= border + Grip)
            return c;
    }
    return -1;
}

void DownloadGrid::mousePressEvent(QMouseEvent* event) {
    const int x = event->position().toPoint().x();
    const int column = event->button() == Qt::LeftButton ? columnBorderAt(x) : -1;
    if (column < 0) {
        QTableView::mousePressEvent(event);
        return;
    }
    m_resizing = column;
    m_pressX = x;
    m_pressWidth = columnWidth(column);
    event->accept();
}

void DownloadGrid::mouseMoveEvent(QMouseEvent* event) {
    const int x = event->position().toPoint().x();
    if (m_resizing >= 0) {
        constexpr int MinimumWidth = 8;
        setColumnWidth(m_resizing, std::max(MinimumWidth, m_pressWidth + x - m_pressX));
        event->accept();
        return;
    }
    if (event->buttons() == Qt::NoButton) {
        if (columnBorderAt(x) >= 0)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
    }
    QTableView::mouseMoveEvent(event);
}

void DownloadGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (m_resizing >= 0 && event->button() == Qt::LeftButton) {
        m_resizing = -1;
        event->accept();
        return;
    }
    QTableView::mouseReleaseEvent(event);
}

} // namespace torvaline
