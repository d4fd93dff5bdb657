#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace torvaline {

struct CycleState;
class DownloadList;
class StatusBar;

// What a run without a window tells its user: one line per event that matters, a live progress
// line for the transfer when the output is a terminal, and the summary at the end. It watches
// the list, the status bar and the cycle state that the core writes, so the window and the
// headless run show the very same figures.
class RunReport final {
public:
    struct Options {
        std::FILE* out = stdout;
        // A terminal gets a progress line redrawn in place; a pipe or a file gets no escape
        // sequences and no progress line at all.
        bool progressLine = false;
        char decimalSeparator = '.';
    };

    // Subscribes to the list and the status bar, which must outlive this object.
    RunReport(DownloadList& list, StatusBar& statusBar, const CycleState& state, Options options);
    ~RunReport();
    RunReport(const RunReport&) = delete;
    RunReport& operator=(const RunReport&) = delete;

    // The cycle opens the current row's link.
    void rowOpened(const std::string& url);
    // Timer1 (countdown before the transfer) or Timer2 (wait before the next attempt) armed.
    void countdownArmed();
    void waitArmed();
    // A plain line of its own (start, stop), clearing the progress line first.
    void line(const std::string& text);

    struct Summary {
        std::vector<std::string> completed;
        std::vector<std::string> failed;
        int notDone = 0; // stopped, or never reached
    };
    Summary summary() const;
    // Prints the summary; returns whether every row completed.
    bool printSummary();

private:
    void cellsChanged(int firstRow, int lastRow, int firstColumn, int lastColumn);
    void statusChanged(int row);
    void panelChanged(int panel);
    // Prints the failure held back until the status bar gave its reason.
    void flushFailure();
    void announceTransfer(int row);
    bool sizeUnknown(const std::string& total) const;
    void drawProgress(int row);
    void clearProgress();
    std::string prefix(int row) const;
    std::string rowName(int row) const;
    void print(const std::string& text);

    DownloadList& m_list;
    StatusBar& m_statusBar;
    const CycleState& m_state;
    Options m_options;
    // Names taken when each row's transfer was handed its file; the URL otherwise.
    std::vector<std::string> m_names;
    std::vector<std::string> m_reasons;
    int m_pendingFailure = 0; // row, or 0
    int m_announceRow = 0;    // a transfer started whose size has not been printed yet
    bool m_progressShown = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

} // namespace torvaline
