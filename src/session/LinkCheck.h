#pragma once

#include "cycle/RowEvents.h"
#include "hosters/ProfileLoader.h"
#include "list/DownloadList.h"
#include "pages/HosterProfiles.h"
#include "platform/Timer.h"
#include "transfer/TDownloadFile.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace torvaline {

class Clock;
class EventLoop;
class LinkProbe;
class WorkerCount;
struct LinkAnswer;

// Looks at every row's link as it comes, before its turn: its first page is fetched on a
// worker (nothing is pressed) and read with its hoster's profile, a direct link judged by its
// answer's headers. The result is kept with the row (DownloadList::checked); a file the hoster
// says is gone fails the row, which the list then passes over. At most one look at a time per
// hoster and MaxRunning in all; a hoster on hold is looked at after its hold. It never holds
// the list: the cycle may reach a row before its check, and then simply opens it.
class LinkCheck final : public RowEvents {
public:
    static constexpr int MaxRunning = 4;

    struct Ports {
        DownloadList& list;
        EventLoop& loop;
        Clock& clock;
        std::shared_ptr<LinkProbe> probe;
        // Where the workers are counted, so that the session's end waits for them.
        std::shared_ptr<WorkerCount> workers;
        // Runs one worker body; unset, a detached std::thread.
        ThreadStarter startThread;
        // Asks again about hosters on hold while any is.
        std::unique_ptr<Timer> timer;
        // Told of a row the check failed (phase Failed), as the cycle's rows are told; may be
        // null.
        RowEvents* events = nullptr;
    };
    using HosterOf = std::function<std::string(const std::string& link)>;
    using OnHold = std::function<bool(const std::string& hoster)>;
    using OnResult = std::function<void(std::uint64_t id, const CheckedLink& result)>;

    explicit LinkCheck(Ports ports);
    // Abandons the looks in flight: their answers are dropped.
    ~LinkCheck() override;
    LinkCheck(const LinkCheck&) = delete;
    LinkCheck& operator=(const LinkCheck&) = delete;

    // The profiles the pages are read with (they must outlive the check); null: the built-in
    // ones as shipped.
    void setProfiles(const HosterProfiles* profiles);
    // Whose link it is, for one look at a time per hoster; unset: the link's host.
    void setHosterOf(HosterOf hosterOf);
    // Whether the hoster must not be asked now, besides while one of its rows waits out the
    // hoster's own wait (which the row events tell); unset: only then.
    void setOnHold(OnHold onHold);
    // After each result is kept with its row.
    void setOnResult(OnResult onResult) { m_onResult = std::move(onResult); }

    // Whether rows are checked as they come; off, those already queued are still checked.
    void setEnabled(bool on);
    bool enabled() const { return m_enabled; }
    // Every row not yet begun (waiting or paused) and every row the check failed, once more,
    // whether rows are checked as they come or not.
    void checkAgain();
    // Ends the looks in flight and forgets the queue; nothing is written from then on.
    void stop();

    int running() const { return m_running; }
    std::size_t queued() const { return m_pending.size(); }

    // What a look found, read on the worker that fetched it: `profile` reads a page (null:
    // the answer alone is judged).
    static CheckedLink judge(const LinkAnswer& answer, const HosterProfile* profile,
                             const std::string& link);

    void rowsAdded(int first, std::span<const RowRef> rows) override;
    void rowsRemoved(int first, std::span<const RowRef> rows) override;
    void rowMoved(std::uint64_t, int, int) override {}
    void rowPhase(const RowPhaseEvent& event) override;
    void rowProgress(const RowProgressEvent&) override {}
    void listDone(int, int, int) override {}

private:
    struct Hoster {
        std::deque<std::uint64_t> rows;
        bool busy = false;
        bool inTurn = false;
    };
    void enqueue(std::uint64_t id, const std::string& link);
    void dispatch();
    bool start(std::uint64_t id, const std::string& hoster);
    void finished(std::uint64_t id, const std::string& hoster, CheckedLink result);
    bool checkable(int row) const;
    std::string hosterName(const std::string& link) const;
    bool onHold(const std::string& hoster) const;
    std::shared_ptr<const HosterProfile> profileFor(int row);

    DownloadList& m_list;
    EventLoop& m_loop;
    Clock& m_clock;
    std::shared_ptr<LinkProbe> m_probe;
    std::shared_ptr<WorkerCount> m_workers;
    ThreadStarter m_startThread;
    std::unique_ptr<Timer> m_timer;
    RowEvents* m_events;
    const HosterProfiles* m_profiles = nullptr;
    HosterProfiles m_builtin{BuiltinHosters()};
    // The profiles as the workers read them: copies without their test pages, which the
    // workers share and which outlive a change of profiles.
    std::unordered_map<const HosterProfile*, std::shared_ptr<const HosterProfile>> m_readers;
    HosterOf m_hosterOf;
    OnHold m_onHold;
    OnResult m_onResult;
    bool m_enabled = true;

    std::unordered_map<std::string, Hoster> m_hosters;
    // The hosters with rows to look at and none in flight, in turn.
    std::deque<std::string> m_turns;
    // The rows queued, by id; a queue's id that is not here any more is passed over.
    std::unordered_set<std::uint64_t> m_pending;
    std::unordered_set<std::uint64_t> m_inFlight;
    int m_running = 0;
    // Rows the cycle has begun since they were queued: a late answer does not fail them.
    std::unordered_set<std::uint64_t> m_begun;
    // The rows that wait out their hoster's wait, and their hosters.
    std::unordered_map<std::uint64_t, std::string> m_hosterWaits;
    // Set when the check ends: the workers give up and their answers are dropped.
    std::shared_ptr<std::atomic<bool>> m_abort;
    std::shared_ptr<LinkCheck*> m_self;
};

} // namespace torvaline
