#pragma once

#include "platform/Browser.h"

#include <memory>
#include <string>
#include <vector>

namespace torvaline::test {

// A browser that loads nothing: the test sets its current document (none by default) and fires
// its events, so each page arrives exactly when the test says. Navigate records the address
// and fires before-navigate at once, as a form submission would.
class FakeBrowser final : public Browser {
public:
    void Navigate(const std::string& url) override {
        navigations.push_back(url);
        navigatedWith.push_back(options);
        if (m_events.beforeNavigate)
            m_events.beforeNavigate(url);
    }
    void Stop() override { ++stops; }
    std::shared_ptr<Document> document() override {
        ++documentReads;
        return current;
    }
    void setEvents(BrowserEvents events) override { m_events = std::move(events); }
    void setRequestOptions(RequestOptions asked) override { options = std::move(asked); }

    // Makes doc the current document and reports it complete.
    void load(std::shared_ptr<Document> doc, const std::string& url = {}) {
        current = std::move(doc);
        completeDocument(url);
    }
    // error: why the page could not be loaded (empty when it loaded).
    void completeDocument(const std::string& url = {}, const std::string& error = {}) {
        if (m_events.documentComplete)
            m_events.documentComplete(DocumentCompleteEvent{url, error});
        if (m_events.downloadComplete)
            m_events.downloadComplete();
    }
    // Returns the cancel flag the handler left.
    bool askNewWindow(const std::string& url) {
        bool cancel = false;
        if (m_events.newWindow)
            m_events.newWindow(url, cancel);
        return cancel;
    }

    std::shared_ptr<Document> current;
    std::vector<std::string> navigations;
    // The row's request options in force at each navigation, and now.
    std::vector<RequestOptions> navigatedWith;
    RequestOptions options;
    int stops = 0;
    int documentReads = 0;

private:
    BrowserEvents m_events;
};

} // namespace torvaline::test
