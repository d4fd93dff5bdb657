#pragma once

#include "platform/Browser.h"

namespace torvaline {

// A browser that loads nothing, for a window rendered without the network.
class NullBrowser final : public Browser {
public:
    void Navigate(const std::string& url) override;
    void Stop() override {}
    std::shared_ptr<Document> document() override { return nullptr; }
    void setEvents(BrowserEvents events) override { m_events = std::move(events); }

    const std::string& lastUrl() const { return m_lastUrl; }

private:
    BrowserEvents m_events;
    std::string m_lastUrl;
};

} // namespace torvaline
