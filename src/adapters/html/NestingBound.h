#pragma once

#include <cstddef>
#include <string_view>

namespace torvaline::html {

// The deepest tree the documents accept. The parser's time grows with the depth of the open
// elements for every tag it reads, and the version we build on has no depth limit of its own: a
// page of nothing but nested start tags held a core for minutes. At this depth a page of the
// largest size we fetch, nested to the limit over and over, parses in about 1.3 times what a
// plain page of that size takes; no hoster page comes anywhere near it.
inline constexpr std::size_t kMaxTreeDepth = 256;

// Whether parsing `page` may open more than `limit` elements inside one another, the root html,
// head and body not counted. One linear pass over the tags that follows the parser's rules for
// closing elements (implied ends, scopes, tables, selects, foreign content, formatting elements
// the parser reopens); where the rules are subtle it errs towards "deeper", which only a page
// hundreds of levels deep can meet. It is a model, not the parser: checked against the parser on
// generated tag soup, the parser's depth stays within three times this estimate for all but a
// few rare mixes of tables, templates and foreign content. What it misses still runs on a worker
// that Stop and the browser's end never wait for.
bool nestsDeeperThan(std::string_view page, std::size_t limit);

} // namespace torvaline::html
