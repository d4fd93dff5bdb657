#include "adapters/curl/HttpBrowser.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/PageFetch.h"
#include "adapters/html/GumboDocument.h"
#include "adapters/html/Url.h"
#include "platform/EventLoop.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace torvaline {

namespace {

bool isAboutBlank(const std::string& url) {
    std::string lower;
    for (const char c : url.substr(0, url.find_first_of("?#")))
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower == "about:blank";
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

struct HttpBrowser::Impl : std::enable_shared_from_this<Impl> {
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> abort;
        std::shared_ptr<std::atomic<bool>> done;
    };

    Impl(EventLoop& l, CurlShare& s, Options o)
        : loop(l)
        , share(s)
        , options(std::move(o)) {}

    EventLoop& loop;
    CurlShare& share;
    const Options options;

    // GUI thread only.
    BrowserEvents events;
    std::shared_ptr<Document> document;
    std::uint64_t generation = 0;
    std::shared_ptr<std::atomic<bool>> currentAbort;
    bool inFlight = false;
    std::vector<Worker> workers;

    void start(PageRequest request);
    void submit(const FormSubmission& submission);
    void deliver(std::uint64_t gen, std::shared_ptr<GumboDocument> doc, const std::string& url,
                 const std::string& error);
    void postResult(std::uint64_t gen, std::shared_ptr<GumboDocument> doc, std::string url,
                    std::string error);
    void abortCurrent();
    void reapFinished();
    void joinAll();
};

void HttpBrowser::Impl::abortCurrent() {
    if (currentAbort)
        currentAbort->store(true);
    currentAbort.reset();
}

void HttpBrowser::Impl::reapFinished() {
    for (auto it = workers.begin(); it != workers.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
}

void HttpBrowser::Impl::joinAll() {
    for (Worker& w : workers)
        w.abort->store(true);
    for (Worker& w : workers)
        w.thread.join();
    workers.clear();
}

void HttpBrowser::Impl::postResult(std::uint64_t gen, std::shared_ptr<GumboDocument> doc,
                                   std::string url, std::string error) {
    std::weak_ptr<Impl> weak = weak_from_this();
    loop.post([weak, gen, doc = std::move(doc), url = std::move(url),
               error = std::move(error)]() mutable {
        if (auto self = weak.lock())
            self->deliver(gen, std::move(doc), url, error);
    });
}

void HttpBrowser::Impl::start(PageRequest request) {
    if (events.beforeNavigate)
        events.beforeNavigate(request.url);
    abortCurrent();
    const std::uint64_t gen = ++generation;
    inFlight = true;
    reapFinished();

    if (isAboutBlank(request.url)) {
        postResult(gen, std::make_shared<GumboDocument>("", "about:blank"), "about:blank", "");
        return;
    }
    const std::string scheme = urlScheme(request.url);
    if (scheme != "http" && scheme != "https") {
        const std::string reason = "Only http and https addresses can be opened.";
        postResult(gen, errorDocument(request.url, reason), request.url, reason);
        return;
    }

    auto abort = std::make_shared<std::atomic<bool>>(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    currentAbort = abort;
    std::weak_ptr<Impl> weak = weak_from_this();
    EventLoop* eventLoop = &loop;
    CurlShare* jar = &share;
    const Options opts = options;
    std::thread thread([weak, eventLoop, jar, opts, gen, abort, done,
                        request = std::move(request)] {
        PageResult result = fetchPage(*jar, request, opts.connectTimeout, opts.totalTimeout,
                                      opts.maxPageBytes, opts.maxRedirects, opts.userAgent, *abort);
        if (!result.aborted && !abort->load()) {
            std::shared_ptr<GumboDocument> doc;
            try {
                doc = result.error.empty()
                          ? std::make_shared<GumboDocument>(std::move(result.body), result.url)
                          : errorDocument(result.url, result.error);
            } catch (const std::exception&) {
                result.error = "The page could not be read.";
                doc = nullptr;
            }
            eventLoop->post([weak, gen, doc = std::move(doc), url = result.url,
                             error = result.error]() mutable {
                if (auto self = weak.lock())
                    self->deliver(gen, std::move(doc), url, error);
            });
        }
        done->store(true);
    });
    workers.push_back({std::move(thread), abort, done});
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
                                const std::string& url, const std::string& error) {
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
        current.documentComplete(DocumentCompleteEvent{url, error});
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
    m_impl->joinAll();
}

void HttpBrowser::Navigate(const std::string& url) {
    PageRequest request;
    request.method = "GET";
    request.url = url;
    m_impl->start(std::move(request));
}

void HttpBrowser::Stop() {
    Impl& impl = *m_impl;
    impl.reapFinished();
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

void HttpBrowser::setEvents(BrowserEvents events) {
    m_impl->events = std::move(events);
}

bool HttpBrowser::busy() const {
    return m_impl->inFlight;
}

} // namespace torvaline
