#pragma once

#include <functional>

namespace torvaline {

// GUI-thread services. Core code runs on the GUI thread only; workers reach it through here.
class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Queue fn to run on the GUI thread; callable from any thread.
    virtual void post(std::function<void()> fn) = 0;
    // From a worker: run fn on the GUI thread and block until it has returned.
    // Exceptions thrown by fn are caught on the GUI thread and rethrown in the caller.
    virtual void invokeAndWait(std::function<void()> fn) = 0;
    // Run whatever is pending on the GUI thread once (timer ticks, posted work, input).
    virtual void processPendingEvents() = 0;
};

} // namespace torvaline
