#include "adapters/qt/QtShutdownNotice.h"
#include "app/CaptchaPrompt.h"
#include "app/DownloadGrid.h"
#include "app/LanesControl.h"
#include "app/LinkIntake.h"
#include "app/Main.h"
#include "app/TorvalineApp.h"
#include "cycle/TorvalineCore.h"
#include "dialogs/DownOpt.h"
#include "doubles/FakeDialogs.h"
#include "doubles/FakeShell.h"
#include "doubles/RecordingShutdown.h"
#include "hosters/ProfileLoader.h"
#include "pages/HosterProfiles.h"
#include "session/DownloadSession.h"
#include "session/PackageFollowUp.h"

#include <FileRoutes.h>
#include <HosterSim.h>
#include <HosterSites.h>
#include <XfsPages.h>

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace torvaline::test {
namespace {

// The whole program in its window, over the emulator on 127.0.0.1 and Qt's real timers:
// every wait below is real time, so the countdowns are a second long.
class MainCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.isValid());
        sim.start();
        folder = (m_tmp.path() + "/Downloads").toStdString();
        TorvalineApp::Options options;
        options.defaultFolder = folder;
        app = std::make_unique<TorvalineApp>(dialogs, shell, shutdownService, options);
        form().show();
    }
    void TearDown() override {
        app.reset();
        sim.stop();
    }

    TForm1& form() { return app->form(); }
    DownloadList& list() { return form().downloadList(); }
    QToolButton* button(const char* name) {
        auto* b = form().findChild<QToolButton*>(QString::fromLatin1(name));
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    QAction* action(const char* name) {
        auto* a = form().findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(a, nullptr) << name;
        return a;
    }

    // Imports the links as a list file through Import List.
    void importLinks(const std::vector<std::string>& links) {
        const QString path = m_tmp.path() + "/list.txt";
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const std::string& link : links)
            file.write((link + "\r\n").c_str());
        file.close();
        dialogs.files.push_back(path.toStdString());
        button("impBtn")->click();
    }

    std::vector<std::string> statuses() {
        std::vector<std::string> out;
        for (int r = 1; r < list().rowCount(); ++r)
            out.push_back(list().cell(r, DownloadList::Status));
        return out;
    }
    bool allCompleted() {
        for (const std::string& s : statuses())
            if (s != "Completed")
                return false;
        return list().rowCount() > 1;
    }

    // The file arrived whole and byte for byte as the emulator served it.
    ::testing::AssertionResult fileIntact(const std::string& name, std::uint64_t size) {
        QFile file(QString::fromStdString(folder + "/" + name));
        if (!file.open(QIODevice::ReadOnly))
            return ::testing::AssertionFailure() << name << " is missing";
        const QByteArray bytes = file.readAll();
        if (static_cast<std::uint64_t>(bytes.size()) != size)
            return ::testing::AssertionFailure() << name << " has " << bytes.size() << " bytes";
        for (qsizetype i = 0; i < bytes.size(); ++i)
            if (static_cast<std::uint8_t>(bytes[i]) != hostersim::contentByte(i))
                return ::testing::AssertionFailure() << name << " differs at " << i;
        return ::testing::AssertionSuccess();
    }

    hostersim::HosterSim sim;
    FakeDialogs dialogs;
    FakeShell shell;
    RecordingShutdownService shutdownService;
    std::string folder;
    std::unique_ptr<TorvalineApp> app;

private:
    QTemporaryDir m_tmp;
};

TEST_F(MainCycleTest, ThreeRowListDownloadsToCompletedWithTheFilesIntact) {
    const std::uint64_t sizes[] = {150 * 1024 + 7, 1, 600 * 1024};
    importLinks({sim.rapidshareLink("ok", "first.bin", sizes[0], 1),
                 sim.rapidshareLink("ok", "second.bin", sizes[1], 1),
                 sim.rapidshareLink("ok", "third.bin", sizes[2], 1)});
    ASSERT_EQ(statuses(), (std::vector<std::string>{"Waiting...", "Waiting...", "Waiting..."}));

    button("startBtn")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return allCompleted(); }, 30000))
        << "statuses: " << ::testing::PrintToString(statuses())
        << ", status bar: " << form().StatusBar1().text(0);

    EXPECT_TRUE(fileIntact("first.bin", sizes[0]));
    EXPECT_TRUE(fileIntact("second.bin", sizes[1]));
    EXPECT_TRUE(fileIntact("third.bin", sizes[2]));
    EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Files).size(), 3);
    // Every progress column was emptied when its row ended.
    for (int r = 1; r <= 3; ++r)
        for (int c = DownloadList::Speed; c <= DownloadList::Estimated; ++c)
            EXPECT_EQ(list().cell(r, c), "") << "row " << r << " column " << c;
    // The controls were never touched: nothing was asked of the system.
    EXPECT_TRUE(shutdownService.requests.empty());
    EXPECT_EQ(shutdownService.privilegeSteps, 0);
}

// Three hosters transfer at once; the user moves one of their rows to the top and deletes
// another: each transfer keeps writing its own row, the deleted one leaves no file, and the
// rows left all come in whole.
TEST_F(MainCycleTest, RowsMovedAndDeletedWhileSeveralTransferKeepTheirOwnFiles) {
    hostersim::HosterSites sites(3);
    sites.start();
    const auto link = [&](std::size_t site, const char* name, std::uint64_t size) {
        return sites.site(site).baseUrl() + "/file/" + name + "?size=" + std::to_string(size) +
               "&rate=262144";
    };
    const std::uint64_t size = 900 * 1024;
    importLinks({link(0, "a.bin", size), link(1, "b.bin", size), link(2, "c.bin", size),
                 link(0, "d.bin", 3000)});
    button("startBtn")->click();
    const auto transferring = [&] {
        int n = 0;
        for (int r = 1; r < list().rowCount(); ++r)
            n += !list().cell(r, DownloadList::Downloaded).empty();
        return n;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return transferring() == 3; }, 15000))
        << ::testing::PrintToString(statuses());
    // c.bin to the top (it trades places with a.bin), then a.bin deleted mid-transfer.
    form().MyStringGrid()->setCurrentRow(3);
    form().MFirstBtnClick();
    ASSERT_NE(list().cell(1, DownloadList::URL).find("c.bin"), std::string::npos);
    ASSERT_NE(list().cell(3, DownloadList::URL).find("a.bin"), std::string::npos);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !list().cell(1, DownloadList::Downloaded).empty(); }, 3000));
    form().MyStringGrid()->setCurrentRow(3);
    form().DelActionExecute();
    ASSERT_EQ(list().rowCount(), 4);
    // d.bin waits for its hoster, whose row went: it is taken up, and nobody's figures are in
    // its cells meanwhile.
    EXPECT_EQ(list().cell(3, DownloadList::Progress), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return allCompleted(); }, 30000))
        << ::testing::PrintToString(statuses());
    for (const auto& [row, name] : {std::pair{1, "c.bin"}, {2, "b.bin"}, {3, "d.bin"}})
        EXPECT_NE(list().cell(row, DownloadList::URL).find(name), std::string::npos) << name;
    EXPECT_TRUE(fileIntact("c.bin", size));
    EXPECT_TRUE(fileIntact("b.bin", size));
    EXPECT_TRUE(fileIntact("d.bin", 3000));
    EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Files),
              (QStringList{"b.bin", "c.bin", "d.bin"}));
}

// An image captcha: the row reads "Needs captcha" while the other rows go on, the picture
// and a field come up without holding the window, a wrong code is asked again, the right one
// brings the file. A picture that is no picture, or claims to be huge, is said so, not shown.
TEST_F(MainCycleTest, AnImageCaptchaIsAskedOfTheUserWhileTheListGoesOn) {
    const HosterProfiles profiles(LoadHosters({}).profiles);
    app->session().setProfiles(&profiles);
    hostersim::HosterSites other(2);
    other.start();
    importLinks({sim.xfsLink("ok", "cap.bin", 4000, 0, "nocount=1&captcha=2"),
                 other.site(1).rapidshareLink("ok", "other.bin", 3000, 1)});
    button("startBtn")->click();
    CaptchaPrompt& prompt = app->captchas();
    const auto asked = [&] { return prompt.dialog() != nullptr && prompt.dialog()->isVisible(); };
    ASSERT_TRUE(QTest::qWaitFor(asked, 10000)) << ::testing::PrintToString(statuses());
    EXPECT_EQ(list().cell(1, DownloadList::Status), "Needs captcha");
    EXPECT_FALSE(prompt.dialog()->isModal());
    auto* picture = prompt.dialog()->findChild<QLabel*>("CaptchaPicture");
    ASSERT_NE(picture, nullptr);
    EXPECT_FALSE(picture->pixmap().isNull()) << picture->text().toStdString();
    // The other hoster's row does not wait for the answer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return list().cell(2, DownloadList::Status) == "Completed"; },
                                15000));
    const auto answer = [&](const std::string& code) {
        auto* field = prompt.dialog()->findChild<QLineEdit*>("CaptchaCode");
        ASSERT_NE(field, nullptr);
        QTest::keyClicks(field, QString::fromStdString(code));
        QTest::keyClick(field, Qt::Key_Return);
    };
    answer("0000");
    ASSERT_TRUE(QTest::qWaitFor(asked, 10000)) << ::testing::PrintToString(statuses());
    answer(sim.xfs().lastCaptcha());
    ASSERT_TRUE(QTest::qWaitFor([&] { return allCompleted(); }, 15000))
        << ::testing::PrintToString(statuses());
    EXPECT_TRUE(fileIntact("cap.bin", 4000));

    // A PNG header that claims 100,000 pixels a side (its checksum left wrong).
    const char header[] =
        "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\x01\x86\xa0\0\x01\x86\xa0\x08\0\0\0\0\0\0\0\0";
    const std::string huge(header, sizeof header - 1);
    for (const std::string& bytes : {std::string("<html>not a picture</html>"), huge}) {
        CaptchaDialog dialog(
            "a.bin", QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), {}, nullptr);
        auto* shown = dialog.findChild<QLabel*>("CaptchaPicture");
        ASSERT_NE(shown, nullptr);
        EXPECT_TRUE(shown->pixmap().isNull());
        EXPECT_TRUE(shown->text().startsWith("the captcha's picture"))
            << shown->text().toStdString();
    }
}

// Tools > Downloads at Once sets the rows at once and is remembered; File has Pause All and
// Resume All.
TEST_F(MainCycleTest, DownloadsAtOnceIsAToolsChoiceThatIsRemembered) {
    EXPECT_EQ(app->session().maxDownloads(), 3);
    action("DownloadsAtOnce5")->trigger();
    EXPECT_EQ(app->session().maxDownloads(), 5);
    EXPECT_TRUE(action("DownloadsAtOnce5")->isChecked());
    EXPECT_FALSE(action("DownloadsAtOnce3")->isChecked());
    EXPECT_EQ(LanesControl::remembered(), 5);
    action("DownloadsAtOnce3")->trigger();
    EXPECT_EQ(LanesControl::remembered(), 3);
    EXPECT_NE(action("PauseAll1"), nullptr);
    EXPECT_NE(action("ResumeAll1"), nullptr);
}

TEST_F(MainCycleTest, PauseAndResumeButtonsHoldTheCountdownAndAreEnabledOnlyWhenTheyApply) {
    importLinks({sim.rapidshareLink("ok", "held.bin", 2048, 30)});
    EXPECT_FALSE(button("pauseBtn")->isEnabled());
    EXPECT_FALSE(button("resumeBtn")->isEnabled());
    button("startBtn")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form().StatusBar1().text(0).rfind("Download will start in", 0) == 0; }, 10000))
        << form().StatusBar1().text(0);
    EXPECT_TRUE(button("pauseBtn")->isEnabled());
    EXPECT_FALSE(button("resumeBtn")->isEnabled());
    action("PauseDownload1")->trigger();
    EXPECT_EQ(list().cell(1, DownloadList::Status), "Paused");
    EXPECT_FALSE(button("pauseBtn")->isEnabled());
    EXPECT_TRUE(button("resumeBtn")->isEnabled());
    const std::string left = form().StatusBar1().text(1);
    QTest::qWait(1500);
    EXPECT_EQ(form().StatusBar1().text(1), left); // held, not counting
    button("resumeBtn")->click();
    EXPECT_EQ(list().cell(1, DownloadList::Status), "Waiting...");
    EXPECT_TRUE(button("pauseBtn")->isEnabled());
    EXPECT_FALSE(button("resumeBtn")->isEnabled());
    action("StopDownload1")->trigger();
    EXPECT_EQ(list().cell(1, DownloadList::Status), "Stopped");
    EXPECT_FALSE(button("pauseBtn")->isEnabled());
    EXPECT_FALSE(button("resumeBtn")->isEnabled());
}

// After "List done" the controls say what is left: no Pause, and Stop then Start neither mark
// the finished row Stopped nor fetch its file a second time.
TEST_F(MainCycleTest, AfterTheEndPauseIsOffAndStopThenStartFetchesNothingAgain) {
    importLinks({sim.rapidshareLink("ok", "once.bin", 2048, 1)});
    button("startBtn")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return allCompleted(); }, 20000))
        << ::testing::PrintToString(statuses());
    QTest::qWait(100);
    EXPECT_FALSE(button("pauseBtn")->isEnabled());
    EXPECT_FALSE(button("resumeBtn")->isEnabled());
    action("StopDownload1")->trigger();
    EXPECT_EQ(list().cell(1, DownloadList::Status), "Completed");
    button("startBtn")->click();
    QTest::qWait(2500);
    EXPECT_EQ(list().cell(1, DownloadList::Status), "Completed");
    EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Files),
              QStringList{QStringLiteral("once.bin")});
}

TEST_F(MainCycleTest, StopAndStartFromTheMenuAndTheDownloadOptionsDialog) {
    importLinks({sim.rapidshareLink("ok", "held.bin", 2048, 30)});
    action("StartDownload1")->trigger();
    // The long countdown is running; Stop marks the row and ends it.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form().StatusBar1().text(0).rfind("Download will start in", 0) == 0; }, 10000))
        << form().StatusBar1().text(0);
    action("StopDownload1")->trigger();
    EXPECT_EQ(list().cell(1, DownloadList::Status), "Stopped");
    QTest::qWait(1500);
    EXPECT_EQ(list().cell(1, DownloadList::Status), "Stopped");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(folder + "/held.bin")));

    // The row goes; a new one comes through the dialog, whose "Start Download Now" starts
    // the cycle from the first row again.
    form().MyStringGrid()->setCurrentRow(1);
    button("delBtn")->click();
    ASSERT_EQ(list().rowCount(), 1);
    const std::string link = sim.rapidshareLink("ok", "added.bin", 4096, 1);
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TForm2*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        dialog->findChild<QPlainTextEdit*>("Memo1")->setPlainText(QString::fromStdString(link));
        dialog->findChild<QCheckBox*>("CheckBox1")->click();
        dialog->findChild<QPushButton*>("NewURLBtn")->click();
    });
    button("addBtn")->click();
    ASSERT_EQ(list().rowCount(), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return allCompleted(); }, 20000))
        << ::testing::PrintToString(statuses()) << " " << form().StatusBar1().text(0);
    EXPECT_TRUE(fileIntact("added.bin", 4096));
}

TEST_F(MainCycleTest, ArmedShutdownWarnsAtTheEndOfTheListAndCancelKeepsTheMachineOn) {
    TorvalineCore& core = app->core();
    QToolButton* shut = button("shutBtn");
    shut->click();
    shut->click();
    EXPECT_FALSE(core.shutdown().down());
    action("ShutPC1")->trigger();
    EXPECT_TRUE(core.shutdown().down());
    EXPECT_TRUE(shut->isChecked());
    EXPECT_EQ(core.shutdown().Tag(), 1);

    importLinks({sim.rapidshareLink("ok", "last.bin", 1000, 1)});
    button("startBtn")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->shutdownNotice().box() != nullptr; }, 20000))
        << ::testing::PrintToString(statuses());
    EXPECT_EQ(statuses(), std::vector<std::string>{"Completed"});
    EXPECT_TRUE(shutdownService.requests.empty());

    QMessageBox* box = app->shutdownNotice().box();
    box->button(QMessageBox::Cancel)->click();
    EXPECT_FALSE(core.shutdown().noticeShowing());
    QTest::qWait(1200);
    EXPECT_TRUE(shutdownService.requests.empty());
}

TEST_F(MainCycleTest, ClosingTheProgramDuringATransferLeavesNoPartialFile) {
    // Throttled to last some seconds, so the program ends while the file is coming in.
    importLinks({sim.rapidshareLink("ok", "cut.bin", 400 * 1024, 1, "rate=65536")});
    button("startBtn")->click();
    // Bytes have arrived, so there is a partial file to clean up.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !list().cell(1, DownloadList::Downloaded).empty(); }, 10000));
    app.reset();
    // Had closing waited for the transfer, the file would now be whole, and kept.
    const QDir dir(QString::fromStdString(folder));
    EXPECT_TRUE(dir.entryList(QDir::Files).isEmpty()) << dir.entryList().join(',').toStdString();
}

// Writes a zip of one text file ("name.txt": "inside name.zip") for each name.zip given, and
// the other names as small text files; false when python3 cannot.
bool makeFiles(const std::filesystem::path& dir, const std::vector<std::string>& names) {
    std::filesystem::create_directories(dir);
    const std::filesystem::path script = dir / "make.py";
    std::ofstream(script) << "import sys, zipfile\n"
                             "for n in sys.argv[2:]:\n"
                             "    p = sys.argv[1] + '/' + n\n"
                             "    if n.endswith('.zip'):\n"
                             "        with zipfile.ZipFile(p, 'w') as z:\n"
                             "            z.writestr(n[:-4] + '.txt', 'inside ' + n)\n"
                             "    else:\n"
                             "        open(p, 'w').write('file ' + n)\n";
    std::string command = "python3 '" + script.string() + "' '" + dir.string() + "'";
    for (const std::string& name : names)
        command += " '" + name + "'";
    return std::system(command.c_str()) == 0;
}

// Every file under dir, as paths relative to it.
std::set<std::string> filesUnder(const std::filesystem::path& dir) {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files.insert(std::filesystem::relative(entry.path(), dir).string());
    return files;
}

// The links of one URL range are one package, whatever their names: three zips that make no
// split set are one package in every row's tool tip and count once at the end, and each of
// them is extracted into a folder of its own as a zip on its own is.
TEST_F(MainCycleTest, TheZipsOfOneUrlRangeAreOnePackage) {
    const std::filesystem::path served = std::filesystem::path(folder).parent_path() / "served";
    if (!makeFiles(served, {"pics1.zip", "pics2.zip", "pics3.zip"}))
        GTEST_SKIP() << "the test zips could not be made (python3)";
    sim.serveFolder(served.string());
    PackageFollowUp& packages = app->session().packages();
    ArchiveChoices choices;
    choices.afterExtract = ArchiveChoices::AfterExtract::Keep;
    packages.setChoices(choices);

    const std::string range = sim.baseUrl() + "/stored/pics[1-3].zip";
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TForm2*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        dialog->findChild<QPlainTextEdit*>("Memo1")->setPlainText(QString::fromStdString(range));
        dialog->findChild<QPushButton*>("NewURLBtn")->click();
    });
    button("addBtn")->click();
    ASSERT_EQ(list().rowCount(), 1 + 3);
    button("startBtn")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return allCompleted() && !packages.busy() && packages.extractedCount() > 0; }, 30000))
        << ::testing::PrintToString(statuses()) << " " << list().note(1);
    QTest::qWait(200);

    QAbstractItemModel* model = form().MyStringGrid()->model();
    for (int r = 1; r <= 3; ++r) {
        const std::string set = "pics" + std::to_string(r);
        EXPECT_EQ(model->index(r, DownloadList::Status).data(Qt::ToolTipRole).toString(),
                  QString::fromStdString("Package pics (3 files), " + set + ": extracted into " +
                                         folder + "/" + set));
    }
    EXPECT_EQ(packages.extractedCount(), 1);
    EXPECT_EQ(packages.notExtractedCount(), 0);
    EXPECT_EQ(filesUnder(folder),
              (std::set<std::string>{"pics1.zip", "pics2.zip", "pics3.zip", "pics1/pics1.txt",
                                     "pics2/pics2.txt", "pics3/pics3.txt"}));
}

// Click'n'Load batches with package folders on: each batch goes into one folder under the
// download folder, named as its sender asks when that is a plain folder name; a name that
// climbs out, is absolute, hidden, huge or holds control characters is never a path, and
// the batch takes the name its files share instead. Nothing lands outside the download folder.
TEST_F(MainCycleTest, ClickNLoadBatchesWithHostileNamesStayInsideTheDownloadFolder) {
    const std::vector<std::string> hostile = {"../../escape",
                                              "/tmp/torvaline-absolute",
                                              "a/../../b",
                                              "..",
                                              ".config",
                                              "evil\x01name",
                                              "photo\xE2\x80\xAEgpj",
                                              "..\\..\\win",
                                              std::string(5000, 'A')};
    std::vector<std::string> names = {"beach.zip", "notes.txt"};
    for (std::size_t i = 0; i < hostile.size(); ++i)
        for (const char* part : {"-1.txt", "-2.txt"})
            names.push_back("h" + std::to_string(i) + part);
    const std::filesystem::path root = std::filesystem::path(folder).parent_path();
    if (!makeFiles(root / "served", names))
        GTEST_SKIP() << "the test files could not be made (python3)";
    sim.serveFolder((root / "served").string());
    PackageFollowUp& packages = app->session().packages();
    ArchiveChoices choices;
    choices.afterExtract = ArchiveChoices::AfterExtract::Keep;
    choices.packageFolders = true;
    packages.setChoices(choices);

    // One page posts them one after the other: one question, each post its own package.
    const std::string stored = sim.baseUrl() + "/stored/";
    dialogs.addLinksAnswers = {LinksAnswer::Add};
    LinkIntake& intake = form().linkIntake();
    EXPECT_EQ(intake.receiveBatch({"http://crypter.example/f", "  Holiday 2026  ",
                                   stored + "beach.zip\n" + stored + "notes.txt"}),
              ClickNLoadServer::Verdict::Accepted);
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        const std::string h = stored + "h" + std::to_string(i);
        EXPECT_EQ(intake.receiveBatch(
                      {"http://crypter.example/f", hostile[i], h + "-1.txt\n" + h + "-2.txt"}),
                  ClickNLoadServer::Verdict::Accepted);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return list().rowCount() == 1 + 2 + 2 * 9; }, 5000));
    EXPECT_EQ(dialogs.addLinksQuestions.size(), 1u);
    button("startBtn")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return allCompleted() && !packages.busy() && packages.extractedCount() > 0; }, 30000))
        << ::testing::PrintToString(statuses()) << " " << list().note(1);
    QTest::qWait(200);

    std::set<std::string> expected = {"Holiday 2026/beach.zip", "Holiday 2026/notes.txt",
                                      "Holiday 2026/beach/beach.txt"};
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        const std::string h = "h" + std::to_string(i);
        expected.insert(h + "/" + h + "-1.txt");
        expected.insert(h + "/" + h + "-2.txt");
    }
    EXPECT_EQ(filesUnder(folder), expected);
    std::set<std::string> everywhere = filesUnder(root);
    std::erase_if(everywhere, [](const std::string& path) {
        return path.rfind("served/", 0) == 0 || path.rfind("Downloads/", 0) == 0;
    });
    EXPECT_TRUE(everywhere.empty()) << ::testing::PrintToString(everywhere);
    EXPECT_FALSE(std::filesystem::exists(root.parent_path() / "escape"));
    EXPECT_FALSE(std::filesystem::exists("/tmp/torvaline-absolute"));
    // The tool tips name each package as its folder is named; it counts once at the end.
    QAbstractItemModel* model = form().MyStringGrid()->model();
    EXPECT_EQ(model->index(1, DownloadList::Status).data(Qt::ToolTipRole).toString(),
              QString::fromStdString("Package Holiday 2026 (2 files), beach: extracted into " +
                                     folder + "/Holiday 2026/beach"));
    EXPECT_EQ(model->index(2, DownloadList::Status).data(Qt::ToolTipRole).toString(),
              QStringLiteral("Package Holiday 2026 (2 files)"));
    EXPECT_EQ(model->index(3, DownloadList::Status).data(Qt::ToolTipRole).toString(),
              QStringLiteral("Package h0 (2 files)"));
    EXPECT_EQ(packages.extractedCount(), 1);
    EXPECT_EQ(packages.notExtractedCount(), 0);
}

} // namespace
} // namespace torvaline::test
