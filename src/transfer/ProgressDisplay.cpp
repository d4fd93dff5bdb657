#include "transfer/ProgressDisplay.h"

#include "list/AppTitle.h"
#include "list/DownloadList.h"
#include "list/RowTexts.h"
#include "list/StatusBar.h"
#include "pages/TimeText.h"
#include "platform/Clock.h"
#include "platform/DayLength.h"
#include "platform/Timer.h"
#include "state/CycleState.h"
#include "transfer/DownloadComponent.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace torvaline {
std::string FormatFixed2(std::uint64_t numerator, std::uint64_t denominator, char separator) {
    // Integer arithmetic: 0.125 must round up, which a binary double may not manage.
    const std::uint64_t hundredths = (numerator * 200 + denominator) / (denominator * 2);
    char decimals[4];
    std::snprintf(decimals, sizeof decimals, "%02u", static_cast<unsigned>(hundredths % 100));
    return std::to_string(hundredths / 100) + separator + decimals;
}

std::string FormatTwoDigits(std::int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld", static_cast<long long>(value));
    return text;
}

std::string FormatFullHours(std::int64_t seconds) {
    const std::int64_t magnitude = std::llabs(seconds);
    char text[48];
    std::snprintf(
        text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(magnitude / 3600),
        static_cast<long long>(magnitude % 3600 / 60), static_cast<long long>(magnitude % 60));
    return text;
}

ProgressDisplay::ProgressDisplay(const Ports& ports)
    : m_list(ports.list)
    , m_statusBar(ports.statusBar)
    , m_title(ports.title)
    , m_state(ports.state)
    , m_clock(ports.clock)
    , m_elpsTimer(ports.elpsTimer)
    , m_estTimer(ports.estTimer)
    , m_stbarTimer(ports.stbarTimer)
    , m_downloadFile1(ports.downloadFile1)
    , m_separator(ports.decimalSeparator)
    , m_titleSource(ports.titleSource) {
    if (!m_titleSource)
        m_titleSource = [this]() -> const StatusBar& { return m_statusBar; };
    m_elpsTimer.setOnTick([this] { ElpsTimerTimer(); });
    m_estTimer.setOnTick([this] { EstTimerTimer(); });
    m_stbarTimer.setOnTick([this] { StbarTimerTimer(); });
}

std::string ProgressDisplay::megabytes(std::uint32_t kib) const {
    return FormatFixed2(kib, 1024, m_separator) + " MB";
}

void ProgressDisplay::DownloadFile1Start() {
    m_state.WaitSpan = 0;
    m_list.setCell(m_state.CurrentRow, DownloadList::Left, TimeText(m_state.WaitSpan));
    m_state.PhaseStart = m_clock.timeOfDay();
    m_elpsTimer.setEnabled(true);
    m_estTimer.setEnabled(true);
    m_downloadFile1.Tag = 1;
    m_list.setCell(m_state.CurrentRow, DownloadList::Status, std::string(StatusDownloading));
    m_sizeUnknown = false;
}

void ProgressDisplay::DownloadFile1Progress(std::uint32_t ReceivedBytes,
                                            std::uint32_t CalculatedFileSize) {
    const int row = m_state.CurrentRow;
    m_list.setCell(row, DownloadList::Total, megabytes(CalculatedFileSize));
    m_list.setCell(row, DownloadList::Downloaded, megabytes(ReceivedBytes));
    m_progressTotal = CalculatedFileSize + 2;
    m_progressReceived = ReceivedBytes + 1;
    // Widened: in 32 bits the product wraps from about 41 GiB on.
    const std::uint64_t total = std::uint64_t{CalculatedFileSize} + 2;
    const std::uint64_t received = std::uint64_t{ReceivedBytes} + 1;

    // Without a size there is no share and no estimate: (R + 1) * 50 % would be nonsense.
    m_sizeUnknown = CalculatedFileSize == 0;
    if (m_sizeUnknown) {
        m_list.setCell(row, DownloadList::Progress, "");
        m_list.setCell(row, DownloadList::Estimated, "");
    } else {
        m_list.setCell(row, DownloadList::Progress,
                       FormatFixed2(received * 100 / total, 1, m_separator) + " %");
    }

    // A resumed transfer's earlier part came in another attempt: speed, estimate and time
    // left are about this attempt's bytes and seconds only.
    const std::uint64_t resumed =
        std::min<std::uint64_t>(m_downloadFile1.ResumedFrom >> 10, ReceivedBytes);
    const std::uint64_t totalNow = total - resumed;
    const std::uint64_t receivedNow = received - resumed;
    const std::int32_t seconds = m_state.TransferSeconds;
    if (seconds > 1) {
        if (!m_sizeUnknown) {
            estimate(static_cast<std::int64_t>(totalNow) * seconds /
                     static_cast<std::int64_t>(receivedNow));
            m_list.setCell(row, DownloadList::Estimated,
                           m_longEstimate ? m_estimateText : TimeText(m_estimatedTime));
        }
        const std::int64_t speed = static_cast<std::int64_t>(receivedNow) / seconds;
        m_list.setCell(row, DownloadList::Speed, FormatTwoDigits(speed) + "Kb/s");
    }

    m_statusBar.setText(0, "Downloading...");
    m_statusBar.setText(1, m_list.cell(row, DownloadList::Progress));
    // Appended rather than " " + name: gcc 12 at -O3 misreads the latter as an overlapping copy.
    std::string namePanel = " ";
    namePanel += shownName();
    m_statusBar.setText(2, namePanel);
    m_statusBar.setWidth(0, StatusBar::widthFor(m_statusBar.text(0)));
    m_statusBar.setWidth(2, StatusBar::widthFor(m_statusBar.text(2)));
}

std::string ProgressDisplay::shownName() const {
    // The transfer saves beside an existing file of the same name rather than over it; the
    // user must see the name the file really gets.
    const std::string& path = m_downloadFile1.SavingPath;
    return path.empty() ? m_state.FinalFileName : fileNameOfPath(path);
}

void ProgressDisplay::estimate(std::int64_t seconds) {
    if (seconds < DayLengthSeconds) {
        // Through the texts, whole seconds as h:m:s read back: the estimate then equals
        // exactly what the row shows, and the time left counted from it never disagrees.
        m_longEstimate = 0;
        const std::int32_t whole = StrToInt(FormatTwoDigits(seconds));
        m_estimateText = FormatSecsToHMS(whole);
        m_estimatedTime = StrToTime(m_estimateText);
    } else {
        m_longEstimate = seconds;
        m_estimateText = FormatFullHours(seconds);
        m_estimatedTime = static_cast<double>(seconds) / DayLengthSeconds;
    }
}

void ProgressDisplay::ElpsTimerTimer() {
    m_elapsedTime = m_clock.timeOfDay() - m_state.PhaseStart;
    const int row = m_state.CurrentRow;
    if (m_sizeUnknown) {
        m_leftTime = 0;
        m_list.setCell(row, DownloadList::Left, "");
        return;
    }
    if (m_longEstimate) {
        // Past midnight the time of day no longer says how long the transfer has run.
        const std::int64_t left = m_longEstimate - m_state.TransferSeconds;
        m_leftTime = static_cast<double>(left) / DayLengthSeconds;
        m_list.setCell(row, DownloadList::Left, FormatFullHours(left));
        return;
    }
    m_leftTime = m_estimatedTime - m_elapsedTime;
    m_list.setCell(row, DownloadList::Left, TimeText(m_leftTime));
}

void ProgressDisplay::EstTimerTimer() {
    ++m_state.TransferSeconds;
}

void ProgressDisplay::StbarTimerTimer() {
    const StatusBar& source = m_titleSource();
    m_title.setText(source.text(0) + " " + source.text(1) + " " + source.text(2));
}

void ProgressDisplay::ApplicationEvents1Minimize() {
    m_stbarTimer.setEnabled(!m_titleSource().text(0).empty());
    m_title.setText(AppTitle::AfterMinimize);
}

void ProgressDisplay::ApplicationEvents1Restore() {
    m_stbarTimer.setEnabled(false);
    m_title.setText(AppTitle::AfterMinimize);
}

} // namespace torvaline
