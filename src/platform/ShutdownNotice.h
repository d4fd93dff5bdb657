#pragma once

#include <functional>

namespace torvaline {

// The warning shown before a forced shutdown, which closes every program without asking.
// The countdown itself is kept by the caller; the notice only shows it and reports a cancel.
class ShutdownNotice {
public:
    virtual ~ShutdownNotice() = default;
    // Shows the notice, or updates the one shown, with the seconds left before the shutdown.
    // onCancel is called on the GUI thread when the user cancels it.
    virtual void show(int secondsLeft, std::function<void()> onCancel) = 0;
    virtual void close() = 0;
};

} // namespace torvaline
