#include "list/UrlRanges.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace torvaline {

namespace {

// One bracketed range of a line: where it stands and the texts it stands for.
struct Range {
    std::size_t begin = 0; // the '['
    std::size_t end = 0;   // after the ']'
    bool letters = false;
    std::uint64_t first = 0, last = 0;
    std::size_t width = 0; // zero padding of numbers

    std::uint64_t count() const { return (first <= last ? last - first : first - last) + 1; }
    std::string at(std::uint64_t i) const {
        const std::uint64_t v = first <= last ? first + i : first - i;
        if (letters)
            return std::string(1, static_cast<char>(v));
        std::string digits = std::to_string(v);
        if (digits.size() < width)
            digits.insert(0, width - digits.size(), '0');
        return digits;
    }
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLower(char c) {
    return c >= 'a' && c <= 'z';
}
bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

// More digits than this would not fit the count, and no link numbers its parts so.
constexpr std::size_t MaxDigits = 9;

std::optional<Range> parseRange(const std::string& inside) {
    const std::size_t dash = inside.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == inside.size())
        return std::nullopt;
    const std::string a = inside.substr(0, dash);
    const std::string b = inside.substr(dash + 1);
    Range r;
    if (a.size() == 1 && b.size() == 1 &&
        ((isLower(a[0]) && isLower(b[0])) || (isUpper(a[0]) && isUpper(b[0])))) {
        r.letters = true;
        r.first = static_cast<unsigned char>(a[0]);
        r.last = static_cast<unsigned char>(b[0]);
        return r;
    }
    if (a.size() > MaxDigits || b.size() > MaxDigits)
        return std::nullopt;
    for (const char c : a + b)
        if (!isDigit(c))
            return std::nullopt;
    r.first = std::stoull(a);
    r.last = std::stoull(b);
    const bool padded = (a.size() > 1 && a[0] == '0') || (b.size() > 1 && b[0] == '0');
    r.width = padded ? std::max(a.size(), b.size()) : 0;
    return r;
}

std::vector<Range> rangesOf(const std::string& line) {
    std::vector<Range> ranges;
    std::size_t from = 0;
    for (;;) {
        const std::size_t open = line.find('[', from);
        if (open == std::string::npos)
            return ranges;
        const std::size_t close = line.find(']', open + 1);
        if (close == std::string::npos)
            return ranges;
        const std::string inside = line.substr(open + 1, close - open - 1);
        // A '[' inside belongs to the next range, if any.
        if (inside.find('[') != std::string::npos) {
            from = open + 1;
            continue;
        }
        if (auto range = parseRange(inside)) {
            range->begin = open;
            range->end = close + 1;
            ranges.push_back(*range);
        }
        from = close + 1;
    }
}

} // namespace

Result<RangeExpansion> ExpandUrlRanges(const std::vector<std::string>& lines, std::size_t limit) {
    RangeExpansion out;
    for (const std::string& line : lines) {
        const std::vector<Range> ranges = rangesOf(line);
        if (ranges.empty()) {
            out.lines.push_back(line);
            continue;
        }
        std::uint64_t total = 1;
        for (const Range& r : ranges) {
            total *= r.count();
            if (total > limit)
                return fail(FailureCause::Other, "A URL range may make at most " +
                                                     std::to_string(limit) +
                                                     " links; this one makes more:\n" + line);
        }
        if (total > 1)
            out.batches.emplace_back(out.lines.size(), out.lines.size() + total);
        // Odometer order: the last range turns fastest, as the parts of a file are numbered.
        std::vector<std::uint64_t> index(ranges.size(), 0);
        for (std::uint64_t n = 0; n < total; ++n) {
            std::string link;
            std::size_t at = 0;
            for (std::size_t k = 0; k < ranges.size(); ++k) {
                link.append(line, at, ranges[k].begin - at);
                link += ranges[k].at(index[k]);
                at = ranges[k].end;
            }
            link.append(line, at, std::string::npos);
            out.lines.push_back(std::move(link));
            for (std::size_t k = ranges.size(); k-- > 0;) {
                if (++index[k] < ranges[k].count())
                    break;
                index[k] = 0;
            }
        }
    }
    return out;
}

} // namespace torvaline
