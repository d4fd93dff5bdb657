#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>

class QAction;
class QActionGroup;
class QLabel;
class QMainWindow;
class QMenu;
class QWidget;

namespace torvaline {

// The window's speed limit: a "Speed Limit" submenu of Tools with presets and "Custom...",
// remembered with QSettings, and a status-bar label of its own (the three panels of the
// cycle stay as they are) that shows the limit while one is on.
class SpeedLimitControl final : public QObject {
    Q_OBJECT

public:
    // Asks the user for a rate; nothing when cancelled. The window's is a text input dialog.
    using AskRate = std::function<std::optional<std::uint64_t>(QWidget* parent)>;

    // `apply` hands a new limit (bytes a second, 0: none) to the transfers; it is called
    // here at once with the remembered limit.
    SpeedLimitControl(QMainWindow& window, std::function<void(std::uint64_t)> apply,
                      AskRate askRate = {});

    // A limit from elsewhere (the command line): applied and shown, not remembered.
    void setLimit(std::uint64_t bytesPerSecond, bool remember = true);
    std::uint64_t limit() const { return m_limit; }

    static constexpr const char* SettingsKey = "transfers/speedLimit";

private:
    void showLimit();

    QMainWindow& m_window;
    std::function<void(std::uint64_t)> m_apply;
    AskRate m_askRate;
    QMenu* m_menu = nullptr;
    QActionGroup* m_group = nullptr;
    QAction* m_custom = nullptr;
    QLabel* m_label = nullptr;
    std::uint64_t m_limit = 0;
};

} // namespace torvaline
