#pragma once

#include "adapters/curl/PageFetch.h"
#include "platform/Browser.h"
#include "platform/WorkerCount.h"

#include <memory>
#include <string>

namespace torvaline {

class CurlShare;
class EventLoop;

// The embedded browser on libcurl and gumbo. Each navigation runs on a worker thread of its own;
// a new navigation or Stop abandons the one in flight. Every event is delivered on the GUI thread
// (the one calling Navigate), through the event loop. Only http and https are fetched, on
// redirects too. One page is parsed at a time; a parse cannot be interrupted, so one that was
// given up runs out on its own, and the browser's end does not wait for it (only for a transfer,
// which stops within a tenth of a second). The browser must be destroyed before the share and
// the event loop it uses.
class HttpBrowser final : public Browser {
public:
    using Options = PageOptions;

    HttpBrowser(EventLoop& loop, CurlShare& share);
    HttpBrowser(EventLoop& loop, CurlShare& share, Options options);
    ~HttpBrowser() override;
    HttpBrowser(const HttpBrowser&) = delete;
    HttpBrowser& operator=(const HttpBrowser&) = delete;

    void Navigate(const std::string& url) override;
    void Stop() override;
    std::shared_ptr<Document> document() override;
    void setEvents(BrowserEvents events) override;
    void setRequestOptions(RequestOptions options) override;

    // Whether a navigation has started and not yet completed.
    bool busy() const override;
    // Each navigation's worker is counted in `count` from now on, from its start to the end of
    // its thread (a parse given up included); null: not counted.
    void countWorkers(std::shared_ptr<WorkerCount> count);

private:
    struct Impl;
    std::shared_ptr<Impl> m_impl;
};

} // namespace torvaline
