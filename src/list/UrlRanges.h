#pragma once

#include "platform/Result.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace torvaline {

// Ranges in a typed link: "http://h/file.part[01-20].rar" stands for part01 to part20 (the
// numbers as wide as the range's zero-padded bound), "[a-f]" for the letters a to f. A range
// may run downwards ("[20-01]"); several ranges in one link multiply. Brackets that hold
// anything else stay as typed, so an address such as "http://[::1]/" keeps its meaning.

// The most links one pattern may make; beyond this the pattern is refused, not cut.
inline constexpr std::size_t MaxRangeLinks = 10000;

struct RangeExpansion {
    std::vector<std::string> lines;
    // The lines each pattern of more than one link made, as [first, end) into lines: the rows
    // of one pattern are one batch (one package).
    std::vector<std::pair<std::size_t, std::size_t>> batches;
};

// Each line with its ranges expanded, in order; a line without a range stays exactly as typed.
// Fails, with nothing expanded, when a pattern makes more than `limit` links; the reason names
// the first such pattern.
Result<RangeExpansion> ExpandUrlRanges(const std::vector<std::string>& lines,
                                       std::size_t limit = MaxRangeLinks);

} // namespace torvaline
