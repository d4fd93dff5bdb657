#pragma once

#include <functional>

namespace torvaline {

class DesktopNotifier;
class DownloadList;

// Tells a user who is looking elsewhere that the list is done: when the list ends while the
// window is not the active one (or is minimised), a desktop notification says how many rows
// completed and how many failed; clicking it brings the window back.
class ListDoneNotice final {
public:
    struct Window {
        // Whether the user is looking at the window: active and not minimised.
        std::function<bool()> inView;
        // Shows the window again (restored if minimised) in front of the others.
        std::function<void()> raise;
    };

    ListDoneNotice(const DownloadList& list, DesktopNotifier& notifier, Window window);

    // The end of the list, as the core reports it.
    void listDone();

private:
    const DownloadList& m_list;
    DesktopNotifier& m_notifier;
    Window m_window;
};

} // namespace torvaline
