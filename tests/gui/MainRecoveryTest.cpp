#include "app/Main.h"
#include "app/TorvalineApp.h"
#include "cycle/RecoveryFormat.h"
#include "doubles/FakeDialogs.h"
#include "doubles/FakeShell.h"
#include "doubles/RecordingShutdown.h"
#include "doubles/TempDir.h"
#include "list/LinkLines.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace torvaline::test {
namespace {

std::string readAll(const QString& path) {
    return readFile(path.toStdString());
}

// The program's own wiring: the list reaches the recovery file within about a second of a
// change, a normal end removes it, and the next start offers back what a crash left.
TEST(MainRecovery, TheListSurvivesACrashButNotANormalEnd) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString recoveryFile = tmp.path() + "/state/recovery.tsv";
    FakeDialogs dialogs;
    FakeShell shell;
    RecordingShutdownService shutdownService;
    TorvalineApp::Options options;
    options.defaultFolder = (tmp.path() + "/Downloads").toStdString();
    options.recoveryFolder = (tmp.path() + "/state").toStdString();

    std::string crashCopy;
    {
        TorvalineApp app(dialogs, shell, shutdownService, options);
        app.offerRecovery();
        EXPECT_TRUE(dialogs.questions.empty());
        DownloadList& list = app.form().downloadList();
        AppendLinks(list, {"http://example.com/a", "http://example.com/b"});
        list.setCell(1, DownloadList::Status, "Completed");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return RecoveryFormat::decode(readAll(recoveryFile)).rows.size() == 2; }, 5000));
        // A transfer's progress is not worth a write; its status is.
        list.setCell(2, DownloadList::Speed, "07Kb/s");
        list.setCell(2, DownloadList::Status, "Downloading... ");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const auto rows = RecoveryFormat::decode(readAll(recoveryFile)).rows;
                return rows.size() == 2 && rows[1].status == "Downloading... ";
            },
            5000));
        crashCopy = readAll(recoveryFile);
    }
    EXPECT_FALSE(QFile::exists(recoveryFile)) << "a normal end leaves no recovery file";

    // What a crash at that moment would have left.
    {
        QFile file(recoveryFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(crashCopy.data(), static_cast<qint64>(crashCopy.size()));
    }
    dialogs.answers = {Answer::Yes};
    TorvalineApp app(dialogs, shell, shutdownService, options);
    app.offerRecovery();
    EXPECT_EQ(dialogs.questions, std::vector<std::string>{"Torvaline did not close normally. "
                                                          "Restore the 1 unfinished links of "
                                                          "the last session?"});
    const DownloadList& list = app.form().downloadList();
    ASSERT_EQ(list.rowCount(), 2);
    EXPECT_EQ(list.cell(1, DownloadList::URL), "http://example.com/b");
    EXPECT_EQ(list.cell(1, DownloadList::Status), "Waiting...");
}

} // namespace
} // namespace torvaline::test
