#include "pages/PageHandling.h"

#include "pages/ProfileQueries.h"
#include "platform/Browser.h"
#include "state/CycleState.h"

namespace torvaline {

PageHandling::PageHandling(Ports ports, Hooks hooks)
    : m_state(ports.state)
    , m_browser(ports.browser)
    , m_failRow(hooks.failRow)
    , m_rules({m_page, ports.state, ports.clock, ports.timer1, ports.timer2},
              {std::move(hooks.DeleteURLError), [this] { pressFreeUser(); },
               std::move(hooks.currentHost), std::move(hooks.failRow),
               [&browser = ports.browser](const std::string& url) { browser.Navigate(url); },
               std::move(hooks.captcha)})
    , m_capture(ports.browser, ports.loop, m_page) {
    m_rules.setDocument([&browser = ports.browser] { return browser.document(); });
    m_page.setOnChange([this] {
        m_rules.Memo2Change();
        // A countdown or a message: the button did lead somewhere.
        if (m_state.PageHandled)
            m_presses = 0;
    });
}

void PageHandling::rerun() {
    m_state.PageHandled = false;
    m_rules.Memo2Change();
    // As after any page: the next one is read afresh.
    m_state.PageHandled = false;
}

void PageHandling::pressFreeUser() {
    if (m_state.CurrentRow != m_pressRow || m_state.CurrentURL != m_pressLink) {
        m_pressRow = m_state.CurrentRow;
        m_pressLink = m_state.CurrentURL;
        m_presses = 0;
    }
    if (m_presses >= MaxFreeUserPresses && m_failRow) {
        m_presses = 0;
        m_state.PageHandled = true;
        m_failRow("the \"Free user\" button led to no countdown and no message in " +
                  std::to_string(MaxFreeUserPresses) + " presses");
        return;
    }
    // Whether anything was pressed is not looked at: with nothing pressed the row simply
    // waits for the user.
    if (PressButton(m_browser, m_rules.profile().button))
        ++m_presses;
}

} // namespace torvaline
