#include "headless/RunReport.h"

#include "list/DownloadList.h"
#include "list/StatusBar.h"
#include "pages/TimeText.h"
#include "state/CycleState.h"
#include "transfer/ProgressDisplay.h"

namespace torvaline {

namespace {

constexpr const char* Downloading = "Downloading... ";
constexpr const char* FailedPrefix = "Download failed - ";
// The progress line is redrawn at most this often: the transfer reports up to ten times a
// second, more than anyone reads.
constexpr std::chrono::milliseconds RedrawEvery{250};

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Bytes from a page or a link, shown on a terminal: control characters (an escape sequence
// could rewrite the screen) become '?'.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

} // namespace

RunReport::RunReport(DownloadList& list, StatusBar& statusBar, const CycleState& state,
                     Options options)
    : m_list(list)
    , m_statusBar(statusBar)
    , m_state(state)
    , m_options(options) {
    DownloadList::Observer observer;
    observer.cellsChanged = [this](int firstRow, int lastRow, int firstColumn, int lastColumn) {
        cellsChanged(firstRow, lastRow, firstColumn, lastColumn);
    };
    m_list.setObserver(std::move(observer));
    m_statusBar.setOnChanged([this](int panel) { panelChanged(panel); });
}

RunReport::~RunReport() {
    m_list.setObserver({});
    m_statusBar.setOnChanged(nullptr);
}

std::string RunReport::prefix(int row) const {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "[" + to_string().
    std::string text(1, '[');
    text += std::to_string(row);
    text += '/';
    text += std::to_string(m_list.rowCount() - 1);
    text += "] ";
    return text;
}

std::string RunReport::rowName(int row) const {
    if (row >= 0 && static_cast<std::size_t>(row) < m_names.size() && !m_names[row].empty())
        return m_names[row];
    return printable(m_list.cell(row, DownloadList::URL));
}

void RunReport::print(const std::string& text) {
    clearProgress();
    std::fputs((text + "\n").c_str(), m_options.out);
    std::fflush(m_options.out);
}

void RunReport::line(const std::string& text) {
    flushFailure();
    print(text);
}

void RunReport::rowOpened(const std::string& url) {
    flushFailure();
    print(prefix(m_state.CurrentRow) + "Opening " + printable(url));
}

void RunReport::countdownArmed() {
    flushFailure();
    print(prefix(m_state.CurrentRow) + "Countdown " + TimeText(m_state.WaitSpan));
}

void RunReport::waitArmed() {
    flushFailure();
    print(prefix(m_state.CurrentRow) + "Wait " + TimeText(m_state.WaitSpan) +
          " before the next attempt");
}

void RunReport::cellsChanged(int firstRow, int lastRow, int firstColumn, int lastColumn) {
    for (int row = firstRow; row <= lastRow; ++row) {
        if (firstColumn <= DownloadList::Status && DownloadList::Status <= lastColumn)
            statusChanged(row);
        // The first report often comes before the server told the size; wait for one that has
        // it, or for the first data of a transfer that has none.
        if (row == m_announceRow && firstColumn <= DownloadList::Downloaded &&
            DownloadList::Total <= lastColumn &&
            (!sizeUnknown(m_list.cell(row, DownloadList::Total)) ||
             !sizeUnknown(m_list.cell(row, DownloadList::Downloaded))))
            announceTransfer(row);
        if (row == m_state.CurrentRow && m_list.cell(row, DownloadList::Status) == Downloading &&
            firstColumn <= DownloadList::Estimated && DownloadList::Speed <= lastColumn)
            drawProgress(row);
    }
}

void RunReport::statusChanged(int row) {
    const std::string& status = m_list.cell(row, DownloadList::Status);
    if (static_cast<std::size_t>(row) >= m_names.size()) {
        m_names.resize(static_cast<std::size_t>(row) + 1);
        m_reasons.resize(static_cast<std::size_t>(row) + 1);
    }
    if (status == Downloading) {
        flushFailure();
        m_names[row] = printable(m_state.FinalFileName);
        m_announceRow = row;
        return;
    }
    if (m_announceRow == row)
        announceTransfer(row);
    if (status == "Completed") {
        flushFailure();
        const std::string& total = m_list.cell(row, DownloadList::Total);
        print(prefix(row) + "Completed " + rowName(row) +
              (total.empty() ? "" : " (" + total + ")"));
    } else if (status == "Failed") {
        // The cell may be written again (with its note) before the reason comes.
        if (m_pendingFailure == row)
            return;
        flushFailure();
        // The reason reaches the status bar just after the row's status.
        m_pendingFailure = row;
    } else if (status == "Stopped") {
        flushFailure();
        print(prefix(row) + "Stopped " + rowName(row));
    }
}

void RunReport::announceTransfer(int row) {
    m_announceRow = 0;
    const std::string& total = m_list.cell(row, DownloadList::Total);
    print(prefix(row) + "Downloading " + rowName(row) + " (" +
          (sizeUnknown(total) ? std::string("size unknown") : total) + ")");
}

bool RunReport::sizeUnknown(const std::string& total) const {
    return total.empty() || total == FormatFixed2(0, 1024, m_options.decimalSeparator) + " MB";
}

void RunReport::panelChanged(int panel) {
    if (panel != 0 || m_pendingFailure == 0)
        return;
    std::string reason = trimmed(m_statusBar.text(0));
    if (reason.empty())
        return;
    if (reason.rfind(FailedPrefix, 0) == 0)
        reason.erase(0, std::char_traits<char>::length(FailedPrefix));
    m_reasons[m_pendingFailure] = printable(reason);
    flushFailure();
}

void RunReport::flushFailure() {
    const int row = m_pendingFailure;
    if (row == 0)
        return;
    m_pendingFailure = 0;
    const std::string& reason = m_reasons[row];
    print(prefix(row) + "Failed " + rowName(row) + (reason.empty() ? "" : " - " + reason));
}

void RunReport::drawProgress(int row) {
    // Nothing to show before the transfer has been announced with its first figures.
    if (!m_options.progressLine || row == m_announceRow ||
        m_list.cell(row, DownloadList::Downloaded).empty())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (m_progressShown && now - m_lastDraw < RedrawEvery)
        return;
    m_lastDraw = now;
    const auto cell = [&](int column) { return m_list.cell(row, column); };
    // The window's cells as they stand; those still empty (no speed in the first seconds, no
    // share without a size) are left out.
    std::string text;
    const auto add = [&text](const std::string& label, const std::string& value) {
        if (!value.empty())
            text += "  " + label + value;
    };
    add("", cell(DownloadList::Speed));
    add("", cell(DownloadList::Downloaded) + " of " + cell(DownloadList::Total));
    add("", cell(DownloadList::Progress));
    add("Left ", cell(DownloadList::Left));
    add("Estimated ", cell(DownloadList::Estimated));
    // Carriage return, the line, then erase what a longer earlier line left behind.
    std::fputs(("\r" + text + "\033[K").c_str(), m_options.out);
    std::fflush(m_options.out);
    m_progressShown = true;
}

void RunReport::clearProgress() {
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", m_options.out);
    m_progressShown = false;
}

RunReport::Summary RunReport::summary() const {
    Summary s;
    for (int row = 1; row < m_list.rowCount(); ++row) {
        const std::string& status = m_list.cell(row, DownloadList::Status);
        if (status == "Completed") {
            s.completed.push_back(rowName(row));
        } else if (status == "Failed") {
            const bool known =
                static_cast<std::size_t>(row) < m_reasons.size() && !m_reasons[row].empty();
            s.failed.push_back(rowName(row) + (known ? " - " + m_reasons[row] : ""));
        } else {
            ++s.notDone;
        }
    }
    return s;
}

bool RunReport::printSummary() {
    flushFailure();
    const Summary s = summary();
    std::string text = "Summary: " + std::to_string(s.completed.size()) + " completed, " +
                       std::to_string(s.failed.size()) + " failed";
    if (s.notDone > 0)
        text += ", " + std::to_string(s.notDone) + " not done";
    print(text);
    for (const std::string& name : s.completed)
        print("  Completed: " + name);
    for (const std::string& name : s.failed)
        print("  Failed: " + name);
    return s.failed.empty() && s.notDone == 0;
}

} // namespace torvaline
