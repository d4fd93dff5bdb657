#include "list/LinkText.h"

#include "list/LinkLines.h"
#include "platform/AsciiCase.h"
#include "platform/PercentDecoding.h"

#include <unordered_set>

namespace torvaline {

namespace {

bool endsLink(unsigned char c) {
    return c <= 0x20 || c == 0x7f || c == '"' || c == '\'' || c == '<' || c == '>' || c == '`';
}

// The length of "http://" or "https://" at text[i], 0 when neither starts there.
std::size_t schemeAt(std::string_view text, std::size_t i) {
    for (const std::string_view scheme :
         {std::string_view("https://"), std::string_view("http://")})
        if (text.size() - i >= scheme.size() &&
            asciiEqualNoCase(text.substr(i, scheme.size()), scheme))
            return scheme.size();
    return 0;
}

bool isAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Drops the sentence's punctuation from the end of a link.
std::string_view trimTail(std::string_view link) {
    while (!link.empty()) {
        const char c = link.back();
        if (c == '.' || c == ',' || c == ':' || c == ';' || c == '!' || c == '?') {
            link.remove_suffix(1);
            continue;
        }
        const char open = c == ')' ? '(' : c == ']' ? '[' : c == '}' ? '{' : 0;
        if (open == 0)
            break;
        std::size_t opened = 0, closed = 0;
        for (const char d : link) {
            opened += d == open;
            closed += d == c;
        }
        if (closed <= opened)
            break;
        link.remove_suffix(1);
    }
    return link;
}

// A link needs a host: something before the first '/' after the scheme.
bool hasHost(std::string_view link, std::size_t schemeLength) {
    return link.size() > schemeLength && link[schemeLength] != '/';
}

// The local path a file: URI names, or empty when it names another machine or is broken.
std::string localPath(std::string_view uri) {
    uri.remove_prefix(5); // "file:"
    if (uri.substr(0, 2) == "//") {
        uri.remove_prefix(2);
        const std::size_t slash = uri.find('/');
        if (slash == std::string_view::npos)
            return {};
        const std::string_view host = uri.substr(0, slash);
        if (!host.empty() && !asciiEqualNoCase(host, "localhost"))
            return {};
        uri.remove_prefix(slash);
    }
    if (uri.empty() || uri.front() != '/')
        return {};
    // A query or fragment is no part of a path.
    uri = uri.substr(0, uri.find_first_of("?#"));
    return percentDecoded(uri, BrokenEscape::Refuse);
}

} // namespace

std::vector<std::string> FindLinks(std::string_view text, std::size_t limit) {
    std::vector<std::string> links;
    std::unordered_set<std::string_view> seen;
    std::size_t i = 0;
    while (i < text.size() && links.size() < limit) {
        const char c = text[i];
        if ((c != 'h' && c != 'H') || (i > 0 && isAlnum(static_cast<unsigned char>(text[i - 1])))) {
            ++i;
            continue;
        }
        const std::size_t scheme = schemeAt(text, i);
        if (scheme == 0) {
            ++i;
            continue;
        }
        std::size_t end = i + scheme;
        while (end < text.size() && !endsLink(static_cast<unsigned char>(text[end])))
            ++end;
        const std::string_view link = trimTail(text.substr(i, end - i));
        if (hasHost(link, scheme) && link.size() <= MaxLinkBytes && seen.insert(link).second)
            links.emplace_back(link);
        i = end;
    }
    return links;
}

UriList ReadUriList(std::string_view text) {
    UriList list;
    std::unordered_set<std::string> seenLinks;
    for (std::string line : SplitTypedLinks(std::string(text))) {
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        const std::size_t last = line.find_last_not_of(" \t");
        line = line.substr(first, last - first + 1);
        const std::size_t scheme = schemeAt(line, 0);
        if (scheme != 0) {
            bool clean = line.size() <= MaxLinkBytes && hasHost(line, scheme);
            for (const char c : line)
                clean = clean && !endsLink(static_cast<unsigned char>(c));
            if (clean && seenLinks.insert(line).second)
                list.links.push_back(std::move(line));
            continue;
        }
        if (line.size() > 5 && asciiEqualNoCase(std::string_view(line).substr(0, 5), "file:")) {
            std::string path = localPath(line);
            if (!path.empty())
                list.files.push_back(std::move(path));
        }
    }
    return list;
}

bool IsListFileName(std::string_view path) {
    return path.size() > 4 && asciiEqualNoCase(path.substr(path.size() - 4), ".txt");
}

bool IsHosterLink(const std::string& link) {
    return !HostName(link).empty();
}

} // namespace torvaline
