#pragma once

#include "cycle/RowEvents.h"
#include "list/AppTitle.h"
#include "list/StatusBar.h"
#include "platform/TransferFacility.h"
#include "transfer/TDownloadFile.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace torvaline {

class Browser;
class Clock;
class DownloadFolder;
class DownloadList;
class EventLoop;
class HosterProfiles;
class ShutdownNotice;
class ShutdownService;
class Timer;
class TorvalineCore;

// Several rows of one list at once, one row per hoster at a time. Each lane is a cycle of its
// own (its browser, timers, transfer and status bar) over the shared list and folder; the
// first lane is the session's core, which the front ends' commands reach. A free lane takes
// the first waiting row, in list order, whose hoster has a slot; a hoster that asks to wait
// keeps its row in its lane, which then leaves its slot to other hosters' rows until the wait
// is over. With one lane allowed, the first lane works the list alone, as it always did.
class DownloadLanes final : public RowEvents {
public:
    static constexpr int MaxLanes = 8;
    static constexpr int DefaultLanes = 3;
    // Direct links of one server run this many at once (a profile sets its own hoster's).
    static constexpr int DirectLinkSlots = 2;

    struct Ports {
        DownloadList& list;
        StatusBar& display; // the status bar the front ends show
        DownloadFolder& folder;
        EventLoop& loop;
        Clock& clock;
        ShutdownService& shutdownService;
        ShutdownNotice& shutdownNotice;
        std::shared_ptr<TransferFacility> facility;
        ThreadStarter startThread; // counted by the session
        std::function<std::unique_ptr<Timer>()> makeTimer;
        // A browser of its own for each lane but the first; unset: one lane only.
        std::function<std::unique_ptr<Browser>()> makeBrowser;
        char decimalSeparator = '.';
        bool unattended = false;
        bool captchaAnswered = false;
        std::chrono::seconds captchaTimeout{600};
    };

    // `first` writes `firstBar`, which is shown unless another lane's row is; it loads its
    // pages with `firstBrowser` and transfers with `firstComponent`.
    DownloadLanes(Ports ports, TorvalineCore& first, StatusBar& firstBar, Browser& firstBrowser,
                  TDownloadFile& firstComponent);
    ~DownloadLanes() override;
    DownloadLanes(const DownloadLanes&) = delete;
    DownloadLanes& operator=(const DownloadLanes&) = delete;

    // Rows worked on at once, 1 to MaxLanes (1 when there is no browser for more).
    int limit() const { return m_limit; }
    void setLimit(int lanes);
    int laneCount() const { return static_cast<int>(m_lanes.size()); }
    TorvalineCore& lane(int index);
    void setProfiles(const HosterProfiles* profiles);
    // The hoster a link belongs to and how many of its rows may run at once. Remembered for
    // the link unless asked once only (a new row's link check), so that a long list added
    // holds no second copy of its links.
    std::pair<std::string, int> hosterOf(const std::string& link, bool remember = true) const;

    // Start Download, Stop Download, the end of the program.
    void start();
    void stop();
    void stopForTheEnd();
    // Rows came from a front end: a list at rest starts on them, a busy one gives them to its
    // free lanes; false when nothing started.
    bool startAt(int row);
    // Hold and continue the row with this id, if a lane has it; 0: the row shown.
    bool pause(std::uint64_t id);
    bool resume(std::uint64_t id);
    bool canPause(std::uint64_t id) const;
    bool canResume(std::uint64_t id) const;
    void pauseAll();
    void resumeAll();
    // The code of the captcha the row with this id waits for; false when none.
    bool answerCaptcha(std::uint64_t id, const std::string& code);
    // What the minimised title mirrors: the status bar shown, or while several rows transfer,
    // their total ("Downloading... 45.00 %  3 files").
    const StatusBar& titleBar() const { return m_totalShown ? m_total : m_p.display; }
    // The row the user looks at: its lane's status bar is the one shown.
    void setFocus(std::uint64_t id);

    // No lane has anything in hand, waits aside or is held.
    bool atRest() const;
    // A lane's transfer has not ended yet.
    bool transferring() const;
    // Calls `then` once no lane's transfer runs: at once when none does, else when the last
    // one has ended, its finish handled (the partial file removed or kept). One call waits at
    // a time; an empty `then` cancels it.
    void whenTransfersEnd(std::function<void()> then);
    // A lane waits (a hoster's wait, a countdown, a retry).
    bool waiting() const;
    // Rows in hand, in lane order.
    std::vector<std::uint64_t> rowsInHand() const;
    // What the Status cell of a row in hand shows while several are, when not the list's own
    // text: "Countdown 00:00:12", "Wait 00:44:10 (hoster)"; empty otherwise.
    std::string laneText(std::uint64_t id) const;
    // Told each second the rows whose lane text changed, by index.
    void setOnLaneTexts(std::function<void(const std::vector<int>& rows)> onChanged) {
        m_onLaneTexts = std::move(onChanged);
    }
    // The partial files a crash now would leave, of every lane; whether one is still untold.
    std::vector<std::pair<std::string, PartialFile>> keptPartials() const;
    bool partialPending() const;
    // Fails the row of each lane that has done nothing at all (no page loading, no timer, no
    // transfer) for `limit`: an unattended run's pages that offer nothing to act on.
    void failStalled(std::chrono::milliseconds limit, const std::string& reason);

    void rowsAdded(int first, std::span<const RowRef> rows) override;
    void rowsRemoved(int first, std::span<const RowRef> rows) override;
    void rowMoved(std::uint64_t id, int from, int to) override;
    void rowPhase(const RowPhaseEvent& event) override;
    void rowProgress(const RowProgressEvent& event) override;
    void listDone(int, int, int) override {}
    void rowTextsChanged(int first, int last) override;

private:
    struct Lane;
    bool lanesOn() const { return m_limit > 1; }
    void bindLane(int index);
    Lane* addLane();
    Lane* laneWith(std::uint64_t id) const;
    // The row lane `asking` takes next; 0: none for it now.
    std::uint64_t pick(const Lane* asking);
    // Lanes whose rows hold a slot, and lanes whose hoster's wait is over.
    int occupying(const Lane* except = nullptr) const;
    int readyToGoOn(const Lane* except = nullptr) const;
    void laneFree();
    void transferEnded();
    // Gives free lanes rows, at once or from the loop.
    void fill();
    void fillLater();
    // The lane whose status bar is shown; copies it whole when it changed.
    int shownLane() const;
    void showLane();
    void laneBarChanged(int index, int panel);
    // One panel of the status bar as shown.
    void show(int panel, const StatusBar& from);
    void showTotal();
    void tickLaneTexts();
    void noteHold(const std::string& hoster, std::int64_t secondsLeft);
    void clearHoldNotes(const std::string& hoster);

    Ports m_p;
    const HosterProfiles* m_profiles = nullptr;
    std::vector<std::unique_ptr<Lane>> m_lanes;
    int m_limit = 1;
    // Start was pressed and no Stop since: free lanes take rows.
    bool m_running = false;
    bool m_fillPosted = false;
    bool m_finishing = false;
    std::uint64_t m_focus = 0;
    int m_shown = 0;
    int m_lastChanged = 0;
    // Rows before this index are closed (completed, failed, stopped): a pick starts here.
    int m_scanFrom = 1;
    std::unique_ptr<Timer> m_textTimer;
    std::function<void(const std::vector<int>&)> m_onLaneTexts;
    std::function<void()> m_whenTransfersEnd;
    // The rows told of a hoster's hold in their tool tips, by hoster.
    std::unordered_map<std::string, std::vector<std::uint64_t>> m_holdNotes;
    std::unique_ptr<HosterProfiles> m_builtIn;
    // By link: its site and whether a profile claims it (its limit) or not (0).
    mutable std::unordered_map<std::string, std::pair<std::string, int>> m_hosters;
    // The limit of each site a profile claims links of.
    mutable std::unordered_map<std::string, int> m_siteSlots;
    // The figures of the rows transferring, for the title's total.
    std::unordered_map<std::uint64_t, std::pair<std::int64_t, std::int64_t>> m_figures;
    bool m_totalShown = false;
    StatusBar m_total;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace torvaline
