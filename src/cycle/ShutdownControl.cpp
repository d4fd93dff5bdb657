#include "cycle/ShutdownControl.h"

#include "platform/Clock.h"
#include "platform/DayLength.h"
#include "platform/ShutdownNotice.h"
#include "platform/ShutdownService.h"
#include "platform/Timer.h"

#include <cmath>

namespace torvaline {

ShutdownControl::ShutdownControl(ShutdownService& service, ShutdownNotice& notice,
                                 Timer& noticeTimer, Clock& clock)
    : m_service(service)
    , m_notice(notice)
    , m_noticeTimer(noticeTimer)
    , m_clock(clock) {
    m_noticeTimer.setOnTick([this] { noticeTick(); });
}

void ShutdownControl::changed() {
    if (m_onChanged)
        m_onChanged();
}

void ShutdownControl::clickShutBtn() {
    setDown(!m_down);
    shutBtnClick();
}

void ShutdownControl::chooseShutPC1() {
    m_menuChecked = !m_menuChecked;
    changed();
    ShutPC1Click();
}

void ShutdownControl::setDown(bool down) {
    if (m_down == down)
        return;
    m_down = down;
    changed();
}

void ShutdownControl::shutBtnClick() {
    m_tag = 1;
    changed();
}

void ShutdownControl::ShutPC1Click() {
    setDown(true);
    m_tag = 1;
    changed();
}

void ShutdownControl::CheckShutDown() {
    if (m_tag == 1 && m_down)
        startNotice(); // ends in ShutDownWindows("1", 1) unless cancelled
    if (m_tag == 1 && !m_down)
        ShutDownWindows("0", 0);
}

void ShutdownControl::ShutDownWindows(const std::string& mode, std::uint8_t force) {
    m_service.enableShutdownPrivilege();
    if (mode == "1") {
        if (force == 0)
            m_service.requestExit(ExitRequest::ShutDown, false);
        else if (force == 1)
            m_service.requestExit(ExitRequest::ShutDown, true);
    } else if (mode == "2") {
        if (force == 0)
            m_service.requestExit(ExitRequest::Restart, false);
        else if (force == 1)
            m_service.requestExit(ExitRequest::Restart, true);
    } else if (mode == "3") {
        if (force == 0)
            m_service.requestExit(ExitRequest::LogOff, false);
        else if (force == 1)
            m_service.requestExit(ExitRequest::LogOff, true);
    }
}

int ShutdownControl::secondsLeft() const {
    double elapsed = m_clock.timeOfDay() - m_noticeStart;
    if (elapsed < 0)
        elapsed += 1.0; // midnight passed
    const double left = NoticeSeconds - elapsed * DayLengthSeconds;
    return left <= 0 ? 0 : static_cast<int>(std::ceil(left - 1e-6));
}

void ShutdownControl::startNotice() {
    // A second check while the notice runs (Start Download on a finished list) keeps the
    // countdown that is already under way.
    if (m_noticeShowing)
        return;
    m_noticeShowing = true;
    m_noticeStart = m_clock.timeOfDay();
    m_noticeTimer.setEnabled(true);
    m_notice.show(NoticeSeconds, [this] { cancelNotice(); });
}

void ShutdownControl::noticeTick() {
    if (!m_noticeShowing) {
        m_noticeTimer.setEnabled(false);
        return;
    }
    const int left = secondsLeft();
    if (left > 0) {
        m_notice.show(left, [this] { cancelNotice(); });
        return;
    }
    endNotice();
    // Disarmed while the notice ran: the user has changed their mind.
    if (m_tag == 1 && m_down)
        ShutDownWindows("1", 1);
}

void ShutdownControl::cancelNotice() {
    if (m_noticeShowing)
        endNotice();
}

void ShutdownControl::endNotice() {
    m_noticeShowing = false;
    m_noticeTimer.setEnabled(false);
    m_notice.close();
}

} // namespace torvaline
