#pragma once

#include "pages/HosterProfile.h"

#include <ostream>
#include <string>
#include <vector>

namespace torvaline {

// What a profile made of one page: what it did, and with what.
struct PageOutcome {
    // "missing", "wait", "countdown", "limit", "button", "none"; with steps also "link" (a
    // direct link at once), "follow" (the next page's address) and "failed"
    std::string reaction;
    int wait = -1; // seconds of a wait or a countdown
    std::string link;
    std::string name;
    // The file's name as the page gives it, when the profile says where (`name` is the one
    // cut with the direct link).
    std::string pageName;
    std::string size;     // as the page gives it, when the profile says where
    long long bytes = -1; // the size read, in bytes; -1: none or unreadable
    // What the page says of the file as an archive part, as a row would keep it: empty when
    // it says nothing (or nothing that is a password, a checksum).
    std::string password;
    std::string checksum;
    std::string step;    // the step of the profile that acted, if any
    std::string failure; // a number or a page that could not be read
};

// Runs the profile's page handling on one page offline, as a row of that hoster would meet
// it: parsed once, its text through the messages, its forms for the button and the link.
PageOutcome RunProfileOnPage(const HosterProfile& profile, const std::string& html,
                             const std::string& url);

// Every canned page of every profile, one line each and a summary; true when all hold and
// nothing was refused.
bool CheckHosters(const std::vector<HosterProfile>& profiles,
                  const std::vector<std::string>& problems, std::ostream& out);

} // namespace torvaline
