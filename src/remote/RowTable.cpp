#include "remote/RowTable.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

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

RowTable::Row* RowTable::findNear(std::size_t& at, std::uint64_t id) {
    // Rows are mostly told in the order of their ids: the one looked for is usually next to
    // the one before, or a few rows on when rows between are gone. Looked for from `at` in
    // steps that double, then by halving what they bracket: a walk through the table in
    // either direction costs one pass, not a search for each row.
    const std::size_t size = m_rows.size();
    if (size == 0)
        return nullptr;
    at = std::min(at, size - 1);
    std::size_t low = 0, high = size; // the row is in [low, high) if anywhere
    std::size_t step = 1;
    if (m_rows[at].id < id) {
        low = at + 1;
        for (; low + step - 1 < size && m_rows[low + step - 1].id < id; step *= 2)
            low += step;
        high = std::min(size, low + step);
    } else {
        high = at;
        for (; step <= high && m_rows[high - step].id > id; step *= 2)
            high -= step;
        low = step <= high ? high - step : 0;
    }
    const auto it = std::lower_bound(m_rows.begin() + static_cast<std::ptrdiff_t>(low),
                                     m_rows.begin() + static_cast<std::ptrdiff_t>(high), id,
                                     [](const Row& r, std::uint64_t key) { return r.id < key; });
    if (it == m_rows.end() || it->id != id)
        return nullptr;
    at = static_cast<std::size_t>(it - m_rows.begin());
    return &*it;
}

const RowTable::Row* RowTable::find(std::uint64_t id) const {
    const auto it = std::lower_bound(m_rows.begin(), m_rows.end(), id,
                                     [](const Row& r, std::uint64_t key) { return r.id < key; });
    return it == m_rows.end() || it->id != id ? nullptr : &*it;
}

RowTable::Row* RowTable::findRow(std::uint64_t id) {
    return const_cast<Row*>(std::as_const(*this).find(id));
}

RowTable::Row& RowTable::rowFor(std::uint64_t id) {
    if (m_rows.empty() || m_rows.back().id < id) {
        m_rows.emplace_back().id = id;
        return m_rows.back();
    }
    const auto it = std::lower_bound(m_rows.begin(), m_rows.end(), id,
                                     [](const Row& r, std::uint64_t key) { return r.id < key; });
    if (it != m_rows.end() && it->id == id)
        return *it;
    Row& made = *m_rows.emplace(it);
    made.id = id;
    return made;
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

void RowTable::rowsAdded(int first, std::span<const RowRef> rows) {
    std::vector<std::uint64_t> ids;
    ids.reserve(rows.size());
    for (const RowRef& added : rows) {
        // A new id is past every id the table holds: nothing to look for.
        const bool known = !m_rows.empty() && m_rows.back().id >= added.id;
        if (const Row* old = known ? find(added.id) : nullptr) {
            // An id comes back only if the core reuses it: the old row is over.
            leaveStopped(added.id);
            if (!old->inList && m_gone > 0)
                --m_gone;
            std::erase(m_order, added.id);
        }
        Row& entry = rowFor(added.id);
        entry = Row();
        entry.id = added.id;
        if (!m_linkSource)
            entry.edit().link = std::string(added.link);
        ids.push_back(added.id);
        if (m_capturing)
            m_captured.push_back(added.id);
    }
    const auto at = std::clamp<std::size_t>(first > 0 ? static_cast<std::size_t>(first - 1) : 0, 0,
                                            m_order.size());
    m_order.insert(m_order.begin() + static_cast<std::ptrdiff_t>(at), ids.begin(), ids.end());
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

void RowTable::takeOutOfOrder(int first, std::span<const RowRef> rows) {
    // In one pass: where the list says they stood, or else by id.
    const std::size_t at = first > 0 ? static_cast<std::size_t>(first - 1) : m_order.size();
    if (at + rows.size() <= m_order.size() &&
        std::equal(rows.begin(), rows.end(), m_order.begin() + static_cast<std::ptrdiff_t>(at),
                   [](const RowRef& row, std::uint64_t id) { return row.id == id; })) {
        const auto begin = m_order.begin() + static_cast<std::ptrdiff_t>(at);
        m_order.erase(begin, begin + static_cast<std::ptrdiff_t>(rows.size()));
        return;
    }
    std::vector<std::uint64_t> gone;
    gone.reserve(rows.size());
    for (const RowRef& row : rows)
        gone.push_back(row.id);
    std::sort(gone.begin(), gone.end());
    std::erase_if(m_order, [&gone](std::uint64_t id) {
        return std::binary_search(gone.begin(), gone.end(), id);
    });
}

void RowTable::rowsRemoved(int first, std::span<const RowRef> rows) {
    if (rows.empty())
        return;
    takeOutOfOrder(first, rows);
    // The rows leave the list, the last one first: an unfinished row reads "removed" from now
    // on and is told as stopped, a finished one keeps its result. Only the newest
    // MaxGoneResults results of rows off the list are kept, and the rows that stop here are
    // the newest of all: past that many of them (a Clear List of a long list) the rest are
    // dropped as they come, without a place among the stopped rows or a link.
    std::vector<std::size_t> stopping, finished; // into `rows`, the last one first
    std::vector<bool> drop;                      // of m_rows
    std::size_t dropping = 0;
    stopping.reserve(rows.size());
    std::size_t near = m_rows.size();
    for (std::size_t i = rows.size(); i-- > 0;) {
        Row* const row = findNear(near, rows[i].id);
        if (row == nullptr || !row->inList)
            continue;
        row->inList = false;
        ++m_gone;
        if (row->details)
            row->details->speed = 0;
        if (isStopped(status(*row))) {
            finished.push_back(i);
            continue;
        }
        row->removed = true;
        stopping.push_back(i);
        if (stopping.size() > MaxGoneResults) {
            if (drop.empty())
                drop.resize(m_rows.size());
            drop[near] = true;
            ++dropping;
        }
    }
    const std::size_t kept = std::min(stopping.size(), MaxGoneResults);
    for (std::size_t k = kept; k-- > 0;)
        enterStopped(rows[stopping[k]].id);
    dropGone(std::move(drop), dropping);
    // The links (and the details that hold them) go to the rows kept, after the others are
    // gone, and the front ends hear of the rows once the table is whole again.
    if (m_linkSource) {
        const auto giveLink = [this, rows, &near](std::size_t i) {
            if (Row* const row = findNear(near, rows[i].id))
                row->edit().link = std::string(rows[i].link);
        };
        near = m_rows.size();
        for (const std::size_t i : finished)
            giveLink(i);
        near = m_rows.size();
        for (std::size_t k = 0; k < kept; ++k)
            giveLink(stopping[k]);
    }
    if (m_notify)
        for (auto i = stopping.rbegin(); i != stopping.rend(); ++i)
            m_notify(Notice::Stop, rows[*i].id);
}

void RowTable::rowMoved(std::uint64_t id, int from, int to) {
    const std::size_t count = m_order.size();
    std::size_t source = from >= 1 ? static_cast<std::size_t>(from - 1) : count;
    if (source >= count || m_order[source] != id)
        source = static_cast<std::size_t>(std::find(m_order.begin(), m_order.end(), id) -
                                          m_order.begin());
    if (source >= count)
        return;
    const std::size_t target =
        std::clamp<std::size_t>(to > 0 ? static_cast<std::size_t>(to - 1) : 0, 0, count - 1);
    // Only the rows between the two places shift: a move to the next row costs nothing.
    const auto begin = m_order.begin();
    if (source < target)
        std::rotate(begin + static_cast<std::ptrdiff_t>(source),
                    begin + static_cast<std::ptrdiff_t>(source + 1),
                    begin + static_cast<std::ptrdiff_t>(target + 1));
    else if (target < source)
        std::rotate(begin + static_cast<std::ptrdiff_t>(target),
                    begin + static_cast<std::ptrdiff_t>(source),
                    begin + static_cast<std::ptrdiff_t>(source + 1));
}

void RowTable::rowPhase(const RowPhaseEvent& event) {
    Row* const found = findRow(event.id);
    if (found == nullptr || !found->inList)
        return;
    Row& row = *found;
    const Status before = status(row);
    row.phase = event.phase;
    row.retry = static_cast<std::int16_t>(std::clamp(event.retry, 0, 1000));
    if (!event.fileName.empty() || !event.filePath.empty() || !event.reason.empty() ||
        event.cause != FailureCause::Other || !event.retryAt.empty() || event.secondsLeft > 0 ||
        event.phase == RowPhase::Completed || !event.captcha.empty() || row.details) {
        Details& more = row.edit();
        more.captcha = event.captcha;
        if (!event.fileName.empty())
            more.fileName = event.fileName;
        if (!event.filePath.empty())
            more.filePath = event.filePath;
        more.retryAt = event.retryAt;
        more.reason = event.reason;
        more.cause = event.cause;
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
    Row* const row = findRow(event.id);
    if (row == nullptr)
        return;
    Details& more = row->edit();
    more.done = std::max<std::int64_t>(0, event.done);
    more.total = std::max<std::int64_t>(0, event.total);
    more.speed = std::max<std::int64_t>(0, event.bytesPerSecond);
}

void RowTable::listDone(int, int, int) {}

void RowTable::setRequested(std::uint64_t id, std::string dir, std::string out) {
    Row* const row = findRow(id);
    if (row == nullptr || (dir.empty() && out.empty() && !row->details))
        return;
    row->edit().dir = std::move(dir);
    row->edit().out = std::move(out);
}

void RowTable::setChecked(std::uint64_t id, std::string name, std::int64_t size) {
    Row* const row = findRow(id);
    if (row == nullptr || (name.empty() && size < 0 && !row->details))
        return;
    row->edit().checkedName = std::move(name);
    row->edit().checkedSize = size;
}

void RowTable::setRequested(std::uint64_t id, RequestOptions request) {
    Row* const row = findRow(id);
    if (row == nullptr || (request.empty() && !row->details))
        return;
    row->edit().request = std::move(request);
}

void RowTable::changed(Row& row, Status before) {
    if (const std::optional<Notice> notice = restate(row, before); notice && m_notify)
        m_notify(*notice, row.id);
}

std::optional<RowTable::Notice> RowTable::restate(Row& row, Status before) {
    const Status after = status(row);
    if (after == before)
        return std::nullopt;
    if (isStopped(before))
        leaveStopped(row.id);
    if (isStopped(after))
        enterStopped(row.id);
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

void RowTable::enterStopped(std::uint64_t id) {
    m_stopped.push_back(id);
}

void RowTable::leaveStopped(std::uint64_t id) {
    const auto it = std::find(m_stopped.begin(), m_stopped.end(), id);
    if (it != m_stopped.end())
        m_stopped.erase(it);
}

bool RowTable::forget(std::uint64_t id) {
    const Row* row = find(id);
    if (row == nullptr || !isStopped(status(*row)))
        return false;
    leaveStopped(id);
    if (row->inList)
        m_order.erase(std::remove(m_order.begin(), m_order.end(), id), m_order.end());
    else if (m_gone > 0)
        --m_gone;
    m_rows.erase(m_rows.begin() + (row - m_rows.data()));
    return true;
}

void RowTable::dropGone(std::vector<bool> drop, std::size_t dropping) {
    // The oldest results of rows that left the list go first; rows on the list always stay.
    // Chosen in one pass and taken out in one: each erase would move every row behind it, and
    // a clear of a long list drops nearly all of them at once.
    if (m_gone > MaxGoneResults + dropping) {
        std::size_t excess = m_gone - MaxGoneResults - dropping;
        drop.resize(m_rows.size());
        std::size_t near = 0, looked = 0, kept = 0;
        for (; excess > 0 && looked < m_stopped.size(); ++looked) {
            const Row* row = findNear(near, m_stopped[looked]);
            if (row == nullptr || row->inList) {
                m_stopped[kept++] = m_stopped[looked];
                continue;
            }
            // A row stopped twice over is dropped once.
            if (!drop[near]) {
                drop[near] = true;
                ++dropping;
            }
            --excess;
        }
        m_stopped.erase(m_stopped.begin() + static_cast<std::ptrdiff_t>(kept),
                        m_stopped.begin() + static_cast<std::ptrdiff_t>(looked));
    }
    if (dropping == 0)
        return;
    m_gone -= dropping;
    std::size_t kept = 0;
    while (!drop[kept])
        ++kept;
    for (std::size_t r = kept + 1; r < m_rows.size(); ++r)
        if (!drop[r])
            m_rows[kept++] = std::move(m_rows[r]);
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(kept), m_rows.end());
}

} // namespace torvaline
