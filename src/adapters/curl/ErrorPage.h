#pragma once

#include <string>
#include <string_view>

namespace torvaline {

// Hosters answer an expired or over-used direct link with an HTML page and status 200. Saved
// under the file's name it would read as a finished download; these tell it apart.
class ErrorPage final {
public:
    // Bytes of the body's start worth looking at before deciding.
    static constexpr std::size_t SniffBytes = 1024;
    // Bytes of such a page kept to find its title.
    static constexpr std::size_t KeptBytes = 16 * 1024;

    // A Content-Type of text/html (parameters and case aside).
    static bool isHtmlType(std::string_view contentType);
    // A body that starts like an HTML document: an optional byte order mark and white space,
    // then "<!doctype html" or "<html", in any case.
    static bool looksLikeHtml(std::string_view head);
    // A name the user would expect to hold a web page.
    static bool isHtmlName(std::string_view fileName);
    // The page's <title> text, cleaned of control and text-direction characters, white space
    // folded, at most 120 bytes; empty when there is none.
    static std::string title(std::string_view page);
};

} // namespace torvaline
