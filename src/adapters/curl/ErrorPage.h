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

    // A Content-Type of text/html or application/xhtml+xml (parameters and case aside).
    static bool isHtmlType(std::string_view contentType);

    enum class Verdict { Page, NotPage, Undecided };
    // Whether a body that starts with `head` is an HTML document: an optional byte order mark,
    // an XML declaration, white space and comments, then "<!doctype html" or "<html", in any
    // case. Undecided while `head` ends inside what may come before the document.
    static Verdict sniff(std::string_view head);
    static bool looksLikeHtml(std::string_view head) { return sniff(head) == Verdict::Page; }

    // The start of a body sent with Content-Encoding `encoding` (gzip, deflate) as it reads
    // once decoded, at most `max` bytes; the body itself for an identity or unknown encoding.
    // A cut or damaged stream gives what decoded before the damage.
    static std::string decoded(std::string_view body, std::string_view encoding,
                               std::size_t max = KeptBytes);
    // A name the user would expect to hold a web page.
    static bool isHtmlName(std::string_view fileName);
    // The page's <title> text, cleaned of control and text-direction characters, white space
    // folded, at most 120 bytes; empty when there is none.
    static std::string title(std::string_view page);
};

} // namespace torvaline
