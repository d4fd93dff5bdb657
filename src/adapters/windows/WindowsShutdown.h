#pragma once

#include "platform/ShutdownService.h"

namespace torvaline {

// The Windows end-of-session requests: the shutdown privilege is enabled on the process token,
// then ExitWindowsEx asks for log off, shut down or restart. Failures are not reported; the
// program simply goes on.
class WindowsShutdown final : public ShutdownService {
public:
    void enableShutdownPrivilege() override;
    void requestExit(ExitRequest request, bool force) override;
};

} // namespace torvaline
