#pragma once

#include <cstdint>
#include <string_view>

namespace torvaline {

struct CheckedLink;
struct RowRecord;

// One row of a batch that came or went. The link, the record and the link check are valid for
// the call only; the record is null for a row that never had one. Only rows that went carry
// their record and link check.
struct RowRef {
    std::uint64_t id = 0;
    std::string_view link;
    const RowRecord* record = nullptr;
    const CheckedLink* checked = nullptr;
};

} // namespace torvaline
