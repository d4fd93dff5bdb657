#include "MainWindowFixture.h"
#include "WindowData.h"

#include "app/LinkIntake.h"
#include "app/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace torvaline::test {

// The running window of the hand-off test, in a process of its own: a main window over fake
// dialogs that takes hand-offs, prints its links once one arrived and ends.
int handOffChildMain() {
    FakeDialogs dialogs;
    FakeShell shell;
    FakeBrowser browser;
    QTemporaryDir tmp;
    const auto data = windowData((tmp.path() + "/dl").toStdString());
    TForm1 form(browser, dialogs, shell, *data);
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

// Without a runtime folder the socket's place can be guessed: another user who is there first
// must neither receive the links (with their keys) nor keep the window from opening.
TEST(SingleInstance, WithoutARuntimeFolderOnlyAFolderAndASocketOfTheUsersOwnAreUsed) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp.path().toUtf8());
    qunsetenv("XDG_RUNTIME_DIR");
    const QString folder = tmp.filePath(QStringLiteral("torvaline-%1").arg(::geteuid()));
    SingleInstance::HandOff handOff;
    handOff.links << "http://rapidshare.example/files/1/key.rar";
    const auto modeOf = [](const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777)
                                                                      : 07777u;
    };
    {
        // The folder is made the user's alone.
        EXPECT_EQ(QFileInfo(SingleInstance::serverName()).absolutePath(), folder);
        EXPECT_EQ(modeOf(folder), 0700u);
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TMPDIR", tmp.path());
        env.remove("XDG_RUNTIME_DIR");
        window.setProcessEnvironment(env);
        window.start(QCoreApplication::applicationFilePath(), {"--handoff-child"});
        ASSERT_TRUE(window.waitForReadyRead(15000));
        ASSERT_EQ(window.readLine(), "READY\n");
        const QString socket = SingleInstance::serverName();
        if (::geteuid() == 0) {
            // A socket of another user in its place is sent nothing.
            ASSERT_EQ(::chown(QFile::encodeName(socket).constData(), 65534, 65534), 0);
            EXPECT_FALSE(SingleInstance::handOff(handOff, 3000));
            ASSERT_EQ(::chown(QFile::encodeName(socket).constData(), 0, 0), 0);
        }
        EXPECT_TRUE(SingleInstance::handOff(handOff, 5000));
        ASSERT_TRUE(window.waitForFinished(15000));
        EXPECT_TRUE(window.readAllStandardOutput().startsWith(
            "ROW http://rapidshare.example/files/1/key.rar\n"));
    }
    QDir(folder).removeRecursively();

    // Someone else's doing in the folder's place: an open folder, a link to a folder that
    // looks right. Then there is no hand-over, and this start opens its own window.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    const struct {
        const char* what;
        std::function<void()> make;
    } traps[] = {
        {"a folder anyone may write",
         [&] {
             ASSERT_TRUE(QDir().mkdir(folder));
             ::chmod(QFile::encodeName(folder).constData(), 0777);
         }},
        {"a link to a private folder", [&] { ASSERT_TRUE(QFile::link(elsewhere.path(), folder)); }},
    };
    for (const auto& trap : traps) {
        SCOPED_TRACE(trap.what);
        trap.make();
        EXPECT_TRUE(SingleInstance::serverName().isEmpty());
        SingleInstance window;
        EXPECT_FALSE(window.listen({}));
        EXPECT_FALSE(SingleInstance::handOff(handOff, 3000));
        EXPECT_TRUE(QDir(elsewhere.path()).isEmpty()) << "nothing put where the link points";
        if (!QFile::remove(folder))
            QDir(folder).removeRecursively();
    }

    // A runtime folder others may write is no better than the temporary folder.
    QTemporaryDir open;
    ::chmod(QFile::encodeName(open.path()).constData(), 0777);
    qputenv("XDG_RUNTIME_DIR", open.path().toUtf8());
    EXPECT_EQ(QFileInfo(SingleInstance::serverName()).absolutePath(), folder);
    qunsetenv("XDG_RUNTIME_DIR");
    if (oldTmp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTmp);
}

} // namespace torvaline::test
