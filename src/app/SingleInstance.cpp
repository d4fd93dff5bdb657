#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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
#include <sys/socket.h>
#include <sys/stat.h>
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

#ifndef _WIN32
// A folder for the socket that nobody but the user can put anything in or look into: owned by
// the user, no access for others, and itself, not a link to somewhere else.
bool privateFolder(const QByteArray& path, bool followLink) {
    struct stat st {};
    if ((followLink ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st)) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Whether the socket at `path` is one the user made: another user could have bound the name
// first to be handed the links and their keys.
bool usersSocket(const QString& path) {
    struct stat st {};
    const QByteArray bytes = QFile::encodeName(path);
    return ::lstat(bytes.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid();
}

bool peerIsUser(qintptr descriptor) {
    struct ucred peer {};
    socklen_t length = sizeof peer;
    return ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) ==
               0 &&
           peer.uid == ::geteuid();
}
#endif

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

QString SingleInstance::socketFolder() {
#ifdef _WIN32
    return {};
#else
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // The session's runtime folder, when it is the user's own as it should be.
    if (QDir::isAbsolutePath(runtime) && privateFolder(QFile::encodeName(runtime), true))
        return QDir::cleanPath(runtime);
    // Else one of our own in the temporary folder. Its name can be guessed, so it is only
    // taken when it is ours: a folder or a link someone else put there first means no
    // hand-over for this session, and each start opens a window of its own.
    const QString folder =
        QDir(QDir::tempPath()).filePath(QStringLiteral("torvaline-%1").arg(userId()));
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    if (!privateFolder(path, false))
        return {};
    return folder;
#endif
}

QString SingleInstance::serverName() {
    const QString name = QStringLiteral("torvaline-%1-%2").arg(userId(), displayId());
#ifdef _WIN32
    // A named pipe; Qt gives it to the user alone (UserAccessOption).
    return name;
#else
    const QString folder = socketFolder();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(name + QStringLiteral(".socket"));
#endif
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
    const QString name = serverName();
    if (name.isEmpty())
        return false;
#ifndef _WIN32
    if (!usersSocket(name))
        return false;
#endif
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
#ifndef _WIN32
    // The file may have been swapped since it was looked at; the peer cannot lie about itself.
    if (!peerIsUser(socket.socketDescriptor())) {
        socket.abort();
        return false;
    }
#endif
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
    if (name.isEmpty())
        return false;
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
#ifndef _WIN32
        // Links from another user are not this user's to add.
        if (!peerIsUser(socket->socketDescriptor())) {
            socket->abort();
            continue;
        }
#endif
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
