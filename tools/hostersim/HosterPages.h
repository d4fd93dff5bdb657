#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The HTML of the emulator's pages. The message texts are the hosters' own, to the character:
// the program recognises them in the page text.
namespace hostersim::pages {

std::string htmlEscape(const std::string& text);
// Percent-encodes everything but unreserved characters, for names placed in paths.
std::string pathEscape(const std::string& text);

// The link's first page: the "Free user" and "Premium user" buttons in a form posting to
// `action` (relative). With a non-empty `message` the page shows that instead of the form.
std::string firstPage(const std::string& name, std::uint64_t size, const std::string& action,
                      const std::string& message);
// A page that shows one message of the hoster, e.g. a wait.
std::string messagePage(const std::string& name, const std::string& message);
// The countdown page; an empty `fileUrl` leaves the download form out.
std::string countdownPage(const std::string& name, int countdown, const std::string& fileUrl);
// The second hoster's page: the countdown script and the download anchor.
std::string fourSharedPage(const std::string& name, int countdown, const std::string& fileUrl);

// The heaviest pages for a browser that fit in `size` bytes, each ending in a form with the
// "Free user" button. `depth` DIVs nested inside one another, again and again:
std::string nestedPage(std::size_t depth, std::size_t size);
// A FORM start tag inside a table (the parser leaves it empty but gives it every control that
// follows), then as many inputs as fit:
std::string tableFormsPage(std::size_t size);
// One form with as many radio buttons of one group as fit, each captioned "Free user":
std::string radiosPage(std::size_t size);

// The message of a wait scenario, or the empty text for a scenario without one.
std::string waitMessage(const std::string& scenario, int minutes);

inline constexpr const char* kNotFound =
    "The file could not be found. Please check the download link.";
inline constexpr const char* kIllegal =
    "This file is suspected to contain illegal content and has been blocked.";

} // namespace hostersim::pages
