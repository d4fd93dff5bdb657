#pragma once

#include "remote/Aria2Rpc.h"
#include "remote/RowTable.h"
#include "remote/RpcServer.h"

#include <QString>

#include <chrono>
#include <memory>

namespace torvaline {

class RemoteCommands;
class RowEventHub;

// The remote control of one running list: the row table listening to the core's row events,
// the protocol's methods and the server that carries them.
class RemoteControl final {
public:
    struct Options {
        quint16 port = 6800;
        bool listenAll = false;
        QString secret;
        QString programVersion;
        // Left at zero: the server's own.
        std::chrono::milliseconds idleLimit{0};
        std::chrono::milliseconds headerDeadline{0};
    };

    // The table hears the row events from here on; commands may find rows through it.
    RemoteControl(RowEventHub& events, RowTable& rows, RemoteCommands& commands, Options options);
    ~RemoteControl();
    RemoteControl(const RemoteControl&) = delete;
    RemoteControl& operator=(const RemoteControl&) = delete;

    // Opens the port; returns why it could not, or an empty text.
    QString start();
    quint16 port() const { return m_server->port(); }
    RowTable& rows() { return m_rows; }
    RpcServer& server() { return *m_server; }

private:
    RowEventHub& m_events;
    RowTable& m_rows;
    RemoteCommands& m_commands;
    std::unique_ptr<Aria2Rpc> m_rpc;
    std::unique_ptr<RpcServer> m_server;
};

} // namespace torvaline
