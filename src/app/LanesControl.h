#pragma once

#include <QObject>

#include <functional>

class QActionGroup;
class QMainWindow;
class QMenu;

namespace torvaline {

class DownloadSession;

// The window's side of several rows at once: Tools > "Downloads at Once" (1 to 8, remembered),
// File > "Pause All" and "Resume All", and the focused row, whose lane the status bar shows.
class LanesControl final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* SettingsKey = "transfers/downloadsAtOnce";

    // `focused` gives the id of the row the user looks at (0: none).
    LanesControl(QMainWindow& window, DownloadSession& session,
                 std::function<std::uint64_t()> focused);

    // The number in force; `remember` keeps it for the next start.
    void setLanes(int lanes, bool remember = true);
    // The remembered number, 3 when none.
    static int remembered();
    // The focus moved: the status bar follows.
    void focusChanged();
    // The session goes before the window: the entries do nothing from now on.
    void detach() { m_session = nullptr; }

private:
    void showLanes();

    DownloadSession* m_session;
    std::function<std::uint64_t()> m_focused;
    QMenu* m_menu = nullptr;
    QActionGroup* m_group = nullptr;
};

} // namespace torvaline
