#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace torvaline {

// Waits and sizes as hosters write them for people, not for programs.

// "1 hour, 5 minutes, 10 seconds", "59 seconds", "2 hours", "5 min", "30 sec", "1h 5m", in any
// order, with or without commas or "and". A bare number counts in `bareUnitSeconds` (a
// hoster's wait message means minutes, a countdown seconds). Nothing: not a duration, or one
// of a year or more (no hoster means that; it is a page out of order).
std::optional<std::int64_t> ReadDuration(std::string_view text, std::int64_t bareUnitSeconds);

// "1.2 GB", "700 MB", "512 KB", "123 bytes", "4 Mb" in bytes (the units of 1024, as the
// hosters mean them). Nothing: not a size, or one of a petabyte or more.
std::optional<std::uint64_t> ReadSize(std::string_view text);

} // namespace torvaline
