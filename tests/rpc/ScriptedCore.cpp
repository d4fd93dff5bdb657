#include "ScriptedCore.h"

#include <algorithm>

namespace torvaline {

namespace {

bool finished(RowPhase phase) {
    return phase == RowPhase::Completed || phase == RowPhase::Failed || phase == RowPhase::Stopped;
}

} // namespace

ScriptedCore::ScriptedCore(RowEventHub& events, int intervalMs)
    : m_events(events) {
    if (intervalMs > 0) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { step(); });
        m_timer.start(intervalMs);
    }
}

int ScriptedCore::indexOf(std::uint64_t id) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].id == id)
            return static_cast<int>(i);
    return -1;
}

void ScriptedCore::phase(Row& row, RowPhase phase, std::string reason, std::int64_t secondsLeft) {
    row.phase = phase;
    RowPhaseEvent event;
    event.id = row.id;
    event.phase = phase;
    event.link = row.link;
    event.reason = std::move(reason);
    event.secondsLeft = secondsLeft;
    if (phase == RowPhase::Failed && event.reason.find("missing") != std::string::npos)
        event.cause = FailureCause::NotFound;
    if (phase == RowPhase::Transferring || phase == RowPhase::Completed) {
        event.fileName = "file-" + std::to_string(row.id % 1000) + ".bin";
        event.filePath = m_folder + "/" + event.fileName;
    }
    m_events.rowPhase(event);
}

void ScriptedCore::step() {
    // The first row that is under way, or else the first that waits: one at a time.
    auto it = std::find_if(m_rows.begin(), m_rows.end(), [](const Row& r) {
        return r.phase == RowPhase::Opening || r.phase == RowPhase::Countdown ||
               r.phase == RowPhase::Transferring;
    });
    if (it == m_rows.end())
        it = std::find_if(m_rows.begin(), m_rows.end(),
                          [](const Row& r) { return r.phase == RowPhase::Waiting; });
    if (it == m_rows.end())
        return;
    Row& row = *it;
    const bool missing = row.link.find("missing") != std::string::npos;
    const bool hold = row.link.find("hold") != std::string::npos;
    switch (row.stage++) {
    case 0:
        phase(row, RowPhase::Opening);
        break;
    case 1:
        if (missing)
            phase(row, RowPhase::Failed, "the hoster reports the file missing or blocked");
        else
            phase(row, RowPhase::Countdown, {}, 2);
        break;
    case 2:
        phase(row, RowPhase::Transferring);
        m_events.rowProgress({row.id, 512, 1024, 4096});
        break;
    default:
        if (hold) {
            m_events.rowProgress({row.id, 512, 1024, 4096});
            break;
        }
        m_events.rowProgress({row.id, 1024, 1024, 0});
        phase(row, RowPhase::Completed);
        break;
    }
}

std::vector<std::uint64_t> ScriptedCore::add(const std::vector<NewRow>& rows, std::string&) {
    std::vector<std::uint64_t> ids;
    for (const NewRow& r : rows) {
        // splitmix64: ids that look as random as the real ones.
        std::uint64_t z = (m_seed += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        m_rows.push_back({z, r.link, RowPhase::Waiting});
        ++m_added;
        m_lastRequest = r.request;
        const RowRef added{z, r.link};
        m_events.rowsAdded(static_cast<int>(m_rows.size()), std::span<const RowRef>(&added, 1));
        ids.push_back(z);
        if (r.paused)
            pause(z);
    }
    return ids;
}

std::string ScriptedCore::remove(std::uint64_t id) {
    const int i = indexOf(id);
    if (i < 0)
        return "no such row";
    const std::string link = m_rows[static_cast<std::size_t>(i)].link;
    m_rows.erase(m_rows.begin() + i);
    const RowRef removed{id, link};
    m_events.rowsRemoved(i + 1, std::span<const RowRef>(&removed, 1));
    return {};
}

std::string ScriptedCore::pause(std::uint64_t id) {
    const int i = indexOf(id);
    if (i < 0 || finished(m_rows[static_cast<std::size_t>(i)].phase))
        return "cannot pause";
    Row& row = m_rows[static_cast<std::size_t>(i)];
    row.stage = 0;
    phase(row, RowPhase::Paused);
    return {};
}

std::string ScriptedCore::unpause(std::uint64_t id) {
    const int i = indexOf(id);
    if (i < 0 || (m_rows[static_cast<std::size_t>(i)].phase != RowPhase::Paused &&
                  m_rows[static_cast<std::size_t>(i)].phase != RowPhase::Failed))
        return "cannot unpause";
    if (m_rows[static_cast<std::size_t>(i)].phase == RowPhase::Failed)
        m_rows[static_cast<std::size_t>(i)].stage = 0;
    phase(m_rows[static_cast<std::size_t>(i)], RowPhase::Waiting);
    return {};
}

std::string ScriptedCore::move(std::uint64_t id, int toRow) {
    const int from = indexOf(id);
    if (from < 0 || toRow < 1 || toRow > static_cast<int>(m_rows.size()))
        return "cannot move";
    Row row = m_rows[static_cast<std::size_t>(from)];
    m_rows.erase(m_rows.begin() + from);
    m_rows.insert(m_rows.begin() + (toRow - 1), row);
    m_events.rowMoved(id, from + 1, toRow);
    return {};
}

std::string ScriptedCore::setFolder(const std::string& dir) {
    m_folder = dir;
    return {};
}

std::string ScriptedCore::setRateLimit(std::int64_t bytesPerSecond) {
    m_rateLimit = bytesPerSecond;
    return {};
}

} // namespace torvaline
