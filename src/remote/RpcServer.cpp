#include "remote/RpcServer.h"

#include <QAbstractHttpServer>
#include <QDateTime>
#include <QHttpServerRequest>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace torvaline {

namespace {

const char* const BytesProperty = "rpcBytes";
const char* const LastProperty = "rpcLast";
const char* const WebSocketProperty = "rpcWebSocket";

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

bool loopbackHost(const QString& host) {
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("::1") || host == QLatin1String("[::1]");
}

} // namespace

// Accepts connections up to a cap and watches each one's size and silence, below the HTTP
// server that reads them.
class RpcTcpServer final : public QTcpServer {
public:
    RpcTcpServer(const RpcServer::Options& options, std::function<void(QTcpSocket*)> upgrade,
                 QObject* parent)
        : QTcpServer(parent)
        , m_options(options)
        , m_upgrade(std::move(upgrade)) {
        m_sweep.setInterval(std::max<qint64>(250, options.idleLimit.count() / 4));
        QObject::connect(&m_sweep, &QTimer::timeout, this, [this] { sweep(); });
        m_sweep.start();
    }

    int open() const { return static_cast<int>(m_sockets.size()); }

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            socket->deleteLater();
            return;
        }
        m_sockets.erase(std::remove_if(m_sockets.begin(), m_sockets.end(),
                                       [](const QPointer<QTcpSocket>& s) { return s.isNull(); }),
                        m_sockets.end());
        if (static_cast<int>(m_sockets.size()) >= m_options.maxConnections) {
            // A flood: the newcomer is turned away, the clients already served keep going.
            socket->abort();
            socket->deleteLater();
            return;
        }
        socket->setProperty(BytesProperty, qint64(0));
        socket->setProperty(LastProperty, nowMs());
        // Connected before the HTTP server connects its own reader, so this sees the bytes
        // first and can cut a request that would grow without end.
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            socket->setProperty(LastProperty, nowMs());
            if (socket->property(WebSocketProperty).toBool())
                return;
            if (socket->property(BytesProperty).toLongLong() < 8192 && upgradeAsked(*socket)) {
                // The HTTP server of this Qt release does not take the upgrade itself: the
                // WebSocket server does, and the HTTP server hears nothing more of it.
                socket->setProperty(WebSocketProperty, true);
                socket->disconnect();
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [socket] { socket->setProperty(LastProperty, nowMs()); });
                m_upgrade(socket);
                return;
            }
            const qint64 seen =
                socket->property(BytesProperty).toLongLong() + socket->bytesAvailable();
            socket->setProperty(BytesProperty, seen);
            if (seen > m_options.maxRequestBytes + 65536)
                socket->abort();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_sockets.push_back(socket);
        addPendingConnection(socket);
    }

private:
    static bool upgradeAsked(QTcpSocket& socket) {
        const QByteArray head = socket.peek(8192);
        const qsizetype end = head.indexOf("\r\n\r\n");
        if (!head.startsWith("GET ") || end < 0)
            return false;
        const QByteArray headers = head.left(end).toLower();
        return headers.contains("\nupgrade: websocket") || headers.contains("\nupgrade:websocket");
    }

    void sweep() {
        const qint64 now = nowMs();
        for (const QPointer<QTcpSocket>& socket : m_sockets) {
            if (!socket || socket->property(WebSocketProperty).toBool())
                continue;
            if (now - socket->property(LastProperty).toLongLong() > m_options.idleLimit.count())
                socket->abort();
        }
    }

    const RpcServer::Options& m_options;
    std::function<void(QTcpSocket*)> m_upgrade;
    std::vector<QPointer<QTcpSocket>> m_sockets;
    QTimer m_sweep;
};

// Hands each HTTP request on /jsonrpc to the server; everything else is not found.
class RpcHttpFront final : public QAbstractHttpServer {
public:
    explicit RpcHttpFront(RpcServer& server)
        : m_server(server) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        QByteArray method;
        switch (request.method()) {
        case QHttpServerRequest::Method::Post:
            method = "POST";
            break;
        case QHttpServerRequest::Method::Options:
            method = "OPTIONS";
            break;
        default:
            method = "OTHER";
            break;
        }
        const bool close = request.value("connection").toLower().contains("close");
        m_server.answerHttp(socket, method, request.url().path().toUtf8(), request.value("origin"),
                            request.body(), close);
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket* socket) override {
        m_server.writeHttp(socket, 404, "Not Found", {}, false);
    }

private:
    RpcServer& m_server;
};

RpcServer::RpcServer(Aria2Rpc& rpc, Options options, QObject* parent)
    : QObject(parent)
    , m_rpc(rpc)
    , m_options(options)
    , m_front(std::make_unique<RpcHttpFront>(*this))
    , m_webSocketServer(std::make_unique<QWebSocketServer>(QStringLiteral("torvaline"),
                                                           QWebSocketServer::NonSecureMode)) {
    m_webSocketServer->setMaxPendingConnections(m_options.maxConnections);
    QObject::connect(m_webSocketServer.get(), &QWebSocketServer::newConnection, this,
                     [this] { takeWebSockets(); });
}

RpcServer::~RpcServer() {
    for (const std::unique_ptr<QWebSocket>& socket : m_webSockets)
        socket->disconnect(this);
    m_webSockets.clear();
}

QString RpcServer::listen() {
    std::vector<QHostAddress> addresses;
    if (m_options.listenAll)
        addresses = {QHostAddress(QHostAddress::Any)};
    else
        addresses = {QHostAddress(QHostAddress::LocalHost),
                     QHostAddress(QHostAddress::LocalHostIPv6)};
    quint16 port = m_options.port;
    QString error;
    for (const QHostAddress& address : addresses) {
        auto* listener = new RpcTcpServer(
            m_options, [this](QTcpSocket* socket) { m_webSocketServer->handleConnection(socket); },
            m_front.get());
        if (!listener->listen(address, port)) {
            // A machine without IPv6 still has the IPv4 loopback.
            if (error.isEmpty())
                error = listener->errorString();
            delete listener;
            continue;
        }
        port = listener->serverPort();
        m_front->bind(listener);
        m_listeners.push_back(listener);
    }
    if (m_listeners.empty())
        return QStringLiteral("cannot listen on port %1: %2").arg(m_options.port).arg(error);
    m_port = port;
    return {};
}

int RpcServer::openConnections() const {
    int open = 0;
    for (const RpcTcpServer* listener : m_listeners)
        open += listener->open();
    return open;
}

bool RpcServer::originAllowed(const QByteArray& origin) const {
    if (origin.isEmpty() || m_options.secretSet)
        return true;
    // A page from elsewhere that the user happens to visit must not drive a daemon that asks
    // for no secret.
    return loopbackHost(QUrl(QString::fromUtf8(origin)).host());
}

void RpcServer::writeHttp(QTcpSocket* socket, int status, const QByteArray& reason,
                          const QByteArray& body, bool close) {
    if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Cache-Control: no-cache\r\n";
    if (!body.isEmpty())
        head += "Content-Type: application/json-rpc\r\n";
    head += "Access-Control-Allow-Origin: *\r\n";
    head += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    head += "\r\n";
    socket->setProperty(BytesProperty, qint64(0));
    socket->write(head + body);
    if (close)
        socket->disconnectFromHost();
}

void RpcServer::answerHttp(QTcpSocket* socket, const QByteArray& method, const QByteArray& path,
                           const QByteArray& origin, const QByteArray& body, bool close) {
    if (path != "/jsonrpc") {
        writeHttp(socket, 404, "Not Found", {}, close);
        return;
    }
    if (!originAllowed(origin)) {
        writeHttp(socket, 403, "Forbidden", {}, true);
        return;
    }
    if (method == "OPTIONS") {
        // A browser's preflight before a JSON POST from a front end's page.
        if (socket->state() == QAbstractSocket::ConnectedState) {
            socket->setProperty(BytesProperty, qint64(0));
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nCache-Control: no-cache\r\n"
                          "Access-Control-Allow-Origin: *\r\n"
                          "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\n"
                          "Access-Control-Allow-Headers: Content-Type\r\n"
                          "Access-Control-Max-Age: 1728000\r\n\r\n");
        }
        return;
    }
    if (method != "POST") {
        writeHttp(socket, 405, "Method Not Allowed", {}, close);
        return;
    }
    if (body.size() > m_options.maxRequestBytes) {
        writeHttp(socket, 413, "Payload Too Large", {}, true);
        return;
    }
    const Aria2Rpc::Reply reply = m_rpc.handle(body);
    releaseMemoryAfter(std::max(body.size(), reply.body.size()));
    const QPointer<QTcpSocket> target(socket);
    const int status = reply.httpStatus;
    const QByteArray text = reply.body;
    afterReply(reply, [this, target, status, text, close] {
        const QByteArray reason = status == 200   ? "OK"
                                  : status == 400 ? "Bad Request"
                                                  : "Internal Server Error";
        writeHttp(target.data(), status, reason, text, close);
        if (target)
            target->flush();
    });
}

void RpcServer::releaseMemoryAfter(qsizetype bytes) {
#if defined(__GLIBC__)
    // Many small requests in a row leave the same gaps as one large one.
    constexpr qsizetype Large = 1 << 20;
    m_handledBytes += bytes;
    if (m_handledBytes < Large)
        return;
    m_handledBytes = 0;
    if (m_release == nullptr) {
        m_release = new QTimer(this);
        m_release->setSingleShot(true);
        m_release->setInterval(std::chrono::seconds(1));
        QObject::connect(m_release, &QTimer::timeout, this, [] { malloc_trim(0); });
    }
    m_release->start();
#else
    static_cast<void>(bytes);
#endif
}

void RpcServer::afterReply(const Aria2Rpc::Reply& reply, std::function<void()> send) {
    const bool shutdown = reply.shutdown;
    auto deliver = [this, send = std::move(send), shutdown] {
        send();
        if (shutdown && m_onShutdown)
            // Out of this call: the answer is on its way before the program ends.
            QTimer::singleShot(50, this, [this] { m_onShutdown(); });
    };
    if (reply.unauthorized)
        QTimer::singleShot(m_options.unauthorizedDelay, this, std::move(deliver));
    else
        deliver();
}

void RpcServer::takeWebSockets() {
    while (m_webSocketServer->hasPendingConnections()) {
        std::unique_ptr<QWebSocket> socket(m_webSocketServer->nextPendingConnection());
        if (!socket)
            continue;
        const QByteArray origin = socket->request().rawHeader("Origin");
        if (socket->requestUrl().path() != QLatin1String("/jsonrpc") || !originAllowed(origin)) {
            socket->abort();
            continue;
        }
        socket->setMaxAllowedIncomingMessageSize(static_cast<quint64>(m_options.maxRequestBytes));
        socket->setMaxAllowedIncomingFrameSize(static_cast<quint64>(m_options.maxRequestBytes));
        QWebSocket* raw = socket.get();
        QObject::connect(raw, &QWebSocket::textMessageReceived, this,
                         [this, raw](const QString& message) { webSocketMessage(raw, message); });
        QObject::connect(raw, &QWebSocket::binaryMessageReceived, this,
                         [this, raw](const QByteArray& message) {
                             webSocketMessage(raw, QString::fromUtf8(message));
                         });
        QObject::connect(raw, &QWebSocket::disconnected, this, [this, raw] {
            const auto it = std::find_if(m_webSockets.begin(), m_webSockets.end(),
                                         [raw](const auto& s) { return s.get() == raw; });
            if (it == m_webSockets.end())
                return;
            // Not from inside its own signal.
            it->release()->deleteLater();
            m_webSockets.erase(it);
        });
        m_webSockets.push_back(std::move(socket));
    }
}

void RpcServer::webSocketMessage(QWebSocket* socket, const QString& message) {
    const Aria2Rpc::Reply reply = m_rpc.handle(message.toUtf8());
    releaseMemoryAfter(std::max(message.size() * 2, reply.body.size()));
    const QPointer<QWebSocket> target(socket);
    const QString text = QString::fromUtf8(reply.body);
    afterReply(reply, [target, text] {
        if (target && target->state() == QAbstractSocket::ConnectedState)
            target->sendTextMessage(text);
    });
}

void RpcServer::notify(RowTable::Notice notice, std::uint64_t id) {
    if (m_webSockets.empty())
        return;
    const QString text = QString::fromUtf8(Aria2Rpc::notification(notice, id));
    for (const std::unique_ptr<QWebSocket>& socket : m_webSockets)
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->sendTextMessage(text);
}

} // namespace torvaline
