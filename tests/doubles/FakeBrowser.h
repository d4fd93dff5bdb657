#pragma once

#include "platform/Browser.h"

#include <memory>
#include <string>
#include <vector>

namespace torvaline::test {

// A browser whose current document the test sets. Navigate records the address and fires
// before-navigate at once, as a form submission would; the test fires document-complete.
class FakeBrowser final : public Browser {
public:
    void Navigate(const std::string& url) override {
        navigations.push_back(url);
        if (m_events.beforeNavigate)
            m_events.beforeNavigate(url);
    }
    void Stop() override { ++stops; }
    std::shared_ptr<Document> document() override {
        ++documentReads;
        return current;
    }
    void setEvents(BrowserEvents events) override { m_events = std::move(events); }

    // Makes doc the current document and reports it complete.
    void load(std::shared_ptr<Document> doc, const std::string& url = {}) {
        current = std::move(doc);
        completeDocument(url);
    }
    void completeDocument(const std::string& url = {}) {
        if (m_events.documentComplete)
            m_events.documentComplete(DocumentCompleteEvent{url, {}});
        if (m_events.downloadComplete)
            m_events.downloadComplete();
    }

    std::shared_ptr<Document> current;
    std::vector<std::string> navigations;
    int stops = 0;
    int documentReads = 0;

private:
    BrowserEvents m_events;
};

} // namespace torvaline::test
