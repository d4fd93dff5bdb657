#include "session/DownloadLanes.h"

#include "cycle/TorvalineCore.h"
#include "list/DownloadList.h"
#include "list/RowTexts.h"
#include "pages/HosterProfile.h"
#include "pages/HosterProfiles.h"
#include "pages/TimeText.h"
#include "platform/Browser.h"
#include "platform/Clock.h"
#include "platform/DayLength.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"
#include "transfer/ProgressDisplay.h"

#include <algorithm>
#include <chrono>

namespace torvaline {

struct DownloadLanes::Lane {
    // The first lane's parts are the session's; the others own theirs.
    std::unique_ptr<Browser> browser;
    std::unique_ptr<Timer> timer1, timer2, elpsTimer, estTimer, stbarTimer, noticeTimer;
    StatusBar ownBar;
    AppTitle title;
    std::unique_ptr<TDownloadFile> component;
    std::unique_ptr<TorvalineCore> ownCore;
    TorvalineCore* core = nullptr;
    StatusBar* bar = nullptr;
    Browser* pages = nullptr;
    TDownloadFile* transfer = nullptr;
    // For the unattended run's check of rows that offer nothing to act on.
    bool resting = false;
    std::chrono::steady_clock::time_point restSince{};
};

namespace {

bool closedStatus(const std::string& status) {
    return status == StatusCompleted || status == StatusFailed || status == StatusStopped;
}

} // namespace

DownloadLanes::DownloadLanes(Ports ports, TorvalineCore& first, StatusBar& firstBar,
                             Browser& firstBrowser, TDownloadFile& firstComponent)
    : m_p(std::move(ports))
    , m_builtIn(std::make_unique<HosterProfiles>()) {
    auto lane = std::make_unique<Lane>();
    lane->core = &first;
    lane->bar = &firstBar;
    lane->pages = &firstBrowser;
    lane->transfer = &firstComponent;
    m_lanes.push_back(std::move(lane));
    bindLane(0);
    m_textTimer = m_p.makeTimer();
    m_textTimer->setOnTick([this] { tickLaneTexts(); });
}

DownloadLanes::~DownloadLanes() {
    m_textTimer->setOnTick(nullptr);
    m_textTimer->setEnabled(false);
    m_lanes.front()->bar->setOnChanged({});
    m_lanes.front()->core->cycle().setLaneHooks({});
    m_lanes.front()->transfer->OnIdle = nullptr;
    // The other lanes' transfers are cancelled with their components.
    for (std::size_t i = 1; i < m_lanes.size(); ++i) {
        Lane& lane = *m_lanes[i];
        lane.browser->Stop();
        lane.ownCore.reset();
        lane.component.reset();
    }
    m_lanes.clear();
}

void DownloadLanes::bindLane(int index) {
    Lane& lane = *m_lanes[static_cast<std::size_t>(index)];
    lane.bar->setOnChanged([this, index](int panel) { laneBarChanged(index, panel); });
    lane.transfer->OnIdle = [this](void*) { transferEnded(); };
    Lane* self = &lane;
    DownloadCycle::LaneHooks hooks;
    hooks.nextRow = [this, self] { return pick(self); };
    hooks.laneFree = [this] { laneFree(); };
    hooks.mayGoOn = [this, self] { return occupying(self) < m_limit; };
    lane.core->cycle().setLaneHooks(lanesOn() || index > 0 ? std::move(hooks)
                                                           : DownloadCycle::LaneHooks{});
}

DownloadLanes::Lane* DownloadLanes::addLane() {
    if (!m_p.makeBrowser || laneCount() >= 2 * MaxLanes)
        return nullptr;
    TorvalineCore& first = *m_lanes.front()->core;
    auto lane = std::make_unique<Lane>();
    lane->browser = m_p.makeBrowser();
    lane->timer1 = m_p.makeTimer();
    lane->timer2 = m_p.makeTimer();
    lane->elpsTimer = m_p.makeTimer();
    lane->estTimer = m_p.makeTimer();
    lane->stbarTimer = m_p.makeTimer();
    lane->noticeTimer = m_p.makeTimer();
    lane->bar = &lane->ownBar;
    lane->component = std::make_unique<TDownloadFile>(m_p.loop, m_p.facility, m_p.startThread);
    lane->pages = lane->browser.get();
    lane->transfer = lane->component.get();
    TorvalineCore::Ports ports{m_p.list,           lane->ownBar,        lane->title,
                               m_p.folder,         *lane->browser,      m_p.loop,
                               m_p.clock,          *lane->timer1,       *lane->timer2,
                               *lane->elpsTimer,   *lane->estTimer,     *lane->stbarTimer,
                               *lane->noticeTimer, *lane->component,    m_p.shutdownService,
                               m_p.shutdownNotice, m_p.decimalSeparator};
    ports.primaryEvents = &first.rowEvents();
    lane->ownCore = std::make_unique<TorvalineCore>(ports);
    lane->core = lane->ownCore.get();
    lane->core->cycle().setUnattended(m_p.unattended);
    lane->core->cycle().setCaptchaAnswers(m_p.captchaAnswered, m_p.captchaTimeout);
    lane->core->setProfiles(m_profiles);
    m_lanes.push_back(std::move(lane));
    bindLane(laneCount() - 1);
    return m_lanes.back().get();
}

TorvalineCore& DownloadLanes::lane(int index) {
    return *m_lanes.at(static_cast<std::size_t>(index))->core;
}

void DownloadLanes::setLimit(int lanes) {
    const int limit = m_p.makeBrowser ? std::clamp(lanes, 1, MaxLanes) : 1;
    if (limit == m_limit)
        return;
    const bool wasOn = lanesOn();
    m_limit = limit;
    if (lanesOn() != wasOn)
        bindLane(0);
    m_textTimer->setEnabled(lanesOn());
    if (lanesOn() && m_running)
        fillLater();
}

void DownloadLanes::setProfiles(const HosterProfiles* profiles) {
    m_profiles = profiles;
    m_hosters.clear();
    m_siteSlots.clear();
    for (std::size_t i = 1; i < m_lanes.size(); ++i)
        m_lanes[i]->core->setProfiles(profiles);
}

std::pair<std::string, int> DownloadLanes::hosterOf(const std::string& link, bool remember) const {
    std::string name;
    if (const auto known = m_hosters.find(link); known != m_hosters.end()) {
        name = known->second.first;
    } else {
        const HosterProfiles& profiles = m_profiles ? *m_profiles : *m_builtIn;
        const HosterProfiles::Site site = profiles.siteOf(link);
        const bool claimed = profiles.forLink(link) != nullptr;
        name = site.name;
        if (remember) {
            if (m_hosters.size() > 200000)
                m_hosters.clear();
            m_hosters.emplace(link, std::pair{site.name, claimed ? site.maxParallel : 0});
        }
        // A site a profile handles gives its free user what the profile says, its plain file
        // links included.
        if (claimed) {
            const auto [slots, fresh] = m_siteSlots.emplace(site.name, site.maxParallel);
            if (!fresh)
                slots->second = std::min(slots->second, site.maxParallel);
        }
    }
    const auto profiled = m_siteSlots.find(name);
    const int slots = profiled != m_siteSlots.end() ? profiled->second : DirectLinkSlots;
    return {std::move(name), slots};
}

DownloadLanes::Lane* DownloadLanes::laneWith(std::uint64_t id) const {
    if (id == 0)
        return nullptr;
    for (const auto& lane : m_lanes)
        if (lane->core->cycle().rowInHand() == id)
            return lane.get();
    return nullptr;
}

int DownloadLanes::occupying(const Lane* except) const {
    int n = 0;
    for (const auto& lane : m_lanes)
        n += lane.get() != except && lane->core->cycle().occupiesLane();
    return n;
}

int DownloadLanes::readyToGoOn(const Lane* except) const {
    int n = 0;
    for (const auto& lane : m_lanes)
        n += lane.get() != except && lane->core->cycle().waitOver();
    return n;
}

std::uint64_t DownloadLanes::pick(const Lane* asking) {
    if (!lanesOn())
        return 0;
    if (!m_running || occupying(asking) + readyToGoOn(asking) >= m_limit)
        return 0;
    // The rows other lanes have in hand, and how many each hoster runs.
    std::vector<std::uint64_t> inHand;
    std::unordered_map<std::string, int> running;
    for (const auto& lane : m_lanes) {
        if (lane.get() == asking)
            continue;
        const std::uint64_t id = lane->core->cycle().rowInHand();
        if (id == 0)
            continue;
        inHand.push_back(id);
        const int row = m_p.list.rowOf(id);
        if (row >= 1)
            ++running[hosterOf(m_p.list.cell(row, DownloadList::URL)).first];
    }
    const int rowCount = m_p.list.rowCount();
    bool closedSoFar = true;
    for (int row = std::max(1, m_scanFrom); row < rowCount; ++row) {
        const std::string& status = m_p.list.cell(row, DownloadList::Status);
        if (closedSoFar && closedStatus(status)) {
            m_scanFrom = row + 1;
            continue;
        }
        closedSoFar = false;
        if (status != StatusWaiting)
            continue;
        const std::uint64_t id = m_p.list.id(row);
        if (m_p.list.record(row).held ||
            std::find(inHand.begin(), inHand.end(), id) != inHand.end())
            continue;
        const std::string& link = m_p.list.cell(row, DownloadList::URL);
        auto [hoster, slots] = hosterOf(link);
        if (running[hoster] >= slots)
            continue;
        return id;
    }
    return 0;
}

void DownloadLanes::laneFree() {
    if (!lanesOn())
        return;
    if (!atRest()) {
        fillLater();
        return;
    }
    if (m_finishing || !m_running)
        return;
    // Every lane is idle, nothing waits aside: the list is done, said once by the first lane.
    m_running = false;
    m_finishing = true;
    m_lanes.front()->core->cycle().finishList();
    m_finishing = false;
}

void DownloadLanes::fillLater() {
    if (m_fillPosted)
        return;
    m_fillPosted = true;
    m_p.loop.post([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (alive.expired())
            return;
        m_fillPosted = false;
        fill();
    });
}

void DownloadLanes::fill() {
    if (!lanesOn() || !m_running)
        return;
    for (int guard = 0; guard < 2 * MaxLanes; ++guard) {
        if (occupying() + readyToGoOn() >= m_limit)
            return;
        Lane* idle = nullptr;
        for (const auto& lane : m_lanes)
            if (lane->core->cycle().atRest()) {
                idle = lane.get();
                break;
            }
        const std::uint64_t id = pick(idle);
        if (id == 0)
            return;
        if (!idle && !(idle = addLane()))
            return;
        const int row = m_p.list.rowOf(id);
        if (row < 1 || !idle->core->startAt(row))
            return;
    }
}

void DownloadLanes::start() {
    TorvalineCore& first = *m_lanes.front()->core;
    if (!lanesOn()) {
        first.StartDownload1Click();
        return;
    }
    m_scanFrom = 1;
    if (atRest()) {
        m_running = true;
        first.StartDownload1Click();
    } else {
        // Start on a held row goes on with it.
        if (first.canResume())
            first.StartDownload1Click();
        m_running = true;
    }
    fill();
    // Nothing left to start: rows added later wait for the next Start, as on one lane.
    if (atRest())
        m_running = false;
}

bool DownloadLanes::startAt(int row) {
    TorvalineCore& first = *m_lanes.front()->core;
    if (!lanesOn())
        return first.startAt(row);
    m_scanFrom = std::min(m_scanFrom, std::max(1, row));
    if (atRest()) {
        if (!first.startAt(row))
            return false;
        m_running = true;
        fillLater();
        return true;
    }
    if (!m_running)
        return false;
    fillLater();
    return true;
}

void DownloadLanes::stop() {
    m_running = false;
    for (const auto& lane : m_lanes)
        lane->core->StopDownExecute();
}

void DownloadLanes::stopForTheEnd() {
    m_running = false;
    for (const auto& lane : m_lanes)
        lane->core->cycle().stopForTheEnd();
}

bool DownloadLanes::pause(std::uint64_t id) {
    Lane* lane = id == 0 ? m_lanes[static_cast<std::size_t>(shownLane())].get() : laneWith(id);
    if (!lane || !lane->core->pause())
        return false;
    fillLater();
    return true;
}

bool DownloadLanes::resume(std::uint64_t id) {
    Lane* lane = id == 0 ? m_lanes[static_cast<std::size_t>(shownLane())].get() : laneWith(id);
    if (!lane && id == 0)
        for (const auto& l : m_lanes)
            if (l->core->canResume()) {
                lane = l.get();
                break;
            }
    return lane && lane->core->resume();
}

bool DownloadLanes::canPause(std::uint64_t id) const {
    const Lane* lane =
        id == 0 ? m_lanes[static_cast<std::size_t>(shownLane())].get() : laneWith(id);
    return lane && lane->core->canPause();
}

bool DownloadLanes::canResume(std::uint64_t id) const {
    if (const Lane* lane = laneWith(id))
        return lane->core->canResume();
    if (id != 0)
        return false;
    return std::any_of(m_lanes.begin(), m_lanes.end(),
                       [](const auto& l) { return l->core->canResume(); });
}

bool DownloadLanes::answerCaptcha(std::uint64_t id, const std::string& code) {
    for (const auto& lane : m_lanes)
        if (lane->core->cycle().waitsForCaptcha() && lane->core->cycle().rowInHand() == id)
            return lane->core->cycle().answerCaptcha(code);
    return false;
}

void DownloadLanes::pauseAll() {
    for (const auto& lane : m_lanes)
        lane->core->pause();
}

void DownloadLanes::resumeAll() {
    for (const auto& lane : m_lanes)
        lane->core->resume();
}

void DownloadLanes::setFocus(std::uint64_t id) {
    m_focus = id;
    showLane();
}

bool DownloadLanes::atRest() const {
    return std::all_of(m_lanes.begin(), m_lanes.end(),
                       [](const auto& lane) { return lane->core->cycle().atRest(); });
}

bool DownloadLanes::transferring() const {
    return std::any_of(m_lanes.begin(), m_lanes.end(),
                       [](const auto& lane) { return lane->transfer->busy(); });
}

void DownloadLanes::whenTransfersEnd(std::function<void()> then) {
    m_whenTransfersEnd = std::move(then);
    transferEnded();
}

void DownloadLanes::transferEnded() {
    if (!m_whenTransfersEnd || transferring())
        return;
    // Taken out before the call, which may wait again.
    const std::function<void()> then = std::exchange(m_whenTransfersEnd, {});
    then();
}

bool DownloadLanes::waiting() const {
    return std::any_of(m_lanes.begin(), m_lanes.end(), [](const auto& lane) {
        return lane->core->cycle().countingDown() || lane->core->cycle().hosterWaiting() ||
               lane->core->state().RetryWaiting;
    });
}

std::vector<std::uint64_t> DownloadLanes::rowsInHand() const {
    std::vector<std::uint64_t> ids;
    for (const auto& lane : m_lanes)
        if (const std::uint64_t id = lane->core->cycle().rowInHand(); id != 0)
            ids.push_back(id);
    return ids;
}

std::string DownloadLanes::laneText(std::uint64_t id) const {
    if (!lanesOn() || rowsInHand().size() < 2)
        return {};
    const Lane* lane = laneWith(id);
    if (!lane)
        return {};
    const DownloadCycle& cycle = lane->core->cycle();
    const CycleState& s = lane->core->state();
    if (cycle.countingDown())
        return "Countdown " + s.RemainingText;
    if (cycle.hosterWaiting()) {
        const int row = m_p.list.rowOf(id);
        std::string hoster =
            row >= 1 ? hosterOf(m_p.list.cell(row, DownloadList::URL)).first : std::string();
        // A long host name would not fit the column: its start says enough.
        if (hoster.size() > 15)
            hoster = hoster.substr(0, 14) + "\u2026";
        return "Wait " + s.RemainingText + " (" + hoster + ")";
    }
    return {};
}

void DownloadLanes::tickLaneTexts() {
    if (!m_onLaneTexts)
        return;
    std::vector<int> rows;
    for (const auto& lane : m_lanes) {
        const DownloadCycle& cycle = lane->core->cycle();
        if (cycle.countingDown() || cycle.hosterWaiting())
            if (const int row = m_p.list.rowOf(cycle.rowInHand()); row >= 1)
                rows.push_back(row);
    }
    if (!rows.empty())
        m_onLaneTexts(rows);
}

std::vector<std::pair<std::string, PartialFile>> DownloadLanes::keptPartials() const {
    // Each lane's running transfer, then what the rows keep, every lane's alike.
    std::vector<std::pair<std::string, PartialFile>> all;
    for (const auto& lane : m_lanes)
        if (auto running = lane->core->cycle().transferKeeping())
            all.push_back(std::move(*running));
    for (auto& kept : DownloadCycle::keptInRecords(m_p.list))
        all.push_back(std::move(kept));
    return all;
}

bool DownloadLanes::partialPending() const {
    return std::any_of(m_lanes.begin(), m_lanes.end(),
                       [](const auto& lane) { return lane->core->cycle().partialPending(); });
}

void DownloadLanes::failStalled(std::chrono::milliseconds limit, const std::string& reason) {
    const auto now = std::chrono::steady_clock::now();
    for (int i = 0; i < laneCount(); ++i) {
        Lane& lane = *m_lanes[static_cast<std::size_t>(i)];
        const DownloadCycle& cycle = lane.core->cycle();
        // A first lane at rest that never ended the list is stuck as well.
        const bool inHand = cycle.rowInHand() != 0 || (i == 0 && atRest());
        const bool stalled = inHand && !cycle.countingDown() && !cycle.waitsForCaptcha() &&
                             !lane.core->state().RetryWaiting && !cycle.hosterWaiting() &&
                             !cycle.canResume() && !lane.pages->busy() && !lane.transfer->busy();
        if (!stalled) {
            lane.resting = false;
            continue;
        }
        if (!lane.resting) {
            lane.resting = true;
            lane.restSince = now;
            continue;
        }
        if (now - lane.restSince < limit)
            continue;
        lane.resting = false;
        lane.core->cycle().failCurrentRow(reason);
    }
}

int DownloadLanes::shownLane() const {
    if (const Lane* focused = laneWith(m_focus))
        for (int i = 0; i < laneCount(); ++i)
            if (m_lanes[static_cast<std::size_t>(i)].get() == focused)
                return i;
    for (int i = 0; i < laneCount(); ++i)
        if (m_lanes[static_cast<std::size_t>(i)]->core->cycle().rowInHand() != 0)
            return i;
    return std::min(m_lastChanged, laneCount() - 1);
}

void DownloadLanes::showLane() {
    const int shown = shownLane();
    if (shown == m_shown)
        return;
    m_shown = shown;
    const StatusBar& bar = *m_lanes[static_cast<std::size_t>(shown)]->bar;
    for (int panel = 0; panel < StatusBar::PanelCount; ++panel)
        show(panel, bar);
}

void DownloadLanes::show(int panel, const StatusBar& from) {
    m_p.display.setText(panel, from.text(panel));
    m_p.display.setWidth(panel, from.width(panel));
}

void DownloadLanes::rowProgress(const RowProgressEvent& event) {
    m_figures[event.id] = {event.done, event.total};
    showTotal();
}

void DownloadLanes::showTotal() {
    // Only the rows still transferring count.
    const std::vector<std::uint64_t> inHand = rowsInHand();
    std::erase_if(m_figures, [&](const auto& f) {
        return std::find(inHand.begin(), inHand.end(), f.first) == inHand.end();
    });
    m_totalShown = m_figures.size() >= 2;
    if (!m_totalShown)
        return;
    std::int64_t done = 0, size = 0;
    for (const auto& [id, figures] : m_figures) {
        done += figures.first;
        size += figures.second > 0 ? figures.second : figures.first;
    }
    const std::string percent =
        size > 0 ? FormatFixed2(static_cast<std::uint64_t>(done) * 100,
                                static_cast<std::uint64_t>(size), m_p.decimalSeparator) +
                       " %"
                 : std::string();
    m_total.setText(0, "Downloading...");
    m_total.setText(1, percent);
    m_total.setText(2, " " + std::to_string(m_figures.size()) + " files");
}

void DownloadLanes::laneBarChanged(int index, int panel) {
    m_lastChanged = index;
    showLane();
    if (index != m_shown)
        return;
    show(panel, *m_lanes[static_cast<std::size_t>(index)]->bar);
}

void DownloadLanes::rowsAdded(int first, std::span<const RowRef> rows) {
    if (!lanesOn())
        return;
    const int n = static_cast<int>(rows.size());
    for (const auto& lane : m_lanes)
        if (lane->core->state().CurrentRow >= first && lane->core->cycle().holdsRow())
            lane->core->cycle().shiftCurrentRow(n);
    m_scanFrom = std::min(m_scanFrom, first);
    if (m_running)
        fillLater();
}

void DownloadLanes::rowsRemoved(int first, std::span<const RowRef> rows) {
    if (!lanesOn())
        return;
    const int n = static_cast<int>(rows.size());
    for (std::size_t i = 0; i < m_lanes.size(); ++i) {
        DownloadCycle& cycle = m_lanes[i]->core->cycle();
        const int current = m_lanes[i]->core->state().CurrentRow;
        if (current >= first + n) {
            cycle.shiftCurrentRow(-n);
        } else if (current >= first) {
            // The row in hand went: the lane stops what it did and goes on, once the removal
            // is over, with a row that is still there.
            if (cycle.loseCurrentRow(first))
                m_p.loop.post([this, i, alive = std::weak_ptr<bool>(m_alive)] {
                    if (!alive.expired() && i < m_lanes.size())
                        m_lanes[i]->core->cycle().goOn();
                });
        }
    }
    m_scanFrom = std::max(1, std::min(m_scanFrom, first));
}

void DownloadLanes::rowMoved(std::uint64_t, int from, int to) {
    if (!lanesOn())
        return;
    for (const auto& lane : m_lanes) {
        const int current = lane->core->state().CurrentRow;
        if (current == from)
            lane->core->cycle().shiftCurrentRow(to - from);
        else if (from < to && current > from && current <= to)
            lane->core->cycle().shiftCurrentRow(-1);
        else if (from > to && current >= to && current < from)
            lane->core->cycle().shiftCurrentRow(1);
    }
    m_scanFrom = std::max(1, std::min({m_scanFrom, from, to}));
}

void DownloadLanes::rowTextsChanged(int first, int) {
    m_scanFrom = std::max(1, std::min(m_scanFrom, first));
}

void DownloadLanes::rowPhase(const RowPhaseEvent& event) {
    showLane();
    if (event.phase != RowPhase::Transferring && m_figures.erase(event.id) != 0)
        showTotal();
    if (!lanesOn())
        return;
    // Only a wait and an opening concern the row's hoster: a list of held rows, each told
    // Paused, leaves nothing remembered of its links.
    if (event.phase == RowPhase::HosterWait)
        noteHold(hosterOf(event.link).first, event.secondsLeft);
    else if (event.phase == RowPhase::Opening)
        clearHoldNotes(hosterOf(event.link).first);
    if (m_running)
        fillLater();
}

void DownloadLanes::noteHold(const std::string& hoster, std::int64_t secondsLeft) {
    const double until =
        m_p.clock.timeOfDay() + static_cast<double>(secondsLeft) / DayLengthSeconds;
    const std::string note = hoster + " asked to wait: its rows go on at " +
                             TimeText(until - static_cast<double>(static_cast<long long>(until)));
    // Told from the list's own events: the notes are written once the event is over.
    m_p.loop.post([this, hoster, note, alive = std::weak_ptr<bool>(m_alive)] {
        if (alive.expired())
            return;
        std::vector<std::uint64_t>& noted = m_holdNotes[hoster];
        const std::vector<std::uint64_t> inHand = rowsInHand();
        for (int row = 1; row < m_p.list.rowCount(); ++row) {
            const std::uint64_t id = m_p.list.id(row);
            if (m_p.list.cell(row, DownloadList::Status) != StatusWaiting ||
                std::find(inHand.begin(), inHand.end(), id) != inHand.end() ||
                hosterOf(m_p.list.cell(row, DownloadList::URL)).first != hoster)
                continue;
            m_p.list.setNote(row, note);
            noted.push_back(id);
        }
    });
}

void DownloadLanes::clearHoldNotes(const std::string& hoster) {
    const auto found = m_holdNotes.find(hoster);
    if (found == m_holdNotes.end())
        return;
    std::vector<std::uint64_t> noted = std::move(found->second);
    m_holdNotes.erase(found);
    m_p.loop.post([this, noted = std::move(noted), alive = std::weak_ptr<bool>(m_alive)] {
        if (alive.expired())
            return;
        for (const std::uint64_t id : noted)
            if (const int row = m_p.list.rowOf(id);
                row >= 1 && m_p.list.cell(row, DownloadList::Status) == StatusWaiting)
                m_p.list.setNote(row, {});
    });
}

} // namespace torvaline
