#pragma once

#include "cycle/RowEvents.h"

#include <cstdint>
#include <functional>

namespace torvaline {

// Follows the row the cycle works on, from the row events, so that the grid can draw it in
// bold: the row being opened, waited for, counted down or transferred; none once the list is
// done or the row is closed.
class WorkingRowMarker final : public RowEvents {
public:
    explicit WorkingRowMarker(std::function<void(std::uint64_t id)> mark)
        : m_mark(std::move(mark)) {}

    void rowsAdded(int, std::span<const RowRef>) override {}
    void rowsRemoved(int, std::span<const RowRef>) override {}
    void rowMoved(std::uint64_t, int, int) override {}
    void rowProgress(const RowProgressEvent&) override {}
    void rowPhase(const RowPhaseEvent& event) override {
        switch (event.phase) {
        case RowPhase::Opening:
        case RowPhase::HosterWait:
        case RowPhase::Countdown:
        case RowPhase::Transferring:
        case RowPhase::Paused:
            m_mark(event.id);
            break;
        case RowPhase::Waiting:
        case RowPhase::SetAside:
        case RowPhase::Completed:
        case RowPhase::Failed:
        case RowPhase::Stopped:
            m_mark(0);
            break;
        }
    }
    void listDone(int, int, int) override { m_mark(0); }

private:
    std::function<void(std::uint64_t)> m_mark;
};

} // namespace torvaline
