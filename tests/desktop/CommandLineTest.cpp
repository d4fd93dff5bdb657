#include "headless/CommandLine.h"
#include "doubles/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
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
}

} // namespace
} // namespace torvaline::test
