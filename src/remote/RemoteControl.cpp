#include "remote/RemoteControl.h"

#include "cycle/RowEventHub.h"
#include "remote/RemoteCommands.h"

namespace torvaline {

RemoteControl::RemoteControl(RowEventHub& events, RowTable& rows, RemoteCommands& commands,
                             Options options)
    : m_events(events)
    , m_rows(rows)
    , m_commands(commands) {
    m_rpc = std::make_unique<Aria2Rpc>(m_rows, commands,
                                       Aria2Rpc::Options{options.secret, options.programVersion});
    RpcServer::Options serverOptions;
    serverOptions.port = options.port;
    serverOptions.listenAll = options.listenAll;
    serverOptions.secretSet = !options.secret.isEmpty();
    if (options.idleLimit.count() > 0)
        serverOptions.idleLimit = options.idleLimit;
    if (options.headerDeadline.count() > 0)
        serverOptions.headerDeadline = options.headerDeadline;
    m_server = std::make_unique<RpcServer>(*m_rpc, serverOptions);
    m_server->setOnShutdown([this] { m_commands.shutdown(); });
    m_rows.setNotify(
        [this](RowTable::Notice notice, std::uint64_t id) { m_server->notify(notice, id); });
    m_events.add(m_rows);
}

RemoteControl::~RemoteControl() {
    m_events.remove(m_rows);
    m_rows.setNotify({});
}

QString RemoteControl::start() {
    return m_server->listen();
}

} // namespace torvaline
