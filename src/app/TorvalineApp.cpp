#include "app/TorvalineApp.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/curl/HttpBrowser.h"
#include "adapters/qt/QtClock.h"
#include "adapters/qt/QtEventLoop.h"
#include "adapters/qt/QtShutdownNotice.h"
#include "adapters/qt/QtTimer.h"
#include "app/ListDoneNotice.h"
#include "app/Main.h"
#include "cycle/TorvalineCore.h"
#include "transfer/TDownloadFile.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

namespace torvaline {

TorvalineApp::TorvalineApp(Dialogs& dialogs, Shell& shell, ShutdownService& shutdownService,
                           Options options)
    : m_options(std::move(options))
    , m_loop(std::make_unique<QtEventLoop>())
    , m_share(std::make_shared<CurlShare>())
    , m_browser(std::make_unique<HttpBrowser>(*m_loop, *m_share))
    , m_form(std::make_unique<TForm1>(*m_browser, dialogs, shell, m_options.defaultFolder))
    , m_clock(std::make_unique<QtClock>())
    , m_timer1(std::make_unique<QtTimer>())
    , m_timer2(std::make_unique<QtTimer>())
    , m_elpsTimer(std::make_unique<QtTimer>())
    , m_estTimer(std::make_unique<QtTimer>())
    , m_noticeTimer(std::make_unique<QtTimer>())
    // The transfers send the cookies the pages set: one jar for both.
    , m_facility(std::make_shared<CurlTransfer>(m_share))
    , m_component(std::make_unique<TDownloadFile>(*m_loop, m_facility))
    , m_notice(std::make_unique<QtShutdownNotice>(m_form.get())) {
    TForm1& form = *m_form;
    m_core = std::make_unique<TorvalineCore>(TorvalineCore::Ports{
        form.downloadList(), form.StatusBar1(), form.appTitle(), form.Edit2(), form.WebBrowser1(),
        *m_loop, *m_clock, *m_timer1, *m_timer2, *m_elpsTimer, *m_estTimer, form.StbarTimer(),
        *m_noticeTimer, *m_component, shutdownService, *m_notice, m_options.decimalSeparator});
    TorvalineCore& core = *m_core;
    // "Start Download Now" of the Download Options dialog runs the same command.
    form.bindStartDownload([&core] { core.StartDownload1Click(); });
    form.bindStopDownload([&core] { core.StopDownExecute(); });
    form.bindShutdownControl(&core.shutdown());
    form.bindProgressDisplay(&core.progress());
    if (m_options.notifier) {
        const QPointer<TForm1> window(&form);
        m_doneNotice = std::make_unique<ListDoneNotice>(
            form.downloadList(), *m_options.notifier,
            ListDoneNotice::Window{
                // One of our windows active (a dialog over the main window counts) and the
                // main window not minimised.
                [window] {
                    return window && QApplication::activeWindow() != nullptr &&
                           !window->isMinimized();
                },
                [window] {
                    if (!window)
                        return;
                    if (window->isMinimized())
                        window->showNormal();
                    window->show();
                    window->raise();
                    window->activateWindow();
                }});
        core.setOnListDone([this] { m_doneNotice->listDone(); });
    }
}

TorvalineApp::~TorvalineApp() {
    // The window outlives the core: nothing it still delivers may reach the core once gone.
    m_form->bindStartDownload({});
    m_form->bindStopDownload({});
    m_form->bindShutdownControl(nullptr);
    m_form->bindProgressDisplay(nullptr);
    m_core.reset();
    m_doneNotice.reset();
    m_notice.reset();
    // Cancels a running transfer and detaches its worker, which then hands nothing more over.
    m_component.reset();
    if (!waitForWorkers(m_options.workerGrace)) {
        // A worker that has not let go may still be about to reach the event loop. Leaving
        // the loop in place costs a few bytes at exit; freeing it could crash.
        static_cast<void>(m_loop.release());
    }
}

bool TorvalineApp::waitForWorkers(std::chrono::milliseconds grace) {
    QElapsedTimer elapsed;
    elapsed.start();
    // Each worker holds the facility; a worker that waits for the GUI thread needs its events.
    while (m_facility.use_count() > 1) {
        if (elapsed.elapsed() >= grace.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

} // namespace torvaline
