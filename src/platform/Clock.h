#pragma once

namespace torvaline {

// The clock's local time of day as a fraction of a day (1.0 = 24 h), without a date.
// Every wait, countdown and transfer time in the program is measured in this unit.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double timeOfDay() const = 0;
};

} // namespace torvaline
