#include "adapters/curl/CurlShare.h"

#include <memory>
#include <stdexcept>

namespace torvaline {

void CurlShare::globalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw std::runtime_error("libcurl could not be initialised");
    });
}

CurlShare::CurlShare() {
    globalInit();
    m_share = curl_share_init();
    if (!m_share)
        throw std::runtime_error("libcurl share could not be created");
    curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CurlShare::lock);
    curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CurlShare::unlock);
    curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    // Each is an optimisation only: a libcurl without one of them still fetches, just with a
    // handshake more, so a refusal is not an error.
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

CurlShare::~CurlShare() {
    // Fails only while an easy handle still uses the share; the owner outlives them all.
    curl_share_cleanup(m_share);
}

void CurlShare::attach(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_SHARE, m_share);
    // An empty file name switches the cookie engine on without reading anything.
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
}

void CurlShare::addCookie(const std::string& line) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy)
        return;
    attach(easy.get());
    curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, line.c_str());
}

std::vector<std::string> CurlShare::cookies() {
    std::vector<std::string> lines;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy)
        return lines;
    attach(easy.get());
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(easy.get(), CURLINFO_COOKIELIST, &list) == CURLE_OK) {
        for (curl_slist* item = list; item; item = item->next)
            lines.emplace_back(item->data);
        curl_slist_free_all(list);
    }
    return lines;
}

std::recursive_mutex& CurlShare::mutexFor(curl_lock_data data) {
    // A kind newer than these headers gets the spare lock of CURL_LOCK_DATA_NONE, which
    // libcurl never asks for: still one lock per kind as long as there is only one such kind.
    const auto index = static_cast<std::size_t>(data);
    return m_mutexes[index < m_mutexes.size() ? index : 0];
}

void CurlShare::lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<CurlShare*>(self)->mutexFor(data).lock();
}

void CurlShare::unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<CurlShare*>(self)->mutexFor(data).unlock();
}

void CurlShare::restrictToWeb(CURL* easy, long maxRedirects) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, maxRedirects);
}

std::string CurlShare::refusedByPolicy(const std::string& detail) {
    return "Only http and https addresses are opened" +
           (detail.empty() ? "" : " (" + detail + ")") + ".";
}

} // namespace torvaline
