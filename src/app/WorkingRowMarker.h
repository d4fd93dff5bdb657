#pragma once

#include "cycle/RowEvents.h"

#include <cstdint>
#include <functional>

namespace torvaline {

// Follows the rows the lanes work on, from the row events, so that the grid can draw them in
// bold: each row being opened, waited for, counted down or transferred; none once the list is
// done, a row no longer once it is closed.
class WorkingRowMarker final : public RowEvents {
public:
    // mark(id, true) when the row is worked on, (id, false) when no longer; (0, false): none.
    explicit WorkingRowMarker(std::function<void(std::uint64_t id, bool working)> mark)
        : m_mark(std::move(mark)) {}

    void rowsAdded(int, std::span<const RowRef>) override {}
    void rowsRemoved(int, std::span<const RowRef> rows) override {
        for (const RowRef& row : rows)
            m_mark(row.id, false);
    }
    void rowMoved(std::uint64_t, int, int) override {}
    void rowProgress(const RowProgressEvent&) override {}
    void rowPhase(const RowPhaseEvent& event) override {
        switch (event.phase) {
        case RowPhase::Opening:
        case RowPhase::HosterWait:
        case RowPhase::Captcha:
        case RowPhase::Countdown:
        case RowPhase::Transferring:
        case RowPhase::Paused:
            m_mark(event.id, true);
            break;
        case RowPhase::Waiting:
        case RowPhase::SetAside:
        case RowPhase::Completed:
        case RowPhase::Failed:
        case RowPhase::Stopped:
            m_mark(event.id, false);
            break;
        }
    }
    void listDone(int, int, int) override { m_mark(0, false); }

private:
    std::function<void(std::uint64_t, bool)> m_mark;
};

} // namespace torvaline
