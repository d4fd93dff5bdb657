#pragma once

#include <string_view>
#include <vector>

namespace torvaline {

// A built-in profile as it is shipped: its TOML text, as a user would write it.
struct BuiltinHosterText {
    std::string_view file;
    std::string_view toml;
};

// The built-in profiles in the order they are tried: the second hoster before the first (a
// link naming both is the second's, as it always was), then the Free Download family.
const std::vector<BuiltinHosterText>& BuiltinHosterTexts();

} // namespace torvaline
