#include "adapters/html/AsciiCase.h"

namespace torvaline {

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = asciiLower(c);
    return out;
}

} // namespace torvaline
