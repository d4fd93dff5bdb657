#include "cycle/RowEventHub.h"

#include "list/DownloadList.h"

#include <algorithm>
#include <chrono>

namespace torvaline {

namespace {

std::int64_t systemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What a phase event says of its row, into the row's record.
void write(RowRecord& record, const RowPhaseEvent& event, std::int64_t now) {
    record.phase = event.phase;
    record.retry = static_cast<std::int16_t>(std::clamp(event.retry, 0, 1000));
    record.cause = event.cause;
    // A row that never had words gets no room for them.
    if (record.details.has() || !event.retryAt.empty() || !event.reason.empty() ||
        !event.captcha.empty() || !event.fileName.empty() || !event.filePath.empty()) {
        RowDetails& details = record.details.edit();
        details.retryAt = event.retryAt;
        details.reason = event.reason;
        details.captcha = event.captcha;
        if (!event.fileName.empty())
            details.fileName = event.fileName;
        if (!event.filePath.empty())
            details.filePath = event.filePath;
    }
    record.waitUntil = event.secondsLeft > 0 ? now + event.secondsLeft : 0;
    if (event.phase != RowPhase::Transferring)
        record.speed = 0;
    if (event.phase == RowPhase::Completed) {
        // The last progress event is up to a second old, and a small file may have sent none:
        // what the transfer saved is what the row holds.
        if (event.size > 0)
            record.total = event.size;
        if (record.total > 0)
            record.done = record.total;
    }
}

} // namespace

void RowEventHub::add(RowEvents& observer) {
    if (std::find(m_observers.begin(), m_observers.end(), &observer) == m_observers.end())
        m_observers.push_back(&observer);
}

void RowEventHub::remove(RowEvents& observer) {
    if (m_telling == 0) {
        std::erase(m_observers, &observer);
        return;
    }
    // The call under way walks the list by index: a hole keeps the places of the others.
    for (RowEvents*& slot : m_observers)
        if (slot == &observer) {
            slot = nullptr;
            m_holes = true;
        }
}

template <typename Call> void RowEventHub::each(const Call& call) {
    struct Telling {
        RowEventHub& hub;
        explicit Telling(RowEventHub& h)
            : hub(h) {
            ++hub.m_telling;
        }
        ~Telling() {
            if (--hub.m_telling == 0 && hub.m_holes) {
                std::erase(hub.m_observers, nullptr);
                hub.m_holes = false;
            }
        }
        Telling(const Telling&) = delete;
        Telling& operator=(const Telling&) = delete;
    } telling(*this);
    // Observers added meanwhile stand past `count`; the vector may grow, so no iterators.
    const std::size_t count = m_observers.size();
    for (std::size_t i = 0; i < count; ++i)
        if (RowEvents* observer = m_observers[i])
            call(*observer);
}

std::int64_t RowEventHub::now() const {
    return m_now ? m_now() : systemNow();
}

void RowEventHub::follow(DownloadList& list) {
    m_list = &list;
    DownloadList::RowIdObserver rows;
    rows.added = [this, &list](int first, int last) {
        std::vector<RowRef> refs;
        refs.reserve(static_cast<std::size_t>(last - first + 1));
        for (int r = first; r <= last; ++r)
            refs.push_back({list.id(r), list.cell(r, DownloadList::URL)});
        rowsAdded(first, refs);
    };
    rows.removed = [this](int first, std::span<const RowRef> gone) { rowsRemoved(first, gone); };
    rows.moved = [this](std::uint64_t id, int from, int to) { rowMoved(id, from, to); };
    // The progress columns between change every second of a transfer and are nobody's text.
    rows.cellsChanged = [this](int firstRow, int lastRow, int firstColumn, int lastColumn) {
        if (firstColumn <= DownloadList::URL || lastColumn >= DownloadList::Status)
            rowTextsChanged(firstRow, lastRow);
    };
    list.setRowIdObserver(std::move(rows));
}

void RowEventHub::rowsAdded(int first, std::span<const RowRef> rows) {
    each([&](RowEvents& o) { o.rowsAdded(first, rows); });
}

void RowEventHub::rowsRemoved(int first, std::span<const RowRef> rows) {
    each([&](RowEvents& o) { o.rowsRemoved(first, rows); });
}

void RowEventHub::rowMoved(std::uint64_t id, int from, int to) {
    each([&](RowEvents& o) { o.rowMoved(id, from, to); });
}

void RowEventHub::rowPhase(const RowPhaseEvent& event) {
    const int row = m_list ? m_list->rowOf(event.id) : -1;
    RowRecord* record = row >= 1 ? m_list->editRecord(row) : nullptr;
    if (record == nullptr) {
        each([&](RowEvents& o) { o.rowPhase(event); });
        return;
    }
    RowPhaseEvent told = event;
    told.before = record->phase;
    write(*record, told, now());
    each([&](RowEvents& o) { o.rowPhase(told); });
}

void RowEventHub::rowProgress(const RowProgressEvent& event) {
    const int row = m_list ? m_list->rowOf(event.id) : -1;
    if (RowRecord* record = row >= 1 ? m_list->editRecord(row) : nullptr) {
        record->done = std::max<std::int64_t>(0, event.done);
        record->total = std::max<std::int64_t>(0, event.total);
        record->speed = std::max<std::int64_t>(0, event.bytesPerSecond);
    }
    each([&](RowEvents& o) { o.rowProgress(event); });
}

void RowEventHub::listDone(int completed, int failed, int stopped) {
    each([&](RowEvents& o) { o.listDone(completed, failed, stopped); });
}

void RowEventHub::rowTextsChanged(int first, int last) {
    each([&](RowEvents& o) { o.rowTextsChanged(first, last); });
}

} // namespace torvaline
