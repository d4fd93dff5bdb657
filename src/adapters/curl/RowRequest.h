#pragma once

#include "platform/RequestOptions.h"

#include <curl/curl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvaline {

// Whether a request to `url` may carry what a row asks to send for its link `scope`: the
// link's host or one of its subdomains (a leading "www." of the link's host left out, so that
// the hoster's download servers count), an address given as digits only as it stands, and
// never from https down to http. Both are read by libcurl's parser, the one that sends.
bool inRowScope(const std::string& scope, const std::string& url);

// A row's request options on one easy handle, set anew for every request it makes.
class RowRequest final {
public:
    // Null or empty: the request goes as it would without a row.
    explicit RowRequest(const RequestOptions* options);

    // Whether the row has something only its host may see, so that redirects are followed
    // hop by hop (followRedirects) instead of by libcurl, which would hand the same headers
    // to every host on the way.
    bool followsItself() const { return m_options && m_options->scoped(); }

    // Sets the handle up for one request to `url`: the request's `own` header lines, then the
    // row's where `url` is in scope, the row's cookie beside the jar's, the referer (`referer`
    // when not empty, else the row's where in scope, else none) and the user agent (the row's
    // everywhere, else `agent`). The lines live until the next call.
    void apply(CURL* easy, const std::string& url, const std::vector<std::string>& own,
               const std::string& referer, const std::string& agent);

private:
    const RequestOptions* m_options;
    std::vector<std::string> m_lines; // the row's, cookie and agent taken out
    std::string m_cookie;
    std::string m_referer;
    std::string m_agent;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> m_list{nullptr,
                                                                       &curl_slist_free_all};
};

// One hop of a request that follows its redirects itself.
struct RequestHop {
    std::string url;
    bool post = false;
    std::string previous; // the address that redirected here; empty on the first hop
};

// Performs the request and the redirects after it one hop at a time, as libcurl would
// (301, 302 and 303 turn a post into a GET, 307 and 308 keep it, at most maxRedirects), with
// `prepare` setting each hop up (its address, method and headers) before `performOnce` runs
// it. The policy of CurlShare::restrictToWeb still holds on every hop.
CURLcode followRedirects(CURL* easy, const std::string& url, bool post, long maxRedirects,
                         const std::function<void(const RequestHop&)>& prepare,
                         const std::function<CURLcode()>& performOnce);

} // namespace torvaline
