#pragma once

#include <string>

namespace torvaline {

// A form submission as a browser sends it: the navigation a click on a submit control starts.
struct FormSubmission {
    std::string method; // "GET" or "POST"
    std::string url;    // absolute; for GET the form data is already in its query
    std::string body;   // POST only
    std::string contentType;
    std::string target; // the browsing context the form names; empty for the same one
};

} // namespace torvaline
