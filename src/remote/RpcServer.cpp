#include "remote/RpcServer.h"

#include "remote/RpcPolicy.h"

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
#include <cstdio>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace torvaline {

namespace {

const char* const BytesProperty = "rpcBytes";
const char* const LastProperty = "rpcLast";
const char* const WebSocketProperty = "rpcWebSocket";
// When the request now coming began (0: none), and whether its head is in.
const char* const StartProperty = "rpcStart";
const char* const HeadProperty = "rpcHead";

constexpr qsizetype MaxHead = 65536;
// Requests of one peer held while it sits out a penalty; past this they are dropped.
constexpr std::size_t MaxWaitingPerPeer = 64;

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString peerOf(const QTcpSocket& socket) {
    QHostAddress address = socket.peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    return address.toString();
}

QByteArray headerOf(const QByteArray& head, const QByteArray& name) {
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace

// Accepts connections up to the caps and watches each one's size, pace and silence, below the
// HTTP server that reads them.
class RpcTcpServer final : public QTcpServer {
public:
    RpcTcpServer(RpcServer& server, const RpcServer::Options& options,
                 std::function<void(QTcpSocket*)> upgrade, QObject* parent)
        : QTcpServer(parent)
        , m_server(server)
        , m_options(options)
        , m_upgrade(std::move(upgrade)) {
        const auto shortest = std::min(options.idleLimit, options.headerDeadline).count();
        m_sweep.setInterval(std::max<qint64>(100, shortest / 4));
        QObject::connect(&m_sweep, &QTimer::timeout, this, [this] { sweep(); });
        m_sweep.start();
    }

    int open() const {
        return static_cast<int>(std::count_if(m_sockets.begin(), m_sockets.end(),
                                              [](const auto& s) { return !s.isNull(); }));
    }

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            socket->deleteLater();
            return;
        }
        makeRoomFor(peerOf(*socket));
        const qint64 now = nowMs();
        socket->setProperty(BytesProperty, qint64(0));
        socket->setProperty(LastProperty, now);
        socket->setProperty(StartProperty, qint64(0));
        socket->setProperty(HeadProperty, false);
        // Connected before the HTTP server connects its own reader, so this sees the bytes
        // first and can cut a request that would grow without end.
        QObject::connect(socket, &QTcpSocket::readyRead, socket,
                         [this, socket] { arrived(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_sockets.push_back(socket);
        addPendingConnection(socket);
    }

private:
    void arrived(QTcpSocket* socket) {
        const qint64 now = nowMs();
        socket->setProperty(LastProperty, now);
        if (socket->property(WebSocketProperty).toBool())
            return;
        if (socket->property(StartProperty).toLongLong() == 0) {
            socket->setProperty(StartProperty, now);
            socket->setProperty(HeadProperty, false);
        }
        if (!socket->property(HeadProperty).toBool()) {
            const QByteArray head = socket->peek(MaxHead);
            const qsizetype end = head.indexOf("\r\n\r\n");
            if (end < 0) {
                if (head.size() >= MaxHead)
                    socket->abort();
                return;
            }
            socket->setProperty(HeadProperty, true);
            const QByteArray headers = head.left(end);
            const QByteArray lower = headers.toLower();
            if (headers.startsWith("GET ") &&
                (lower.contains("\nupgrade: websocket") || lower.contains("\nupgrade:websocket"))) {
                // The HTTP server of this Qt release does not take the upgrade itself: the
                // WebSocket server does, and the HTTP server hears nothing more of it.
                socket->setProperty(WebSocketProperty, true);
                socket->disconnect();
                if (!m_server.admitted(headerOf(headers, "origin"), headerOf(headers, "referer"),
                                       headerOf(headers, "sec-fetch-site"),
                                       headerOf(headers, "host"))) {
                    socket->write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n"
                                  "Connection: close\r\n\r\n");
                    socket->disconnectFromHost();
                    QObject::connect(socket, &QTcpSocket::disconnected, socket,
                                     &QObject::deleteLater);
                    return;
                }
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [socket] { socket->setProperty(LastProperty, nowMs()); });
                m_upgrade(socket);
                return;
            }
        }
        const qint64 seen = socket->property(BytesProperty).toLongLong() + socket->bytesAvailable();
        socket->setProperty(BytesProperty, seen);
        if (seen > m_options.maxRequestBytes + 65536)
            socket->abort();
    }

    // The peer's quietest connection goes when the peer is at its cap; the busiest peer's
    // quietest when all are taken.
    void makeRoomFor(const QString& peer) {
        m_sockets.erase(std::remove_if(m_sockets.begin(), m_sockets.end(),
                                       [](const QPointer<QTcpSocket>& s) {
                                           return s.isNull() ||
                                                  s->state() != QAbstractSocket::ConnectedState;
                                       }),
                        m_sockets.end());
        std::map<QString, int> perPeer;
        for (const QPointer<QTcpSocket>& s : m_sockets)
            ++perPeer[peerOf(*s)];
        QString victim;
        if (perPeer[peer] >= m_options.maxPerPeer) {
            victim = peer;
        } else if (static_cast<int>(m_sockets.size()) >= m_options.maxConnections) {
            victim =
                std::max_element(perPeer.begin(), perPeer.end(), [](const auto& a, const auto& b) {
                    return a.second < b.second;
                })->first;
        } else {
            return;
        }
        QTcpSocket* quietest = nullptr;
        for (const QPointer<QTcpSocket>& s : m_sockets)
            if (peerOf(*s) == victim &&
                (quietest == nullptr || s->property(LastProperty).toLongLong() <
                                            quietest->property(LastProperty).toLongLong()))
                quietest = s.data();
        if (quietest != nullptr)
            quietest->abort();
    }

    void sweep() {
        const qint64 now = nowMs();
        for (const QPointer<QTcpSocket>& socket : m_sockets) {
            if (!socket)
                continue;
            const bool idle =
                now - socket->property(LastProperty).toLongLong() > m_options.idleLimit.count();
            const qint64 start = socket->property(StartProperty).toLongLong();
            const bool webSocket = socket->property(WebSocketProperty).toBool();
            const bool slowHead = !webSocket && start != 0 &&
                                  !socket->property(HeadProperty).toBool() &&
                                  now - start > m_options.headerDeadline.count();
            if (idle || slowHead)
                socket->abort();
        }
    }

    RpcServer& m_server;
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
        RpcServer::HttpRequest r;
        switch (request.method()) {
        case QHttpServerRequest::Method::Post:
            r.method = "POST";
            break;
        case QHttpServerRequest::Method::Get:
            r.method = "GET";
            break;
        case QHttpServerRequest::Method::Options:
            r.method = "OPTIONS";
            break;
        default:
            r.method = "OTHER";
            break;
        }
        r.url = request.url();
        r.origin = request.value("origin");
        r.referer = request.value("referer");
        r.fetchSite = request.value("sec-fetch-site");
        r.host = request.value("host");
        r.requestHeaders = request.value("access-control-request-headers");
        r.body = request.body();
        r.close = request.value("connection").toLower().contains("close");
        m_server.answerHttp(socket, r);
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
    m_ping = new QTimer(this);
    m_ping->setInterval(std::max<qint64>(100, m_options.idleLimit.count() / 2));
    QObject::connect(m_ping, &QTimer::timeout, this, [this] {
        for (const std::unique_ptr<QWebSocket>& socket : m_webSockets)
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->ping();
    });
    m_ping->start();
    m_log = new QTimer(this);
    m_log->setInterval(std::chrono::minutes(1));
    QObject::connect(m_log, &QTimer::timeout, this, [this] { logRefusals(); });
    m_log->start();
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
            *this, m_options,
            [this](QTcpSocket* socket) { m_webSocketServer->handleConnection(socket); },
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

bool RpcServer::admitted(const QByteArray& origin, const QByteArray& referer,
                         const QByteArray& fetchSite, const QByteArray& host) const {
    // Listening on every address, the daemon is reached by names of its own and the secret
    // guards it; on loopback only a loopback name can be honest.
    if (!m_options.listenAll && !RpcPolicy::hostAllowed(host))
        return false;
    return RpcPolicy::originAllowed(RpcPolicy::originOf(origin, referer, fetchSite),
                                    m_options.secretSet);
}

void RpcServer::writeHttp(QTcpSocket* socket, int status, const QByteArray& reason,
                          const QByteArray& body, bool close, const QByteArray& type) {
    if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Cache-Control: no-cache\r\n";
    if (!body.isEmpty())
        head += "Content-Type: " + type + "\r\n";
    head += "Access-Control-Allow-Origin: *\r\n";
    head += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    head += "\r\n";
    socket->setProperty(BytesProperty, qint64(0));
    socket->setProperty(StartProperty, qint64(0));
    socket->write(head + body);
    if (close)
        socket->disconnectFromHost();
}

void RpcServer::answerHttp(QTcpSocket* socket, const HttpRequest& request) {
    if (request.url.path() != QLatin1String("/jsonrpc")) {
        writeHttp(socket, 404, "Not Found", {}, request.close);
        return;
    }
    if (!admitted(request.origin, request.referer, request.fetchSite, request.host)) {
        writeHttp(socket, 403, "Forbidden", {}, true);
        return;
    }
    if (request.method == "OPTIONS") {
        // A browser's preflight before a JSON POST from a front end's page or an add-on.
        if (socket->state() == QAbstractSocket::ConnectedState) {
            socket->setProperty(BytesProperty, qint64(0));
            socket->setProperty(StartProperty, qint64(0));
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nCache-Control: no-cache\r\n"
                          "Access-Control-Allow-Origin: *\r\n"
                          "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\n"
                          "Access-Control-Allow-Headers: " +
                          RpcPolicy::allowedHeaders(request.requestHeaders) +
                          "\r\n"
                          "Access-Control-Max-Age: 1728000\r\n\r\n");
        }
        return;
    }
    QByteArray body = request.body;
    QByteArray callback;
    if (request.method == "GET") {
        const auto asked = RpcPolicy::getRequest(request.url);
        const auto named = RpcPolicy::jsonCallback(request.url);
        if (!named) {
            writeHttp(socket, 400, "Bad Request", {}, request.close);
            return;
        }
        callback = *named;
        // An unreadable query reads as unreadable JSON.
        body = asked ? *asked : QByteArray("{");
    } else if (request.method != "POST") {
        writeHttp(socket, 405, "Method Not Allowed", {}, request.close);
        return;
    }
    if (body.size() > m_options.maxRequestBytes) {
        writeHttp(socket, 413, "Payload Too Large", {}, true);
        return;
    }
    const QPointer<QTcpSocket> target(socket);
    const bool close = request.close;
    submit(
        peerOf(*socket), std::move(body), [target] { return !target.isNull(); },
        [this, target, close, callback](const Aria2Rpc::Reply& reply) {
            const int status = reply.httpStatus;
            const QByteArray reason = status == 200   ? "OK"
                                      : status == 400 ? "Bad Request"
                                                      : "Internal Server Error";
            if (!callback.isEmpty())
                // JSONP: a script runs it, whatever the status says.
                writeHttp(target.data(), 200, "OK", callback + '(' + reply.body + ')', close,
                          "text/javascript");
            else
                writeHttp(target.data(), status, reason, reply.body, close);
            if (target)
                target->flush();
        });
}

void RpcServer::submit(const QString& peer, QByteArray request, std::function<bool()> alive,
                       std::function<void(const Aria2Rpc::Reply&)> send) {
    Peer& p = m_peers[peer];
    if (p.waiting.size() >= MaxWaitingPerPeer) {
        ++p.refusedSinceLog;
        return;
    }
    p.waiting.push_back({std::move(request), std::move(alive), std::move(send)});
    runNext(peer);
}

void RpcServer::runNext(const QString& peer) {
    const auto it = m_peers.find(peer);
    if (it == m_peers.end())
        return;
    Peer& p = it->second;
    while (!p.waiting.empty()) {
        const qint64 now = nowMs();
        if (p.blockedUntil > now) {
            // The peer sits out its penalty: what it sends meanwhile is not even read, or
            // many guesses at once would be as fast as one.
            if (!p.armed) {
                p.armed = true;
                QTimer::singleShot(
                    std::chrono::milliseconds(p.blockedUntil - now), this, [this, peer] {
                        if (const auto again = m_peers.find(peer); again != m_peers.end())
                            again->second.armed = false;
                        runNext(peer);
                    });
            }
            return;
        }
        Waiting next = std::move(p.waiting.front());
        p.waiting.pop_front();
        if (!next.alive())
            continue;
        const Aria2Rpc::Reply reply = m_rpc.handle(next.request);
        releaseMemoryAfter(std::max(next.request.size(), reply.body.size()));
        if (!reply.unauthorized) {
            deliver(reply, next.send);
            continue;
        }
        // A quiet while forgives: a user who mistyped the secret once is not slowed for good.
        if (now - p.lastStrike > 10 * m_options.maxUnauthorizedDelay.count())
            p.strikes = 0;
        const qint64 delay = std::min<qint64>(
            m_options.unauthorizedDelay.count() << std::min(p.strikes, 20),
            std::max(m_options.unauthorizedDelay, m_options.maxUnauthorizedDelay).count());
        ++p.strikes;
        ++p.refusedSinceLog;
        p.lastStrike = now;
        p.blockedUntil = now + delay;
        QTimer::singleShot(std::chrono::milliseconds(delay), this,
                           [this, reply, send = std::move(next.send)] { deliver(reply, send); });
    }
    if (p.strikes == 0 && p.refusedSinceLog == 0 && !p.armed)
        m_peers.erase(it);
}

void RpcServer::deliver(const Aria2Rpc::Reply& reply,
                        const std::function<void(const Aria2Rpc::Reply&)>& send) {
    send(reply);
    if (reply.shutdown && m_onShutdown)
        // Out of this call: the answer is on its way before the program ends.
        QTimer::singleShot(50, this, [this] { m_onShutdown(); });
}

void RpcServer::logRefusals() {
    const qint64 now = nowMs();
    for (auto it = m_peers.begin(); it != m_peers.end();) {
        Peer& p = it->second;
        if (p.refusedSinceLog > 0)
            // Once a minute at most: a guesser must not fill the journal either.
            std::fprintf(stderr, "remote control: %d request(s) with a wrong secret from %s\n",
                         p.refusedSinceLog, it->first.toUtf8().constData());
        p.refusedSinceLog = 0;
        const bool forgotten = now - p.lastStrike > 10 * m_options.maxUnauthorizedDelay.count();
        if (forgotten && p.waiting.empty() && !p.armed)
            it = m_peers.erase(it);
        else
            ++it;
    }
    std::fflush(stderr);
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

void RpcServer::takeWebSockets() {
    while (m_webSocketServer->hasPendingConnections()) {
        std::unique_ptr<QWebSocket> socket(m_webSocketServer->nextPendingConnection());
        if (!socket)
            continue;
        if (socket->requestUrl().path() != QLatin1String("/jsonrpc")) {
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
    const QPointer<QWebSocket> target(socket);
    QHostAddress address = socket->peerAddress();
    bool mapped = false;
    if (const quint32 v4 = address.toIPv4Address(&mapped); mapped)
        address = QHostAddress(v4);
    submit(
        address.toString(), message.toUtf8(), [target] { return !target.isNull(); },
        [target](const Aria2Rpc::Reply& reply) {
            if (target && target->state() == QAbstractSocket::ConnectedState)
                target->sendTextMessage(QString::fromUtf8(reply.body));
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
