#include "adapters/qt/QtTimer.h"

namespace torvaline {

QtTimer::QtTimer(int intervalMs) {
    m_timer.setInterval(intervalMs);
    m_timer.setTimerType(Qt::CoarseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
        if (m_onTick)
            m_onTick();
    });
    m_once.setSingleShot(true);
    m_once.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_once, &QTimer::timeout, &m_once, [this] {
        if (m_timer.isActive() && m_onTick)
            m_onTick();
    });
}

void QtTimer::setEnabled(bool enabled) {
    if (!enabled) {
        m_timer.stop();
        m_once.stop();
        return;
    }
    // QTimer::start on a running timer restarts its interval; a rule that re-arms a wait
    // every tick would then never see the next tick.
    if (!m_timer.isActive())
        m_timer.start();
}

bool QtTimer::enabled() const {
    return m_timer.isActive();
}

void QtTimer::setOnTick(std::function<void()> onTick) {
    m_onTick = std::move(onTick);
}

void QtTimer::tickOnceIn(std::chrono::milliseconds delay) {
    if (m_timer.isActive())
        m_once.start(delay);
}

} // namespace torvaline
