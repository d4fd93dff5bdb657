#include "platform/WorkerCount.h"

#include <algorithm>
#include <utility>

namespace torvaline {

WorkerCount::Running::Running(std::shared_ptr<WorkerCount> count)
    : m_count(std::move(count)) {
    if (m_count) {
        const std::lock_guard lock(m_count->m_mutex);
        ++m_count->m_running;
    }
}

WorkerCount::Running& WorkerCount::Running::operator=(Running&& other) noexcept {
    if (this != &other) {
        end();
        m_count = std::move(other.m_count);
    }
    return *this;
}

void WorkerCount::Running::end() {
    if (!m_count)
        return;
    {
        const std::lock_guard lock(m_count->m_mutex);
        --m_count->m_running;
    }
    m_count->m_changed.notify_all();
    m_count.reset();
}

int WorkerCount::running() const {
    const std::lock_guard lock(m_mutex);
    return m_running;
}

bool WorkerCount::waitIdle(std::chrono::steady_clock::time_point deadline,
                           const std::function<void()>& pump) {
    // Short waits: the pump must run often enough for a worker that waits for this thread.
    constexpr auto Slice = std::chrono::milliseconds(10);
    for (;;) {
        if (pump)
            pump();
        std::unique_lock lock(m_mutex);
        if (m_running == 0)
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        m_changed.wait_until(lock, std::min(deadline, now + Slice),
                             [this] { return m_running == 0; });
        if (m_running == 0)
            return true;
    }
}

} // namespace torvaline
