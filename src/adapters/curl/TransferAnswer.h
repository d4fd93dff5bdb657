#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvaline {

// The headers of one HTTP answer that a transfer acts on, and the rules it reads them by.
// A redirect's answer is forgotten when the next one starts.
struct TransferAnswer final {
    std::string contentType;
    std::string retryAfter;
    std::string etag;
    std::string lastModified;
    std::string contentRange;
    std::string contentEncoding;
    // The first Content-Length as sent, and whether a later one said something else.
    std::string contentLength;
    bool hasContentLength = false;
    bool contentLengthsDiffer = false;
    bool location = false;

    // Takes one header line ("Name: value"); headers we do not act on are ignored.
    void takeHeader(std::string_view line);
    // What identifies this version of the file for If-Range: a strong ETag, else the date.
    std::string validator() const;
    // Whether `validator` may make a range conditional: a strong ETag or a date, never empty
    // and never a weak ETag ("W/...").
    static bool isStrongValidator(std::string_view validator);
    // Retry-After in seconds or as an HTTP date, capped at half an hour so that a hostile
    // server cannot park a row for days; 0 when absent or unreadable.
    std::chrono::seconds retryAfterSeconds() const;
    // What Content-Length tells of the body. libcurl takes the last of two that disagree and
    // reads past one it cannot parse, so a body cut short or run long would pass for the file:
    // such an answer is Unreadable, and no attempt to take it as the file.
    enum class Length { Absent, Known, Unreadable };
    Length length(std::uint64_t& bytes) const;
    // "bytes FIRST-LAST/TOTAL"; false for anything else ("*" included).
    bool contentRangeOf(std::uint64_t& first, std::uint64_t& last, std::uint64_t& total) const;

    // Failures that may go away by themselves: worth another attempt.
    static bool isTransientStatus(long status);
    static bool isTransientCode(CURLcode code);
    // "812 bytes", "1.5 MiB", "1.0 PiB".
    static std::string sizeText(std::uint64_t bytes);
};

} // namespace torvaline
