#include "headless/HeadlessRun.h"

#include "list/LinkLines.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/curl/HttpBrowser.h"
#include "adapters/linux/FileRecoveryStore.h"
#include "adapters/qt/QtClock.h"
#include "adapters/qt/QtEventLoop.h"
#include "adapters/qt/QtTimer.h"
#include "cycle/ListRecovery.h"
#include "cycle/RowEvents.h"
#include "cycle/TorvalineCore.h"
#include "headless/RunReport.h"
#include "headless/StopSignals.h"
#include "list/AppTitle.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/ListFile.h"
#include "list/StatusBar.h"
#include "pages/HosterProfiles.h"
#include "platform/Browser.h"
#include "platform/Dialogs.h"
#include "platform/ShutdownNotice.h"
#include "platform/ShutdownService.h"
#include "platform/Timer.h"
#include "remote/CoreCommands.h"
#include "remote/RemoteControl.h"
#include "remote/RowTable.h"
#include "transfer/SpeedLimitText.h"
#include "transfer/TDownloadFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <exception>
#include <filesystem>
#include <functional>
#include <system_error>

namespace torvaline {

namespace {

// Nobody is at the machine to cancel a shutdown notice, so a run without a window never
// switches the machine off: this service refuses every request, and nothing arms it anyway.
class RefusingShutdown final : public ShutdownService {
public:
    void enableShutdownPrivilege() override {}
    void requestExit(ExitRequest, bool) override {}
};

class NoShutdownNotice final : public ShutdownNotice {
public:
    void show(int, std::function<void()>) override {}
    void close() override {}
};

// The browser as the cycle sees it: after a stop, the cycle goes on with the next row as it
// does in the window; a stopped run must not.
class ClosingBrowser final : public Browser {
public:
    explicit ClosingBrowser(Browser& inner)
        : m_inner(inner) {}
    void Navigate(const std::string& url) override {
        if (!m_closed)
            m_inner.Navigate(url);
    }
    void close() { m_closed = true; }
    void Stop() override { m_inner.Stop(); }
    std::shared_ptr<Document> document() override { return m_inner.document(); }
    void setEvents(BrowserEvents events) override { m_inner.setEvents(std::move(events)); }

private:
    Browser& m_inner;
    bool m_closed = false;
};

void printError(std::FILE* err, const std::string& text) {
    std::fputs(("torvaline: " + text + "\n").c_str(), err);
    std::fflush(err);
}

// Nobody is there to answer: what the last run left is always taken back, and a problem with
// its file is printed.
class UnattendedDialogs final : public Dialogs {
public:
    explicit UnattendedDialogs(std::FILE* err)
        : m_err(err) {}
    Answer confirm(const std::string&) override { return Answer::Yes; }
    std::optional<std::string> openFile(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> saveFile(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    void showError(const std::string& text) override { printError(m_err, text); }

private:
    std::FILE* m_err;
};

// The window's copy follows its grid; without one, the rows' events tell of every change of
// a link, a status or the rows. A completed row is written at once: its file is in place.
class RecoveryFeed final : public RowEvents {
public:
    explicit RecoveryFeed(ListRecovery& recovery)
        : m_recovery(recovery) {}
    void rowsAdded(int, std::span<const RowRef>) override { m_recovery.listChanged(); }
    void rowsRemoved(int, std::span<const RowRef>) override { m_recovery.listChanged(); }
    void rowMoved(std::uint64_t, int, int) override { m_recovery.listChanged(); }
    void rowPhase(const RowPhaseEvent& event) override {
        if (event.phase == RowPhase::Completed)
            m_recovery.saveNow();
        else
            m_recovery.listChanged();
    }
    void rowProgress(const RowProgressEvent&) override {}
    void listDone(int, int, int) override { m_recovery.listChanged(); }

private:
    ListRecovery& m_recovery;
};

} // namespace

// Declared in the order of creation, so that each part goes before what it uses.
struct HeadlessRun::Parts {
    QtEventLoop loop;
    std::shared_ptr<CurlShare> share = std::make_shared<CurlShare>();
    HttpBrowser http{loop, *share};
    DownloadList list;
    StatusBar statusBar;
    AppTitle title;
    DownloadFolder folder{"", '/'};
    // Made with the core, whose row events it renders; gone before it.
    std::unique_ptr<RunReport> report;
    ClosingBrowser browser{http};
    QtClock clock;
    QtTimer timer1, timer2;
    QtTimer elpsTimer, estTimer, stbarTimer, noticeTimer;
    // The transfers send the cookies the pages set: one jar for both.
    std::shared_ptr<CurlTransfer> facility = std::make_shared<CurlTransfer>(share);
    std::unique_ptr<TDownloadFile> component = std::make_unique<TDownloadFile>(loop, facility);
    RefusingShutdown shutdownService;
    NoShutdownNotice shutdownNotice;
    std::unique_ptr<TorvalineCore> core;
    // The daemon's copy of the list; gone before the core whose events feed it.
    std::unique_ptr<FileRecoveryStore> recoveryStore;
    QtTimer recoveryTimer;
    std::unique_ptr<ListRecovery> recovery;
    std::unique_ptr<RecoveryFeed> recoveryFeed;
    // The remote control, when asked for; gone before the core whose events it hears.
    RowTable remoteRows;
    std::unique_ptr<CoreCommands> remoteCommands;
    std::unique_ptr<RemoteControl> remote;

    ~Parts() { release(); }
    void release() {
        remote.reset();
        remoteCommands.reset();
        if (recoveryFeed)
            core->rowEvents().remove(*recoveryFeed);
        recoveryFeed.reset();
        recovery.reset();
        report.reset();
        core.reset();
    }
};

HeadlessRun::HeadlessRun(Options options)
    : m_options(std::move(options)) {}

HeadlessRun::~HeadlessRun() {
    if (!m_parts)
        return;
    m_parts->release();
    // Cancels a running transfer and detaches its worker, which then hands nothing more over.
    m_parts->component.reset();
    QElapsedTimer elapsed;
    elapsed.start();
    // Each worker holds the facility; a worker that waits for this thread needs its events.
    while (m_parts->facility.use_count() > 1) {
        if (elapsed.elapsed() >= m_options.workerGrace.count()) {
            // A worker that has not let go may still reach the event loop: leaving the parts
            // in place costs a little memory at exit, freeing them could crash.
            static_cast<void>(m_parts.release());
            return;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

int HeadlessRun::exec() {
    m_parts = std::make_unique<Parts>();
    Parts& p = *m_parts;
    if (const HosterProfiles* profiles = m_options.profiles)
        p.list.setHostNamer(
            [profiles](const std::string& link) { return profiles->hostName(link); });

    for (const std::string& file : m_options.listFiles) {
        try {
            LoadFile(file, p.list);
        } catch (const std::exception& e) {
            printError(m_options.err, e.what());
            return SetupFailed;
        }
    }
    if (!m_options.links.empty())
        AppendLinks(p.list, m_options.links);
    if (p.list.rowCount() <= 1 && !m_options.daemon) {
        printError(m_options.err, "the list files hold no links");
        return 1;
    }

    std::error_code ec;
    std::filesystem::path folder = m_options.folder;
    if (!folder.empty())
        folder = std::filesystem::absolute(folder, ec);
    if (folder.empty() || ec || (std::filesystem::create_directories(folder, ec), ec) ||
        !std::filesystem::is_directory(folder, ec)) {
        printError(m_options.err, "cannot use the download folder \"" + m_options.folder + "\"" +
                                      (ec ? ": " + ec.message() : std::string()));
        return SetupFailed;
    }
    p.folder.setText(folder.string());

    p.core = std::make_unique<TorvalineCore>(TorvalineCore::Ports{
        p.list, p.statusBar, p.title, p.folder, p.browser, p.loop, p.clock, p.timer1, p.timer2,
        p.elpsTimer, p.estTimer, p.stbarTimer, p.noticeTimer, *p.component, p.shutdownService,
        p.shutdownNotice, m_options.decimalSeparator});
    p.report = std::make_unique<RunReport>(
        p.list, p.core->rowEvents(),
        RunReport::Options{m_options.out, m_options.progressLine, m_options.decimalSeparator});
    p.core->setProfiles(m_options.profiles);
    p.core->cycle().setUnattended(true);
    p.core->setOnListDone([this] { finish(); });
    keepListForRecovery();
    if (m_options.remote.on) {
        const Options::Remote& r = m_options.remote;
        p.remoteCommands = std::make_unique<CoreCommands>(
            *p.core, p.list, p.folder, p.remoteRows,
            CoreCommands::Hooks{
                [this](int firstNewRow) { resumeAt(firstNewRow); },
                [this]() -> std::string {
                    Parts& parts = *m_parts;
                    if (!parts.recovery)
                        return "this run keeps no session file";
                    parts.recovery->saveNow();
                    parts.recoveryStore->flush();
                    const std::string problem = parts.recoveryStore->problem();
                    return problem.empty() ? parts.recoveryStore->lastWriteError() : problem;
                },
                [this] { stop(0); },
                [this](std::uint64_t limit) { m_parts->facility->setSpeedLimit(limit); },
                {},
                {}});
        p.remote = std::make_unique<RemoteControl>(
            p.core->rowEvents(), p.remoteRows, *p.remoteCommands,
            RemoteControl::Options{r.port, r.listenAll, QString::fromStdString(r.secret),
                                   QString::fromStdString(r.programVersion)});
        const QString error = p.remote->start();
        if (!error.isEmpty()) {
            printError(m_options.err, "remote control: " + error.toStdString());
            return SetupFailed;
        }
    }

    StopSignals stopSignals([this](int signo) { stop(128 + signo); });
    // A reader that went away (`| head`) must not kill the run with a partial file behind:
    // the lines are lost, the downloads go on.
    const auto previousPipe = std::signal(SIGPIPE, SIG_IGN);
    QTimer stallCheck;
    QObject::connect(&stallCheck, &QTimer::timeout, [this] { checkStall(); });
    stallCheck.start(std::chrono::milliseconds(250));

    const int links = p.list.rowCount() - 1;
    if (p.remote)
        p.report->line("Remote control listening on port " + std::to_string(p.remote->port()) +
                       (m_options.remote.listenAll ? " (every address)" : " (this machine only)"));
    if (links == 0) {
        m_idle = true;
        p.report->line("Waiting for links from the remote control, into " + folder.string());
    } else {
        p.report->line("Downloading " + std::to_string(links) + (links == 1 ? " link" : " links") +
                       " into " + folder.string());
        // Started from the loop, so that a list that ends at once still finds the loop running.
        QTimer::singleShot(0, [this] { m_parts->core->StartDownload1Click(); });
    }
    p.facility->setSpeedLimit(m_options.speedLimit);
    if (m_options.speedLimit > 0)
        p.report->line("Speed limit " + speedLimitText(p.facility->speedLimit()));
    QCoreApplication::exec();

    stallCheck.stop();
    endRecovery();
    const bool allCompleted = p.report->printSummary();
    std::signal(SIGPIPE, previousPipe);
    if (m_stopStatus >= 0)
        return m_stopStatus;
    return allCompleted ? 0 : 1;
}

void HeadlessRun::keepListForRecovery() {
    if (!m_options.daemon || m_options.recoveryFolder.empty())
        return;
    Parts& p = *m_parts;
    p.recoveryStore = std::make_unique<FileRecoveryStore>(m_options.recoveryFolder);
    p.recovery = std::make_unique<ListRecovery>(p.list, *p.recoveryStore, p.recoveryTimer);
    p.recovery->bindCycle(p.core->cycle(), p.folder);
    // A row a front end paused stays paused across a restart; only the remote control lets
    // it go again.
    if (m_options.remote.on)
        p.recovery->bindHold([&p](std::uint64_t id) { p.core->cycle().holdRow(id); });
    p.recovery->setOnProblem([this](const std::string& text) { printError(m_options.err, text); });
    const int before = p.list.rowCount();
    UnattendedDialogs dialogs(m_options.err);
    p.recovery->offerRestore(dialogs);
    const int restored = p.list.rowCount() - before;
    if (restored > 0)
        p.report->line("Took back " + std::to_string(restored) +
                       (restored == 1 ? " unfinished link" : " unfinished links") +
                       " of the last run");
    p.recoveryFeed = std::make_unique<RecoveryFeed>(*p.recovery);
    p.core->rowEvents().add(*p.recoveryFeed);
}

void HeadlessRun::endRecovery() {
    Parts& p = *m_parts;
    if (!p.recovery)
        return;
    if (p.recovery->listHasUnfinished()) {
        p.recovery->saveNow();
        p.recoveryStore->flush();
    } else {
        p.recovery->closeNormally();
    }
}

void HeadlessRun::finish() {
    if (m_options.daemon && m_stopStatus < 0) {
        if (!m_idle)
            m_parts->report->line("List done; waiting for links from the remote control");
        m_idle = true;
        return;
    }
    if (m_finished)
        return;
    m_finished = true;
    // The core is still inside the finish handler of the last row; leave it first.
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
}

void HeadlessRun::checkStall() {
    Parts& p = *m_parts;
    const bool atRest = !m_finished && !m_idle && m_stopStatus < 0 && !p.timer1.enabled() &&
                        !p.timer2.enabled() && !p.http.busy() && !p.component->busy();
    const auto now = std::chrono::steady_clock::now();
    if (!atRest) {
        m_atRest = false;
        return;
    }
    if (!m_atRest) {
        m_atRest = true;
        m_restSince = now;
        return;
    }
    if (now - m_restSince < m_options.stallLimit)
        return;
    m_atRest = false;
    p.core->cycle().failCurrentRow("the page offers nothing to act on");
}

void HeadlessRun::resumeAt(int firstNewRow) {
    if (!m_idle || m_stopStatus >= 0)
        return;
    // From the loop: the command that added the rows answers first.
    QTimer::singleShot(0, [this, firstNewRow] {
        if (m_parts && m_parts->core && m_stopStatus < 0 && m_idle &&
            m_parts->core->startAt(firstNewRow))
            m_idle = false;
    });
}

void HeadlessRun::stop(int status) {
    if (!m_parts || !m_parts->core)
        return;
    if (m_stopStatus >= 0) {
        // A second signal: the user does not want to wait for the transfer to let go.
        QCoreApplication::quit();
        return;
    }
    m_stopStatus = status;
    m_finished = true;
    m_parts->report->line(status == 0               ? "Shut down by the remote control: stopping "
                                                      "the current row"
                          : status == 128 + SIGTERM ? "Terminated: stopping the current row"
                                                    : "Interrupted: stopping the current row");
    m_parts->browser.close();
    m_parts->report->closeOpenings();
    // A row held by Pause stays held in the list kept for the next start.
    m_parts->core->cycle().stopForTheEnd();
    waitForTransferThenQuit();
}

void HeadlessRun::waitForTransferThenQuit() {
    // The transfer removes its partial file when it ends; the summary comes after that.
    auto* poll = new QTimer(QCoreApplication::instance());
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    QObject::connect(poll, &QTimer::timeout, poll, [this, poll, elapsed] {
        const bool busy = m_parts->component && m_parts->component->busy();
        if (busy && elapsed->elapsed() < m_options.workerGrace.count())
            return;
        poll->deleteLater();
        QCoreApplication::quit();
    });
    poll->start(20);
}

} // namespace torvaline
