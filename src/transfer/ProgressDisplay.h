#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace torvaline {

class AppTitle;
class Clock;
class DownloadComponent;
class DownloadList;
class StatusBar;
class Timer;
struct CycleState;

// "0.00": num/den with two decimals, halves rounded away from zero, computed exactly.
std::string FormatFixed2(std::uint64_t numerator, std::uint64_t denominator, char separator);
// "00": a whole number with at least two digits.
std::string FormatTwoDigits(std::int64_t value);
// Seconds as hours:minutes:seconds of two digits each, hours growing past 24 as needed.
std::string FormatFullHours(std::int64_t seconds);

// What the row of the running transfer, the status bar and the minimised window's title show
// while a file comes in: speed, sizes, share done, time left and estimated duration. Every
// handler runs on the GUI thread. The three timers' ticks are bound to their handlers here.
class ProgressDisplay final {
public:
    struct Ports {
        DownloadList& list;
        StatusBar& statusBar;
        AppTitle& title; // mirrors the status bar while the window is minimised
        CycleState& state;
        Clock& clock;
        Timer& elpsTimer;  // time left, each second
        Timer& estTimer;   // the transfer's own seconds
        Timer& stbarTimer; // the minimised title
        DownloadComponent& downloadFile1;
        // Between the whole and the fractional part of the sizes and speeds shown.
        char decimalSeparator = '.';
        // What the minimised title mirrors, when not `statusBar` (several transfers at once
        // write status bars of their own, one of which is shown).
        std::function<const StatusBar&()> titleSource = {};
    };

    explicit ProgressDisplay(const Ports& ports);

    void DownloadFile1Start();
    // Both figures in KiB; CalculatedFileSize is 0 while the size is unknown.
    void DownloadFile1Progress(std::uint32_t ReceivedBytes, std::uint32_t CalculatedFileSize);
    void ElpsTimerTimer();
    void EstTimerTimer();
    void StbarTimerTimer();
    void ApplicationEvents1Minimize();
    void ApplicationEvents1Restore();

    double EstimatedTime() const { return m_estimatedTime; }
    const std::string& EstimateText() const { return m_estimateText; }
    std::uint32_t ProgressTotal() const { return m_progressTotal; }
    std::uint32_t ProgressReceived() const { return m_progressReceived; }
    double ElapsedTime() const { return m_elapsedTime; }
    double LeftTime() const { return m_leftTime; }

private:
    std::string megabytes(std::uint32_t kib) const;
    void estimate(std::int64_t seconds);
    std::string shownName() const;

    DownloadList& m_list;
    StatusBar& m_statusBar;
    AppTitle& m_title;
    CycleState& m_state;
    Clock& m_clock;
    Timer& m_elpsTimer;
    Timer& m_estTimer;
    Timer& m_stbarTimer;
    DownloadComponent& m_downloadFile1;
    char m_separator;
    std::function<const StatusBar&()> m_titleSource;

    double m_estimatedTime = 0;
    std::string m_estimateText;
    std::uint32_t m_progressTotal = 0;
    std::uint32_t m_progressReceived = 0;
    double m_elapsedTime = 0;
    double m_leftTime = 0;
    // Set while the latest progress had no size: no share, estimate or time left is known.
    bool m_sizeUnknown = false;
    // The estimate in seconds when it reaches a day or more, else 0: a time of day cannot
    // hold it, so the time left is counted from the transfer's own seconds instead.
    std::int64_t m_longEstimate = 0;
};

} // namespace torvaline
