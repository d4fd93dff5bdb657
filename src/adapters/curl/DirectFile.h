#pragma once

#include <string>
#include <string_view>

namespace torvaline {

// Whether the answer to a row's link is a page for the page rules or a file to transfer as it
// is, from what the answer says of itself.
enum class AnswerKind { Page, File, Undecided };

// From the final answer's Content-Type and Content-Disposition: an attachment or a type that
// is not text is a file, an HTML type is a page; plain text, a generic binary type or none at
// all is decided by the first bytes.
AnswerKind answerKind(std::string_view contentType, std::string_view contentDisposition);
// The first bytes of a body that says nothing useful of itself: markup is a page.
bool looksLikeHtml(std::string_view firstBytes);

// The name a direct file is saved under: Content-Disposition's filename* (RFC 8187, UTF-8 or
// ISO-8859-1), then its filename, else the last segment of the URL's path, percent-decoded.
// Not checked here: the cycle checks it like every other name.
std::string directFileName(std::string_view contentDisposition, std::string_view url);

} // namespace torvaline
