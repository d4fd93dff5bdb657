#pragma once

#include <cstdint>
#include <string>

namespace torvaline {

enum class TransferOutcome { Succeeded, Failed, Cancelled };

struct TransferResult {
    TransferOutcome outcome = TransferOutcome::Failed;
    std::string reason; // readable, for the user; empty on success
};

// Notifications of one transfer, made on the thread that runs it.
class TransferCallback {
public:
    virtual ~TransferCallback() = default;
    virtual void onStart() = 0;
    // Bytes received so far and bytes expected (0 while unknown). Return false to abort.
    virtual bool onProgress(std::uint64_t received, std::uint64_t expected) = 0;
    virtual void onStop(const TransferResult& result) = 0;
};

// One blocking URL-to-file transfer on the calling thread. Implementations are used from
// several worker threads at once, one transfer per call.
class TransferFacility {
public:
    virtual ~TransferFacility() = default;
    virtual TransferResult transfer(const std::string& url, const std::string& targetPath,
                                    TransferCallback& callback) = 0;
};

} // namespace torvaline
