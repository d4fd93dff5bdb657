#include "cycle/DownloadCycle.h"

#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/RowTexts.h"
#include "list/StatusBar.h"
#include "pages/TimeText.h"
#include "platform/Clock.h"
#include "platform/DayLength.h"
#include "platform/Timer.h"
#include "transfer/DownloadComponent.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace torvaline {

namespace {

constexpr const char* ZeroTime = "00:00:00";

} // namespace

DownloadCycle::DownloadCycle(Ports ports, Hooks hooks)
    : m_p(ports)
    , m_hooks(std::move(hooks))
    , m_nameCheck(ports.folder.separator()) {
    // A row that leaves the list takes its kept file along: no attempt will continue it. The
    // lanes share one list; the first cycle made looks after it for all.
    if (!m_p.list.hasOnRecordGone()) {
        m_keepsRecords = true;
        m_p.list.setOnRecordGone(
            [this](const RowRecord& record) { discard(record.attempts.get()); });
    }
}

DownloadCycle::~DownloadCycle() {
    if (m_keepsRecords)
        m_p.list.setOnRecordGone({});
}

RowAttempts* DownloadCycle::attemptsOf(int row) {
    RowRecord* record = row >= 1 ? m_p.list.editRecord(row) : nullptr;
    return record ? &record->attempts.edit() : nullptr;
}

void DownloadCycle::setEvents() {
    BrowserEvents events;
    events.beforeNavigate = [this](const std::string& url) { WebBrowser1BeforeNavigate2(url); };
    events.newWindow = [this](const std::string& url, bool& cancel) {
        WebBrowser1NewWindow2(url, cancel);
    };
    events.downloadComplete = [this] { WebBrowser1DownloadComplete(); };
    events.documentComplete = [this](const DocumentCompleteEvent& e) {
        WebBrowser1DocumentComplete(e);
    };
    m_p.browser.setEvents(std::move(events));
    m_p.timer1.setOnTick([this] { Timer1Timer(); });
    m_p.timer2.setOnTick([this] { Timer2Timer(); });
}

bool DownloadCycle::isTransferRunning() const {
    return !m_finishing && m_hooks.transferRunning && m_hooks.transferRunning();
}

void DownloadCycle::setPanel0(const std::string& text, int unitsPerCharacter) {
    m_p.statusBar.setText(0, text);
    m_p.statusBar.setWidth(0, StatusBar::widthFor(text, unitsPerCharacter));
}

std::string DownloadCycle::retryPanelText(int retry) {
    return "Retry " + std::to_string(retry) + " of " + std::to_string(MaxRetries) + " ";
}

void DownloadCycle::StartDownload1Click() {
    CycleState& s = m_p.state;
    // Start on a held row goes on with it rather than throwing away what it kept.
    if (m_pause != Held::None) {
        resume();
        return;
    }
    if (m_p.component.Tag != 0 && !isTransferRunning()) {
        // The flag outlives the last row's transfer: the list is done. A command that did
        // nothing from here on would leave the program useless until restarted.
        startAfterTheEnd();
        return;
    }
    if (m_p.component.Tag == 0 && s.RetryWaiting) {
        // The user tries again now: the pending retry would only open the link a second time.
        m_p.timer2.setEnabled(false);
        m_p.statusBar.clear();
    }
    if (m_p.component.Tag == 0)
        forgetRetries();
    openCurrentRow();
}

void DownloadCycle::openCurrentRow() {
    CycleState& s = m_p.state;
    // While a transfer runs, an armed shutdown must not be reached from here.
    if (m_p.component.Tag != 0)
        return;
    if (m_p.list.record(s.CurrentRow).held || m_p.list.offline(s.CurrentRow)) {
        const int next = m_p.list.rowOf(nextFrom(s.CurrentRow));
        if (next < 1) {
            // Every row left is held: the list is done until one is let go.
            m_p.component.Tag = 1;
            tellListDone();
            if (m_hooks.CheckShutDown)
                m_hooks.CheckShutDown();
            return;
        }
        s.CurrentRow = next;
    }
    s.CurrentURL = m_p.list.cell(s.CurrentRow, DownloadList::URL);
    s.StopRequested = false;
    m_currentGone = false;
    m_working = true;
    if (m_captcha || m_captchaRow != m_p.list.id(s.CurrentRow)) {
        m_captchaAsked = 0;
        m_captchaRow = m_p.list.id(s.CurrentRow);
    }
    m_captcha = false;
    s.CaptchaCode.clear();
    // What its pages say of the archive, they say again.
    s.PagePassword.clear();
    s.PageChecksum.clear();
    tell(RowPhase::Opening);
    m_p.browser.setRequestOptions(requestOf(s.CurrentRow));
    m_p.browser.Navigate(s.CurrentURL);
}

RequestOptions DownloadCycle::requestOf(int row) const {
    RequestOptions options = m_p.list.record(row).request.get();
    if (options.empty())
        return {};
    // The link as it reads now: what the options may go to follows the row's own host.
    options.scope = m_p.list.cell(row, DownloadList::URL);
    return options;
}

void DownloadCycle::startAfterTheEnd() {
    CycleState& s = m_p.state;
    // Rows are addressed by index, but the row done last may have moved, and a cleared list
    // filled again starts over at its first row.
    const int last = m_p.list.rowOf(s.FinishedRowId);
    int next = last >= 1 ? last + 1 : 1;
    // A file that is in place is never fetched again, wherever the rows done went.
    while (next < m_p.list.rowCount() &&
           m_p.list.cell(next, DownloadList::Status) == StatusCompleted)
        ++next;
    if (next >= m_p.list.rowCount()) {
        setPanel0(NothingLeftText);
        if (m_hooks.CheckShutDown)
            m_hooks.CheckShutDown();
        return;
    }
    startOn(next);
}

void DownloadCycle::startOn(int row) {
    CycleState& s = m_p.state;
    m_p.statusBar.clear();
    m_p.component.Tag = 0;
    s.PageHandled = false;
    s.TransferSeconds = 0;
    s.CurrentRow = row;
    forgetRetries();
    openCurrentRow();
}

RowPhaseEvent DownloadCycle::phaseEvent(RowPhase phase) const {
    const CycleState& s = m_p.state;
    RowPhaseEvent event;
    event.id = m_p.list.id(s.CurrentRow);
    event.phase = phase;
    event.link = m_p.list.cell(s.CurrentRow, DownloadList::URL);
    return event;
}

void DownloadCycle::namePlaced(RowPhaseEvent& event, const TransferResult& result) const {
    // The file as it was saved, or as the transfer meant to save it: a taken name became
    // "name (N).ext", even at the last moment, and whoever reports the row must say so.
    const std::string& placed =
        !result.savedPath.empty() ? result.savedPath : m_p.component.SavingPath;
    event.filePath = placed.empty() ? m_p.component.FileName : placed;
    event.fileName = placed.empty() ? m_p.state.FinalFileName : fileNameOfPath(placed);
    if (result.outcome == TransferOutcome::Succeeded && result.savedBytes > 0)
        event.size = static_cast<std::int64_t>(result.savedBytes);
}

void DownloadCycle::tell(const RowPhaseEvent& event) {
    // A row deleted under the cycle has no one left to hear of it.
    if (m_events && event.id != 0)
        m_events->rowPhase(event);
}

void DownloadCycle::tellListDone() {
    int completed = 0, failed = 0, stopped = 0;
    for (int row = 1; row < m_p.list.rowCount(); ++row) {
        const std::string& status = m_p.list.cell(row, DownloadList::Status);
        completed += status == StatusCompleted;
        failed += status == StatusFailed;
        stopped += status == StatusStopped;
    }
    // Where the list stands once nobody watched it: the row texts scroll out of sight, and
    // why a row failed stays in its tool tip.
    setPanel0(listDoneText(completed, failed, stopped));
    m_working = false;
    if (m_events)
        m_events->listDone(completed, failed, stopped);
}

std::string DownloadCycle::listDoneText(int completed, int failed, int stopped) {
    return " List done - " + std::to_string(completed) + " completed, " + std::to_string(failed) +
           " failed, " + std::to_string(stopped) + " stopped ";
}

void DownloadCycle::StopDownExecute() {
    stop(false);
}

void DownloadCycle::stopForTheEnd() {
    stop(true);
}

void DownloadCycle::stop(bool keepHold) {
    CycleState& s = m_p.state;
    const bool held = keepHold && m_pause != Held::None && !m_currentGone;
    m_p.browser.Stop();
    m_p.component.Stop();
    m_p.timer1.setEnabled(false);
    m_p.timer2.setEnabled(false);
    m_p.statusBar.clear();
    // A row that is done stays done whatever comes after it: a Stop after the end of the list
    // marked its last row Stopped, and a restart fetched that file once more.
    const std::string& status = m_p.list.cell(s.CurrentRow, DownloadList::Status);
    const bool closed = status == StatusCompleted || status == StatusFailed;
    // A row held before its turn (the list at rest on it) stays held and reads "Paused".
    const bool marked = !closed && !held && !m_currentGone && !m_p.list.record(s.CurrentRow).held;
    if (marked)
        m_p.list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusStopped));
    // Held like a row the list has not reached: its status already reads "Paused".
    if (RowRecord* record = held ? m_p.list.editRecord(s.CurrentRow) : nullptr)
        record->held = true;
    s.StopRequested = true;
    m_working = false;
    m_pause = Held::None;
    m_pausePending = false;
    m_captcha = false;
    if (marked)
        tell(RowPhase::Stopped);
    dropSetAside(StatusStopped);
    // No attempt will continue what a failed one kept: a later Start begins afresh.
    forgetRetries();
}

void DownloadCycle::WebBrowser1BeforeNavigate2(const std::string&) {
    if (m_hooks.clearPageText)
        m_hooks.clearPageText();
}

void DownloadCycle::WebBrowser1NewWindow2(const std::string&, bool& cancel) {
    cancel = true;
}

void DownloadCycle::WebBrowser1DownloadComplete() {
    // Deliberately nothing: this event comes when the last row's pages have loaded, before its
    // transfer, and a shutdown check here would switch the machine off under that transfer.
}

void DownloadCycle::WebBrowser1DocumentComplete(const DocumentCompleteEvent& event) {
    // The capture lets an error through only when even its failure line could not be
    // handled (a document that cannot be read at all). That page is a dead end like any
    // unrecognised page, but it must not take the program down with it.
    // A page that was still loading when the row was held: Resume opens it again.
    if (m_pause != Held::None)
        return;
    if (event.directFile) {
        // The link answered with the file itself: no page, no countdown, straight to the
        // transfer, which reads it whole.
        if (!m_p.state.StopRequested && !isTransferRunning())
            startDirectFile(event);
        return;
    }
    std::string unreadable;
    const bool counting = m_p.timer1.enabled();
    const bool waiting = m_p.timer2.enabled();
    try {
        if (m_hooks.BrowserInfo)
            m_hooks.BrowserInfo();
    } catch (const std::exception& e) {
        unreadable = e.what();
    }
    m_p.state.PageHandled = false;
    if (!m_p.state.StopRequested && !isTransferRunning() &&
        (!event.error.empty() || !unreadable.empty())) {
        // A page that cannot be read offers nothing to act on: the row fails and the list
        // goes on, rather than one dead link holding every row behind it.
        const bool loaded = event.error.empty();
        const std::string reason =
            loaded ? "page not read - " + unreadable : "page not loaded - " + event.error;
        std::string panel;
        if (!m_unattended)
            panel = loaded ? " Page not read - " + unreadable + " "
                           : " Page not loaded - " + event.error + " ";
        failWithoutTransfer(reason, panel, loaded ? FailureCause::Other : FailureCause::Network);
        return;
    }
    // The page rules armed a countdown or one of the hoster's waits.
    const auto secondsLeft = [this] {
        return static_cast<std::int64_t>(std::llround(m_p.state.WaitSpan * DayLengthSeconds));
    };
    if (!counting && m_p.timer1.enabled()) {
        RowPhaseEvent e = phaseEvent(RowPhase::Countdown);
        e.secondsLeft = secondsLeft();
        tell(e);
    } else if (!waiting && m_p.timer2.enabled() && !m_captcha) {
        RowPhaseEvent e = phaseEvent(RowPhase::HosterWait);
        e.secondsLeft = secondsLeft();
        tell(e);
    }
    if (!unreadable.empty() && event.error.empty())
        setPanel0(" Page not read - " + unreadable + " ");
    // The error page has no form, so the row stalls; at least the user learns why.
    if (!event.error.empty())
        setPanel0(" Page not loaded - " + event.error + " ");
}

DownloadCycle::Remaining DownloadCycle::remaining() const {
    const CycleState& s = m_p.state;
    const double elapsed = m_p.clock.timeOfDay() - s.PhaseStart;
    Remaining r;
    r.text = TimeText(s.WaitSpan - elapsed);
    // A tick that comes more than a second late (a busy machine, a suspend) would miss the
    // "00:00:00" window and leave the phase counting up for ever. The clock has no date, so an
    // elapsed time below zero means midnight has passed once.
    const double sinceStart = elapsed < 0 ? elapsed + 1.0 : elapsed;
    r.over = r.text == ZeroTime || s.WaitSpan - sinceStart <= 0;
    return r;
}

void DownloadCycle::Timer1Timer() {
    CycleState& s = m_p.state;
    // No folder chosen (rows restored after a crash, say) is the default folder, never the
    // root of the file system that an empty folder joined to a name would be.
    s.SaveFolder = m_p.folder.effective();
    setPanel0(CountdownPanelText, CountdownUnitsPerCharacter);
    const Remaining r = remaining();
    m_p.statusBar.setText(1, r.text);
    m_p.statusBar.setText(2, std::string());
    s.RemainingText = r.text;
    // The panel counts whole seconds; the fetch waits for the whole span and its margin,
    // which may end between two ticks.
    if (const std::chrono::milliseconds left = countdownLeft(); left.count() > 0) {
        if (left < std::chrono::seconds(1))
            m_p.timer1.tickOnceIn(left);
        return;
    }

    if (!s.FinalLinkFresh) {
        // The countdown page gave no link of its own; what FinalURL holds belongs to an
        // earlier page and would fetch that file again over the earlier download.
        m_p.timer1.setEnabled(false);
        failWithoutTransfer("the countdown page has no download link",
                            m_unattended ? std::string() : std::string(BadLinkText));
        return;
    }
    s.FinalLinkFresh = false;
    if (s.FinalInBrowser) {
        // The countdown only opened the way: the next page comes as any page does.
        s.FinalInBrowser = false;
        m_p.timer1.setEnabled(false);
        try {
            const std::shared_ptr<Document> page =
                s.FinalForm >= 0 ? m_p.browser.document() : nullptr;
            if (s.FinalForm < 0)
                m_p.browser.Navigate(s.FinalURL);
            else if (!page)
                throw DomError("the page is no longer there");
            else if (s.FinalElement >= 0)
                page->click(s.FinalForm, s.FinalElement);
            else
                page->submitForm(s.FinalForm);
        } catch (const DomError& e) {
            failWithoutTransfer(std::string("the page after the countdown cannot be opened (") +
                                e.what() + ")");
        }
        return;
    }
    const std::string problem = m_nameCheck.problem(s.FinalFileName);
    if (!problem.empty()) {
        m_p.timer1.setEnabled(false);
        failWithoutTransfer(problem);
        return;
    }
    m_p.timer1.setEnabled(false);
    startTransfer();
}

void DownloadCycle::startTransfer() {
    CycleState& s = m_p.state;
    s.SaveFolder = m_p.folder.effective();
    std::string fileName = s.FinalFileName;
    // A row the remote control placed: its folder and name, the name checked like a page's.
    const RowPlacement& placed = m_p.list.record(s.CurrentRow).placement.get();
    if (!placed.folder.empty())
        s.SaveFolder = placed.folder;
    if (!placed.fileName.empty() && m_nameCheck.problem(placed.fileName).empty())
        fileName = placed.fileName;
    m_p.statusBar.clear();
    // Panels emptied first: a refused start may want to say why in them.
    m_p.component.UrlToDownload = s.FinalURL;
    m_p.component.PostData = s.FinalPostData;
    m_p.component.Request = requestOf(s.CurrentRow);
    m_p.component.FileName = s.SaveFolder + m_p.folder.separator() + fileName;
    m_p.component.Resume = takeRetryPartial(m_p.component.FileName);
    m_p.component.Start();
}

void DownloadCycle::startDirectFile(const DocumentCompleteEvent& event) {
    CycleState& s = m_p.state;
    // Named by the server: checked like every name a page gives.
    const std::string problem = m_nameCheck.problem(event.fileName);
    if (!problem.empty()) {
        failWithoutTransfer(problem);
        return;
    }
    s.FinalURL = event.url;
    s.FinalFileName = event.fileName;
    s.FinalLinkFresh = false;
    s.PageHandled = true;
    startTransfer();
}

std::chrono::milliseconds DownloadCycle::countdownLeft() const {
    const CycleState& s = m_p.state;
    double elapsed = m_p.clock.timeOfDay() - s.PhaseStart;
    if (elapsed < 0)
        elapsed += 1.0; // midnight passed
    const double leftMs = (s.WaitSpan - elapsed) * DayLengthSeconds * 1000.0 +
                          static_cast<double>(CountdownMargin.count());
    // Rounded: the clock's fractions of a day must not leave a countdown a microsecond short.
    return std::chrono::milliseconds(std::max<long long>(0, std::llround(leftMs)));
}

void DownloadCycle::Timer2Timer() {
    CycleState& s = m_p.state;
    const Remaining r = remaining();
    if (m_captcha) {
        setPanel0(std::string(" ") + StatusNeedsCaptcha + " ");
        m_p.statusBar.setText(1, r.text);
        s.RemainingText = r.text;
        if (r.over)
            captchaTimedOut();
        return;
    }
    if (s.RetryWaiting) {
        showRetryWait(r.text);
    } else {
        setPanel0(WaitPanelText);
        m_p.statusBar.setText(1, r.text);
        m_p.statusBar.setText(2, WaitTailPanelText);
        m_p.statusBar.setWidth(2, StatusBar::widthFor(WaitTailPanelText));
    }
    s.RemainingText = r.text;
    if (!r.over)
        return;
    // A lane whose hoster's wait is over opens its row again only in a free slot.
    if (!s.RetryWaiting && m_lane.mayGoOn && !m_lane.mayGoOn())
        return;
    // Both waits go back to the row's pages: a retry needs a fresh direct link, since the
    // one that failed may have expired. A retry that meets the hoster's own wait keeps its
    // count and its partial file through that wait.
    if (s.RetryWaiting)
        m_p.list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusWaiting));
    s.RetryWaiting = false;
    openCurrentRow();
    m_p.timer2.setEnabled(false);
    m_p.statusBar.clear();
    s.PageHandled = false;
}

void DownloadCycle::showRetryWait(const std::string& remainingText) {
    const RowAttempts& attempts = m_p.list.record(m_p.state.CurrentRow).attempts.get();
    setPanel0(retryPanelText(attempts.failed));
    m_p.statusBar.setText(1, remainingText);
    // Why the last attempt failed: the user may well want to act on it.
    const std::string why = attempts.reason.empty() ? std::string() : " " + attempts.reason + " ";
    m_p.statusBar.setText(2, why);
    m_p.statusBar.setWidth(2, StatusBar::widthFor(why));
}

std::string DownloadCycle::setAsideText(int retry, const std::string& timeOfDay) {
    return "Retry " + std::to_string(retry) + " of " + std::to_string(MaxRetries) + " at " +
           timeOfDay;
}

void DownloadCycle::setAside(const TransferResult& result) {
    CycleState& s = m_p.state;
    const std::uint64_t id = m_p.list.id(s.CurrentRow);
    RowAttempts* attempts = attemptsOf(s.CurrentRow);
    s.RetryWaiting = false;
    // A row deleted during its transfer keeps nothing.
    if (id == 0 || attempts == nullptr) {
        discard(result.partial);
        return;
    }
    const auto delay = result.retryAfter > std::chrono::seconds(0)
                           ? std::min(result.retryAfter, MaxRetryAfter)
                           : RetryDelays[static_cast<std::size_t>(
                                 std::clamp(attempts->failed, 0, MaxRetries - 1))];
    const std::string& link = m_p.list.cell(s.CurrentRow, DownloadList::URL);
    // The file goes with the row. An attempt that never transferred (a captcha nobody
    // answered) keeps what the one before it kept.
    if (!result.partial.empty() || attempts->link != link)
        keepFile(*attempts, result.partial, link);
    attempts->failed += 1;
    attempts->reason = result.reason;
    attempts->aside = true;
    attempts->since = m_p.clock.timeOfDay();
    attempts->span = static_cast<double>(delay.count()) / DayLengthSeconds;
    double due = attempts->since + attempts->span;
    if (due >= 1.0)
        due -= 1.0;
    const std::string at = TimeText(due);
    m_p.list.setCell(s.CurrentRow, DownloadList::Status, setAsideText(attempts->failed, at));
    m_p.list.setNote(s.CurrentRow,
                     "Set aside at " + TimeText(attempts->since) + ": " +
                         (attempts->reason.empty() ? "unknown error" : attempts->reason));
    RowPhaseEvent e = phaseEvent(RowPhase::SetAside);
    e.secondsLeft = delay.count();
    e.retry = attempts->failed;
    e.retryAt = at;
    e.reason = attempts->reason;
    s.SetAside.push_back(id);
    tell(e);
}

void DownloadCycle::pruneSetAside() {
    CycleState& s = m_p.state;
    // A row that left the list took its file along; a row whose link was edited holds
    // another link's file, which nothing may continue.
    std::erase_if(s.SetAside, [this](std::uint64_t id) {
        const int row = m_p.list.rowOf(id);
        if (row < 1)
            return true;
        if (m_p.list.cell(row, DownloadList::URL) == m_p.list.record(row).attempts.get().link)
            return false;
        forget(row);
        return true;
    });
}

int DownloadCycle::dueSetAside() const {
    const CycleState& s = m_p.state;
    for (std::size_t i = 0; i < s.SetAside.size(); ++i)
        if (const RowRecord* record = m_p.list.recordOf(s.SetAside[i]);
            record && asideLeft(record->attempts.get()) <= 0)
            return static_cast<int>(i);
    return -1;
}

void DownloadCycle::takeUpSetAside(std::size_t index, std::uint64_t returnId, double wait) {
    CycleState& s = m_p.state;
    const std::uint64_t id = s.SetAside[index];
    s.SetAside.erase(s.SetAside.begin() + static_cast<std::ptrdiff_t>(index));
    s.OnSetAside = true;
    s.ReturnRowId = returnId;
    m_p.component.Tag = 0;
    s.PageHandled = false;
    s.TransferSeconds = 0;
    s.CurrentRow = m_p.list.rowOf(id);
    // Its count, its reason and its file stay with it for the attempt to come.
    if (RowAttempts* attempts = attemptsOf(s.CurrentRow))
        attempts->aside = false;
    if (wait <= 0) {
        m_p.list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusWaiting));
        openCurrentRow();
        return;
    }
    // Nothing else left to do: the list waits for this row's retry, as the status bar shows.
    s.WaitSpan = wait;
    s.PhaseStart = m_p.clock.timeOfDay();
    s.RetryWaiting = true;
    m_p.timer2.setEnabled(true);
    s.RemainingText = TimeText(s.WaitSpan);
    showRetryWait(s.RemainingText);
}

void DownloadCycle::dropSetAside(std::string_view status) {
    CycleState& s = m_p.state;
    for (const std::uint64_t id : s.SetAside) {
        const int at = m_p.list.rowOf(id);
        if (at < 1)
            continue;
        const std::string link = m_p.list.record(at).attempts.get().link;
        forget(at);
        if (m_p.list.cell(at, DownloadList::URL) == link) {
            m_p.list.setCell(at, DownloadList::Status, std::string(status));
            RowPhaseEvent e;
            e.id = id;
            e.phase = RowPhase::Stopped;
            e.link = link;
            tell(e);
        }
    }
    s.SetAside.clear();
    s.OnSetAside = false;
    s.ReturnRowId = 0;
}

void DownloadCycle::discard(const PartialFile& partial) {
    if (!partial.empty())
        m_p.component.DiscardPartial(partial);
}

std::string DownloadCycle::downloadFolder() const {
    std::string folder = m_p.folder.text();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

void DownloadCycle::discard(const RowAttempts& attempts) {
    // A restored file was named by the last session's recovery file: it is removed only from
    // the download folder, where our transfers put their files.
    if (attempts.restored && folderOf(attempts.partial.path) != downloadFolder())
        return;
    discard(attempts.partial);
}

void DownloadCycle::keepFile(RowAttempts& attempts, const PartialFile& partial,
                             const std::string& link) {
    if (attempts.partial.path != partial.path)
        discard(attempts);
    attempts.partial = partial;
    attempts.link = link;
    attempts.restored = false;
}

double DownloadCycle::asideLeft(const RowAttempts& attempts) const {
    double elapsed = m_p.clock.timeOfDay() - attempts.since;
    if (elapsed < 0)
        elapsed += 1.0; // midnight passed
    return attempts.span - elapsed;
}

void DownloadCycle::forget(int row) {
    if (RowRecord* record = row >= 1 ? m_p.list.editRecord(row) : nullptr) {
        discard(record->attempts.get());
        record->attempts.reset();
    }
}

void DownloadCycle::forgetRetries() {
    m_p.state.RetryWaiting = false;
    // The row the cycle stood on is gone with what it kept; its place holds another row.
    if (m_currentGone || m_p.list.record(m_p.state.CurrentRow).attempts.get().empty())
        return;
    RowAttempts& attempts = *attemptsOf(m_p.state.CurrentRow);
    // A file the last session left waits for the row's first transfer, whenever it comes.
    if (attempts.restored) {
        RowAttempts kept;
        kept.partial = std::move(attempts.partial);
        kept.link = std::move(attempts.link);
        kept.restored = true;
        attempts = std::move(kept);
        return;
    }
    forget(m_p.state.CurrentRow);
}

void DownloadCycle::discardRetryPartial() {
    for (int row = 1; row < m_p.list.rowCount(); ++row)
        if (!m_p.list.record(row).attempts.get().empty())
            forget(row);
    m_p.state.SetAside.clear();
}

std::vector<std::pair<std::string, PartialFile>> DownloadCycle::keptPartials() const {
    std::vector<std::pair<std::string, PartialFile>> out;
    if (auto running = transferKeeping())
        out.push_back(std::move(*running));
    for (auto& kept : keptInRecords(m_p.list))
        out.push_back(std::move(kept));
    return out;
}

std::optional<std::pair<std::string, PartialFile>> DownloadCycle::transferKeeping() const {
    if (isTransferRunning() && !m_p.component.Keeping.empty())
        return std::pair{m_p.state.CurrentURL, m_p.component.Keeping};
    return std::nullopt;
}

std::vector<std::pair<std::string, PartialFile>>
DownloadCycle::keptInRecords(const DownloadList& list) {
    std::vector<std::pair<std::string, PartialFile>> out;
    for (int row = 1; row < list.rowCount(); ++row)
        if (const RowAttempts& attempts = list.record(row).attempts.get();
            !attempts.partial.empty())
            out.emplace_back(attempts.link, attempts.partial);
    return out;
}

bool DownloadCycle::partialPending() const {
    return isTransferRunning() && m_p.component.Keeping.empty();
}

void DownloadCycle::restorePartial(std::string link, PartialFile partial) {
    RowAttempts cut;
    cut.partial = std::move(partial);
    cut.link = std::move(link);
    cut.restored = true;
    int row = 1;
    while (row < m_p.list.rowCount() && m_p.list.cell(row, DownloadList::URL) != cut.link)
        ++row;
    RowAttempts* attempts = row < m_p.list.rowCount() ? attemptsOf(row) : nullptr;
    // No row of its link is left to continue it.
    if (!attempts) {
        discard(cut);
        return;
    }
    // One file per row: a second one would be a stale left-over.
    discard(*attempts);
    *attempts = std::move(cut);
}

PartialFile DownloadCycle::takeRetryPartial(const std::string& targetPath) {
    CycleState& s = m_p.state;
    if (m_p.list.record(s.CurrentRow).attempts.get().partial.empty())
        return {};
    RowAttempts& attempts = *attemptsOf(s.CurrentRow);
    PartialFile partial = std::move(attempts.partial);
    attempts.partial = PartialFile{};
    const bool restored = std::exchange(attempts.restored, false);
    const std::string link = std::move(attempts.link);
    attempts.link.clear();
    if (restored) {
        // The transfer only continues a file in the folder it saves to, and removes any
        // other it is handed: a file in another folder (the user chose a new one) is left
        // where it is.
        if (folderOf(partial.path) == folderOf(targetPath))
            return partial;
        return {};
    }
    // The row's link was edited since: another link's file must never be spliced onto this
    // one's beginning.
    if (m_p.list.cell(s.CurrentRow, DownloadList::URL) != link) {
        discard(partial);
        return {};
    }
    return partial;
}

void DownloadCycle::DownloadFile1Finish(bool Canceled, const TransferResult& result) {
    // The component reads busy until this handler returns; nothing here may take the
    // transfer for one still running.
    m_finishing = true;
    finish(Canceled, result);
    m_finishing = false;
}

void DownloadCycle::finish(bool Canceled, const TransferResult& result) {
    CycleState& s = m_p.state;
    DownloadList& list = m_p.list;
    m_p.statusBar.clear();
    m_p.elpsTimer.setEnabled(false);
    m_p.estTimer.setEnabled(false);
    if (m_currentGone) {
        // The row was removed under its transfer: its cells are another row's now.
        m_pausePending = false;
        discard(result.partial);
        forgetRetries();
        closeRowAndAdvance();
        return;
    }
    list.setCell(s.CurrentRow, DownloadList::Left, std::string());
    if (m_pausePending && !s.StopRequested && result.outcome != TransferOutcome::Succeeded) {
        holdTransfer(result);
        return;
    }
    m_pausePending = false;
    const bool cancelled = Canceled || result.outcome == TransferOutcome::Cancelled;
    const bool retry = !s.StopRequested && !cancelled &&
                       result.outcome == TransferOutcome::Failed && result.transient &&
                       list.record(s.CurrentRow).attempts.get().failed < MaxRetries;
    const auto clearProgress = [&] {
        for (const int column :
             {DownloadList::Total, DownloadList::Downloaded, DownloadList::Progress,
              DownloadList::Estimated, DownloadList::Speed})
            list.setCell(s.CurrentRow, column, std::string());
    };
    if (retry) {
        clearProgress();
        // The row waits aside; the list does not wait with it.
        setAside(result);
        closeRowAndAdvance();
        return;
    }
    // This row's attempts are over: nothing will continue what the last one kept.
    discard(result.partial);
    forgetRetries();
    if (!s.StopRequested) {
        // A failed transfer must not read as a finished file.
        RowPhaseEvent e = phaseEvent(RowPhase::Completed);
        namePlaced(e, result);
        if (Canceled || result.outcome == TransferOutcome::Cancelled) {
            list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusStopped));
            e.phase = RowPhase::Stopped;
        } else if (result.outcome == TransferOutcome::Succeeded) {
            list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusCompleted));
            e.pagePassword = s.PagePassword;
            e.pageChecksum = s.PageChecksum;
        } else {
            const std::string why = result.reason.empty() ? "unknown error" : result.reason;
            list.markFailed(s.CurrentRow, TimeText(m_p.clock.timeOfDay()), why);
            setPanel0(" Download failed - " + why + " ");
            e.phase = RowPhase::Failed;
            e.reason = why;
            e.cause = result.cause;
        }
        tell(e);
    }
    clearProgress();
    closeRowAndAdvance();
}

std::uint64_t DownloadCycle::nextFrom(int row) const {
    const CycleState& s = m_p.state;
    // A row waiting aside is passed over: its turn comes when its retry is due. A held row
    // waits until it is let go. A link the check found gone is not opened at all. A completed
    // row's file is in place: a row taken up again behind the list (a retry, a row let go)
    // does not fetch the rows after it once more.
    for (const int rowCount = m_p.list.rowCount(); row >= 1 && row < rowCount; ++row) {
        const std::uint64_t id = m_p.list.id(row);
        const std::string& status = m_p.list.cell(row, DownloadList::Status);
        // A held row reads "Paused": holding it says so, and nothing writes the status of a
        // row while it is held. The records of the other rows stay unread, so that a walk over
        // a long list keeps to the rows themselves.
        const bool held = status == StatusPaused && m_p.list.record(row).held;
        if (!held && !m_p.list.offline(row) && status != StatusCompleted &&
            std::find(s.SetAside.begin(), s.SetAside.end(), id) == s.SetAside.end())
            return id;
    }
    return 0;
}

bool DownloadCycle::isHeldRow(std::uint64_t id) const {
    const RowRecord* record = m_p.list.recordOf(id);
    return record && record->held;
}

bool DownloadCycle::holdRow(std::uint64_t id) {
    const int row = m_p.list.rowOf(id);
    if (row < 1 || m_p.list.record(row).held ||
        m_p.list.cell(row, DownloadList::Status) != StatusWaiting ||
        (row == m_p.state.CurrentRow && !atRest()))
        return false;
    m_p.list.editRecord(row)->held = true;
    markHeld(row, true);
    return true;
}

void DownloadCycle::markHeld(int row, bool held) {
    m_p.list.setCell(row, DownloadList::Status, std::string(held ? StatusPaused : StatusWaiting));
    RowPhaseEvent e;
    e.id = m_p.list.id(row);
    e.phase = held ? RowPhase::Paused : RowPhase::Waiting;
    e.link = m_p.list.cell(row, DownloadList::URL);
    tell(e);
}

bool DownloadCycle::releaseRow(std::uint64_t id) {
    const int row = m_p.list.rowOf(id);
    if (row < 1 || !m_p.list.record(row).held)
        return false;
    m_p.list.editRecord(row)->held = false;
    markHeld(row, false);
    if (!atRest())
        m_letGo.push_back(id);
    return true;
}

bool DownloadCycle::retryRow(std::uint64_t id) {
    const int row = m_p.list.rowOf(id);
    if (row < 1 || m_p.list.cell(row, DownloadList::Status) != StatusFailed)
        return false;
    m_p.list.setNote(row, {});
    markHeld(row, false);
    // Behind the cycle, it comes before the end as a row let go does.
    if (!atRest())
        m_letGo.push_back(id);
    return true;
}

bool DownloadCycle::atRest() const {
    return !m_working && m_pause == Held::None && !m_pausePending && !isTransferRunning() &&
           !m_p.timer1.enabled() && !m_p.timer2.enabled() && m_p.state.SetAside.empty();
}

bool DownloadCycle::startAt(int row) {
    if (!atRest())
        return false;
    const int at = m_p.list.rowOf(nextFrom(row));
    if (at < 1)
        return false;
    startOn(at);
    return true;
}

std::pair<std::string, std::string> DownloadCycle::placement(std::uint64_t id) const {
    const RowRecord* record = m_p.list.recordOf(id);
    if (!record)
        return {};
    return {record->placement.get().folder, record->placement.get().fileName};
}

void DownloadCycle::removeRow(int row) {
    CycleState& s = m_p.state;
    if (row < 1 || row >= m_p.list.rowCount())
        return;
    if (m_lane.nextRow) {
        // One lane of several: whoever runs the lanes hears of the removal and moves each
        // lane off its row, this one included.
        m_p.list.removeRow(row);
        return;
    }
    const bool current = row == s.CurrentRow && !m_currentGone;
    const bool working = current && !atRest();
    const bool transferring = current && isTransferRunning();
    if (working) {
        m_p.browser.Stop();
        m_p.timer1.setEnabled(false);
        m_p.timer2.setEnabled(false);
        m_p.statusBar.clear();
        m_pause = Held::None;
        m_pausePending = false;
        s.StopRequested = true;
        // What an attempt kept belongs to the row that goes.
        forgetRetries();
    }
    // Its hold, placement and request options go with its record.
    m_p.list.removeRow(row);
    if (row < s.CurrentRow) {
        --s.CurrentRow;
        return;
    }
    if (!current)
        return;
    m_currentGone = true;
    if (transferring) {
        // Its finish goes on with the row after it.
        m_p.component.Stop();
        return;
    }
    if (working)
        closeRowAndAdvance();
}

void DownloadCycle::setPlacement(std::uint64_t id, std::string folder, std::string fileName) {
    RowPlacement placed{std::move(folder), std::move(fileName)};
    const int row = m_p.list.rowOf(id);
    // A row given nothing gets no record for it.
    if (m_p.list.record(row).placement.get() == placed)
        return;
    RowRecord* record = m_p.list.editRecord(row);
    if (!record)
        return;
    if (placed.empty())
        record->placement.reset();
    else
        record->placement.edit() = std::move(placed);
}

void DownloadCycle::setRequestOptions(std::uint64_t id, RequestOptions options) {
    if (options.empty())
        options = RequestOptions{};
    const int row = m_p.list.rowOf(id);
    if (m_p.list.record(row).request.get() == options)
        return;
    RowRecord* record = m_p.list.editRecord(row);
    if (!record)
        return;
    if (options.empty())
        record->request.reset();
    else
        record->request.edit() = std::move(options);
}

RequestOptions DownloadCycle::requestOptions(std::uint64_t id) const {
    const RowRecord* record = m_p.list.recordOf(id);
    return record ? record->request.get() : RequestOptions{};
}

void DownloadCycle::advanceTo(int row) {
    CycleState& s = m_p.state;
    m_p.component.Tag = 0;
    s.PageHandled = false;
    s.TransferSeconds = 0;
    s.CurrentRow = row;
    DeleteURLExecute();
}

void DownloadCycle::closeRowAndAdvance() {
    CycleState& s = m_p.state;
    const int rowCount = m_p.list.rowCount();
    const bool fromSetAside = s.OnSetAside;
    const bool gone = m_currentGone;
    m_currentGone = false;
    s.OnSetAside = false;
    if (const std::uint64_t id = m_p.list.id(s.CurrentRow);
        id != 0 && s.CurrentRow >= 1 && !fromSetAside && !gone)
        s.FinishedRowId = id;
    pruneSetAside();
    // The row the list goes on with: the next one, or after a set-aside row the one the list
    // had reached before it. A removed row's place holds the row after it already.
    std::uint64_t nextId = 0;
    if (fromSetAside) {
        nextId = s.ReturnRowId != 0 ? nextFrom(m_p.list.rowOf(s.ReturnRowId)) : 0;
    } else if (gone) {
        nextId = nextFrom(s.CurrentRow);
    } else if (s.CurrentRow < rowCount - 1) {
        nextId = nextFrom(s.CurrentRow + 1);
    }
    s.ReturnRowId = 0;
    if (m_lane.nextRow) {
        // One lane of several: a due retry first, then whatever row the lanes give this one,
        // then the wait for its own set-aside rows; else it is free.
        if (const int due = dueSetAside(); due >= 0) {
            takeUpSetAside(static_cast<std::size_t>(due), 0, 0);
            return;
        }
        if (const std::uint64_t id = m_lane.nextRow(); id != 0) {
            if (const int row = m_p.list.rowOf(id); row >= 1) {
                advanceTo(row);
                return;
            }
        }
        if (!s.SetAside.empty()) {
            waitForFirstSetAside();
            return;
        }
        m_working = false;
        if (m_lane.laneFree)
            m_lane.laneFree();
        return;
    }
    // A due retry comes before the next row: its wait is over, the next row has none.
    if (const int due = dueSetAside(); due >= 0) {
        takeUpSetAside(static_cast<std::size_t>(due), nextId, 0);
        return;
    }
    if (nextId != 0) {
        advanceTo(m_p.list.rowOf(nextId));
        return;
    }
    // Rows let go behind the cycle come before the end.
    while (!m_letGo.empty()) {
        const std::uint64_t id = m_letGo.front();
        m_letGo.erase(m_letGo.begin());
        const int row = m_p.list.rowOf(id);
        if (row >= 1 && !m_p.list.record(row).held &&
            m_p.list.cell(row, DownloadList::Status) == StatusWaiting) {
            advanceTo(row);
            return;
        }
    }
    if (!s.SetAside.empty()) {
        // The list is done only when no row waits aside: wait for the first one due.
        waitForFirstSetAside();
        return;
    }
    // Rows behind the current one that give no next row are all held: the list is done
    // until one is let go.
    if (fromSetAside || gone || s.CurrentRow <= rowCount - 1) {
        if (gone && s.CurrentRow >= rowCount)
            s.CurrentRow = std::max(1, rowCount - 1);
        m_p.component.Tag = 1;
        tellListDone();
        if (m_hooks.CheckShutDown)
            m_hooks.CheckShutDown();
    }
    // Past the end (rows deleted during the last transfer): neither advance nor end the list.
    m_working = false;
}

void DownloadCycle::waitForFirstSetAside() {
    const CycleState& s = m_p.state;
    std::size_t first = 0;
    double firstLeft = 2.0;
    for (std::size_t i = 0; i < s.SetAside.size(); ++i) {
        const RowRecord* record = m_p.list.recordOf(s.SetAside[i]);
        if (const double left = record ? asideLeft(record->attempts.get()) : 2.0;
            left < firstLeft) {
            firstLeft = left;
            first = i;
        }
    }
    takeUpSetAside(first, 0, firstLeft);
}

bool DownloadCycle::holdsRow() const {
    const bool inHand = m_working || m_pause != Held::None || m_pausePending ||
                        isTransferRunning() || m_p.timer1.enabled() || m_p.timer2.enabled();
    return inHand && !m_currentGone;
}

std::uint64_t DownloadCycle::rowInHand() const {
    return holdsRow() ? m_p.list.id(m_p.state.CurrentRow) : 0;
}

bool DownloadCycle::countingDown() const {
    return m_p.timer1.enabled();
}

bool DownloadCycle::hosterWaiting() const {
    return m_p.timer2.enabled() && !m_p.state.RetryWaiting && !m_captcha;
}

bool DownloadCycle::occupiesLane() const {
    return rowInHand() != 0 && m_pause == Held::None && !m_p.timer2.enabled();
}

bool DownloadCycle::waitOver() const {
    return hosterWaiting() && remaining().over;
}

void DownloadCycle::shiftCurrentRow(int delta) {
    m_p.state.CurrentRow = std::max(1, m_p.state.CurrentRow + delta);
}

bool DownloadCycle::loseCurrentRow(int nowAt) {
    CycleState& s = m_p.state;
    // Asked while the row is leaving the list: its index may no longer name it.
    const bool inHand = holdsRow();
    s.CurrentRow = std::max(1, nowAt);
    if (!inHand)
        return false;
    const bool transferring = isTransferRunning();
    m_p.browser.Stop();
    m_p.timer1.setEnabled(false);
    m_p.timer2.setEnabled(false);
    m_p.statusBar.clear();
    m_pause = Held::None;
    m_captcha = false;
    s.StopRequested = true;
    s.OnSetAside = false;
    // What an attempt kept went with the row.
    s.RetryWaiting = false;
    m_currentGone = true;
    if (transferring || m_pausePending) {
        // Its finish goes on with the next row.
        m_p.component.Stop();
        return false;
    }
    return true;
}

void DownloadCycle::goOn() {
    if (m_currentGone && !isTransferRunning() && !m_pausePending)
        closeRowAndAdvance();
}

void DownloadCycle::finishList() {
    m_p.component.Tag = 1;
    tellListDone();
    if (m_hooks.CheckShutDown)
        m_hooks.CheckShutDown();
}

void DownloadCycle::setCaptchaAnswers(bool attended, std::chrono::seconds timeout) {
    m_p.state.CaptchaAttended = attended;
    m_captchaTimeout = std::max(timeout, std::chrono::seconds(1));
}

namespace {

// The picture's address as the page wrote it, made whole against the page's own.
std::string absoluteAddress(const std::string& page, const std::string& src) {
    if (src.starts_with("http://") || src.starts_with("https://"))
        return src;
    const std::size_t scheme = page.find("://");
    if (scheme == std::string::npos)
        return src;
    if (src.starts_with("//"))
        return page.substr(0, scheme + 1) + src;
    const std::size_t path = page.find('/', scheme + 3);
    const std::string origin = page.substr(0, path);
    if (src.starts_with("/"))
        return origin + src;
    std::string base =
        path == std::string::npos ? origin + "/" : page.substr(0, page.find_first_of("?#", path));
    base.erase(base.rfind('/') + 1);
    return base + src;
}

} // namespace

void DownloadCycle::needCaptcha() {
    CycleState& s = m_p.state;
    if (++m_captchaAsked > MaxCaptchaTries) {
        failWithoutTransfer("the captcha was answered wrong " + std::to_string(MaxCaptchaTries) +
                            " times");
        return;
    }
    m_captcha = true;
    m_captchaUrl = absoluteAddress(s.CurrentURL, s.CaptchaImage);
    // Timer2 counts the time a person is given; the lane's place goes to other rows meanwhile.
    s.WaitSpan = static_cast<double>(m_captchaTimeout.count()) / DayLengthSeconds;
    s.PhaseStart = m_p.clock.timeOfDay();
    s.RetryWaiting = false;
    m_p.timer2.setEnabled(true);
    m_p.list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusNeedsCaptcha));
    RowPhaseEvent e = phaseEvent(RowPhase::Captcha);
    e.captcha = m_captchaUrl;
    e.secondsLeft = m_captchaTimeout.count();
    tell(e);
}

bool DownloadCycle::answerCaptcha(const std::string& code) {
    CycleState& s = m_p.state;
    if (!m_captcha || code.empty() || m_pause != Held::None)
        return false;
    m_captcha = false;
    m_p.timer2.setEnabled(false);
    m_p.statusBar.clear();
    s.CaptchaCode = code.substr(0, 64);
    m_p.list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusWaiting));
    tell(RowPhase::Opening);
    if (m_hooks.rerunPage)
        m_hooks.rerunPage();
    return true;
}

void DownloadCycle::captchaTimedOut() {
    CycleState& s = m_p.state;
    m_captcha = false;
    m_p.timer2.setEnabled(false);
    m_p.statusBar.clear();
    m_p.browser.Stop();
    const std::string why = "nobody answered the captcha";
    if (m_p.list.record(s.CurrentRow).attempts.get().failed >= MaxRetries) {
        failWithoutTransfer(why);
        return;
    }
    TransferResult result;
    result.outcome = TransferOutcome::Failed;
    result.transient = true;
    result.reason = why;
    m_p.list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusWaiting));
    setAside(result);
    closeRowAndAdvance();
}

bool DownloadCycle::canPause() const {
    return m_pause == Held::None && !m_pausePending && !m_p.state.StopRequested &&
           (m_working || isTransferRunning() || m_p.timer1.enabled() || m_p.timer2.enabled());
}

double DownloadCycle::timeLeft() const {
    const CycleState& s = m_p.state;
    double elapsed = m_p.clock.timeOfDay() - s.PhaseStart;
    if (elapsed < 0)
        elapsed += 1.0; // midnight passed
    return std::max(0.0, s.WaitSpan - elapsed);
}

bool DownloadCycle::pause() {
    if (!canPause())
        return false;
    CycleState& s = m_p.state;
    if (isTransferRunning()) {
        // The row is held once the transfer has stopped and told what it kept.
        m_pausePending = true;
        m_p.component.Pause();
        return true;
    }
    if (m_p.timer1.enabled()) {
        m_pause = Held::Countdown;
        m_p.timer1.setEnabled(false);
    } else if (m_p.timer2.enabled()) {
        m_pause = Held::Wait;
        m_p.timer2.setEnabled(false);
    } else {
        m_pause = Held::Opening;
        m_p.browser.Stop();
    }
    m_pauseLeft = timeLeft();
    m_statusBeforePause = m_p.list.cell(s.CurrentRow, DownloadList::Status);
    m_p.list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusPaused));
    tell(RowPhase::Paused);
    return true;
}

void DownloadCycle::holdTransfer(const TransferResult& result) {
    CycleState& s = m_p.state;
    DownloadList& list = m_p.list;
    m_pausePending = false;
    m_pause = Held::Transfer;
    m_p.statusBar.clear();
    // Kept as a retry keeps it: the next transfer of this row, and only of this link,
    // continues it.
    if (RowAttempts* attempts = attemptsOf(s.CurrentRow))
        keepFile(*attempts, result.partial, list.cell(s.CurrentRow, DownloadList::URL));
    else
        discard(result.partial);
    for (const int column : {DownloadList::Estimated, DownloadList::Speed})
        list.setCell(s.CurrentRow, column, std::string());
    m_statusBeforePause = std::string(StatusWaiting);
    list.setCell(s.CurrentRow, DownloadList::Status, std::string(StatusPaused));
    // The flag goes down with the transfer: Resume opens the row again.
    m_p.component.Tag = 0;
    s.PageHandled = false;
    s.TransferSeconds = 0;
    RowPhaseEvent e = phaseEvent(RowPhase::Paused);
    namePlaced(e, result);
    tell(e);
}

bool DownloadCycle::resume() {
    CycleState& s = m_p.state;
    const Held held = m_pause;
    if (held == Held::None)
        return false;
    m_pause = Held::None;
    m_p.list.setCell(s.CurrentRow, DownloadList::Status, m_statusBeforePause);
    const auto secondsLeft =
        static_cast<std::int64_t>(std::llround(m_pauseLeft * DayLengthSeconds));
    switch (held) {
    case Held::Countdown:
    case Held::Wait: {
        s.WaitSpan = m_pauseLeft;
        s.PhaseStart = m_p.clock.timeOfDay();
        RowPhaseEvent e =
            phaseEvent(held == Held::Countdown ? RowPhase::Countdown : RowPhase::HosterWait);
        e.secondsLeft = secondsLeft;
        (held == Held::Countdown ? m_p.timer1 : m_p.timer2).setEnabled(true);
        tell(e);
        break;
    }
    case Held::Opening:
    case Held::Transfer:
        // Like a retry: the link that was cut may have expired.
        openCurrentRow();
        break;
    case Held::None:
        break;
    }
    return true;
}

void DownloadCycle::failWithoutTransfer(const std::string& reason, const std::string& panelText,
                                        FailureCause cause) {
    CycleState& s = m_p.state;
    forgetRetries();
    m_p.statusBar.clear();
    m_p.list.markFailed(s.CurrentRow, TimeText(m_p.clock.timeOfDay()), reason);
    setPanel0(panelText.empty() ? " Download failed - " + reason + " " : panelText);
    RowPhaseEvent e = phaseEvent(RowPhase::Failed);
    e.reason = reason;
    e.cause = cause;
    tell(e);
    // The list is done when its last row is closed, with or without a transfer; the flag is
    // what tells Start Download so.
    if (s.CurrentRow == m_p.list.rowCount() - 1)
        m_p.component.Tag = 1;
    closeRowAndAdvance();
}

void DownloadCycle::DeleteURLExecute() {
    CycleState& s = m_p.state;
    const int rowCount = m_p.list.rowCount();
    if (rowCount <= 1)
        m_p.component.Tag = 0;
    if (s.CurrentRow <= rowCount) {
        s.CurrentURL = m_p.list.cell(s.CurrentRow, DownloadList::URL);
        m_p.component.Tag = 0;
    }
    StartDownload1Click();
}

void DownloadCycle::DeleteURLError() {
    CycleState& s = m_p.state;
    if (m_p.list.rowCount() <= 1) {
        setPanel0(BadLinkText);
        s.CurrentURL = m_p.list.cell(s.CurrentRow, DownloadList::URL);
        m_p.browser.Stop();
        m_p.component.Stop();
        StartDownload1Click();
        s.PageHandled = true;
        return;
    }
    // One dead link must not hold the rows behind it: the row fails, the list goes on, and
    // the status bar says what it always said of such a link.
    failWithoutTransfer("the hoster reports the file missing or blocked",
                        m_unattended ? std::string() : std::string(BadLinkText),
                        FailureCause::NotFound);
    // The rules still to run would act on this page of the closed row (its button would be
    // pressed) while the next row is already on its way.
    s.PageHandled = true;
}

} // namespace torvaline
