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
               [this](const std::string& why) { m_cycle.failCurrentRow(why); },
               [this] { m_cycle.needCaptcha(); }})
    , m_progress({ports.list, ports.statusBar, ports.appTitle, m_state, ports.clock,
                  ports.elpsTimer, ports.estTimer, ports.stbarTimer, ports.component,
                  ports.decimalSeparator, ports.titleSource})
    , m_cycle({ports.list, ports.statusBar, m_state, ports.folder, ports.browser, ports.timer1,
               ports.timer2, ports.elpsTimer, ports.estTimer, ports.clock, ports.component},
              {[this] { m_pages.BrowserInfo(); }, [this] { m_pages.clearPageText(); },
               [this] {
                   m_shutdown.CheckShutDown();
                   if (m_onListDone)
                       m_onListDone();
               },
               [this] { return m_p.component.busy(); }, [this] { m_pages.rerun(); }}) {
    m_cycle.setEvents();
    if (m_p.primaryEvents) {
        m_cycle.setRowEvents(m_p.primaryEvents);
    } else {
        m_cycle.setRowEvents(&m_rowEvents);
        m_rowEvents.follow(m_p.list);
    }
    TDownloadFile& component = m_p.component;
    component.OnStart = [this](void*) {
        m_progress.DownloadFile1Start();
        tellTransferStart();
    };
    component.OnProgress = [this](void*, std::uint32_t received, std::uint32_t expected) {
        m_progress.DownloadFile1Progress(received, expected);
        tellProgress(received, expected);
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

void TorvalineCore::tellTransferStart() {
    RowPhaseEvent e;
    e.id = m_p.list.id(m_state.CurrentRow);
    e.phase = RowPhase::Transferring;
    e.link = m_p.list.cell(m_state.CurrentRow, DownloadList::URL);
    // The name the transfer chose: a taken name makes it "name (N).ext", and a row the remote
    // control named is saved under its own name, not the page's.
    const std::string& saving = m_p.component.SavingPath;
    e.fileName = saving.empty() ? m_state.FinalFileName : fileNameOfPath(saving);
    e.filePath = saving.empty() ? m_p.component.FileName : saving;
    m_progressTold = false;
    m_progressDone = 0;
    m_progressTotal = 0;
    if (e.id != 0)
        events().rowPhase(e);
}

void TorvalineCore::tellProgress(std::uint32_t receivedKiB, std::uint32_t expectedKiB) {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    // The bytes the component kept beside the event's KiB, where they agree with them (a
    // component that keeps none has the KiB alone): a file of 3,000 bytes is not one of 2,048.
    const auto bytes = [](std::uint64_t kept, std::uint32_t kib) {
        return static_cast<std::int64_t>((kept >> 10) == kib ? kept : std::uint64_t{kib} << 10);
    };
    const std::int64_t done = bytes(m_p.component.ReceivedBytes, receivedKiB);
    // The first report at once, and one whenever the size changes (it is told late), else
    // about once a second.
    const std::int64_t total = bytes(m_p.component.ExpectedBytes, expectedKiB);
    if (m_progressTold && now - m_progressAt < seconds(1) && total == m_progressTotal)
        return;
    RowProgressEvent e;
    e.id = m_p.list.id(m_state.CurrentRow);
    e.done = done;
    e.total = total;
    m_progressTotal = total;
    if (m_progressTold) {
        const auto ms = duration_cast<milliseconds>(now - m_progressAt).count();
        if (ms > 0 && done >= m_progressDone)
            e.bytesPerSecond = (done - m_progressDone) * 1000 / ms;
    }
    m_progressTold = true;
    m_progressAt = now;
    m_progressDone = done;
    if (e.id != 0)
        events().rowProgress(e);
}

void TorvalineCore::setProfiles(const HosterProfiles* profiles) {
    m_pages.setProfiles(profiles);
    if (m_p.primaryEvents)
        return;
    if (profiles)
        m_p.list.setHostNamer(
            [profiles](const std::string& link) { return profiles->hostName(link); });
    else
        m_p.list.setHostNamer(nullptr);
}

TorvalineCore::~TorvalineCore() {
    if (!m_p.primaryEvents)
        m_p.list.setHostNamer(nullptr);
    // A retry that will never come leaves no partial file behind in the download folder.
    m_cycle.discardRetryPartial();
    if (!m_p.primaryEvents)
        m_p.list.setRowIdObserver({});
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
