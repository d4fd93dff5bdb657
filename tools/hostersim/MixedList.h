#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostersim {

class HosterSites;

// A list that mixes hosters, as a free user's night list does: the Free Download family on
// several sites (127.0.0.1, 127.0.0.2, ...), each site asking a free user to wait after each
// file (after=N, XfsPages.h) and counting down before each one.
struct MixedList {
    int waitAfter = 60; // seconds a site holds a free user after each of its files
    int countdown = 2;  // seconds before each file
    std::uint64_t size = 2u << 20;
    std::uint64_t rate = 0; // bytes a second a file comes at; 0: as fast as it goes
    std::size_t files = 3;  // a site

    // The links of the sites `first` to `first + count - 1` of `sites` (count 0: to the last),
    // `files` of each site in a row, the first site's first, as a user pastes one hoster's
    // links together. The files of a site are named after it ("alpha-1.bin", "beta-2.bin",
    // ...) and grow a little from one to the next, so no two are of one size.
    std::vector<std::string> links(const HosterSites& sites, std::size_t first = 0,
                                   std::size_t count = 0) const;
};

// Writes `lines` as a list file (CR LF line ends); false when it cannot.
bool writeListFile(const std::vector<std::string>& lines, const std::string& path);

} // namespace hostersim
