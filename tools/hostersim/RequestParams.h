#pragma once

#include <cstdint>

namespace httplib {
struct Request;
}

namespace hostersim {

// What the emulator's pages are served as.
inline constexpr const char* kHtml = "text/html; charset=utf-8";

// A numeric query parameter, capped at max; fallback when it is missing or not a number.
std::uint64_t numberParam(const httplib::Request& req, const char* key, std::uint64_t fallback,
                          std::uint64_t max);

} // namespace hostersim
