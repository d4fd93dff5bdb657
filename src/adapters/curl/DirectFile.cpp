#include "adapters/curl/DirectFile.h"

#include "platform/AsciiCase.h"
#include "platform/PercentDecoding.h"

#include <string>
#include <vector>

namespace torvaline {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

struct Parameter {
    std::string name; // lower case
    std::string value;
};

// "attachment; filename="a;b.txt"; filename*=UTF-8''a%20b.txt" -> its parameters, quoted
// strings unquoted.
std::vector<Parameter> parameters(std::string_view header) {
    std::vector<Parameter> out;
    std::size_t i = header.find(';');
    // The next '=' is looked for again only once passed: a header of a million ';' before
    // one '=' costs one scan, not a million.
    std::size_t eq = 0;
    bool eqKnown = false;
    while (i != std::string_view::npos && i < header.size()) {
        ++i;
        if (!eqKnown || (eq != std::string_view::npos && eq < i)) {
            eq = header.find('=', i);
            eqKnown = true;
        }
        const std::size_t semi = header.find(';', i);
        if (eq == std::string_view::npos)
            break; // no value anywhere further: nothing more to read, and no rescans
        if (semi != std::string_view::npos && semi < eq) {
            i = semi;
            continue;
        }
        Parameter p;
        p.name = asciiLower(trim(header.substr(i, eq - i)));
        std::size_t j = eq + 1;
        while (j < header.size() && (header[j] == ' ' || header[j] == '\t'))
            ++j;
        if (j < header.size() && header[j] == '"') {
            for (++j; j < header.size() && header[j] != '"'; ++j) {
                if (header[j] == '\\' && j + 1 < header.size())
                    ++j;
                p.value += header[j];
            }
            i = header.find(';', j);
        } else {
            const std::size_t end = header.find(';', j);
            p.value = std::string(trim(header.substr(
                j, end == std::string_view::npos ? std::string_view::npos : end - j)));
            i = end;
        }
        out.push_back(std::move(p));
    }
    return out;
}

// filename*'s value: charset'language'percent-encoded bytes.
std::string extendedValue(std::string_view value) {
    const std::size_t first = value.find('\'');
    if (first == std::string_view::npos)
        return {};
    const std::size_t second = value.find('\'', first + 1);
    if (second == std::string_view::npos)
        return {};
    const std::string charset = asciiLower(value.substr(0, first));
    const std::string bytes = percentDecoded(value.substr(second + 1), BrokenEscape::Keep);
    if (charset == "utf-8")
        return bytes;
    if (charset == "iso-8859-1")
        return latin1ToUtf8(bytes);
    return {}; // a charset we cannot read: the plain filename, or the URL, instead
}

} // namespace

AnswerKind answerKind(std::string_view contentType, std::string_view contentDisposition) {
    const std::string disposition = asciiLower(trim(contentDisposition));
    if (disposition.rfind("attachment", 0) == 0)
        return AnswerKind::File;
    std::string type = asciiLower(trim(contentType.substr(0, contentType.find(';'))));
    if (type == "text/html" || type == "application/xhtml+xml")
        return AnswerKind::Page;
    if (type.empty() || type.rfind("text/", 0) == 0 || type == "application/octet-stream" ||
        type == "application/xml")
        return AnswerKind::Undecided;
    return AnswerKind::File;
}

bool looksLikeHtml(std::string_view bytes) {
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        bytes.remove_prefix(3);
    while (!bytes.empty() && (bytes.front() == ' ' || bytes.front() == '\t' ||
                              bytes.front() == '\r' || bytes.front() == '\n'))
        bytes.remove_prefix(1);
    if (bytes.empty() || bytes.front() != '<')
        return false;
    const std::string start = asciiLower(bytes.substr(0, 16));
    for (const char* tag : {"<!doctype", "<html", "<head", "<body", "<!--", "<title", "<script",
                            "<meta", "<div", "<p", "<form", "<table", "<h1", "<a ", "<br"})
        if (start.rfind(tag, 0) == 0)
            return true;
    return false;
}

std::string directFileName(std::string_view contentDisposition, std::string_view url) {
    std::string plain;
    for (const Parameter& p : parameters(contentDisposition)) {
        if (p.name == "filename*") {
            std::string name = extendedValue(p.value);
            if (!name.empty())
                return name;
        } else if (p.name == "filename" && plain.empty()) {
            plain = p.value;
        }
    }
    if (!plain.empty())
        return plain;
    // The URL's path: no query, no fragment, the last segment.
    std::string_view path = url;
    const std::size_t scheme = path.find("://");
    if (scheme != std::string_view::npos) {
        path.remove_prefix(scheme + 3);
        const std::size_t slash = path.find('/');
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    }
    path = path.substr(0, path.find_first_of("?#"));
    const std::size_t last = path.rfind('/');
    if (last != std::string_view::npos)
        path.remove_prefix(last + 1);
    return percentDecoded(path, BrokenEscape::Keep);
}

} // namespace torvaline
