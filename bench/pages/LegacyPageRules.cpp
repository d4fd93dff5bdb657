// The page rules as they were compiled in before hoster profiles, kept for the benchmark alone:
// the yardstick the built-in profile is timed against.
#include "LegacyPageRules.h"

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
struct LegacyPageRules::Rule {
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

using Rule = LegacyPageRules::Rule;
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

LegacyPageRules::LegacyPageRules(Ports ports, Hooks hooks)
    : m_p(ports)
    , m_hooks(std::move(hooks)) {}

void LegacyPageRules::Memo2Change() {
    for (const Rule& r : kRules) {
        if (m_p.state.PageHandled)
            return;
        apply(r);
    }
    if (!m_p.state.PageHandled && m_hooks.freeUserStep)
        m_hooks.freeUserStep();
}

std::size_t LegacyPageRules::find(std::string_view marker) {
    const std::string& text = m_p.page.text();
    const std::size_t start = m_p.page.searchStart();
    const std::size_t at = start < text.size() ? text.find(marker, start) : std::string::npos;
    if (at == std::string::npos) {
        m_p.state.PageHandled = false;
        return 0;
    }
    return at + 1;
}

std::string LegacyPageRules::cut(std::size_t from, std::size_t n) const {
    const std::string& text = m_p.page.text();
    if (from == 0 || from > text.size())
        return {};
    return text.substr(from - 1, n);
}

void LegacyPageRules::apply(const Rule& r) {
    const std::size_t p = find(r.marker);
    if (p == 0)
        return;
    CycleState& s = m_p.state;
    switch (r.reaction) {
    case R::BadLink:
        if (m_hooks.DeleteURLError)
            m_hooks.DeleteURLError();
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
        armCountdown();
        return;
    }
}

void LegacyPageRules::armCountdown() {
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
void LegacyPageRules::FindFileError() { apply(rule("FindFileError")); }
void LegacyPageRules::FindError() { apply(rule("FindError")); }
void LegacyPageRules::TryAgainAbout() { apply(rule("TryAgainAbout")); }
void LegacyPageRules::TryAgain() { apply(rule("TryAgain")); }
void LegacyPageRules::FindSlots() { apply(rule("FindSlots")); }
void LegacyPageRules::FindWait() { apply(rule("FindWait")); }
void LegacyPageRules::FindStill() { apply(rule("FindStill")); }
void LegacyPageRules::FindAbout() { apply(rule("FindAbout")); }
void LegacyPageRules::FindReach() { apply(rule("FindReach")); }
// clang-format on

void LegacyPageRules::GetTimeAbout() {
    const std::string& text = m_p.state.WaitText;
    const std::size_t at = text.rfind('m');
    if (at == std::string::npos)
        return;
    // 1-based index i = at + 1; keep the first i - 2 characters.
    m_p.state.WaitNumber = at == 0 ? std::string() : text.substr(0, at - 1);
}

void LegacyPageRules::GetTime() {
    const std::string& text = m_p.state.WaitText;
    const std::size_t at = text.rfind(';');
    if (at == std::string::npos)
        return;
    m_p.state.WaitNumber = text.substr(0, at);
}

void LegacyPageRules::waitMinutes(const std::string& number) {
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

void LegacyPageRules::armSpan(std::int32_t seconds, std::string& text) {
    text = FormatSecsToHMS(seconds);
    // The h:m:s text holds hours in 16 bits: a wait of 65536 hours or more would wrap into a
    // short one instead of failing like any other wait of a day or more.
    if (seconds >= DayLengthSeconds)
        throw ConversionError("'" + text + "' is not a valid time");
    m_p.state.WaitSpan = StrToTime(text);
}

} // namespace torvaline
