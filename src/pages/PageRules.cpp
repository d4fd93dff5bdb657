#include "pages/PageRules.h"

#include "pages/ConversionError.h"
#include "pages/FinalLink.h"
#include "pages/PageText.h"
#include "pages/ProfileQueries.h"
#include "pages/SiteQuantities.h"
#include "pages/TimeText.h"
#include "platform/Browser.h"
#include "platform/Clock.h"
#include "platform/Timer.h"
#include "state/CycleState.h"

#include <limits>

namespace torvaline {

namespace {

using R = ProfileMessage::Reaction;
using C = ProfileMessage::Cut;

} // namespace

PageRules::PageRules(Ports ports, Hooks hooks)
    : m_p(ports)
    , m_hooks(std::move(hooks))
    , m_profile(&m_compiled.forRow({}, {})) {}

void PageRules::setProfiles(const HosterProfiles* profiles) {
    m_profiles = profiles ? profiles : &m_compiled;
    m_profile = &m_profiles->forRow({}, {});
}

const HosterProfile& PageRules::chooseProfile() {
    const std::string host = m_hooks.currentHost ? m_hooks.currentHost() : std::string();
    m_profile = &m_profiles->forRow(host, m_p.state.CurrentURL);
    return *m_profile;
}

void PageRules::Memo2Change() {
    const HosterProfile& profile = chooseProfile();
    m_lastFound = nullptr;
    m_failure.clear();
    m_stepOutcome = {};
    readArchiveKeys(profile);
    for (const ProfileMessage& r : profile.messages) {
        if (m_p.state.PageHandled) {
            m_steps.messageActed();
            return;
        }
        apply(r);
    }
    if (m_p.state.PageHandled) {
        m_steps.messageActed();
        return;
    }
    // Nobody answers these for the user; pressing on would only bring the page back.
    if (const std::string_view captcha = BrowserCaptcha(m_p.page.text()); !captcha.empty()) {
        fail("needs a browser captcha (" + std::string(captcha) + ")");
        return;
    }
    if (!profile.steps.empty()) {
        runSteps();
        return;
    }
    if (m_hooks.freeUserStep)
        m_hooks.freeUserStep();
}

void PageRules::readArchiveKeys(const HosterProfile& profile) {
    if (profile.password.empty() && profile.checksum.empty())
        return;
    // Any page of the row may say it (the file's page, the countdown page): a page that says
    // nothing keeps what an earlier one said.
    std::shared_ptr<Document> document;
    if ((!profile.password.control.empty() || !profile.checksum.control.empty()) && m_document)
        document = m_document();
    CycleState& s = m_p.state;
    if (std::string password = ReadPagePassword(profile.password, m_p.page, document.get());
        !password.empty())
        s.PagePassword = std::move(password);
    if (std::string checksum = ReadPageChecksum(profile.checksum, m_p.page, document.get());
        !checksum.empty())
        s.PageChecksum = std::move(checksum);
}

void PageRules::fail(const std::string& why) {
    m_failure = why;
    m_p.timer1.setEnabled(false);
    m_p.timer2.setEnabled(false);
    m_p.state.PageHandled = true;
    if (m_hooks.failRow)
        m_hooks.failRow(why);
}

void PageRules::runSteps() {
    using Kind = StepEngine::Outcome::Kind;
    std::shared_ptr<Document> document;
    if (m_document)
        document = m_document();
    CycleState& s = m_p.state;
    m_stepOutcome = m_steps.act(*m_profile, m_p.page, document.get(), s);
    switch (m_stepOutcome.kind) {
    case Kind::Failed:
        fail(m_stepOutcome.failure);
        return;
    case Kind::Pressed:
        s.PageHandled = true;
        return;
    case Kind::Captcha:
        s.PageHandled = true;
        s.CaptchaImage = m_stepOutcome.url;
        if (m_hooks.captcha)
            m_hooks.captcha();
        else
            fail("needs a captcha");
        return;
    case Kind::Follow:
        s.PageHandled = true;
        if (m_hooks.navigate)
            m_hooks.navigate(m_stepOutcome.url);
        return;
    case Kind::Countdown:
        try {
            armSpan(static_cast<std::int32_t>(m_stepOutcome.seconds), s.CountdownText);
        } catch (const ConversionError& e) {
            fail(std::string("the hoster's wait cannot be read (") + e.what() + ")");
            return;
        }
        s.PhaseStart = m_p.clock.timeOfDay();
        m_p.timer1.setEnabled(true);
        s.PageHandled = true;
        return;
    }
}

std::size_t PageRules::find(const Marker& marker, std::string& group) {
    const std::string& text = m_p.page.text();
    const std::size_t start = m_p.page.searchStart();
    std::size_t at = std::string::npos;
    if (start < text.size()) {
        if (marker.pattern) {
            if (!marker.pattern->search(text, start, at, group))
                at = std::string::npos;
        } else {
            at = text.find(marker.text, start);
        }
    }
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

void PageRules::apply(const ProfileMessage& r) {
    std::string group;
    const std::size_t p = find(r.marker, group);
    if (p == 0)
        return;
    m_lastFound = &r;
    if (r.reaction == R::Fail) {
        std::string why = r.reason;
        if (const std::size_t at = why.find("$1"); at != std::string::npos)
            why.replace(at, 2, group.substr(0, 64));
        fail(why);
        return;
    }
    if (r.reaction == R::Missing) {
        if (m_hooks.DeleteURLError)
            m_hooks.DeleteURLError();
        return;
    }
    if (!m_hooks.failRow) {
        readNumber(r, p, group);
        return;
    }
    try {
        readNumber(r, p, group);
    } catch (const ConversionError& e) {
        // A wait nobody can read: neither an earlier page's number nor an endless stall.
        m_p.timer1.setEnabled(false);
        m_p.timer2.setEnabled(false);
        m_p.state.PageHandled = true;
        m_hooks.failRow(std::string("the hoster's wait cannot be read (") + e.what() + ")");
    }
}

void PageRules::readNumber(const ProfileMessage& r, std::size_t p, const std::string& group) {
    CycleState& s = m_p.state;
    // Only this page's number counts: one an earlier page left would time the wrong wait.
    s.WaitNumber.clear();
    // What an exact marker's number is read from; a pattern's capture group is the number.
    const auto read = [&] {
        if (r.marker.pattern)
            s.WaitText = group;
        else
            s.WaitText = cut(p + r.marker.text.size() + r.skip, r.length);
        // A number read as it stands leaves WaitNumber alone.
        if (r.marker.pattern)
            s.WaitNumber = group;
        else if (r.cut == C::BeforeM)
            GetTimeAbout();
        else if (r.cut == C::BeforeSemi)
            GetTime();
    };
    // A pattern may capture the wait as the site writes it ("1 hour, 5 minutes"); a bare
    // number keeps the unit it always had.
    const bool spelled =
        r.marker.pattern && group.find_first_not_of(" 0123456789") != std::string::npos;
    switch (r.reaction) {
    case R::Missing:
    case R::Fail:
        return;
    case R::WaitMinutes:
        read();
        if (spelled) {
            const auto seconds = ReadDuration(group, 60);
            if (!seconds)
                throw ConversionError("'" + group + "' is not a wait");
            waitSeconds(*seconds, group + "'");
            return;
        }
        // A number read as it stands is also the text the wait shows.
        waitMinutes(!r.marker.pattern && r.cut == C::AsRead ? s.WaitText : s.WaitNumber);
        return;
    case R::FixedWait:
    case R::Limit:
        s.WaitText = std::to_string(r.minutes);
        waitMinutes(s.WaitText);
        return;
    case R::Countdown:
        read();
        if (spelled) {
            const auto seconds = ReadDuration(group, 1);
            if (!seconds)
                throw ConversionError("'" + group + "' is not a countdown");
            s.WaitNumber = std::to_string(*seconds);
        }
        if (!r.marker.pattern && r.cut == C::BeforeSemi &&
            s.WaitText.find(';') == std::string::npos) {
            // Four digits or more ("var c=1000;"): the number runs on to its ";".
            const std::string longer = cut(p + r.marker.text.size() + r.skip, 12);
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
    s.FinalPostData.clear();
    s.FinalInBrowser = false;
    std::shared_ptr<Document> document;
    if (m_profile->link.from != LinkSource::From::Cut || !m_profile->fileName.control.empty()) {
        if (m_document)
            document = m_document();
    }
    FindProfileLink(*m_profile, m_p.page, document.get(), s);
    armSpan(StrToInt(s.WaitNumber), s.CountdownText);
    s.PhaseStart = m_p.clock.timeOfDay();
    m_p.timer1.setEnabled(true);
    s.PageHandled = true;
}

void PageRules::applyNamed(std::string_view name) {
    const HosterProfile& profile = chooseProfile();
    for (const ProfileMessage& r : profile.messages) {
        if (r.name == name) {
            apply(r);
            return;
        }
    }
}

// Each rule alone, by name, as the cycle and the tests call them.
// clang-format off
void PageRules::FindFileError() { applyNamed("FindFileError"); }
void PageRules::FindError() { applyNamed("FindError"); }
void PageRules::TryAgainAbout() { applyNamed("TryAgainAbout"); }
void PageRules::TryAgain() { applyNamed("TryAgain"); }
void PageRules::FindSlots() { applyNamed("FindSlots"); }
void PageRules::FindWait() { applyNamed("FindWait"); }
void PageRules::FindStill() { applyNamed("FindStill"); }
void PageRules::FindAbout() { applyNamed("FindAbout"); }
void PageRules::FindReach() { applyNamed("FindReach"); }
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
    waitSeconds(static_cast<std::int64_t>(StrToInt(number)) * 60, number + "' minutes");
}

void PageRules::waitSeconds(std::int64_t seconds, const std::string& what) {
    // A product past 32 bits would wrap into some unrelated, possibly short, wait.
    if (seconds > std::numeric_limits<std::int32_t>::max() ||
        seconds < std::numeric_limits<std::int32_t>::min())
        throw ConversionError("'" + what + " is not a valid wait");
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
