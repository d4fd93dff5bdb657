#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace torvaline {

class CurlShare;

struct PageRequest {
    std::string method = "GET"; // "GET" or "POST"
    std::string url;
    std::string body;
    std::string contentType;
    std::string referer;
};

struct PageResult {
    std::string url;   // after redirects
    std::string body;  // the page, when error is empty
    std::string error; // why there is no page
    long status = 0;
    bool aborted = false;
};

// One blocking page fetch with the shared cookie jar: http and https only (redirects included),
// at most `maxRedirects` redirects and `maxBytes` of page. Ends early once `abort` is set.
PageResult fetchPage(CurlShare& share, const PageRequest& request,
                     std::chrono::milliseconds connectTimeout,
                     std::chrono::milliseconds totalTimeout, std::size_t maxBytes,
                     long maxRedirects, const std::string& userAgent,
                     const std::atomic<bool>& abort);

} // namespace torvaline
