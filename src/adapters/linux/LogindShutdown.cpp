#include "adapters/linux/LogindShutdown.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QtGlobal>

#include <unistd.h>

namespace torvaline {

namespace {

const QString Service = QStringLiteral("org.freedesktop.login1");
const QString ManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString ManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString SessionInterface = QStringLiteral("org.freedesktop.login1.Session");

void warnOnError(const QDBusMessage& reply, const char* what) {
    if (reply.type() == QDBusMessage::ErrorMessage)
        qWarning("logind refused %s: %s", what, qPrintable(reply.errorMessage()));
}

void terminateOwnSession(QDBusConnection& bus) {
    QDBusInterface manager(Service, ManagerPath, ManagerInterface, bus);
    const QDBusReply<QDBusObjectPath> path =
        manager.call(QStringLiteral("GetSessionByPID"), static_cast<quint32>(::getpid()));
    if (!path.isValid()) {
        qWarning("logind knows no session of this program: %s", qPrintable(path.error().message()));
        return;
    }
    QDBusInterface session(Service, path.value().path(), SessionInterface, bus);
    warnOnError(session.call(QStringLiteral("Terminate")), "to end the session");
}

} // namespace

void LogindShutdown::requestExit(ExitRequest request, bool) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qWarning("no system D-Bus: %s", qPrintable(bus.lastError().message()));
        return;
    }
    QDBusInterface manager(Service, ManagerPath, ManagerInterface, bus);
    const bool interactive = false;
    switch (request) {
    case ExitRequest::ShutDown:
        warnOnError(manager.call(QStringLiteral("PowerOff"), interactive), "to power off");
        break;
    case ExitRequest::Restart:
        warnOnError(manager.call(QStringLiteral("Reboot"), interactive), "to reboot");
        break;
    case ExitRequest::LogOff:
        terminateOwnSession(bus);
        break;
    }
}

} // namespace torvaline
