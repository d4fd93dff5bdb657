#include "headless/CommandLine.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#ifndef TORVALINE_VERSION
#define TORVALINE_VERSION "unknown"
#endif

namespace torvaline {

namespace {

const QString FolderOption = QStringLiteral("folder");
const QString StartOption = QStringLiteral("start");
const QString HeadlessOption = QStringLiteral("headless");
const QString DaemonOption = QStringLiteral("daemon");
const QString RpcOption = QStringLiteral("rpc");
const QString RpcPortOption = QStringLiteral("rpc-listen-port");
const QString RpcSecretOption = QStringLiteral("rpc-secret");
const QString RpcListenAllOption = QStringLiteral("rpc-listen-all");

CommandLine failure(const QString& message) {
    CommandLine line;
    line.action = CommandLine::Action::Error;
    line.exitCode = CommandLine::UsageError;
    line.text = QStringLiteral("torvaline: ") + message +
                QStringLiteral("\nTry 'torvaline --help' for more information.\n");
    return line;
}

// Why the list file cannot be imported, or empty when it can be read.
QString unreadable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("list file \"%1\" does not exist").arg(path);
    if (info.isDir())
        return QStringLiteral("list file \"%1\" is a folder").arg(path);
    // A pipe or a device would hold the import up for ever, or read without end.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(
            std::filesystem::path(QFile::encodeName(path).toStdString()), ec))
        return QStringLiteral("list file \"%1\" is not a regular file").arg(path);
    if (!info.isReadable())
        return QStringLiteral("list file \"%1\" cannot be read").arg(path);
    return {};
}

} // namespace

QString CommandLine::helpText() {
    return QStringLiteral(
        "Usage: torvaline [options] [LIST-FILE...]\n"
        "Downloads the links of one-click file hosters, one after the other.\n"
        "List files (one link a line) are imported as Import List does.\n"
        "\n"
        "Options:\n"
        "  -h, --help        Show this help and exit.\n"
        "  -v, --version     Show the version and exit.\n"
        "  --folder DIR      Save the downloads in DIR.\n"
        "  --start           Start the download once the list files are imported.\n"
        "  --headless        Download the list without a window (no display needed),\n"
        "                    print what happens and exit when the list is done:\n"
        "                    0 when every row completed, 1 otherwise, 130 or 143 when\n"
        "                    stopped by SIGINT or SIGTERM.\n"
        "  --daemon          Like --headless, but keep running when the list is done,\n"
        "                    with the remote control on, until aria2.shutdown or SIGTERM.\n"
        "  --rpc             Turn the remote control (aria2's JSON-RPC) on.\n"
        "  --rpc-listen-port N   Its port (6800).\n"
        "  --rpc-secret TOKEN    The secret its callers give as \"token:TOKEN\".\n"
        "  --rpc-listen-all  Listen on every address, not only on this machine's;\n"
        "                    needs --rpc-secret.\n"
        "\n"
        "A command line the program cannot follow ends it with status 2.\n");
}

QString CommandLine::versionText() {
    return QStringLiteral("torvaline " TORVALINE_VERSION "\n");
}

CommandLine CommandLine::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    const QCommandLineOption folder(FolderOption, {}, QStringLiteral("DIR"));
    const QCommandLineOption start(StartOption, {});
    const QCommandLineOption headless(HeadlessOption, {});
    const QCommandLineOption daemon(DaemonOption, {});
    const QCommandLineOption rpc(RpcOption, {});
    const QCommandLineOption rpcPort(RpcPortOption, {}, QStringLiteral("N"));
    const QCommandLineOption rpcSecret(RpcSecretOption, {}, QStringLiteral("TOKEN"));
    const QCommandLineOption rpcListenAll(RpcListenAllOption, {});
    parser.addOptions({help, version, folder, start, headless});
    parser.addOptions({daemon, rpc, rpcPort, rpcSecret, rpcListenAll});
    parser.addPositionalArgument(QStringLiteral("LIST-FILE"), {}, QStringLiteral("[LIST-FILE...]"));

    // A program name is needed in front; an empty list still parses.
    QStringList args = arguments;
    if (args.isEmpty())
        args << QStringLiteral("torvaline");
    if (!parser.parse(args))
        return failure(parser.errorText());

    CommandLine line;
    if (parser.isSet(help)) {
        line.action = Action::Help;
        line.text = helpText();
        return line;
    }
    if (parser.isSet(version)) {
        line.action = Action::Version;
        line.text = versionText();
        return line;
    }
    if (parser.values(folder).size() > 1)
        return failure(QStringLiteral("--folder is given more than once"));
    if (parser.isSet(folder)) {
        line.folder = parser.value(folder);
        if (line.folder.isEmpty())
            return failure(QStringLiteral("--folder needs a folder"));
    }
    line.start = parser.isSet(start);
    line.headless = parser.isSet(headless);
    line.listFiles = parser.positionalArguments();
    for (const QString& file : line.listFiles) {
        const QString why = unreadable(file);
        if (!why.isEmpty())
            return failure(why);
    }
    line.daemon = parser.isSet(daemon);
    line.rpc = line.daemon || parser.isSet(rpc);
    if (parser.values(rpcPort).size() > 1 || parser.values(rpcSecret).size() > 1)
        return failure(QStringLiteral("an --rpc option is given more than once"));
    if (parser.isSet(rpcPort)) {
        bool ok = false;
        const uint port = parser.value(rpcPort).toUInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return failure(QStringLiteral("--rpc-listen-port needs a port from 1 to 65535"));
        line.rpcPort = static_cast<quint16>(port);
    }
    if (parser.isSet(rpcSecret)) {
        line.rpcSecret = parser.value(rpcSecret);
        if (line.rpcSecret.isEmpty())
            return failure(QStringLiteral("--rpc-secret needs a secret"));
    }
    line.rpcListenAll = parser.isSet(rpcListenAll);
    if (line.rpcListenAll && line.rpcSecret.isEmpty())
        return failure(QStringLiteral("--rpc-listen-all needs --rpc-secret"));
    if ((parser.isSet(rpcPort) || parser.isSet(rpcSecret) || line.rpcListenAll) && !line.rpc)
        return failure(QStringLiteral("the --rpc- options need --rpc or --daemon"));
    if (line.daemon && line.headless)
        return failure(QStringLiteral("--daemon and --headless cannot be given together"));
    if (line.headless && line.listFiles.isEmpty())
        return failure(QStringLiteral("--headless needs at least one list file"));
    return line;
}

} // namespace torvaline
