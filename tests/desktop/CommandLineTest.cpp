#include "headless/CommandLine.h"
#include "doubles/TempDir.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace torvaline::test {
namespace {

TEST(CommandLine, EveryOptionAndEveryMistakeIsAnsweredAsTheUserExpects) {
    TempDir dir;
    const std::string list = dir.file("links.txt");
    std::ofstream(list) << "http://127.0.0.1/x\r\n";
    const std::string fifo = dir.file("pipe.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const QString l = QString::fromStdString(list);
    const QString d = QString::fromStdString(dir.path().string());

    using Action = CommandLine::Action;
    struct Case {
        QStringList args;
        Action action;
        int exitCode;
        QString text; // contained in the text printed
        QStringList files;
        QString folder;
        bool start;
        bool headless;
    };
    const std::vector<Case> cases{
        {{}, Action::Run, 0, {}, {}, {}, false, false},
        {{l}, Action::Run, 0, {}, {l}, {}, false, false},
        {{QStringLiteral("--help")},
         Action::Help,
         0,
         QStringLiteral("Usage: torvaline [options]"),
         {},
         {},
         false,
         false},
        {{QStringLiteral("-h"), l},
         Action::Help,
         0,
         QStringLiteral("--headless"),
         {},
         {},
         false,
         false},
        {{QStringLiteral("--version")},
         Action::Version,
         0,
         QStringLiteral("torvaline "),
         {},
         {},
         false,
         false},
        {{QStringLiteral("--folder"), QStringLiteral("/srv/dl"), QStringLiteral("--start"), l, l},
         Action::Run,
         0,
         {},
         {l, l},
         QStringLiteral("/srv/dl"),
         true,
         false},
        {{QStringLiteral("--folder=/srv/dl"), QStringLiteral("--headless"), l},
         Action::Run,
         0,
         {},
         {l},
         QStringLiteral("/srv/dl"),
         false,
         true},
        // Mistakes: status 2 and a message naming what is wrong.
        {{QStringLiteral("--bogus")},
         Action::Error,
         2,
         QStringLiteral("Unknown option 'bogus'"),
         {},
         {},
         false,
         false},
        {{QStringLiteral("--folder")},
         Action::Error,
         2,
         QStringLiteral("--folder"),
         {},
         {},
         false,
         false},
        {{QStringLiteral("--folder="), l},
         Action::Error,
         2,
         QStringLiteral("--folder needs a folder"),
         {},
         {},
         false,
         false},
        {{QStringLiteral("--folder=/a"), QStringLiteral("--folder=/b")},
         Action::Error,
         2,
         QStringLiteral("more than once"),
         {},
         {},
         false,
         false},
        {{l, d + QStringLiteral("/none.txt")},
         Action::Error,
         2,
         QStringLiteral("none.txt\" does not exist"),
         {},
         {},
         false,
         false},
        {{d}, Action::Error, 2, QStringLiteral("is a folder"), {}, {}, false, false},
        // A pipe would hold the import up for ever.
        {{QString::fromStdString(fifo)},
         Action::Error,
         2,
         QStringLiteral("not a regular file"),
         {},
         {},
         false,
         false},
        {{QStringLiteral("--headless")},
         Action::Error,
         2,
         QStringLiteral("--headless needs at least one list file"),
         {},
         {},
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const CommandLine line =
            CommandLine::parse(QStringList{QStringLiteral("torvaline")} + c.args);
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.exitCode, c.exitCode);
        EXPECT_TRUE(line.text.contains(c.text)) << line.text.toStdString();
        if (c.action == Action::Error) {
            EXPECT_TRUE(line.text.startsWith(QStringLiteral("torvaline: ")));
        }
        if (c.action != Action::Run)
            continue;
        EXPECT_EQ(line.listFiles, c.files);
        EXPECT_EQ(line.folder, c.folder);
        EXPECT_EQ(line.start, c.start);
        EXPECT_EQ(line.headless, c.headless);
    }
}

TEST(CommandLine, HosterFoldersAndTheirCheckAreTakenFromTheCommandLine) {
    TempDir dir;
    const QString d = QString::fromStdString(dir.path().string());
    const QString missing = d + QStringLiteral("/missing");
    const auto parse = [](const QStringList& args) {
        return CommandLine::parse(QStringList{QStringLiteral("torvaline")} + args);
    };
    using Action = CommandLine::Action;

    CommandLine line = parse({QStringLiteral("--hosters"), d, QStringLiteral("--hosters"), d});
    EXPECT_EQ(line.action, Action::Run);
    EXPECT_EQ(line.hosterDirs, (QStringList{d, d}));

    line = parse({QStringLiteral("--check-hosters")});
    EXPECT_EQ(line.action, Action::CheckHosters);
    EXPECT_TRUE(line.checkDir.isEmpty());
    // The folder is optional: an option after it is not taken for one.
    line = parse({QStringLiteral("--check-hosters"), QStringLiteral("--hosters"), d});
    EXPECT_EQ(line.action, Action::CheckHosters);
    EXPECT_TRUE(line.checkDir.isEmpty());
    EXPECT_EQ(line.hosterDirs, QStringList{d});
    line = parse({QStringLiteral("--check-hosters"), d});
    EXPECT_EQ(line.action, Action::CheckHosters);
    EXPECT_EQ(line.checkDir, d);

    for (const QStringList& wrong : {QStringList{QStringLiteral("--hosters"), missing},
                                     QStringList{QStringLiteral("--check-hosters"), missing},
                                     QStringList{QStringLiteral("--hosters")}}) {
        SCOPED_TRACE(wrong.join(QLatin1Char(' ')).toStdString());
        line = parse(wrong);
        EXPECT_EQ(line.action, Action::Error);
        EXPECT_EQ(line.exitCode, CommandLine::UsageError);
    }
}

TEST(CommandLine, LinksStandBesideListFilesAndNewWindowOptsOutOfTheHandOff) {
    TempDir dir;
    const std::string list = dir.file("links.txt");
    std::ofstream(list) << "http://127.0.0.1/x\r\n";
    const QString l = QString::fromStdString(list);
    const CommandLine line = CommandLine::parse(
        {"torvaline", "HTTPS://h.example/a", l, "http://h.example/b?x=[1-2]", "--new-window"});
    EXPECT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_EQ(line.links, (QStringList{"HTTPS://h.example/a", "http://h.example/b?x=[1-2]"}));
    EXPECT_EQ(line.listFiles, QStringList{l});
    EXPECT_TRUE(line.newWindow);
    EXPECT_FALSE(CommandLine::parse({"torvaline", l}).newWindow);
    // A link runs headless too; something that is neither is still a missing file.
    EXPECT_EQ(CommandLine::parse({"torvaline", "--headless", "http://h.example/a"}).action,
              CommandLine::Action::Run);
    EXPECT_EQ(CommandLine::parse({"torvaline", "ftp://h.example/a"}).exitCode, 2);
}

TEST(CommandLine, LimitRateTakesCurlsRatesAndRefusesTheRest) {
    struct Case {
        const char* arg;
        std::optional<std::uint64_t> rate; // nothing: a usage error
    };
    const std::vector<Case> cases{
        {"--limit-rate=1M", 1048576},
        {"--limit-rate=500k", 512000},
        {"--limit-rate=1.5M", 1572864},
        {"--limit-rate=2G", 2147483648ull},
        {"--limit-rate=64000", 64000},
        {"--limit-rate=0", 0},
        {"--limit-rate=", std::nullopt},
        {"--limit-rate=M", std::nullopt},
        {"--limit-rate=-1M", std::nullopt},
        {"--limit-rate=1e9", std::nullopt},
        {"--limit-rate=inf", std::nullopt},
        {"--limit-rate=1.2.3K", std::nullopt},
        {"--limit-rate=5T", std::nullopt},
        {"--limit-rate=99999999999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arg);
        const CommandLine line =
            CommandLine::parse({QStringLiteral("torvaline"), QString::fromLatin1(c.arg)});
        if (!c.rate) {
            EXPECT_EQ(line.action, CommandLine::Action::Error);
            EXPECT_EQ(line.exitCode, 2);
            EXPECT_TRUE(line.text.contains(QStringLiteral("--limit-rate")))
                << line.text.toStdString();
            continue;
        }
        EXPECT_EQ(line.action, CommandLine::Action::Run) << line.text.toStdString();
        EXPECT_EQ(line.limitRate, c.rate);
    }
    EXPECT_FALSE(CommandLine::parse({QStringLiteral("torvaline")}).limitRate);
}

} // namespace
} // namespace torvaline::test

namespace torvaline::test {
namespace {

// The remote control's options: a daemon needs no list file, listening beyond the machine needs
// a secret, and the port is a port.
TEST(CommandLine, RemoteControlOptionsAreCheckedBeforeAnythingListens) {
    const auto parse = [](QStringList args) {
        args.prepend(QStringLiteral("torvaline"));
        return CommandLine::parse(args);
    };
    const CommandLine daemon =
        parse({QStringLiteral("--daemon"), QStringLiteral("--rpc-secret"), QStringLiteral("s3"),
               QStringLiteral("--rpc-listen-port"), QStringLiteral("16800")});
    EXPECT_EQ(daemon.action, CommandLine::Action::Run);
    EXPECT_TRUE(daemon.daemon);
    EXPECT_TRUE(daemon.rpc);
    EXPECT_EQ(daemon.rpcPort, 16800);
    EXPECT_EQ(daemon.rpcSecret, QStringLiteral("s3"));
    EXPECT_EQ(parse({QStringLiteral("--rpc")}).rpcPort, 6800);
    for (const QStringList& wrong :
         {QStringList{QStringLiteral("--daemon"), QStringLiteral("--rpc-listen-all")},
          QStringList{QStringLiteral("--rpc"), QStringLiteral("--rpc-listen-port"),
                      QStringLiteral("70000")},
          QStringList{QStringLiteral("--rpc"), QStringLiteral("--rpc-listen-port"),
                      QStringLiteral("x")},
          QStringList{QStringLiteral("--rpc-secret"), QStringLiteral("s3")},
          QStringList{QStringLiteral("--daemon"), QStringLiteral("--headless")}}) {
        const CommandLine line = parse(wrong);
        EXPECT_EQ(line.action, CommandLine::Action::Error) << wrong.join(' ').toStdString();
        EXPECT_EQ(line.exitCode, CommandLine::UsageError);
    }

    // The secret from a file only its owner reads, or from the environment: never in `ps`.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("secret"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("from-the-file\n");
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(
        parse({QStringLiteral("--daemon"), QStringLiteral("--rpc-secret-file"), file}).rpcSecret,
        QStringLiteral("from-the-file"));
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    EXPECT_EQ(parse({QStringLiteral("--daemon"), QStringLiteral("--rpc-secret-file"), file}).action,
              CommandLine::Action::Error);
    qputenv("TORVALINE_RPC_SECRET", "from-the-environment");
    EXPECT_EQ(parse({QStringLiteral("--daemon")}).rpcSecret,
              QStringLiteral("from-the-environment"));
    qunsetenv("TORVALINE_RPC_SECRET");
}

} // namespace
} // namespace torvaline::test
