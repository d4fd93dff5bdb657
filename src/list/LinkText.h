#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace torvaline {

// Links in text a user drops, pastes or copies, and in what a browser or a file manager hands
// over as a URI list. Only http and https links count: anything else found in such text is
// either not a download or not ours to open.

// The longest link taken; a longer "link" is a paste gone wrong, not an address.
inline constexpr std::size_t MaxLinkBytes = 8 * 1024;

// The http and https links in free text, in order of appearance, each once. A link ends at a
// blank, a control character or a quote or angle bracket; a trailing full stop, comma, colon,
// semicolon, exclamation or question mark, and a closing bracket it did not open, belong to
// the sentence around it. At most `limit` links are returned.
std::vector<std::string> FindLinks(std::string_view text,
                                   std::size_t limit = static_cast<std::size_t>(-1));

// A text/uri-list: one URI a line (CR LF, LF alone accepted), '#' lines are comments.
struct UriList {
    std::vector<std::string> links; // http and https, each once
    std::vector<std::string> files; // local paths of file: URIs (this machine's only), decoded
};
UriList ReadUriList(std::string_view text);

// Whether a dropped or pasted file is imported as a list file: a name ending in ".txt".
bool IsListFileName(std::string_view path);

// Whether a link belongs to a hoster the program knows (its "Host" cell is not empty).
bool IsHosterLink(const std::string& link);

} // namespace torvaline
