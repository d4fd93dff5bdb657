#include "adapters/qt/QtClock.h"

#include <QTime>

namespace torvaline {

double QtClock::timeOfDay() const {
    constexpr double MillisecondsPerDay = 24.0 * 60 * 60 * 1000;
    return QTime::currentTime().msecsSinceStartOfDay() / MillisecondsPerDay;
}

} // namespace torvaline
