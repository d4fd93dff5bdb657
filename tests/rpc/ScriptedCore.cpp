#include "ScriptedCore.h"

#include <algorithm>

namespace torvaline {

namespace {

bool finished(RowPhase phase) {
    return phase == RowPhase::Completed || phase == RowPhase::Failed || phase == RowPhase::Stopped;
}

} // namespace

ScriptedCore::ScriptedCore(DownloadList& list, RowEventHub& events, int intervalMs)
    : m_list(list)
    , m_events(events) {
    if (intervalMs > 0) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { step(); });
        m_timer.start(intervalMs);
    }
}

void ScriptedCore::phase(int row, RowPhase phase, std::string reason, std::int64_t secondsLeft) {
    RowPhaseEvent event;
    event.id = m_list.id(row);
    event.phase = phase;
    event.link = m_list.cell(row, DownloadList::URL);
    event.reason = std::move(reason);
    event.secondsLeft = secondsLeft;
    if (phase == RowPhase::Failed && event.reason.find("missing") != std::string::npos)
        event.cause = FailureCause::NotFound;
    if (phase == RowPhase::Transferring || phase == RowPhase::Completed) {
        event.fileName = "file-" + std::to_string(event.id % 1000) + ".bin";
        event.filePath = m_folder + "/" + event.fileName;
    }
    m_events.rowPhase(event);
}

void ScriptedCore::step() {
    // The first row that is under way, or else the first that waits: one at a time.
    int row = 0;
    for (int r = 1; r < m_list.rowCount() && row == 0; ++r) {
        const RowPhase p = m_list.record(r).phase;
        if (p == RowPhase::Opening || p == RowPhase::Countdown || p == RowPhase::Transferring)
            row = r;
    }
    for (int r = 1; r < m_list.rowCount() && row == 0; ++r)
        if (m_list.record(r).phase == RowPhase::Waiting)
            row = r;
    if (row == 0)
        return;
    const std::uint64_t id = m_list.id(row);
    const std::string& link = m_list.cell(row, DownloadList::URL);
    const bool missing = link.find("missing") != std::string::npos;
    const bool hold = link.find("hold") != std::string::npos;
    switch (m_stages[id]++) {
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
        m_events.rowProgress({id, 512, 1024, 4096});
        break;
    default:
        if (hold) {
            m_events.rowProgress({id, 512, 1024, 4096});
            break;
        }
        m_events.rowProgress({id, 1024, 1024, 0});
        phase(row, RowPhase::Completed);
        break;
    }
}

Result<std::vector<std::uint64_t>> ScriptedCore::add(const std::vector<NewRow>& rows) {
    if (m_refusal)
        return *m_refusal;
    const int first = m_list.rowCount();
    std::vector<DownloadList::Row> cells(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        cells[i][DownloadList::URL] = rows[i].link;
    m_list.appendRows(std::move(cells));
    std::vector<std::uint64_t> ids;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int row = first + static_cast<int>(i);
        ids.push_back(m_list.id(row));
        // Placed as the cycle places a row: in its record.
        if (!rows[i].dir.empty() || !rows[i].out.empty() || !rows[i].request.empty()) {
            RowRecord& record = *m_list.editRecord(row);
            record.placement.edit() = {rows[i].dir, rows[i].out};
            record.request.edit() = rows[i].request;
        }
        ++m_added;
        m_lastRequest = rows[i].request;
        if (rows[i].paused)
            static_cast<void>(pause(ids.back()));
    }
    return ids;
}

Result<void> ScriptedCore::remove(std::uint64_t id) {
    const int row = m_list.rowOf(id);
    if (row < 1)
        return fail(FailureCause::NotFound, "no such row");
    m_stages.erase(id);
    m_list.removeRow(row);
    return {};
}

Result<void> ScriptedCore::pause(std::uint64_t id) {
    const int row = m_list.rowOf(id);
    if (row < 1)
        return fail(FailureCause::NotFound, "cannot pause");
    if (finished(m_list.record(row).phase))
        return fail(FailureCause::Other, "cannot pause");
    m_stages[id] = 0;
    phase(row, RowPhase::Paused);
    return {};
}

Result<void> ScriptedCore::unpause(std::uint64_t id) {
    const int row = m_list.rowOf(id);
    if (row < 1)
        return fail(FailureCause::NotFound, "cannot unpause");
    const RowPhase now = m_list.record(row).phase;
    if (now != RowPhase::Paused && now != RowPhase::Failed)
        return fail(FailureCause::Other, "cannot unpause");
    if (now == RowPhase::Failed)
        m_stages[id] = 0;
    phase(row, RowPhase::Waiting);
    return {};
}

Result<void> ScriptedCore::move(std::uint64_t id, int toRow) {
    const int from = m_list.rowOf(id);
    if (from < 1)
        return fail(FailureCause::NotFound, "cannot move");
    if (toRow < 1 || toRow >= m_list.rowCount())
        return fail(FailureCause::Other, "cannot move");
    m_list.moveRow(from, toRow);
    return {};
}

Result<void> ScriptedCore::setFolder(const std::string& dir) {
    if (m_refusal)
        return *m_refusal;
    m_folder = dir;
    return {};
}

Result<void> ScriptedCore::setRateLimit(std::int64_t bytesPerSecond) {
    m_rateLimit = bytesPerSecond;
    return {};
}

} // namespace torvaline
