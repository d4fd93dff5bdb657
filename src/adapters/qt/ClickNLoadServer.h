#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <string>

class QTcpServer;
class QTcpSocket;

namespace torvaline {

// The local protocol through which link sites and browser add-ons hand links to a download
// manager ("Click'n'Load"): HTTP on 127.0.0.1, port 9666.
//   GET  /jdcheck.js         "jdownloader=true;", how a page finds out that someone listens
//   GET  /flash/             a sign of life
//   GET  /crossdomain.xml    the policy old plug-ins ask for
//   POST /flash/add          urls (one a line), source, package
//   POST /flash/addcrypted2  crypted (base64 AES-128-CBC), jk (a script function that returns
//                            the key in hex), source, package
// Any web page can post to that port, so what arrives is only handed on, never acted on: the
// program asks the user. The script in jk is never run; only the hex literal it returns is
// read. Requests are bounded in size, in number at once and in rate; one request a connection.
class ClickNLoadServer final : public QObject {
    Q_OBJECT

public:
    static constexpr quint16 DefaultPort = 9666;

    struct Batch {
        std::string source;  // the page that sent it, as it says
        std::string package; // the name it gives the links, as it says
        std::string links;   // the links' text, one a line (decrypted for addcrypted2)
    };
    enum class Verdict {
        Accepted, // 200 "success"
        Rejected, // 400: nothing to add
        Busy      // 429: the user has enough to answer already
    };
    struct Limits {
        int maxHeaderBytes = 16 * 1024;
        int maxBodyBytes = 1024 * 1024;
        int maxConnections = 8;
        // A bucket of requests, refilled at so many a second.
        int burst = 20;
        int perSecond = 5;
        int requestMs = 10000; // the longest a request may take to arrive
    };

    explicit ClickNLoadServer(std::function<Verdict(Batch)> onBatch, QObject* parent = nullptr);
    ClickNLoadServer(std::function<Verdict(Batch)> onBatch, Limits limits,
                     QObject* parent = nullptr);
    ~ClickNLoadServer() override;

    // Listens on 127.0.0.1 only; port 0 picks a free one. Already listening is a success. A
    // failure's reason is the socket's own text ("The bound address is already in use").
    Result<void> listen(quint16 port);
    void close();
    bool isListening() const;
    quint16 port() const;

    // The key a jk function returns: the 16 bytes of its first return's hex literal, or none.
    static std::optional<QByteArray> keyFromJk(const QByteArray& jk);
    // crypted decrypted with key as key and IV; the zero padding is dropped. None when it is
    // not base64 of whole blocks.
    static std::optional<QByteArray> decrypt(const QByteArray& crypted, const QByteArray& key);

private:
    struct Request;
    void accept();
    void read(QTcpSocket* socket);
    // Handles a whole request; returns the status and the body of the answer.
    std::pair<int, QByteArray> answer(const Request& request);
    void reply(QTcpSocket* socket, int status, const QByteArray& body,
               const QByteArray& type = "text/plain");
    bool takeToken();

    std::function<Verdict(Batch)> m_onBatch;
    Limits m_limits;
    QTcpServer* m_server;
    int m_connections = 0;
    double m_tokens;
    QElapsedTimer m_refill;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

} // namespace torvaline
