#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace torvaline {

// The worker threads (page fetches, transfers) that are still running. The program's end waits
// on it, with a deadline: a worker still running may yet reach the event loop, which then has
// to stay. Thread-safe; shared by the workers, which may outlive whoever made it.
class WorkerCount final {
public:
    // Held by one running worker for as long as it runs; the count goes down as it goes.
    class Running final {
    public:
        Running() = default;
        explicit Running(std::shared_ptr<WorkerCount> count);
        ~Running() { end(); }
        Running(Running&& other) noexcept = default;
        Running& operator=(Running&& other) noexcept;
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
        // Ends it early: the worker will not touch anything shared from here on.
        void end();

    private:
        std::shared_ptr<WorkerCount> m_count;
    };

    // Counts one worker in, until the returned hold ends.
    static Running enter(const std::shared_ptr<WorkerCount>& count) { return Running(count); }

    int running() const;
    // Waits until no worker runs, at most until `deadline`; `pump` runs between short waits (a
    // worker may be waiting for the thread that waits here). Whether none runs.
    bool waitIdle(std::chrono::steady_clock::time_point deadline,
                  const std::function<void()>& pump);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_running = 0;
};

} // namespace torvaline
