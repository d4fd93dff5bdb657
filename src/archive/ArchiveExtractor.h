#pragma once

#include "archive/PackageGrouping.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace torvaline {

// Bounds on what one package may unpack to: an archive of a few kilobytes can claim terabytes.
struct ExtractLimits {
    double mostRatio = 1000;                     // unpacked bytes per packed byte ...
    std::uint64_t ratioFreeBytes = 256ull << 20; // ... asked only above this much
    std::uint64_t keepFreeBytes = 64ull << 20;   // left free on the disk
    std::uint64_t mostEntries = 1000000;
};

struct ExtractRequest {
    ArchivePackage package;
    std::string partsFolder;            // where the package's parts are
    std::string baseFolder;             // the set's own folder is made under it
    std::vector<std::string> passwords; // tried in turn
    ExtractLimits limits;
};

struct ExtractProgress {
    std::uint64_t packedRead = 0;
    std::uint64_t packedTotal = 0;
    std::uint64_t unpacked = 0;
    std::uint64_t entries = 0;
};

struct ExtractResult {
    bool ok = false;
    // Why it failed, as the row and the notice show it: "Extract: wrong password", ...
    std::string reason;
    std::string folder; // the set's folder; taken away again after a failure
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::uint64_t packedBytes = 0;
    // Entries left out ("\"../x\": a path leaving the folder"), the first MostReasons of them.
    std::uint64_t skipped = 0;
    std::vector<std::string> skippedReasons;
    static constexpr std::size_t MostReasons = 20;
};

// Extracts one package with libarchive into a folder named after the set. A blocking call for
// a worker thread: it shares nothing, reports progress through the callback (on the worker)
// and stops at the next block once a stop is requested. Nothing is written outside the set's
// folder; after a failure what it wrote is taken away and the parts are never touched.
class ArchiveExtractor final {
public:
    using Progress = std::function<void(const ExtractProgress&)>;
    static ExtractResult extract(const ExtractRequest& request, std::stop_token stop = {},
                                 const Progress& progress = {});
};

} // namespace torvaline
