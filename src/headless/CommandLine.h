#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace torvaline {

// What the program was asked to do on its command line:
//   torvaline [options] [LIST-FILE...]
// Parsed without any application object, so that --help, --version and every mistake are
// answered before a window (or a display) is needed.
struct CommandLine {
    enum class Action {
        Run,          // the window, or the headless run
        Help,         // print `text` on standard output, exit 0
        Version,      // likewise
        CheckHosters, // run the hoster profiles' test pages, print the outcome
        Error         // print `text` on standard error, exit `exitCode`
    };

    Action action = Action::Run;
    int exitCode = 0;
    QString text;

    QStringList listFiles;
    QString folder; // empty: the program's default
    bool start = false;
    bool headless = false;
    // Folders of hoster profiles besides the user's own (--hosters, in the order given).
    QStringList hosterDirs;
    // --check-hosters DIR: the profiles of that folder alone; empty: every profile in use.
    QString checkDir;
    // Links named on the command line (http and https), added after the list files.
    QStringList links;
    // Opens a window of its own instead of handing the links to the one that runs.
    bool newWindow = false;
    // --no-check: the rows' links are not checked as they come, for this run.
    bool noCheck = false;
    // --limit-rate: bytes a second for all transfers together, 0 for none; unset: the
    // window's remembered choice (the headless run has no limit then).
    std::optional<std::uint64_t> limitRate;
    // --max-concurrent-downloads: how many rows are worked on at once (1 to 8); unset: the
    // window's remembered choice, 3 without a window.
    std::optional<int> maxConcurrent;
    static constexpr int MaxConcurrentLimit = 8;
    // The headless core kept running, idle when its list is done, with the remote control on.
    bool daemon = false;
    // The remote control (aria2's JSON-RPC) in the window or the headless run.
    bool rpc = false;
    quint16 rpcPort = 6800;
    QString rpcSecret;
    bool rpcListenAll = false;

    // arguments[0] is the program as started. List files are checked to be readable files.
    static CommandLine parse(const QStringList& arguments);
    static QString helpText();
    static QString versionText();
    // A rate as curl's --limit-rate takes it: a number of bytes a second, whole or with a
    // fraction, with an optional K, M or G (powers of 1024, either case). "0" is no limit.
    // Nothing for anything else, or a rate beyond any network.
    static std::optional<std::uint64_t> parseRate(const QString& text);

    // The status of a command line the program cannot follow.
    static constexpr int UsageError = 2;
};

} // namespace torvaline
