#pragma once

#include <cstdint>
#include <string_view>

namespace torvaline {

struct RowRecord;

// One row of a batch that came or went. The link and the record are valid for the call only;
// the record is null for a row that never had one.
struct RowRef {
    std::uint64_t id = 0;
    std::string_view link;
    const RowRecord* record = nullptr;
};

} // namespace torvaline
