#pragma once

#include "archive/PackageGrouping.h"
#include "platform/Result.h"

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

// What an extraction made. A failure leaves nothing of it: the set's folder is taken away
// again, and the reason reads as the row and the notice show it ("Extract: wrong password").
struct Extracted {
    std::string folder; // the set's folder
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
// folder; after a failure what it wrote is taken away and the parts are never touched. The
// failure's cause: DiskFull for a disk without room, NameRefused for a set's name that cannot
// be a folder, Stopped for a stop request, Authorisation for a wrong or missing password.
class ArchiveExtractor final {
public:
    using Progress = std::function<void(const ExtractProgress&)>;
    static Result<Extracted> extract(const ExtractRequest& request, std::stop_token stop = {},
                                     const Progress& progress = {});
};

} // namespace torvaline
