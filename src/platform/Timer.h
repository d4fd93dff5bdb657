#pragma once

#include <chrono>
#include <functional>

namespace torvaline {

// A one-second timer. Enabling a timer that is already enabled keeps its tick schedule:
// a rule that re-arms a running wait must not push its next tick back.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;
    virtual void setOnTick(std::function<void()> onTick) = 0;
    // One tick after `delay` besides the schedule, while the timer stays enabled: a phase that
    // ends between two ticks. A timer that cannot do that leaves it to its next tick.
    virtual void tickOnceIn(std::chrono::milliseconds delay) { static_cast<void>(delay); }
};

} // namespace torvaline
