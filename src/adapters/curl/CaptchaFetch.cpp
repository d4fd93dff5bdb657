#include "adapters/curl/CaptchaFetch.h"

#include "adapters/curl/CurlShare.h"

#include <curl/curl.h>

#include <memory>

namespace torvaline {

namespace {

struct Sink {
    std::string bytes;
    std::size_t limit = 0;
    bool tooBig = false;
};

std::size_t take(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t n = size * count;
    if (sink->bytes.size() + n > sink->limit) {
        sink->tooBig = true;
        return 0; // ends the transfer
    }
    sink->bytes.append(data, n);
    return n;
}

} // namespace

CaptchaPicture FetchCaptchaPicture(const std::string& url, CurlShare& share, std::size_t maxBytes,
                                   std::chrono::seconds timeout) {
    CaptchaPicture picture;
    if (!(url.starts_with("http://") || url.starts_with("https://")) ||
        url.find_first_of("\r\n", 0) != std::string::npos) {
        picture.problem = "the captcha's picture has no web address";
        return picture;
    }
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(),
                                                                   &curl_easy_cleanup);
    if (!easy) {
        picture.problem = "no transfer could be set up";
        return picture;
    }
    Sink sink;
    sink.limit = maxBytes;
    CURL* e = easy.get();
    share.attach(e);
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count() * 1000));
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &take);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = curl_easy_perform(e);
    if (sink.tooBig)
        picture.problem =
            "the captcha's picture is larger than " + std::to_string(maxBytes / 1024) + " KiB";
    else if (code != CURLE_OK)
        picture.problem =
            std::string("the captcha's picture did not come (") + curl_easy_strerror(code) + ")";
    else
        picture.bytes = std::move(sink.bytes);
    return picture;
}

} // namespace torvaline
