#include "app/TorvalineApp.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/curl/HttpBrowser.h"
#include "adapters/qt/QtClock.h"
#include "adapters/qt/QtEventLoop.h"
#include "adapters/qt/QtShutdownNotice.h"
#include "adapters/qt/QtTimer.h"
#include "app/DownloadGrid.h"
#include "app/DownloadListModel.h"
#include "app/ListDoneNotice.h"
#include "app/Main.h"
#include "app/PauseResumeButtons.h"
#include "app/SpeedLimitControl.h"
#include "app/WorkingRowMarker.h"
#include "cycle/DownloadCycle.h"
#include "cycle/ListRecovery.h"
#include "cycle/TorvalineCore.h"
#include "list/DownloadFolder.h"
#include "list/RowTexts.h"
#include "list/StatusBar.h"
#include "platform/RecoveryStore.h"
#include "transfer/TDownloadFile.h"

#ifndef _WIN32
#include "adapters/linux/FileRecoveryStore.h"
#endif

#include <QAbstractItemModel>
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
    , m_notice(std::make_unique<QtShutdownNotice>(m_form.get()))
    , m_dialogs(dialogs) {
    TForm1& form = *m_form;
    m_core = std::make_unique<TorvalineCore>(TorvalineCore::Ports{
        form.downloadList(), form.StatusBar1(), form.appTitle(), form.Edit2(), form.WebBrowser1(),
        *m_loop, *m_clock, *m_timer1, *m_timer2, *m_elpsTimer, *m_estTimer, form.StbarTimer(),
        *m_noticeTimer, *m_component, shutdownService, *m_notice, m_options.decimalSeparator});
    TorvalineCore& core = *m_core;
    m_workingRow = std::make_unique<WorkingRowMarker>(
        [&form](std::uint64_t id) { form.listModel().setWorkingRow(id); });
    core.rowEvents().add(*m_workingRow);
    // "Start Download Now" of the Download Options dialog runs the same command.
    form.bindStartDownload([&core] { core.StartDownload1Click(); });
    form.bindStopDownload([&core] { core.StopDownExecute(); });
    // Failed rows wait again in their places; a list at rest starts on the first of them.
    form.bindRetryFailed([&core, &form] {
        DownloadList& list = form.downloadList();
        int first = 0;
        for (int row = 1; row < list.rowCount(); ++row)
            if (core.cycle().retryRow(list.id(row)) && first == 0)
                first = row;
        if (first != 0)
            core.startAt(first);
    });
    const auto refreshPause = [&form, &core] {
        form.setPauseResumeEnabled(core.canPause(), core.canResume());
    };
    m_pauseButtons = std::make_unique<PauseResumeButtons>(refreshPause);
    core.rowEvents().add(*m_pauseButtons);
    // A pause of a transfer is told once the transfer stopped; until then neither applies.
    form.bindPauseResume(
        [&core, refreshPause] {
            core.pause();
            refreshPause();
        },
        [&core, refreshPause] {
            core.resume();
            refreshPause();
        });
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
    // The facility is shared with the workers: the limit reaches a running transfer too.
    // A weak hold: the workers' count of the facility is how the end knows they let go.
    m_speedLimit =
        new SpeedLimitControl(form, [facility = std::weak_ptr(m_facility)](std::uint64_t rate) {
            if (const auto held = facility.lock())
                held->setSpeedLimit(rate);
        });
    keepListForRecovery();
}

void TorvalineApp::keepListForRecovery() {
#ifndef _WIN32
    if (m_options.recoveryFolder.empty())
        return;
    m_recoveryStore = std::make_unique<FileRecoveryStore>(m_options.recoveryFolder);
#endif
    if (!m_recoveryStore)
        return;
    m_recoveryTimer = std::make_unique<QtTimer>();
    m_recovery =
        std::make_unique<ListRecovery>(m_form->downloadList(), *m_recoveryStore, *m_recoveryTimer);
    // The temporary file of the row being transferred goes with the list, so that a transfer
    // cut by a crash is continued after the restore.
    DownloadCycle& cycle = m_core->cycle();
    m_recovery->bindCycle(cycle, m_form->Edit2());
    // Every change of the list reaches the view through the model; only the rows and the
    // cells the recovery file holds (host, link, status) call for a new copy, so the
    // progress columns of a running transfer do not.
    ListRecovery& recovery = *m_recovery;
    StatusBar& statusBar = m_form->StatusBar1();
    recovery.setOnProblem([&statusBar](const std::string& text) {
        statusBar.setText(0, text);
        statusBar.setWidth(0, StatusBar::widthFor(text));
    });
    const DownloadList& list = m_form->downloadList();
    const QAbstractItemModel* model = m_form->MyStringGrid()->model();
    const auto changed = [&recovery] { recovery.listChanged(); };
    m_recoveryConnections = {
        QObject::connect(
            model, &QAbstractItemModel::dataChanged,
            [&recovery, &list](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                if (topLeft.column() <= DownloadList::URL ||
                    bottomRight.column() >= DownloadList::Status)
                    recovery.listChanged();
                if (bottomRight.column() < DownloadList::Status)
                    return;
                // A finished row is written at once: its file is in place.
                for (int r = std::max(topLeft.row(), 1);
                     r <= bottomRight.row() && r < list.rowCount(); ++r)
                    if (list.cell(r, DownloadList::Status) == StatusCompleted) {
                        recovery.saveNow();
                        return;
                    }
            }),
        QObject::connect(model, &QAbstractItemModel::rowsInserted, changed),
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, changed),
        QObject::connect(model, &QAbstractItemModel::rowsMoved, changed),
        QObject::connect(model, &QAbstractItemModel::modelReset, changed),
        QObject::connect(model, &QAbstractItemModel::layoutChanged, changed),
    };
}

void TorvalineApp::offerRecovery() {
    if (m_recovery)
        m_recovery->offerRestore(m_dialogs);
}

std::string TorvalineApp::saveRecoveryNow() {
    if (!m_recovery)
        return "this run keeps no session file";
    m_recovery->saveNow();
    return m_recoveryStore->problem();
}

TorvalineApp::~TorvalineApp() {
    // The program ends normally: the list was seen and the user was asked about saving it.
    for (const QMetaObject::Connection& c : m_recoveryConnections)
        QObject::disconnect(c);
    if (m_recovery)
        m_recovery->closeNormally();
    m_recovery.reset();
    // The window outlives the core: nothing it still delivers may reach the core once gone.
    m_form->bindStartDownload({});
    m_form->bindStopDownload({});
    m_form->bindRetryFailed({});
    m_form->bindPauseResume({}, {});
    m_form->bindShutdownControl(nullptr);
    m_form->bindProgressDisplay(nullptr);
    m_core->rowEvents().remove(*m_workingRow);
    m_core->rowEvents().remove(*m_pauseButtons);
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
    // Each worker holds the facility, and so does each of its hand-offs still queued here.
    while (m_facility.use_count() > 1) {
        if (elapsed.elapsed() >= grace.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

} // namespace torvaline
