#pragma once

#include <string>
#include <string_view>

namespace torvaline {

// Lower case for the ASCII letters only: other bytes (UTF-8 sequences among them) stay as they
// are, whatever the locale, and a negative char is never handed to <cctype>.
constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = AsciiLower(c);
    return lower;
}

} // namespace torvaline
