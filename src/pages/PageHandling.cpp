#include "pages/PageHandling.h"

#include "pages/ProfileQueries.h"
#include "platform/Browser.h"

namespace torvaline {

PageHandling::PageHandling(Ports ports, Hooks hooks)
    : m_rules({m_page, ports.state, ports.clock, ports.timer1, ports.timer2},
              {std::move(hooks.DeleteURLError),
               // Whether anything was pressed is not looked at: with nothing pressed the
               // row simply waits for the user.
               [this, &browser = ports.browser] { PressButton(browser, m_rules.profile().button); },
               std::move(hooks.currentHost)})
    , m_capture(ports.browser, ports.loop, m_page) {
    m_page.setOnChange([this] { m_rules.Memo2Change(); });
    m_rules.setDocument([&browser = ports.browser] { return browser.document(); });
}

} // namespace torvaline
