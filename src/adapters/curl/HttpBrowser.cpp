#include "adapters/curl/HttpBrowser.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/PageFetch.h"
#include "adapters/html/GumboDocument.h"
#include "adapters/html/Url.h"
#include "platform/AsciiCase.h"
#include "platform/EventLoop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace torvaline {

namespace {

bool isAboutBlank(const std::string& url) {
    return asciiLower(url.substr(0, url.find_first_of("?#"))) == "about:blank";
}

std::string escapeText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

std::shared_ptr<GumboDocument> errorDocument(const std::string& url, const std::string& reason) {
    return std::make_shared<GumboDocument>(
        "<html><head><title>Navigation failed</title></head><body><p>The page could not be "
        "loaded: " +
            escapeText(reason) + "</p></body></html>",
        url);
}

} // namespace

// What the workers share with the browser. A worker holds it, never the browser, so a parse
// can outlive the browser: the parser cannot be interrupted, and Exit must not wait for it.
struct PageWorkers {
    PageWorkers(EventLoop& l, CurlShare& s)
        : loop(l)
        , share(s) {}

    EventLoop& loop;
    CurlShare& share;
    std::mutex mutex;
    std::condition_variable changed;
    // Set when the browser goes: from then on no worker touches the loop or the share.
    bool closed = false;
    // Workers inside a transfer, which uses the share.
    int fetching = 0;
    // One parse at a time per browser: a navigation that was given up may still be parsing,
    // and the next one waits for it rather than adding a second busy core.
    bool parsing = false;
};

struct HttpBrowser::Impl : std::enable_shared_from_this<Impl> {
    Impl(EventLoop& l, CurlShare& s, Options o)
        : loop(l)
        , workers(std::make_shared<PageWorkers>(l, s))
        , options(std::move(o)) {}

    EventLoop& loop;
    const std::shared_ptr<PageWorkers> workers;
    const Options options;

    // GUI thread only.
    BrowserEvents events;
    std::shared_ptr<Document> document;
    std::uint64_t generation = 0;
    std::shared_ptr<std::atomic<bool>> currentAbort;
    std::shared_ptr<WorkerCount> counted;
    std::vector<std::shared_ptr<std::atomic<bool>>> aborts;
    bool inFlight = false;
    RequestOptions rowOptions;

    void start(PageRequest request);
    void submit(const FormSubmission& submission);
    void deliver(std::uint64_t gen, std::shared_ptr<GumboDocument> doc,
                 const DocumentCompleteEvent& event);
    void postResult(std::uint64_t gen, std::shared_ptr<GumboDocument> doc, std::string url,
                    std::string error);
    void abortCurrent();
    void close();
};

namespace {

// One navigation on a worker thread: the transfer, then (one at a time) the parse, then the
// result handed to the GUI thread.
void runNavigation(const std::shared_ptr<PageWorkers>& shared, const HttpBrowser::Options& opts,
                   const PageRequest& request, const std::atomic<bool>& abort,
                   const std::function<void(std::shared_ptr<GumboDocument>, PageResult)>& post) {
    {
        const std::lock_guard lock(shared->mutex);
        if (shared->closed || abort.load())
            return;
        ++shared->fetching;
    }
    PageResult result = fetchPage(shared->share, request, opts, abort);
    {
        const std::lock_guard lock(shared->mutex);
        --shared->fetching;
    }
    shared->changed.notify_all();
    if (result.aborted)
        return;
    {
        std::unique_lock lock(shared->mutex);
        // Polled: the abort flag is set without the lock.
        while (shared->parsing && !shared->closed && !abort.load())
            shared->changed.wait_for(lock, std::chrono::milliseconds(20));
        if (shared->closed || abort.load())
            return;
        shared->parsing = true;
    }
    std::shared_ptr<GumboDocument> doc;
    try {
        doc = result.error.empty()
                  ? std::make_shared<GumboDocument>(std::move(result.body), result.url)
                  : errorDocument(result.url, result.error);
    } catch (const std::exception&) {
        result.error = "The page could not be read.";
        doc = nullptr;
    }
    {
        const std::lock_guard lock(shared->mutex);
        shared->parsing = false;
        if (!shared->closed && !abort.load())
            post(std::move(doc), std::move(result));
    }
    shared->changed.notify_all();
}

} // namespace

void HttpBrowser::Impl::abortCurrent() {
    if (currentAbort)
        currentAbort->store(true);
    currentAbort.reset();
}

void HttpBrowser::Impl::close() {
    for (const auto& abort : aborts)
        abort->store(true);
    std::unique_lock lock(workers->mutex);
    workers->closed = true;
    workers->changed.notify_all();
    // A transfer ends within moments of its abort (curl asks the progress callback at least
    // once a second), and the share must outlive it. A parse is never waited for.
    workers->changed.wait(lock, [this] { return workers->fetching == 0; });
}

void HttpBrowser::Impl::postResult(std::uint64_t gen, std::shared_ptr<GumboDocument> doc,
                                   std::string url, std::string error) {
    std::weak_ptr<Impl> weak = weak_from_this();
    loop.post([weak, gen, doc = std::move(doc), url = std::move(url),
               error = std::move(error)]() mutable {
        if (auto self = weak.lock())
            self->deliver(gen, std::move(doc), DocumentCompleteEvent{url, error});
    });
}

void HttpBrowser::Impl::start(PageRequest request) {
    if (events.beforeNavigate)
        events.beforeNavigate(request.url);
    abortCurrent();
    const std::uint64_t gen = ++generation;
    inFlight = true;
    request.row = rowOptions;
    std::erase_if(aborts, [](const auto& abort) { return abort->load(); });

    if (isAboutBlank(request.url)) {
        postResult(gen, std::make_shared<GumboDocument>("", "about:blank"), "about:blank", "");
        return;
    }
    const std::string scheme = urlScheme(request.url);
    if (scheme != "http" && scheme != "https") {
        const std::string reason = CurlShare::refusedByPolicy({});
        postResult(gen, errorDocument(request.url, reason), request.url, reason);
        return;
    }

    auto abort = std::make_shared<std::atomic<bool>>(false);
    currentAbort = abort;
    aborts.push_back(abort);
    std::weak_ptr<Impl> weak = weak_from_this();
    // Detached: the thread keeps what it uses alive itself, and the browser's end waits only
    // for its transfer (see close()). A parse cannot be cut short, so the thread cannot be
    // joined on a deadline: it is counted instead, for whoever must know it ended.
    std::thread([shared = workers, opts = options, request = std::move(request), abort, weak, gen,
                 running = WorkerCount::enter(counted)]() mutable {
        runNavigation(shared, opts, request, *abort,
                      [&](std::shared_ptr<GumboDocument> doc, PageResult result) {
                          DocumentCompleteEvent event{result.url, result.error};
                          event.directFile = result.directFile;
                          event.fileName = result.fileName;
                          event.fileSize = result.fileSize;
                          shared->loop.post([weak, gen, doc = std::move(doc),
                                             event = std::move(event)]() mutable {
                              if (auto self = weak.lock())
                                  self->deliver(gen, std::move(doc), event);
                          });
                      });
        // A finished navigation leaves its flag set, so the browser can forget it.
        abort->store(true);
        running.end();
    }).detach();
}

void HttpBrowser::Impl::submit(const FormSubmission& submission) {
    const std::string& target = submission.target;
    if (!target.empty() && target != "_self" && target != "_top" && target != "_parent") {
        // There is only one window: whatever the handler answers, the page opens here.
        bool cancel = false;
        if (events.newWindow)
            events.newWindow(submission.url, cancel);
    }
    PageRequest request;
    request.method = submission.method;
    request.url = submission.url;
    request.body = submission.body;
    request.contentType = submission.contentType;
    if (auto* current = dynamic_cast<GumboDocument*>(document.get()))
        request.referer = current->url();
    start(std::move(request));
}

void HttpBrowser::Impl::deliver(std::uint64_t gen, std::shared_ptr<GumboDocument> doc,
                                const DocumentCompleteEvent& event) {
    if (gen != generation)
        return; // superseded or stopped
    auto keepAlive = shared_from_this();
    inFlight = false;
    currentAbort.reset();
    if (doc) {
        std::weak_ptr<Impl> weak = weak_from_this();
        doc->setSubmitHandler([weak](const FormSubmission& s) {
            if (auto self = weak.lock())
                self->submit(s);
        });
    }
    document = std::move(doc);
    // Copies: a handler may replace the events or navigate again.
    const BrowserEvents current = events;
    if (current.documentComplete)
        current.documentComplete(event);
    if (current.downloadComplete)
        current.downloadComplete();
}

HttpBrowser::HttpBrowser(EventLoop& loop, CurlShare& share)
    : HttpBrowser(loop, share, Options{}) {}

HttpBrowser::HttpBrowser(EventLoop& loop, CurlShare& share, Options options)
    : m_impl(std::make_shared<Impl>(loop, share, std::move(options))) {
    CurlShare::globalInit();
}

HttpBrowser::~HttpBrowser() {
    m_impl->close();
}

void HttpBrowser::Navigate(const std::string& url) {
    PageRequest request;
    request.method = "GET";
    request.url = url;
    m_impl->start(std::move(request));
}

void HttpBrowser::Stop() {
    Impl& impl = *m_impl;
    if (!impl.inFlight)
        return;
    impl.abortCurrent();
    ++impl.generation;
    impl.inFlight = false;
    std::weak_ptr<Impl> weak = m_impl;
    impl.loop.post([weak] {
        auto self = weak.lock();
        if (self && self->events.downloadComplete) {
            const auto handler = self->events.downloadComplete;
            handler();
        }
    });
}

std::shared_ptr<Document> HttpBrowser::document() {
    return m_impl->document;
}

void HttpBrowser::setRequestOptions(RequestOptions options) {
    m_impl->rowOptions = std::move(options);
}

void HttpBrowser::setEvents(BrowserEvents events) {
    m_impl->events = std::move(events);
}

bool HttpBrowser::busy() const {
    return m_impl->inFlight;
}

void HttpBrowser::countWorkers(std::shared_ptr<WorkerCount> count) {
    m_impl->counted = std::move(count);
}

} // namespace torvaline
