#pragma once

#include <atomic>
#include <string>

namespace torvaline {

// What one look at a link's first answer found: a page to read, a file, or why neither.
struct LinkAnswer {
    std::string url;   // after redirects
    std::string body;  // the page, when error is empty and it is not a file
    std::string error; // why there is nothing to read
    long status = 0;   // the final HTTP status; 0 when none came
    bool aborted = false;
    // The answer was a file (a direct link): what its headers call it, unchecked, and its
    // announced size, -1 when none was. Its body is not read.
    bool directFile = false;
    std::string fileName;
    long long fileSize = -1;
};

// Fetches a link's first answer, as the link check needs it, without pressing anything.
// Blocking: it is called on a worker thread, by several at once, and ends early once `abort`
// is set.
class LinkProbe {
public:
    virtual ~LinkProbe() = default;
    virtual LinkAnswer fetch(const std::string& link, const std::atomic<bool>& abort) = 0;
};

} // namespace torvaline
