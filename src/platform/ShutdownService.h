#pragma once

namespace torvaline {

enum class ExitRequest { LogOff, ShutDown, Restart };

// The operating system's end-of-session requests.
class ShutdownService {
public:
    virtual ~ShutdownService() = default;
    virtual void enableShutdownPrivilege() = 0;
    virtual void requestExit(ExitRequest request, bool force) = 0;
};

} // namespace torvaline
