#pragma once

#include "cycle/RowEvents.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace torvaline {

class DownloadList;
class RowEventHub;

// What a run without a window tells its user: one line per event that matters, a live progress
// line for the transfer when the output is a terminal, and the summary at the end. It renders
// the core's row events, so the window and the headless run tell the very same story.
class RunReport final : public RowEvents {
public:
    struct Options {
        std::FILE* out = stdout;
        // A terminal gets a progress line redrawn in place; a pipe or a file gets no escape
        // sequences and no progress line at all.
        bool progressLine = false;
        char decimalSeparator = '.';
    };

    // Listens to the hub; the list tells where each row stands and how many there are. Both
    // must outlive this object.
    RunReport(const DownloadList& list, RowEventHub& events, Options options);
    ~RunReport() override;
    RunReport(const RunReport&) = delete;
    RunReport& operator=(const RunReport&) = delete;

    // A plain line of its own (start, stop), clearing the progress line first.
    void line(const std::string& text);
    // The run is stopping: the browser opens no row any more, so none is told as opened.
    void closeOpenings() { m_openingsClosed = true; }

    struct Summary {
        std::vector<std::string> completed;
        std::vector<std::string> failed;
        int notDone = 0; // stopped, or never reached
    };
    Summary summary() const;
    // Prints the summary; returns whether every row completed.
    bool printSummary();

    void rowsAdded(int, std::span<const RowRef>) override {}
    void rowsRemoved(int, std::span<const RowRef> rows) override {
        for (const RowRef& row : rows)
            m_transfers.erase(row.id);
    }
    void rowMoved(std::uint64_t, int, int) override {}
    void rowPhase(const RowPhaseEvent& event) override;
    void rowProgress(const RowProgressEvent& event) override;
    void listDone(int, int, int) override {}

private:
    // What the report has told of a running transfer; the row's record holds the rest.
    struct Told {
        bool announced = false;   // the "Downloading" line is out
        bool hasProgress = false; // a figure came: the size is known as far as it will be
    };
    void announceTransfer(std::uint64_t id, Told& told);
    std::string megabytes(std::int64_t bytes) const;
    // A file's size as the lines tell it: in megabytes, a file too small to show in them in
    // bytes.
    std::string sizeText(std::int64_t bytes) const;
    void drawProgress(const RowRecord& record, const RowProgressEvent& event);
    void clearProgress();
    std::string prefix(std::uint64_t id) const;
    // The file's name as its record has it, else the row's link (a row off the list: the
    // event's).
    std::string nameOf(std::uint64_t id, const RowPhaseEvent* event = nullptr) const;
    void print(const std::string& text);

    const DownloadList& m_list;
    RowEventHub& m_events;
    Options m_options;
    std::unordered_map<std::uint64_t, Told> m_transfers;
    bool m_progressShown = false;
    bool m_openingsClosed = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

} // namespace torvaline
