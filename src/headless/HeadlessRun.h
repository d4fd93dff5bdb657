#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace torvaline {

class HosterProfiles;

// The download list run without a window: the very same core as the window (cycle, page rules,
// browser, transfers) over Qt's event loop, timers and clock, with a QCoreApplication and no
// display. It reports through RunReport, marks rows that would wait for a user as failed, never
// arms the shutdown, and ends when the list is done or on SIGINT/SIGTERM.
class HeadlessRun final {
public:
    struct Options {
        std::vector<std::string> listFiles;
        std::vector<std::string> links; // after the list files' rows
        std::string folder;             // created when missing
        // Bytes a second for all transfers together; 0: no limit.
        std::uint64_t speedLimit = 0;
        // Rows worked on at once, one a hoster.
        int lanes = 3;
        char decimalSeparator = '.';
        bool progressLine = false; // on a terminal only
        std::FILE* out = stdout;
        std::FILE* err = stderr;
        // How long a stop waits for the running transfer to let go of its file.
        std::chrono::milliseconds workerGrace{5000};
        // A row at rest this long (no page loading, no wait, no countdown, no transfer) leads
        // nowhere: a page without anything to act on. It is failed and the run goes on.
        std::chrono::milliseconds stallLimit{5000};
        // The rows' links are checked as they come (see LinkCheck).
        bool checkLinks = false;
        // The hoster profiles rows are handled by; null: the compiled-in ones. Must outlive
        // the run.
        const HosterProfiles* profiles = nullptr;
        // Keeps running when the list is done (or empty), waiting for links from the remote
        // control, until it is told to shut down or a signal comes.
        bool daemon = false;
        // The daemon keeps its list here against a crash or a stop, and takes back at start
        // the rows that had not completed; empty: nothing is kept.
        std::string recoveryFolder;
        struct Remote {
            bool on = false;
            std::uint16_t port = 6800;
            std::string secret;
            bool listenAll = false;
            std::string programVersion;
        } remote;
    };

    // The exit statuses besides 0 (every row completed) and 1 (some did not).
    static constexpr int SetupFailed = 2;

    // Needs a QCoreApplication (or QApplication) to exist.
    explicit HeadlessRun(Options options);
    ~HeadlessRun();
    HeadlessRun(const HeadlessRun&) = delete;
    HeadlessRun& operator=(const HeadlessRun&) = delete;

    // Imports the list files, starts the list and runs the event loop until the run ends.
    // Returns the program's exit status.
    int exec();

    // Stops the current row (its partial file removed) and ends the run with `status`. The
    // signal handling calls it with 128 + the signal's number.
    void stop(int status);

private:
    struct Parts;
    void setUp();
    void finish();
    void waitForTransferThenQuit();
    // Called every second: fails the current row once the cycle has been at rest too long.
    void checkStall();
    // The remote control added rows from `firstNewRow` on: start on them if the cycle is idle.
    void resumeAt(int firstNewRow);
    // Takes back the unfinished rows the last daemon left and keeps the list from then on.
    void keepListForRecovery();
    // The run ends: the copy stays while rows are left to do, so the next start goes on.
    void endRecovery();

    Options m_options;
    std::unique_ptr<Parts> m_parts;
    int m_stopStatus = -1; // set once a stop was asked for
    bool m_finished = false;
    // A daemon whose list is done (or empty): new rows start the cycle again.
    bool m_idle = false;
};

} // namespace torvaline
