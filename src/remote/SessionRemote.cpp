#include "remote/SessionRemote.h"

#include "cycle/DownloadCycle.h"
#include "cycle/TorvalineCore.h"
#include "platform/EventLoop.h"
#include "platform/TransferFacility.h"
#include "session/DownloadLanes.h"
#include "session/PackageFollowUp.h"

#include <memory>
#include <utility>

namespace torvaline {

CoreCommands::Hooks SessionRemote::commandsFor(DownloadSession& session, Hooks hooks) {
    CoreCommands::Hooks commands;
    DownloadSession* const s = &session;
    if (hooks.resume) {
        commands.resume = std::move(hooks.resume);
    } else {
        // As a list at rest does with rows a front end adds: they are started, once the
        // command that added them has answered.
        commands.resume = [s](int firstNewRow) {
            s->loop().post([s, firstNewRow] { s->lanes().startAt(firstNewRow); });
        };
    }
    // The row in a lane is held where it stands; one no lane has reached is passed over.
    commands.pause = [s](std::uint64_t id) {
        return s->lanes().pause(id) || s->core().cycle().holdRow(id);
    };
    commands.unpause = [s, resume = commands.resume](std::uint64_t id) {
        if (s->lanes().resume(id))
            return true;
        if (!s->core().cycle().releaseRow(id) && !s->core().cycle().retryRow(id))
            return false;
        if (resume)
            resume(s->list().rowOf(id));
        return true;
    };
    commands.maxDownloads = [s] { return s->lanes().limit(); };
    commands.solveCaptcha = [s](std::uint64_t id, const std::string& code) {
        return s->lanes().answerCaptcha(id, code);
    };
    commands.setMaxDownloads = [s](int lanes) { s->lanes().setLimit(lanes); };
    commands.saveSession = [s] { return s->saveRecoveryNow(); };
    commands.package = [s](std::uint64_t id) {
        const PackageFollowUp::RowPackage package = s->packages().packageOf(id);
        return RemoteCommands::Package{package.name, package.state};
    };
    commands.shutdown = std::move(hooks.shutdown);
    if (hooks.setRateLimit)
        commands.setRateLimit = std::move(hooks.setRateLimit);
    else
        commands.setRateLimit = [s](std::uint64_t limit) { s->facility().setSpeedLimit(limit); };
    return commands;
}

SessionRemote::SessionRemote(DownloadSession& session, RemoteControl::Options options, Hooks hooks)
    // The table reads the rows already on the list (list files, a restore, a window's
    // imports, a row already at work) where they stand.
    : m_rows(session.list())
    , m_commands(session.core(), session.list(), session.folder(), m_rows,
                 commandsFor(session, std::move(hooks)))
    , m_control(session.rowEvents(), m_rows, m_commands, std::move(options)) {}

QString SessionRemote::start(DownloadSession& session, RemoteControl::Options options,
                             Hooks hooks) {
    session.setRemote(nullptr);
    auto remote = std::make_unique<SessionRemote>(session, std::move(options), std::move(hooks));
    RemoteControl& control = remote->control();
    session.setRemote(std::move(remote));
    return control.start();
}

RemoteControl* SessionRemote::of(DownloadSession& session) {
    auto* remote = dynamic_cast<SessionRemote*>(session.remote());
    return remote ? &remote->control() : nullptr;
}

} // namespace torvaline
