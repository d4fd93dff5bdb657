#pragma once

#include "cycle/RowEvents.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace torvaline {

class DownloadList;

// Hands every row event to each front end that listens: the headless report, the remote
// control, the window. Observers are not owned; one removes itself before it goes.
//
// It is also where a row's record learns what happened: a phase or progress event is written
// into the record of the row (on the list it follows) before anyone hears of it, so that every
// observer reads the record as the event left it, and the event tells the phase it came from.
class RowEventHub final : public RowEvents {
public:
    void add(RowEvents& observer);
    // Takes effect at once, even from inside a call: an observer removed while an event is
    // told is not told it any more (it may be gone), and one added hears from the next event.
    void remove(RowEvents& observer);

    // Tells of the list's rows coming, going and moving from now on, and keeps their records.
    void follow(DownloadList& list);
    // Seconds since the epoch, for the ends of waits; the system clock unless set (tests).
    using Now = std::function<std::int64_t()>;
    void setNow(Now now) { m_now = std::move(now); }
    // The clock the records' wait ends are written by.
    std::int64_t now() const;

    void rowsAdded(int first, std::span<const RowRef> rows) override;
    void rowsRemoved(int first, std::span<const RowRef> rows) override;
    void rowMoved(std::uint64_t id, int from, int to) override;
    void rowPhase(const RowPhaseEvent& event) override;
    void rowProgress(const RowProgressEvent& event) override;
    void listDone(int completed, int failed, int stopped) override;
    void rowTextsChanged(int first, int last) override;

private:
    template <typename Call> void each(const Call& call);
    // Removed during a call: left as null until the outermost call ends.
    std::vector<RowEvents*> m_observers;
    DownloadList* m_list = nullptr;
    Now m_now;
    int m_telling = 0;
    bool m_holes = false;
};

} // namespace torvaline
