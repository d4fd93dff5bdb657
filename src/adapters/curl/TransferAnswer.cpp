#include "adapters/curl/TransferAnswer.h"

#include "platform/AsciiCase.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace torvaline {
namespace {

constexpr std::chrono::seconds RetryAfterMax{30 * 60};

} // namespace

void TransferAnswer::takeHeader(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    const std::string_view name = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (asciiEqualNoCase(name, "Content-Type"))
        contentType = value;
    else if (asciiEqualNoCase(name, "Retry-After"))
        retryAfter = value;
    else if (asciiEqualNoCase(name, "Location"))
        location = true;
    else if (asciiEqualNoCase(name, "ETag"))
        etag = value;
    else if (asciiEqualNoCase(name, "Last-Modified"))
        lastModified = value;
    else if (asciiEqualNoCase(name, "Content-Range"))
        contentRange = value;
    else if (asciiEqualNoCase(name, "Content-Encoding"))
        contentEncoding = value;
    else if (asciiEqualNoCase(name, "Content-Length")) {
        if (!hasContentLength)
            contentLength = value;
        else if (value != contentLength)
            contentLengthsDiffer = true;
        hasContentLength = true;
    }
}

TransferAnswer::Length TransferAnswer::length(std::uint64_t& bytes) const {
    bytes = 0;
    if (contentLengthsDiffer)
        return Length::Unreadable;
    if (!hasContentLength)
        return Length::Absent;
    // "5, 5" is one length said twice (a proxy joined two headers); anything else is not a
    // length: no sign, no exponent, nothing a file offset cannot hold.
    bool first = true;
    std::string_view rest = contentLength;
    while (true) {
        const std::size_t comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (item.empty() || item.size() > 18 ||
            !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return Length::Unreadable;
        std::uint64_t value = 0;
        for (const char c : item)
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (!first && value != bytes)
            return Length::Unreadable;
        bytes = value;
        first = false;
        if (comma == std::string_view::npos)
            return Length::Known;
        rest.remove_prefix(comma + 1);
    }
}

std::string TransferAnswer::validator() const {
    // A weak ETag cannot make a range conditional.
    return !etag.empty() && etag.front() == '"' ? etag : lastModified;
}

bool TransferAnswer::isStrongValidator(std::string_view validator) {
    return !validator.empty() && !validator.starts_with("W/") && !validator.starts_with("w/");
}

std::chrono::seconds TransferAnswer::retryAfterSeconds() const {
    if (retryAfter.empty())
        return std::chrono::seconds(0);
    if (std::all_of(retryAfter.begin(), retryAfter.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
        if (retryAfter.size() > 6)
            return RetryAfterMax;
        return std::min(RetryAfterMax, std::chrono::seconds(std::stol(retryAfter)));
    }
    const time_t when = curl_getdate(retryAfter.c_str(), nullptr);
    if (when < 0)
        return std::chrono::seconds(0);
    const auto left = std::chrono::seconds(when - std::time(nullptr));
    return std::clamp(left, std::chrono::seconds(0), RetryAfterMax);
}

bool TransferAnswer::contentRangeOf(std::uint64_t& first, std::uint64_t& last,
                                    std::uint64_t& total) const {
    std::string_view text = contentRange;
    if (!text.starts_with("bytes "))
        return false;
    text.remove_prefix(6);
    const auto take = [&](std::uint64_t& value, char until) {
        const std::size_t end = until ? text.find(until) : text.size();
        if (end == 0 || end == std::string_view::npos || end > 19)
            return false;
        value = 0;
        for (std::size_t i = 0; i < end; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        }
        text.remove_prefix(until ? end + 1 : end);
        return true;
    };
    return take(first, '-') && take(last, '/') && take(total, 0);
}

bool TransferAnswer::isTransientStatus(long status) {
    return status >= 500 || status == 408 || status == 429;
}

bool TransferAnswer::isTransientCode(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}

std::string TransferAnswer::sizeText(std::uint64_t bytes) {
    static const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 6) {
        value /= 1024;
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

} // namespace torvaline
