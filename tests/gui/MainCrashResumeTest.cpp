#include "app/Main.h"
#include "app/TorvalineApp.h"
#include "cycle/RecoveryFormat.h"
#include "cycle/TorvalineCore.h"
#include "doubles/FakeDialogs.h"
#include "doubles/FakeShell.h"
#include "doubles/RecordingShutdown.h"
#include "doubles/TempDir.h"
#include "list/DownloadFolder.h"
#include "list/LinkLines.h"

#include <FileRoutes.h>
#include <HosterSim.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvaline::test {

namespace {

std::string readAll(const QString& path) {
    return readFile(path.toStdString());
}

TorvalineApp::Options optionsFor(const QString& state, const QString& folder) {
    TorvalineApp::Options options;
    options.defaultFolder = folder.toStdString();
    options.recoveryFolder = state.toStdString();
    return options;
}

} // namespace

// The first session of the crash test, in a child process the test kills: the whole program
// over the emulator, started on the links, left running until the kill (or, should the test
// die first, a minute).
int crashChildMain(const QStringList& arguments) {
    if (arguments.size() < 3)
        return 2;
    FakeDialogs dialogs;
    FakeShell shell;
    RecordingShutdownService shutdownService;
    TorvalineApp app(dialogs, shell, shutdownService, optionsFor(arguments[0], arguments[1]));
    app.form().show();
    app.offerRecovery();
    std::vector<std::string> links;
    for (qsizetype i = 2; i < arguments.size(); ++i)
        links.push_back(arguments[i].toStdString());
    AppendLinks(app.form().downloadList(), links);
    app.form().Edit2().setText(arguments[1].toStdString());
    app.core().StartDownload1Click();
    QTimer::singleShot(60000, [] { QCoreApplication::exit(3); });
    return QApplication::exec();
}

namespace {

// How the program is started again after the crash.
struct Restart {
    const char* name;
    bool folderGiven;    // --folder names the first session's folder
    bool defaultIsFirst; // the default folder is where the first session saved
    int startAfterMs;    // --start: 0; otherwise the user presses Start later
};

// The program is killed in the middle of a transfer; started again on the same state folder
// and answered Yes, it continues the cut file where it stopped and finishes the list with
// every file intact, in the folder the cut file lives in, whether or not a folder was given
// and whether the list is started at once or later.
void crashAndResume(const Restart& restart) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString state = tmp.path() + "/state";
    const QString folder = tmp.path() + "/Downloads";
    const QString otherDefault = tmp.path() + "/Default";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QDir().mkpath(otherDefault));
    hostersim::HosterSim sim;
    sim.start();
    const std::uint64_t bigSize = 3 * 1024 * 1024 + 17;
    const std::uint64_t smallSize = 70 * 1024;
    const std::vector<std::string> links{
        sim.rapidshareLink("ok", "big.bin", bigSize, 1, "rate=1048576"),
        sim.rapidshareLink("ok", "small.bin", smallSize, 1)};

    QProcess first;
    QStringList arguments{"--crash-child", state, folder};
    for (const std::string& link : links)
        arguments << QString::fromStdString(link);
    first.start(QCoreApplication::applicationFilePath(), arguments);
    ASSERT_TRUE(first.waitForStarted(10000));

    // Killed once the recovery file names the cut file and the file holds a good part.
    const QString recoveryFile = state + "/recovery.tsv";
    QString partialPath;
    const bool cutMidway = QTest::qWaitFor(
        [&] {
            for (const RecoveryRow& row : RecoveryFormat::decode(readAll(recoveryFile)).rows)
                if (!row.partialPath.empty())
                    partialPath = QString::fromStdString(row.partialPath);
            return !partialPath.isEmpty() && QFileInfo(partialPath).size() >= 512 * 1024;
        },
        30000);
    first.kill(); // SIGKILL, to our own child only
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(cutMidway) << "the first run never recorded its partial file: "
                           << first.readAllStandardError().toStdString();
    const qint64 kept = QFileInfo(partialPath).size();
    ASSERT_GT(kept, 0);
    ASSERT_LT(static_cast<std::uint64_t>(kept), bigSize);

    FakeDialogs dialogs;
    dialogs.answers = {Answer::Yes};
    FakeShell shell;
    RecordingShutdownService shutdownService;
    {
        TorvalineApp app(dialogs, shell, shutdownService,
                         optionsFor(state, restart.defaultIsFirst ? folder : otherDefault));
        app.form().show();
        // As the program does with a folder on its command line: set before the question.
        if (restart.folderGiven)
            app.form().Edit2().setText(folder.toStdString());
        app.offerRecovery();
        EXPECT_EQ(dialogs.questions,
                  std::vector<std::string>{"Torvaline did not close normally. Restore the 2 "
                                           "unfinished links of the last session?"});
        const DownloadList& list = app.form().downloadList();
        ASSERT_EQ(list.rowCount(), 3);
        // The restored rows save where the cut file is.
        EXPECT_EQ(app.form().Edit2().text(), folder.toStdString());
        if (restart.startAfterMs > 0)
            QTest::qWait(restart.startAfterMs);
        app.form().StartDownload1Click();
        const auto completed = [&] {
            return list.cell(1, DownloadList::Status) == "Completed" &&
                   list.cell(2, DownloadList::Status) == "Completed";
        };
        ASSERT_TRUE(QTest::qWaitFor(completed, 30000))
            << list.cell(1, DownloadList::Status) << " / " << list.cell(2, DownloadList::Status)
            << " / " << list.note(1) << " / " << list.note(2);
    }
    // The second run asked only for the rest of the cut file.
    std::vector<std::string> bigRanges;
    for (const hostersim::FileRequestRecord& r : hostersim::fileRequests(sim.server()))
        if (r.name == "big.bin")
            bigRanges.push_back(r.range);
    hostersim::releaseFileRoutes(sim.server());
    // The kept file's last 4 KiB are asked for again, to be compared with what it holds.
    EXPECT_EQ(bigRanges,
              (std::vector<std::string>{
                  "", "bytes=" + std::to_string(std::max<qint64>(0, kept - 4096)) + "-"}));
    sim.stop();

    for (const auto& [name, size] : {std::pair<QString, std::uint64_t>{"big.bin", bigSize},
                                     std::pair<QString, std::uint64_t>{"small.bin", smallSize}}) {
        QFile file(folder + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray data = file.readAll();
        ASSERT_EQ(static_cast<std::uint64_t>(data.size()), size) << name.toStdString();
        std::string expected(size, '\0');
        hostersim::fillContent(0, expected.data(), expected.size());
        EXPECT_TRUE(data.toStdString() == expected) << name.toStdString() << " is corrupted";
    }
    // Nothing else: no partial file stays behind, and the recovery file went with the end.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);
    EXPECT_TRUE(QDir(otherDefault).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(QFile::exists(recoveryFile));
}

TEST(MainCrashResume, ATransferCutByACrashIsContinuedAfterTheRestore) {
    for (const Restart& restart : {
             Restart{"--folder and --start", true, false, 0},
             Restart{"no --folder, the cut file beside another default, --start", false, false, 0},
             Restart{"no --folder, the default folder, Start pressed later", false, true, 1500},
         }) {
        SCOPED_TRACE(restart.name);
        crashAndResume(restart);
    }
}

// Killed the moment a finished file took its name: whether or not the recovery file caught
// up, the restore knows that row is done and offers only the rest, and nothing is fetched
// twice into "name (1).ext".
TEST(MainCrashResume, ARowFinishedJustBeforeTheCrashIsNotOfferedAgain) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString state = tmp.path() + "/state";
    const QString folder = tmp.path() + "/Downloads";
    ASSERT_TRUE(QDir().mkpath(folder));
    hostersim::HosterSim sim;
    sim.start();
    const std::uint64_t doneSize = 300 * 1024;
    const std::vector<std::string> links{
        sim.rapidshareLink("ok", "done.bin", doneSize, 1, "rate=102400"),
        sim.rapidshareLink("ok", "next.bin", 3 * 1024 * 1024, 30)};
    QProcess first;
    QStringList arguments{"--crash-child", state, folder};
    for (const std::string& link : links)
        arguments << QString::fromStdString(link);
    first.start(QCoreApplication::applicationFilePath(), arguments);
    ASSERT_TRUE(first.waitForStarted(10000));
    // The copy names the transfer's temporary file (as it does a second into a transfer);
    // then the file comes whole and takes its name.
    const QString done = folder + "/done.bin";
    const bool recorded = QTest::qWaitFor(
        [&] {
            for (const RecoveryRow& row :
                 RecoveryFormat::decode(readAll(state + "/recovery.tsv")).rows)
                if (!row.partialPath.empty())
                    return true;
            return false;
        },
        30000);
    const bool finished =
        recorded &&
        QTest::qWaitFor([&] { return QFileInfo(done).size() == static_cast<qint64>(doneSize); },
                        30000);
    first.kill(); // at once: the rename has happened, the copy may still say "Downloading..."
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(finished) << first.readAllStandardError().toStdString();
    hostersim::releaseFileRoutes(sim.server());
    sim.stop();

    FakeDialogs dialogs;
    dialogs.answers = {Answer::Yes};
    FakeShell shell;
    RecordingShutdownService shutdownService;
    TorvalineApp app(dialogs, shell, shutdownService, optionsFor(state, folder));
    app.form().show();
    app.form().Edit2().setText(folder.toStdString());
    app.offerRecovery();
    EXPECT_EQ(dialogs.questions,
              std::vector<std::string>{"Torvaline did not close normally. Restore the 1 "
                                       "unfinished links of the last session?"});
    const DownloadList& list = app.form().downloadList();
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.cell(1, DownloadList::URL), links[1]);
}

} // namespace
} // namespace torvaline::test
