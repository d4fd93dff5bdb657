#include "pages/PageCapture.h"

#include "pages/PageText.h"
#include "platform/Browser.h"
#include "platform/EventLoop.h"

#include <exception>

namespace torvaline {

PageCapture::PageCapture(Browser& browser, EventLoop& loop, PageText& page)
    : m_browser(browser)
    , m_loop(loop)
    , m_page(page) {}

void PageCapture::BrowserInfo() {
    // Timer ticks and further browser events, nested captures included, may run here.
    m_loop.processPendingEvents();
    bool failed = false;
    try {
        std::string html;
        {
            const std::shared_ptr<Document> document = m_browser.document();
            if (!document)
                throw DomError("the browser holds no document");
            html = document->bodyInnerHTML();
        }
        m_page.replace(html);
    } catch (const std::exception&) {
        failed = true;
    }
    // Outside the handler: the rules this runs may throw, and that must reach the caller.
    if (failed)
        m_page.appendFailureLine();
}

} // namespace torvaline
