#pragma once

#include "platform/TransferFacility.h"

#include <cstdint>
#include <string>

namespace torvaline {

// The file name of a path as the transfer gives it (SavingPath, a saved path).
inline std::string fileNameOfPath(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the cycle needs of the download component: the two properties, the transfer flag
// (its Tag), Start and Stop. TDownloadFile is the real one; tests use a fake.
class DownloadComponent {
public:
    virtual ~DownloadComponent() = default;

    std::string UrlToDownload;
    std::string FileName;
    // Form data to post to UrlToDownload (its answer redirects to the file); empty: a GET.
    std::string PostData;
    // What the row asks to send with the transfer's requests; empty: nothing of its own.
    RequestOptions Request;
    // The cycle's transfer flag: 1 from the transfer's start event until the cycle advances.
    std::int32_t Tag = 0;

    // Set before Start to continue what an earlier attempt of the same row kept; the transfer
    // then owns that file (it appends to it or discards it). Empty for a first attempt.
    PartialFile Resume;
    // Where the running transfer saves the file, once it has chosen (the target, or a free
    // "name (N).ext" beside it); written by the component before its start and progress
    // events.
    std::string SavingPath;
    // Bytes of the file an earlier attempt brought, which the running transfer continues;
    // 0 when it started from the beginning. Written like SavingPath.
    std::uint64_t ResumedFrom = 0;
    // The running transfer's temporary file, once its first answer came (empty before), so
    // that the recovery file can name it: a crash leaves it for the next session to continue.
    // Written like SavingPath.
    PartialFile Keeping;
    // The figures of the newest progress event in bytes (the event has KiB), written just
    // before it; a component that does not keep them leaves them 0.
    std::uint64_t ReceivedBytes = 0;
    std::uint64_t ExpectedBytes = 0;

    virtual void Start() = 0;
    virtual void Stop() = 0;
    // Stops the running transfer like Stop, but its result keeps the partial file (when the
    // server named the version) for a later Start to continue through Resume.
    virtual void Pause() { Stop(); }
    // Removes a partial file an attempt kept, when no attempt will continue it.
    virtual void DiscardPartial(const PartialFile& partial) = 0;
};

} // namespace torvaline
