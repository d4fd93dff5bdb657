#include "adapters/linux/FreedesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace torvaline {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
// The action a service reports when the notification itself is clicked.
const QString DefaultAction = QStringLiteral("default");

QString fromBytes(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

FreedesktopNotifier::FreedesktopNotifier(QString appName, QString desktopEntry, QObject* parent)
    : QObject(parent)
    , m_appName(std::move(appName))
    , m_desktopEntry(std::move(desktopEntry)) {}

FreedesktopNotifier::~FreedesktopNotifier() = default;

void FreedesktopNotifier::notify(const std::string& summary, const std::string& body,
                                 std::function<void()> onActivated) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    if (!m_subscribed) {
        // Subscribed before the first call, so that a click cannot come before we listen.
        bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
        bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                    SLOT(notificationClosed(uint, uint)));
        m_subscribed = true;
    }
    m_onActivated = std::move(onActivated);
    const quint64 generation = ++m_generation;
    const uint replaces = m_id;
    m_id = 0;

    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), m_desktopEntry);
    call << m_appName << replaces << QString() << fromBytes(summary) << fromBytes(body)
         << QStringList{DefaultAction, QStringLiteral("Show")} << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<uint> reply = *w;
                // No service, or it refused: the notification is not shown, which is all.
                if (!reply.isError() && generation == m_generation)
                    m_id = reply.value();
                w->deleteLater();
            });
}

void FreedesktopNotifier::actionInvoked(uint id, const QString& action) {
    if (id == 0 || id != m_id || action != DefaultAction || !m_onActivated)
        return;
    // Copied first: the handler may show a new notification, which replaces the callback.
    const std::function<void()> activated = m_onActivated;
    activated();
}

void FreedesktopNotifier::notificationClosed(uint id, uint) {
    if (id != 0 && id == m_id) {
        m_id = 0;
        m_onActivated = nullptr;
    }
}

} // namespace torvaline
