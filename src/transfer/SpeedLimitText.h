#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace torvaline {

// A download speed limit as the user reads it: "512 KiB/s", "1.5 MiB/s", "No limit".
inline std::string speedLimitText(std::uint64_t bytesPerSecond) {
    if (bytesPerSecond == 0)
        return "No limit";
    static const char* const units[] = {"bytes/s", "KiB/s", "MiB/s", "GiB/s"};
    double value = static_cast<double>(bytesPerSecond);
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    char text[48];
    // Whole numbers without a fraction: the presets read "1 MiB/s", not "1.00 MiB/s".
    if (value == static_cast<double>(static_cast<std::uint64_t>(value)))
        std::snprintf(text, sizeof text, "%.0f %s", value, units[unit]);
    else
        std::snprintf(text, sizeof text, "%.2g %s", value, units[unit]);
    return text;
}

// A rate as curl's --limit-rate takes it: bytes a second, whole or with a fraction, with an
// optional K, M or G (powers of 1024, either case), blanks around it allowed. "0" is no limit.
// Nothing for anything else, or for a rate beyond any network (a terabyte a second).
inline std::optional<std::uint64_t> parseSpeedLimit(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    double unit = 1;
    if (!text.empty()) {
        const char last = text.back();
        unit = last == 'k' || last == 'K'   ? 1024.0
               : last == 'm' || last == 'M' ? 1024.0 * 1024
               : last == 'g' || last == 'G' ? 1024.0 * 1024 * 1024
                                            : 1.0;
        if (unit > 1)
            text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 24)
        return std::nullopt;
    double whole = 0;
    double fraction = 0;
    double scale = 1;
    bool point = false;
    bool digits = false;
    for (const char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (point)
                fraction += (c - '0') * (scale /= 10);
            else
                whole = whole * 10 + (c - '0');
        } else {
            return std::nullopt;
        }
    }
    const double value = (whole + fraction) * unit;
    if (!digits || value > 1099511627776.0)
        return std::nullopt;
    return static_cast<std::uint64_t>(value);
}

} // namespace torvaline
