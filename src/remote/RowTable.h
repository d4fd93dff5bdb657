#pragma once

#include "cycle/RowEvents.h"
#include "list/DownloadList.h"
#include "list/RowRecord.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvaline {

// The rows as a remote front end sees them. The rows on the list are read from the list itself
// (their order, link, record and link check); the table keeps only what the list does not
// have: the order in which rows stopped, the results of rows that left the list (until
// purged) and a caller's own wording of a row's dir and out. It must hear every event of the
// list it reads.
class RowTable final : public RowEvents {
public:
    // The states of the remote protocol; a row's phase maps onto one of them.
    enum class Status { Active, Waiting, Paused, Error, Complete, Removed };
    static std::string_view statusName(Status status);
    static Status statusOf(RowPhase phase);
    // A held row that waits for its turn reads "paused".
    static Status statusOf(const RowRecord& record);

    // One row as it stands, read where it is kept: valid until the list or the table changes.
    struct Row {
        std::uint64_t id = 0;
        const RowRecord* record = nullptr; // never null in a row found
        std::string_view link;
        // What the link check found: the file's name and size before any transfer; null: none.
        const CheckedLink* checked = nullptr;
        // The row's own folder and file name, as the caller worded them (see keepWording),
        // otherwise as its placement has them; empty: the list's folder, the hoster's name.
        std::string_view dir;
        std::string_view out;
        // Where it stands on the list; 0 once it left the list.
        int listRow = 0;
        // Taken off the list before it finished: it reads "removed" from then on.
        bool removed = false;
        bool inList() const { return listRow > 0; }
    };

    // Which protocol notification a change of status calls for.
    enum class Notice { Start, Pause, Stop, Complete, Error };
    using Notify = std::function<void(Notice, std::uint64_t id)>;

    // The longest a result of a row no longer on the list is kept.
    static constexpr std::size_t MaxGoneResults = 1000;

    // The rows already on the list are there from the start; those that have finished are the
    // first stopped rows, in the list's order.
    explicit RowTable(const DownloadList& list);

    void setNotify(Notify notify) { m_notify = std::move(notify); }

    void rowsAdded(int first, std::span<const RowRef> rows) override;
    void rowsRemoved(int first, std::span<const RowRef> rows) override;
    void rowMoved(std::uint64_t id, int from, int to) override;
    void rowPhase(const RowPhaseEvent& event) override;
    void rowProgress(const RowProgressEvent& event) override;
    void listDone(int completed, int failed, int stopped) override;

    // The dir and out a caller gave a new row, kept only when they say it otherwise than the
    // row's placement (a relative or untidy dir, an out in a sub-folder), so that they are told
    // back as given; a placement changed since makes them void.
    void keepWording(std::uint64_t id, std::string dir, std::string out);

    // A row on the list or a result kept, by id.
    std::optional<Row> find(std::uint64_t id) const;
    // The row at list row 1 .. listCount().
    Row at(int listRow) const;
    int listCount() const { return m_list.rowCount() - 1; }
    Status status(const Row& row) const;
    Status status(std::uint64_t id) const;
    Status statusAt(int listRow) const { return statusOf(m_list.record(listRow)); }
    int listRow(std::uint64_t id) const; // 0 when not on the list
    // The finished rows and the removed ones, oldest first.
    const std::deque<std::uint64_t>& stopped() const { return m_stopped; }
    // Forgets a stopped row's result. Returns false for a row that is not stopped.
    bool forget(std::uint64_t id);

    // The ids a block of code added, for a command that must answer with them.
    void beginCapture() { m_captured.clear(), m_capturing = true; }
    std::vector<std::uint64_t> endCapture();

private:
    // What is left of a row that left the list: its record and link as they were then.
    struct Result {
        RowRecord record;
        std::string link;
        std::optional<CheckedLink> checked;
        std::string dir;
        std::string out;
        bool removed = false;
    };
    struct Gone {
        std::uint64_t id = 0;
        std::unique_ptr<const Result> result; // apart: the table moves entries, not records
    };
    struct Wording {
        std::uint64_t id = 0;
        // The placement the words were given for.
        RowPlacement placement;
        std::string dir;
        std::string out;
    };

    const Gone* findGone(std::uint64_t id) const;
    const Wording* wordingOf(std::uint64_t id, const RowRecord& record) const;
    // The row's dir and out as told: the caller's wording while it holds, else the placement.
    // Views into the table's wording or into `record`.
    std::pair<std::string_view, std::string_view> dirAndOut(std::uint64_t id,
                                                            const RowRecord& record) const;
    void eraseWording(std::uint64_t id);
    // The stopped rows after a change of status; the notification it calls for, if any.
    std::optional<Notice> restate(std::uint64_t id, Status before, Status after);
    void leaveStopped(std::uint64_t id);
    // Of the results of rows off the list, those in m_gone and those about to join it
    // (`coming`, sorted by id), the oldest are dropped until MaxGoneResults are left. Returns
    // the ids of `coming` dropped, sorted.
    std::vector<std::uint64_t> dropOldest(const std::vector<std::uint64_t>& coming);

    const DownloadList& m_list;
    Notify m_notify;
    std::deque<std::uint64_t> m_stopped;
    // In the order of their ids, found by halving.
    std::vector<Gone> m_gone;
    std::vector<Wording> m_wording;
    std::vector<std::uint64_t> m_captured;
    bool m_capturing = false;
};

} // namespace torvaline
