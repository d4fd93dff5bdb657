#include "MainWindowFixture.h"

#include "app/LinkIntake.h"
#include "app/SingleInstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>

namespace torvaline::test {

// The running window of the hand-off test, in a process of its own: a main window over fake
// dialogs that takes hand-offs, prints its links once one arrived and ends.
int handOffChildMain() {
    FakeDialogs dialogs;
    FakeShell shell;
    FakeBrowser browser;
    QTemporaryDir tmp;
    TForm1 form(browser, dialogs, shell, (tmp.path() + "/dl").toStdString());
    SingleInstance instance;
    bool received = false;
    const bool listening = instance.listen([&](const SingleInstance::HandOff& handOff) {
        std::vector<std::string> links, files;
        for (const QString& l : handOff.links)
            links.push_back(l.toStdString());
        for (const QString& f : handOff.files)
            files.push_back(f.toStdString());
        form.linkIntake().receiveHandOff(links, files, handOff.folder.toStdString(), handOff.start);
        received = true;
    });
    std::printf(listening ? "READY\n" : "NOT LISTENING\n");
    std::fflush(stdout);
    QElapsedTimer t;
    t.start();
    while (!received && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    for (int r = 1; r < form.downloadList().rowCount(); ++r)
        std::printf("ROW %s\n", form.downloadList().cell(r, DownloadList::URL).c_str());
    std::printf("FOLDER %s\n", form.Edit2().text().c_str());
    std::fflush(stdout);
    return received ? 0 : 1;
}

namespace {

QProcessEnvironment isolated(const QString& runtime) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("DISPLAY",
               QStringLiteral(":handoff-test-%1").arg(QCoreApplication::applicationPid()));
    env.remove("WAYLAND_DISPLAY");
    return env;
}

} // namespace

TEST(SingleInstance, ASecondStartHandsItsLinksAndListFilesToTheRunningWindowAndEnds) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    QFile list(runtime.filePath("more.txt"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("http://rapidshare.example/files/7/list.rar\r\n");
    list.close();

    QProcess window;
    QProcessEnvironment env = isolated(runtime.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    window.setProcessEnvironment(env);
    window.start(QCoreApplication::applicationFilePath(), {"--handoff-child"});
    ASSERT_TRUE(window.waitForReadyRead(15000));
    ASSERT_EQ(window.readLine(), "READY\n");

    // The second start needs no display to hand over: with a platform that does not exist it
    // could not open a window of its own even by mistake.
    QProcess second;
    QProcessEnvironment secondEnv = isolated(runtime.path());
    secondEnv.insert("QT_QPA_PLATFORM", "no-such-platform");
    second.setProcessEnvironment(secondEnv);
    second.setWorkingDirectory(runtime.path());
    second.start(TORVALINE_BINARY,
                 {"--folder", "dl2", "more.txt", "http://rapidshare.example/files/8/arg.rar"});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();

    ASSERT_TRUE(window.waitForFinished(15000));
    EXPECT_EQ(window.exitCode(), 0);
    const QByteArray out = window.readAllStandardOutput();
    EXPECT_EQ(out, "ROW http://rapidshare.example/files/7/list.rar\n"
                   "ROW http://rapidshare.example/files/8/arg.rar\n"
                   "FOLDER " +
                       runtime.filePath("dl2").toUtf8() + "\n");
}

TEST(SingleInstance, OneWindowListensAndAHandOffWithoutOneFailsAtOnce) {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    SingleInstance::HandOff handOff;
    handOff.links << "http://a.example/";
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(SingleInstance::handOff(handOff, 3000));
    EXPECT_LT(t.elapsed(), 2000);
    {
        SingleInstance first;
        EXPECT_TRUE(first.listen({}));
        SingleInstance second;
        EXPECT_FALSE(second.listen({})) << "the first one answers";
    }
    // A socket a crashed window left behind does not keep the next one from listening.
    QFile stale(SingleInstance::serverName());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    SingleInstance next;
    EXPECT_TRUE(next.listen({}));
    SingleInstance::HandOff bad;
    EXPECT_FALSE(SingleInstance::decode("{\"links\":[1],\"files\":[]}", bad));
    EXPECT_FALSE(SingleInstance::decode("{\"links\":[],\"files\":[\"rel.txt\"]}", bad));
    EXPECT_FALSE(SingleInstance::decode("not json", bad));
    qunsetenv("XDG_RUNTIME_DIR");
}

} // namespace torvaline::test
