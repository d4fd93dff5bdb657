#pragma once

#include "cycle/RowEvents.h"

#include <vector>

namespace torvaline {

// Hands every row event to each front end that listens: the headless report, the remote
// control, the window. Observers are not owned; one removes itself before it goes.
class RowEventHub final : public RowEvents {
public:
    void add(RowEvents& observer);
    void remove(RowEvents& observer);

    void rowAdded(std::uint64_t id, int row, const std::string& link) override;
    void rowRemoved(std::uint64_t id, const std::string& link) override;
    void rowMoved(std::uint64_t id, int from, int to) override;
    void rowPhase(const RowPhaseEvent& event) override;
    void rowProgress(const RowProgressEvent& event) override;
    void listDone(int completed, int failed, int stopped) override;

private:
    template <typename Call> void each(const Call& call);
    std::vector<RowEvents*> m_observers;
};

} // namespace torvaline
