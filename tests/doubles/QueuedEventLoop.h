#pragma once

#include "platform/EventLoop.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace torvaline::test {

// The GUI thread of a test: work handed in by workers waits in a queue until the test pumps
// it on the thread that built the loop, so a test decides exactly when each hand-off runs.
class QueuedEventLoop final : public EventLoop {
public:
    void post(std::function<void()> fn) override {
        // Told under the lock: once the test has pumped this work it may end and destroy the
        // loop, and a worker still inside notify_all would then touch a condition gone.
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(fn));
        m_wake.notify_all();
    }

    void invokeAndWait(std::function<void()> fn) override {
        if (std::this_thread::get_id() == m_gui) {
            fn();
            return;
        }
        struct Done {
            std::mutex mutex;
            std::condition_variable cv;
            bool done = false;
            std::exception_ptr failure;
        };
        auto done = std::make_shared<Done>();
        post([fn = std::move(fn), done] {
            std::exception_ptr failure;
            try {
                fn();
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard lock(done->mutex);
            done->failure = failure;
            done->done = true;
            done->cv.notify_all();
        });
        std::unique_lock lock(done->mutex);
        done->cv.wait(lock, [&] { return done->done; });
        if (done->failure)
            std::rethrow_exception(done->failure);
    }

    void processPendingEvents() override { pumpOnce(); }

    // Runs what is queued now; returns how many items ran.
    int pumpOnce() {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard lock(m_mutex);
            batch.swap(m_queue);
        }
        for (auto& fn : batch)
            fn();
        return static_cast<int>(batch.size());
    }

    // Waits up to `timeout` for work, then runs what is queued. Returns whether anything ran.
    bool pumpFor(std::chrono::milliseconds timeout) {
        if (!waitForWork(timeout))
            return false;
        pumpOnce();
        return true;
    }

    // Pumps until `condition` holds (checked between items) or the time is up.
    bool pumpUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            std::function<void()> next;
            {
                // Polls as well: the condition may change on another thread without any work.
                std::unique_lock lock(m_mutex);
                const auto until = std::min(deadline, std::chrono::steady_clock::now() +
                                                          std::chrono::milliseconds(2));
                if (!m_wake.wait_until(lock, until, [this] { return !m_queue.empty(); })) {
                    if (std::chrono::steady_clock::now() >= deadline)
                        return condition();
                    continue;
                }
                next = std::move(m_queue.front());
                m_queue.pop_front();
            }
            next();
        }
        return true;
    }

    // Waits until some hand-off is queued, without running it.
    bool waitForWork(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(m_mutex);
        return m_wake.wait_for(lock, timeout, [this] { return !m_queue.empty(); });
    }

    // Runs one queued item, waiting up to `timeout` for one to arrive.
    bool pumpOne(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::function<void()> next;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_for(lock, timeout, [this] { return !m_queue.empty(); }))
                return false;
            next = std::move(m_queue.front());
            m_queue.pop_front();
        }
        next();
        return true;
    }

private:
    std::thread::id m_gui = std::this_thread::get_id();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
};

} // namespace torvaline::test
