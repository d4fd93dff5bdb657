#include "pages/PageRules.h"

#include "pages/ConversionError.h"
#include "pages/FinalLink.h"
#include "pages/PageText.h"
#include "pages/TimeText.h"
#include "platform/Clock.h"
#include "platform/Timer.h"
#include "state/CycleState.h"

#include <limits>

namespace torvaline {

namespace {

constexpr std::string_view IllegalMarker = "This file is suspected to contain illegal";
constexpr std::string_view NotFoundMarker =
    "The file could not be found. Please check the download link.";
constexpr std::string_view OrTryAgainAboutMarker = "Or try again in about";
constexpr std::string_view TryAgainMarker = "try again in";
constexpr std::string_view SlotsMarker = "Unfortunately right now our servers are over";
constexpr std::string_view WaitMarker = "Unfortunately you will have to wait";
constexpr std::string_view CountdownMarker = "var c=";
constexpr std::string_view AgainAboutMarker = "again in about";
constexpr std::string_view ReachMarker = "You have reached the download limit for free-users";

constexpr std::int32_t SecondsPerDayInt = 24 * 3600;

} // namespace

PageRules::PageRules(Ports ports, Hooks hooks)
    : m_p(ports)
    , m_hooks(std::move(hooks)) {}

void PageRules::Memo2Change() {
    using Step = void (PageRules::*)();
    static constexpr Step steps[] = {
        &PageRules::FindFileError, &PageRules::FindError, &PageRules::TryAgainAbout,
        &PageRules::TryAgain,      &PageRules::FindSlots, &PageRules::FindWait,
        &PageRules::FindStill,     &PageRules::FindAbout, &PageRules::FindReach,
    };
    for (const Step step : steps) {
        if (m_p.state.PageHandled)
            return;
        (this->*step)();
    }
    if (!m_p.state.PageHandled && m_hooks.freeUserStep)
        m_hooks.freeUserStep();
}

std::size_t PageRules::find(std::string_view marker) {
    const std::string& text = m_p.page.text();
    const std::size_t start = m_p.page.searchStart();
    const std::size_t at = start < text.size() ? text.find(marker, start) : std::string::npos;
    if (at == std::string::npos) {
        m_p.state.PageHandled = false;
        return 0;
    }
    return at + 1;
}

std::string PageRules::cut(std::size_t from, std::size_t n) const {
    const std::string& text = m_p.page.text();
    if (from == 0 || from > text.size())
        return {};
    return text.substr(from - 1, n);
}

void PageRules::FindFileError() {
    if (find(IllegalMarker) != 0 && m_hooks.DeleteURLError)
        m_hooks.DeleteURLError();
}

void PageRules::FindError() {
    if (find(NotFoundMarker) != 0 && m_hooks.DeleteURLError)
        m_hooks.DeleteURLError();
}

void PageRules::TryAgainAbout() {
    const std::size_t p = find(OrTryAgainAboutMarker);
    if (p == 0)
        return;
    m_p.state.WaitText = cut(p + 22, OrTryAgainAboutMarker.size() - 3);
    GetTimeAbout();
    waitMinutes(m_p.state.WaitNumber);
}

void PageRules::TryAgain() {
    const std::size_t p = find(TryAgainMarker);
    if (p == 0)
        return;
    m_p.state.WaitText = cut(p + 13, TryAgainMarker.size() - 3);
    GetTimeAbout();
    waitMinutes(m_p.state.WaitNumber);
}

void PageRules::FindSlots() {
    if (find(SlotsMarker) == 0)
        return;
    // Built, not assigned from a literal: GCC 12 at -O3 warns falsely (-Wrestrict) on that.
    m_p.state.WaitText = std::string(1, '2');
    waitMinutes(m_p.state.WaitText);
}

void PageRules::FindWait() {
    const std::size_t p = find(WaitMarker);
    if (p == 0)
        return;
    // One character only: a wait of 15 minutes reads as 1.
    m_p.state.WaitText = cut(p + 36, WaitMarker.size() - 34);
    waitMinutes(m_p.state.WaitText);
}

void PageRules::FindStill() {
    const std::size_t p = find(CountdownMarker);
    if (p == 0)
        return;
    CycleState& s = m_p.state;
    s.WaitText = cut(p + 6, CountdownMarker.size() - 2);
    GetTime();
    // The countdown is armed even when no link is found; the cycle must then know that the
    // link it holds belongs to an earlier page.
    s.FinalLinkFresh = false;
    if (m_hooks.currentHost && m_hooks.currentHost() == FourSharedHost)
        Find4sharedFinalURL(m_p.page, s);
    else
        FindFinalURL(m_p.page, s);
    armSpan(StrToInt(s.WaitNumber), s.CountdownText);
    s.PhaseStart = m_p.clock.timeOfDay();
    m_p.timer1.setEnabled(true);
    s.PageHandled = true;
}

void PageRules::FindAbout() {
    const std::size_t p = find(AgainAboutMarker);
    if (p == 0)
        return;
    m_p.state.WaitText = cut(p + 15, AgainAboutMarker.size() - 3);
    GetTimeAbout();
    waitMinutes(m_p.state.WaitNumber);
}

void PageRules::FindReach() {
    if (find(ReachMarker) == 0)
        return;
    m_p.state.WaitText = std::string(1, '1');
    waitMinutes(m_p.state.WaitText);
}

void PageRules::GetTimeAbout() {
    const std::string& text = m_p.state.WaitText;
    const std::size_t at = text.rfind('m');
    if (at == std::string::npos)
        return;
    // 1-based index i = at + 1; keep the first i - 2 characters.
    m_p.state.WaitNumber = at == 0 ? std::string() : text.substr(0, at - 1);
}

void PageRules::GetTime() {
    const std::string& text = m_p.state.WaitText;
    const std::size_t at = text.rfind(';');
    if (at == std::string::npos)
        return;
    m_p.state.WaitNumber = text.substr(0, at);
}

void PageRules::waitMinutes(const std::string& number) {
    const std::int64_t seconds = static_cast<std::int64_t>(StrToInt(number)) * 60;
    // A product past 32 bits would wrap into some unrelated, possibly short, wait.
    if (seconds > std::numeric_limits<std::int32_t>::max() ||
        seconds < std::numeric_limits<std::int32_t>::min())
        throw ConversionError("'" + number + "' minutes is not a valid wait");
    CycleState& s = m_p.state;
    armSpan(static_cast<std::int32_t>(seconds), s.WaitText);
    s.PhaseStart = m_p.clock.timeOfDay();
    m_p.timer2.setEnabled(true);
    s.PageHandled = true;
}

void PageRules::armSpan(std::int32_t seconds, std::string& text) {
    text = FormatSecsToHMS(seconds);
    // The h:m:s text holds hours in 16 bits: a wait of 65536 hours or more would wrap into a
    // short one instead of failing like any other wait of a day or more.
    if (seconds >= SecondsPerDayInt)
        throw ConversionError("'" + text + "' is not a valid time");
    m_p.state.WaitSpan = StrToTime(text);
}

} // namespace torvaline
