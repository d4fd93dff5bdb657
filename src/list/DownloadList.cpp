#include "list/DownloadList.h"

#include <algorithm>

namespace torvaline {

namespace {
const std::string kEmpty;
const DownloadList::Row kEmptyRow{};
} // namespace

const std::array<const char*, DownloadList::ColumnCount>& DownloadList::titles() {
    static const std::array<const char*, ColumnCount> t{
        "Host", "URL", "Speed", "Total", "Downloaded", "Progress", "Left", "Estimated", "Status"};
    return t;
}

const std::array<int, DownloadList::ColumnCount>& DownloadList::columnWidths() {
    static const std::array<int, ColumnCount> w{62, 330, 45, 74, 74, 45, 50, 50, 78};
    return w;
}

DownloadList::DownloadList()
    : m_rows(1) {
    InitGrid();
}

void DownloadList::InitGrid() {
    Row t;
    for (int c = 0; c < ColumnCount; ++c)
        t[static_cast<std::size_t>(c)] = titles()[static_cast<std::size_t>(c)];
    setRow(0, std::move(t));
}

void DownloadList::setRowCount(int count) {
    count = std::max(count, 1);
    const int old = rowCount();
    if (count > old) {
        if (m_observer.rowsAboutToBeInserted)
            m_observer.rowsAboutToBeInserted(old, count - 1);
        m_rows.resize(static_cast<std::size_t>(count));
        if (m_observer.rowsInserted)
            m_observer.rowsInserted();
    } else if (count < old) {
        if (m_observer.rowsAboutToBeRemoved)
            m_observer.rowsAboutToBeRemoved(count, old - 1);
        m_rows.resize(static_cast<std::size_t>(count));
        if (m_observer.rowsRemoved)
            m_observer.rowsRemoved();
    }
}

const std::string& DownloadList::cell(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= ColumnCount)
        return kEmpty;
    return m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void DownloadList::setCell(int row, int column, std::string text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= ColumnCount)
        return;
    std::string& target = m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    if (target == text)
        return;
    target = std::move(text);
    if (m_observer.cellsChanged)
        m_observer.cellsChanged(row, row, column, column);
}

const DownloadList::Row& DownloadList::row(int row) const {
    if (row < 0 || row >= rowCount())
        return kEmptyRow;
    return m_rows[static_cast<std::size_t>(row)];
}

void DownloadList::setRow(int row, Row cells) {
    if (row < 0 || row >= rowCount())
        return;
    Row& target = m_rows[static_cast<std::size_t>(row)];
    if (target == cells)
        return;
    target = std::move(cells);
    if (m_observer.cellsChanged)
        m_observer.cellsChanged(row, row, 0, ColumnCount - 1);
}

} // namespace torvaline
