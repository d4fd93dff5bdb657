#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvaline {

// Resolves a reference found in a page (a form action, a redirect target) against the page's
// address, the way a browser does for web addresses: surrounding blanks and control characters are
// dropped, tabs and line breaks inside are removed, dot segments are removed and bytes that may not
// stand in an address are percent-encoded. Returns the empty text when no absolute address can be
// made (no scheme anywhere). Safe on any input.
std::string resolveUrl(std::string_view base, std::string_view reference);

// The scheme of an absolute address in lower case, or the empty text when it has none.
std::string urlScheme(std::string_view url);

// application/x-www-form-urlencoded serialisation of name/value pairs, in order.
std::string formUrlEncode(const std::vector<std::pair<std::string, std::string>>& pairs);

} // namespace torvaline
