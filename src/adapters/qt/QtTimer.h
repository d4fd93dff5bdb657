#pragma once

#include "platform/Timer.h"

#include <QTimer>

#include <functional>

namespace torvaline {

// The one-second timer over QTimer. Lives and ticks on the thread that created it.
class QtTimer final : public Timer {
public:
    explicit QtTimer(int intervalMs = 1000);

    void setEnabled(bool enabled) override;
    bool enabled() const override;
    void setOnTick(std::function<void()> onTick) override;
    void tickOnceIn(std::chrono::milliseconds delay) override;

    int interval() const { return m_timer.interval(); }

private:
    QTimer m_timer;
    QTimer m_once; // precise: it ends a countdown to the millisecond
    std::function<void()> m_onTick;
};

} // namespace torvaline
