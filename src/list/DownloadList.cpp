#include "list/DownloadList.h"

#include "list/RowTexts.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace torvaline {

namespace {
const std::string kEmpty;
} // namespace

const std::string& DownloadList::Entry::cell(int column) const {
    switch (column) {
    case Host:
        return host;
    case URL:
        return url;
    case Status:
        return status;
    default:
        return figures ? figures->cells[static_cast<std::size_t>(column - Speed)] : kEmpty;
    }
}

std::string* DownloadList::Entry::target(int column, bool empty) {
    switch (column) {
    case Host:
        return &host;
    case URL:
        return &url;
    case Status:
        return &status;
    default:
        if (!figures) {
            if (empty)
                return nullptr;
            figures = std::make_unique<Figures>();
        }
        return &figures->cells[static_cast<std::size_t>(column - Speed)];
    }
}

const std::string& DownloadList::Entry::note() const {
    return figures ? figures->note : kEmpty;
}

DownloadList::Row DownloadList::cellsOf(const Entry& entry) {
    Row cells;
    for (int c = 0; c < ColumnCount; ++c)
        cells[static_cast<std::size_t>(c)] = entry.cell(c);
    return cells;
}

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
    if (m_idObserver.cellsChanged)
        m_idObserver.cellsChanged(firstRow, lastRow, firstColumn, lastColumn);
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
        orderChanged();
        if (m_observer.rowsInserted)
            m_observer.rowsInserted();
        tellAdded(old, count - 1);
    } else if (count < old) {
        if (m_observer.rowsAboutToBeRemoved)
            m_observer.rowsAboutToBeRemoved(count, old - 1);
        removeFrom(static_cast<std::size_t>(count));
        if (count == 1) // cleared: the places of a long list are not kept for nothing
            std::vector<std::pair<std::uint64_t, int>>().swap(m_places);
    }
}

void DownloadList::removeFrom(std::size_t count) {
    // The rows are off the list from here on, but whole until everyone has heard of them:
    // their links are told from the rows themselves, and the frees of a long list come after
    // the listeners' work. Freed first, a hundred thousand small blocks would be sorted by
    // malloc on the first large allocation a listener makes. Whichever part is smaller moves.
    const int first = static_cast<int>(count);
    if (count > m_rows.size() - count) {
        const std::vector<Entry> gone(
            std::make_move_iterator(m_rows.begin() + static_cast<std::ptrdiff_t>(count)),
            std::make_move_iterator(m_rows.end()));
        m_rows.resize(count);
        orderChanged();
        if (m_observer.rowsRemoved)
            m_observer.rowsRemoved();
        tellRemoved(first, gone);
        return;
    }
    // Most rows go (a Clear List): the rows kept move into a new vector while the old one,
    // every row in it, is told of; then it takes them back, and the list keeps its room for
    // the rows to come.
    std::vector<Entry> all;
    all.swap(m_rows);
    m_rows.assign(std::make_move_iterator(all.begin()),
                  std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(count)));
    orderChanged();
    if (m_observer.rowsRemoved)
        m_observer.rowsRemoved();
    tellRemoved(first, std::span<const Entry>(all).subspan(count));
    if (m_rows.size() != count) // a listener changed the list after all: it keeps the new vector
        return;
    all.resize(count);
    std::move(m_rows.begin(), m_rows.end(), all.begin());
    m_rows.swap(all);
}

void DownloadList::tellRemoved(int first, std::span<const Entry> gone) const {
    if (gone.empty())
        return;
    if (m_idObserver.removed) {
        std::vector<RowRef> rows;
        rows.reserve(gone.size());
        for (const Entry& entry : gone)
            rows.push_back({entry.id, entry.url, entry.record.get(), entry.checked.get()});
        m_idObserver.removed(first, rows);
    }
    if (m_recordGone)
        for (const Entry& entry : gone)
            if (entry.record && !entry.record->attempts.get().empty())
                m_recordGone(*entry.record);
}

const std::string& DownloadList::cell(int row, int column) const {
    if (!valid(row) || column < 0 || column >= ColumnCount)
        return kEmpty;
    return m_rows[static_cast<std::size_t>(row)].cell(column);
}

void DownloadList::setCell(int row, int column, std::string text) {
    if (!valid(row) || column < 0 || column >= ColumnCount)
        return;
    Entry& entry = m_rows[static_cast<std::size_t>(row)];
    std::string* target = entry.target(column, text.empty());
    if (!target || *target == text)
        return;
    *target = std::move(text);
    if (column == Status && entry.figures)
        entry.figures->note.clear();
    // What was found out about the old link says nothing of the new one.
    if (column == URL)
        entry.checked.reset();
    changed(row, row, column, column);
}

DownloadList::Row DownloadList::row(int row) const {
    if (!valid(row))
        return {};
    return cellsOf(m_rows[static_cast<std::size_t>(row)]);
}

void DownloadList::setRow(int row, Row cells) {
    if (!valid(row))
        return;
    Entry& entry = m_rows[static_cast<std::size_t>(row)];
    if (cellsOf(entry) == cells)
        return;
    if (entry.status != cells[Status] && entry.figures)
        entry.figures->note.clear();
    if (entry.url != cells[URL])
        entry.checked.reset();
    for (int c = 0; c < ColumnCount; ++c) {
        std::string& text = cells[static_cast<std::size_t>(c)];
        if (std::string* target = entry.target(c, text.empty()))
            *target = std::move(text);
    }
    changed(row, row, 0, ColumnCount - 1);
}

void DownloadList::removeRow(int row) {
    if (row < 1 || row >= rowCount())
        return;
    if (m_observer.rowsAboutToBeRemoved)
        m_observer.rowsAboutToBeRemoved(row, row);
    const Entry gone = std::move(m_rows[static_cast<std::size_t>(row)]);
    m_rows.erase(m_rows.begin() + row);
    orderChanged();
    if (m_observer.rowsRemoved)
        m_observer.rowsRemoved();
    tellRemoved(row, std::span<const Entry>(&gone, 1));
}

void DownloadList::swapRows(int a, int b) {
    if (!valid(a) || !valid(b) || a == b)
        return;
    std::swap(m_rows[static_cast<std::size_t>(a)], m_rows[static_cast<std::size_t>(b)]);
    orderChanged();
    // One range, even when the rows are far apart: a view repaints only what it shows.
    changed(std::min(a, b), std::max(a, b), 0, ColumnCount - 1);
    if (m_idObserver.moved) {
        // The row that was at `a` goes to `b`, which leaves the other one place nearer `a`.
        const int low = std::min(a, b), high = std::max(a, b);
        m_idObserver.moved(m_rows[static_cast<std::size_t>(b)].id, a, b);
        if (high - low > 1)
            m_idObserver.moved(m_rows[static_cast<std::size_t>(a)].id, a < b ? b - 1 : b + 1, a);
    }
}

void DownloadList::moveRow(int from, int to) {
    if (from < 1 || to < 1 || from >= rowCount() || to >= rowCount() || from == to)
        return;
    if (m_observer.rowsAboutToBeMoved)
        m_observer.rowsAboutToBeMoved(from, to);
    const auto at = m_rows.begin();
    if (from < to)
        std::rotate(at + from, at + from + 1, at + to + 1);
    else
        std::rotate(at + to, at + from, at + from + 1);
    orderChanged();
    if (m_observer.rowsMoved)
        m_observer.rowsMoved();
    if (m_idObserver.moved)
        m_idObserver.moved(m_rows[static_cast<std::size_t>(to)].id, from, to);
}

void DownloadList::appendRows(std::vector<Row> rows, std::shared_ptr<const RowBatch> batch) {
    if (rows.empty())
        return;
    const int first = rowCount();
    if (m_observer.rowsAboutToBeInserted)
        m_observer.rowsAboutToBeInserted(first, first + static_cast<int>(rows.size()) - 1);
    // Grown by the vector's own steps: a reserve of the exact size here would copy the whole
    // list on every append, and a front end appends one row at a time.
    if (m_rows.capacity() < m_rows.size() + rows.size())
        m_rows.reserve(std::max(m_rows.size() + rows.size(), 2 * m_rows.capacity()));
    std::transform(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()),
                   std::back_inserter(m_rows), [this, &batch](Row&& cells) {
                       Entry entry;
                       for (int c = 0; c < ColumnCount; ++c) {
                           std::string& text = cells[static_cast<std::size_t>(c)];
                           if (std::string* target = entry.target(c, text.empty()))
                               *target = std::move(text);
                       }
                       entry.id = m_nextId++;
                       entry.batch = batch;
                       return entry;
                   });
    orderChanged();
    if (m_observer.rowsInserted)
        m_observer.rowsInserted();
    tellAdded(first, rowCount() - 1);
}

void DownloadList::tellAdded(int first, int last) const {
    first = std::max(first, 1);
    if (m_idObserver.added && first <= last)
        m_idObserver.added(first, last);
}

std::shared_ptr<const RowBatch> DownloadList::newBatch(std::string name) {
    return std::make_shared<const RowBatch>(RowBatch{m_nextBatch++, std::move(name)});
}

const RowBatch* DownloadList::batch(int row) const {
    return row >= 1 && valid(row) ? m_rows[static_cast<std::size_t>(row)].batch.get() : nullptr;
}

std::uint64_t DownloadList::id(int row) const {
    return valid(row) ? m_rows[static_cast<std::size_t>(row)].id : 0;
}

void DownloadList::orderChanged() {
    m_placesStale = true;
    m_searches = 0;
}

int DownloadList::rowOf(std::uint64_t id) const {
    if (id == 0)
        return -1;
    // Rows come in the order of their ids and mostly stay in it: halving finds a row at once
    // unless rows were moved about.
    std::size_t low = 1, high = m_rows.size();
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (m_rows[mid].id == id)
            return static_cast<int>(mid);
        if (m_rows[mid].id < id)
            low = mid + 1;
        else
            high = mid;
    }
    // Then a few searches from the end (where new rows are) after each change of the order,
    // and from the next one on the places of every row, taken once until the order changes
    // again: one lookup after a move costs a pass, a lookup of every row (a tellStatus of the
    // whole list) no more than a sort.
    if (m_placesStale && ++m_searches <= LinearSearches) {
        const auto it = std::find_if(m_rows.rbegin(), m_rows.rend(),
                                     [id](const Entry& entry) { return entry.id == id; });
        return it == m_rows.rend() ? -1 : static_cast<int>(m_rows.rend() - it) - 1;
    }
    if (m_placesStale) {
        m_places.clear();
        m_places.reserve(m_rows.size());
        for (std::size_t r = 1; r < m_rows.size(); ++r)
            m_places.emplace_back(m_rows[r].id, static_cast<int>(r));
        std::sort(m_places.begin(), m_places.end());
        m_placesStale = false;
    }
    const auto it =
        std::lower_bound(m_places.begin(), m_places.end(), std::pair<std::uint64_t, int>(id, 0));
    if (it == m_places.end() || it->first != id)
        return -1;
    return it->second;
}

const RowRecord& DownloadList::record(int row) const {
    static const RowRecord none;
    const Entry* entry = row >= 1 && valid(row) ? &m_rows[static_cast<std::size_t>(row)] : nullptr;
    return entry && entry->record ? *entry->record : none;
}

RowRecord* DownloadList::editRecord(int row) {
    if (row < 1 || !valid(row))
        return nullptr;
    std::unique_ptr<RowRecord>& record = m_rows[static_cast<std::size_t>(row)].record;
    if (!record)
        record = std::make_unique<RowRecord>();
    return record.get();
}

const RowRecord* DownloadList::recordOf(std::uint64_t id) const {
    const int row = rowOf(id);
    return row >= 1 ? m_rows[static_cast<std::size_t>(row)].record.get() : nullptr;
}

const std::string& DownloadList::note(int row) const {
    return valid(row) ? m_rows[static_cast<std::size_t>(row)].note() : kEmpty;
}

void DownloadList::setNote(int row, std::string note) {
    if (!valid(row))
        return;
    Entry& entry = m_rows[static_cast<std::size_t>(row)];
    if (entry.note() == note)
        return;
    if (!entry.figures)
        entry.figures = std::make_unique<Figures>();
    entry.figures->note = std::move(note);
    changed(row, row, Status, Status);
}

const CheckedLink* DownloadList::checked(int row) const {
    return valid(row) ? m_rows[static_cast<std::size_t>(row)].checked.get() : nullptr;
}

void DownloadList::setChecked(int row, CheckedLink result) {
    if (row < 1 || !valid(row))
        return;
    std::unique_ptr<CheckedLink>& checked = m_rows[static_cast<std::size_t>(row)].checked;
    if (checked && *checked == result)
        return;
    checked = std::make_unique<CheckedLink>(std::move(result));
    changed(row, row, Total, Status);
}

void DownloadList::clearChecked(int row) {
    if (!valid(row) || !m_rows[static_cast<std::size_t>(row)].checked)
        return;
    m_rows[static_cast<std::size_t>(row)].checked.reset();
    changed(row, row, Total, Status);
}

bool DownloadList::offline(int row) const {
    const CheckedLink* result = checked(row);
    return result && result->state == CheckedLink::State::Offline &&
           cell(row, Status) == StatusFailed;
}

void DownloadList::markFailed(int row, const std::string& timeOfDay, const std::string& reason) {
    setCell(row, Status, std::string(StatusFailed));
    setNote(row, "Failed at " + timeOfDay + ": " + (reason.empty() ? "unknown error" : reason));
}

} // namespace torvaline
