#include "headless/HeadlessRun.h"

#include "list/LinkLines.h"

#include "adapters/curl/CurlLinkProbe.h"
#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/curl/HttpBrowser.h"
#include "adapters/qt/QtClock.h"
#include "adapters/qt/QtEventLoop.h"
#include "adapters/qt/QtTimer.h"
#include "cycle/TorvalineCore.h"
#include "headless/RunReport.h"
#include "headless/StopSignals.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/ListFile.h"
#include "pages/HosterProfiles.h"
#include "platform/Browser.h"
#include "platform/Dialogs.h"
#include "platform/Result.h"
#include "platform/ShutdownNotice.h"
#include "platform/ShutdownService.h"
#include "platform/Timer.h"
#include "platform/WorkerCount.h"
#include "remote/SessionRemote.h"
#include "session/ArchiveSettings.h"
#include "session/DownloadLanes.h"
#include "session/DownloadSession.h"
#include "session/PackageFollowUp.h"
#include "transfer/SpeedLimitText.h"
#include "transfer/TDownloadFile.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
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
// does in the window; a stopped run must not. One flag closes every lane's.
class ClosingBrowser final : public Browser {
public:
    ClosingBrowser(Browser& inner, std::shared_ptr<bool> closed)
        : m_inner(inner)
        , m_closed(std::move(closed)) {}
    void Navigate(const std::string& url) override {
        if (!*m_closed)
            m_inner.Navigate(url);
    }
    void close() { *m_closed = true; }
    void Stop() override { m_inner.Stop(); }
    std::shared_ptr<Document> document() override { return m_inner.document(); }
    void setEvents(BrowserEvents events) override { m_inner.setEvents(std::move(events)); }
    void setRequestOptions(RequestOptions options) override {
        m_inner.setRequestOptions(std::move(options));
    }
    bool busy() const override { return m_inner.busy(); }

private:
    Browser& m_inner;
    std::shared_ptr<bool> m_closed;
};

// A further lane's browser, with its own page fetcher.
class LaneBrowser final : public Browser {
public:
    LaneBrowser(EventLoop& loop, CurlShare& share, std::shared_ptr<WorkerCount> workers,
                std::shared_ptr<bool> closed)
        : m_http(loop, share)
        , m_closing(m_http, std::move(closed)) {
        m_http.countWorkers(std::move(workers));
    }
    void Navigate(const std::string& url) override { m_closing.Navigate(url); }
    void Stop() override { m_closing.Stop(); }
    std::shared_ptr<Document> document() override { return m_closing.document(); }
    void setEvents(BrowserEvents events) override { m_closing.setEvents(std::move(events)); }
    void setRequestOptions(RequestOptions options) override {
        m_closing.setRequestOptions(std::move(options));
    }
    bool busy() const override { return m_closing.busy(); }

private:
    HttpBrowser m_http;
    ClosingBrowser m_closing;
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

} // namespace

// Declared in the order of creation, so that each part goes before what it uses.
struct HeadlessRun::Parts {
    QtEventLoop loop;
    std::shared_ptr<CurlShare> share = std::make_shared<CurlShare>();
    std::shared_ptr<WorkerCount> workers = std::make_shared<WorkerCount>();
    HttpBrowser http{loop, *share};
    std::shared_ptr<bool> closed = std::make_shared<bool>(false);
    ClosingBrowser browser{http, closed};
    QtClock clock;
    // The transfers send the cookies the pages set: one jar for both.
    std::shared_ptr<CurlTransfer> facility = std::make_shared<CurlTransfer>(share);
    RefusingShutdown shutdownService;
    NoShutdownNotice shutdownNotice;
    std::unique_ptr<DownloadSession> session;
    // Made with the core, whose row events it renders; gone before it.
    std::unique_ptr<RunReport> report;

    TorvalineCore& core() { return session->core(); }
};

HeadlessRun::HeadlessRun(Options options)
    : m_options(std::move(options)) {}

HeadlessRun::~HeadlessRun() {
    if (!m_parts)
        return;
    m_parts->report.reset();
    if (!m_parts->session->close()) {
        // A worker that has not let go may still reach the event loop: leaving the parts in
        // place costs a little memory at exit, freeing them could crash.
        static_cast<void>(m_parts.release());
    }
}

void HeadlessRun::setUp() {
    m_parts = std::make_unique<Parts>();
    Parts& p = *m_parts;
    p.http.countWorkers(p.workers);
    DownloadSession::Options options;
    options.defaultFolder = "";
    options.separator = '/';
    options.decimalSeparator = m_options.decimalSeparator;
    options.workerGrace = m_options.workerGrace;
    if (m_options.daemon)
        options.recoveryFolder = m_options.recoveryFolder;
    // A row a front end paused stays paused across a restart; only the remote control lets
    // it go again.
    options.holdRestoredRows = m_options.remote.on;
    options.unattended = true;
    options.checkLinks = m_options.checkLinks;
    options.lanes = m_options.lanes;
    // Only the remote control can answer an image captcha; without it the row fails.
    options.captchaAnswered = m_options.remote.on;
    std::FILE* err = m_options.err;
    p.session = std::make_unique<DownloadSession>(
        DownloadSession::Adapters{
            .browser = p.browser,
            .loop = p.loop,
            .clock = p.clock,
            .makeTimer = [] { return std::make_unique<QtTimer>(); },
            .facility = p.facility,
            .shutdownService = p.shutdownService,
            .shutdownNotice = p.shutdownNotice,
            .workers = p.workers,
            .notice = [err](const std::string& text) { printError(err, text); },
            .startThread = {},
            .linkProbe = std::make_shared<CurlLinkProbe>(p.share),
            .makeBrowser = [&p]() -> std::unique_ptr<Browser> {
                return std::make_unique<LaneBrowser>(p.loop, *p.share, p.workers, p.closed);
            },
        },
        std::move(options));
    p.session->setProfiles(m_options.profiles);
}

int HeadlessRun::exec() {
    setUp();
    Parts& p = *m_parts;
    DownloadList& list = p.session->list();

    for (const std::string& file : m_options.listFiles) {
        if (const Result<void> loaded = LoadFile(file, list); !loaded) {
            printError(m_options.err, loaded.reason());
            return SetupFailed;
        }
    }
    if (!m_options.links.empty())
        AppendLinks(list, m_options.links);
    if (list.rowCount() <= 1 && !m_options.daemon) {
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
    p.session->folder().setText(folder.string());

    p.report = std::make_unique<RunReport>(
        list, p.session->rowEvents(),
        RunReport::Options{m_options.out, m_options.progressLine, m_options.decimalSeparator});
    // The archives the list brings: the same choices as the window's, one line a package.
    p.session->packages().setChoices(ArchiveSettings::load());
    p.session->packages().setOnNotice([report = p.report.get()](const PackageFollowUp::Notice& n) {
        if (n.kind != PackageFollowUp::Notice::Kind::Progress)
            report->line(n.text);
    });
    p.core().setOnListDone([this] { finish(); });
    keepListForRecovery();
    if (m_options.remote.on) {
        const Options::Remote& r = m_options.remote;
        SessionRemote::Hooks hooks;
        hooks.shutdown = [this] { stop(0); };
        hooks.resume = [this](int firstNewRow) { resumeAt(firstNewRow); };
        const QString error = SessionRemote::start(
            *p.session,
            RemoteControl::Options{r.port, r.listenAll, QString::fromStdString(r.secret),
                                   QString::fromStdString(r.programVersion)},
            std::move(hooks));
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

    const int links = list.rowCount() - 1;
    if (RemoteControl* remote = SessionRemote::of(*p.session))
        p.report->line("Remote control listening on port " + std::to_string(remote->port()) +
                       (m_options.remote.listenAll ? " (every address)" : " (this machine only)"));
    if (links == 0) {
        m_idle = true;
        p.report->line("Waiting for links from the remote control, into " + folder.string());
    } else {
        p.report->line("Downloading " + std::to_string(links) + (links == 1 ? " link" : " links") +
                       " into " + folder.string());
        // Started from the loop, so that a list that ends at once still finds the loop running.
        QTimer::singleShot(0, [this] { m_parts->session->start(); });
    }
    p.facility->setSpeedLimit(m_options.speedLimit);
    if (m_options.speedLimit > 0)
        p.report->line("Speed limit " + speedLimitText(p.facility->speedLimit()));
    QCoreApplication::exec();

    stallCheck.stop();
    endRecovery();
    const bool allCompleted = p.report->printSummary();
    if (const PackageFollowUp& packages = p.session->packages();
        packages.extractedCount() + packages.notExtractedCount() > 0)
        p.report->line("Packages: " + std::to_string(packages.extractedCount()) + " extracted, " +
                       std::to_string(packages.notExtractedCount()) + " not extracted");
    std::signal(SIGPIPE, previousPipe);
    if (m_stopStatus >= 0)
        return m_stopStatus;
    return allCompleted ? 0 : 1;
}

void HeadlessRun::keepListForRecovery() {
    UnattendedDialogs dialogs(m_options.err);
    const int restored = m_parts->session->offerRecovery(dialogs);
    if (restored > 0)
        m_parts->report->line("Took back " + std::to_string(restored) +
                              (restored == 1 ? " unfinished link" : " unfinished links") +
                              " of the last run");
}

void HeadlessRun::endRecovery() {
    m_parts->session->endRecovery(true);
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
    // A part checked or a package extracted after the last row: the run ends after it, or
    // goes on with a part downloaded again.
    if (PackageFollowUp& packages = m_parts->session->packages(); packages.busy()) {
        packages.setOnIdle([this] {
            if (m_parts->session->lanes().atRest())
                finish();
        });
        return;
    }
    m_finished = true;
    // The core is still inside the finish handler of the last row; leave it first.
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
}

void HeadlessRun::checkStall() {
    Parts& p = *m_parts;
    if (m_finished || m_idle || m_stopStatus >= 0)
        return;
    // Each lane on its own: a row whose page offered nothing to act on fails, the others go on.
    p.session->lanes().failStalled(m_options.stallLimit, "the page offers nothing to act on");
}

void HeadlessRun::resumeAt(int firstNewRow) {
    if (!m_idle || m_stopStatus >= 0)
        return;
    // From the loop: the command that added the rows answers first.
    QTimer::singleShot(0, [this, firstNewRow] {
        if (m_parts && m_parts->session && m_stopStatus < 0 && m_idle &&
            m_parts->session->startAt(firstNewRow))
            m_idle = false;
    });
}

void HeadlessRun::stop(int status) {
    if (!m_parts || !m_parts->report)
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
    m_parts->session->stopForTheEnd();
    waitForTransferThenQuit();
}

void HeadlessRun::waitForTransferThenQuit() {
    // The transfer removes its partial file when it ends; the summary comes after that, or
    // after the grace when a transfer does not let go.
    DownloadLanes& lanes = m_parts->session->lanes();
    auto* deadline = new QTimer(QCoreApplication::instance());
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, deadline, [&lanes, deadline] {
        lanes.whenTransfersEnd({});
        deadline->deleteLater();
        QCoreApplication::quit();
    });
    deadline->start(m_options.workerGrace);
    lanes.whenTransfersEnd([deadline] {
        deadline->stop();
        deadline->deleteLater();
        QCoreApplication::quit();
    });
}

} // namespace torvaline
