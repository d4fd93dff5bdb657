#include "pages/HosterProfiles.h"

namespace torvaline {

HosterProfiles::HosterProfiles()
    : HosterProfiles(std::vector<HosterProfile>{FourSharedProfile(), RapidShareProfile()}) {}

HosterProfiles::HosterProfiles(std::vector<HosterProfile> profiles)
    : m_profiles(std::move(profiles))
    , m_fallback(RapidShareProfile()) {
    // The first hoster's profile as loaded wins over the compiled one, so that a fixed
    // built-in reaches the links nobody claims too.
    if (const HosterProfile* own = byName(m_fallback.name); own && own->origin == "built-in")
        m_fallback = *own;
}

const HosterProfile* HosterProfiles::forLink(std::string_view link) const {
    for (const HosterProfile& p : m_profiles) {
        if (p.handles(link))
            return &p;
    }
    return nullptr;
}

const HosterProfile* HosterProfiles::byName(std::string_view name) const {
    if (name.empty())
        return nullptr;
    for (const HosterProfile& p : m_profiles) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

const HosterProfile& HosterProfiles::forRow(std::string_view host, std::string_view link) const {
    if (const HosterProfile* p = byName(host))
        return *p;
    if (const HosterProfile* p = forLink(link))
        return *p;
    return m_fallback;
}

std::string HosterProfiles::hostName(std::string_view link) const {
    const HosterProfile* p = forLink(link);
    return p ? p->name : std::string();
}

HosterProfiles::Site HosterProfiles::siteOf(std::string_view link) const {
    Site site;
    std::string host = LinkHost(link);
    if (host.starts_with("www."))
        host.erase(0, 4);
    site.name = host;
    const HosterProfile* p = forLink(link);
    if (!p)
        return site;
    site.maxParallel = p->maxParallel;
    // The entry the link's host is, or is below: a hoster's download servers are the hoster.
    for (const std::string& h : p->hosts) {
        if (HostIsOrIsBelow(site.name, h)) {
            site.name = h;
            break;
        }
    }
    return site;
}

} // namespace torvaline
