#pragma once

#include "platform/Timer.h"

#include <chrono>
#include <functional>
#include <optional>

namespace torvaline::test {

// A timer that ticks only when the test says so, and only while enabled.
class ManualTimer final : public Timer {
public:
    void setEnabled(bool enabled) override {
        if (enabled && !m_enabled)
            ++m_starts;
        m_enabled = enabled;
        if (!enabled)
            m_early.reset();
    }
    bool enabled() const override { return m_enabled; }
    void setOnTick(std::function<void()> onTick) override { m_onTick = std::move(onTick); }

    // Delivers one tick if the timer is enabled; returns whether it did.
    bool tick() {
        if (!m_enabled || !m_onTick)
            return false;
        m_onTick();
        return true;
    }
    void tickOnceIn(std::chrono::milliseconds delay) override {
        if (m_enabled)
            m_early = delay;
    }
    // The early tick asked for, if any.
    std::optional<std::chrono::milliseconds> early() const { return m_early; }
    // Delivers the early tick asked for; returns whether there was one.
    bool tickEarly() {
        if (!m_early)
            return false;
        m_early.reset();
        return tick();
    }
    // How often the timer went from disabled to enabled (a re-arm keeps the schedule).
    int starts() const { return m_starts; }

private:
    bool m_enabled = false;
    int m_starts = 0;
    std::function<void()> m_onTick;
    std::optional<std::chrono::milliseconds> m_early;
};

} // namespace torvaline::test
