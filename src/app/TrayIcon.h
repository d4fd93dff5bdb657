#pragma once

#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace torvaline {

class TForm1;

// The program's icon in the desktop's tray, when the desktop has one: its tool tip reads what
// the status bar reads, its menu starts, stops and pauses the list and ends the program, a
// click shows or hides the window, and the window's close box can send the window there
// (remembered). Without a tray there is no icon and the close box closes as before.
class TrayIcon final : public QObject {
    Q_OBJECT

public:
    // available: whether the desktop has a tray (the tests build the menu without one).
    TrayIcon(TForm1& form, bool available);
    ~TrayIcon() override;

    bool available() const { return m_available; }
    // Whether the close box hides the window to the tray: asked for and a tray to go to.
    bool closesToTray() const { return m_available && m_closeToTray; }
    void setCloseToTray(bool on);

    QMenu* menu() const { return m_menu; }
    // Further entries (the speed limit) go here, above the separator before Quit.
    void addSubmenu(QMenu* submenu);
    // The tool tip: the status bar's panels, or the program's title while they are empty.
    QString toolTip() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateToolTip();
    void showOrHide();

    TForm1& m_form;
    bool m_available;
    bool m_closeToTray = false;
    QMenu* m_menu;
    QAction* m_pause;
    QAction* m_placeBeforeQuit;
    QSystemTrayIcon* m_icon = nullptr;
    QTimer* m_tipTimer;
};

} // namespace torvaline
