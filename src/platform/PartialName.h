#pragma once

#include <string>
#include <string_view>

namespace torvaline {

// The name a transfer gives the temporary file it writes: <stem>.tv<12 lower-case hex>.part.
// Whatever later holds on to such a file (a retry, the recovery file) knows it by this name and
// touches nothing else.
struct PartialName {
    static constexpr std::string_view Infix = ".tv";
    static constexpr std::size_t HexDigits = 12;
    static constexpr std::string_view Suffix = ".part";

    static std::string make(const std::string& stem, const std::string& hex) {
        return stem + std::string(Infix) + hex + std::string(Suffix);
    }
    static bool matches(std::string_view name) {
        constexpr std::size_t Tail = Infix.size() + HexDigits + Suffix.size();
        if (name.size() <= Tail || !name.ends_with(Suffix))
            return false;
        const std::string_view tail = name.substr(name.size() - Tail);
        if (!tail.starts_with(Infix))
            return false;
        for (const char c : tail.substr(Infix.size(), HexDigits))
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
                return false;
        return true;
    }
};

} // namespace torvaline
