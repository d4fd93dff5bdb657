#pragma once

#include "platform/Clock.h"

namespace torvaline {

// The local time of day with millisecond resolution.
class QtClock final : public Clock {
public:
    double timeOfDay() const override;
};

} // namespace torvaline
