#pragma once

#include "pages/PageCapture.h"
#include "pages/PageRules.h"
#include "pages/PageText.h"

#include <cstdint>
#include <functional>
#include <string>

namespace torvaline {

class Browser;
class Clock;
class EventLoop;
class Timer;
struct CycleState;

// The page text, its rules and the capture, wired together: a real change of the text runs
// the rules, and the rules' last step presses "Free user" in the browser's current page.
class PageHandling final {
public:
    struct Ports {
        CycleState& state;
        Clock& clock;
        Timer& timer1;
        Timer& timer2;
        Browser& browser;
        EventLoop& loop;
    };
    struct Hooks {
        std::function<void()> DeleteURLError;
        std::function<std::string()> currentHost;
        // Closes the current row as failed, with why: a "Free user" button that only ever
        // leads back to a page like itself, a wait that cannot be read.
        std::function<void(const std::string&)> failRow;
        // An image captcha waits for someone to read it.
        std::function<void()> captcha = {};
    };

    static constexpr const char* FreeUserCaption = "Free user";
    // Presses of "Free user" for one row that reached neither a countdown nor a message:
    // beyond them the row fails instead of pressing for ever.
    static constexpr int MaxFreeUserPresses = 10;

    PageHandling(Ports ports, Hooks hooks);
    // Runs the page rules again on the page shown (a captcha's code came).
    void rerun();
    PageHandling(const PageHandling&) = delete;
    PageHandling& operator=(const PageHandling&) = delete;

    // The document-complete step: capture the page, which runs the rules.
    void BrowserInfo() { m_capture.BrowserInfo(); }
    // The before-navigate step: empty the page text without running the rules.
    void clearPageText() { m_page.clear(); }

    PageText& page() { return m_page; }
    PageRules& rules() { return m_rules; }
    // The hoster profiles rows are handled by (they must outlive this); null: the compiled ones.
    void setProfiles(const HosterProfiles* profiles) { m_rules.setProfiles(profiles); }
    // The user started the row (again): its presses count from nothing.
    void resetPresses() {
        m_presses = 0;
        m_rules.resetSteps();
    }

private:
    void pressFreeUser();

    CycleState& m_state;
    Browser& m_browser;
    std::function<void(const std::string&)> m_failRow;
    // Presses since the row began or a rule last acted, and the row they belong to.
    int m_presses = 0;
    std::int32_t m_pressRow = 0;
    std::string m_pressLink;
    PageText m_page;
    PageRules m_rules;
    PageCapture m_capture;
};

} // namespace torvaline
