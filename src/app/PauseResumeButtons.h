#pragma once

#include "cycle/RowEvents.h"

#include <functional>

namespace torvaline {

// Pause Download and Resume Download apply only to a row being worked on or held: whether they
// do changes with the row's phase, so each phase (and the end of the list) asks again.
class PauseResumeButtons final : public RowEvents {
public:
    explicit PauseResumeButtons(std::function<void()> refresh)
        : m_refresh(std::move(refresh)) {}

    void rowsAdded(int, std::span<const RowRef>) override {}
    void rowsRemoved(int, std::span<const RowRef>) override {}
    void rowMoved(std::uint64_t, int, int) override {}
    void rowProgress(const RowProgressEvent&) override {}
    void rowPhase(const RowPhaseEvent&) override { m_refresh(); }
    void listDone(int, int, int) override { m_refresh(); }

private:
    std::function<void()> m_refresh;
};

} // namespace torvaline
