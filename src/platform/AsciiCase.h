#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvaline {

// ASCII-only case folding, as HTML, URLs and file extensions want it: other bytes (UTF-8
// included) stay as they are, whatever the locale, and no negative char reaches <cctype>.
constexpr char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr bool asciiEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}
constexpr bool asciiStartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && asciiEqualNoCase(text.substr(0, prefix.size()), prefix);
}
// The value of one hexadecimal digit, or -1: for percent-encoding and the like.
constexpr int asciiHexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
inline std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = asciiLower(c);
    return out;
}

} // namespace torvaline
