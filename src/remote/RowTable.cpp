#include "remote/RowTable.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <tuple>
#include <utility>

namespace torvaline {

namespace {

bool isStopped(RowTable::Status status) {
    return status == RowTable::Status::Complete || status == RowTable::Status::Error ||
           status == RowTable::Status::Removed;
}

// Where the entry of `id` is, or would go, in entries sorted by id.
template <typename Entries> auto byId(Entries& entries, std::uint64_t id) {
    return std::lower_bound(entries.begin(), entries.end(), id,
                            [](const auto& e, std::uint64_t key) { return e.id < key; });
}

template <typename Entry>
const Entry* foundById(const std::vector<Entry>& entries, std::uint64_t id) {
    if (entries.empty() || entries.back().id < id)
        return nullptr;
    const auto it = byId(entries, id);
    return it != entries.end() && it->id == id ? &*it : nullptr;
}

} // namespace

std::string_view RowTable::statusName(Status status) {
    switch (status) {
    case Status::Active:
        return "active";
    case Status::Waiting:
        return "waiting";
    case Status::Paused:
        return "paused";
    case Status::Error:
        return "error";
    case Status::Complete:
        return "complete";
    case Status::Removed:
        break;
    }
    return "removed";
}

RowTable::Status RowTable::statusOf(RowPhase phase) {
    switch (phase) {
    // A row whose page is being read is under way as much as one whose bytes come, and so is
    // one counting down before its file (it holds one of the downloads at once): a front end
    // shows it among the running ones, not as queued.
    case RowPhase::Opening:
    case RowPhase::Countdown:
    case RowPhase::Transferring:
        return Status::Active;
    case RowPhase::Waiting:
    case RowPhase::HosterWait:
    case RowPhase::SetAside:
    case RowPhase::Captcha:
        return Status::Waiting;
    case RowPhase::Paused:
        return Status::Paused;
    case RowPhase::Completed:
        return Status::Complete;
    case RowPhase::Failed:
        return Status::Error;
    case RowPhase::Stopped:
        break;
    }
    return Status::Removed;
}

RowTable::Status RowTable::statusOf(const RowRecord& record) {
    const Status status = statusOf(record.phase);
    return record.held && status == Status::Waiting ? Status::Paused : status;
}

RowTable::RowTable(const DownloadList& list)
    : m_list(list) {
    for (int r = 1; r < m_list.rowCount(); ++r)
        if (isStopped(statusAt(r)))
            m_stopped.push_back(m_list.id(r));
}

RowTable::Status RowTable::status(const Row& row) const {
    return row.removed ? Status::Removed : statusOf(*row.record);
}

RowTable::Status RowTable::status(std::uint64_t id) const {
    const std::optional<Row> row = find(id);
    return row ? status(*row) : Status::Removed;
}

const RowTable::Gone* RowTable::findGone(std::uint64_t id) const {
    return foundById(m_gone, id);
}

int RowTable::listRow(std::uint64_t id) const {
    const int row = m_list.rowOf(id);
    return row < 1 ? 0 : row;
}

RowTable::Row RowTable::at(int listRow) const {
    Row row;
    row.id = m_list.id(listRow);
    row.record = &m_list.record(listRow);
    row.link = m_list.cell(listRow, DownloadList::URL);
    row.checked = m_list.checked(listRow);
    row.listRow = listRow;
    std::tie(row.dir, row.out) = dirAndOut(row.id, *row.record);
    return row;
}

std::optional<RowTable::Row> RowTable::find(std::uint64_t id) const {
    if (const Gone* gone = findGone(id)) {
        const Result& result = *gone->result;
        Row row;
        row.id = gone->id;
        row.record = &result.record;
        row.link = result.link;
        row.checked = result.checked ? &*result.checked : nullptr;
        row.dir = result.dir;
        row.out = result.out;
        row.removed = result.removed;
        return row;
    }
    const int listed = listRow(id);
    if (listed < 1)
        return std::nullopt;
    return at(listed);
}

void RowTable::rowsAdded(int, std::span<const RowRef> rows) {
    // A row comes without a record (the list makes it later), so waiting: nothing to read of
    // the list, which a hundred thousand new rows would make a pass through memory for.
    for (const RowRef& added : rows) {
        // An id comes back only if the core reuses it: the old row is over.
        if (findGone(added.id)) {
            leaveStopped(added.id);
            m_gone.erase(byId(m_gone, added.id));
        }
        eraseWording(added.id);
        if (m_capturing)
            m_captured.push_back(added.id);
    }
}

std::vector<std::uint64_t> RowTable::endCapture() {
    m_capturing = false;
    return std::move(m_captured);
}

void RowTable::rowsRemoved(int, std::span<const RowRef> rows) {
    if (rows.empty())
        return;
    static const RowRecord none;
    // The rows leave the list, the last one first: an unfinished row reads "removed" from now
    // on and is told as stopped, a finished one keeps its result. Only the newest
    // MaxGoneResults results of rows off the list are kept, and the rows that stop here are
    // the newest of all: past that many of them (a Clear List of a long list) the rest are
    // dropped as they come, without a place among the stopped rows or a copy of their record.
    std::vector<std::size_t> stopping;                          // into `rows`, the last first
    std::vector<std::pair<std::uint64_t, std::size_t>> leaving; // id, into `rows`: results
    stopping.reserve(rows.size());
    for (std::size_t i = rows.size(); i-- > 0;) {
        if (findGone(rows[i].id))
            continue;
        if (isStopped(statusOf(rows[i].record ? *rows[i].record : none))) {
            leaving.emplace_back(rows[i].id, i);
            continue;
        }
        stopping.push_back(i);
        if (stopping.size() <= MaxGoneResults)
            leaving.emplace_back(rows[i].id, i);
    }
    const std::size_t kept = std::min(stopping.size(), MaxGoneResults);
    for (std::size_t k = kept; k-- > 0;)
        m_stopped.push_back(rows[stopping[k]].id);
    std::sort(leaving.begin(), leaving.end());
    std::vector<std::uint64_t> coming;
    coming.reserve(leaving.size());
    for (const auto& entry : leaving)
        coming.push_back(entry.first);
    const std::vector<std::uint64_t> dropped = dropOldest(coming);

    // What is left of the rows kept, copied once the others are gone.
    std::vector<Gone> joining;
    joining.reserve(leaving.size() - dropped.size());
    for (const auto& [id, i] : leaving) {
        if (std::binary_search(dropped.begin(), dropped.end(), id))
            continue;
        const RowRef& row = rows[i];
        auto result = std::make_unique<Result>();
        if (row.record)
            result->record = *row.record;
        result->record.speed = 0;
        result->link = std::string(row.link);
        if (row.checked)
            result->checked = *row.checked;
        result->removed = !isStopped(statusOf(result->record));
        const auto [dir, out] = dirAndOut(id, result->record);
        result->dir = dir;
        result->out = out;
        joining.push_back({id, std::move(result)});
    }
    if (!m_wording.empty()) {
        std::vector<std::uint64_t> ids;
        ids.reserve(rows.size());
        for (const RowRef& row : rows)
            ids.push_back(row.id);
        std::sort(ids.begin(), ids.end());
        std::erase_if(m_wording, [&ids](const Wording& w) {
            return std::binary_search(ids.begin(), ids.end(), w.id);
        });
    }
    const auto middle = static_cast<std::ptrdiff_t>(m_gone.size());
    std::move(joining.begin(), joining.end(), std::back_inserter(m_gone));
    std::inplace_merge(m_gone.begin(), m_gone.begin() + middle, m_gone.end(),
                       [](const Gone& a, const Gone& b) { return a.id < b.id; });
    // The front ends hear of the rows once the table is whole again.
    if (m_notify)
        for (auto i = stopping.rbegin(); i != stopping.rend(); ++i)
            m_notify(Notice::Stop, rows[*i].id);
}

std::vector<std::uint64_t> RowTable::dropOldest(const std::vector<std::uint64_t>& coming) {
    // The oldest results of rows that left the list go first; rows on the list always stay.
    // Chosen in one pass and taken out in one: each erase would move every entry behind it,
    // and a clear of a long list drops nearly all of them at once.
    const std::size_t results = m_gone.size() + coming.size();
    if (results <= MaxGoneResults)
        return {};
    std::size_t excess = results - MaxGoneResults;
    std::vector<bool> dropGone(m_gone.size()), dropComing(coming.size());
    std::size_t looked = 0, kept = 0;
    for (; excess > 0 && looked < m_stopped.size(); ++looked) {
        const std::uint64_t id = m_stopped[looked];
        std::vector<bool>* flags = &dropComing;
        auto slot = static_cast<std::size_t>(std::lower_bound(coming.begin(), coming.end(), id) -
                                             coming.begin());
        if (slot == coming.size() || coming[slot] != id) {
            flags = &dropGone;
            slot = static_cast<std::size_t>(byId(m_gone, id) - m_gone.begin());
            if (slot == m_gone.size() || m_gone[slot].id != id) {
                m_stopped[kept++] = id; // on the list
                continue;
            }
        }
        // A row stopped twice over is dropped once.
        if (!(*flags)[slot]) {
            (*flags)[slot] = true;
            --excess;
        }
    }
    m_stopped.erase(m_stopped.begin() + static_cast<std::ptrdiff_t>(kept),
                    m_stopped.begin() + static_cast<std::ptrdiff_t>(looked));
    std::size_t left = 0;
    for (std::size_t g = 0; g < m_gone.size(); ++g)
        if (!dropGone[g]) {
            if (left != g)
                m_gone[left] = std::move(m_gone[g]);
            ++left;
        }
    m_gone.resize(left);
    std::vector<std::uint64_t> dropped;
    for (std::size_t c = 0; c < coming.size(); ++c)
        if (dropComing[c])
            dropped.push_back(coming[c]);
    return dropped;
}

void RowTable::rowMoved(std::uint64_t, int, int) {}

void RowTable::rowPhase(const RowPhaseEvent& event) {
    if (findGone(event.id))
        return;
    const int row = listRow(event.id);
    if (row < 1)
        return;
    // The hub wrote the event into the record; the phase it came from is told with it.
    const Status after = statusOf(m_list.record(row));
    if (const std::optional<Notice> notice = restate(event.id, statusOf(event.before), after);
        notice && m_notify)
        m_notify(*notice, event.id);
}

void RowTable::rowProgress(const RowProgressEvent&) {}

void RowTable::listDone(int, int, int) {}

void RowTable::keepWording(std::uint64_t id, std::string dir, std::string out) {
    const int row = listRow(id);
    if (row < 1)
        return;
    eraseWording(id);
    const RowPlacement& placement = m_list.record(row).placement.get();
    if (dir == placement.folder && out == placement.fileName)
        return;
    m_wording.insert(byId(m_wording, id), Wording{id, placement, std::move(dir), std::move(out)});
}

std::pair<std::string_view, std::string_view> RowTable::dirAndOut(std::uint64_t id,
                                                                  const RowRecord& record) const {
    if (const Wording* wording = wordingOf(id, record))
        return {wording->dir, wording->out};
    return {record.placement.get().folder, record.placement.get().fileName};
}

const RowTable::Wording* RowTable::wordingOf(std::uint64_t id, const RowRecord& record) const {
    const Wording* wording = foundById(m_wording, id);
    return wording && wording->placement == record.placement.get() ? wording : nullptr;
}

void RowTable::eraseWording(std::uint64_t id) {
    if (foundById(m_wording, id))
        m_wording.erase(byId(m_wording, id));
}

std::optional<RowTable::Notice> RowTable::restate(std::uint64_t id, Status before, Status after) {
    if (after == before)
        return std::nullopt;
    if (isStopped(before))
        leaveStopped(id);
    if (isStopped(after))
        m_stopped.push_back(id);
    switch (after) {
    case Status::Active:
        return Notice::Start;
    case Status::Paused:
        return Notice::Pause;
    case Status::Removed:
        return Notice::Stop;
    case Status::Complete:
        return Notice::Complete;
    case Status::Error:
        return Notice::Error;
    case Status::Waiting:
        break;
    }
    return std::nullopt;
}

void RowTable::leaveStopped(std::uint64_t id) {
    const auto it = std::find(m_stopped.begin(), m_stopped.end(), id);
    if (it != m_stopped.end())
        m_stopped.erase(it);
}

bool RowTable::forget(std::uint64_t id) {
    if (findGone(id)) {
        leaveStopped(id);
        m_gone.erase(byId(m_gone, id));
        return true;
    }
    const int row = listRow(id);
    if (row < 1 || !isStopped(statusAt(row)))
        return false;
    leaveStopped(id);
    return true;
}

} // namespace torvaline
