#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// A child program's run: wall time and whether it ended well within its time limit.
struct ToolRun {
    double seconds = 0;
    bool ok = false;
};

// Runs argv[0] (looked up in PATH) with its output discarded (or written to `outputFile`),
// killed after timeoutSeconds.
ToolRun runTool(const std::vector<std::string>& argv, double timeoutSeconds,
                const std::string& outputFile = {});

// Starts argv in the background; the caller stops it with stopProcess.
pid_t startProcess(const std::vector<std::string>& argv);
// SIGTERM, then SIGKILL if it is still there after a few seconds.
void stopProcess(pid_t pid);

// A TCP port nobody listens on right now.
int freePort();
// Waits until something accepts on 127.0.0.1:port.
bool waitForPort(int port, double timeoutSeconds);

bool toolExists(const std::string& name);

} // namespace bench
