#include "adapters/windows/WindowsShutdown.h"

#include <windows.h>

namespace torvaline {

void WindowsShutdown::enableShutdownPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

void WindowsShutdown::requestExit(ExitRequest request, bool force) {
    UINT flags = EWX_LOGOFF;
    switch (request) {
    case ExitRequest::LogOff:
        flags = EWX_LOGOFF;
        break;
    case ExitRequest::ShutDown:
        flags = EWX_SHUTDOWN;
        break;
    case ExitRequest::Restart:
        flags = EWX_REBOOT;
        break;
    }
    if (force)
        flags |= EWX_FORCE;
    ExitWindowsEx(flags, 0);
}

} // namespace torvaline
