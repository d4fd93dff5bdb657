#pragma once

#include <cstdint>

namespace torvaline {

// Why an attempt failed, as far as the place that saw it knows; front ends turn it into codes
// of their own. The reason text stays the user's explanation.
enum class FailureCause : std::uint8_t {
    Other,
    NotFound,       // the server or the hoster says the file is not there
    TimeOut,        // nothing came for too long
    Network,        // no connection, or it broke
    DiskFull,       // the folder has no room for it
    Authorisation,  // the server wants credentials, or refuses them
    BadHttpAnswer,  // an HTTP status or answer a transfer cannot use
    NameRefused,    // a name or path that may not be written (it could leave its folder, hide
                    // its real name, or is no name at all)
    PageUnreadable, // a page that does not say what it must (a captcha nobody could read)
    Stopped         // the user or the program's end stopped it before it was done
};

} // namespace torvaline
