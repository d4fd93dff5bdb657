#pragma once

#include "pages/PageCapture.h"
#include "pages/PageRules.h"
#include "pages/PageText.h"

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
    };

    static constexpr const char* FreeUserCaption = "Free user";

    PageHandling(Ports ports, Hooks hooks);
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

private:
    PageText m_page;
    PageRules m_rules;
    PageCapture m_capture;
};

} // namespace torvaline
