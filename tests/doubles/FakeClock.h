#pragma once

#include "pages/TimeText.h"
#include "platform/Clock.h"

namespace torvaline::test {

// A clock the test moves by hand. Times are fractions of a day; it wraps at midnight like
// the real time of day does.
class FakeClock final : public Clock {
public:
    double timeOfDay() const override { return m_now; }
    void setTime(int h, int m, int s, int ms = 0) {
        m_now = (h * 3600.0 + m * 60.0 + s + ms / 1000.0) / DayLengthSeconds;
    }
    void advanceSeconds(double seconds) {
        m_now += seconds / DayLengthSeconds;
        while (m_now >= 1.0)
            m_now -= 1.0;
    }

private:
    double m_now = 0.5; // noon
};

} // namespace torvaline::test
