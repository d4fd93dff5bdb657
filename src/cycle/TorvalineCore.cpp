#include "cycle/TorvalineCore.h"

#include "list/DownloadList.h"
#include "list/StatusBar.h"
#include "platform/Browser.h"
#include "platform/Timer.h"
#include "transfer/TDownloadFile.h"

namespace torvaline {

namespace {

// Only the refusals that leave a counted-down row without its transfer are worth a word; a
// Stop without a transfer (ecNotActive) is routine.
std::string refusalReason(ErrorCode code) {
    switch (code) {
    case ErrorCode::ecBusy:
        return "an earlier transfer is still running";
    case ErrorCode::ecThreadFailed:
        return "no worker thread could be started";
    case ErrorCode::ecNotSpecified:
        return "no link or no target file";
    case ErrorCode::ecNotActive:
        break;
    }
    return {};
}

} // namespace

TorvalineCore::TorvalineCore(Ports ports)
    : m_p(ports)
    , m_shutdown(ports.shutdownService, ports.shutdownNotice, ports.noticeTimer, ports.clock)
    , m_pages({m_state, ports.clock, ports.timer1, ports.timer2, ports.browser, ports.loop},
              {[this] { m_cycle.DeleteURLError(); },
               [this] { return m_p.list.cell(m_state.CurrentRow, DownloadList::Host); },
               [this](const std::string& why) { m_cycle.failCurrentRow(why); }})
    , m_progress({ports.list, ports.statusBar, ports.appTitle, m_state, ports.clock,
                  ports.elpsTimer, ports.estTimer, ports.stbarTimer, ports.component,
                  ports.decimalSeparator})
    , m_cycle({ports.list, ports.statusBar, m_state, ports.folder, ports.browser, ports.timer1,
               ports.timer2, ports.elpsTimer, ports.estTimer, ports.clock, ports.component},
              {[this] { m_pages.BrowserInfo(); }, [this] { m_pages.clearPageText(); },
               [this] {
                   m_shutdown.CheckShutDown();
                   if (m_onListDone)
                       m_onListDone();
               },
               [this] { return m_p.component.busy(); }}) {
    m_cycle.setEvents();
    TDownloadFile& component = m_p.component;
    component.OnStart = [this](void*) { m_progress.DownloadFile1Start(); };
    component.OnProgress = [this](void*, std::uint32_t received, std::uint32_t expected) {
        m_progress.DownloadFile1Progress(received, expected);
    };
    component.OnFinish = [this](void*, bool canceled, const TransferResult& result) {
        m_cycle.DownloadFile1Finish(canceled, result);
    };
    component.OnError = [this](void*, ErrorCode code, const std::string&) {
        const std::string why = refusalReason(code);
        if (why.empty())
            return;
        const std::string text = " Download not started - " + why + " ";
        m_p.statusBar.setText(0, text);
        m_p.statusBar.setWidth(0, StatusBar::widthFor(text));
    };
}

TorvalineCore::~TorvalineCore() {
    // A retry that will never come leaves no partial file behind in the download folder.
    m_cycle.discardRetryPartial();
    m_p.browser.setEvents({});
    m_p.timer1.setOnTick(nullptr);
    m_p.timer2.setOnTick(nullptr);
    m_p.elpsTimer.setOnTick(nullptr);
    m_p.estTimer.setOnTick(nullptr);
    m_p.stbarTimer.setOnTick(nullptr);
    m_p.noticeTimer.setOnTick(nullptr);
    m_p.component.OnStart = nullptr;
    m_p.component.OnProgress = nullptr;
    m_p.component.OnFinish = nullptr;
    m_p.component.OnError = nullptr;
}

} // namespace torvaline
