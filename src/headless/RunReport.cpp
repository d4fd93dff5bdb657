#include "headless/RunReport.h"

#include "cycle/RowEventHub.h"
#include "list/DownloadList.h"
#include "pages/TimeText.h"
#include "platform/DayLength.h"
#include "transfer/ProgressDisplay.h"

namespace torvaline {

namespace {

// The progress line is redrawn at most this often.
constexpr std::chrono::milliseconds RedrawEvery{250};

// Bytes from a page or a link, shown on a terminal: control characters (an escape sequence
// could rewrite the screen) become '?'.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

std::string timeText(std::int64_t seconds) {
    return TimeText(static_cast<double>(seconds) / DayLengthSeconds);
}

} // namespace

RunReport::RunReport(const DownloadList& list, RowEventHub& events, Options options)
    : m_list(list)
    , m_events(events)
    , m_options(options) {
    m_events.add(*this);
}

RunReport::~RunReport() {
    m_events.remove(*this);
}

std::string RunReport::prefix(std::uint64_t id) const {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "[" + to_string().
    std::string text(1, '[');
    text += std::to_string(m_list.rowOf(id));
    text += '/';
    text += std::to_string(m_list.rowCount() - 1);
    text += "] ";
    return text;
}

std::string RunReport::nameOf(std::uint64_t id, const RowPhaseEvent* event) const {
    const int at = m_list.rowOf(id);
    if (at < 1 && event != nullptr)
        return printable(event->fileName.empty() ? event->link : event->fileName);
    const std::string& fileName = m_list.record(at).details.get().fileName;
    return printable(fileName.empty() ? m_list.cell(at, DownloadList::URL) : fileName);
}

void RunReport::print(const std::string& text) {
    clearProgress();
    std::fputs((text + "\n").c_str(), m_options.out);
    std::fflush(m_options.out);
}

void RunReport::line(const std::string& text) {
    print(text);
}

std::string RunReport::megabytes(std::int64_t bytes) const {
    return FormatFixed2(static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0) / 1024), 1024,
                        m_options.decimalSeparator) +
           " MB";
}

std::string RunReport::sizeText(std::int64_t bytes) const {
    // "0.00 MB" would read as an empty file.
    if (bytes > 0 && megabytes(bytes) == megabytes(0))
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    return megabytes(bytes);
}

void RunReport::rowPhase(const RowPhaseEvent& event) {
    const auto told = m_transfers.find(event.id);
    const bool sized = told != m_transfers.end() && told->second.hasProgress;
    // A transfer that ended before its size was told is announced with what is known.
    if (event.phase != RowPhase::Transferring && event.before == RowPhase::Transferring &&
        told != m_transfers.end() && !told->second.announced)
        announceTransfer(event.id, told->second);
    if (event.phase != RowPhase::Transferring)
        m_transfers.erase(event.id);
    const std::string at = prefix(event.id);
    const RowRecord& record = m_list.record(m_list.rowOf(event.id));
    switch (event.phase) {
    case RowPhase::Opening:
        if (!m_openingsClosed)
            print(at + "Opening " + printable(event.link));
        break;
    case RowPhase::Countdown:
        print(at + "Countdown " + timeText(event.secondsLeft));
        break;
    case RowPhase::HosterWait:
    case RowPhase::SetAside:
        print(at + "Wait " + timeText(event.secondsLeft) + " before the next attempt");
        break;
    case RowPhase::Captcha:
        print(at + "Needs captcha " + printable(event.captcha));
        break;
    case RowPhase::Transferring:
        m_transfers[event.id] = Told{};
        break;
    case RowPhase::Completed: {
        const std::int64_t size = record.total > 0 ? record.total : record.done;
        print(at + "Completed " + nameOf(event.id, &event) +
              (sized ? " (" + sizeText(size) + ")" : ""));
        break;
    }
    case RowPhase::Failed: {
        const std::string reason = printable(event.reason);
        print(at + "Failed " + nameOf(event.id, &event) + (reason.empty() ? "" : " - " + reason));
        break;
    }
    case RowPhase::Stopped:
        print(at + "Stopped " + nameOf(event.id, &event));
        break;
    case RowPhase::Waiting:
    case RowPhase::Paused:
        break;
    }
}

void RunReport::announceTransfer(std::uint64_t id, Told& told) {
    told.announced = true;
    const RowRecord& record = m_list.record(m_list.rowOf(id));
    print(prefix(id) + "Downloading " + nameOf(id) + " (" +
          (!told.hasProgress || record.total <= 0 ? std::string("size unknown")
                                                  : sizeText(record.total)) +
          ")");
}

void RunReport::rowProgress(const RowProgressEvent& event) {
    const auto found = m_transfers.find(event.id);
    if (found == m_transfers.end())
        return;
    Told& told = found->second;
    told.hasProgress = true;
    const RowRecord& record = m_list.record(m_list.rowOf(event.id));
    // The first report often comes before the server told the size; wait for one that has
    // it, or for the first data of a transfer that has none.
    if (!told.announced) {
        if (record.total <= 0 && record.done <= 0)
            return;
        announceTransfer(event.id, told);
        return;
    }
    drawProgress(record, event);
}

void RunReport::drawProgress(const RowRecord& record, const RowProgressEvent& event) {
    if (!m_options.progressLine)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (m_progressShown && now - m_lastDraw < RedrawEvery)
        return;
    m_lastDraw = now;
    std::string text;
    if (event.bytesPerSecond > 0)
        text += "  " +
                FormatFixed2(static_cast<std::uint64_t>(event.bytesPerSecond), 1024,
                             m_options.decimalSeparator) +
                " KB/s";
    text += "  " + megabytes(record.done) + " of " + megabytes(record.total);
    if (event.total > 0) {
        text += "  " +
                FormatFixed2(static_cast<std::uint64_t>(event.done) * 100,
                             static_cast<std::uint64_t>(event.total), m_options.decimalSeparator) +
                " %";
        if (event.bytesPerSecond > 0)
            text += "  Left " + timeText((event.total - event.done) / event.bytesPerSecond);
    }
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
    for (int r = 1; r < m_list.rowCount(); ++r) {
        const RowRecord& record = m_list.record(r);
        if (record.phase == RowPhase::Completed)
            s.completed.push_back(nameOf(m_list.id(r)));
        else if (const std::string& reason = record.details.get().reason;
                 record.phase == RowPhase::Failed)
            s.failed.push_back(nameOf(m_list.id(r)) +
                               (reason.empty() ? "" : " - " + printable(reason)));
        else
            ++s.notDone;
    }
    return s;
}

bool RunReport::printSummary() {
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
