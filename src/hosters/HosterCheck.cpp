#include "hosters/HosterCheck.h"

#include "adapters/html/GumboDocument.h"
#include "pages/ConversionError.h"
#include "pages/HosterProfiles.h"
#include "pages/PageRules.h"
#include "pages/PageText.h"
#include "pages/ProfileQueries.h"
#include "pages/SiteQuantities.h"
#include "platform/AsciiCase.h"
#include "platform/Browser.h"
#include "platform/Clock.h"
#include "platform/DayLength.h"
#include "platform/Timer.h"
#include "state/CycleState.h"

#include <cmath>

namespace torvaline {

namespace {

class StillClock final : public Clock {
public:
    double timeOfDay() const override { return 0.5; }
};

class IdleTimer final : public Timer {
public:
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    bool enabled() const override { return m_enabled; }
    void setOnTick(std::function<void()>) override {}

private:
    bool m_enabled = false;
};

// A browser holding one page; what it would submit is noted, never sent.
class PageBrowser final : public Browser {
public:
    explicit PageBrowser(std::shared_ptr<GumboDocument> document)
        : m_document(std::move(document)) {
        m_document->setSubmitHandler([this](const FormSubmission&) { submitted = true; });
    }
    void Navigate(const std::string&) override {}
    void Stop() override {}
    std::shared_ptr<Document> document() override { return m_document; }
    void setEvents(BrowserEvents) override {}
    bool submitted = false;

private:
    std::shared_ptr<GumboDocument> m_document;
};

std::string describe(const PageOutcome& o) {
    std::string text = o.reaction;
    if (o.wait >= 0)
        text += " " + std::to_string(o.wait) + " s";
    if (!o.link.empty())
        text += ", link " + o.link;
    if (!o.name.empty())
        text += ", name " + o.name;
    if (!o.size.empty())
        text += ", size " + o.size;
    if (o.bytes >= 0)
        text += " (" + std::to_string(o.bytes) + " bytes)";
    if (!o.password.empty())
        text += ", password " + o.password;
    if (!o.checksum.empty())
        text += ", checksum " + o.checksum;
    if (!o.step.empty())
        text += ", step " + o.step;
    if (!o.failure.empty())
        text += " (" + o.failure + ")";
    return text;
}

} // namespace

PageOutcome RunProfileOnPage(const HosterProfile& profile, const std::string& html,
                             const std::string& url) {
    PageOutcome outcome;
    std::shared_ptr<GumboDocument> document;
    try {
        document = std::make_shared<GumboDocument>(html, url);
    } catch (const std::exception& e) {
        outcome.reaction = "none";
        outcome.failure = e.what();
        return outcome;
    }
    PageBrowser browser(document);
    const HosterProfiles profiles({profile});
    PageText page;
    CycleState state;
    state.CurrentURL = url;
    StillClock clock;
    IdleTimer timer1;
    IdleTimer timer2;
    bool missing = false;
    bool pressed = false;
    std::string followed;
    PageRules rules({page, state, clock, timer1, timer2},
                    {[&] { missing = true; },
                     [&] { pressed = PressButton(browser, profile.button) || browser.submitted; },
                     [&] { return profile.name; },
                     {},
                     [&](const std::string& url) { followed = url; }});
    rules.setProfiles(&profiles);
    rules.setDocument([&] { return document; });
    page.setOnChange([&] { rules.Memo2Change(); });
    try {
        page.replace(document->bodyInnerHTML());
    } catch (const std::exception& e) {
        outcome.failure = e.what();
    }
    if (!profile.fileName.empty())
        outcome.pageName = ReadValue(profile.fileName, page, document.get());
    if (!profile.size.empty()) {
        outcome.size = ReadValue(profile.size, page, document.get());
        if (const auto bytes = ReadSize(outcome.size))
            outcome.bytes = static_cast<long long>(*bytes);
    }
    outcome.password = state.PagePassword;
    outcome.checksum = state.PageChecksum;
    outcome.step = rules.lastStep().step;
    const auto seconds = [](double days) {
        return static_cast<int>(std::lround(days * DayLengthSeconds));
    };
    if (missing) {
        outcome.reaction = "missing";
    } else if (!rules.lastFailure().empty()) {
        outcome.reaction = "failed";
        outcome.failure = rules.lastFailure();
    } else if (!followed.empty()) {
        outcome.reaction = "follow";
        outcome.link = followed;
    } else if (timer1.enabled()) {
        const bool counted = rules.lastStep().step.empty() || rules.lastStep().counted;
        outcome.reaction = counted ? "countdown" : "link";
        outcome.wait = seconds(state.WaitSpan);
        if (state.FinalLinkFresh) {
            outcome.link = state.FinalURL;
            outcome.name = state.FinalFileName;
        }
    } else if (timer2.enabled()) {
        const ProfileMessage* found = rules.lastFound();
        outcome.reaction =
            found && found->reaction == ProfileMessage::Reaction::Limit ? "limit" : "wait";
        outcome.wait = seconds(state.WaitSpan);
    } else {
        pressed = pressed || browser.submitted;
        outcome.reaction = pressed ? "button" : "none";
    }
    return outcome;
}

bool CheckHosters(const std::vector<HosterProfile>& profiles,
                  const std::vector<std::string>& problems, std::ostream& out) {
    int pages = 0;
    int failed = 0;
    for (const std::string& problem : problems)
        out << "REFUSED " << problem << "\n";
    for (const HosterProfile& p : profiles) {
        int index = 0;
        for (const ProfileTestPage& t : p.tests) {
            ++index;
            ++pages;
            const PageOutcome o = RunProfileOnPage(p, t.html, t.url);
            std::string wrong;
            if (o.reaction != t.reaction)
                wrong = "expected " + t.reaction;
            else if (t.wait >= 0 && o.wait != t.wait)
                wrong = "expected " + std::to_string(t.wait) + " s";
            else if (!t.link.empty() && o.link != t.link)
                wrong = "expected link " + t.link;
            else if (!t.name.empty() && o.name != t.name)
                wrong = "expected name " + t.name;
            else if (!t.size.empty() && o.size != t.size)
                wrong = "expected size " + t.size;
            else if (t.bytes >= 0 && o.bytes != t.bytes)
                wrong = "expected " + std::to_string(t.bytes) + " bytes";
            else if (!t.password.empty() && o.password != t.password)
                wrong = "expected password " + t.password;
            else if (!t.checksum.empty() && o.checksum != asciiLower(t.checksum))
                wrong = "expected checksum " + t.checksum;
            else if (!t.step.empty() && o.step != t.step)
                wrong = "expected step " + t.step;
            else if (!t.reason.empty() && o.failure.find(t.reason) == std::string::npos)
                wrong = "expected the reason '" + t.reason + "'";
            if (!wrong.empty())
                ++failed;
            out << (wrong.empty() ? "ok   " : "FAIL ") << p.name << " page " << index << " ("
                << t.file << ", " << p.origin << "): " << describe(o);
            if (!wrong.empty())
                out << " - " << wrong;
            out << "\n";
        }
    }
    out << pages - failed << " of " << pages << " pages hold in " << profiles.size() << " profiles";
    if (!problems.empty())
        out << "; " << problems.size() << " profile files refused";
    out << "\n";
    return failed == 0 && problems.empty();
}

} // namespace torvaline
