#include "adapters/html/Url.h"

#include <optional>

namespace torvaline {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

struct Parts {
    std::optional<std::string> scheme;
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
};

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

Parts split(std::string_view s) {
    Parts p;
    if (const std::size_t n = schemeLength(s); n > 0) {
        std::string scheme;
        for (std::size_t i = 0; i < n; ++i)
            scheme += lower(s[i]);
        p.scheme = scheme;
        s.remove_prefix(n + 1);
    }
    if (const std::size_t hash = s.find('#'); hash != std::string_view::npos) {
        p.fragment = std::string(s.substr(hash + 1));
        s = s.substr(0, hash);
    }
    if (const std::size_t q = s.find('?'); q != std::string_view::npos) {
        p.query = std::string(s.substr(q + 1));
        s = s.substr(0, q);
    }
    if (s.size() >= 2 && s[0] == '/' && s[1] == '/') {
        s.remove_prefix(2);
        const std::size_t slash = s.find('/');
        p.authority = std::string(s.substr(0, slash));
        s = slash == std::string_view::npos ? std::string_view() : s.substr(slash);
    }
    p.path = std::string(s);
    return p;
}

// RFC 3986, 5.2.4.
std::string removeDotSegments(std::string_view in) {
    std::string out;
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.remove_prefix(3);
        } else if (in.starts_with("./")) {
            in.remove_prefix(2);
        } else if (in.starts_with("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.starts_with("/../") || in == "/..") {
            in = in.size() == 3 ? std::string_view("/") : in.substr(3);
            const std::size_t last = out.rfind('/');
            out.erase(last == std::string::npos ? 0 : last);
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            const std::size_t start = in[0] == '/' ? 1 : 0;
            const std::size_t next = in.find('/', start);
            const std::size_t n = next == std::string_view::npos ? in.size() : next;
            out.append(in.substr(0, n));
            in.remove_prefix(n);
        }
    }
    return out;
}

// RFC 3986, 5.2.3.
std::string mergePaths(const Parts& base, const std::string& ref) {
    if (base.authority && base.path.empty())
        return "/" + ref;
    const std::size_t last = base.path.rfind('/');
    if (last == std::string::npos)
        return ref;
    return base.path.substr(0, last + 1) + ref;
}

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

bool isWebScheme(const std::optional<std::string>& scheme) {
    return scheme && (*scheme == "http" || *scheme == "https");
}

// Web addresses treat a backslash in the authority and path like a slash.
void backslashesToSlashes(std::string& ref) {
    const std::size_t end = ref.find_first_of("?#");
    for (std::size_t i = 0; i < ref.size() && i < end; ++i) {
        if (ref[i] == '\\')
            ref[i] = '/';
    }
}

void appendEncoded(std::string& out, std::string_view s) {
    static const char hex[] = "0123456789ABCDEF";
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
}

std::string recompose(const Parts& t) {
    std::string out;
    if (t.scheme)
        out += *t.scheme + ":";
    if (t.authority) {
        out += "//";
        appendEncoded(out, *t.authority);
    }
    if (t.authority && t.path.empty() && isWebScheme(t.scheme))
        out += '/';
    appendEncoded(out, t.path);
    if (t.query) {
        out += '?';
        appendEncoded(out, *t.query);
    }
    if (t.fragment) {
        out += '#';
        appendEncoded(out, *t.fragment);
    }
    return out;
}

} // namespace

std::string urlScheme(std::string_view url) {
    const std::size_t n = schemeLength(url);
    std::string scheme;
    for (std::size_t i = 0; i < n; ++i)
        scheme += lower(url[i]);
    return scheme;
}

std::string resolveUrl(std::string_view baseText, std::string_view referenceText) {
    const Parts base = split(cleanReference(baseText));
    std::string refText = cleanReference(referenceText);
    const std::string refScheme = urlScheme(refText);
    if ((refScheme.empty() && isWebScheme(base.scheme)) || refScheme == "http" ||
        refScheme == "https")
        backslashesToSlashes(refText);
    const Parts ref = split(refText);

    Parts t;
    if (ref.scheme) {
        t = ref;
        t.path = removeDotSegments(ref.path);
    } else {
        if (!base.scheme)
            return {};
        if (ref.authority) {
            t.authority = ref.authority;
            t.path = removeDotSegments(ref.path);
            t.query = ref.query;
        } else {
            if (ref.path.empty()) {
                t.path = base.path;
                t.query = ref.query ? ref.query : base.query;
            } else {
                if (ref.path[0] == '/')
                    t.path = removeDotSegments(ref.path);
                else
                    t.path = removeDotSegments(mergePaths(base, ref.path));
                t.query = ref.query;
            }
            t.authority = base.authority;
        }
        t.scheme = base.scheme;
        t.fragment = ref.fragment;
    }
    if (t.authority) {
        // Host names are case-insensitive; keep user info as written.
        std::string& a = *t.authority;
        const std::size_t at = a.rfind('@');
        for (std::size_t i = at == std::string::npos ? 0 : at + 1; i < a.size(); ++i)
            a[i] = lower(a[i]);
    }
    return recompose(t);
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
