#include "adapters/qt/QtClock.h"
#include "adapters/qt/QtDialogs.h"
#include "adapters/qt/QtEventLoop.h"
#include "adapters/qt/QtShell.h"
#include "adapters/qt/QtShutdownNotice.h"
#include "adapters/qt/QtTimer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTime>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace torvaline {
namespace {

// Runs the event loop until pred holds or the time is up; returns whether it held.
template <typename Pred> bool spinUntil(Pred pred, int timeoutMs = 3000) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return pred();
}

TEST(QtTimerTest, ReEnablingARunningTimerKeepsItsSchedule) {
    // Enabled again every few milliseconds, far more often than its interval: a timer that
    // restarted its schedule each time would never tick.
    QtTimer timer(200);
    bool ticked = false;
    timer.setOnTick([&] { ticked = true; });
    timer.setEnabled(true);
    EXPECT_TRUE(spinUntil(
        [&] {
            timer.setEnabled(true);
            return ticked;
        },
        10000));
    EXPECT_TRUE(timer.enabled());
}

TEST(QtTimerTest, DisabledTimerDeliversNoTicks) {
    QtTimer timer(20);
    int ticks = 0;
    timer.setOnTick([&] { ++ticks; });
    timer.setEnabled(true);
    ASSERT_TRUE(spinUntil([&] { return ticks > 0; }));
    timer.setEnabled(false);
    const int seen = ticks;
    QTest::qWait(100);
    EXPECT_EQ(ticks, seen);
    EXPECT_FALSE(timer.enabled());
    EXPECT_EQ(QtTimer().interval(), 1000);
}

TEST(QtClockTest, TimeOfDayIsAFractionOfTheCurrentDay) {
    const double before = QTime::currentTime().msecsSinceStartOfDay() / 86400000.0;
    const double now = QtClock().timeOfDay();
    EXPECT_GE(now, 0.0);
    EXPECT_LT(now, 1.0);
    // Midnight may pass between the two readings; a minute apart allows for a loaded machine
    // and still tells a fraction of a day from any other unit.
    if (now >= before) {
        EXPECT_LT(now - before, 60.0 / 86400);
    }
}

TEST(QtEventLoopTest, WorkFromAWorkerRunsOnTheGuiThreadInOrder) {
    QtEventLoop loop;
    const QThread* gui = QThread::currentThread();
    std::vector<int> order;
    bool allOnGui = true;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            loop.post([&, i] {
                allOnGui = allOnGui && QThread::currentThread() == gui;
                order.push_back(i);
            });
        loop.invokeAndWait([&] {
            allOnGui = allOnGui && QThread::currentThread() == gui;
            order.push_back(3);
        });
    });
    ASSERT_TRUE(spinUntil([&] { return order.size() == 4; }));
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(allOnGui);
}

TEST(QtEventLoopTest, InvokeAndWaitRethrowsInTheCaller) {
    QtEventLoop loop;
    // Written by the worker while the GUI thread polls it.
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            loop.invokeAndWait([] { throw std::runtime_error("no document"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "no document";
        }
    });
    spinUntil([&] { return caught.load(); });
    worker.join();
    EXPECT_TRUE(caught.load());

    // On the GUI thread itself it runs at once instead of waiting for itself.
    int ran = 0;
    loop.invokeAndWait([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    EXPECT_THROW(loop.invokeAndWait([] { throw std::logic_error("x"); }), std::logic_error);
}

TEST(QtEventLoopTest, AFailingPostedJobDoesNotStopTheOthers) {
    QtEventLoop loop;
    int ran = 0;
    loop.post([] { throw std::runtime_error("bad"); });
    loop.post([&] { ++ran; });
    EXPECT_TRUE(spinUntil([&] { return ran == 1; }));
}

TEST(QtDialogsTest, FiltersBecomeQtNameFilters) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"Text Files (*.TXT)|*.TXT|Rich Text Files (*.RTF)| *.RTF",
         "Text Files (*.TXT *.txt);;Rich Text Files (*.RTF *.rtf)"},
        {"All|*.*", "All (*.*)"},
        {"Lists|*.lst;*.txt", "Lists (*.lst *.txt)"},
        {"|*.log", "*.log (*.log)"},
        {"Dangling description", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QtDialogs::toQtFilter(c.in).toStdString(), c.out) << c.in;
    EXPECT_EQ(QtDialogs::toQtSuffix(".Txt").toStdString(), "Txt");
    EXPECT_EQ(QtDialogs::toQtSuffix("txt").toStdString(), "txt");
}

// Answers the next message box that opens with the given button (or Escape when none).
void answerNextBox(QMessageBox::StandardButton button, QString* seenTitle) {
    QTimer::singleShot(0, [button, seenTitle] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            answerNextBox(button, seenTitle);
            return;
        }
        *seenTitle = box->windowTitle();
        if (button == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(button)->click();
    });
}

TEST(QtDialogsTest, ConfirmMapsEveryWayOut) {
    struct Case {
        QMessageBox::StandardButton press;
        Answer expected;
    };
    const Case cases[] = {{QMessageBox::Yes, Answer::Yes},
                          {QMessageBox::No, Answer::No},
                          {QMessageBox::Cancel, Answer::Cancel},
                          {QMessageBox::NoButton, Answer::Cancel}};
    QtDialogs dialogs;
    for (const Case& c : cases) {
        QString title;
        answerNextBox(c.press, &title);
        EXPECT_EQ(dialogs.confirm("Save changes to x?"), c.expected);
        EXPECT_EQ(title, QStringLiteral("Confirm"));
    }
}

TEST(QtShellTest, ClipboardGetsTheTextAsItIs) {
    QtShell shell;
    shell.setClipboardText("http://example.test/f\xC3\xA4.zip");
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromUtf8("http://example.test/fä.zip"));
}

} // namespace
} // namespace torvaline

namespace torvaline {
namespace {

TEST(QtShutdownNoticeTest, ShowsTheCountdownAndReportsOnlyTheUsersCancel) {
    QtShutdownNotice notice;
    int cancels = 0;
    notice.show(60, [&] { ++cancels; });
    ASSERT_NE(notice.box(), nullptr);
    EXPECT_TRUE(notice.box()->isVisible());
    EXPECT_FALSE(notice.box()->isModal());
    notice.show(59, [&] { ++cancels; });
    EXPECT_EQ(notice.box()->text(), QtShutdownNotice::text(59));
    EXPECT_TRUE(notice.box()->text().contains("59 seconds"));

    // Closed by the program: no cancel is reported.
    notice.close();
    EXPECT_EQ(notice.box(), nullptr);
    EXPECT_EQ(cancels, 0);

    // Cancelled by the user, once; the next notice is a fresh box.
    notice.show(30, [&] { ++cancels; });
    notice.box()->button(QMessageBox::Cancel)->click();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(notice.box(), nullptr);
    notice.close();
    EXPECT_EQ(cancels, 1);
}

} // namespace
} // namespace torvaline
