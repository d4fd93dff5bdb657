#pragma once

#include "platform/RequestOptions.h"

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
    // What the row whose page this is asks to send besides.
    RequestOptions row;
};

// How pages are fetched: the browser's settings.
struct PageOptions {
    std::chrono::milliseconds connectTimeout{15000};
    std::chrono::milliseconds totalTimeout{60000};
    // A page larger than this fails: the rules read the whole text and a hoster page is
    // small, so anything this big is a file or a mistake.
    std::size_t maxPageBytes = 8u << 20;
    long maxRedirects = 10;
    std::string userAgent = "Mozilla/5.0 (compatible; Torvaline/1.2)";
};

struct PageResult {
    std::string url;   // after redirects
    std::string body;  // the page, when error is empty
    std::string error; // why there is no page
    long status = 0;
    bool aborted = false;
    // The answer was a file, not a page: only its first bytes were read. url is where it
    // is, after redirects; fileName what it says it is called (unchecked); fileSize its
    // announced size, -1 when none was.
    bool directFile = false;
    std::string fileName;
    long long fileSize = -1;
};

// One blocking page fetch with the shared cookie jar: http and https only (redirects included),
// within the options' redirects, size and time limits. Ends early once `abort` is set.
PageResult fetchPage(CurlShare& share, const PageRequest& request, const PageOptions& options,
                     const std::atomic<bool>& abort);

} // namespace torvaline
