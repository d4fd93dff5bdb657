#pragma once

#include "cycle/RowEvents.h"
#include "platform/RequestOptions.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvaline {

// The rows as a remote front end sees them, kept from the row events alone: their order in the
// list, their phase and figures, and the results of rows that left the list (until purged).
class RowTable final : public RowEvents {
public:
    // The states of the remote protocol; a row's phase maps onto one of them.
    enum class Status { Active, Waiting, Paused, Error, Complete, Removed };
    static std::string_view statusName(Status status);
    static Status statusOf(RowPhase phase);

    // What few rows carry: kept apart, so that a list of a hundred thousand waiting rows costs
    // little more than their links.
    struct Details {
        // Kept here when the list has the link (see setLinkSource) and the row leaves it.
        std::string link;
        std::string dir;
        std::string out;
        // The header, referer and user-agent options as the caller gave them.
        RequestOptions request;
        std::string fileName;
        std::string filePath;
        std::string reason;
        std::string retryAt;
        // The picture of the captcha the row waits for someone to read.
        std::string captcha;
        // What the link check found: the file's name and size before any transfer.
        std::string checkedName;
        std::int64_t checkedSize = -1;
        std::int64_t done = 0;
        std::int64_t total = 0;
        std::int64_t speed = 0;
        // When the current wait, countdown or retry wait ends, in seconds since the epoch.
        std::int64_t waitUntil = 0;
        FailureCause cause = FailureCause::Other;
    };

    struct Row {
        std::uint64_t id = 0;
        std::unique_ptr<Details> details;
        RowPhase phase = RowPhase::Waiting;
        bool inList = true;
        // A row taken off the list that had not finished reads "removed" from then on.
        bool removed = false;
        std::int16_t retry = 0;
        const Details& more() const {
            static const Details none;
            return details ? *details : none;
        }
        Details& edit() {
            if (!details)
                details = std::make_unique<Details>();
            return *details;
        }
    };

    // Which protocol notification a change of status calls for.
    enum class Notice { Start, Pause, Stop, Complete, Error };
    using Notify = std::function<void(Notice, std::uint64_t id)>;
    // Seconds since the epoch, for the ends of waits; injectable for tests.
    using Now = std::function<std::int64_t()>;

    // The longest a result of a row no longer on the list is kept.
    static constexpr std::size_t MaxGoneResults = 1000;

    explicit RowTable(Now now = {});

    void setNotify(Notify notify) { m_notify = std::move(notify); }
    // Where the links of the rows on the list are read, when the list holds them anyway: a
    // second copy of a hundred thousand links is memory for nothing. Unset, the table keeps
    // each link itself. Set it before the first row comes.
    using LinkSource = std::function<std::string(std::uint64_t id)>;
    void setLinkSource(LinkSource source) { m_linkSource = std::move(source); }
    std::string link(const Row& row) const;

    void rowsAdded(int first, std::span<const RowRef> rows) override;
    void rowsRemoved(int first, std::span<const RowRef> rows) override;
    void rowMoved(std::uint64_t id, int from, int to) override;
    void rowPhase(const RowPhaseEvent& event) override;
    void rowProgress(const RowProgressEvent& event) override;
    void listDone(int completed, int failed, int stopped) override;

    // What the remote caller asked for, which the events do not carry.
    void setRequested(std::uint64_t id, std::string dir, std::string out);
    void setRequested(std::uint64_t id, RequestOptions request);
    // What the link check found of the row's file (size -1: unknown).
    void setChecked(std::uint64_t id, std::string name, std::int64_t size);

    const Row* find(std::uint64_t id) const;
    Status status(const Row& row) const;
    Status status(std::uint64_t id) const;
    // The rows on the list, in its order; index + 1 is the list row.
    const std::vector<std::uint64_t>& order() const { return m_order; }
    int listRow(std::uint64_t id) const; // 0 when not on the list
    // The finished rows and the removed ones, oldest first.
    const std::deque<std::uint64_t>& stopped() const { return m_stopped; }
    // Forgets a stopped row's result. Returns false for a row that is not stopped.
    bool forget(std::uint64_t id);
    std::size_t size() const { return m_rows.size(); }

    // The ids a block of code added, for a command that must answer with them.
    void beginCapture() { m_captured.clear(), m_capturing = true; }
    std::vector<std::uint64_t> endCapture();

private:
    void changed(Row& row, Status before);
    // The stopped rows after a change of status; the notification it calls for, if any.
    std::optional<Notice> restate(Row& row, Status before);
    // The row of `id`, looked for from `at` outwards; `at` is left at the row found.
    Row* findNear(std::size_t& at, std::uint64_t id);
    Row* findRow(std::uint64_t id);
    // The row of `id`, made empty when it is not there yet.
    Row& rowFor(std::uint64_t id);
    void enterStopped(std::uint64_t id);
    void leaveStopped(std::uint64_t id);
    // Takes rows that left the list out of m_order.
    void takeOutOfOrder(int first, std::span<const RowRef> rows);
    // Drops results of rows off the list, the oldest first, until MaxGoneResults are left.
    // `drop` flags rows of m_rows (off the list, not among the stopped ones) dropped besides,
    // `dropping` of them.
    void dropGone(std::vector<bool> drop, std::size_t dropping);

    Now m_now;
    Notify m_notify;
    LinkSource m_linkSource;
    // In the order of their ids, which is the order rows come in: no allocation per row, and a
    // row is found by halving.
    std::vector<Row> m_rows;
    std::vector<std::uint64_t> m_order;
    std::deque<std::uint64_t> m_stopped;
    std::size_t m_gone = 0;
    std::vector<std::uint64_t> m_captured;
    bool m_capturing = false;
};

} // namespace torvaline
