#include "session/LinkCheck.h"

#include "hosters/HosterCheck.h"
#include "list/RowTexts.h"
#include "pages/HosterProfile.h"
#include "pages/TimeText.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/LinkProbe.h"
#include "platform/PercentDecoding.h"
#include "platform/Timer.h"
#include "platform/WorkerCount.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace torvaline {

namespace {

constexpr std::string_view MissingReason = "the hoster reports the file missing or blocked";

// The last part of the link's path, as a name to show until the hoster gives one.
std::string linkName(const std::string& link) {
    std::string_view path = link;
    if (const std::size_t end = path.find_first_of("?#"); end != std::string_view::npos)
        path = path.substr(0, end);
    if (const std::size_t scheme = path.find("://"); scheme != std::string_view::npos) {
        path.remove_prefix(scheme + 3);
        const std::size_t slash = path.find('/');
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    }
    const std::size_t slash = path.rfind('/');
    return percentDecoded(slash == std::string_view::npos ? path : path.substr(slash + 1),
                          BrokenEscape::Keep);
}

bool goneStatus(long status) {
    return status == 404 || status == 410;
}

} // namespace

CheckedLink LinkCheck::judge(const LinkAnswer& answer, const HosterProfile* profile,
                             const std::string& link) {
    using State = CheckedLink::State;
    CheckedLink result;
    if (answer.directFile) {
        result.state = State::Online;
        result.name = answer.fileName.empty() ? linkName(answer.url) : answer.fileName;
        result.size = answer.fileSize >= 0 ? answer.fileSize : -1;
        return result;
    }
    if (!answer.error.empty() || answer.aborted) {
        result.state =
            goneStatus(answer.status) && !answer.aborted ? State::Offline : State::Unknown;
        result.reason = answer.error.empty() ? "the check was stopped" : answer.error;
        return result;
    }
    result.name = linkName(link);
    if (!profile) {
        result.reason = "no hoster profile reads this page";
        return result;
    }
    const PageOutcome outcome =
        RunProfileOnPage(*profile, answer.body, answer.url.empty() ? link : answer.url);
    if (!outcome.pageName.empty())
        result.name = outcome.pageName;
    result.size = outcome.bytes;
    const std::string& reaction = outcome.reaction;
    if (reaction == "missing") {
        result.state = State::Offline;
        result.reason = MissingReason;
    } else if (reaction == "button" || reaction == "countdown" || reaction == "link" ||
               reaction == "follow") {
        result.state = State::Online;
    } else if (reaction == "wait" || reaction == "limit") {
        result.reason = "the hoster asks to wait before it shows the file";
    } else if (reaction == "failed") {
        result.reason = outcome.failure;
    } else {
        result.reason = "the page is not one " + profile->name + "'s profile knows";
    }
    // A name from a page is the hoster's word: only its last part is shown.
    if (const std::size_t slash = result.name.find_last_of("/\\"); slash != std::string::npos)
        result.name.erase(0, slash + 1);
    if (result.state != State::Offline && goneStatus(answer.status)) {
        result.state = State::Offline;
        result.reason =
            "The server answered with HTTP status " + std::to_string(answer.status) + ".";
    }
    return result;
}

LinkCheck::LinkCheck(Ports ports)
    : m_list(ports.list)
    , m_loop(ports.loop)
    , m_clock(ports.clock)
    , m_probe(std::move(ports.probe))
    , m_workers(std::move(ports.workers))
    , m_startThread(std::move(ports.startThread))
    , m_timer(std::move(ports.timer))
    , m_events(ports.events)
    , m_abort(std::make_shared<std::atomic<bool>>(false))
    , m_self(std::make_shared<LinkCheck*>(this)) {
    if (m_timer)
        m_timer->setOnTick([this] { dispatch(); });
}

LinkCheck::~LinkCheck() {
    stop();
}

void LinkCheck::stop() {
    m_abort->store(true);
    m_self.reset();
    m_enabled = false;
    if (m_timer)
        m_timer->setEnabled(false);
    m_hosters.clear();
    m_turns.clear();
    m_pending.clear();
}

void LinkCheck::setProfiles(const HosterProfiles* profiles) {
    m_profiles = profiles;
    m_readers.clear();
}

void LinkCheck::setHosterOf(HosterOf hosterOf) {
    m_hosterOf = std::move(hosterOf);
}

void LinkCheck::setOnHold(OnHold onHold) {
    m_onHold = std::move(onHold);
}

void LinkCheck::setEnabled(bool on) {
    m_enabled = on && m_self;
}

bool LinkCheck::checkable(int row) const {
    const std::string& status = m_list.cell(row, DownloadList::Status);
    return status == StatusWaiting || status == StatusPaused;
}

std::string LinkCheck::hosterName(const std::string& link) const {
    return m_hosterOf ? m_hosterOf(link) : LinkHost(link);
}

bool LinkCheck::onHold(const std::string& hoster) const {
    if (m_onHold && m_onHold(hoster))
        return true;
    return std::any_of(m_hosterWaits.begin(), m_hosterWaits.end(),
                       [&hoster](const auto& wait) { return wait.second == hoster; });
}

void LinkCheck::enqueue(std::uint64_t id, const std::string& link) {
    if (!m_pending.insert(id).second)
        return;
    m_begun.erase(id);
    const std::string name = hosterName(link);
    Hoster& hoster = m_hosters[name];
    hoster.rows.push_back(id);
    if (!hoster.busy && !hoster.inTurn) {
        hoster.inTurn = true;
        m_turns.push_back(name);
    }
}

void LinkCheck::rowsAdded(int, std::span<const RowRef> rows) {
    if (!m_enabled || !m_probe)
        return;
    for (const RowRef& row : rows)
        enqueue(row.id, std::string(row.link));
    dispatch();
}

void LinkCheck::rowsRemoved(int, std::span<const RowRef> rows) {
    bool waitEnded = false;
    for (const RowRef& row : rows) {
        m_pending.erase(row.id);
        m_begun.erase(row.id);
        waitEnded = m_hosterWaits.erase(row.id) > 0 || waitEnded;
    }
    if (waitEnded)
        dispatch();
    if (m_pending.empty()) {
        // A cleared list: the queues hold only rows that are gone.
        for (auto it = m_hosters.begin(); it != m_hosters.end();)
            it = it->second.busy ? (it->second.rows.clear(), ++it) : m_hosters.erase(it);
        m_turns.clear();
        for (auto& [name, hoster] : m_hosters)
            hoster.inTurn = false;
    }
}

void LinkCheck::rowPhase(const RowPhaseEvent& event) {
    if (event.phase != RowPhase::Waiting && event.phase != RowPhase::Paused &&
        (m_pending.contains(event.id) || m_inFlight.contains(event.id)))
        m_begun.insert(event.id);
    // A hoster that asked a row to wait is not asked about its other rows meanwhile.
    if (event.phase == RowPhase::HosterWait) {
        m_hosterWaits.insert_or_assign(event.id, hosterName(event.link));
    } else if (m_hosterWaits.erase(event.id) > 0) {
        dispatch();
    }
}

void LinkCheck::checkAgain() {
    if (!m_self || !m_probe)
        return;
    for (int row = 1; row < m_list.rowCount(); ++row) {
        const std::uint64_t id = m_list.id(row);
        if (m_inFlight.contains(id))
            continue;
        if (m_list.offline(row)) {
            // Back in the queue: the file may be there again.
            m_list.setCell(row, DownloadList::Status, std::string(StatusWaiting));
            if (m_events) {
                RowPhaseEvent event;
                event.id = id;
                event.phase = RowPhase::Waiting;
                event.link = m_list.cell(row, DownloadList::URL);
                m_events->rowPhase(event);
            }
        }
        if (!checkable(row))
            continue;
        m_list.clearChecked(row);
        enqueue(id, m_list.cell(row, DownloadList::URL));
    }
    dispatch();
}

void LinkCheck::dispatch() {
    if (!m_self) {
        if (m_timer)
            m_timer->setEnabled(false);
        return;
    }
    bool held = false;
    for (std::size_t turns = m_turns.size(); turns > 0 && m_running < MaxRunning; --turns) {
        std::string name = std::move(m_turns.front());
        m_turns.pop_front();
        const auto it = m_hosters.find(name);
        if (it == m_hosters.end())
            continue;
        Hoster& hoster = it->second;
        hoster.inTurn = false;
        if (onHold(name)) {
            // Asked again on the next tick, or when a look ends.
            held = true;
            hoster.inTurn = true;
            m_turns.push_back(std::move(name));
            continue;
        }
        bool started = false;
        while (!started && !hoster.rows.empty()) {
            const std::uint64_t id = hoster.rows.front();
            hoster.rows.pop_front();
            if (m_pending.erase(id) > 0)
                started = start(id, name);
        }
        if (started)
            hoster.busy = true;
        else if (!hoster.busy)
            m_hosters.erase(it);
    }
    if (m_timer)
        m_timer->setEnabled(held);
}

std::shared_ptr<const HosterProfile> LinkCheck::profileFor(int row) {
    const HosterProfiles& profiles = m_profiles ? *m_profiles : m_builtin;
    const HosterProfile& profile =
        profiles.forRow(m_list.cell(row, DownloadList::Host), m_list.cell(row, DownloadList::URL));
    std::shared_ptr<const HosterProfile>& reader = m_readers[&profile];
    if (!reader) {
        HosterProfile copy = profile;
        copy.tests.clear();
        reader = std::make_shared<const HosterProfile>(std::move(copy));
    }
    return reader;
}

bool LinkCheck::start(std::uint64_t id, const std::string& hoster) {
    const int row = m_list.rowOf(id);
    if (row < 1 || !checkable(row))
        return false;
    std::string link = m_list.cell(row, DownloadList::URL);
    auto running = std::make_shared<WorkerCount::Running>(m_workers ? WorkerCount::enter(m_workers)
                                                                    : WorkerCount::Running());
    std::function<void()> body = [probe = m_probe, link, profile = profileFor(row), abort = m_abort,
                                  loop = &m_loop, self = std::weak_ptr<LinkCheck*>(m_self), id,
                                  hoster, running]() mutable {
        CheckedLink result;
        try {
            result = judge(probe->fetch(link, *abort), profile.get(), link);
        } catch (const std::exception& e) {
            result.state = CheckedLink::State::Unknown;
            result.reason = e.what();
        }
        if (!abort->load())
            loop->post([self, id, hoster, result] {
                if (const std::shared_ptr<LinkCheck*> check = self.lock())
                    (*check)->finished(id, hoster, result);
            });
        // What the worker holds goes before the count says it let go.
        probe.reset();
        profile.reset();
        running->end();
    };
    bool started = false;
    if (m_startThread) {
        started = m_startThread(std::move(body));
    } else {
        try {
            std::thread(std::move(body)).detach();
            started = true;
        } catch (const std::system_error&) {
        }
    }
    if (!started)
        return false;
    ++m_running;
    m_inFlight.insert(id);
    return true;
}

void LinkCheck::finished(std::uint64_t id, const std::string& name, CheckedLink result) {
    --m_running;
    m_inFlight.erase(id);
    if (const auto it = m_hosters.find(name); it != m_hosters.end()) {
        Hoster& hoster = it->second;
        hoster.busy = false;
        if (hoster.rows.empty())
            m_hosters.erase(it);
        else if (!hoster.inTurn) {
            hoster.inTurn = true;
            m_turns.push_back(name);
        }
    }
    // By id: rows may have moved, gone or been cleared while the page came.
    const int row = m_list.rowOf(id);
    const bool begun = m_begun.erase(id) > 0;
    if (row >= 1) {
        const bool fail = result.state == CheckedLink::State::Offline && !begun &&
                          m_list.cell(row, DownloadList::Status) == StatusWaiting;
        m_list.setChecked(row, result);
        if (fail) {
            m_list.markFailed(row, TimeText(m_clock.timeOfDay()), result.reason);
            if (m_events) {
                RowPhaseEvent event;
                event.id = id;
                event.phase = RowPhase::Failed;
                event.link = m_list.cell(row, DownloadList::URL);
                event.reason = result.reason;
                event.cause = FailureCause::NotFound;
                m_events->rowPhase(event);
            }
        }
        if (m_onResult)
            m_onResult(id, result);
    }
    dispatch();
}

} // namespace torvaline
