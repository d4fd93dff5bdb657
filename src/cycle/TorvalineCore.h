#pragma once

#include "cycle/DownloadCycle.h"
#include "cycle/RowEventHub.h"
#include "cycle/ShutdownControl.h"
#include "pages/PageHandling.h"
#include "state/CycleState.h"
#include "transfer/ProgressDisplay.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace torvaline {

class AppTitle;
class Browser;
class Clock;
class DownloadFolder;
class DownloadList;
class EventLoop;
class ShutdownNotice;
class ShutdownService;
class StatusBar;
class TDownloadFile;
class Timer;

// Everything that makes the list download by itself, wired once: the cycle state, the page
// handling, the download cycle, the progress display, the download component's events and the
// shutdown at the end of the list. The main window and the end-to-end tests build the same
// object over their own ports, so both run the very same wiring.
class TorvalineCore final {
public:
    struct Ports {
        DownloadList& list;
        StatusBar& statusBar;
        AppTitle& appTitle; // mirrored from the status bar while the window is minimised
        DownloadFolder& folder;
        Browser& browser;
        EventLoop& loop;
        Clock& clock;
        Timer& timer1;
        Timer& timer2;
        Timer& elpsTimer;
        Timer& estTimer;
        Timer& stbarTimer;
        Timer& noticeTimer; // the shutdown notice's countdown
        TDownloadFile& component;
        ShutdownService& shutdownService;
        ShutdownNotice& shutdownNotice;
        // Between the whole and the fractional part of the sizes and speeds shown.
        char decimalSeparator = '.';
        // What the minimised title mirrors; null: `statusBar`.
        std::function<const StatusBar&()> titleSource = {};
        // One lane of several but the first: the list's own events, its host names and the
        // shutdown are the first lane's, and this one's row events go to `primaryEvents`.
        RowEvents* primaryEvents = nullptr;
    };

    explicit TorvalineCore(Ports ports);
    // Unbinds the browser, the timers and the component, which may outlive this object.
    ~TorvalineCore();
    TorvalineCore(const TorvalineCore&) = delete;
    TorvalineCore& operator=(const TorvalineCore&) = delete;

    CycleState& state() { return m_state; }
    DownloadCycle& cycle() { return m_cycle; }
    PageHandling& pages() { return m_pages; }
    ProgressDisplay& progress() { return m_progress; }
    ShutdownControl& shutdown() { return m_shutdown; }
    // Where the cycle tells what happens to each row; front ends add themselves here.
    RowEventHub& rowEvents() { return m_rowEvents; }

    // The two commands of the toolbar and the menu.
    void StartDownload1Click() {
        m_pages.resetPresses();
        m_cycle.StartDownload1Click();
    }
    void StopDownExecute() { m_cycle.StopDownExecute(); }
    // Rows came from a front end: a list at rest starts on them (as Start would); false when
    // it is busy, and then the rows wait their turn.
    bool startAt(int row) {
        if (!m_cycle.atRest())
            return false;
        m_pages.resetPresses();
        return m_cycle.startAt(row);
    }
    // Pause Download and Resume Download, for the window and the remote control: whether
    // they applied (a row being worked on; a row held).
    bool pause() { return m_cycle.pause(); }
    bool resume() { return m_cycle.resume(); }
    bool canPause() const { return m_cycle.canPause(); }
    bool canResume() const { return m_cycle.canResume(); }

    // The hoster profiles the rows are handled by and named after in the Host column (they must
    // outlive this object); null: the two compiled-in hosters, named as they always were.
    void setProfiles(const HosterProfiles* profiles);

    // Called after the shutdown check each time the list is found done (its last row closed,
    // or Start Download pressed on a finished list).
    void setOnListDone(std::function<void()> onListDone) { m_onListDone = std::move(onListDone); }

private:
    RowEvents& events() { return m_p.primaryEvents ? *m_p.primaryEvents : m_rowEvents; }
    void tellTransferStart();
    void tellProgress(std::uint32_t receivedKiB, std::uint32_t expectedKiB);

    Ports m_p;
    CycleState m_state;
    RowEventHub m_rowEvents;
    ShutdownControl m_shutdown;
    PageHandling m_pages;
    ProgressDisplay m_progress;
    DownloadCycle m_cycle;
    std::function<void()> m_onListDone;
    // The progress told last, for a speed over the time between two reports and at most one
    // report a second.
    std::chrono::steady_clock::time_point m_progressAt{};
    std::int64_t m_progressDone = 0;
    std::int64_t m_progressTotal = 0;
    bool m_progressTold = false;
};

} // namespace torvaline
