#include "pages/PageHandling.h"

#include "pages/FillForm.h"
#include "platform/Browser.h"

namespace torvaline {

PageHandling::PageHandling(Ports ports, Hooks hooks)
    : m_rules({m_page, ports.state, ports.clock, ports.timer1, ports.timer2},
              {std::move(hooks.DeleteURLError),
               // Whether anything was pressed is not looked at: with nothing pressed the
               // row simply waits for the user.
               [&browser = ports.browser] { FillForm(browser, FreeUserCaption); },
               std::move(hooks.currentHost)})
    , m_capture(ports.browser, ports.loop, m_page) {
    m_page.setOnChange([this] { m_rules.Memo2Change(); });
}

} // namespace torvaline
