#pragma once

#include "pages/HosterProfile.h"
#include "platform/Result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvaline {

// The hoster profiles of one start: what was loaded, and what was refused and why.
struct HosterLoad {
    std::vector<HosterProfile> profiles; // the user's first, in the order found, then built-in
    std::vector<std::string> problems;   // "file:line:column: reason", one per refused file
    std::vector<std::string> notices;    // accepted, but worth a word (a built-in overridden)
};

// Limits on a profile file: it is input like any page.
inline constexpr std::size_t MaxProfileBytes = 256 * 1024;
inline constexpr std::size_t MaxPatternLength = 2000;
inline constexpr std::size_t MaxMessages = 100;
inline constexpr std::size_t MaxTestPages = 100;
inline constexpr std::size_t MaxSteps = 20;
inline constexpr std::size_t MaxTestPageBytes = 8u << 20;
inline constexpr std::size_t MaxProfileFiles = 500;

// Reads one profile. `file` names it in messages; test pages named in it are read from `dir`
// (empty: it may name none). A failure's reason is "file:line:column: reason".
Result<HosterProfile> ParseProfile(std::string_view text, const std::string& file,
                                   const std::string& dir);

// The built-in profiles, in the order they are tried.
std::vector<HosterProfile> BuiltinHosters();

// The folder of the user's profiles: $XDG_CONFIG_HOME/torvaline/hosters, by default
// ~/.config/torvaline/hosters.
std::string UserHostersDir();

// The profiles of every *.toml file in `dirs` (each folder's files in name order; a folder
// that does not exist is skipped quietly), then the built-in ones. Two profiles of one name or
// one host: the later file is refused. A user profile for a built-in hoster replaces it.
HosterLoad LoadHosters(const std::vector<std::string>& dirs, bool withBuiltins = true);

} // namespace torvaline
