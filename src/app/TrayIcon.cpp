#include "app/TrayIcon.h"

#include "app/Main.h"
#include "app/UserSettings.h"
#include "list/StatusBar.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

namespace torvaline {

namespace {

const char* const CloseToTrayKey = "window/closeToTray";

QAction* mirror(QMenu* menu, TForm1& form, const char* text, const char* actionName) {
    QAction* entry = menu->addAction(QString::fromLatin1(text));
    if (auto* action = form.findChild<QAction*>(QString::fromLatin1(actionName)))
        QObject::connect(entry, &QAction::triggered, action, &QAction::trigger);
    return entry;
}

} // namespace

TrayIcon::TrayIcon(TForm1& form, bool available)
    : QObject(&form)
    , m_form(form)
    , m_available(available)
    , m_menu(new QMenu(&form))
    , m_tipTimer(new QTimer(this)) {
    m_menu->setObjectName(QStringLiteral("TrayMenu"));
    mirror(m_menu, form, "Start Download", "StartDownload1");
    mirror(m_menu, form, "Stop Download", "StopDownload1");
    // Pause follows its toolbar button, enabled or not, whatever the button does when pressed.
    m_pause = m_menu->addAction(QStringLiteral("Pause Download"));
    if (auto* button = form.findChild<QToolButton*>(QStringLiteral("pauseBtn"))) {
        m_pause->setEnabled(button->isEnabled());
        button->installEventFilter(this);
        connect(m_pause, &QAction::triggered, button, &QToolButton::click);
    } else {
        m_pause->setEnabled(false);
    }
    m_menu->addSeparator();
    m_placeBeforeQuit = m_menu->addSeparator();
    QAction* show = m_menu->addAction(QStringLiteral("Show Torvaline"));
    connect(show, &QAction::triggered, this, &TrayIcon::showOrHide);
    QAction* quit = m_menu->addAction(QStringLiteral("Quit"));
    connect(quit, &QAction::triggered, &form, &TForm1::Exit1Click);

    m_closeToTray = userSettings().value(CloseToTrayKey, false).toBool();
    if (auto* entry = form.findChild<QAction*>(QStringLiteral("CloseToTray1"))) {
        entry->setEnabled(m_available);
        entry->setChecked(m_closeToTray);
    }
    if (!m_available)
        return;
    m_icon = new QSystemTrayIcon(QApplication::windowIcon(), this);
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    showOrHide();
            });
    // The status bar changes many times a second while a file comes; once a second will do.
    connect(m_tipTimer, &QTimer::timeout, this, &TrayIcon::updateToolTip);
    m_tipTimer->start(1000);
    updateToolTip();
    m_icon->show();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::setCloseToTray(bool on) {
    m_closeToTray = on;
    userSettings().setValue(CloseToTrayKey, on);
    if (auto* entry = m_form.findChild<QAction*>(QStringLiteral("CloseToTray1")))
        entry->setChecked(on);
}

void TrayIcon::addSubmenu(QMenu* submenu) {
    m_menu->insertMenu(m_placeBeforeQuit, submenu);
}

QString TrayIcon::toolTip() const {
    QStringList parts;
    for (int i = 0; i < StatusBar::PanelCount; ++i) {
        const std::string& text = m_form.StatusBar1().text(i);
        const QString panel =
            QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
        if (!panel.isEmpty())
            parts << panel;
    }
    return parts.isEmpty() ? QString::fromLatin1(TForm1::Caption)
                           : parts.join(QStringLiteral("  "));
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        if (auto* button = qobject_cast<QToolButton*>(watched))
            m_pause->setEnabled(button->isEnabled());
    return QObject::eventFilter(watched, event);
}

void TrayIcon::updateToolTip() {
    if (m_icon != nullptr)
        m_icon->setToolTip(toolTip());
}

void TrayIcon::showOrHide() {
    if (m_form.isVisible() && !m_form.isMinimized()) {
        m_form.hide();
        return;
    }
    if (m_form.isMinimized())
        m_form.showNormal();
    m_form.show();
    m_form.raise();
    m_form.activateWindow();
}

} // namespace torvaline
