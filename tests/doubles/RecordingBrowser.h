#pragma once

#include "platform/Browser.h"

#include <string>
#include <vector>

namespace torvaline::test {

// A browser that loads nothing: it records what it was asked and lets the test fire its
// events, so each page of a row arrives exactly when the test says.
class RecordingBrowser final : public Browser {
public:
    void Navigate(const std::string& url) override {
        navigations.push_back(url);
        if (m_events.beforeNavigate)
            m_events.beforeNavigate(url);
    }
    void Stop() override { ++stops; }
    std::shared_ptr<Document> document() override { return nullptr; }
    void setEvents(BrowserEvents events) override { m_events = std::move(events); }

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

    std::vector<std::string> navigations;
    int stops = 0;

private:
    BrowserEvents m_events;
};

} // namespace torvaline::test
