#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/FailureCause.h"
#include "platform/RequestOptions.h"

namespace torvaline {

enum class TransferOutcome { Succeeded, Failed, Cancelled };

// What a failed attempt kept of the file, so that a later attempt of the same row can ask for
// the rest instead of starting over. An empty path means nothing was kept.
struct PartialFile {
    std::string path;        // the temporary file the transfer itself created
    std::uint64_t size = 0;  // bytes in it
    std::uint64_t total = 0; // the full size the server announced; 0 when unknown
    std::string validator;   // the first answer's ETag, else its Last-Modified; may be empty
    bool empty() const { return path.empty(); }
};

struct TransferResult {
    TransferResult() = default;
    TransferResult(TransferOutcome o, std::string why)
        : outcome(o)
        , reason(std::move(why)) {}

    TransferOutcome outcome = TransferOutcome::Failed;
    std::string reason; // readable, for the user; empty on success
    FailureCause cause = FailureCause::Other;
    // A failure that may go away by itself (connection refused, reset or cut, a stalled body,
    // a time-out, HTTP 5xx, 408 or 429): worth another attempt with a fresh link.
    bool transient = false;
    // The server's Retry-After, when it sent one; zero otherwise.
    std::chrono::seconds retryAfter{0};
    // Kept only for a transient failure that had received data.
    PartialFile partial;
    // On success, the file the data was saved under: the target asked for, or the first free
    // "name (N).ext" beside it when that name was taken, and the bytes it holds.
    std::string savedPath;
    std::uint64_t savedBytes = 0;
};

// Notifications of one transfer, made on the thread that runs it.
class TransferCallback {
public:
    virtual ~TransferCallback() = default;
    virtual void onStart() = 0;
    // Bytes received so far and bytes expected (0 while unknown). Return false to abort.
    virtual bool onProgress(std::uint64_t received, std::uint64_t expected) = 0;
    virtual void onStop(const TransferResult& result) = 0;
    // The file the data will be saved under (the target asked for, or a free name beside it
    // when that one is taken), told once it is chosen, before the start notification when the
    // choice comes first (the start's handler then names the file as it is saved).
    virtual void onSaving(const std::string& path) { (void)path; }
    // The server let the transfer continue a kept partial file from `offset` bytes: the
    // progress that follows counts those bytes in, though they did not come in this attempt.
    virtual void onResumed(std::uint64_t offset) { (void)offset; }
    // The temporary file the data goes into and what identifies its content (the total
    // announced, the validator), told once the answer that decides them came: a crash from
    // then on leaves a file a later session may continue. `size` is not kept up to date.
    virtual void onPartial(const PartialFile& partial) { (void)partial; }
    // Asked once a transfer was aborted through onProgress: true when the abort is a pause,
    // whose partial file the result keeps for a later attempt to continue.
    virtual bool keepOnAbort() const { return false; }
};

// One blocking URL-to-file transfer on the calling thread. Implementations are used from
// several worker threads at once, one transfer per call.
class TransferFacility {
public:
    virtual ~TransferFacility() = default;
    // `resume`, when not empty, is what an earlier attempt of the same file kept: the
    // transfer asks for the rest and appends it only when the server's answer provably
    // continues that file; otherwise it starts over. Either way the transfer owns the file.
    virtual TransferResult transfer(const std::string& url, const std::string& targetPath,
                                    const PartialFile& resume, TransferCallback& callback) = 0;
    TransferResult transfer(const std::string& url, const std::string& targetPath,
                            TransferCallback& callback) {
        return transfer(url, targetPath, PartialFile{}, callback);
    }
    // The same, but `postData` (form data, URL-encoded) is posted to `url`, whose answer
    // redirects to the file: how some hosters hand out their links. A facility that cannot
    // post fails the transfer.
    virtual TransferResult transferPost(const std::string& url, const std::string& postData,
                                        const std::string& targetPath, const PartialFile& resume,
                                        TransferCallback& callback) {
        (void)url, (void)postData, (void)targetPath, (void)resume;
        TransferResult result(TransferOutcome::Failed, "This transfer cannot post a form.");
        callback.onStop(result);
        return result;
    }
    // Either of the two, with what the row asks to send besides (RequestOptions): a facility
    // that sends nothing of it runs the plain transfer.
    virtual TransferResult transferWith(const RequestOptions& options, const std::string& url,
                                        const std::string& postData, const std::string& targetPath,
                                        const PartialFile& resume, TransferCallback& callback) {
        (void)options;
        return postData.empty() ? transfer(url, targetPath, resume, callback)
                                : transferPost(url, postData, targetPath, resume, callback);
    }
    // Removes a kept partial file that no attempt will continue: only a regular file of the
    // transfer's own temporary naming, never a link or anything else under that path.
    virtual void discardPartial(const PartialFile& partial) = 0;
    // The most bytes a second all transfers together receive, 0 for no limit. Callable from
    // any thread; a running transfer takes a new limit up within a second.
    virtual void setSpeedLimit(std::uint64_t bytesPerSecond) { (void)bytesPerSecond; }
    virtual std::uint64_t speedLimit() const { return 0; }
};

} // namespace torvaline
