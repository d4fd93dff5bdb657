#include "session/DownloadSession.h"

#include "adapters/linux/FileRecoveryStore.h"
#include "cycle/ListRecovery.h"
#include "cycle/RowEventHub.h"
#include "cycle/TorvalineCore.h"
#include "list/RowTexts.h"
#include "platform/Browser.h"
#include "platform/EventLoop.h"
#include "platform/TransferFacility.h"
#include "platform/WorkerCount.h"
#include "session/DownloadLanes.h"
#include "session/LinkCheck.h"
#include "session/PackageFollowUp.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

namespace torvaline {

namespace {

// The copy against a crash follows the rows' events: every change of a link, a status or the
// rows is one of them. A completed row is written at once: its file is in place.
class RecoveryFeed final : public RowEvents {
public:
    RecoveryFeed(ListRecovery& recovery, const DownloadList& list)
        : m_recovery(recovery)
        , m_list(list) {}
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
    // A front end's edit, which no phase tells.
    void rowTextsChanged(int first, int last) override {
        m_recovery.listChanged();
        for (int r = std::max(first, 1); r <= last && r < m_list.rowCount(); ++r)
            if (m_list.cell(r, DownloadList::Status) == StatusCompleted) {
                m_recovery.saveNow();
                return;
            }
    }

private:
    ListRecovery& m_recovery;
    const DownloadList& m_list;
};

// Every row on the list where it stands, for a front end that attaches late: the rows, then
// the phase and figures of each row whose record has more to say than "waiting".
// `now`: seconds since the epoch, on the clock the wait ends were written by.
void tellRows(const DownloadList& list, std::int64_t now, RowEvents& observer) {
    if (list.rowCount() <= 1)
        return;
    std::vector<RowRef> rows;
    rows.reserve(static_cast<std::size_t>(list.rowCount() - 1));
    for (int r = 1; r < list.rowCount(); ++r)
        rows.push_back({list.id(r), list.cell(r, DownloadList::URL)});
    observer.rowsAdded(1, rows);
    for (int r = 1; r < list.rowCount(); ++r) {
        const RowRecord& record = list.record(r);
        if (record.phase == RowPhase::Waiting && record.details.get().reason.empty())
            continue;
        RowPhaseEvent event;
        event.id = list.id(r);
        event.phase = record.phase;
        event.link = list.cell(r, DownloadList::URL);
        event.fileName = record.details.get().fileName;
        event.filePath = record.details.get().filePath;
        event.secondsLeft = record.waitUntil > now ? record.waitUntil - now : 0;
        event.retry = record.retry;
        event.retryAt = record.details.get().retryAt;
        event.reason = record.details.get().reason;
        event.cause = record.cause;
        event.captcha = record.details.get().captcha;
        if (record.phase == RowPhase::Completed && record.total > 0)
            event.size = record.total;
        observer.rowPhase(event);
        if (record.phase == RowPhase::Transferring && (record.done > 0 || record.total > 0))
            observer.rowProgress({event.id, record.done, record.total, record.speed});
    }
}

} // namespace

DownloadSession::DownloadSession(Adapters adapters, Options options)
    : m_adapters(std::move(adapters))
    , m_options(std::move(options))
    , m_workers(m_adapters.workers ? m_adapters.workers : std::make_shared<WorkerCount>())
    , m_facility(m_adapters.facility)
    , m_data(m_options.defaultFolder, m_options.separator, m_adapters.makeTimer())
    , m_timer1(m_adapters.makeTimer())
    , m_timer2(m_adapters.makeTimer())
    , m_elpsTimer(m_adapters.makeTimer())
    , m_estTimer(m_adapters.makeTimer())
    , m_noticeTimer(m_adapters.makeTimer()) {
    // A transfer's worker is a detached thread (it may wait for this thread, which cannot join
    // it then): it is counted from before its start to after the last thing it touches, so
    // that the end knows when it let go.
    ThreadStarter start =
        m_adapters.startThread ? m_adapters.startThread : TDownloadFile::detachedThread();
    ThreadStarter counted = [start = std::move(start),
                             workers = m_workers](std::function<void()> body) {
        auto running = std::make_shared<WorkerCount::Running>(WorkerCount::enter(workers));
        return start([body = std::move(body), running]() mutable {
            body();
            // The worker and its hold on the facility go before the count says so.
            body = nullptr;
            running->end();
        });
    };
    m_component = std::make_unique<TDownloadFile>(m_adapters.loop, m_facility, counted);
    TorvalineCore::Ports ports{m_data.list,
                               m_firstBar,
                               m_data.title,
                               m_data.folder,
                               m_adapters.browser,
                               m_adapters.loop,
                               m_adapters.clock,
                               *m_timer1,
                               *m_timer2,
                               *m_elpsTimer,
                               *m_estTimer,
                               *m_data.stbarTimer,
                               *m_noticeTimer,
                               *m_component,
                               m_adapters.shutdownService,
                               m_adapters.shutdownNotice,
                               m_options.decimalSeparator};
    // The minimised title follows the status bar as shown, whichever lane it shows.
    ports.titleSource = [this]() -> const StatusBar& {
        return m_lanes ? m_lanes->titleBar() : m_data.statusBar;
    };
    m_core = std::make_unique<TorvalineCore>(ports);
    m_core->cycle().setUnattended(m_options.unattended);
    m_core->cycle().setCaptchaAnswers(m_options.captchaAnswered, m_options.captchaTimeout);
    m_lanes = std::make_unique<DownloadLanes>(
        DownloadLanes::Ports{
            m_data.list, m_data.statusBar, m_data.folder, m_adapters.loop, m_adapters.clock,
            m_adapters.shutdownService, m_adapters.shutdownNotice, m_facility, counted,
            m_adapters.makeTimer, m_adapters.makeBrowser, m_options.decimalSeparator,
            m_options.unattended, m_options.captchaAnswered, m_options.captchaTimeout},
        *m_core, m_firstBar, m_adapters.browser, *m_component);
    m_lanes->setLimit(m_options.lanes);
    m_core->rowEvents().add(*m_lanes);
    m_linkCheck = std::make_unique<LinkCheck>(LinkCheck::Ports{
        m_data.list, m_adapters.loop, m_adapters.clock, m_adapters.linkProbe, m_workers,
        m_adapters.startThread, m_adapters.makeTimer(), &m_core->rowEvents()});
    m_linkCheck->setEnabled(m_options.checkLinks);
    // One look at a time per hoster as the lanes count hosters (a profile's site, else the
    // link's host).
    m_linkCheck->setHosterOf([lanes = m_lanes.get()](const std::string& link) {
        return lanes->hosterOf(link, false).first;
    });
    m_core->rowEvents().add(*m_linkCheck);
    m_packages = std::make_unique<PackageFollowUp>(PackageFollowUp::Ports{
        m_data.list, *m_core, m_data.folder, m_adapters.loop, m_adapters.clock, m_workers,
        m_options.decimalSeparator, [this](int row) { return m_lanes->startAt(row); },
        [this] { return m_lanes->atRest(); }});
    m_core->rowEvents().add(*m_packages);
    keepListForRecovery();
}

int DownloadSession::maxDownloads() const {
    return m_lanes->limit();
}

void DownloadSession::setMaxDownloads(int lanes) {
    m_lanes->setLimit(lanes);
}

void DownloadSession::start() {
    m_lanes->start();
}

void DownloadSession::stop() {
    m_lanes->stop();
}

void DownloadSession::stopForTheEnd() {
    m_lanes->stopForTheEnd();
}

bool DownloadSession::startAt(int row) {
    return m_lanes->startAt(row);
}

bool DownloadSession::pause(std::uint64_t id) {
    return m_lanes->pause(id);
}

bool DownloadSession::resume(std::uint64_t id) {
    return m_lanes->resume(id);
}

bool DownloadSession::canPause(std::uint64_t id) const {
    return m_lanes->canPause(id);
}

bool DownloadSession::canResume(std::uint64_t id) const {
    return m_lanes->canResume(id);
}

bool DownloadSession::answerCaptcha(std::uint64_t id, const std::string& code) {
    return m_lanes->answerCaptcha(id, code);
}

void DownloadSession::pauseAll() {
    m_lanes->pauseAll();
}

void DownloadSession::resumeAll() {
    m_lanes->resumeAll();
}

DownloadSession::~DownloadSession() {
    close();
}

RowEventHub& DownloadSession::rowEvents() {
    return m_core->rowEvents();
}

void DownloadSession::setProfiles(const HosterProfiles* profiles) {
    m_core->setProfiles(profiles);
    m_linkCheck->setProfiles(profiles);
    m_lanes->setProfiles(profiles);
}

bool DownloadSession::waiting() const {
    return m_lanes->waiting();
}

void DownloadSession::attach(RowEvents& observer) {
    tellRows(m_data.list, m_core->rowEvents().now(), observer);
    m_core->rowEvents().add(observer);
}

void DownloadSession::detach(RowEvents& observer) {
    if (m_core)
        m_core->rowEvents().remove(observer);
}

void DownloadSession::keepListForRecovery() {
    if (m_options.recoveryFolder.empty())
        return;
    m_recoveryStore = std::make_unique<FileRecoveryStore>(m_options.recoveryFolder);
    m_recoveryTimer = m_adapters.makeTimer();
    m_recovery = std::make_unique<ListRecovery>(m_data.list, *m_recoveryStore, *m_recoveryTimer);
    // The temporary file of the row being transferred goes with the list, so that a transfer
    // cut by a crash is continued after the restore.
    m_recovery->bindCycle(m_core->cycle(), m_data.folder);
    // Every lane's transfer: a crash cuts them all.
    m_recovery->bindPartials(
        [this] {
            ListRecovery::Partials partials;
            for (auto& [link, file] : m_lanes->keptPartials())
                partials.kept.push_back({std::move(link), std::move(file)});
            partials.pending = m_lanes->partialPending();
            return partials;
        },
        [this](ListRecovery::KeptPartial kept) {
            m_core->cycle().restorePartial(std::move(kept.link), std::move(kept.file));
        },
        [this] { return m_data.folder.text(); });
    if (m_options.holdRestoredRows)
        m_recovery->bindHold([this](std::uint64_t id) { m_core->cycle().holdRow(id); });
    if (m_adapters.notice) {
        m_recovery->setOnProblem(m_adapters.notice);
    } else {
        StatusBar& statusBar = m_data.statusBar;
        m_recovery->setOnProblem([&statusBar](const std::string& text) {
            statusBar.setText(0, text);
            statusBar.setWidth(0, StatusBar::widthFor(text));
        });
    }
    m_recoveryFeed = std::make_unique<RecoveryFeed>(*m_recovery, m_data.list);
    m_core->rowEvents().add(*m_recoveryFeed);
}

int DownloadSession::offerRecovery(Dialogs& dialogs) {
    if (!m_recovery)
        return 0;
    const int before = m_data.list.rowCount();
    m_recovery->offerRestore(dialogs);
    return m_data.list.rowCount() - before;
}

std::string DownloadSession::saveRecoveryNow() {
    if (!m_recovery)
        return "this run keeps no session file";
    m_recovery->saveNow();
    m_recoveryStore->flush();
    const std::string problem = m_recoveryStore->problem();
    return problem.empty() ? m_recoveryStore->lastWriteError() : problem;
}

void DownloadSession::endRecovery(bool keepUnfinished) {
    if (!m_recovery)
        return;
    if (keepUnfinished && m_recovery->listHasUnfinished()) {
        m_recovery->saveNow();
        m_recoveryStore->flush();
    } else {
        m_recovery->closeNormally();
    }
}

int DownloadSession::workersRunning() const {
    return m_workers->running();
}

bool DownloadSession::close() {
    if (m_closed)
        return m_workersEnded;
    m_closed = true;
    m_remote.reset();
    if (m_recoveryFeed)
        m_core->rowEvents().remove(*m_recoveryFeed);
    m_recoveryFeed.reset();
    m_recovery.reset();
    // Its workers give up their pages and hand nothing over.
    m_linkCheck->stop();
    m_core->rowEvents().remove(*m_linkCheck);
    // A running check or extraction stops at its next block; the wait below covers it.
    m_packages->stop();
    m_core->rowEvents().remove(*m_packages);
    m_packages.reset();
    m_core->rowEvents().remove(*m_lanes);
    // The other lanes go first: their cores tell the first lane's row events.
    m_lanes.reset();
    m_core.reset();
    // Cancels a running transfer and detaches its worker, which then hands nothing more over.
    m_component.reset();
    // A page fetch in flight would hold its worker until its time-out.
    m_adapters.browser.Stop();
    // A worker that waits for this thread needs its events.
    m_workersEnded = m_workers->waitIdle(std::chrono::steady_clock::now() + m_options.workerGrace,
                                         [this] { m_adapters.loop.processPendingEvents(); });
    return m_workersEnded;
}

} // namespace torvaline
