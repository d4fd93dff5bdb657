#include "remote/RowTable.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace torvaline {

namespace {

std::int64_t systemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool isStopped(RowTable::Status status) {
    return status == RowTable::Status::Complete || status == RowTable::Status::Error ||
           status == RowTable::Status::Removed;
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
    // A row whose page is being read is under way as much as one whose bytes come: a front end
    // shows it among the running ones, not as queued.
    case RowPhase::Opening:
    case RowPhase::Transferring:
        return Status::Active;
    case RowPhase::Waiting:
    case RowPhase::HosterWait:
    case RowPhase::Countdown:
    case RowPhase::SetAside:
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

RowTable::RowTable(Now now)
    : m_now(now ? std::move(now) : Now(&systemNow)) {}

RowTable::Status RowTable::status(const Row& row) const {
    if (row.removed)
        return Status::Removed;
    return statusOf(row.phase);
}

RowTable::Status RowTable::status(std::uint64_t id) const {
    const Row* row = find(id);
    return row ? status(*row) : Status::Removed;
}

const RowTable::Row* RowTable::find(std::uint64_t id) const {
    const auto it = m_rows.find(id);
    return it == m_rows.end() ? nullptr : &it->second;
}

int RowTable::listRow(std::uint64_t id) const {
    // Rows come in the order of their ids and mostly stay in it: halving finds a row at once
    // unless rows were moved about, and then a search from the end (where new rows are) does.
    std::size_t low = 0, high = m_order.size();
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (m_order[mid] == id)
            return static_cast<int>(mid) + 1;
        if (m_order[mid] < id)
            low = mid + 1;
        else
            high = mid;
    }
    const auto it = std::find(m_order.rbegin(), m_order.rend(), id);
    return it == m_order.rend() ? 0 : static_cast<int>(m_order.rend() - it);
}

void RowTable::rowAdded(std::uint64_t id, int row, const std::string& link) {
    if (m_rows.count(id) != 0) {
        // An id comes back only if the core reuses it: the old row is over.
        leaveStopped(id);
        if (!m_rows[id].inList && m_gone > 0)
            --m_gone;
        m_order.erase(std::remove(m_order.begin(), m_order.end(), id), m_order.end());
    }
    Row& entry = m_rows[id];
    entry = Row();
    entry.id = id;
    if (!m_linkSource)
        entry.edit().link = link;
    const auto at =
        std::clamp<std::size_t>(row > 0 ? static_cast<std::size_t>(row - 1) : 0, 0, m_order.size());
    m_order.insert(m_order.begin() + static_cast<std::ptrdiff_t>(at), id);
    if (m_capturing)
        m_captured.push_back(id);
}

std::vector<std::uint64_t> RowTable::endCapture() {
    m_capturing = false;
    return std::move(m_captured);
}

std::string RowTable::link(const Row& row) const {
    if (row.inList && m_linkSource)
        return m_linkSource(row.id);
    return row.more().link;
}

void RowTable::rowRemoved(std::uint64_t id, const std::string& link) {
    const auto it = m_rows.find(id);
    if (it == m_rows.end() || !it->second.inList)
        return;
    Row& row = it->second;
    if (m_linkSource)
        row.edit().link = link;
    const Status before = status(row);
    m_order.erase(std::remove(m_order.begin(), m_order.end(), id), m_order.end());
    row.inList = false;
    ++m_gone;
    if (!isStopped(before))
        row.removed = true;
    if (row.details)
        row.details->speed = 0;
    changed(row, before);
    dropGone();
}

void RowTable::rowMoved(std::uint64_t id, int from, int to) {
    auto it = (from >= 1 && static_cast<std::size_t>(from) <= m_order.size() &&
               m_order[static_cast<std::size_t>(from - 1)] == id)
                  ? m_order.begin() + (from - 1)
                  : std::find(m_order.begin(), m_order.end(), id);
    if (it == m_order.end())
        return;
    m_order.erase(it);
    const auto at =
        std::clamp<std::size_t>(to > 0 ? static_cast<std::size_t>(to - 1) : 0, 0, m_order.size());
    m_order.insert(m_order.begin() + static_cast<std::ptrdiff_t>(at), id);
}

void RowTable::rowPhase(const RowPhaseEvent& event) {
    const auto it = m_rows.find(event.id);
    if (it == m_rows.end() || !it->second.inList)
        return;
    Row& row = it->second;
    const Status before = status(row);
    row.phase = event.phase;
    row.retry = static_cast<std::int16_t>(std::clamp(event.retry, 0, 1000));
    if (!event.fileName.empty() || !event.filePath.empty() || !event.reason.empty() ||
        !event.retryAt.empty() || event.secondsLeft > 0 || event.phase == RowPhase::Completed ||
        row.details) {
        Details& more = row.edit();
        if (!event.fileName.empty())
            more.fileName = event.fileName;
        if (!event.filePath.empty())
            more.filePath = event.filePath;
        more.retryAt = event.retryAt;
        more.reason = event.reason;
        more.waitUntil = event.secondsLeft > 0 ? m_now() + event.secondsLeft : 0;
        if (event.phase != RowPhase::Transferring)
            more.speed = 0;
        if (event.phase == RowPhase::Completed) {
            // The last progress event is up to a second old, and a small file may have sent
            // none: the file on disk is what the row really holds.
            std::error_code error;
            const auto size = event.filePath.empty()
                                  ? std::uintmax_t(0)
                                  : std::filesystem::file_size(event.filePath, error);
            if (!error && size > 0)
                more.total = static_cast<std::int64_t>(size);
            if (more.total > 0)
                more.done = more.total;
        }
    }
    changed(row, before);
}

void RowTable::rowProgress(const RowProgressEvent& event) {
    const auto it = m_rows.find(event.id);
    if (it == m_rows.end())
        return;
    Details& more = it->second.edit();
    more.done = std::max<std::int64_t>(0, event.done);
    more.total = std::max<std::int64_t>(0, event.total);
    more.speed = std::max<std::int64_t>(0, event.bytesPerSecond);
}

void RowTable::listDone(int, int, int) {}

void RowTable::setRequested(std::uint64_t id, std::string dir, std::string out) {
    const auto it = m_rows.find(id);
    if (it == m_rows.end())
        return;
    if (dir.empty() && out.empty() && !it->second.details)
        return;
    it->second.edit().dir = std::move(dir);
    it->second.edit().out = std::move(out);
}

void RowTable::changed(Row& row, Status before) {
    const Status after = status(row);
    if (after == before)
        return;
    if (isStopped(before))
        leaveStopped(row.id);
    if (isStopped(after))
        enterStopped(row.id);
    if (!m_notify)
        return;
    switch (after) {
    case Status::Active:
        m_notify(Notice::Start, row.id);
        break;
    case Status::Paused:
        m_notify(Notice::Pause, row.id);
        break;
    case Status::Removed:
        m_notify(Notice::Stop, row.id);
        break;
    case Status::Complete:
        m_notify(Notice::Complete, row.id);
        break;
    case Status::Error:
        m_notify(Notice::Error, row.id);
        break;
    case Status::Waiting:
        break;
    }
}

void RowTable::enterStopped(std::uint64_t id) {
    m_stopped.push_back(id);
}

void RowTable::leaveStopped(std::uint64_t id) {
    const auto it = std::find(m_stopped.begin(), m_stopped.end(), id);
    if (it != m_stopped.end())
        m_stopped.erase(it);
}

bool RowTable::forget(std::uint64_t id) {
    const auto it = m_rows.find(id);
    if (it == m_rows.end() || !isStopped(status(it->second)))
        return false;
    leaveStopped(id);
    if (it->second.inList)
        m_order.erase(std::remove(m_order.begin(), m_order.end(), id), m_order.end());
    else if (m_gone > 0)
        --m_gone;
    m_rows.erase(it);
    return true;
}

void RowTable::dropGone() {
    // The oldest results of rows that left the list go first; rows on the list always stay.
    for (auto it = m_stopped.begin(); m_gone > MaxGoneResults && it != m_stopped.end();) {
        const auto row = m_rows.find(*it);
        if (row != m_rows.end() && !row->second.inList) {
            m_rows.erase(row);
            it = m_stopped.erase(it);
            --m_gone;
        } else {
            ++it;
        }
    }
}

} // namespace torvaline
