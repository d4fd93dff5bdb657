#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <QtEndian>

#include <memory>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace torvaline {

namespace {

QString userId() {
#ifdef _WIN32
    return qEnvironmentVariable("USERNAME");
#else
    return QString::number(::getuid());
#endif
}

QString displayId() {
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    // ":0" and ":0.0" are one display.
    if (display.endsWith(QLatin1String(".0")))
        display.chop(2);
    if (display.isEmpty())
        display = QStringLiteral("none");
    return QString::fromLatin1(
        QCryptographicHash::hash(display.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
}

QJsonArray toArray(const QStringList& list) {
    QJsonArray array;
    for (const QString& s : list)
        array.append(s);
    return array;
}

bool toList(const QJsonValue& value, QStringList& out) {
    if (!value.isArray())
        return false;
    for (const QJsonValue& v : value.toArray()) {
        if (!v.isString())
            return false;
        out << v.toString();
    }
    return true;
}

} // namespace

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this)) {
    // Nobody but the user may hand links to the user's window.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName() {
    const QString name = QStringLiteral("torvaline-%1-%2").arg(userId(), displayId());
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // The runtime folder is the user's own (mode 0700); a full path puts the socket there.
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(name + QStringLiteral(".socket"));
    return name;
}

QByteArray SingleInstance::encode(const HandOff& handOff) {
    QJsonObject object;
    object[QStringLiteral("links")] = toArray(handOff.links);
    object[QStringLiteral("files")] = toArray(handOff.files);
    object[QStringLiteral("folder")] = handOff.folder;
    object[QStringLiteral("start")] = handOff.start;
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool SingleInstance::decode(const QByteArray& message, HandOff& handOff) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(message, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    HandOff out;
    if (!toList(object.value(QStringLiteral("links")), out.links) ||
        !toList(object.value(QStringLiteral("files")), out.files))
        return false;
    out.folder = object.value(QStringLiteral("folder")).toString();
    out.start = object.value(QStringLiteral("start")).toBool();
    // A list file is named by its full path; anything else would depend on where the
    // window was started.
    for (const QString& file : out.files)
        if (!QDir::isAbsolutePath(file))
            return false;
    handOff = std::move(out);
    return true;
}

bool SingleInstance::handOff(const HandOff& handOff, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    const QByteArray message = encode(handOff);
    QByteArray length(4, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(message.size()), length.data());
    socket.write(length + message);
    if (!socket.waitForBytesWritten(timeoutMs) && socket.bytesToWrite() > 0)
        return false;
    // The window answers once it holds the message.
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (!answer.contains('\n') && clock.elapsed() < timeoutMs) {
        if (socket.bytesAvailable() == 0 &&
            !socket.waitForReadyRead(static_cast<int>(timeoutMs - clock.elapsed())))
            break;
        answer += socket.readAll();
    }
    return answer.startsWith("OK\n");
}

bool SingleInstance::listen(std::function<void(HandOff)> onHandOff) {
    m_onHandOff = std::move(onHandOff);
    const QString name = serverName();
    // Two windows started at the same moment settle who listens one after the other.
    QLockFile lock((QDir::isAbsolutePath(name) ? name : QDir::temp().filePath(name)) +
                   QStringLiteral(".lock"));
    if (!lock.tryLock(2000))
        return false;
    // A window that answers keeps its socket (Qt would put a new one in its place); one left
    // by a crash is removed.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(500))
        return false;
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

bool SingleInstance::isListening() const {
    return m_server->isListening();
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Taken in whole within a few seconds, or dropped.
        QTimer::singleShot(5000, socket, [socket] { socket->abort(); });
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            if (buffer->size() < 4)
                return;
            const qint64 expected = qFromBigEndian<quint32>(buffer->constData());
            if (expected > MaxMessageBytes) {
                socket->abort();
                return;
            }
            if (buffer->size() - 4 < expected)
                return;
            HandOff handOff;
            if (!decode(buffer->mid(4, expected), handOff)) {
                socket->write("BAD\n");
                socket->disconnectFromServer();
                return;
            }
            buffer->clear();
            socket->write("OK\n");
            socket->flush();
            socket->disconnectFromServer();
            // After the answer: an import may open a message box, and the second start must
            // not wait for the user.
            QTimer::singleShot(0, this, [this, handOff] {
                if (m_onHandOff)
                    m_onHandOff(handOff);
            });
        });
    }
}

} // namespace torvaline
