#include "list/DownloadList.h"

#include "list/RowTexts.h"

#include <algorithm>
#include <iterator>

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
    m_rows[0].id = m_nextId++;
    InitGrid();
}

void DownloadList::InitGrid() {
    Row t;
    for (int c = 0; c < ColumnCount; ++c)
        t[static_cast<std::size_t>(c)] = titles()[static_cast<std::size_t>(c)];
    setRow(0, std::move(t));
}

void DownloadList::changed(int firstRow, int lastRow, int firstColumn, int lastColumn) {
    if (m_observer.cellsChanged)
        m_observer.cellsChanged(firstRow, lastRow, firstColumn, lastColumn);
}

void DownloadList::setRowCount(int count) {
    count = std::max(count, 1);
    const int old = rowCount();
    if (count > old) {
        if (m_observer.rowsAboutToBeInserted)
            m_observer.rowsAboutToBeInserted(old, count - 1);
        m_rows.resize(static_cast<std::size_t>(count));
        for (int r = old; r < count; ++r)
            m_rows[static_cast<std::size_t>(r)].id = m_nextId++;
        if (m_observer.rowsInserted)
            m_observer.rowsInserted();
        tellAdded(old, count - 1);
    } else if (count < old) {
        if (m_observer.rowsAboutToBeRemoved)
            m_observer.rowsAboutToBeRemoved(count, old - 1);
        std::vector<std::uint64_t> gone;
        if (m_idObserver.removed)
            for (int r = std::max(count, 1); r < old; ++r)
                gone.push_back(m_rows[static_cast<std::size_t>(r)].id);
        m_rows.resize(static_cast<std::size_t>(count));
        if (m_observer.rowsRemoved)
            m_observer.rowsRemoved();
        for (const std::uint64_t id : gone)
            m_idObserver.removed(id);
    }
}

const std::string& DownloadList::cell(int row, int column) const {
    if (!valid(row) || column < 0 || column >= ColumnCount)
        return kEmpty;
    return m_rows[static_cast<std::size_t>(row)].cells[static_cast<std::size_t>(column)];
}

void DownloadList::setCell(int row, int column, std::string text) {
    if (!valid(row) || column < 0 || column >= ColumnCount)
        return;
    Entry& entry = m_rows[static_cast<std::size_t>(row)];
    std::string& target = entry.cells[static_cast<std::size_t>(column)];
    if (target == text)
        return;
    target = std::move(text);
    if (column == Status)
        entry.note.clear();
    changed(row, row, column, column);
}

const DownloadList::Row& DownloadList::row(int row) const {
    if (!valid(row))
        return kEmptyRow;
    return m_rows[static_cast<std::size_t>(row)].cells;
}

void DownloadList::setRow(int row, Row cells) {
    if (!valid(row))
        return;
    Entry& entry = m_rows[static_cast<std::size_t>(row)];
    if (entry.cells == cells)
        return;
    if (entry.cells[Status] != cells[Status])
        entry.note.clear();
    entry.cells = std::move(cells);
    changed(row, row, 0, ColumnCount - 1);
}

void DownloadList::removeRow(int row) {
    if (row < 1 || row >= rowCount())
        return;
    if (m_observer.rowsAboutToBeRemoved)
        m_observer.rowsAboutToBeRemoved(row, row);
    const std::uint64_t gone = m_rows[static_cast<std::size_t>(row)].id;
    m_rows.erase(m_rows.begin() + row);
    if (m_observer.rowsRemoved)
        m_observer.rowsRemoved();
    if (m_idObserver.removed)
        m_idObserver.removed(gone);
}

void DownloadList::swapRows(int a, int b) {
    if (!valid(a) || !valid(b) || a == b)
        return;
    std::swap(m_rows[static_cast<std::size_t>(a)], m_rows[static_cast<std::size_t>(b)]);
    // One range, even when the rows are far apart: a view repaints only what it shows.
    changed(std::min(a, b), std::max(a, b), 0, ColumnCount - 1);
    if (m_idObserver.moved) {
        m_idObserver.moved(m_rows[static_cast<std::size_t>(b)].id, a, b);
        m_idObserver.moved(m_rows[static_cast<std::size_t>(a)].id, b, a);
    }
}

void DownloadList::appendRows(std::vector<Row> rows) {
    if (rows.empty())
        return;
    const int first = rowCount();
    if (m_observer.rowsAboutToBeInserted)
        m_observer.rowsAboutToBeInserted(first, first + static_cast<int>(rows.size()) - 1);
    m_rows.reserve(m_rows.size() + rows.size());
    std::transform(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()),
                   std::back_inserter(m_rows), [this](Row&& cells) {
                       return Entry{std::move(cells), {}, m_nextId++};
                   });
    if (m_observer.rowsInserted)
        m_observer.rowsInserted();
    tellAdded(first, rowCount() - 1);
}

void DownloadList::tellAdded(int first, int last) const {
    if (!m_idObserver.added)
        return;
    for (int r = std::max(first, 1); r <= last; ++r)
        m_idObserver.added(m_rows[static_cast<std::size_t>(r)].id, r);
}

std::uint64_t DownloadList::id(int row) const {
    return valid(row) ? m_rows[static_cast<std::size_t>(row)].id : 0;
}

int DownloadList::rowOf(std::uint64_t id) const {
    if (id == 0)
        return -1;
    // From the end: rows are appended in the order of their ids, and a new one is asked for most.
    const auto it = std::find_if(m_rows.rbegin(), m_rows.rend(),
                                 [id](const Entry& entry) { return entry.id == id; });
    return it == m_rows.rend() ? -1 : static_cast<int>(m_rows.rend() - it) - 1;
}

const std::string& DownloadList::note(int row) const {
    return valid(row) ? m_rows[static_cast<std::size_t>(row)].note : kEmpty;
}

void DownloadList::setNote(int row, std::string note) {
    if (!valid(row))
        return;
    std::string& target = m_rows[static_cast<std::size_t>(row)].note;
    if (target == note)
        return;
    target = std::move(note);
    changed(row, row, Status, Status);
}

void DownloadList::markFailed(int row, const std::string& timeOfDay, const std::string& reason) {
    setCell(row, Status, std::string(StatusFailed));
    setNote(row, "Failed at " + timeOfDay + ": " + (reason.empty() ? "unknown error" : reason));
}

} // namespace torvaline
