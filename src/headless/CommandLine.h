#pragma once

#include <QString>
#include <QStringList>

namespace torvaline {

// What the program was asked to do on its command line:
//   torvaline [options] [LIST-FILE...]
// Parsed without any application object, so that --help, --version and every mistake are
// answered before a window (or a display) is needed.
struct CommandLine {
    enum class Action {
        Run,     // the window, or the headless run
        Help,    // print `text` on standard output, exit 0
        Version, // likewise
        Error    // print `text` on standard error, exit `exitCode`
    };

    Action action = Action::Run;
    int exitCode = 0;
    QString text;

    QStringList listFiles;
    QString folder; // empty: the program's default
    bool start = false;
    bool headless = false;
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

    // The status of a command line the program cannot follow.
    static constexpr int UsageError = 2;
};

} // namespace torvaline
