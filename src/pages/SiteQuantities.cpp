#include "pages/SiteQuantities.h"

#include "platform/AsciiCase.h"

#include <string>

namespace torvaline {

namespace {

// Longer than any wait or size a page spells out: whatever it is, it is not one.
constexpr std::size_t MaxQuantityText = 200;
constexpr std::int64_t YearSeconds = 366LL * 24 * 3600;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A decimal number at `i` (digits, then maybe '.' or ',' and digits); false when there is none
// or it is absurdly long. The whole part and up to three decimals, as thousandths.
bool readNumber(std::string_view text, std::size_t& i, std::int64_t& thousandths) {
    const std::size_t start = i;
    std::int64_t whole = 0;
    while (i < text.size() && isDigit(text[i])) {
        if (i - start >= 12)
            return false;
        whole = whole * 10 + (text[i] - '0');
        ++i;
    }
    if (i == start)
        return false;
    std::int64_t fraction = 0;
    int places = 0;
    if (i + 1 < text.size() && text[i] == '.' && isDigit(text[i + 1])) {
        ++i;
        while (i < text.size() && isDigit(text[i])) {
            if (places < 3) {
                fraction = fraction * 10 + (text[i] - '0');
                ++places;
            }
            ++i;
        }
    }
    for (; places < 3; ++places)
        fraction *= 10;
    thousandths = whole * 1000 + fraction;
    return true;
}

std::string readWord(std::string_view text, std::size_t& i) {
    const std::size_t start = i;
    while (i < text.size() && isLetter(text[i]))
        ++i;
    return asciiLower(text.substr(start, i - start));
}

void skipSeparators(std::string_view text, std::size_t& i) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',' || text[i] == '\t' ||
                               text[i] == '\r' || text[i] == '\n' || text[i] == '.'))
        ++i;
}

std::int64_t secondsOf(const std::string& unit) {
    if (unit == "s" || unit == "sec" || unit == "secs" || unit == "second" || unit == "seconds")
        return 1;
    if (unit == "m" || unit == "min" || unit == "mins" || unit == "minute" || unit == "minutes")
        return 60;
    if (unit == "h" || unit == "hr" || unit == "hrs" || unit == "hour" || unit == "hours")
        return 3600;
    if (unit == "d" || unit == "day" || unit == "days")
        return 86400;
    return 0;
}

std::uint64_t bytesOf(const std::string& unit) {
    if (unit == "b" || unit == "byte" || unit == "bytes")
        return 1;
    if (unit == "kb" || unit == "kib" || unit == "k")
        return 1ULL << 10;
    if (unit == "mb" || unit == "mib" || unit == "m")
        return 1ULL << 20;
    if (unit == "gb" || unit == "gib" || unit == "g")
        return 1ULL << 30;
    if (unit == "tb" || unit == "tib" || unit == "t")
        return 1ULL << 40;
    return 0;
}

} // namespace

std::optional<std::int64_t> ReadDuration(std::string_view text, std::int64_t bareUnitSeconds) {
    if (text.size() > MaxQuantityText)
        return std::nullopt;
    std::size_t i = 0;
    skipSeparators(text, i);
    std::int64_t total = 0; // thousandths of a second
    int parts = 0;
    while (i < text.size()) {
        std::int64_t number = 0;
        if (!readNumber(text, i, number))
            return std::nullopt;
        while (i < text.size() && text[i] == ' ')
            ++i;
        const std::string unit = readWord(text, i);
        std::int64_t unitSeconds = 0;
        if (unit.empty()) {
            // Only a number standing alone takes the unit the context gives it.
            skipSeparators(text, i);
            if (parts != 0 || i != text.size())
                return std::nullopt;
            unitSeconds = bareUnitSeconds;
        } else {
            unitSeconds = secondsOf(unit);
            if (unitSeconds == 0)
                return std::nullopt;
        }
        total += number * unitSeconds;
        if (total >= YearSeconds * 1000)
            return std::nullopt;
        ++parts;
        skipSeparators(text, i);
        const std::size_t before = i;
        if (readWord(text, i) != "and")
            i = before;
        skipSeparators(text, i);
    }
    if (parts == 0)
        return std::nullopt;
    // A part of a second still has to be waited out.
    return (total + 999) / 1000;
}

std::optional<std::uint64_t> ReadSize(std::string_view text) {
    if (text.size() > MaxQuantityText)
        return std::nullopt;
    std::size_t i = 0;
    skipSeparators(text, i);
    std::int64_t number = 0;
    if (!readNumber(text, i, number))
        return std::nullopt;
    while (i < text.size() && text[i] == ' ')
        ++i;
    const std::uint64_t unit = bytesOf(readWord(text, i));
    skipSeparators(text, i);
    if (unit == 0 || i != text.size())
        return std::nullopt;
    // Below a petabyte, in thousandths: far inside 64 bits.
    if (static_cast<std::uint64_t>(number) >= (1ULL << 50) / unit * 1000)
        return std::nullopt;
    return (static_cast<std::uint64_t>(number) * unit + 999) / 1000;
}

} // namespace torvaline
