#pragma once

#include "list/RowRecord.h"
#include "list/RowRef.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace torvaline {

// What the link check found out about a row's link before its turn: whether the file is there,
// what it is called and how large it is.
struct CheckedLink {
    enum class State : std::uint8_t { Online, Offline, Unknown };
    State state = State::Unknown;
    std::int64_t size = -1; // bytes; -1 when the answer did not say
    std::string name;       // empty when the answer did not say
    std::string reason;     // Offline, Unknown: why
    bool operator==(const CheckedLink&) const = default;
};

// Rows that came together, from one URL range line or one Click'n'Load batch: they make one
// package, whatever their file names say. Shared by its rows; only the list keeps it (list
// files hold links only).
struct RowBatch {
    std::uint64_t id = 0;
    std::string name; // the name its sender gave, as sent (untrusted); empty when none
};

// The download list: rows of nine byte-string cells. Row 0 holds the column titles and is an
// ordinary row; download rows are 1 .. rowCount()-1. Rows are addressed by index only.
//
// Cell access is total: reading a cell outside the list yields an empty text and writing one
// changes nothing, because the cycle may address a row that a delete has removed.
class DownloadList final {
public:
    static constexpr int ColumnCount = 9;
    enum Column : int {
        Host = 0,
        URL = 1,
        Speed = 2,
        Total = 3,
        Downloaded = 4,
        Progress = 5,
        Left = 6,
        Estimated = 7,
        Status = 8
    };
    using Row = std::array<std::string, ColumnCount>;

    // Views subscribe to learn exactly what changed. The "about to" calls come before the
    // change, the others after it.
    struct Observer {
        std::function<void(int first, int last)> rowsAboutToBeInserted;
        std::function<void()> rowsInserted;
        std::function<void(int first, int last)> rowsAboutToBeRemoved;
        std::function<void()> rowsRemoved;
        // The row at `from` is about to stand at `to`, the rows between moving one place.
        std::function<void(int from, int to)> rowsAboutToBeMoved;
        std::function<void()> rowsMoved;
        std::function<void(int firstRow, int lastRow, int firstColumn, int lastColumn)>
            cellsChanged;
    };

    DownloadList(); // one row holding the titles

    // Writes the nine titles into row 0 and leaves the row count as it is.
    void InitGrid();

    static const std::array<const char*, ColumnCount>& titles();
    // Starting widths in reference units: pixels of the small dialog font the layout was drawn
    // for; the window converts them for its own font.
    static const std::array<int, ColumnCount>& columnWidths();

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    // Grows with empty rows or drops rows from the end; never below 1.
    void setRowCount(int count);

    const std::string& cell(int row, int column) const;
    void setCell(int row, int column, std::string text);
    // A copy: rows are not kept as nine cells (see Entry).
    Row row(int row) const;
    void setRow(int row, Row cells);

    // Whole-row operations. Each tells the observer once, however many rows it shifts, so a
    // view over a hundred thousand rows does not hear of every row that moved up.
    // Removes a download row (never row 0); the rows below move up one place.
    void removeRow(int row);
    // Trades two rows, cells, note and batch alike.
    void swapRows(int a, int b);
    // Takes the download row at `from` out and puts it at `to`, the rows between moving one
    // place; told as one move, however far it goes.
    void moveRow(int from, int to);
    // Appends the rows after the last one, as one batch when one is given.
    void appendRows(std::vector<Row> rows, std::shared_ptr<const RowBatch> batch = {});

    // A batch with an id of its own, for rows about to be appended together.
    std::shared_ptr<const RowBatch> newBatch(std::string name = {});
    // The batch the row came in, travelling with it as its note does; null for none.
    const RowBatch* batch(int row) const;

    // A row's note: why it is in its state, for the user who wonders later. Only the list keeps
    // it (list files hold links only); it travels with the row when rows move, and a new
    // "Status" text drops it, since it explained the old one.
    const std::string& note(int row) const;
    void setNote(int row, std::string note);
    // "Status" := "Failed", with the reason and the time of day it happened as the note.
    void markFailed(int row, const std::string& timeOfDay, const std::string& reason);

    // The row's link check; null while it has none. It travels with the row; a view shows it
    // in the "Total" and "Status" cells without writing them.
    const CheckedLink* checked(int row) const;
    void setChecked(int row, CheckedLink result);
    void clearChecked(int row);
    // The check found the file gone and the row failed for it: the cycle passes it over.
    bool offline(int row) const;

    // The row's record (phase, bytes, placement, hold, ...); a row that has none reads as a
    // waiting row with nothing kept, and so does an index outside the list.
    const RowRecord& record(int row) const;
    // The record to write, made when the row has none; null outside the download rows.
    RowRecord* editRecord(int row);
    // The record of the row with this id; null when the row is gone or has none.
    const RowRecord* recordOf(std::uint64_t id) const;

    void setObserver(Observer observer) { m_observer = std::move(observer); }

    // Told of every record that leaves the list with its row, after the row observers and
    // before it is freed: what the record holds beyond the list (a kept partial file) is let
    // go by whoever put it there. One at a time; unset: none.
    using RecordGone = std::function<void(const RowRecord&)>;
    void setOnRecordGone(RecordGone gone) { m_recordGone = std::move(gone); }
    bool hasOnRecordGone() const { return static_cast<bool>(m_recordGone); }

    // Every download row has an id of its own, given when the row comes and never reused, that
    // travels with the row when it moves: what a row index cannot be once rows move or go.
    std::uint64_t id(int row) const;
    // Where the row with this id is now; -1 when it is gone.
    int rowOf(std::uint64_t id) const;

    // Rows coming, going and moving, by id, for the front ends that follow rows (the titles
    // row is not one of them). Told after the change, once for each change however many rows
    // it takes: the rows first..last came (their ids are id(r) by then); the rows that stood
    // at `first` on are gone, with their links; one row moved. A swap is told as two moves,
    // each true of the list as it stands after the one before.
    struct RowIdObserver {
        std::function<void(int first, int last)> added;
        std::function<void(int first, std::span<const RowRef> rows)> removed;
        std::function<void(std::uint64_t id, int from, int to)> moved;
        // Cells of the rows firstRow..lastRow changed, as Observer::cellsChanged tells.
        std::function<void(int firstRow, int lastRow, int firstColumn, int lastColumn)>
            cellsChanged;
    };
    void setRowIdObserver(RowIdObserver observer) { m_idObserver = std::move(observer); }
    // Names the hoster of a new row's link for its "Host" cell (the hoster profiles do); unset,
    // HostName of the link list does.
    using HostNamer = std::function<std::string(const std::string& link)>;
    void setHostNamer(HostNamer namer) { m_hostNamer = std::move(namer); }
    const HostNamer& hostNamer() const { return m_hostNamer; }

private:
    // A waiting row has a host, a link and a status and nothing else; the figures and the note
    // come with its transfer. They are kept apart, so that a list of a hundred thousand rows
    // costs little more than its links.
    struct Figures {
        std::array<std::string, ColumnCount - 3> cells; // Speed .. Estimated
        std::string note;
    };
    struct Entry {
        std::string host;
        std::string url;
        std::string status;
        std::unique_ptr<Figures> figures;
        std::unique_ptr<CheckedLink> checked;
        std::shared_ptr<const RowBatch> batch;
        std::unique_ptr<RowRecord> record;
        std::uint64_t id = 0;
        const std::string& cell(int column) const;
        // The cell to write; null for an empty text into a row without figures (no change).
        std::string* target(int column, bool empty);
        const std::string& note() const;
    };
    static Row cellsOf(const Entry& entry);
    bool valid(int row) const { return row >= 0 && row < rowCount(); }
    void changed(int firstRow, int lastRow, int firstColumn, int lastColumn);

    void tellAdded(int first, int last) const;
    // Takes the rows from `count` on off the list, telling the observers.
    void removeFrom(std::size_t count);
    // Tells the row observer of `gone`, which stood at `first` on.
    void tellRemoved(int first, std::span<const Entry> gone) const;
    // Rows came, went or moved: the places rowOf took are out of date.
    void orderChanged();
    static constexpr int LinearSearches = 8;

    std::vector<Entry> m_rows;
    Observer m_observer;
    RowIdObserver m_idObserver;
    RecordGone m_recordGone;
    // rowOf's places of every row by id, sorted, while the order has not changed since.
    mutable std::vector<std::pair<std::uint64_t, int>> m_places;
    mutable bool m_placesStale = true;
    mutable int m_searches = 0;
    std::uint64_t m_nextId = 1;
    std::uint64_t m_nextBatch = 1;
    HostNamer m_hostNamer;
};

} // namespace torvaline
