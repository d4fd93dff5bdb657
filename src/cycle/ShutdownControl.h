#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace torvaline {

class Clock;
class ShutdownNotice;
class ShutdownService;
class Timer;

// The two controls that arm the shutdown at the end of the list, the check the cycle runs
// there, and the request to the operating system.
//
// The latching button shutBtn's down state is the arming state; its Tag becomes 1 once either
// control was used and is never cleared. The menu item ShutPC1 keeps a check mark of its own
// that nothing reads.
//
// A forced shutdown closes every program without asking, so it is preceded by a notice that
// counts down NoticeSeconds and can be cancelled; unanswered, the shutdown goes ahead.
class ShutdownControl final {
public:
    static constexpr int NoticeSeconds = 60;

    // noticeTimer: a one-second timer for the notice's countdown.
    ShutdownControl(ShutdownService& service, ShutdownNotice& notice, Timer& noticeTimer,
                    Clock& clock);

    bool down() const { return m_down; }
    std::int32_t Tag() const { return m_tag; }
    bool menuChecked() const { return m_menuChecked; }
    bool noticeShowing() const { return m_noticeShowing; }

    // For views that mirror the button and the check mark.
    void setOnChanged(std::function<void()> onChanged) { m_onChanged = std::move(onChanged); }

    // A click on the button: it toggles, then shutBtnClick runs.
    void clickShutBtn();
    // The menu item chosen: its check mark flips, then ShutPC1Click runs.
    void chooseShutPC1();
    // For a view whose button has toggled itself already.
    void setDown(bool down);

    void shutBtnClick();
    void ShutPC1Click();

    void CheckShutDown();
    // mode "1" shut down, "2" restart, "3" log off, anything else nothing; force 0 or 1.
    void ShutDownWindows(const std::string& mode, std::uint8_t force);

private:
    void startNotice();
    void noticeTick();
    void cancelNotice();
    void endNotice();
    int secondsLeft() const;
    void changed();

    ShutdownService& m_service;
    ShutdownNotice& m_notice;
    Timer& m_noticeTimer;
    Clock& m_clock;
    bool m_down = false;
    std::int32_t m_tag = 0;
    bool m_menuChecked = false;
    bool m_noticeShowing = false;
    double m_noticeStart = 0;
    std::function<void()> m_onChanged;
};

} // namespace torvaline
