#include "cycle/RowEventHub.h"

#include <algorithm>

namespace torvaline {

void RowEventHub::add(RowEvents& observer) {
    if (std::find(m_observers.begin(), m_observers.end(), &observer) == m_observers.end())
        m_observers.push_back(&observer);
}

void RowEventHub::remove(RowEvents& observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), &observer),
                      m_observers.end());
}

template <typename Call> void RowEventHub::each(const Call& call) {
    // A copy: an observer may remove itself (or another) while it is told.
    const std::vector<RowEvents*> observers = m_observers;
    for (RowEvents* observer : observers)
        call(*observer);
}

void RowEventHub::rowAdded(std::uint64_t id, int row, const std::string& link) {
    each([&](RowEvents& o) { o.rowAdded(id, row, link); });
}

void RowEventHub::rowRemoved(std::uint64_t id, const std::string& link) {
    each([&](RowEvents& o) { o.rowRemoved(id, link); });
}

void RowEventHub::rowMoved(std::uint64_t id, int from, int to) {
    each([&](RowEvents& o) { o.rowMoved(id, from, to); });
}

void RowEventHub::rowPhase(const RowPhaseEvent& event) {
    each([&](RowEvents& o) { o.rowPhase(event); });
}

void RowEventHub::rowProgress(const RowProgressEvent& event) {
    each([&](RowEvents& o) { o.rowProgress(event); });
}

void RowEventHub::listDone(int completed, int failed, int stopped) {
    each([&](RowEvents& o) { o.listDone(completed, failed, stopped); });
}

} // namespace torvaline
