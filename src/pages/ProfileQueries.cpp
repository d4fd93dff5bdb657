#include "pages/ProfileQueries.h"

#include "pages/FillForm.h"
#include "pages/FinalLink.h"
#include "pages/PageText.h"
#include "platform/AsciiCase.h"
#include "platform/Browser.h"
#include "state/CycleState.h"

#include <exception>
#include <string_view>
#include <utility>

namespace torvaline {

namespace {

using By = ControlQuery::By;

bool markerFinds(const Marker& marker, std::string_view text, std::size_t from,
                 std::string& group) {
    std::size_t at = 0;
    if (marker.pattern)
        return marker.pattern->search(text, from, at, group);
    at = text.find(marker.text, from);
    if (at == std::string_view::npos)
        return false;
    group = marker.text;
    return true;
}

// The value and whether it is page text (a pattern's group) rather than a control's value.
std::string readValue(const ValueSource& source, const PageText& page, const Document* document,
                      bool& fromText) {
    std::string value;
    fromText = true;
    if (!source.pattern.empty() &&
        markerFinds(source.pattern, page.text(), page.searchStart(), value))
        return value;
    fromText = false;
    if (!source.control.empty() && document) {
        ControlQuery query;
        query.by = By::Name;
        query.text = source.control;
        int form = -1;
        int element = -1;
        try {
            if (FindControl(*document, query, form, element))
                return document->elementValue(form, element);
        } catch (const DomError&) {
        }
    }
    return {};
}

// The characters the page text writes as entities, as they are.
std::string unescaped(std::string_view text) {
    static constexpr std::pair<std::string_view, std::string_view> entities[] = {
        {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&nbsp;", "\xC2\xA0"}};
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& [entity, character] : entities) {
                if (text.substr(i, entity.size()) == entity) {
                    out += character;
                    i += entity.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

// Without the blanks, line breaks and no-break spaces around it.
std::string_view trimmed(std::string_view text) {
    constexpr std::string_view nbsp = "\xC2\xA0";
    for (;;) {
        if (!text.empty() &&
            std::string_view(" \t\r\n").find(text.front()) != std::string_view::npos)
            text.remove_prefix(1);
        else if (text.starts_with(nbsp))
            text.remove_prefix(nbsp.size());
        else
            break;
    }
    for (;;) {
        if (!text.empty() &&
            std::string_view(" \t\r\n").find(text.back()) != std::string_view::npos)
            text.remove_suffix(1);
        else if (text.ends_with(nbsp))
            text.remove_suffix(nbsp.size());
        else
            break;
    }
    return text;
}

} // namespace

bool FindControl(const Document& document, const ControlQuery& query, int& form, int& element) {
    const int forms = document.formCount();
    const char* attribute = query.by == By::Name ? "name" : "id";
    for (form = 0; form < forms; ++form) {
        const int elements = document.formElementCount(form);
        for (element = 0; element < elements; ++element) {
            try {
                if (query.by == By::Value) {
                    if (document.elementValue(form, element) == query.text)
                        return true;
                    continue;
                }
                if (document.elementAttribute(form, element, attribute) != query.text)
                    continue;
                if (query.by == By::Id || query.value.empty() ||
                    document.elementValue(form, element) == query.value)
                    return true;
            } catch (const DomError&) {
                // A control without a value (a fieldset) is simply not the one.
            }
        }
    }
    return false;
}

int FindForm(const Document& document, const ControlQuery& query) {
    if (query.by != By::FormAction) {
        int form = -1;
        int element = -1;
        return FindControl(document, query, form, element) ? form : -1;
    }
    const int forms = document.formCount();
    for (int form = 0; form < forms; ++form) {
        std::string group;
        if (markerFinds(query.formAction, document.formAction(form), 0, group))
            return form;
    }
    return -1;
}

bool PressButton(Browser& browser, const ControlQuery& button) {
    if (button.by == By::Value)
        return FillForm(browser, button.text);
    const std::shared_ptr<Document> document = browser.document();
    if (!document)
        throw DomError("the browser holds no document");
    if (button.by == By::FormAction) {
        const int form = FindForm(*document, button);
        if (form < 0)
            return false;
        document->submitForm(form);
        return true;
    }
    int form = -1;
    int element = -1;
    if (!FindControl(*document, button, form, element))
        return false;
    document->click(form, element);
    return true;
}

std::string ReadValue(const ValueSource& source, const PageText& page, const Document* document) {
    bool fromText = false;
    return readValue(source, page, document, fromText);
}

std::string ReadPagePassword(const ValueSource& source, const PageText& page,
                             const Document* document) {
    if (source.empty())
        return {};
    bool fromText = false;
    std::string value = readValue(source, page, document, fromText);
    // Each entity is six characters at most: a longer capture cannot become a password.
    if (value.size() > MaxPagePassword * 6 + 64)
        return {};
    if (fromText)
        value = unescaped(value);
    const std::string_view password = trimmed(value);
    if (password.empty() || password.size() > MaxPagePassword)
        return {};
    for (const char c : password) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return {};
    }
    // The parser's stand-in for a character the page could not spell: the password is not
    // known, whatever it is.
    if (password.find("\xEF\xBF\xBD") != std::string_view::npos)
        return {};
    return std::string(password);
}

std::string ReadPageChecksum(const ValueSource& source, const PageText& page,
                             const Document* document) {
    if (source.empty())
        return {};
    bool fromText = false;
    const std::string value = readValue(source, page, document, fromText);
    if (value.size() > 256)
        return {};
    const std::string_view digits = trimmed(value);
    if (digits.size() != 32 && digits.size() != 40)
        return {};
    std::string checksum;
    for (const char c : digits) {
        if (asciiHexValue(c) < 0)
            return {};
        checksum += asciiLower(c);
    }
    return checksum;
}

void FindProfileLink(const HosterProfile& profile, const PageText& page, const Document* document,
                     CycleState& state) {
    FindLink(profile.link, profile.fileName, page, document, state);
}

void FindLink(const LinkSource& link, const ValueSource& fileName, const PageText& page,
              const Document* document, CycleState& state) {
    using From = LinkSource::From;
    std::string url;
    std::string post;
    bool found = false;
    try {
        switch (link.from) {
        case From::Cut: {
            CutFinalURL(page, state,
                        {link.marker, link.startMark, link.endMark, link.piece, link.trimTail});
            if (state.PageHandled && !fileName.empty()) {
                const std::string name = ReadValue(fileName, page, document);
                state.FinalFileName = name;
                state.FinalLinkFresh = !state.FinalURL.empty() && !name.empty();
            }
            return;
        }
        case From::Pattern:
            found = markerFinds(link.pattern, page.text(), page.searchStart(), url);
            break;
        case From::Anchor:
            if (!document)
                break;
            for (const std::string& href : document->anchorHrefs()) {
                std::string group;
                if (markerFinds(link.pattern, href, 0, group)) {
                    url = href;
                    found = true;
                    break;
                }
            }
            break;
        case From::FormAction:
        case From::PostForm: {
            if (!document)
                break;
            const int form = FindForm(*document, link.control);
            if (form < 0)
                break;
            if (link.from == From::FormAction) {
                url = document->formAction(form);
                found = true;
                break;
            }
            const Document::Post request = document->formPost(form);
            // The transfer posts form data as a browser encodes it by default and nothing else.
            if (request.method == "POST" &&
                request.contentType != "application/x-www-form-urlencoded")
                break;
            url = request.url;
            if (request.method == "POST")
                post = request.body;
            found = true;
            break;
        }
        }
    } catch (const DomError&) {
        found = false;
    }
    if (!found) {
        state.PageHandled = false;
        return;
    }
    state.FinalURL = std::move(url);
    state.FinalPostData = std::move(post);
    bool named = false;
    if (!fileName.empty()) {
        state.FinalFileName = ReadValue(fileName, page, document);
        named = !state.FinalFileName.empty();
    } else {
        named = state.FinalURL.find('/') != std::string::npos;
        GetFileName(state.FinalURL, '/', state);
    }
    state.FinalLinkFresh = !state.FinalURL.empty() && named;
    state.PageHandled = true;
}

} // namespace torvaline
