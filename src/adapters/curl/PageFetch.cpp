#include "adapters/curl/PageFetch.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/DirectFile.h"
#include "adapters/curl/RowRequest.h"

#include <curl/curl.h>

#include <memory>

namespace torvaline {

namespace {

struct Sink {
    std::string body;
    std::size_t maxBytes = 0;
    bool tooLarge = false;
    const std::atomic<bool>* abort = nullptr;
    CURL* handle = nullptr;
    // The headers of the answer now coming (a redirect's are dropped with its body).
    std::string contentType;
    std::string contentDisposition;
    bool directFile = false;
};

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t n = size * count;
    const std::string_view line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        sink->contentType.clear();
        sink->contentDisposition.clear();
        return n;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return n;
    std::string name(line.substr(0, colon));
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    const std::string_view value = line.substr(colon + 1);
    // Bounded: a header is no place for a megabyte, whatever a server sends.
    constexpr std::size_t MaxValue = 4096;
    if (name == "content-type")
        sink->contentType = std::string(value.substr(0, MaxValue));
    else if (name == "content-disposition")
        sink->contentDisposition = std::string(value.substr(0, MaxValue));
    return n;
}

std::size_t onData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t n = size * count;
    if (sink->body.empty() && n > 0) {
        // The first bytes of the final answer: a file is left to the transfer, which reads
        // it whole into the download folder; the page reader reads no more of it.
        long status = 0;
        curl_easy_getinfo(sink->handle, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 200 && status < 300) {
            const AnswerKind kind = answerKind(sink->contentType, sink->contentDisposition);
            if (kind == AnswerKind::File ||
                (kind == AnswerKind::Undecided && !looksLikeHtml(std::string_view(data, n)))) {
                sink->directFile = true;
                return 0;
            }
        }
    }
    if (sink->body.size() + n > sink->maxBytes) {
        sink->tooLarge = true;
        return 0; // ends the transfer with a write error
    }
    sink->body.append(data, n);
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Sink*>(user)->abort->load() ? 1 : 0;
}

std::string sizeText(std::size_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// curl_easy_perform, but looking at `abort` at least every 100 ms: curl asks the progress
// callback only about once a second while a server keeps silent, and Stop and the browser's
// end should not wait that long.
CURLcode perform(CURL* h, const std::atomic<bool>& abort) {
    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(),
                                                                &curl_multi_cleanup);
    if (!multi || curl_multi_add_handle(multi.get(), h) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    CURLcode code = CURLE_OK;
    for (int running = 1; running > 0;) {
        if (abort.load()) {
            code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        if (running > 0 && curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
    }
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == h)
            code = message->data.result;
    }
    curl_multi_remove_handle(multi.get(), h);
    return code;
}

} // namespace

PageResult fetchPage(CurlShare& share, const PageRequest& request, const PageOptions& options,
                     const std::atomic<bool>& abort) {
    PageResult result;
    result.url = request.url;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy) {
        result.error = "The network library could not be started.";
        return result;
    }
    CURL* h = easy.get();
    Sink sink;
    sink.maxBytes = options.maxPageBytes;
    sink.abort = &abort;
    sink.handle = h;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    share.attach(h);
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    CurlShare::restrictToWeb(h, options.maxRedirects);
    curl_easy_setopt(h, CURLOPT_AUTOREFERER, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(options.connectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    // No CURLOPT_MAXFILESIZE: a large file announced by a direct link is told by its first
    // bytes, not refused by its size; the sink keeps pages within the cap.
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &sink);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    RowRequest row(&request.row);
    // One hop's method, headers and referer; the row's go only where it allows.
    const auto prepare = [&](const RequestHop& hop) {
        curl_easy_setopt(h, CURLOPT_URL, hop.url.c_str());
        std::vector<std::string> own;
        if (hop.post) {
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
            if (!request.contentType.empty())
                own.push_back("Content-Type: " + request.contentType);
            // A form post has no use for the 100-continue round trip.
            own.emplace_back("Expect:");
        } else if (!hop.previous.empty()) {
            curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        }
        if (!hop.previous.empty()) {
            // What a redirect brought back holds nothing of the page.
            sink.body.clear();
            sink.tooLarge = false;
        }
        row.apply(h, hop.url, own, hop.previous.empty() ? request.referer : hop.previous,
                  options.userAgent);
    };
    const bool post = request.method == "POST";
    CURLcode code = CURLE_OK;
    if (row.followsItself()) {
        code = followRedirects(h, request.url, post, options.maxRedirects, prepare,
                               [&] { return perform(h, abort); });
    } else {
        prepare(RequestHop{request.url, post, {}});
        code = perform(h, abort);
    }
    char* effective = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        result.url = effective;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);

    if (sink.directFile && !abort.load()) {
        result.directFile = true;
        result.fileName = directFileName(sink.contentDisposition, result.url);
        curl_off_t length = -1;
        if (curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
            result.fileSize = length;
        return result;
    }

    if (code == CURLE_OK) {
        if (result.status >= 400 && sink.body.empty())
            result.error =
                "The server answered with HTTP status " + std::to_string(result.status) + ".";
        else
            result.body = std::move(sink.body);
        return result;
    }
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
        result.aborted = true;
        result.error = "The navigation was stopped.";
        break;
    case CURLE_FILESIZE_EXCEEDED:
        result.error = "The page is larger than " + sizeText(options.maxPageBytes) + ".";
        break;
    case CURLE_WRITE_ERROR:
        result.error = sink.tooLarge
                           ? "The page is larger than " + sizeText(options.maxPageBytes) + "."
                           : "The page could not be stored.";
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        result.error =
            CurlShare::refusedByPolicy(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        result.error = "Too many redirects.";
        break;
    case CURLE_OPERATION_TIMEDOUT:
        result.error = "The server did not answer in time.";
        break;
    default:
        result.error = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
        break;
    }
    return result;
}

} // namespace torvaline
