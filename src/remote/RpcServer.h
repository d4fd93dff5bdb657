#pragma once

#include "remote/Aria2Rpc.h"
#include "remote/RowTable.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QTcpSocket;
class QTimer;
class QWebSocket;
class QWebSocketServer;

namespace torvaline {

class RpcHttpFront;
class RpcTcpServer;

// Carries the remote protocol over HTTP (POST /jsonrpc) and WebSocket (/jsonrpc) on one port,
// and pushes the notifications to every WebSocket client. It listens on the loopback addresses
// unless told otherwise.
class RpcServer final : public QObject {
    Q_OBJECT

public:
    struct Options {
        quint16 port = 6800;
        bool listenAll = false;
        // Open connections in all, and from one peer address. Past either, the connection of
        // that peer (or of the busiest one) that has been silent longest makes room, so that a
        // flood of idle sockets never locks a newcomer out.
        int maxConnections = 128;
        int maxPerPeer = 32;
        // A request (or WebSocket message) larger than this closes its connection.
        qint64 maxRequestBytes = 16 * 1024 * 1024;
        // A wrong secret is answered after this; each further one from the same peer doubles
        // it, up to the cap, and the peer's requests wait their turn meanwhile.
        std::chrono::milliseconds unauthorizedDelay{1000};
        std::chrono::milliseconds maxUnauthorizedDelay{16000};
        // A connection (HTTP or WebSocket) that sends nothing for this long is closed; a
        // WebSocket is pinged at half of it, and a live client's pong keeps it.
        std::chrono::milliseconds idleLimit{60000};
        // A request whose head is not in by then is cut: a byte every few seconds keeps a
        // connection from being idle, and must not keep it for ever.
        std::chrono::milliseconds headerDeadline{10000};
        // Without a secret, only programs, add-ons and pages served from this machine may talk
        // to the daemon; with one, the secret decides.
        bool secretSet = false;
    };

    RpcServer(Aria2Rpc& rpc, Options options, QObject* parent = nullptr);
    ~RpcServer() override;

    // Returns an empty text on success, or why the port could not be opened.
    QString listen();
    quint16 port() const { return m_port; }

    // Sends a notification to every WebSocket client.
    void notify(RowTable::Notice notice, std::uint64_t id);
    // Called once the answer to aria2.shutdown has been handed to its connection.
    void setOnShutdown(std::function<void()> onShutdown) { m_onShutdown = std::move(onShutdown); }

    int openConnections() const;

private:
    friend class RpcHttpFront;
    friend class RpcTcpServer;
    struct HttpRequest {
        QByteArray method;
        QUrl url;
        QByteArray origin, referer, fetchSite, host, requestHeaders;
        QByteArray body;
        bool close = false;
    };
    void answerHttp(QTcpSocket* socket, const HttpRequest& request);
    void writeHttp(QTcpSocket* socket, int status, const QByteArray& reason, const QByteArray& body,
                   bool close, const QByteArray& type = "application/json-rpc");
    // Whether a request head from `peer` may go on; refused, it was answered already.
    bool admitted(const QByteArray& origin, const QByteArray& referer, const QByteArray& fetchSite,
                  const QByteArray& host) const;
    void takeWebSockets();
    void webSocketMessage(QWebSocket* socket, const QString& message);
    // Runs the request now, or after the peer's penalty for wrong secrets; `send` gets the
    // reply, late when the secret was wrong. `alive` says whether the sender is still there.
    void submit(const QString& peer, QByteArray request, std::function<bool()> alive,
                std::function<void(const Aria2Rpc::Reply&)> send);
    void runNext(const QString& peer);
    void deliver(const Aria2Rpc::Reply& reply,
                 const std::function<void(const Aria2Rpc::Reply&)>& send);
    void logRefusals();
    // A request and its answer were handled: their many small pieces are freed, but the heap
    // keeps the pages. Once a megabyte of them went by, and the answer is on its way, they go
    // back to the system.
    void releaseMemoryAfter(qsizetype bytes);

    Aria2Rpc& m_rpc;
    Options m_options;
    quint16 m_port = 0;
    std::unique_ptr<RpcHttpFront> m_front;
    std::unique_ptr<QWebSocketServer> m_webSocketServer;
    std::vector<RpcTcpServer*> m_listeners;
    std::vector<std::unique_ptr<QWebSocket>> m_webSockets;
    std::function<void()> m_onShutdown;
    QTimer* m_release = nullptr;
    QTimer* m_ping = nullptr;
    QTimer* m_log = nullptr;
    struct Waiting {
        QByteArray request;
        std::function<bool()> alive;
        std::function<void(const Aria2Rpc::Reply&)> send;
    };
    struct Peer {
        int strikes = 0;
        qint64 lastStrike = 0;
        qint64 blockedUntil = 0;
        int refusedSinceLog = 0;
        bool armed = false;
        std::deque<Waiting> waiting;
    };
    std::map<QString, Peer> m_peers;
    qsizetype m_handledBytes = 0; // since the heap was last given back
};

} // namespace torvaline
