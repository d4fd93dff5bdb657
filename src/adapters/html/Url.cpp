#include "adapters/html/Url.h"

#include "platform/AsciiCase.h"

#include <curl/curl.h>

#include <memory>

namespace torvaline {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of a leading "scheme:" (without the colon), or 0 when the text has none.
std::size_t schemeLength(std::string_view s) {
    if (s.empty() || !isAlpha(s[0]))
        return 0;
    for (std::size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == ':')
            return i;
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.')
            return 0;
    }
    return 0;
}

bool isWebScheme(std::string_view scheme) {
    return scheme == "http" || scheme == "https";
}

// What a browser does to an address written in a page before it reads it: surrounding blanks
// and control characters go, and so do tabs and line breaks inside.
std::string cleanReference(std::string_view ref) {
    auto blankOrControl = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!ref.empty() && blankOrControl(ref.front()))
        ref.remove_prefix(1);
    while (!ref.empty() && blankOrControl(ref.back()))
        ref.remove_suffix(1);
    std::string out;
    out.reserve(ref.size());
    for (const char c : ref) {
        if (c != '\t' && c != '\n' && c != '\r')
            out += c;
    }
    return out;
}

// Web addresses treat a backslash in the authority and path like a slash.
void backslashesToSlashes(std::string& ref) {
    const std::size_t end = ref.find_first_of("?#");
    for (std::size_t i = 0; i < ref.size() && i < end; ++i) {
        if (ref[i] == '\\')
            ref[i] = '/';
    }
}

// Bytes that may not stand in an address are sent percent-encoded, as browsers send them.
std::string encodeUnsafe(std::string_view s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`') {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

bool hasAuthority(std::string_view url, std::size_t schemeLength) {
    return url.substr(schemeLength + 1, 2) == "//";
}

using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;
// Any scheme: a form may post to an address the browser then refuses, with a reason.
constexpr unsigned kFlags = CURLU_NON_SUPPORT_SCHEME;

// The whole address, with its host in lower case (curl keeps it as written).
std::string written(CURLU* url) {
    char* host = nullptr;
    if (curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK && host != nullptr) {
        const std::string lower = asciiLower(host);
        if (lower != host)
            curl_url_set(url, CURLUPART_HOST, lower.c_str(), 0);
    }
    curl_free(host);
    char* text = nullptr;
    std::string out;
    if (curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK && text != nullptr)
        out = text;
    curl_free(text);
    return out;
}

} // namespace

std::string urlScheme(std::string_view url) {
    return asciiLower(url.substr(0, schemeLength(url)));
}

std::string resolveUrl(std::string_view baseText, std::string_view referenceText) {
    const std::string base = encodeUnsafe(cleanReference(baseText));
    const std::string baseScheme = urlScheme(base);
    std::string ref = cleanReference(referenceText);
    std::string refScheme = urlScheme(ref);
    if ((refScheme.empty() && isWebScheme(baseScheme)) || isWebScheme(refScheme))
        backslashesToSlashes(ref);
    ref = encodeUnsafe(ref);
    if (!refScheme.empty() && !hasAuthority(ref, refScheme.size())) {
        // An address without an authority (mailto:, javascript:) stands as it is written,
        // but "http:g" under an http page is read as "g", as browsers read it.
        if (!isWebScheme(refScheme) || refScheme != baseScheme)
            return refScheme + ref.substr(refScheme.size());
        ref.erase(0, refScheme.size() + 1);
        refScheme.clear();
    }

    UrlHandle url(curl_url(), &curl_url_cleanup);
    if (!url)
        return {};
    if (refScheme.empty()) {
        if (baseScheme.empty() ||
            curl_url_set(url.get(), CURLUPART_URL, base.c_str(), kFlags) != CURLUE_OK)
            return {};
        // The base itself, with the reference's fragment: curl would also drop the base's last
        // path segment here.
        if (ref.empty() || ref[0] == '#') {
            curl_url_set(url.get(), CURLUPART_FRAGMENT, ref.empty() ? nullptr : ref.c_str() + 1, 0);
            return written(url.get());
        }
    }
    if (curl_url_set(url.get(), CURLUPART_URL, ref.c_str(), kFlags) != CURLUE_OK)
        return {};
    return written(url.get());
}

std::string formUrlEncode(const std::vector<std::pair<std::string, std::string>>& pairs) {
    static const char hex[] = "0123456789ABCDEF";
    auto encode = [](std::string& out, const std::string& s) {
        for (const char c : s) {
            const auto b = static_cast<unsigned char>(c);
            if (isAlpha(c) || isDigit(c) || c == '*' || c == '-' || c == '.' || c == '_') {
                out += c;
            } else if (c == ' ') {
                out += '+';
            } else {
                out += '%';
                out += hex[b >> 4];
                out += hex[b & 0xF];
            }
        }
    };
    std::string out;
    for (const auto& [name, value] : pairs) {
        if (!out.empty())
            out += '&';
        encode(out, name);
        out += '=';
        encode(out, value);
    }
    return out;
}

} // namespace torvaline
