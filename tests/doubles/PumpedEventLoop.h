#pragma once

#include "platform/EventLoop.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace torvaline::test {

// A GUI-thread event loop that the test pumps by hand: work from workers queues up and runs
// only inside processPendingEvents or pumpFor, on the thread that constructed the loop.
class PumpedEventLoop final : public EventLoop {
public:
    void post(std::function<void()> fn) override {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(fn));
        }
        m_wake.notify_all();
    }

    void invokeAndWait(std::function<void()> fn) override {
        if (std::this_thread::get_id() == m_owner) {
            fn();
            return;
        }
        std::mutex doneMutex;
        std::condition_variable doneCv;
        bool done = false;
        std::exception_ptr failure;
        post([&] {
            try {
                fn();
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard lock(doneMutex);
            done = true;
            doneCv.notify_all();
        });
        std::unique_lock lock(doneMutex);
        doneCv.wait(lock, [&] { return done; });
        if (failure)
            std::rethrow_exception(failure);
    }

    // Runs what was queued before the call; work queued meanwhile waits for the next call.
    void processPendingEvents() override {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard lock(m_mutex);
            batch.swap(m_queue);
        }
        for (auto& fn : batch)
            fn();
    }

    // Waits up to `timeout` for work, then runs what is queued. Returns whether anything ran.
    bool pumpFor(std::chrono::milliseconds timeout) {
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_for(lock, timeout, [this] { return !m_queue.empty(); }))
                return false;
        }
        processPendingEvents();
        return true;
    }

private:
    std::thread::id m_owner = std::this_thread::get_id();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
};

} // namespace torvaline::test
