#pragma once

#include "QueuedEventLoop.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace torvaline::test {

// Starts a component's workers on threads the test can wait for, or refuses to start them.
class WorkerThreads final {
public:
    ~WorkerThreads() {
        for (auto& t : m_threads)
            if (t.joinable())
                t.join();
    }

    std::function<bool(std::function<void()>)> starter() {
        return [this](std::function<void()> body) {
            if (failNext) {
                failNext = false;
                return false;
            }
            ++m_started;
            m_threads.emplace_back([this, body = std::move(body)] {
                body();
                ++m_finished;
            });
            return true;
        };
    }

    // Serves the workers' hand-offs until every worker has ended, then joins them.
    bool finishAll(QueuedEventLoop& loop) {
        const bool ended = loop.pumpUntil([this] { return m_finished.load() == m_started; });
        if (ended)
            for (auto& t : m_threads)
                if (t.joinable())
                    t.join();
        return ended;
    }

    // Waits (bounded) until every worker has ended, serving nothing meanwhile.
    bool waitEnded(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (m_finished.load() != m_started) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    int started() const { return m_started; }
    bool failNext = false;

private:
    int m_started = 0;
    std::atomic<int> m_finished{0};
    std::vector<std::thread> m_threads;
};

} // namespace torvaline::test
