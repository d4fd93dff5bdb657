#pragma once

#include "remote/RemoteCommands.h"
#include "remote/RowTable.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cstdint>
#include <functional>

namespace torvaline {

// The JSON-RPC methods of the remote protocol, over the row table and the commands. It reads
// requests as bytes and answers as bytes; the transports (HTTP, WebSocket) only carry them.
class Aria2Rpc final {
public:
    struct Options {
        QString secret; // empty: no token asked for
        QString programVersion;
        // Requests in one batch, and calls in one system.multicall, beyond which it is refused.
        int maxBatch = 10000;
        int maxCalls = 100000;
    };

    struct Reply {
        QByteArray body; // empty: nothing to send
        // A wrong secret was given: the transport answers late, to make guessing slow.
        bool unauthorized = false;
        // aria2.shutdown was answered: end the program once the reply is out.
        bool shutdown = false;
        // What HTTP says of it: 200, 400 for a refused single call, 500 for unreadable JSON.
        int httpStatus = 200;
    };

    Aria2Rpc(RowTable& rows, RemoteCommands& commands, Options options);

    Reply handle(const QByteArray& request);

    // The notification a front end hears for a change of status, as a message.
    static QByteArray notification(RowTable::Notice notice, std::uint64_t id);
    static QString gidText(std::uint64_t id);

    const QString& sessionId() const { return m_sessionId; }

private:
    // Whether every call of one request gives the secret (open methods need none).
    bool authorized(const QJsonValue& request) const;
    QJsonObject single(const QJsonValue& request, Reply& reply);
    // The result, or a JSON-RPC error object in `error`.
    QJsonValue call(const QString& method, QJsonArray params, QJsonObject& error, Reply& reply,
                    bool inMulticall);
    QJsonValue dispatch(const QString& method, const QJsonArray& params, Reply& reply);
    QJsonValue multicall(const QJsonArray& params, Reply& reply);

    QJsonObject statusObject(const RowTable::Row& row, const QJsonArray& keys) const;
    QJsonArray statusList(const std::vector<RowTable::Row>& rows, const QJsonArray& keys) const;
    QJsonValue tellRange(const QJsonArray& params, bool stopped) const;
    QJsonObject globalOptions() const;
    QJsonValue changeGlobalOption(const QJsonObject& options);
    QJsonValue addUri(const QJsonArray& params);
    QJsonValue changePosition(const QJsonArray& params);
    // The list rows of the waiting and paused rows, in the list's order.
    std::vector<int> waitingQueue() const;
    // Refuses a dir outside the download folder when no secret guards the calls.
    void checkDir(const QString& dir) const;
    std::uint64_t gidParam(const QJsonArray& params, int index) const;
    RowTable::Row rowParam(const QJsonArray& params, int index) const;

    RowTable& m_rows;
    RemoteCommands& m_commands;
    Options m_options;
    QString m_sessionId;
    std::int64_t m_rateLimit = 0;
};

} // namespace torvaline
