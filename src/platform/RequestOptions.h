#pragma once

#include "platform/AsciiCase.h"
#include "platform/Result.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace torvaline {

// What a row asks to send with its requests besides what the program sends itself (the remote
// control's header, referer and user-agent options): a hoster's login cookie, a browser's
// user agent. The adapter gives the header lines, the cookie and the referer only to the host
// of the row's link and that host's subdomains, hop by hop; the user agent goes everywhere the
// row's requests go, as a browser's would.
struct RequestOptions {
    // "Name: value" lines, each one that checkRequestHeader let through.
    std::vector<std::string> headers;
    std::string referer;
    std::string userAgent;
    // The row's link, whose host the options are for; set by the cycle.
    std::string scope;

    bool empty() const { return headers.empty() && referer.empty() && userAgent.empty(); }
    // Whether any of the options is for the row's host alone.
    bool scoped() const { return !headers.empty() || !referer.empty(); }
    bool operator==(const RequestOptions&) const = default;
};

// Bounds on what a caller may hand over: a row's headers are not a place for a megabyte.
inline constexpr std::size_t MaxRequestHeaders = 64;
inline constexpr std::size_t MaxRequestHeaderBytes = 8192;

// Whether the header line can be sent as it stands, or why not: a name that is an HTTP
// token, no CR, LF, NUL or other control byte anywhere (a line break would smuggle a header or
// a whole request in), and none of the headers that frame the message or the connection, which
// the program sets itself.
inline Result<void> checkRequestHeader(std::string_view line) {
    const auto refused = [](std::string why) { return fail(FailureCause::Other, std::move(why)); };
    if (line.size() > MaxRequestHeaderBytes)
        return refused("the header is too long");
    for (const char c : line)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
            return refused("the header holds a line break or a control character");
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return refused("the header has no name");
    const std::string_view name = line.substr(0, colon);
    for (const char c : name) {
        const bool token = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') ||
                           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
        if (!token)
            return refused("the header's name is not a name");
    }
    for (const std::string_view framing :
         {"Host", "Content-Length", "Transfer-Encoding", "Connection", "Range", "If-Range",
          "Expect", "TE", "Trailer", "Upgrade", "Keep-Alive", "Proxy-Connection"})
        if (asciiEqualNoCase(name, framing))
            return refused("the header " + std::string(framing) + " is the program's own");
    return {};
}

} // namespace torvaline
