#include "pages/HosterProfile.h"

#include "platform/AsciiCase.h"

#include <algorithm>

namespace torvaline {

std::string LinkHost(std::string_view link) {
    const std::size_t scheme = link.find("://");
    if (scheme == std::string_view::npos)
        return {};
    std::string_view rest = link.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos)
        rest = rest.substr(at + 1);
    if (!rest.empty() && rest.front() == '[')
        rest = rest.substr(0, rest.find(']') + 1);
    else
        rest = rest.substr(0, rest.find(':'));
    return asciiLower(rest);
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool IsIpAddress(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        const std::string_view inner = host.substr(1, host.size() - 2);
        return inner.find(':') != std::string_view::npos &&
               inner.find_first_not_of("0123456789abcdef:.") == std::string_view::npos;
    }
    int parts = 0;
    std::size_t start = 0;
    while (start <= host.size()) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        const std::string_view part = host.substr(start, dot - start);
        if (part.empty() || part.size() > 3 || ++parts > 4)
            return false;
        int value = 0;
        for (const char c : part) {
            if (!isDigit(c))
                return false;
            value = value * 10 + (c - '0');
        }
        if (value > 255)
            return false;
        start = dot + 1;
    }
    return parts == 4;
}

bool IsHostName(std::string_view host) {
    if (host.size() > 253)
        return false;
    int labels = 0;
    std::size_t start = 0;
    std::string_view label;
    while (start <= host.size()) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        label = host.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-' ||
            label.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_") !=
                std::string_view::npos)
            return false;
        ++labels;
        start = dot + 1;
    }
    // A number on top would make "0.0.1" a name, and every address its child.
    const bool numericTop = std::all_of(label.begin(), label.end(), isDigit);
    return labels >= 2 && !numericTop;
}

bool HostIsOrIsBelow(std::string_view host, std::string_view entry) {
    // An address is matched whole, a name also by the names below it.
    if (host == entry)
        return true;
    return !IsIpAddress(host) && !IsIpAddress(entry) && host.size() > entry.size() &&
           host.ends_with(entry) && host[host.size() - entry.size() - 1] == '.';
}

bool HosterProfile::handles(std::string_view link) const {
    if (!hosts.empty()) {
        const std::string host = LinkHost(link);
        for (const std::string& h : hosts) {
            if (HostIsOrIsBelow(host, h))
                return true;
        }
    }
    for (const std::string& word : contains) {
        if (link.find(word) != std::string_view::npos)
            return true;
    }
    return url.pattern && url.pattern->matches(link);
}

namespace {

using R = ProfileMessage::Reaction;
using C = ProfileMessage::Cut;

ProfileMessage exact(std::string name, std::string marker, R reaction, std::size_t skip = 0,
                     std::size_t length = 0, C cut = C::AsRead, int minutes = 0) {
    ProfileMessage m;
    m.name = std::move(name);
    m.marker.text = std::move(marker);
    m.reaction = reaction;
    m.skip = skip;
    m.length = length;
    m.cut = cut;
    m.minutes = minutes;
    return m;
}

// Tried in this order on every change of the page text, until one acts.
std::vector<ProfileMessage> classicMessages() {
    return {
        exact("FindFileError", "This file is suspected to contain illegal", R::Missing),
        exact("FindError", "The file could not be found. Please check the download link.",
              R::Missing),
        exact("TryAgainAbout", "Or try again in about", R::WaitMinutes, 1, 18, C::BeforeM),
        exact("TryAgain", "try again in", R::WaitMinutes, 1, 9, C::BeforeM),
        exact("FindSlots", "Unfortunately right now our servers are over", R::FixedWait, 0, 0,
              C::AsRead, 2),
        // One character only: a wait of 15 minutes reads as 1.
        exact("FindWait", "Unfortunately you will have to wait", R::WaitMinutes, 1, 1),
        exact("FindStill", "var c=", R::Countdown, 0, 4, C::BeforeSemi),
        exact("FindAbout", "again in about", R::WaitMinutes, 1, 11, C::BeforeM),
        exact("FindReach", "You have reached the download limit for free-users", R::Limit, 0, 0,
              C::AsRead, 1),
    };
}

HosterProfile classicProfile(std::string name, std::string word) {
    HosterProfile p;
    p.name = std::move(name);
    p.origin = "built-in";
    p.contains = {std::move(word)};
    p.messages = classicMessages();
    p.button.by = ControlQuery::By::Value;
    p.button.text = "Free user";
    return p;
}

} // namespace

HosterProfile RapidShareProfile() {
    HosterProfile p = classicProfile("RapidShare", "rapidshare");
    p.link = {LinkSource::From::Cut, "action=\"http", "action=\"", "\" method", 162, false, {}, {}};
    return p;
}

HosterProfile FourSharedProfile() {
    HosterProfile p = classicProfile("4Shared", "4shared");
    // The anchor cut runs up to "onclick" and so keeps the attribute's closing quote and the
    // blanks in front of the next attribute; a link ending in them could never be fetched.
    p.link = {LinkSource::From::Cut, "A href=\"http", "A href=\"", "onclick", 162, true, {}, {}};
    return p;
}

} // namespace torvaline
