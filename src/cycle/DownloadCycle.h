#pragma once

#include "cycle/FileNameCheck.h"
#include "cycle/RowEvents.h"
#include "list/RowRecord.h"
#include "list/StatusBar.h"
#include "platform/Browser.h"
#include "platform/TransferFacility.h"
#include "state/CycleState.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvaline {

class Clock;
class DownloadComponent;
class DownloadFolder;
class DownloadList;
class Timer;

// The chain of handlers that takes the current row from its link to a finished file and on to
// the next row. It owns no thread and no loop: commands, browser events, the two timers and the
// transfer's finish event call in, one at a time, on the GUI thread.
class DownloadCycle final {
public:
    struct Ports {
        DownloadList& list;
        StatusBar& statusBar;
        CycleState& state;
        DownloadFolder& folder; // Edit2
        Browser& browser;       // WebBrowser1
        Timer& timer1;          // countdown before a transfer
        Timer& timer2;          // wait before the next attempt
        Timer& elpsTimer;
        Timer& estTimer;
        Clock& clock;
        DownloadComponent& component; // DownloadFile1; its Tag is the transfer flag
    };

    struct Hooks {
        // Copies the loaded page into the page text, which runs the page rules.
        std::function<void()> BrowserInfo;
        // Empties the page text without running the page rules.
        std::function<void()> clearPageText;
        // The shutdown check, run when the list is done.
        std::function<void()> CheckShutDown;
        // Whether the component is running a transfer right now.
        std::function<bool()> transferRunning;
        // Runs the page rules again on the page shown (a captcha's code came).
        std::function<void()> rerunPage = {};
    };

    // Set when this cycle is one lane of several working the one list.
    struct LaneHooks {
        // The row the lane takes next (0: none for it now), in place of the next row down.
        std::function<std::uint64_t()> nextRow;
        // The lane has nothing left to do; whoever runs the lanes ends the list, when all are.
        std::function<void()> laneFree;
        // A hoster's wait is over: whether the lane may open its row again now (false while
        // as many lanes as allowed are busy; the wait then goes on a second at a time).
        std::function<bool()> mayGoOn;
    };
    void setLaneHooks(LaneHooks hooks) { m_lane = std::move(hooks); }

    static constexpr const char* BadLinkText = " Error - Please check the download link ";
    static constexpr const char* CountdownPanelText = "Download will start in ";
    // The countdown's panel is laid out at half the usual width a character.
    static constexpr int CountdownUnitsPerCharacter = 5;
    static constexpr const char* WaitPanelText = "Wait ";
    static constexpr const char* WaitTailPanelText = " For the Next Download";
    // Start Download after the end of the list, when no row is left below the last one done.
    // Panel 0 at the end of the list.
    static std::string listDoneText(int completed, int failed, int stopped);
    static constexpr const char* NothingLeftText = " Nothing left to download - add links first ";

    // A transfer that fails for a reason that may go away by itself is tried again this
    // often, after these waits, each time through the hoster's pages for a fresh link.
    static constexpr int MaxRetries = 3;
    static constexpr std::array<std::chrono::seconds, MaxRetries> RetryDelays{
        std::chrono::seconds(30), std::chrono::minutes(2), std::chrono::minutes(5)};
    // A server's Retry-After wins over the delays above, but never stalls a row longer.
    static constexpr std::chrono::seconds MaxRetryAfter = std::chrono::minutes(30);
    // Panel 0 during a retry wait: "Retry 1 of 3 ".
    static std::string retryPanelText(int retry);
    // The Status cell of a row set aside for a retry: "Retry 1 of 3 at 14:02:10".
    static std::string setAsideText(int retry, const std::string& timeOfDay);

    DownloadCycle(Ports ports, Hooks hooks);
    ~DownloadCycle();
    DownloadCycle(const DownloadCycle&) = delete;
    DownloadCycle& operator=(const DownloadCycle&) = delete;

    // Binds the browser's four events and the ticks of Timer1 and Timer2 to this cycle.
    void setEvents();

    // The command: a new start of the current row, with a fresh retry count.
    void StartDownload1Click();
    void StopDownExecute();
    // The program ends (a daemon's stop): as Stop, but a row held by Pause stays held, so that
    // the list kept for the next start shows it paused.
    void stopForTheEnd();
    // Removes a row as the remote control does: the row being worked on is stopped first and
    // the list goes on with the row after it, set-aside rows untouched. The cycle never
    // points at a row that is gone, nor at another row than the one it works on.
    void removeRow(int row);
    // Holds the row being worked on where it is: a transfer stops keeping its partial file, a
    // countdown or a wait keeps its time left. False when nothing applies.
    bool pause();
    // Goes on from where pause held the row: the countdown or wait with its time left, a
    // transfer through the row's pages again (a fresh link) continuing the kept file.
    bool resume();
    bool canPause() const;
    bool canResume() const { return m_pause != Held::None; }

    // A row the list has not reached yet can be held too: the cycle passes over it, its
    // status reads "Paused", until it is let go. Only a waiting row can be held; each returns
    // whether it applied. A row let go behind the one being worked on gets its turn before
    // the list is done.
    bool holdRow(std::uint64_t id);
    bool releaseRow(std::uint64_t id);
    // A failed row waits again, in its place, for a fresh attempt; false for any other row.
    bool retryRow(std::uint64_t id);
    bool isHeldRow(std::uint64_t id) const;
    // Nothing is being worked on, held or waited for: the list was never started or is done.
    bool atRest() const;
    // Starts on `row`, or on the first row after it that is not held; false when the list is
    // not at rest or no such row is left.
    bool startAt(int row);

    // Where one row's file goes, when it is not the folder's and the hoster's name: a folder
    // (created if missing) and a plain file name, either may be empty.
    void setPlacement(std::uint64_t id, std::string folder, std::string fileName);
    // The folder and the file name given to a row, both empty when none was.
    std::pair<std::string, std::string> placement(std::uint64_t id) const;
    // What one row asks to send with its page requests and its transfer (checked by the
    // caller); kept for the session only, never in the recovery file: a cookie or a password
    // does not belong in a file left behind.
    void setRequestOptions(std::uint64_t id, RequestOptions options);
    RequestOptions requestOptions(std::uint64_t id) const;

    // A countdown ends this long after its whole span has passed since its page came: a
    // hoster that checks the time refuses a request that comes a moment early.
    static constexpr std::chrono::milliseconds CountdownMargin{250};

    void WebBrowser1BeforeNavigate2(const std::string& url);
    void WebBrowser1NewWindow2(const std::string& url, bool& cancel);
    void WebBrowser1DownloadComplete();
    void WebBrowser1DocumentComplete(const DocumentCompleteEvent& event);

    void Timer1Timer();
    void Timer2Timer();

    // Canceled is what the component reports; result tells how the transfer really ended.
    void DownloadFile1Finish(bool Canceled, const TransferResult& result);

    // Starts the (new) current row after the cycle has advanced.
    void DeleteURLExecute();
    // The page reports a missing or blocked file.
    void DeleteURLError();

    // Removes every partial file the rows keep for a retry, a Resume or a restored transfer
    // (the program is ending).
    void discardRetryPartial();
    // The partial files a crash now would leave, each with the link of its row: the running
    // transfer's (once it told it), then those the rows keep (keptInRecords).
    std::vector<std::pair<std::string, PartialFile>> keptPartials() const;
    // The running transfer's temporary file, once it told it, with its row's link.
    std::optional<std::pair<std::string, PartialFile>> transferKeeping() const;
    // The files the rows of `list` keep for their next transfer, in list order.
    static std::vector<std::pair<std::string, PartialFile>> keptInRecords(const DownloadList& list);
    // A transfer runs that has not told its temporary file yet.
    bool partialPending() const;
    // A partial file the last session left for the row with this link (checked as ours by
    // the caller): the first transfer of that row continues it, if it saves to the same folder.
    // It is kept with the row; with no row of that link on the list, it is removed.
    void restorePartial(std::string link, PartialFile partial);
    // Image captchas. The Status cell of a row waiting for its code.
    static constexpr const char* StatusNeedsCaptcha = "Needs captcha";
    // A wrong code is asked again, this often in all for one row.
    static constexpr int MaxCaptchaTries = 3;
    // Someone may answer them (the window, the remote control); else the row fails with
    // "needs a captcha". Unanswered for `timeout`, the row is set aside as a retry is.
    void setCaptchaAnswers(bool attended, std::chrono::seconds timeout);
    // The page rules found an image captcha someone is to read.
    void needCaptcha();
    // The code a person read; false when the row in hand waits for none.
    bool answerCaptcha(const std::string& code);
    bool waitsForCaptcha() const { return m_captcha; }
    // The picture's address of the captcha waited for.
    const std::string& captchaImage() const { return m_captchaUrl; }
    // A row whose file is missing, whose page cannot be loaded or whose countdown page has no
    // link fails and the list goes on, in the window as without one. The window's status bar
    // then says what it always said of such a link; a run without a window, where the
    // status bar is nobody's to read, says " Download failed - <reason> " instead.
    void setUnattended(bool unattended) { m_unattended = unattended; }
    // Where each row's phase is told; not owned, may be unset.
    void setRowEvents(RowEvents* events) { m_events = events; }
    // Lanes. The id of the row this cycle has in hand (opening, counting down, waiting,
    // transferring, paused); 0 when none.
    std::uint64_t rowInHand() const;
    bool holdsRow() const;
    // The row in hand keeps a slot of the downloads at once: not while it waits for its
    // hoster or for a retry, nor while paused.
    bool occupiesLane() const;
    // The hoster's wait of the row in hand has run out and the lane waits for a slot.
    bool waitOver() const;
    // The hoster's wait (not a retry's) is running for the row in hand.
    bool hosterWaiting() const;
    // A countdown runs for the row in hand.
    bool countingDown() const;
    // The rows before index `at` changed by `delta` (rows added or removed before it): the
    // row in hand keeps its place by index.
    void shiftCurrentRow(int delta);
    // The row in hand was removed from the list by someone else; `nowAt` indexes the row
    // that took its place. Stops what it did; returns true when the lane must go on (by
    // goOn(), once the removal is over) rather than by the end of its transfer.
    bool loseCurrentRow(int nowAt);
    // Goes on with the next row after a row was lost, unless a transfer's end will.
    void goOn();
    // The end of the whole list, all lanes idle: the summary and the shutdown check.
    void finishList();
    // Closes the current row as failed and starts the next one: for a row an unattended run
    // found stuck (a page that offers nothing to act on).
    void failCurrentRow(const std::string& reason) { failWithoutTransfer(reason); }

private:
    // What a pause holds.
    enum class Held { None, Opening, Countdown, Wait, Transfer };
    // Fractions of a day left in the running countdown or wait.
    double timeLeft() const;
    // The transfer stopped for a pause has ended: the row waits for Resume.
    void holdTransfer(const TransferResult& result);

    // Time left in the current wait or countdown, as text and whether it has run out.
    struct Remaining {
        std::string text;
        bool over = false;
    };
    Remaining remaining() const;
    // How long the running countdown still lasts, its margin included (0: over).
    std::chrono::milliseconds countdownLeft() const;
    void stop(bool keepHold);
    void finish(bool Canceled, const TransferResult& result);
    void setPanel0(const std::string& text, int unitsPerCharacter = StatusBar::UnitsPerCharacter);
    // Closes the current row of a transfer that never started, then moves on like a finish.
    // panelText: what the status bar shows instead of " Download failed - <reason> ".
    void failWithoutTransfer(const std::string& reason, const std::string& panelText = {},
                             FailureCause cause = FailureCause::Other);
    // Hands the final link and name to the transfer, into the download folder.
    void startTransfer();
    // A row whose link answered with a file.
    void startDirectFile(const DocumentCompleteEvent& event);
    // Start Download on a finished list: the row below the last one done, if any.
    void startAfterTheEnd();
    // The current row's phase, told to the row events.
    RowPhaseEvent phaseEvent(RowPhase phase) const;
    void tell(const RowPhaseEvent& event);
    // The saved (or to be saved) file's path and name into a transfer's end event.
    void namePlaced(RowPhaseEvent& event, const TransferResult& result) const;
    void tell(RowPhase phase) { tell(phaseEvent(phase)); }
    void tellListDone();
    void closeRowAndAdvance();
    bool isTransferRunning() const;
    // Opens the current row's link; the retry state stays as it is.
    // The status cell and the event of a row held or let go.
    void markHeld(int row, bool held);
    // Starts the list over at `row`, as Start does.
    void startOn(int row);
    void openCurrentRow();
    // Puts the current row aside for the next attempt of its transiently failed transfer.
    void setAside(const TransferResult& result);
    // Drops set-aside rows that were deleted or whose link changed, with what they kept.
    void pruneSetAside();
    // The first set-aside row whose retry is due; -1 if none.
    int dueSetAside() const;
    // Makes a set-aside row the current row again, the list going on with returnId after it;
    // wait: the time still to wait first (0: opened at once).
    void takeUpSetAside(std::size_t index, std::uint64_t returnId, double wait);
    void advanceTo(int row);
    // Drops every set-aside row with its partial file, marking it by `status`.
    void dropSetAside(std::string_view status);
    void showRetryWait(const std::string& remainingText);
    // Waits for the set-aside row due first.
    void waitForFirstSetAside();
    // Drops the current row's retry state, removing a partial file no attempt will continue
    // (a restored one stays for the row's first transfer).
    void forgetRetries();
    void discard(const PartialFile& partial);
    // Removes the file the attempts kept (a restored one only from the download folder).
    void discard(const RowAttempts& attempts);
    // Keeps `partial` for the next transfer of the row with `link`, removing the file kept
    // before it unless it is the same one.
    void keepFile(RowAttempts& attempts, const PartialFile& partial, const std::string& link);
    // Fractions of a day until a set-aside row's retry is due (negative: overdue).
    double asideLeft(const RowAttempts& attempts) const;
    // Removes the row's kept file and forgets its attempts.
    void forget(int row);
    // The row's attempts to write, made with its record; null outside the download rows.
    RowAttempts* attemptsOf(int row);
    // The folder's text without trailing slashes.
    std::string downloadFolder() const;
    // The partial file the next transfer of the current row continues; empty if none.
    PartialFile takeRetryPartial(const std::string& targetPath);

    Ports m_p;
    Hooks m_hooks;
    // This cycle removes the files of rows that leave the list (the first cycle of the list).
    bool m_keepsRecords = false;
    LaneHooks m_lane;
    FileNameCheck m_nameCheck;
    bool m_unattended = false;
    RowEvents* m_events = nullptr;
    // A row is being worked on: from its opening until Stop or the end of the list.
    bool m_working = false;
    // Inside the transfer's finish: the component still reads busy, yet the transfer is over.
    bool m_finishing = false;
    // The row CurrentRow stood on was removed: CurrentRow now indexes the row after it.
    bool m_currentGone = false;
    Held m_pause = Held::None;
    // The row in hand waits for a person to read its captcha (Timer2 counts the time given).
    bool m_captcha = false;
    int m_captchaAsked = 0;
    std::uint64_t m_captchaRow = 0;
    std::string m_captchaUrl;
    std::chrono::seconds m_captchaTimeout{600};
    void captchaTimedOut();
    // Pause asked the running transfer to stop; its finish holds the row.
    bool m_pausePending = false;
    double m_pauseLeft = 0;
    std::string m_statusBeforePause;
    std::vector<std::uint64_t> m_letGo; // released while the cycle was elsewhere
    // What the commands give single rows (a hold, a placement, request options) is kept in
    // the row's record, in the list every lane reads: it goes where the row goes.

    // The row's request options, scoped to its link.
    RequestOptions requestOf(int row) const;
    // The first row from `row` on that is neither held nor waiting aside; 0 when none.
    std::uint64_t nextFrom(int row) const;
};

} // namespace torvaline
