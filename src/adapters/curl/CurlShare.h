#pragma once

#include <curl/curl.h>

#include <array>
#include <mutex>
#include <string>
#include <vector>

namespace torvaline {

// The cookie jar (and DNS cache) that page fetches and file transfers share, so that a
// hoster's session cookie set while browsing goes along with the file request. Easy handles
// on any thread may use it at once: libcurl takes our locks around every access.
class CurlShare final {
public:
    CurlShare();
    ~CurlShare();
    CurlShare(const CurlShare&) = delete;
    CurlShare& operator=(const CurlShare&) = delete;

    CURLSH* handle() { return m_share; }

    // Shares this jar with an easy handle and switches its cookie engine on.
    void attach(CURL* easy);

    // Adds one cookie in any form CURLOPT_COOKIELIST takes ("Set-Cookie: a=b; domain=..."
    // or a Netscape line).
    void addCookie(const std::string& line);
    // Every cookie held, as Netscape cookie-file lines.
    std::vector<std::string> cookies();

    // The one fetching policy for pages and files: http and https only, also on redirects, so
    // that nothing a hoster sends can make us read local files or speak another protocol;
    // redirects followed up to maxRedirects.
    static void restrictToWeb(CURL* easy, long maxRedirects);

    // curl_global_init is not thread-safe; every user of libcurl goes through this first.
    static void globalInit();

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void unlock(CURL*, curl_lock_data data, void* self);
    std::mutex& mutexFor(curl_lock_data data);

    CURLSH* m_share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> m_mutexes;
};

} // namespace torvaline
