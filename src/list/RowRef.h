#pragma once

#include <cstdint>
#include <string_view>

namespace torvaline {

// One row of a batch that came or went. The link is valid for the call only.
struct RowRef {
    std::uint64_t id = 0;
    std::string_view link;
};

} // namespace torvaline
