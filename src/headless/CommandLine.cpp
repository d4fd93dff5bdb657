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
const QString LimitRateOption = QStringLiteral("limit-rate");

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
        "  --limit-rate RATE Receive at most RATE bytes a second, all transfers\n"
        "                    together; K, M and G multiply by 1024 (500K, 2M).\n"
        "                    0 is no limit.\n"
        "  --headless        Download the list without a window (no display needed),\n"
        "                    print what happens and exit when the list is done:\n"
        "                    0 when every row completed, 1 otherwise, 130 or 143 when\n"
        "                    stopped by SIGINT or SIGTERM.\n"
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
    const QCommandLineOption limitRate(LimitRateOption, {}, QStringLiteral("RATE"));
    parser.addOptions({help, version, folder, start, headless, limitRate});
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
    if (parser.values(limitRate).size() > 1)
        return failure(QStringLiteral("--limit-rate is given more than once"));
    if (parser.isSet(limitRate)) {
        line.limitRate = parseRate(parser.value(limitRate));
        if (!line.limitRate)
            return failure(
                QStringLiteral("--limit-rate needs a rate such as 500K or 2M, not \"%1\"")
                    .arg(parser.value(limitRate)));
    }
    line.start = parser.isSet(start);
    line.headless = parser.isSet(headless);
    line.listFiles = parser.positionalArguments();
    for (const QString& file : line.listFiles) {
        const QString why = unreadable(file);
        if (!why.isEmpty())
            return failure(why);
    }
    if (line.headless && line.listFiles.isEmpty())
        return failure(QStringLiteral("--headless needs at least one list file"));
    return line;
}

} // namespace torvaline
