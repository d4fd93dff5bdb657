#pragma once

#include "platform/AsciiCase.h"

#include <string>
#include <string_view>

namespace torvaline {

// What percent-decoding does with an escape that is not one ("%4", "%zz") or that makes a zero
// byte: a path the program will open refuses the whole text; a name it will check anyway keeps
// the broken escape as it stands.
enum class BrokenEscape { Refuse, Keep };

// `text` percent-decoded; empty when `broken` is Refuse and an escape is broken or makes a zero
// byte.
inline std::string percentDecoded(std::string_view text, BrokenEscape broken) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            const int hi = i + 2 < text.size() ? asciiHexValue(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? asciiHexValue(text[i + 2]) : -1;
            const bool whole = hi >= 0 && lo >= 0;
            if (broken == BrokenEscape::Refuse && (!whole || (hi == 0 && lo == 0)))
                return {};
            if (whole) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

} // namespace torvaline
