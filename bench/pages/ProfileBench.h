#pragma once

#include <functional>
#include <string>

// The hoster profiles' share of page handling: the built-in profile of the first hoster
// against the rules as they were compiled in, on the given page texts, and the Free Download
// family's RE2 messages on the biggest page against gumbo's bare parse of it. Prints its
// figures and `target` lines.
void measureProfiles(const std::function<std::string(std::size_t)>& hosterPage);
