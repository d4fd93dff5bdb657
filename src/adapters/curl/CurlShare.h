#pragma once

#include <curl/curl.h>

#include <array>
#include <mutex>
#include <string>
#include <vector>

namespace torvaline {

// What page fetches and file transfers share: the cookie jar, so that a hoster's session
// cookie set while browsing goes along with the file request; the DNS cache; and the idle
// connections and TLS sessions, so that a row's page, its form press and its file go over one
// connection where the server keeps it open instead of three handshakes. Easy handles on any
// thread may use it: libcurl takes our locks around every access.
//
// libcurl lists a shared connection cache among its known bugs when handles on concurrent
// threads use it heavily. Ours take turns: a row's fetches and its transfer run one after the
// other, and the only overlap is a stopped navigation winding down beside the next one, a
// window we accept for a connection and a handshake saved on every request.
class CurlShare final {
public:
    CurlShare();
    ~CurlShare();
    CurlShare(const CurlShare&) = delete;
    CurlShare& operator=(const CurlShare&) = delete;

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
    // What the user reads when that policy refuses an address; `detail` (may be empty) is
    // libcurl's own account.
    static std::string refusedByPolicy(const std::string& detail);

    // curl_global_init is not thread-safe; every user of libcurl goes through this first.
    static void globalInit();

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void unlock(CURL*, curl_lock_data data, void* self);
    std::recursive_mutex& mutexFor(curl_lock_data data);

    CURLSH* m_share = nullptr;
    // One lock per kind of data, as libcurl asks. Recursive: libcurl releases have taken the
    // connection lock twice on one thread (closing a dead connection while walking the
    // cache), which would hang a plain mutex for good.
    std::array<std::recursive_mutex, CURL_LOCK_DATA_LAST> m_mutexes;
};

} // namespace torvaline
