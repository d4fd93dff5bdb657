#pragma once

namespace torvaline {

// Clock::timeOfDay() is a fraction of a day; waits, countdowns and elapsed times convert
// between that fraction and seconds through this.
inline constexpr double DayLengthSeconds = 86400.0;

} // namespace torvaline
