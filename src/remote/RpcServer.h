#pragma once

#include "remote/Aria2Rpc.h"
#include "remote/RowTable.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
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
        // Open connections beyond this are closed as they come.
        int maxConnections = 128;
        // A request (or WebSocket message) larger than this closes its connection.
        qint64 maxRequestBytes = 16 * 1024 * 1024;
        std::chrono::milliseconds unauthorizedDelay{1000};
        // An HTTP connection that sends nothing for this long is closed.
        std::chrono::milliseconds idleLimit{60000};
        // Without a secret, only pages served from this machine may talk to the daemon from a
        // browser; with one, the secret decides.
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
    void answerHttp(QTcpSocket* socket, const QByteArray& method, const QByteArray& path,
                    const QByteArray& origin, const QByteArray& body, bool close);
    void writeHttp(QTcpSocket* socket, int status, const QByteArray& reason, const QByteArray& body,
                   bool close);
    void takeWebSockets();
    void webSocketMessage(QWebSocket* socket, const QString& message);
    void afterReply(const Aria2Rpc::Reply& reply, std::function<void()> send);
    // A request and its answer were handled: their many small pieces are freed, but the heap
    // keeps the pages. Once a megabyte of them went by, and the answer is on its way, they go
    // back to the system.
    void releaseMemoryAfter(qsizetype bytes);
    bool originAllowed(const QByteArray& origin) const;

    Aria2Rpc& m_rpc;
    Options m_options;
    quint16 m_port = 0;
    std::unique_ptr<RpcHttpFront> m_front;
    std::unique_ptr<QWebSocketServer> m_webSocketServer;
    std::vector<RpcTcpServer*> m_listeners;
    std::vector<std::unique_ptr<QWebSocket>> m_webSockets;
    std::function<void()> m_onShutdown;
    QTimer* m_release = nullptr;
    qsizetype m_handledBytes = 0; // since the heap was last given back
};

} // namespace torvaline
