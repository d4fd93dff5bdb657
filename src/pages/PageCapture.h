#pragma once

namespace torvaline {

class Browser;
class EventLoop;
class PageText;

// Copies the body HTML of the browser's current page into the page text, whose change runs
// the page rules inside this call.
class PageCapture final {
public:
    PageCapture(Browser& browser, EventLoop& loop, PageText& page);

    // Lets pending events run once, then reads the page. A page that cannot be read, or whose
    // rules fail, gets the failure line appended so that the rules run once more with nothing
    // to search. Errors while that line is appended reach the caller.
    void BrowserInfo();

private:
    Browser& m_browser;
    EventLoop& m_loop;
    PageText& m_page;
};

} // namespace torvaline
