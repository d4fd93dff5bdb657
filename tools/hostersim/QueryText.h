#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostersim {

// Percent-encodes everything but RFC 3986's unreserved characters, for a value in a query.
std::string encodeQueryValue(std::string_view text);
// Undoes percent-encoding (and, in a form body, '+' for a space); a stray '%' stays as it is.
std::string decodeQueryText(std::string_view text, bool plusIsSpace);
// The name=value fields of an application/x-www-form-urlencoded body, in their order.
std::vector<std::pair<std::string, std::string>> formFields(std::string_view body);

} // namespace hostersim
