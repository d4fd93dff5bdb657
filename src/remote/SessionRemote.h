#pragma once

#include "remote/CoreCommands.h"
#include "remote/RemoteControl.h"
#include "remote/RowTable.h"
#include "session/DownloadSession.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace torvaline {

// The remote control over one session: the row table reading the session's list, the commands
// acting on its lanes and core, and the server. The session keeps it once started and ends it
// before anything else when it closes.
class SessionRemote final : public DownloadSession::Part {
public:
    // What a front end does for the remote control's commands.
    struct Hooks {
        // Ends the program once the answer is out. Required.
        std::function<void()> shutdown;
        // New rows came from row `firstNewRow` on; unset, a list at rest starts on them.
        std::function<void(int firstNewRow)> resume;
        // The limit for all transfers together; unset, the transfers are told alone.
        std::function<void(std::uint64_t bytesPerSecond)> setRateLimit;
    };

    // Opens the remote control over `session`, which keeps it (replacing one it had). Why it
    // could not listen, or an empty text.
    static QString start(DownloadSession& session, RemoteControl::Options options, Hooks hooks);
    // The remote control the session keeps; null when none was started.
    static RemoteControl* of(DownloadSession& session);

    SessionRemote(DownloadSession& session, RemoteControl::Options options, Hooks hooks);
    RemoteControl& control() { return m_control; }

private:
    static CoreCommands::Hooks commandsFor(DownloadSession& session, Hooks hooks);

    RowTable m_rows;
    CoreCommands m_commands;
    RemoteControl m_control;
};

} // namespace torvaline
