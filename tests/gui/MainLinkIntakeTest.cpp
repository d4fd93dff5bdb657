#include "MainWindowFixture.h"

#include "app/LinkIntake.h"
#include "app/TrayIcon.h"
#include "app/UserSettings.h"
#include "list/StatusBar.h"

#include <QClipboard>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <utility>

namespace torvaline::test {

namespace {

void settle(int ms = 50) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class LinkIntakeTest : public MainWindowTest {
protected:
    void SetUp() override {
        userSettings().clear();
        MainWindowTest::SetUp();
    }
    void TearDown() override { userSettings().clear(); }

    LinkIntake& intake() { return form->linkIntake(); }

    void drop(QMimeData* data) {
        QWidget* viewport = form->MyStringGrid()->viewport();
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &dropped);
        EXPECT_TRUE(dropped.isAccepted());
        settle(10);
    }

    std::string writeFile(const char* name, const QByteArray& content) {
        const std::string path = tmpPath(name);
        QFile f(QString::fromStdString(path));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return path;
    }

    // One request over a real socket; the answer as it came, or empty after two seconds.
    QByteArray http(const QByteArray& request) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, intake().clickNLoad().port());
        QElapsedTimer t;
        t.start();
        while (socket.state() != QAbstractSocket::ConnectedState && t.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        socket.write(request);
        QByteArray answer;
        while (socket.state() != QAbstractSocket::UnconnectedState && t.elapsed() < 2000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            answer += socket.readAll();
        }
        answer += socket.readAll();
        settle(10);
        return answer;
    }
    static QByteArray post(const char* path, const QByteArray& form,
                           const QByteArray& host = "127.0.0.1:9666") {
        return QByteArray("POST ") + path + " HTTP/1.1\r\nHost: " + host +
               "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               QByteArray::number(form.size()) + "\r\n\r\n" + form;
    }
    void clickNLoadOn() {
        intake().setClickNLoadPort(0);
        action("ClickNLoad1")->trigger();
        ASSERT_TRUE(intake().clickNLoad().isListening());
    }
};

} // namespace

// What desktops and browsers hand over on a drop or a paste, and the rows it must give.
TEST_F(LinkIntakeTest, DropsAndPastesAddTheirLinksAndImportListFiles) {
    const std::string listFile =
        writeFile("links.txt", "http://4shared.example/x\r\nplain line\r\n");
    const std::string other = writeFile("picture.png", "not a list");
    struct Case {
        const char* what;
        QByteArray uriList;
        QString text;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"uri-list with a link and a list file",
         "# from a page\r\nhttp://rapidshare.example/files/1/a.rar\r\n" +
             QUrl::fromLocalFile(QString::fromStdString(listFile)).toEncoded() + "\r\n" +
             QUrl::fromLocalFile(QString::fromStdString(other)).toEncoded() + "\r\n",
         {},
         {"http://4shared.example/x", "plain line", "http://rapidshare.example/files/1/a.rar"}},
        {"text with several links, CR LF",
         {},
         "get these:\r\nhttp://rapidshare.example/1\r\nhttps://h.example/2, thanks\r\n",
         {"http://rapidshare.example/1", "https://h.example/2"}},
        {"non-links", {}, "hello javascript:alert(1) file:///etc/passwd ftp://x/y", {}},
        {"a file that is no list",
         QUrl::fromLocalFile(QString::fromStdString(other)).toEncoded(),
         {},
         {}},
    };
    for (const bool viaPaste : {false, true}) {
        for (const Case& c : cases) {
            form->ClearActionExecute();
            auto* data = new QMimeData;
            if (!c.uriList.isEmpty())
                data->setData("text/uri-list", c.uriList);
            if (!c.text.isEmpty())
                data->setText(c.text);
            if (viaPaste) {
                QGuiApplication::clipboard()->setMimeData(data);
                form->activateWindow();
                action("PasteLinks1")->trigger();
            } else {
                drop(data);
                delete data;
            }
            EXPECT_EQ(links(), c.rows) << c.what << (viaPaste ? " (paste)" : " (drop)");
            for (int r = 1; r < list().rowCount(); ++r)
                EXPECT_EQ(list().cell(r, DownloadList::Status), "Waiting...");
        }
    }
    EXPECT_EQ(action("PasteLinks1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_V));
    // The list file went the way of Import List: its name is remembered for the exit prompt.
    EXPECT_EQ(form->listCommands().ListFileName(), listFile);
}

TEST_F(LinkIntakeTest, AHugePasteBecomesRowsAndANoticeLeavesThePanelsAlone) {
    QString text;
    for (int i = 0; i < 50000; ++i)
        text += QStringLiteral("http://rapidshare.example/files/%1/f.rar\r\n").arg(i);
    form->StatusBar1().setText(0, "Countdown 00:00:09");
    QGuiApplication::clipboard()->setText(text);
    action("PasteLinks1")->trigger();
    EXPECT_EQ(list().rowCount(), 1 + 50000);
    EXPECT_EQ(form->StatusBar1().text(0), "Countdown 00:00:09");
    EXPECT_EQ(intake().notice()->text(), "50000 links added");
}

TEST_F(LinkIntakeTest, DeleteKeyAndTheRowMenuRunTheRowCommands) {
    fill({"a", "b", "c"});
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    focusRow(2);
    QTest::keyClick(form->MyStringGrid(), Qt::Key_Delete);
    EXPECT_EQ(links(), (std::vector<std::string>{"a", "c"}));

    std::vector<QString> entries;
    for (QAction* a : intake().rowMenu()->actions())
        entries.push_back(a->isSeparator() ? QStringLiteral("|") : a->text());
    EXPECT_EQ(entries, (std::vector<QString>{"Copy Selected", "Delete Selected", "|", "Move Up",
                                             "Move Down", "Move to First", "Move to Last", "|",
                                             "Open Download Folder", "Paste Links"}));
    focusRow(1);
    intake().rowMenu()->actions()[0]->trigger();
    EXPECT_EQ(shell.clipboard, std::vector<std::string>{"a"});
    auto* openFolder = form->findChild<QAction*>("OpenFolder1");
    openFolder->trigger();
    form->Edit2().setText("/data/dl");
    openFolder->trigger();
    EXPECT_EQ(shell.folders, (std::vector<std::string>{defaultFolder, "/data/dl"}));
}

TEST_F(LinkIntakeTest, ClipboardWatchAddsHosterLinksOnceAndIsRemembered) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("http://rapidshare.example/files/1/a.rar");
    settle();
    EXPECT_EQ(list().rowCount(), 1) << "off by default";

    action("WatchClipboard1")->trigger();
    EXPECT_TRUE(userSettings().value("links/watchClipboard").toBool());
    clipboard->setText("new: http://rapidshare.example/files/2/b.rar and http://blog.example/");
    settle();
    clipboard->setText("http://rapidshare.example/files/2/b.rar");
    settle();
    EXPECT_EQ(links(), std::vector<std::string>{"http://rapidshare.example/files/2/b.rar"});
    EXPECT_EQ(intake().notice()->text(), "1 link from the clipboard added");

    action("WatchAnyLink1")->trigger();
    clipboard->setText("http://blog.example/post");
    settle();
    // Copy Selected of a listed link does not add it again.
    clipboard->setText("http://rapidshare.example/files/2/b.rar");
    settle();
    EXPECT_EQ(links(), (std::vector<std::string>{"http://rapidshare.example/files/2/b.rar",
                                                 "http://blog.example/post"}));

    // A new window starts with the watch as the user left it.
    form.reset();
    data = windowData(defaultFolder);
    form = std::make_unique<TForm1>(browser, dialogs, shell, *data);
    EXPECT_TRUE(action("WatchClipboard1")->isChecked());
    EXPECT_TRUE(form->linkIntake().watchesClipboard());
    EXPECT_FALSE(action("ClickNLoad1")->isChecked());
}

TEST_F(LinkIntakeTest, ClickNLoadAnswersTheProtocolAndAddsOnlyWhatTheUserConfirms) {
    clickNLoadOn();
    EXPECT_TRUE(http("GET /jdcheck.js HTTP/1.1\r\nHost: 127.0.0.1:9666\r\n\r\n")
                    .endsWith("\r\n\r\njdownloader=true;\r\n"));
    EXPECT_TRUE(
        http("GET /flash/ HTTP/1.1\r\nHost: localhost:9666\r\n\r\n").startsWith("HTTP/1.1 200"));
    EXPECT_TRUE(http("GET /crossdomain.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                    .contains("<allow-access-from domain=\"*\" />"));

    dialogs.addLinksAnswers = {LinksAnswer::Discard, LinksAnswer::Add};
    const QByteArray plain = post("/flash/add", "source=http%3A%2F%2Fsite.example%2Fpage&package=P&"
                                                "urls=http%3A%2F%2Frapidshare.example%2F1%0D%0A"
                                                "http%3A%2F%2Frapidshare.example%2F2");
    EXPECT_TRUE(http(plain).startsWith("HTTP/1.1 200")) << "discarded";
    EXPECT_EQ(list().rowCount(), 1);
    // The known vector: key 1234567890123456 as hex, two links, zero padded.
    const QByteArray crypted =
        "RPRMk3rFICFcMq5C2ETgSTUwk6Szciwd+Zb6i8ppHq6gYSreNXMYLlICX06amf+fSwiaMpOycTmmFB0gFwMnC/"
        "XC4enLg+Cjcrgg3uP0Rvk=";
    const QByteArray jk = "function f(){ return '31323334353637383930313233343536';}";
    const QByteArray form2 = "source=http%3A%2F%2Fsite.example%2F&jk=" + jk.toPercentEncoding() +
                             "&crypted=" + crypted.toPercentEncoding();
    EXPECT_TRUE(http(post("/flash/addcrypted2", form2)).startsWith("HTTP/1.1 200"));
    EXPECT_EQ(links(), (std::vector<std::string>{"http://rapidshare.example/files/1/a.rar",
                                                 "http://rapidshare.example/files/2/b.rar"}));
    ASSERT_EQ(dialogs.addLinksQuestions.size(), 2u);
    EXPECT_EQ(dialogs.addLinksQuestions[0].first, "2 links from http://site.example/page");
    EXPECT_EQ(dialogs.addLinksQuestions[1].first, "2 links from http://site.example/");
    EXPECT_EQ(list().cell(1, DownloadList::Status), "Waiting...");
    EXPECT_EQ(browser.navigations.size(), 1u) << "nothing started";
}

TEST_F(LinkIntakeTest, ClickNLoadRefusesHostileRequestsAndChangesNothing) {
    clickNLoadOn();
    const QByteArray crypted = "RPRMk3rFICFcMq5C2ETgSQ==";
    struct Case {
        const char* what;
        QByteArray request;
        const char* status;
    };
    const auto withJk = [&](const QByteArray& jk) {
        return post("/flash/addcrypted2",
                    "jk=" + jk.toPercentEncoding() + "&crypted=" + crypted.toPercentEncoding());
    };
    const Case cases[] = {
        {"jk that computes its key", withJk("function f(){ return 'a' + k(); }"), "400"},
        {"jk without a literal", withJk("function f(){ while(1){} }"), "400"},
        {"jk with a short key", withJk("function f(){ return '3132';}"), "400"},
        {"jk literal then more",
         withJk("function f(){ return '31323334353637383930313233343536' + x;}"), "400"},
        {"jk of non-hex", withJk("function f(){ return 'zz323334353637383930313233343536';}"),
         "400"},
        {"jk huge", withJk(QByteArray(8000, 'r')), "400"},
        {"crypted not base64",
         post("/flash/addcrypted2",
              "jk=" +
                  QByteArray("function f(){return '31323334353637383930313233343536'}")
                      .toPercentEncoding() +
                  "&crypted=%%%%"),
         "400"},
        {"no links in urls", post("/flash/add", "urls=hello+world"), "400"},
        {"oversized body", post("/flash/add", "urls=" + QByteArray(2 * 1024 * 1024, 'a')), "413"},
        {"oversized header", "GET / HTTP/1.1\r\nX: " + QByteArray(20000, 'a') + "\r\n\r\n", "431"},
        {"a rebound name",
         post("/flash/add", "urls=http%3A%2F%2Fr.example%2F1", "evil.example:9666"), "403"},
        {"chunked body",
         "POST /flash/add HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: "
         "chunked\r\n\r\n0\r\n\r\n",
         "400"},
        {"garbage", "\x16\x03\x01\x02\xfc\x03\x03\r\n\r\n", "400"},
        {"unknown path", "GET /etc/passwd HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "404"},
    };
    for (const Case& c : cases) {
        const QByteArray answer = http(c.request);
        EXPECT_TRUE(answer.startsWith(QByteArray("HTTP/1.1 ") + c.status))
            << c.what << ": " << answer.left(40).toStdString();
    }
    settle();
    EXPECT_TRUE(dialogs.addLinksQuestions.empty());
    EXPECT_EQ(list().rowCount(), 1);
    // The listener is on the loopback address only.
    EXPECT_TRUE(intake().clickNLoad().isListening());
}

TEST_F(LinkIntakeTest, ClickNLoadBoundsTheRateAndTheQuestionsWaiting) {
    clickNLoadOn();
    // A page that floods the port is cut short before it floods the user.
    int ok = 0, busy = 0;
    for (int i = 0; i < 30; ++i) {
        const QByteArray answer =
            http(post("/flash/add", "urls=http%3A%2F%2Fr.example%2F" + QByteArray::number(i)));
        ok += answer.startsWith("HTTP/1.1 200");
        busy += answer.startsWith("HTTP/1.1 429");
    }
    EXPECT_EQ(ok + busy, 30);
    EXPECT_LE(dialogs.addLinksQuestions.size(), 30u);
    EXPECT_GE(busy, 1);
    EXPECT_EQ(list().rowCount(), 1);
}

// A page that posts again and again must not bury the user under questions nor keep them
// from turning the listener off.
TEST_F(LinkIntakeTest, ClickNLoadAsksOneQuestionASourceAndLetsTheUserEndIt) {
    using V = ClickNLoadServer::Verdict;
    const auto batch = [](std::string source, std::string links) {
        return ClickNLoadServer::Batch{std::move(source), "P", std::move(links)};
    };
    // While the question of a source is open its later batches join it; another source waits.
    std::vector<V> verdicts;
    bool posted = false;
    dialogs.whileAsking = [&] {
        if (std::exchange(posted, true))
            return;
        for (int i = 2; i <= 5; ++i)
            verdicts.push_back(intake().receiveBatch(
                batch("http://pester.example/p?" + std::to_string(i),
                      "http://r.example/1\nhttp://r.example/" + std::to_string(i))));
        verdicts.push_back(
            intake().receiveBatch(batch("http://other.example/", "http://o.example/1")));
    };
    dialogs.addLinksAnswers = {LinksAnswer::Add, LinksAnswer::Discard};
    EXPECT_EQ(intake().receiveBatch(batch("http://pester.example/p?1", "http://r.example/1")),
              V::Accepted);
    settle();
    EXPECT_EQ(verdicts, std::vector<V>(5, V::Accepted));
    ASSERT_EQ(dialogs.addLinksQuestions.size(), 2u);
    EXPECT_EQ(dialogs.addLinksQuestions[0].first, "1 link from http://pester.example/p?1");
    EXPECT_EQ(dialogs.addLinksQuestions[1].first, "1 link from http://other.example/");
    ASSERT_FALSE(dialogs.addLinksUpdates.empty());
    EXPECT_EQ(dialogs.addLinksUpdates.back().first, "5 links from http://pester.example/p?1");
    EXPECT_EQ(links(), (std::vector<std::string>{"http://r.example/1", "http://r.example/2",
                                                 "http://r.example/3", "http://r.example/4",
                                                 "http://r.example/5"}));

    // Discarded three times, a source is not asked about again in this session.
    dialogs.addLinksQuestions.clear();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(intake().receiveBatch(batch("http://other.example/again", "http://o.example/2")),
                  V::Accepted);
        settle();
    }
    EXPECT_EQ(dialogs.addLinksQuestions.size(), 2u);
    EXPECT_EQ(intake().receiveBatch(batch("https://other.example/", "http://o.example/3")),
              V::Busy);
    settle();
    EXPECT_EQ(dialogs.addLinksQuestions.size(), 2u);

    // What the page calls itself is shown without controls and direction marks: here it would
    // clear the screen of a terminal and read "exe.png" backwards.
    dialogs.addLinksQuestions.clear();
    intake().receiveBatch(
        batch("http://a.example/\x1b[2J\xe2\x80\xaegnp.exe\xe2\x80\x8b\xc2\x85x\r\n",
              "http://a.example/1"));
    settle();
    ASSERT_EQ(dialogs.addLinksQuestions.size(), 1u);
    EXPECT_EQ(dialogs.addLinksQuestions[0].first, "1 link from http://a.example/[2Jgnp.exex");

    // The question's own way out: the listener stops, the choice is remembered, and what
    // waited is dropped.
    clickNLoadOn();
    dialogs.addLinksQuestions.clear();
    posted = false;
    dialogs.whileAsking = [&] {
        if (!std::exchange(posted, true))
            intake().receiveBatch(batch("http://third.example/", "http://t.example/1"));
    };
    dialogs.addLinksAnswers = {LinksAnswer::TurnOff};
    intake().receiveBatch(batch("http://b.example/", "http://b.example/1"));
    settle();
    EXPECT_EQ(dialogs.addLinksQuestions.size(), 1u);
    EXPECT_FALSE(intake().clickNLoad().isListening());
    EXPECT_FALSE(action("ClickNLoad1")->isChecked());
    EXPECT_FALSE(userSettings().value("links/clickNLoad", true).toBool());
    EXPECT_EQ(list().rowCount(), 6);
}

TEST_F(LinkIntakeTest, TrayMenuMirrorsTheCommandsAndTheStatusBar) {
    TrayIcon tray(*form, false);
    std::vector<QString> entries;
    for (QAction* a : tray.menu()->actions())
        entries.push_back(a->isSeparator() ? QStringLiteral("|") : a->text());
    EXPECT_EQ(entries, (std::vector<QString>{"Start Download", "Stop Download", "Pause Download",
                                             "|", "|", "Show Torvaline", "Quit"}));
    int starts = 0;
    form->bindStartDownload([&starts] { ++starts; });
    tray.menu()->actions()[0]->trigger();
    EXPECT_EQ(starts, 1);
    // Pause follows its button, which the cycle enables when it applies.
    EXPECT_FALSE(tray.menu()->actions()[2]->isEnabled());
    button("pauseBtn")->setEnabled(true);
    EXPECT_TRUE(tray.menu()->actions()[2]->isEnabled());

    EXPECT_EQ(tray.toolTip(), "Torvaline V.1.2");
    form->StatusBar1().setText(0, " 250Kb/s ");
    form->StatusBar1().setText(2, "a.rar");
    EXPECT_EQ(tray.toolTip(), "250Kb/s  a.rar");
    // Without a tray the close box closes as before.
    EXPECT_FALSE(action("CloseToTray1")->isEnabled());
    EXPECT_FALSE(tray.closesToTray());
}

} // namespace torvaline::test
