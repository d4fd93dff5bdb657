#include "adapters/curl/RowRequest.h"

#include "platform/AsciiCase.h"

#include <string_view>

namespace torvaline {

namespace {

struct Place {
    std::string scheme;
    std::string host;
};

Place placeOf(const std::string& url) {
    Place place;
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return place;
    char* part = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
        place.scheme = asciiLower(part);
        curl_free(part);
    }
    if (curl_url_get(parsed.get(), CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        place.host = asciiLower(part);
        curl_free(part);
    }
    while (!place.host.empty() && place.host.back() == '.')
        place.host.pop_back();
    return place;
}

bool isAddress(const std::string& host) {
    return host.find_first_not_of("0123456789.") == std::string::npos || host.front() == '[';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

bool inRowScope(const std::string& scope, const std::string& url) {
    const Place row = placeOf(scope);
    const Place to = placeOf(url);
    if (row.host.empty() || to.host.empty() || (row.scheme == "https" && to.scheme != "https"))
        return false;
    if (to.host == row.host)
        return true;
    if (isAddress(row.host))
        return false;
    const std::string base =
        row.host.starts_with("www.") && row.host.find('.', 4) != std::string::npos
            ? row.host.substr(4)
            : row.host;
    return to.host == base || (to.host.size() > base.size() + 1 && to.host.ends_with("." + base));
}

RowRequest::RowRequest(const RequestOptions* options)
    : m_options(options && !options->empty() ? options : nullptr) {
    if (!m_options)
        return;
    m_referer = m_options->referer == "*" ? m_options->scope : m_options->referer;
    m_agent = m_options->userAgent;
    for (const std::string& line : m_options->headers) {
        // Checked where the options were taken; checked again before anything reaches the
        // wire, whoever made them.
        if (!checkRequestHeader(line))
            continue;
        const std::size_t colon = line.find(':');
        const std::string_view name = std::string_view(line).substr(0, colon);
        const std::string_view value = trimmed(std::string_view(line).substr(colon + 1));
        if (asciiEqualNoCase(name, "Cookie")) {
            // Beside the jar's cookies in the one Cookie header, not in a second one.
            if (!value.empty())
                m_cookie += (m_cookie.empty() ? "" : "; ") + std::string(value);
        } else if (asciiEqualNoCase(name, "User-Agent")) {
            if (m_agent.empty())
                m_agent = value;
        } else if (asciiEqualNoCase(name, "Referer")) {
            if (m_referer.empty())
                m_referer = value;
        } else {
            // "Name:" alone would make libcurl leave its own header of that name out; "Name;"
            // sends it empty, as asked.
            m_lines.push_back(value.empty() ? std::string(name) + ";"
                                            : std::string(name) + ": " + std::string(value));
        }
    }
}

void RowRequest::apply(CURL* easy, const std::string& url, const std::vector<std::string>& own,
                       const std::string& referer, const std::string& agent) {
    const bool scoped = m_options && inRowScope(m_options->scope, url);
    curl_slist* list = nullptr;
    for (const std::string& line : own)
        list = curl_slist_append(list, line.c_str());
    if (scoped)
        for (const std::string& line : m_lines)
            list = curl_slist_append(list, line.c_str());
    m_list.reset(list);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(easy, CURLOPT_COOKIE,
                     scoped && !m_cookie.empty() ? m_cookie.c_str() : nullptr);
    const std::string& sentReferer = !referer.empty() ? referer : scoped ? m_referer : referer;
    curl_easy_setopt(easy, CURLOPT_REFERER, sentReferer.empty() ? nullptr : sentReferer.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, m_agent.empty() ? agent.c_str() : m_agent.c_str());
}

CURLcode followRedirects(CURL* easy, const std::string& url, bool post, long maxRedirects,
                         const std::function<void(const RequestHop&)>& prepare,
                         const std::function<CURLcode()>& performOnce) {
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    RequestHop hop{url, post, {}};
    for (long redirects = 0;; ++redirects) {
        prepare(hop);
        const CURLcode rc = performOnce();
        if (rc != CURLE_OK)
            return rc;
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        char* next = nullptr;
        const bool redirect =
            status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        if (!redirect || curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &next) != CURLE_OK ||
            next == nullptr)
            return CURLE_OK;
        if (redirects >= maxRedirects)
            return CURLE_TOO_MANY_REDIRECTS;
        if (status == 303 || ((status == 301 || status == 302) && hop.post))
            hop.post = false;
        hop.previous = std::move(hop.url);
        hop.url = next;
    }
}

} // namespace torvaline
