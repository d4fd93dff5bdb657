#include "pages/ProfileQueries.h"

#include "pages/FillForm.h"
#include "pages/FinalLink.h"
#include "pages/PageText.h"
#include "platform/Browser.h"
#include "state/CycleState.h"

#include <exception>

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
    std::string value;
    if (!source.pattern.empty() &&
        markerFinds(source.pattern, page.text(), page.searchStart(), value))
        return value;
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
