#pragma once

#include <functional>
#include <string>

namespace torvaline {

// A message in the desktop's notification area, for news the user should get while looking at
// another window. Delivery is best effort: without a notification service nothing is shown and
// nothing fails.
class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;
    // Shows a notification, replacing the one this notifier showed before. onActivated runs on
    // the GUI thread when the user clicks it.
    virtual void notify(const std::string& summary, const std::string& body,
                        std::function<void()> onActivated) = 0;
};

} // namespace torvaline
