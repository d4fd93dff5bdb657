#pragma once

#include <string>
#include <string_view>

namespace torvaline {

// ASCII-only case folding, as HTML and URLs define it: other bytes (UTF-8 included) stay as they
// are, whatever the locale.
constexpr char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string asciiLower(std::string_view text);

} // namespace torvaline
