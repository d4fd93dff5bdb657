#pragma once

#include "pages/HosterProfile.h"

#include <string>
#include <string_view>
#include <vector>

namespace torvaline {

// The profiles a row may be handled by: the user's first, then the built-in ones. A link is
// handled by the first profile that claims it; a link nobody claims by the first hoster's
// profile, as it always was.
class HosterProfiles final {
public:
    // The two compiled-in profiles alone.
    HosterProfiles();
    explicit HosterProfiles(std::vector<HosterProfile> profiles);

    const std::vector<HosterProfile>& all() const { return m_profiles; }
    // The first profile that claims the link, or null.
    const HosterProfile* forLink(std::string_view link) const;
    // The profile of that name, or null.
    const HosterProfile* byName(std::string_view name) const;
    // What a row is handled by: the profile its Host cell names, else the one that claims its
    // link, else the first hoster's.
    const HosterProfile& forRow(std::string_view host, std::string_view link) const;
    // The Host cell of a new row: the claiming profile's name, or empty.
    std::string hostName(std::string_view link) const;
    // The site a link belongs to, as one hoster whose free rows take turns: the profile's host
    // entry the link's host is (or is below), else the link's own host; and how many of its
    // rows may run at once (the profile's limit, 1 for a link no profile claims).
    struct Site {
        std::string name;
        int maxParallel = 1;
    };
    Site siteOf(std::string_view link) const;

private:
    std::vector<HosterProfile> m_profiles;
    HosterProfile m_fallback;
};

} // namespace torvaline
