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

// A hoster message and what it sets in motion. Each rule looks for its marker from the page's
// search start; what it reads lies right behind the marker, `skip` characters on.
struct PageRules::Rule {
    enum class Reaction {
        BadLink,      // the cycle's bad-link step
        MinutesAbout, // a wait in minutes, read up to the "m" of its unit, on Timer2
        Minutes,      // a wait in minutes, read as it stands, on Timer2
        FixedMinutes, // a wait the message does not spell out, on Timer2
        Countdown,    // the seconds before the direct link, read up to ";", on Timer1
    };
    std::string_view name;
    std::string_view marker;
    Reaction reaction;
    std::size_t skip = 0;
    std::size_t length = 0; // how many characters are read
    char minutes = 0;       // the wait of FixedMinutes
};

namespace {

using Rule = PageRules::Rule;
using R = Rule::Reaction;

// Tried in this order on every change of the page text, until one acts. Name, marker, reaction,
// then for the rules that read a number: characters skipped behind the marker, characters read;
// for a fixed wait: its minutes.
constexpr Rule kRules[] = {
    {"FindFileError", "This file is suspected to contain illegal", R::BadLink},
    {"FindError", "The file could not be found. Please check the download link.", R::BadLink},
    {"TryAgainAbout", "Or try again in about", R::MinutesAbout, 1, 18},
    {"TryAgain", "try again in", R::MinutesAbout, 1, 9},
    {"FindSlots", "Unfortunately right now our servers are over", R::FixedMinutes, 0, 0, '2'},
    // One character only: a wait of 15 minutes reads as 1.
    {"FindWait", "Unfortunately you will have to wait", R::Minutes, 1, 1},
    {"FindStill", "var c=", R::Countdown, 0, 4},
    {"FindAbout", "again in about", R::MinutesAbout, 1, 11},
    {"FindReach", "You have reached the download limit for free-users", R::FixedMinutes, 0, 0, '1'},
};

consteval const Rule& rule(std::string_view name) {
    for (const Rule& r : kRules) {
        if (r.name == name)
            return r;
    }
    throw "no page rule of that name";
}

} // namespace

PageRules::PageRules(Ports ports, Hooks hooks)
    : m_p(ports)
    , m_hooks(std::move(hooks)) {}

void PageRules::Memo2Change() {
    for (const Rule& r : kRules) {
        if (m_p.state.PageHandled)
            return;
        apply(r);
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

void PageRules::apply(const Rule& r) {
    const std::size_t p = find(r.marker);
    if (p == 0)
        return;
    if (r.reaction == R::BadLink) {
        if (m_hooks.DeleteURLError)
            m_hooks.DeleteURLError();
        return;
    }
    if (!m_hooks.failRow) {
        readNumber(r, p);
        return;
    }
    try {
        readNumber(r, p);
    } catch (const ConversionError& e) {
        // A wait nobody can read: neither an earlier page's number nor an endless stall.
        m_p.timer1.setEnabled(false);
        m_p.timer2.setEnabled(false);
        m_p.state.PageHandled = true;
        m_hooks.failRow(std::string("the hoster's wait cannot be read (") + e.what() + ")");
    }
}

void PageRules::readNumber(const Rule& r, std::size_t p) {
    CycleState& s = m_p.state;
    // Only this page's number counts: one an earlier page left would time the wrong wait.
    s.WaitNumber.clear();
    switch (r.reaction) {
    case R::BadLink:
        return;
    case R::MinutesAbout:
        s.WaitText = cut(p + r.marker.size() + r.skip, r.length);
        GetTimeAbout();
        waitMinutes(s.WaitNumber);
        return;
    case R::Minutes:
        s.WaitText = cut(p + r.marker.size() + r.skip, r.length);
        waitMinutes(s.WaitText);
        return;
    case R::FixedMinutes:
        // Built, not assigned from a literal: GCC 12 at -O3 warns falsely (-Wrestrict) on that.
        s.WaitText = std::string(1, r.minutes);
        waitMinutes(s.WaitText);
        return;
    case R::Countdown:
        s.WaitText = cut(p + r.marker.size() + r.skip, r.length);
        GetTime();
        if (s.WaitText.find(';') == std::string::npos) {
            // Four digits or more ("var c=1000;"): the number runs on to its ";".
            const std::string longer = cut(p + r.marker.size() + r.skip, 12);
            const std::size_t semicolon = longer.find(';');
            if (semicolon != std::string::npos)
                s.WaitNumber = longer.substr(0, semicolon);
        }
        armCountdown();
        return;
    }
}

void PageRules::armCountdown() {
    CycleState& s = m_p.state;
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

// Each rule alone, by name, as the cycle and the tests call them.
// clang-format off
void PageRules::FindFileError() { apply(rule("FindFileError")); }
void PageRules::FindError() { apply(rule("FindError")); }
void PageRules::TryAgainAbout() { apply(rule("TryAgainAbout")); }
void PageRules::TryAgain() { apply(rule("TryAgain")); }
void PageRules::FindSlots() { apply(rule("FindSlots")); }
void PageRules::FindWait() { apply(rule("FindWait")); }
void PageRules::FindStill() { apply(rule("FindStill")); }
void PageRules::FindAbout() { apply(rule("FindAbout")); }
void PageRules::FindReach() { apply(rule("FindReach")); }
// clang-format on

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
    if (seconds >= DayLengthSeconds)
        throw ConversionError("'" + text + "' is not a valid time");
    m_p.state.WaitSpan = StrToTime(text);
}

} // namespace torvaline
