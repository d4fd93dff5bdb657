#include "pages/TimeText.h"

#include "pages/ConversionError.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace torvaline {

std::string FormatSecsToHMS(std::int32_t seconds) {
    const auto hours = static_cast<std::uint16_t>(seconds / 3600);
    const auto minutes = static_cast<std::uint16_t>((seconds % 3600) / 60);
    const std::int32_t secs = seconds % 60;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%u:%u:%d", static_cast<unsigned>(hours),
                  static_cast<unsigned>(minutes), secs);
    return buf;
}

std::string TimeText(double days) {
    constexpr auto msPerDay = static_cast<long long>(DayLengthSeconds) * 1000;
    double magnitude = std::fabs(days) * DayLengthSeconds * 1000.0;
    long long ms = 0;
    if (std::isfinite(magnitude)) {
        // Take the modulo before rounding to keep huge values inside long long.
        magnitude = std::fmod(magnitude, static_cast<double>(msPerDay) * 1024.0);
        ms = std::llround(magnitude) % msPerDay;
    }
    const long long totalSeconds = ms / 1000;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", totalSeconds / 3600,
                  (totalSeconds % 3600) / 60, totalSeconds % 60);
    return buf;
}

std::int32_t StrToInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size())
        throw ConversionError("'" + text + "' is not a valid integer value");
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            throw ConversionError("'" + text + "' is not a valid integer value");
        value = value * 10 + (c - '0');
        if (value > static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1)
            throw ConversionError("'" + text + "' is not a valid integer value");
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max() ||
        value < std::numeric_limits<std::int32_t>::min())
        throw ConversionError("'" + text + "' is not a valid integer value");
    return static_cast<std::int32_t>(value);
}

double StrToTime(const std::string& text) {
    long long fields[3] = {0, 0, 0};
    int field = 0;
    bool digits = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            fields[field] = fields[field] * 10 + (c - '0');
            if (fields[field] > 100000)
                throw ConversionError("'" + text + "' is not a valid time");
            digits = true;
        } else if (c == ':' && digits && field < 2) {
            ++field;
            digits = false;
        } else {
            throw ConversionError("'" + text + "' is not a valid time");
        }
    }
    if (field != 2 || !digits || fields[0] >= 24 || fields[1] >= 60 || fields[2] >= 60)
        throw ConversionError("'" + text + "' is not a valid time");
    return static_cast<double>(fields[0] * 3600 + fields[1] * 60 + fields[2]) / DayLengthSeconds;
}

} // namespace torvaline
