#include "headless/CommandLine.h"

#include "transfer/SpeedLimitText.h"

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
const QString NewWindowOption = QStringLiteral("new-window");
const QString NoCheckOption = QStringLiteral("no-check");

bool isLink(const QString& argument) {
    return argument.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           argument.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}
const QString LimitRateOption = QStringLiteral("limit-rate");
const QString MaxConcurrentOption = QStringLiteral("max-concurrent-downloads");
const QString DaemonOption = QStringLiteral("daemon");
const QString RpcOption = QStringLiteral("rpc");
const QString RpcPortOption = QStringLiteral("rpc-listen-port");
const QString RpcSecretOption = QStringLiteral("rpc-secret");
const QString RpcListenAllOption = QStringLiteral("rpc-listen-all");
const QString RpcSecretFileOption = QStringLiteral("rpc-secret-file");
const char* const SecretVariable = "TORVALINE_RPC_SECRET";

// The secret's first line, or why the file cannot hold one: a file others may read or change
// gives the secret away, as ssh refuses such a key.
QString secretFrom(const QString& file, QString& secret) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("--rpc-secret-file: cannot read %1: %2").arg(file, f.errorString());
    const QFileDevice::Permissions open =
        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::WriteGroup;
    if (f.permissions() & open)
        return QStringLiteral("--rpc-secret-file: %1 may be read or changed by other users "
                              "(chmod 600 it)")
            .arg(file);
    secret = QString::fromUtf8(f.readLine(4096)).trimmed();
    if (secret.isEmpty())
        return QStringLiteral("--rpc-secret-file: %1 holds no secret").arg(file);
    return {};
}

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
        "List files (one link a line) are imported as Import List does; links given\n"
        "in their place (http://, https://) are added as rows.\n"
        "\n"
        "Options:\n"
        "  -h, --help        Show this help and exit.\n"
        "  -v, --version     Show the version and exit.\n"
        "  --folder DIR      Save the downloads in DIR.\n"
        "  --start           Start the download once the list files are imported.\n"
        "  --new-window      Open a window of its own; without it, links and list files\n"
        "                    go to the window that runs already, and the program ends.\n"
        "  --limit-rate RATE Receive at most RATE bytes a second, all transfers\n"
        "                    together; K, M and G multiply by 1024 (500K, 2M).\n"
        "                    0 is no limit.\n"
        "  --no-check        Do not check the links as they are added (their pages are\n"
        "                    otherwise fetched in the background to show each file's\n"
        "                    state, name and size); for this run only.\n"
        "  --max-concurrent-downloads N\n"
        "                    Work on up to N rows at once (1 to 8, 3 unless the window\n"
        "                    remembers another), one row per hoster at a time.\n"
        "  --headless        Download the list without a window (no display needed),\n"
        "                    print what happens and exit when the list is done:\n"
        "                    0 when every row completed, 1 otherwise, 130 or 143 when\n"
        "                    stopped by SIGINT or SIGTERM.\n"
        "  --hosters DIR     Also read the hoster profiles (*.toml) in DIR, after those in\n"
        "                    $XDG_CONFIG_HOME/torvaline/hosters.\n"
        "  --check-hosters [DIR]\n"
        "                    Run the test pages of the hoster profiles in DIR (or of every\n"
        "                    profile in use), print one line a page and exit: 0 when all\n"
        "                    hold, 1 otherwise.\n"
        "  --daemon          Like --headless, but keep running when the list is done,\n"
        "                    with the remote control on, until aria2.shutdown or SIGTERM.\n"
        "  --rpc             Turn the remote control (aria2's JSON-RPC) on.\n"
        "  --rpc-listen-port N   Its port (6800).\n"
        "  --rpc-secret TOKEN    The secret its callers give as \"token:TOKEN\".\n"
        "  --rpc-secret-file FILE  The secret as the first line of FILE (mode 600), kept\n"
        "                    out of the process list; so is TORVALINE_RPC_SECRET.\n"
        "  --rpc-listen-all  Listen on every address, not only on this machine's;\n"
        "                    needs --rpc-secret.\n"
        "\n"
        "A command line the program cannot follow ends it with status 2.\n");
}

QString CommandLine::versionText() {
    return QStringLiteral("torvaline " TORVALINE_VERSION "\n");
}

std::optional<std::uint64_t> CommandLine::parseRate(const QString& text) {
    return parseSpeedLimit(text.toStdString());
}

CommandLine CommandLine::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    const QCommandLineOption folder(FolderOption, {}, QStringLiteral("DIR"));
    const QCommandLineOption start(StartOption, {});
    const QCommandLineOption headless(HeadlessOption, {});
    const QCommandLineOption hosters(QStringLiteral("hosters"), {}, QStringLiteral("DIR"));
    const QCommandLineOption newWindow(NewWindowOption, {});
    const QCommandLineOption noCheck(NoCheckOption, {});
    const QCommandLineOption limitRate(LimitRateOption, {}, QStringLiteral("RATE"));
    const QCommandLineOption daemon(DaemonOption, {});
    const QCommandLineOption rpc(RpcOption, {});
    const QCommandLineOption rpcPort(RpcPortOption, {}, QStringLiteral("N"));
    const QCommandLineOption maxConcurrent(MaxConcurrentOption, {}, QStringLiteral("N"));
    const QCommandLineOption rpcSecret(RpcSecretOption, {}, QStringLiteral("TOKEN"));
    const QCommandLineOption rpcListenAll(RpcListenAllOption, {});
    const QCommandLineOption rpcSecretFile(RpcSecretFileOption, {}, QStringLiteral("FILE"));
    parser.addOptions({help, version, folder, start, headless, hosters, newWindow, limitRate});
    parser.addOptions({daemon, rpc, rpcPort, rpcSecret, rpcListenAll, rpcSecretFile});
    parser.addOptions({maxConcurrent, noCheck});
    parser.addPositionalArgument(QStringLiteral("LIST-FILE"), {}, QStringLiteral("[LIST-FILE...]"));

    // A program name is needed in front; an empty list still parses.
    QStringList args = arguments;
    if (args.isEmpty())
        args << QStringLiteral("torvaline");
    // Its folder is optional, which the parser cannot express: taken out first.
    bool checkHosters = false;
    QString checkDir;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] != QStringLiteral("--check-hosters"))
            continue;
        checkHosters = true;
        if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-'))) {
            checkDir = args[i + 1];
            args.removeAt(i + 1);
        }
        args.removeAt(i);
        --i;
    }
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
    line.hosterDirs = parser.values(hosters);
    for (const QString& dir : line.hosterDirs) {
        if (!QFileInfo(dir).isDir())
            return failure(QStringLiteral("hoster folder \"%1\" is not a folder").arg(dir));
    }
    if (checkHosters) {
        if (!checkDir.isEmpty() && !QFileInfo(checkDir).isDir())
            return failure(QStringLiteral("hoster folder \"%1\" is not a folder").arg(checkDir));
        line.action = Action::CheckHosters;
        line.checkDir = checkDir;
        return line;
    }
    if (parser.values(limitRate).size() > 1)
        return failure(QStringLiteral("--limit-rate is given more than once"));
    if (parser.isSet(limitRate)) {
        line.limitRate = parseRate(parser.value(limitRate));
        if (!line.limitRate)
            return failure(
                QStringLiteral("--limit-rate needs a rate such as 500K or 2M, not \"%1\"")
                    .arg(parser.value(limitRate)));
    }
    if (parser.values(maxConcurrent).size() > 1)
        return failure(QStringLiteral("--max-concurrent-downloads is given more than once"));
    if (parser.isSet(maxConcurrent)) {
        bool ok = false;
        const int n = parser.value(maxConcurrent).toInt(&ok);
        if (!ok || n < 1 || n > MaxConcurrentLimit)
            return failure(QStringLiteral("--max-concurrent-downloads needs a number from 1 to %1")
                               .arg(MaxConcurrentLimit));
        line.maxConcurrent = n;
    }
    line.start = parser.isSet(start);
    line.headless = parser.isSet(headless);
    line.newWindow = parser.isSet(newWindow);
    line.noCheck = parser.isSet(noCheck);
    for (const QString& argument : parser.positionalArguments())
        (isLink(argument) ? line.links : line.listFiles) << argument;
    for (const QString& file : line.listFiles) {
        const QString why = unreadable(file);
        if (!why.isEmpty())
            return failure(why);
    }
    line.daemon = parser.isSet(daemon);
    line.rpc = line.daemon || parser.isSet(rpc);
    if (parser.values(rpcPort).size() > 1 || parser.values(rpcSecret).size() > 1 ||
        parser.values(rpcSecretFile).size() > 1)
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
    if (parser.isSet(rpcSecretFile)) {
        if (parser.isSet(rpcSecret))
            return failure(QStringLiteral("--rpc-secret and --rpc-secret-file exclude each other"));
        if (const QString why = secretFrom(parser.value(rpcSecretFile), line.rpcSecret);
            !why.isEmpty())
            return failure(why);
    }
    if (line.rpcSecret.isEmpty())
        line.rpcSecret = qEnvironmentVariable(SecretVariable).trimmed();
    line.rpcListenAll = parser.isSet(rpcListenAll);
    if (line.rpcListenAll && line.rpcSecret.isEmpty())
        return failure(QStringLiteral("--rpc-listen-all needs --rpc-secret"));
    if ((parser.isSet(rpcPort) || parser.isSet(rpcSecret) || parser.isSet(rpcSecretFile) ||
         line.rpcListenAll) &&
        !line.rpc)
        return failure(QStringLiteral("the --rpc- options need --rpc or --daemon"));
    if (line.daemon && line.headless)
        return failure(QStringLiteral("--daemon and --headless cannot be given together"));
    if (line.headless && line.listFiles.isEmpty() && line.links.isEmpty())
        return failure(QStringLiteral("--headless needs at least one list file"));
    return line;
}

} // namespace torvaline
