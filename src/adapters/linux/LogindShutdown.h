#pragma once

#include "platform/ShutdownService.h"

namespace torvaline {

// Asks logind over the system D-Bus to power off, reboot or end the user's session.
// logind decides on its own whether the user may do so (polkit); no privilege step is needed,
// and interactive authentication is never asked for, so an unattended request either
// succeeds or is refused at once.
class LogindShutdown final : public ShutdownService {
public:
    void enableShutdownPrivilege() override {}
    // force has no counterpart in logind: it always ends the session's programs without asking
    // them. A refusal is written to the log and the program goes on.
    void requestExit(ExitRequest request, bool force) override;
};

} // namespace torvaline
