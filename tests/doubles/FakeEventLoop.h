#pragma once

#include "platform/EventLoop.h"

#include <deque>
#include <functional>

namespace torvaline::test {

// Runs posted work only when asked: processPendingEvents runs what was queued before the call
// (work posted meanwhile waits for the next call), invokeAndWait runs at once.
class FakeEventLoop final : public EventLoop {
public:
    void post(std::function<void()> fn) override { m_queue.push_back(std::move(fn)); }
    void invokeAndWait(std::function<void()> fn) override { fn(); }
    void processPendingEvents() override {
        ++processed;
        std::deque<std::function<void()>> now;
        now.swap(m_queue);
        for (auto& fn : now)
            fn();
    }
    std::size_t pending() const { return m_queue.size(); }

    int processed = 0;

private:
    std::deque<std::function<void()>> m_queue;
};

} // namespace torvaline::test
