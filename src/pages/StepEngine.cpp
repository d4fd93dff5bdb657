#include "pages/StepEngine.h"

#include "pages/ConversionError.h"
#include "pages/PageText.h"
#include "pages/ProfileQueries.h"
#include "pages/SiteQuantities.h"
#include "pages/TimeText.h"
#include "platform/AsciiCase.h"
#include "platform/Browser.h"
#include "platform/DayLength.h"
#include "state/CycleState.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace torvaline {

namespace {

using Kind = StepEngine::Outcome::Kind;
using Action = ProfileStep::Action;

// A digit captcha is a handful of digits; a page with more placed characters is not one.
constexpr std::size_t MaxCaptchaDigits = 12;

bool found(const Marker& marker, const PageText& page, std::string& group) {
    const std::string& text = page.text();
    const std::size_t start = page.searchStart();
    if (start >= text.size())
        return false;
    std::size_t at = 0;
    if (marker.pattern)
        return marker.pattern->search(text, start, at, group);
    group = marker.text;
    return text.find(marker.text, start) != std::string::npos;
}

// Case-blind search, for the markup the captcha vendors write in any case.
std::size_t findNoCase(std::string_view text, std::string_view what, std::size_t from = 0) {
    const auto it = std::search(
        text.begin() + static_cast<std::ptrdiff_t>(std::min(from, text.size())), text.end(),
        what.begin(), what.end(), [](char a, char b) { return asciiLower(a) == asciiLower(b); });
    return it == text.end() ? std::string_view::npos : static_cast<std::size_t>(it - text.begin());
}

// The control a press means: as FindControl finds it, but never a hidden field, which a page
// often gives the button's very value to post along.
bool findPressable(const Document& document, const ControlQuery& query, int& form, int& element) {
    if (query.by == ControlQuery::By::FormAction)
        return false;
    const int forms = document.formCount();
    for (form = 0; form < forms; ++form) {
        const int elements = document.formElementCount(form);
        for (element = 0; element < elements; ++element) {
            try {
                if (asciiEqualNoCase(document.elementAttribute(form, element, "type"), "hidden"))
                    continue;
                if (query.by == ControlQuery::By::Value) {
                    if (document.elementValue(form, element) == query.text)
                        return true;
                    continue;
                }
                const char* attribute = query.by == ControlQuery::By::Name ? "name" : "id";
                if (document.elementAttribute(form, element, attribute) == query.text &&
                    (query.by == ControlQuery::By::Id || query.value.empty() ||
                     document.elementValue(form, element) == query.value))
                    return true;
            } catch (const DomError&) {
            }
        }
    }
    return false;
}

StepEngine::Outcome failed(const ProfileStep& step, std::string why) {
    StepEngine::Outcome o;
    o.kind = Kind::Failed;
    o.step = step.name;
    o.failure = std::move(why);
    return o;
}

} // namespace

std::string_view BrowserCaptcha(std::string_view text) {
    // Run on every page: plain searches for the vendors' own spellings, no case folding.
    const auto has = [&](std::string_view what) { return text.find(what) != text.npos; };
    if (has("g-recaptcha") || has("google.com/recaptcha") || has("recaptcha.net/recaptcha"))
        return "reCAPTCHA";
    if (has("h-captcha") || has("hcaptcha.com/"))
        return "hCaptcha";
    return {};
}

bool ImageCaptcha(std::string_view text) {
    if (text.find("aptcha") == std::string_view::npos)
        return false;
    for (std::size_t at = findNoCase(text, "<img"); at != std::string_view::npos;
         at = findNoCase(text, "<img", at + 4)) {
        const std::size_t end = text.find('>', at);
        if (end == std::string_view::npos)
            return false;
        if (findNoCase(text.substr(at, end - at), "captcha") == std::string_view::npos)
            continue;
        // The code field is the captcha's only when it is on the page too.
        return findNoCase(text, "name=\"code\"") != std::string_view::npos ||
               findNoCase(text, "name=\"captcha") != std::string_view::npos;
    }
    return false;
}

std::string ImageCaptchaSource(std::string_view text) {
    for (std::size_t at = findNoCase(text, "<img"); at != std::string_view::npos;
         at = findNoCase(text, "<img", at + 4)) {
        const std::size_t end = text.find('>', at);
        if (end == std::string_view::npos)
            return {};
        const std::string_view tag = text.substr(at, end - at);
        if (findNoCase(tag, "captcha") == std::string_view::npos)
            continue;
        const std::size_t src = findNoCase(tag, "src=");
        if (src == std::string_view::npos || src + 5 >= tag.size())
            return {};
        const char quote = tag[src + 4];
        const std::size_t from = quote == '"' || quote == '\'' ? src + 5 : src + 4;
        const std::size_t to =
            quote == '"' || quote == '\'' ? tag.find(quote, from) : tag.find_first_of(" \t>", from);
        // An address of a sane length, or nothing to fetch.
        const std::string_view value =
            tag.substr(from, (to == std::string_view::npos ? tag.size() : to) - from);
        return value.size() <= 2048 ? std::string(value) : std::string();
    }
    return {};
}

Result<std::string> ReadDigitCaptcha(std::string_view text) {
    std::vector<std::pair<long, char>> digits;
    std::size_t placed = 0;
    for (std::size_t at = findNoCase(text, "padding-left:"); at != std::string_view::npos;
         at = findNoCase(text, "padding-left:", at + 13)) {
        // Only characters placed absolutely draw the captcha; any other padding is layout.
        const std::size_t tag = text.rfind('<', at);
        if (tag == std::string_view::npos ||
            findNoCase(text.substr(tag, at - tag), "position:absolute") == std::string_view::npos)
            continue;
        std::size_t i = at + 13;
        while (i < text.size() && text[i] == ' ')
            ++i;
        long x = 0;
        const std::size_t numberStart = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - numberStart < 6)
            x = x * 10 + (text[i++] - '0');
        const std::size_t close = text.find('>', i);
        if (i == numberStart || close == std::string_view::npos)
            continue;
        const std::size_t next = text.find('<', close);
        const std::string_view shown = text.substr(close + 1, next - close - 1);
        if (++placed > MaxCaptchaDigits)
            return fail(FailureCause::PageUnreadable,
                        "the digit captcha has more than " + std::to_string(MaxCaptchaDigits) +
                            " characters; it is not one that can be read");
        if (shown.size() != 1 || shown[0] < '0' || shown[0] > '9')
            return fail(FailureCause::PageUnreadable,
                        "the digit captcha holds something other than one digit per place");
        digits.emplace_back(x, shown[0]);
    }
    if (digits.empty())
        return fail(FailureCause::PageUnreadable, "the page has no digit captcha to read");
    std::stable_sort(digits.begin(), digits.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string code;
    for (const auto& d : digits)
        code += d.second;
    return code;
}

void StepEngine::reset() {
    m_row = -1;
    m_link.clear();
    m_last = -1;
    m_returns = 0;
    m_name.clear();
}

bool StepEngine::recognised(const ProfileStep& step, const PageText& page,
                            const Document* document) const {
    std::string group;
    for (const Marker& m : step.match) {
        if (!found(m, page, group))
            return false;
    }
    if (!step.countdown.empty() && !found(step.countdown, page, group))
        return false;
    if (!step.control.empty()) {
        if (!document)
            return false;
        try {
            int form = -1;
            int element = -1;
            const bool pressable = step.action == ProfileStep::Action::Press &&
                                   step.control.by != ControlQuery::By::FormAction;
            if (pressable ? !findPressable(*document, step.control, form, element)
                          : FindForm(*document, step.control) < 0)
                return false;
        } catch (const DomError&) {
            return false;
        }
    }
    return true;
}

StepEngine::Outcome StepEngine::act(const HosterProfile& profile, const PageText& page,
                                    Document* document, CycleState& state) {
    if (state.CurrentRow != m_row || state.CurrentURL != m_link) {
        reset();
        m_row = state.CurrentRow;
        m_link = state.CurrentURL;
    }
    for (std::size_t i = 0; i < profile.steps.size(); ++i) {
        const ProfileStep& step = profile.steps[i];
        if (!recognised(step, page, document))
            continue;
        const int index = static_cast<int>(i);
        if (m_last >= 0 && index <= m_last && ++m_returns > MaxReturns)
            return failed(step, "the steps of '" + profile.name + "' go round in circles: step '" +
                                    step.name + "' came back more than " +
                                    std::to_string(MaxReturns) + " times");
        m_last = index;
        if (!profile.fileName.empty()) {
            // A page further on (the link's own) may no longer tell the name.
            if (std::string name = ReadValue(profile.fileName, page, document); !name.empty())
                m_name = std::move(name);
        }
        return perform(profile, step, page, document, state);
    }
    Outcome o;
    o.failure = "the page is none of the steps of '" + profile.name + "'";
    return o;
}

StepEngine::Outcome StepEngine::perform(const HosterProfile& profile, const ProfileStep& step,
                                        const PageText& page, Document* document,
                                        CycleState& state) {
    Outcome o;
    o.step = step.name;
    std::int64_t seconds = 0;
    if (!step.countdown.empty()) {
        std::string group;
        found(step.countdown, page, group);
        const std::optional<std::int64_t> read = ReadDuration(group, 1);
        if (!read || *read >= DayLengthSeconds)
            return failed(step, "the countdown of step '" + step.name + "' cannot be read ('" +
                                    group.substr(0, 40) + "')");
        seconds = *read;
        o.counted = true;
    }
    try {
        ControlQuery field;
        field.by = ControlQuery::By::Name;
        field.text = step.digitCaptcha;
        int codeForm = -1;
        int codeElement = -1;
        // The captcha comes and goes with the site's settings: no field, nothing to read.
        bool digitsRead = false;
        if (!step.digitCaptcha.empty() && document &&
            FindControl(*document, field, codeForm, codeElement)) {
            const Result<std::string> code = ReadDigitCaptcha(page.text());
            if (code) {
                document->setElementValue(codeForm, codeElement, *code);
                digitsRead = true;
            } else if (!ImageCaptcha(page.text())) {
                return failed(step, code.reason());
            }
        }
        if (!digitsRead && ImageCaptcha(page.text())) {
            // A picture only a person reads: the code a person gave goes into the field, else
            // the row waits for one (or fails where nobody is there to read it).
            ControlQuery code;
            code.by = ControlQuery::By::Name;
            code.text = "code";
            int form = -1;
            int element = -1;
            const bool field = document && (FindControl(*document, code, form, element) ||
                                            (code.text = "captcha_code",
                                             FindControl(*document, code, form, element)));
            if (!state.CaptchaCode.empty() && field) {
                document->setElementValue(form, element, state.CaptchaCode);
                state.CaptchaCode.clear();
            } else if (state.CaptchaAttended && field) {
                Outcome asked;
                asked.kind = Kind::Captcha;
                asked.step = step.name;
                asked.url = ImageCaptchaSource(page.text());
                if (asked.url.empty())
                    return failed(step, "needs a captcha");
                return asked;
            } else {
                return failed(step, "needs a captcha");
            }
        }
        state.FinalInBrowser = false;
        state.FinalForm = -1;
        state.FinalElement = -1;
        switch (step.action) {
        case Action::Press:
        case Action::Post: {
            int form = -1;
            int element = -1;
            if (step.action == Action::Press && step.control.by != ControlQuery::By::FormAction) {
                if (!document || !findPressable(*document, step.control, form, element))
                    return failed(step, "step '" + step.name + "' finds no button to press");
            } else {
                form = document ? FindForm(*document, step.control) : -1;
                if (form < 0)
                    return failed(step, "step '" + step.name + "' finds no form to post");
            }
            if (o.counted) {
                // Pressed when the countdown is over, on the page still shown.
                state.FinalInBrowser = true;
                state.FinalForm = form;
                state.FinalElement = element;
                state.FinalURL = document->formAction(form);
                state.FinalPostData.clear();
                state.FinalFileName = profile.fileName.empty()
                                          ? std::string()
                                          : ReadValue(profile.fileName, page, document);
                state.FinalLinkFresh = true;
                o.kind = Kind::Countdown;
                o.seconds = seconds;
                return o;
            }
            if (element >= 0)
                document->click(form, element);
            else
                document->submitForm(form);
            o.kind = Kind::Pressed;
            return o;
        }
        case Action::Follow:
        case Action::Link: {
            CycleState probe;
            probe.FinalFileName = state.FinalFileName;
            FindLink(step.link, profile.fileName, page, document, probe);
            if (!probe.PageHandled || probe.FinalURL.empty())
                return failed(step, "step '" + step.name + "' finds no link to go on with");
            if (step.action == Action::Follow && !o.counted) {
                o.kind = Kind::Follow;
                o.url = probe.FinalURL;
                return o;
            }
            if (step.action == Action::Link && probe.FinalFileName.empty()) {
                probe.FinalFileName = m_name;
                if (probe.FinalFileName.empty()) {
                    const std::string path =
                        probe.FinalURL.substr(0, probe.FinalURL.find_first_of("?#"));
                    probe.FinalFileName = path.substr(path.rfind('/') + 1);
                }
                probe.FinalLinkFresh = !probe.FinalFileName.empty();
            }
            state.FinalURL = std::move(probe.FinalURL);
            state.FinalPostData = std::move(probe.FinalPostData);
            state.FinalFileName = std::move(probe.FinalFileName);
            state.FinalInBrowser = step.action == Action::Follow;
            state.FinalLinkFresh = state.FinalInBrowser || probe.FinalLinkFresh;
            o.kind = Kind::Countdown;
            o.seconds = seconds;
            return o;
        }
        }
    } catch (const DomError& e) {
        return failed(step, "step '" + step.name + "' cannot act on the page (" + e.what() + ")");
    }
    return failed(step, "step '" + step.name + "' has no way forward");
}

} // namespace torvaline
