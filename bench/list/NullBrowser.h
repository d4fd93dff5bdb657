#pragma once

#include "platform/Browser.h"

namespace torvaline {

// A browser that loads nothing, for a window rendered without the network.
class NullBrowser final : public Browser {
public:
    void Navigate(const std::string&) override {}
    void Stop() override {}
    std::shared_ptr<Document> document() override { return nullptr; }
    void setEvents(BrowserEvents events) override { m_events = std::move(events); }

private:
    BrowserEvents m_events;
};

} // namespace torvaline
