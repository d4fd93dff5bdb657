#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace torvaline {

class CurlShare;

// The picture of an image captcha, fetched as the row's pages were (their cookies with it):
// small and soon, or not at all.
struct CaptchaPicture {
    std::string bytes;
    // Why there is none; empty when `bytes` came whole.
    std::string problem;
};

// Blocks for the fetch: call it on a worker. Only http and https; at most `maxBytes`, within
// `timeout`.
CaptchaPicture FetchCaptchaPicture(const std::string& url, CurlShare& share,
                                   std::size_t maxBytes = 1u << 20,
                                   std::chrono::seconds timeout = std::chrono::seconds(20));

} // namespace torvaline
