#pragma once

#include "platform/DesktopNotifier.h"

#include <QObject>
#include <QString>

namespace torvaline {

// Notifications through org.freedesktop.Notifications on the session bus. Every call is
// asynchronous, so a missing or hung notification service never holds the program up; without
// a session bus or a service the notification is simply not shown.
class FreedesktopNotifier final : public QObject, public DesktopNotifier {
    Q_OBJECT
public:
    // desktopEntry: the id of the program's desktop entry, which the service uses for the
    // program's name and icon.
    explicit FreedesktopNotifier(QString appName, QString desktopEntry, QObject* parent = nullptr);
    ~FreedesktopNotifier() override;

    void notify(const std::string& summary, const std::string& body,
                std::function<void()> onActivated) override;

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QString m_appName;
    QString m_desktopEntry;
    bool m_subscribed = false;
    // The service's id of the notification shown last; 0 while none is known.
    uint m_id = 0;
    // Bumped by every notify, so that a late reply to an earlier one is not taken as the id.
    quint64 m_generation = 0;
    std::function<void()> m_onActivated;
};

} // namespace torvaline
